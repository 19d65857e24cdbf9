// SPDX-License-Identifier: MIT
// A host of libmervane.so for the benchmark runner: each command does one job
// through the exports and prints what it measured on one line.
//
//   bench_driver decode FILE        user-clock decode from 0 to the end call; no output
//                                   of the PCM. Prints the PCM byte count.
//   bench_driver first FILE MS      user-clock decode from MS; prints the ms from the
//                                   call to the first block, then cancels.
//   bench_driver query FILE N       N rounds of GetWmaFileInfo and GetWmaSongInfo; prints
//                                   the median µs of each.
//   bench_driver tags FILE N        N writes of six tags (two sets in turn); prints the
//                                   ms of each write.
//   bench_driver encode PCM OUT     encodes 16-bit 44.1 kHz stereo PCM at 128 kbit/s,
//                                   fed in blocks of 0.1 s.
//
// Exit code 0 on success, 1 when an export fails, 2 on a usage error.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "mervane.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point began) {
    return std::chrono::duration<double, std::milli>(Clock::now() - began).count();
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Decode {
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
    bool gotFirst = false;
    Clock::time_point firstAt;
    uint64_t bytes = 0;
} g_decode;

// Wakes the main thread only for what it waits for: the first block and the end.
int32_t MERVANE_CALL Receive(const void* data, uint32_t bytes, uint32_t) {
    std::lock_guard<std::mutex> lock(g_decode.mutex);
    if (data == nullptr && bytes == 0) {
        g_decode.ended = true;
    } else {
        g_decode.bytes += bytes;
        if (g_decode.gotFirst) return 0;
        g_decode.gotFirst = true;
        g_decode.firstAt = Clock::now();
    }
    g_decode.changed.notify_all();
    return 0;
}

int RunDecode(const char* file) {
    if (GoGoGoReader(file, 0, 1, Receive) != 1) return 1;
    std::unique_lock<std::mutex> lock(g_decode.mutex);
    g_decode.changed.wait(lock, [] { return g_decode.ended; });
    std::printf("%llu\n", static_cast<unsigned long long>(g_decode.bytes));
    return g_decode.bytes > 0 ? 0 : 1;
}

int RunFirst(const char* file, uint32_t startMs) {
    const Clock::time_point began = Clock::now();
    if (GoGoGoReader(file, startMs, 1, Receive) != 1) return 1;
    std::unique_lock<std::mutex> lock(g_decode.mutex);
    g_decode.changed.wait(lock, [] { return g_decode.gotFirst || g_decode.ended; });
    const bool got = g_decode.gotFirst;
    const double ms = std::chrono::duration<double, std::milli>(g_decode.firstAt - began).count();
    lock.unlock();
    CancelReader();
    lock.lock();
    g_decode.changed.wait(lock, [] { return g_decode.ended; });
    if (!got) return 1;
    std::printf("%.3f\n", ms);
    return 0;
}

int RunQuery(const char* file, int rounds) {
    std::vector<double> info, song;
    for (int i = 0; i < rounds; ++i) {
        AudioFormatInfo format{};
        Clock::time_point began = Clock::now();
        if (GetWmaFileInfo(file, &format) != 1) return 1;
        info.push_back(MsSince(began) * 1000);
        SongInfo tags{};
        began = Clock::now();
        if (GetWmaSongInfo(file, &tags) != 1) return 1;
        song.push_back(MsSince(began) * 1000);
    }
    std::printf("%.1f %.1f\n", Median(info), Median(song));
    return 0;
}

void Fill(SongInfo& tags, int set) {
    std::memset(&tags, 0, sizeof tags);
    std::snprintf(tags.title, sizeof tags.title, "Benchmark title %d", set);
    std::snprintf(tags.author, sizeof tags.author, "Benchmark author %d", set);
    std::snprintf(tags.album, sizeof tags.album, "Benchmark album %d", set);
    std::snprintf(tags.year, sizeof tags.year, "%d", 2000 + set);
    std::snprintf(tags.track, sizeof tags.track, "%d", 1 + set);
    std::snprintf(tags.genreId, sizeof tags.genreId, "%d", 10 + set);
}

int RunTags(const char* file, int writes) {
    for (int i = 0; i < writes; ++i) {
        SongInfo tags;
        Fill(tags, i % 2);
        const Clock::time_point began = Clock::now();
        if (SetWmaSongInfo(file, &tags) != 1) return 1;
        std::printf(i + 1 < writes ? "%.3f " : "%.3f\n", MsSince(began));
    }
    return 0;
}

int RunEncode(const char* pcmPath, const char* out) {
    FILE* in = std::fopen(pcmPath, "rb");
    if (in == nullptr) return 1;
    AudioFormatInfo format{};
    format.sampleRate = 44100;
    format.channels = 2;
    format.bitrateKbps = 128;
    if (InitWMAWriteFile(out, &format) != 1) {
        std::fclose(in);
        return 1;
    }
    std::vector<unsigned char> block(17640);  // 0.1 s
    int result = 0;
    for (;;) {
        const size_t got = std::fread(block.data(), 1, block.size(), in);
        if (got == 0) break;
        if (WriteWMAFile(block.data(), static_cast<uint32_t>(got)) != 1) {
            result = 1;
            break;
        }
    }
    std::fclose(in);
    if (CloseWMAWriteFile() != 0) result = 1;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc >= 2 ? argv[1] : "";
    if (command == "decode" && argc == 3) return RunDecode(argv[2]);
    if (command == "first" && argc == 4)
        return RunFirst(argv[2], static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)));
    if (command == "query" && argc == 4) return RunQuery(argv[2], std::atoi(argv[3]));
    if (command == "tags" && argc == 4) return RunTags(argv[2], std::atoi(argv[3]));
    if (command == "encode" && argc == 4) return RunEncode(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: bench_driver decode FILE | first FILE MS | query FILE N | tags FILE N |"
                 " encode PCM OUT\n");
    return 2;
}
