// SPDX-License-Identifier: MIT
#include "open_thread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace ffsdk {

namespace {

class OpenThread {
  public:
    void Post(std::function<void()> job) {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
        if (!started_) {
            // Never joined: the process may end while a job waits in a host's
            // callback, and the thread must not outlive what it runs on.
            std::thread(&OpenThread::Run, this).detach();
            started_ = true;
        }
        ready_.notify_one();
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ready_.wait(lock, [&] { return !jobs_.empty(); });
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            job = nullptr;  // what the job held goes before the next wait
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    bool started_ = false;
};

}  // namespace

void RunOnOpenThread(std::function<void()> job) {
    // Made once and never destroyed: no exit-time destructor can run while
    // the thread waits on it.
    static OpenThread* const thread = new OpenThread;
    thread->Post(std::move(job));
}

}  // namespace ffsdk
