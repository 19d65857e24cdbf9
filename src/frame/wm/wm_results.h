// SPDX-License-Identifier: MIT
// Result codes of the platform that the library and the Linux Format SDK
// stand-in tell apart or return, under the platform's own names. The generic COM
// codes (S_OK, E_FAIL, E_POINTER, ...) come from the platform headers.
#pragma once

#include <cerrno>

#include "platform.h"

namespace wm {

constexpr HRESULT ResultCode(uint32_t code) {
    return static_cast<HRESULT>(code);
}

// Win32 errors carried as HRESULTs (HRESULT_FROM_WIN32).
constexpr HRESULT E_FILE_NOT_FOUND = ResultCode(0x80070002u);     // ERROR_FILE_NOT_FOUND
constexpr HRESULT E_PATH_NOT_FOUND = ResultCode(0x80070003u);     // ERROR_PATH_NOT_FOUND
constexpr HRESULT E_ACCESS_DENIED = ResultCode(0x80070005u);      // ERROR_ACCESS_DENIED
constexpr HRESULT E_DISK_FULL = ResultCode(0x80070070u);          // ERROR_DISK_FULL
constexpr HRESULT E_POSSIBLE_DEADLOCK = ResultCode(0x8007046Bu);  // ERROR_POSSIBLE_DEADLOCK
constexpr HRESULT E_TIMEOUT = ResultCode(0x800705B4u);            // ERROR_TIMEOUT

// Format SDK (NS_E_...) and ASF (ASF_E_...) results.
constexpr HRESULT NS_E_FILE_WRITE = ResultCode(0xC00D0018u);
constexpr HRESULT NS_E_FILE_READ = ResultCode(0xC00D0019u);
constexpr HRESULT NS_E_FILE_NOT_FOUND = ResultCode(0xC00D001Au);
constexpr HRESULT NS_E_FILE_OPEN_FAILED = ResultCode(0xC00D001Du);
constexpr HRESULT NS_E_INVALID_REQUEST = ResultCode(0xC00D002Bu);
constexpr HRESULT NS_E_NO_STREAM = ResultCode(0xC00D0033u);
// A buffer given for a media type is too small.
constexpr HRESULT ASF_E_BUFFERTOOSMALL = ResultCode(0xC00D07D2u);
// GetAttributeByName reports an absent attribute with this result and length 0.
constexpr HRESULT ASF_E_NOTFOUND = ResultCode(0xC00D07F0u);
constexpr HRESULT NS_E_INVALID_INPUT_FORMAT = ResultCode(0xC00D0BB8u);
// The file is DRM-protected and the reader holds no licence to play it.
constexpr HRESULT NS_E_PROTECTED_CONTENT = ResultCode(0xC00D0BBDu);
constexpr HRESULT NS_E_AUDIO_CODEC_NOT_INSTALLED = ResultCode(0xC00D0BC2u);
// A buffer given for an attribute's name or value is too small.
constexpr HRESULT NS_E_SDK_BUFFERTOOSMALL = ResultCode(0xC00D0BD4u);
constexpr HRESULT NS_E_ATTRIBUTE_READ_ONLY = ResultCode(0xC00D0BD6u);

// The platform's result for a file operation that failed with errno `error`,
// as its kernel reports the same failure. A missing file or folder on a path
// being written is a path not found; an interface whose own result for a
// missing file differs (the reader's Open, the editor's) says so itself.
inline HRESULT ResultFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return E_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return E_ACCESS_DENIED;
        case ENOSPC:
        case EFBIG:
            return E_DISK_FULL;
        case ENOMEM:
            return E_OUTOFMEMORY;
        default:
            return E_FAIL;
    }
}

}  // namespace wm
