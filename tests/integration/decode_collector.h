// SPDX-License-Identifier: MIT
// Collects what a decode hands to the host's SampleCallback, for tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "mervane.h"

class DecodeCollector {
  public:
    struct Result {
        std::vector<int16_t> pcm;
        std::vector<uint32_t> times;
        std::vector<size_t> starts;  // where each block begins in pcm
        int blocks = 0;
        int endCalls = 0;
        int callsAfterEnd = 0;
        bool started = false;  // GoGoGoReader returned 1 (set by Decode)
    };

    static DecodeCollector& Instance() {
        static DecodeCollector collector;
        return collector;
    }
    static int32_t MERVANE_CALL Callback(const void* data, uint32_t bytes, uint32_t timeMs) {
        return Instance().Take(data, bytes, timeMs);
    }

    // Empties the collector for the next decode. A call that came after the
    // previous decode's end call, however late, fails the test here: no wait
    // after an end call is long enough to prove there is none.
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        EXPECT_EQ(got_.callsAfterEnd, 0) << "a decode called the host after its end call";
        got_ = Result();
    }
    // Waits (bounded) for the end call; false if it did not come in time.
    bool WaitForEnd(std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return got_.endCalls > 0; });
    }
    // Waits (bounded) until at least `count` blocks arrived.
    bool WaitForBlocks(int count, std::chrono::seconds limit = std::chrono::seconds(30)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit,
                                 [&] { return got_.blocks >= count || got_.endCalls > 0; });
    }
    // A copy of what arrived so far.
    Result Snapshot() {
        std::lock_guard<std::mutex> lock(mutex_);
        return got_;
    }

    // A whole decode of `path` from `startMs` on the library's clock, through
    // `callback` (which passes on to Callback): what arrived up to the end call.
    static Result Decode(const std::string& path, uint32_t startMs = 0,
                         SampleCallback callback = Callback) {
        DecodeCollector& c = Instance();
        c.Reset();
        const bool started = GoGoGoReader(path.c_str(), startMs, 1, callback) == 1;
        EXPECT_TRUE(!started || c.WaitForEnd()) << path << " from " << startMs << " ms";
        Result r = c.Snapshot();
        r.started = started;
        return r;
    }

  private:
    int32_t Take(const void* data, uint32_t bytes, uint32_t timeMs) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (got_.endCalls > 0) ++got_.callsAfterEnd;
        if (data == nullptr && bytes == 0 && timeMs == 0) {
            ++got_.endCalls;
        } else {
            ++got_.blocks;
            got_.times.push_back(timeMs);
            got_.starts.push_back(got_.pcm.size());
            const size_t old = got_.pcm.size();
            got_.pcm.resize(old + bytes / 2);
            std::memcpy(got_.pcm.data() + old, data, bytes / 2 * 2);
        }
        changed_.notify_all();
        return 0;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    Result got_;
};
