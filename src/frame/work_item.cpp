// SPDX-License-Identifier: MIT
#include "work_item.h"

#include <new>
#include <utility>

#include "platform.h"

namespace mervane {

struct ReservedWork::Item {
    WorkFunction work;
    void* context;
    PTP_WORK handle;
    HMODULE module;  // a reference of the item's own to this library (Windows)
};

namespace {

using Item = ReservedWork::Item;

void CALLBACK RunWorkItem(PTP_CALLBACK_INSTANCE instance, void* parameter, PTP_WORK handle) {
    const Item item = *static_cast<Item*>(parameter);
    delete static_cast<Item*>(parameter);
    // The pool frees a work object closed from its own callback once the
    // callback has returned.
    CloseThreadpoolWork(handle);
    item.work(item.context);
    // The pool drops the item's reference to the library only after this
    // function has returned, so a host that unloaded the library from inside
    // the work does not pull the code out from under it.
    if (item.module != nullptr) FreeLibraryWhenCallbackReturns(instance, item.module);
}

// Why the system call just made failed.
HRESULT LastError() {
    const DWORD error = GetLastError();
    return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

}  // namespace

HRESULT ReservedWork::Reserve(WorkFunction work, void* context) {
    Release();
    auto* item = new (std::nothrow) Item{work, context, nullptr, nullptr};
    if (item == nullptr) return E_OUTOFMEMORY;
#ifdef _WIN32
    // Takes a reference to the module that holds this code.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&RunWorkItem), &item->module)) {
        const HRESULT hr = LastError();
        delete item;
        return hr;
    }
#endif
    item->handle = CreateThreadpoolWork(&RunWorkItem, item, nullptr);
    if (item->handle == nullptr) {
        const HRESULT hr = LastError();
#ifdef _WIN32
        FreeLibrary(item->module);
#endif
        delete item;
        return hr;
    }
    item_ = item;
    return S_OK;
}

void ReservedWork::Submit() {
    // From here on the item belongs to the pool.
    if (Item* item = std::exchange(item_, nullptr)) SubmitThreadpoolWork(item->handle);
}

void ReservedWork::Release() {
    Item* item = std::exchange(item_, nullptr);
    if (item == nullptr) return;
    CloseThreadpoolWork(item->handle);
#ifdef _WIN32
    FreeLibrary(item->module);
#endif
    delete item;
}

}  // namespace mervane
