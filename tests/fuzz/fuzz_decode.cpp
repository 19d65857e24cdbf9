// SPDX-License-Identifier: MIT
// A full decode on the user's clock of any bytes: never a crash, blocks only
// between the start and the one end call, and the end call within a bound.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "fuzz_support.h"
#include "mervane.h"

namespace {

std::mutex mutex;
std::condition_variable ended;
bool running = false;
int endCalls = 0;
volatile uint32_t checksum = 0;

int32_t MERVANE_CALL Take(const void* data, uint32_t byteCount, uint32_t) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!running) fuzz::Fail("a decode called back after its end call");
    if (data == nullptr && byteCount == 0) {
        running = false;
        ++endCalls;
        ended.notify_all();
        return 0;
    }
    if (data == nullptr) fuzz::Fail("a block with bytes but no data");
    // Every byte is read, so the sanitizer sees a block that is not all there.
    uint32_t sum = 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (uint32_t i = 0; i < byteCount; ++i) sum += bytes[i];
    checksum = checksum + sum;
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = fuzz::WriteScratch(data, size);
    {
        std::lock_guard<std::mutex> lock(mutex);
        running = true;
        endCalls = 0;
    }
    // Some inputs start at a position, from the input's length.
    const uint32_t startMs = static_cast<uint32_t>(size % 3) * 150;
    if (GoGoGoReader(path, startMs, 1, Take) != 1) {
        std::lock_guard<std::mutex> lock(mutex);
        if (endCalls != 0) fuzz::Fail("a decode that did not start made an end call");
        running = false;
        return 0;
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (!ended.wait_for(lock, std::chrono::seconds(30), [] { return endCalls > 0; }))
        fuzz::Fail("no end call within 30 s");
    return 0;
}
