// SPDX-License-Identifier: MIT
// One library operation in a process of its own, for the reliability tests:
// they kill it, limit its file sizes, or stop waiting for it.
//
//   reliability_child settags PATH TEXT [K]  tags TEXT (title), TEXT-a, TEXT-b;
//                                            prints "ready" just before the call
//                                            and "done steps=N" just after it
//   reliability_child call OP PATH           OP: info, tags-read, tags-write,
//                                            decode, init-write
//   reliability_child race CALLS PATH RATE CHANNELS [PATH RATE CHANNELS]...
//                                            one thread per file, CALLS queries each
//   reliability_child limit-encode LIMIT REF BAD GOOD
//                                            encodes to REF without a limit, to BAD
//                                            with a file-size limit, then to GOOD
//   reliability_child limit-settags LIMIT PATH
//   reliability_child limit-init LIMIT PATH  InitWMAWriteFile under the limit
//   reliability_child encode PATH [K]        300 s of tone; prints "ready" just
//                                            before and "done steps=N" just after
//   reliability_child encode-stopped PATH K  the same without unnamed files,
//                                            stopped (SIGSTOP) at step K
//
// With K, the process kills itself just before its K-th file change (see
// kill_points.c); N is the count of them the call made.
// Exit status: 0 the library reported success, 1 it reported a failure,
// 2 usage, 3 a wrong answer (printed).
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kill_points.h"
#include "mervane.h"
#include "scratch.h"

using reliability::TagsFor;

