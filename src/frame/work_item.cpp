// SPDX-License-Identifier: MIT
#include "work_item.h"

#include <new>

#include "platform.h"

namespace mervane {

namespace {

struct WorkItem {
    WorkFunction work;
    void* context;
    HMODULE module;  // a reference of the item's own to this library (Windows)
};

void CALLBACK RunWorkItem(PTP_CALLBACK_INSTANCE instance, void* parameter) {
    WorkItem item = *static_cast<WorkItem*>(parameter);
    delete static_cast<WorkItem*>(parameter);
    item.work(item.context);
    // The pool drops the item's reference to the library only after this
    // function has returned, so a host that unloaded the library from inside
    // the work does not pull the code out from under it.
    if (item.module != nullptr) FreeLibraryWhenCallbackReturns(instance, item.module);
}

}  // namespace

bool SubmitWork(WorkFunction work, void* context) {
    auto* item = new (std::nothrow) WorkItem{work, context, nullptr};
    if (item == nullptr) return false;
#ifdef _WIN32
    // Takes a reference to the module that holds this code.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&RunWorkItem), &item->module)) {
        delete item;
        return false;
    }
#endif
    if (!TrySubmitThreadpoolCallback(&RunWorkItem, item, nullptr)) {
#ifdef _WIN32
        FreeLibrary(item->module);
#endif
        delete item;
        return false;
    }
    return true;
}

}  // namespace mervane
