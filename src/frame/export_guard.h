// SPDX-License-Identifier: MIT
// The outermost layer of every export: the host is C code that cannot catch
// a C++ exception, so nothing thrown inside (an allocation that failed, say)
// may reach it. The whole body runs inside; what escapes becomes the export's
// failure result.
#pragma once

namespace mervane {

template <typename Result, typename Body>
Result GuardExport(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// For an export without a result.
template <typename Body>
void GuardExport(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

}  // namespace mervane
