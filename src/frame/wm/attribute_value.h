// SPDX-License-Identifier: MIT
// The length rule of header attribute values, as IWMHeaderInfo hands them out
// and takes them: the library reads a tag's number by it, the stand-in
// refuses a value that breaks it and shows a stored one that breaks it as
// binary, as the platform does.
#pragma once

#include <cstddef>

#include "wmsdk.h"

namespace wm {

// The bytes a value of `type` always takes (a BOOL as the platform hands it
// out, 4 bytes); 0 for STRING and BINARY, whose length varies, and for a type
// the SDK does not define.
constexpr size_t FixedValueLength(WMT_ATTR_DATATYPE type) {
    switch (type) {
        case WMT_TYPE_DWORD:
        case WMT_TYPE_BOOL:
            return 4;
        case WMT_TYPE_QWORD:
            return 8;
        case WMT_TYPE_WORD:
            return 2;
        case WMT_TYPE_GUID:
            return 16;
        default:
            return 0;
    }
}

// Whether `length` bytes are a whole value of `type`: a fixed-length type's
// length exactly, whole UTF-16 units for a string, anything for binary; never
// for a type the SDK does not define.
constexpr bool IsValueLength(WMT_ATTR_DATATYPE type, size_t length) {
    if (type == WMT_TYPE_STRING) return length % 2 == 0;
    if (type == WMT_TYPE_BINARY) return true;
    return FixedValueLength(type) != 0 && length == FixedValueLength(type);
}

}  // namespace wm