namespace {

std::mutex endMutex;
std::condition_variable endSignal;
bool ended = false;

int32_t MERVANE_CALL OnSample(const void* data, uint32_t byteCount, uint32_t) {
    if (data == nullptr && byteCount == 0) {
        std::lock_guard<std::mutex> lock(endMutex);
        ended = true;
        endSignal.notify_all();
    }
    return 0;
}

int Call(const std::string& op, const char* path) {
    if (op == "info") {
        AudioFormatInfo info{};
        return GetWmaFileInfo(path, &info) == 1 ? 0 : 1;
    }
    if (op == "tags-read") {
        SongInfo info{};
        return GetWmaSongInfo(path, &info) == 1 ? 0 : 1;
    }
    if (op == "tags-write") {
        const SongInfo info = TagsFor("written");
        return SetWmaSongInfo(path, &info) == 1 ? 0 : 1;
    }
    if (op == "decode") {
        if (GoGoGoReader(path, 0, 1, OnSample) != 1) return 1;
        std::unique_lock<std::mutex> lock(endMutex);
        endSignal.wait(lock, [] { return ended; });
        return 0;
    }
    if (op == "init-write") {
        const AudioFormatInfo format{0, 44100, 2, 128, 0, 0, 0, 0};
        if (InitWMAWriteFile(path, &format) != 1) return 1;
        CloseWMAWriteFile();
        return 0;
    }
    return 2;
}

int Race(int calls, char** files, int count) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int f = 0; f < count; ++f) {
        const char* path = files[f * 3];
        const uint32_t rate = static_cast<uint32_t>(std::atol(files[f * 3 + 1]));
        const uint32_t channels = static_cast<uint32_t>(std::atol(files[f * 3 + 2]));
        threads.emplace_back([=, &wrong] {
            for (int i = 0; i < calls; ++i) {
                AudioFormatInfo info{};
                if (GetWmaFileInfo(path, &info) != 1 || info.sampleRate != rate ||
                    info.channels != channels) {
                    std::printf("call %d on %s: result %u Hz %u channels\n", i, path,
                                info.sampleRate, info.channels);
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    std::printf("%d wrong answers in %d calls\n", wrong.load(), calls * count);
    return wrong == 0 ? 0 : 3;
}

// A 440 Hz stereo tone at 44.1 kHz in blocks of 0.1 s.
constexpr uint32_t kBlockFrames = 4410;
std::vector<int16_t> ToneBlock(int index) {
    std::vector<int16_t> pcm(kBlockFrames * 2);
    for (uint32_t i = 0; i < kBlockFrames; ++i) {
        const double t = (index * double(kBlockFrames) + i) / 44100.0;
        pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440 * t));
    }
    return pcm;
}

struct EncodeResult {
    int init = 0;
    int firstFailure = -1;  // index of the first WriteWMAFile that returned 0
    int close = 0;
};

EncodeResult Encode(const char* path, int blocks) {
    EncodeResult r;
    const AudioFormatInfo format{0, 44100, 2, 128, 0, 0, 0, 0};
    r.init = InitWMAWriteFile(path, &format);
    if (r.init != 1) return r;
    for (int i = 0; i < blocks && r.firstFailure < 0; ++i) {
        const std::vector<int16_t> pcm = ToneBlock(i);
        if (WriteWMAFile(pcm.data(), static_cast<uint32_t>(pcm.size() * 2)) != 1)
            r.firstFailure = i;
    }
    r.close = CloseWMAWriteFile();
    return r;
}

void LimitFileSize(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}

void LiftFileSizeLimit() {
    struct rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_FSIZE, &limit);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string command = argv[1];
    if (command == "settags" && (argc == 4 || argc == 5)) {
        const SongInfo info = TagsFor(argv[3]);
        std::puts("ready");
        std::fflush(stdout);
        if (argc == 5) ArmKillPoint(std::atol(argv[4]));
        const int32_t written = SetWmaSongInfo(argv[2], &info);
        std::printf("done steps=%ld\n", KillPointSteps());
        std::fflush(stdout);
        return written == 1 ? 0 : 1;
    }
    if (command == "call" && argc == 4) return Call(argv[2], argv[3]);
    if (command == "race" && argc >= 6 && (argc - 3) % 3 == 0)
        return Race(std::atoi(argv[2]), argv + 3, (argc - 3) / 3);
    if (command == "limit-encode" && argc == 6) {
        constexpr int kBlocks = 400;  // 40 s
        const EncodeResult ref = Encode(argv[3], kBlocks);
        LimitFileSize(static_cast<rlim_t>(std::atoll(argv[2])));
        const EncodeResult bad = Encode(argv[4], kBlocks);
        LiftFileSizeLimit();
        const EncodeResult good = Encode(argv[5], 20);
        std::printf("blocks=%d ref_init=%d ref_failure=%d ref_close=%d\n", kBlocks, ref.init,
                    ref.firstFailure, ref.close);
        std::printf("bad_init=%d bad_failure=%d bad_close=%d\n", bad.init, bad.firstFailure,
                    bad.close);
        std::printf("good_init=%d good_failure=%d good_close=%d\n", good.init, good.firstFailure,
                    good.close);
        return 0;
    }
    if (command == "limit-init" && argc == 4) {
        LimitFileSize(static_cast<rlim_t>(std::atoll(argv[2])));
        const AudioFormatInfo format{0, 44100, 2, 128, 0, 0, 0, 0};
        if (InitWMAWriteFile(argv[3], &format) != 1) return 1;
        CloseWMAWriteFile();
        return 0;
    }
    if ((command == "encode" && (argc == 3 || argc == 4)) ||
        (command == "encode-stopped" && argc == 4)) {
        std::puts("ready");
        std::fflush(stdout);
        if (command == "encode-stopped") {
            RefuseUnnamedFiles();
            ArmStopPoint(std::atol(argv[3]));
        } else if (argc == 4) {
            ArmKillPoint(std::atol(argv[3]));
        }
        const EncodeResult r = Encode(argv[2], 3000);
        std::printf("done steps=%ld\n", KillPointSteps());
        std::fflush(stdout);
        return r.init == 1 && r.firstFailure < 0 && r.close == 0 ? 0 : 1;
    }
    if (command == "limit-settags" && argc == 4) {
        LimitFileSize(static_cast<rlim_t>(std::atoll(argv[2])));
        const SongInfo info = TagsFor("limited");
        return SetWmaSongInfo(argv[3], &info) == 1 ? 0 : 1;
    }
    return 2;
}
