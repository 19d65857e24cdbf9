// SPDX-License-Identifier: MIT
// Linux stand-ins for the few Win32 kernel and COM services the library uses.
// Types have their Win32 sizes (LONG and DWORD are 32-bit, WCHAR is UTF-16),
// CP_ACP is UTF-8, and COM initialisation is a no-op.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using BOOL = int32_t;
using LONGLONG = int64_t;
using HRESULT = int32_t;
using WCHAR = char16_t;
using LPCWSTR = const WCHAR*;
using LPWSTR = WCHAR*;
using LPCSTR = const char*;
using LPSTR = char*;
using HANDLE = void*;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define STDMETHODCALLTYPE
#define WINAPI
#define CALLBACK

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using IID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;

inline bool operator==(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator!=(const GUID& a, const GUID& b) {
    return !(a == b);
}
inline bool IsEqualGUID(const GUID& a, const GUID& b) {
    return a == b;
}

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

  protected:
    ~IUnknown() = default;
};

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define HRESULT_FROM_WIN32(x) \
    ((HRESULT)(x) <= 0 ? (HRESULT)(x) : (HRESULT)(((x)&0x0000FFFF) | 0x80070000))

// Code pages and conversion.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

// Multi-byte (UTF-8) to UTF-16. srcLen -1 means "up to and including the terminator".
// Returns the number of WCHARs written (or needed when dstLen is 0); 0 on failure,
// with GetLastError telling why. Malformed input becomes U+FFFD, as Windows does
// without MB_ERR_INVALID_CHARS; with that flag (the only one taken) it fails
// with ERROR_NO_UNICODE_TRANSLATION.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, WCHAR* dst,
                        int dstLen);
// UTF-16 to UTF-8. Unpaired surrogates become the replacement character U+FFFD.
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* src, int srcLen, char* dst,
                        int dstLen, const char* defaultChar, BOOL* usedDefaultChar);

DWORD GetLastError();
void SetLastError(DWORD error);

// Events (manual- or auto-reset), waits and handles.
constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
HANDLE CreateEventA(void* securityAttributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL CloseHandle(HANDLE handle);

LONG InterlockedIncrement(LONG volatile* addend);
LONG InterlockedDecrement(LONG volatile* addend);

// The system thread pool's work objects. Each work object has a thread of its
// own, started when the object is made, so that a submission never lacks one:
// CreateThreadpoolWork fails (null) when no thread can be had. The thread runs
// the callback once per submission (this stand-in takes one) and ends when the
// object is closed; an object closed from inside its callback, or while a
// submission is pending, goes once the callback has returned. The library is
// linked so that it is never unloaded from the process (-z nodelete), so
// keeping the module loaded while a callback runs needs no reference here.
struct TP_CALLBACK_INSTANCE;
struct TP_CALLBACK_ENVIRON;
struct TP_WORK;
using PTP_CALLBACK_INSTANCE = TP_CALLBACK_INSTANCE*;
using PTP_CALLBACK_ENVIRON = TP_CALLBACK_ENVIRON*;
using PTP_WORK = TP_WORK*;
using PTP_WORK_CALLBACK = void (*)(PTP_CALLBACK_INSTANCE instance, void* context, PTP_WORK work);
using HMODULE = void*;
PTP_WORK CreateThreadpoolWork(PTP_WORK_CALLBACK callback, void* context,
                              PTP_CALLBACK_ENVIRON environment);
void SubmitThreadpoolWork(PTP_WORK work);
void CloseThreadpoolWork(PTP_WORK work);
void FreeLibraryWhenCallbackReturns(PTP_CALLBACK_INSTANCE instance, HMODULE module);

// COM per-thread initialisation has nothing to do here.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
