// SPDX-License-Identifier: MIT
// Collects what a decode hands to the host's SampleCallback, for tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "mervane.h"

class DecodeCollector {
  public:
    static DecodeCollector& Instance() {
        static DecodeCollector collector;
        return collector;
    }
    static int32_t MERVANE_CALL Callback(const void* data, uint32_t bytes, uint32_t timeMs) {
        return Instance().Take(data, bytes, timeMs);
    }

    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        pcm.clear();
        times.clear();
        blocks = 0;
        endCalls = 0;
        callsAfterEnd = 0;
    }
    // Waits (bounded) for the end call; false if it did not come in time.
    bool WaitForEnd(std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return ended_.wait_for(lock, limit, [this] { return endCalls > 0; });
    }
    // Waits (bounded) until at least `count` blocks arrived.
    bool WaitForBlocks(int count, std::chrono::seconds limit = std::chrono::seconds(30)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return ended_.wait_for(lock, limit, [&] { return blocks >= count || endCalls > 0; });
    }
    struct Result {
        std::vector<int16_t> pcm;
        std::vector<uint32_t> times;
        int blocks = 0;
        int endCalls = 0;
        int callsAfterEnd = 0;
    };
    // A copy of what arrived so far.
    Result Snapshot() {
        std::lock_guard<std::mutex> lock(mutex_);
        return {pcm, times, blocks, endCalls, callsAfterEnd};
    }

  private:
    std::vector<int16_t> pcm;
    std::vector<uint32_t> times;
    int blocks = 0;
    int endCalls = 0;
    int callsAfterEnd = 0;

  private:
    int32_t Take(const void* data, uint32_t bytes, uint32_t timeMs) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (data == nullptr && bytes == 0 && timeMs == 0) {
            ++endCalls;
        } else {
            if (endCalls > 0) ++callsAfterEnd;
            ++blocks;
            times.push_back(timeMs);
            const size_t old = pcm.size();
            pcm.resize(old + bytes / 2);
            std::memcpy(pcm.data() + old, data, bytes / 2 * 2);
        }
        ended_.notify_all();
        return 0;
    }

    std::mutex mutex_;
    std::condition_variable ended_;
};
