// SPDX-License-Identifier: MIT
// Decode and encode throughput through the exports, with the process's peak
// resident memory reported as a counter (it must stay flat however long the file).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "mervane.h"

namespace {

constexpr int kSeconds = 60;
const std::string kFile = "/tmp/mervane-bench-60s.wma";

std::mutex g_mutex;
std::condition_variable g_ended;
bool g_done = false;
uint64_t g_bytes = 0;

int32_t MERVANE_CALL Sink(const void* data, uint32_t bytes, uint32_t timeMs) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (data == nullptr && bytes == 0 && timeMs == 0) {
        g_done = true;
        g_ended.notify_all();
    }
    g_bytes += bytes;
    return 0;
}

double PeakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

bool MakeInput() {
    static const bool made =
        std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                     "'sine=frequency=440:duration=" +
                     std::to_string(kSeconds) + "' -ac 2 -ar 44100 -c:a wmav2 -b:a 128k " + kFile)
                        .c_str()) == 0;
    return made;
}

void BM_DecodeUserClock(benchmark::State& state) {
    if (!MakeInput()) {
        state.SkipWithError("ffmpeg could not make the input");
        return;
    }
    for (auto _ : state) {
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_done = false;
            g_bytes = 0;
        }
        if (GoGoGoReader(kFile.c_str(), 0, 1, Sink) != 1) {
            state.SkipWithError("decode did not start");
            return;
        }
        std::unique_lock<std::mutex> lock(g_mutex);
        g_ended.wait(lock, [] { return g_done; });
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(g_bytes));
    state.counters["audio_s_per_s"] = benchmark::Counter(
        double(kSeconds) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["peak_rss_MiB"] = PeakRssMiB();
}
BENCHMARK(BM_DecodeUserClock)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Encode128k(benchmark::State& state) {
    const uint32_t blockBytes = 17640;  // 0.1 s at 44.1 kHz stereo
    std::vector<int16_t> block(blockBytes / 2);
    for (size_t i = 0; i < block.size(); ++i) block[i] = int16_t((i * 37) % 20000 - 10000);
    AudioFormatInfo format{};
    format.sampleRate = 44100;
    format.channels = 2;
    format.bitrateKbps = 128;
    for (auto _ : state) {
        if (InitWMAWriteFile("/tmp/mervane-bench-out.wma", &format) != 1) {
            state.SkipWithError("InitWMAWriteFile failed");
            return;
        }
        for (int i = 0; i < kSeconds * 10; ++i) WriteWMAFile(block.data(), blockBytes);
        CloseWMAWriteFile();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSeconds * 10 * blockBytes);
    state.counters["peak_rss_MiB"] = PeakRssMiB();
}
BENCHMARK(BM_Encode128k)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
