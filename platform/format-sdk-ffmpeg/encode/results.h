// HRESULT values the FFmpeg-backed Format SDK core returns. The core has no
// COM types, so results travel as int32_t with the platform's numbering.
#pragma once

#include <cerrno>
#include <cstdint>

namespace ffsdk {

constexpr int32_t kS_OK = 0;
constexpr int32_t kE_FAIL = static_cast<int32_t>(0x80004005u);
constexpr int32_t kE_POINTER = static_cast<int32_t>(0x80004003u);
constexpr int32_t kE_INVALIDARG = static_cast<int32_t>(0x80070057u);
constexpr int32_t kE_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
constexpr int32_t kE_UNEXPECTED = static_cast<int32_t>(0x8000FFFFu);
// HRESULT_FROM_WIN32 of ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_DISK_FULL.
constexpr int32_t kE_PATH_NOT_FOUND = static_cast<int32_t>(0x80070003u);
constexpr int32_t kE_ACCESS_DENIED = static_cast<int32_t>(0x80070005u);
constexpr int32_t kE_DISK_FULL = static_cast<int32_t>(0x80070070u);
// Format SDK results.
constexpr int32_t kNS_E_INVALID_REQUEST = static_cast<int32_t>(0xC00D002Bu);
constexpr int32_t kNS_E_INVALID_INPUT_FORMAT = static_cast<int32_t>(0xC00D0BB8u);
constexpr int32_t kNS_E_AUDIO_CODEC_NOT_INSTALLED = static_cast<int32_t>(0xC00D0BC2u);

// The result for a failed file operation's errno value.
inline int32_t ResultFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return kE_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return kE_ACCESS_DENIED;
        case ENOSPC:
        case EFBIG:
            return kE_DISK_FULL;
        case ENOMEM:
            return kE_OUTOFMEMORY;
        default:
            return kE_FAIL;
    }
}

}  // namespace ffsdk
