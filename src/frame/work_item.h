// SPDX-License-Identifier: MIT
// Work that must not run on the thread that asks for it: the Format SDK's
// reader cannot be closed or released on its own callback thread (it would stop
// that thread and wait for it, i.e. for itself), so the end of a decode is
// handed to a thread of the system's pool.
#pragma once

namespace mervane {

using WorkFunction = void (*)(void* context);

// Runs work(context) once on a pool thread. While the work runs the library
// stays loaded, even if the host unloads it from inside the work (for example
// from the end call of a decode). Returns false if the work could not be queued;
// it then never runs.
bool SubmitWork(WorkFunction work, void* context);

}  // namespace mervane
