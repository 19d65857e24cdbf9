// SPDX-License-Identifier: MIT
#include "open_thread.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace ffsdk {

namespace {

// How long the thread waits for more work before it ends: long enough to
// serve a burst of file queries (a library scan) without a new thread each,
// short enough that an idle process keeps no thread of ours.
constexpr auto kIdleLife = std::chrono::milliseconds(250);

class OpenThread {
  public:
    OpenThread() {
        // A child made by fork has none of the parent's threads: it starts
        // over with no open thread and none of the parent's waiting jobs
        // (their callers do not exist in it). Its lock and condition are made
        // anew, since the parent's may hold waiters that do not exist either;
        // what the parent's held is left, not freed.
        pthread_atfork([] { Instance().mutex_->lock(); }, [] { Instance().mutex_->unlock(); },
                       [] {
                           OpenThread& self = Instance();
                           self.mutex_ = new std::mutex;
                           self.ready_ = new std::condition_variable;
                           self.jobs_ = new std::deque<std::function<void()>>;
                           self.running_ = false;
                       });
    }

    static OpenThread& Instance() {
        // Made once and never destroyed: no exit-time destructor can run
        // while the thread waits on it.
        static OpenThread* const thread = new OpenThread;
        return *thread;
    }

    void Post(std::function<void()> job) {
        std::lock_guard<std::mutex> lock(*mutex_);
        jobs_->push_back(std::move(job));
        if (!running_) {
            try {
                // Never joined: it ends by itself once idle, and the process
                // may end while a job waits in a host's callback.
                std::thread(&OpenThread::Run, this).detach();
            } catch (...) {
                jobs_->pop_back();
                throw;
            }
            running_ = true;
        }
        ready_->notify_one();
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> lock(*mutex_);
        for (;;) {
            if (!ready_->wait_for(lock, kIdleLife, [&] { return !jobs_->empty(); })) {
                running_ = false;  // the next Post makes a new thread
                return;
            }
            std::function<void()> job = std::move(jobs_->front());
            jobs_->pop_front();
            lock.unlock();
            job();
            job = nullptr;  // what the job held goes before the next wait
            lock.lock();
        }
    }

    std::mutex* mutex_ = new std::mutex;
    std::condition_variable* ready_ = new std::condition_variable;
    std::deque<std::function<void()>>* jobs_ = new std::deque<std::function<void()>>;
    bool running_ = false;
};

}  // namespace

void RunOnOpenThread(std::function<void()> job) {
    OpenThread::Instance().Post(std::move(job));
}

}  // namespace ffsdk
