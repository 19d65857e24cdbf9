// SPDX-License-Identifier: MIT
// Work that must not run on the thread that asks for it: the Format SDK's
// reader cannot be closed or released on its own callback thread (it would stop
// that thread and wait for it, i.e. for itself), so the end of a decode is
// handed to a thread of the system's pool.
//
// The work is reserved before it is needed: Reserve obtains all it takes (a
// pool work object, and on Linux the thread that will run it), so that Submit,
// which comes at a moment when nothing may fail, cannot fail.
#pragma once

#include "platform.h"

namespace mervane {

using WorkFunction = void (*)(void* context);

class ReservedWork {
  public:
    ReservedWork() = default;
    // A reservation still held is left as it is: at unload the pool may be
    // gone already.
    ~ReservedWork() = default;
    ReservedWork(const ReservedWork&) = delete;
    ReservedWork& operator=(const ReservedWork&) = delete;

    // Reserves work(context), to run once when submitted. Fails, with nothing
    // held, when the pool cannot take it (E_OUTOFMEMORY, or the system's
    // reason); a reservation held is released first.
    HRESULT Reserve(WorkFunction work, void* context);
    // Runs the reserved work once on a pool thread; the reservation is used
    // up. While the work runs the library stays loaded, even if the host
    // unloads it from inside the work (for example from the end call of a
    // decode). Does nothing without a reservation.
    void Submit();
    // Gives back a reservation that was not submitted.
    void Release();

    struct Item;  // opaque: what the pool runs

  private:
    Item* item_ = nullptr;
};

}  // namespace mervane
