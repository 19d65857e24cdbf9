// SPDX-License-Identifier: MIT
// The one thread every reader opens its file on and reports the open from.
// Like the platform's, a reader reports its open from a thread of its own, not
// the caller's; sharing one such thread among all readers keeps a file query
// (open, read the header, close) from paying for a new thread each time. A
// reader makes its own worker thread only when it first plays.
#pragma once

#include <functional>

namespace ffsdk {

// Runs `job` on the shared thread, after every job posted before it. The
// thread is made when a job comes and none runs, and ends after a quarter of
// a second without work. Throws std::bad_alloc or std::system_error when the
// job cannot be posted; it then never runs.
void RunOnOpenThread(std::function<void()> job);

}  // namespace ffsdk
