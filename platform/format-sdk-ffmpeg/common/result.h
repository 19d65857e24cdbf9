// SPDX-License-Identifier: MIT
// The one result type of the stand-in's core (the parts below the COM
// objects: the ASF header, the encoder, the index writer). It carries the
// HRESULT a COM method returns for the failure, so the reason travels from
// where it is known to the COM boundary instead of being guessed there.
#pragma once

#include "platform.h"
#include "wm_results.h"

namespace ffsdk {

class [[nodiscard]] Result {
  public:
    // Implicit, so a core function returns an HRESULT constant as it is.
    constexpr Result(HRESULT code = S_OK) : code_(code) {}

    constexpr bool ok() const { return SUCCEEDED(code_); }
    constexpr explicit operator bool() const { return ok(); }
    constexpr HRESULT code() const { return code_; }

  private:
    HRESULT code_;
};

}  // namespace ffsdk
