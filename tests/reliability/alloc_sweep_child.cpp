// SPDX-License-Identifier: MIT
// One export under allocation failure, every way: run 0 calls it with nothing
// failing and keeps what it gave as the reference; run N (N = 1, 2, ...) fails
// the N-th allocation made during the call, in a process of its own forked
// from this one, and checks that the call told the truth and left the files
// whole. The sweep ends with the first run whose call made fewer than N
// allocations.
//
//   alloc_sweep_child SCENARIO FILE WORKDIR [N]
//   SCENARIO: info, tags-read, tags-write, decode, cancel, encode, formats
//
// Prints one line of figures, then one line per run that went wrong: a wrong
// result, files not whole, a hang, or a crash, with the library it happened
// in. Exit status: 0 when every run was right or crashed inside FFmpeg (whose
// faults are its own, and are counted), 3 otherwise, 2 for bad usage. With N,
// only run N, in this process.
#include <dlfcn.h>
#include <execinfo.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "failing_alloc.h"
#include "media.h"
#include "mervane.h"
#include "scratch.h"

namespace {

using reliability::AsfHeaderSize;
using reliability::Bytes;

constexpr size_t kMaxPcm = 1 << 20;
constexpr int kMaxFormats = 256;

// What run 0 found, and the verdict of the run under way: shared between this
// process and the ones it forks.
struct Shared {
    AudioFormatInfo info;
    SongInfo tags;
    uint32_t formats[kMaxFormats][3];
    uint32_t formatCount;
    uint32_t pcmBytes;
    uint8_t pcm[kMaxPcm];
    bool reached;       // the run's failing allocation came
    bool failed;        // the export (one of them) reported a failure
    char problem[512];  // what was wrong, or where it crashed
};
Shared* shared;

// Stops failing, noting whether the failing allocation came.
void Disarm() {
    shared->reached = shared->reached || failing_alloc::Reached();
    failing_alloc::FailNth(0);
}

void Problem(const char* text) {
    if (shared->problem[0] == 0) std::snprintf(shared->problem, sizeof shared->problem, "%s", text);
}

// ---- What the callbacks receive, kept without allocating.

uint8_t received[kMaxPcm];
std::atomic<uint32_t> receivedBytes{0};
std::atomic<int> endCalls{0};
std::atomic<int> blocksAfterEnd{0};
// The bytes before the first block whose time lies past the audio before it
// (lost audio shows so), or kSeamless.
constexpr uint32_t kSeamless = UINT32_MAX;
std::atomic<uint32_t> seamlessBytes{kSeamless};
uint32_t bytesPerFrame = 4, frameRate = 44100;
uint32_t formats[kMaxFormats][3];
std::atomic<uint32_t> formatCount{0};

int32_t MERVANE_CALL OnBlock(const void* data, uint32_t bytes, uint32_t timeMs) {
    if (data == nullptr && bytes == 0) {
        ++endCalls;
        return 0;
    }
    if (endCalls > 0) ++blocksAfterEnd;
    const uint32_t at = receivedBytes;
    const uint64_t due = uint64_t{at} / bytesPerFrame * 1000 / frameRate;
    if (seamlessBytes == kSeamless && timeMs > due + 1) seamlessBytes = at;
    const uint32_t n = bytes < kMaxPcm - at ? bytes : kMaxPcm - at;
    std::memcpy(received + at, data, n);
    receivedBytes = at + n;
    return 0;
}

int32_t MERVANE_CALL OnFormat(uint32_t bitrate, uint32_t channels, uint32_t rate) {
    const uint32_t at = formatCount;
    if (at < kMaxFormats) {
        formats[at][0] = bitrate;
        formats[at][1] = channels;
        formats[at][2] = rate;
        formatCount = at + 1;
    }
    return 0;
}

template <typename Condition>
bool WaitFor(Condition condition, int ms) {
    for (int i = 0; i < ms && !condition(); ++i) usleep(1000);
    return condition();
}

// ---- The scenarios. `reference` is run 0's, which fills the reference.

void Info(const std::string& file, bool reference) {
    AudioFormatInfo info;
    std::memset(&info, 0xEE, sizeof info);
    const int32_t r = GetWmaFileInfo(file.c_str(), &info);
    shared->failed = r != 1;
    if (reference) shared->info = info;
    if (r == 1 && std::memcmp(&info, &shared->info, sizeof info) != 0)
        Problem("GetWmaFileInfo returned 1 with fields not filled as they are");
}

void TagsRead(const std::string& file, bool reference) {
    SongInfo tags;
    std::memset(&tags, 'h', sizeof tags);
    const int32_t r = GetWmaSongInfo(file.c_str(), &tags);
    shared->failed = r != 1;
    if (reference) shared->tags = tags;
    if (r == 1 && std::memcmp(&tags, &shared->tags, sizeof tags) != 0)
        Problem("GetWmaSongInfo returned 1 without every tag of the file");
}

SongInfo NewTags() {
    return media::Song("new title", "new author", "new album", "2031", "7", "12");
}

// `idle`: the threads before the call (a sanitizer may have one of its own).
void Decode(const std::string& file, bool reference, bool cancel, size_t idle) {
    receivedBytes = 0;
    endCalls = 0;
    blocksAfterEnd = 0;
    seamlessBytes = kSeamless;
    const int32_t r = GoGoGoReader(file.c_str(), 0, 1, OnBlock);
    // The reference is the whole decode.
    if (cancel && r == 1 && !reference) CancelReader();
    shared->failed = r != 1;
    if (r == 1 && !WaitFor([] { return endCalls > 0; }, 20000)) return Problem("no end call");
    Disarm();
    // The end call comes once, last, with the file closed; the threads of the
    // decode then end.
    if (r != 1 && (endCalls != 0 || receivedBytes != 0))
        return Problem("GoGoGoReader returned 0, yet the callback was called");
    if (r == 1 && reliability::OpenDescriptorsOn(file) != 0)
        Problem("the file was still open at the end call");
    // Once the decode's threads are gone nothing can call the host: only then
    // is the count of calls after the end call final.
    if (!WaitFor([idle] { return reliability::NamesIn("/proc/self/task").size() <= idle; }, 20000))
        Problem("a thread was left behind");
    if (r == 1 && (endCalls != 1 || blocksAfterEnd != 0)) Problem("not one end call, last");
    if (reference) {
        shared->pcmBytes = receivedBytes;
        std::memcpy(shared->pcm, received, receivedBytes);
    }
    // Up to a gap in the block times, the PCM is the whole decode's.
    const uint32_t seamless = std::min<uint32_t>(seamlessBytes, receivedBytes);
    if (seamless > shared->pcmBytes || std::memcmp(received, shared->pcm, seamless) != 0)
        Problem("the PCM is not the start of the whole decode");
    // A decode that returned 1 delivers the whole file, or shows what it lost as
    // a gap in the block times: the host has no other way to tell.
    if (r == 1 && !cancel && seamlessBytes == kSeamless && receivedBytes != shared->pcmBytes)
        Problem("less than the whole decode, with seamless block times");
}

void Formats(bool reference) {
    formatCount = 0;
    EnumWMAFormat(OnFormat);
    Disarm();
    shared->failed = false;
    if (reference) {
        shared->formatCount = formatCount;
        std::memcpy(shared->formats, formats, sizeof formats);
    }
    if (formatCount > shared->formatCount ||
        std::memcmp(formats, shared->formats, formatCount * sizeof formats[0]) != 0)
        Problem("a format listed that is not in the list");
}

// Runs scenario `name` with the n-th allocation failing (none for 0).
void Run(const std::string& name, const std::string& file, const std::string& dir, uint64_t n) {
    const bool reference = n == 0;
    const std::string work = dir + "/run";
    mkdir(work.c_str(), 0755);
    if (name == "info" || name == "tags-read") {
        failing_alloc::FailNth(n);
        name == "info" ? Info(file, reference) : TagsRead(file, reference);
        Disarm();
    } else if (name == "tags-write") {
        const std::string copy = work + "/copy.wma";
        const std::vector<unsigned char> before = Bytes(file);
        FILE* out = std::fopen(copy.c_str(), "wb");
        std::fwrite(before.data(), 1, before.size(), out);
        std::fclose(out);
        const SongInfo tags = NewTags();
        failing_alloc::FailNth(n);
        const int32_t r = SetWmaSongInfo(copy.c_str(), &tags);
        Disarm();
        shared->failed = r != 1;
        SongInfo now{};
        AudioFormatInfo info{};
        const std::vector<unsigned char> after = Bytes(copy);
        const size_t was = AsfHeaderSize(before);
        const size_t is = AsfHeaderSize(after);
        if (GetWmaFileInfo(copy.c_str(), &info) != 1 || GetWmaSongInfo(copy.c_str(), &now) != 1 ||
            is == 0 || after.size() - is != before.size() - was ||
            std::memcmp(after.data() + is, before.data() + was, after.size() - is) != 0) {
            Problem("the file is not whole");
        }
        const bool allSix = std::memcmp(&now, &tags, sizeof tags) == 0;
        if (r == 1 && !allSix) Problem("SetWmaSongInfo returned 1, not all six tags are there");
        if (r != 1 && allSix) Problem("SetWmaSongInfo returned 0, all six tags are there");
        if (reliability::NamesIn(work).size() != 1) Problem("a file was left beside the file");
    } else if (name == "decode" || name == "cancel") {
        // A sanitizer starts a thread of its own with the first thread of a
        // process: that one is started before the threads are counted.
        std::thread([] {}).join();
        AudioFormatInfo info{};
        if (GetWmaFileInfo(file.c_str(), &info) == 1) {
            bytesPerFrame = info.channels * 2;
            frameRate = info.sampleRate;
        }
        const size_t idle = reliability::NamesIn("/proc/self/task").size();
        failing_alloc::FailNth(n);
        Decode(file, reference, name == "cancel", idle);
    } else if (name == "encode") {
        static const char kOld[] = "the file that was here";
        const std::string dest = work + "/out.wma";
        FILE* out = std::fopen(dest.c_str(), "wb");
        std::fputs(kOld, out);
        std::fclose(out);
        const AudioFormatInfo format{0, 44100, 2, 128, 0, 0, 0, 0};
        static int16_t pcm[4410 * 2];
        for (size_t i = 0; i < 4410 * 2; ++i) pcm[i] = static_cast<int16_t>((i * 97) % 20000);
        failing_alloc::FailNth(n);
        const int32_t init = InitWMAWriteFile(dest.c_str(), &format);
        bool wrote = init == 1;
        for (int block = 0; block < 3; ++block) wrote = WriteWMAFile(pcm, sizeof pcm) == 1 && wrote;
        const int32_t closed = CloseWMAWriteFile();
        Disarm();
        shared->failed = !wrote || closed != 0;
        AudioFormatInfo info{};
        const std::vector<unsigned char> now = Bytes(dest);
        if (!shared->failed && (GetWmaFileInfo(dest.c_str(), &info) != 1 || info.durationMs < 250))
            Problem("the encode reported success, the file is not whole");
        if (shared->failed && std::string(now.begin(), now.end()) != kOld)
            Problem("a failed encode changed the file at the destination");
        if (init == 1 && !wrote && closed == 0) Problem("a write failed, CloseWMAWriteFile gave 0");
        if (reliability::NamesIn(work).size() != 1)
            Problem("a file was left beside the destination");
        // The writer side is free for the next encode.
        if (InitWMAWriteFile((work + "/next.wma").c_str(), &format) != 1 ||
            CloseWMAWriteFile() != 0)
            Problem("the next encode failed");
    } else if (name == "formats") {
        failing_alloc::FailNth(n);
        Formats(reference);
    }
}

// ---- Crashes: where they happened.

bool Runtime(const char* object) {
    static const char* const kRuntime[] = {"libc.so",  "libasan",   "libubsan",  "libtsan",
                                           "libgcc_s", "libstdc++", "linux-vdso"};
    for (const char* name : kRuntime) {
        if (std::strstr(object, name) != nullptr) return true;
    }
    return false;
}

void OnCrash(int signal) {
    void* frames[64];
    const int count = backtrace(frames, 64);
    const char* where = "?";
    const char* symbol = "?";
    // The frames of this handler, the runtime's, then the crash site's.
    for (int i = 2; i < count; ++i) {
        Dl_info found{};
        if (dladdr(frames[i], &found) != 0 && found.dli_fname != nullptr &&
            !Runtime(found.dli_fname)) {
            where = found.dli_fname;
            symbol = found.dli_sname != nullptr ? found.dli_sname : "?";
            break;
        }
    }
    std::snprintf(shared->problem, sizeof shared->problem, "crash (signal %d) in %s (%s)", signal,
                  where, symbol);
    shared->reached = true;
    _exit(99);
}

bool InFfmpeg(const char* problem) {
    return std::strstr(problem, "/libav") != nullptr || std::strstr(problem, "/libsw") != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) return 2;
    const std::string name = argv[1];
    shared = static_cast<Shared*>(
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (shared == MAP_FAILED) return 2;
    if (argc == 5) {  // one run in this process, to look at under a debugger
        Run(name, argv[2], argv[3], std::strtoull(argv[4], nullptr, 10));
        std::printf("reached %d, failed %d: %s\n", shared->reached, shared->failed,
                    shared->problem);
        return 0;
    }
    void* warm[1];
    backtrace(warm, 1);  // loads the unwinder now, not in a crash
    int runs = 0, failures = 0, ffmpegCrashes = 0, wrong = 0;
    uint64_t n = 0;
    for (;; ++n) {
        shared->reached = false;
        shared->failed = false;
        shared->problem[0] = 0;
        std::system(("rm -rf '" + std::string(argv[3]) + "/run'").c_str());
        const pid_t pid = fork();
        if (pid == 0) {
            for (int s : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) signal(s, OnCrash);
            Run(name, argv[2], argv[3], n);
            _exit(shared->problem[0] == 0 ? 0 : 1);
        }
        int status = 0;
        bool ended = false;
        WaitFor([&] { return ended = ended || waitpid(pid, &status, WNOHANG) == pid; }, 60000);
        ++runs;
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            std::snprintf(shared->problem, sizeof shared->problem, "hang");
        } else if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && shared->problem[0] == 0)) {
            std::snprintf(shared->problem, sizeof shared->problem, "ended with status %d", status);
        }
        const bool problem = shared->problem[0] != 0;
        if (problem) {
            std::printf("run %llu: %s\n", static_cast<unsigned long long>(n), shared->problem);
            if (InFfmpeg(shared->problem))
                ++ffmpegCrashes;
            else
                ++wrong;
        }
        failures += !problem && shared->failed;
        if (n == 0 && (problem || shared->failed)) {
            std::printf("the call fails with nothing failing\n");
            return 3;
        }
        if (n > 0 && ended && !shared->reached) break;
    }
    std::printf(
        "%s: %llu allocations, %d runs, %d reported a failure, %d ffmpeg crashes, %d wrong\n",
        name.c_str(), static_cast<unsigned long long>(n - 1), runs, failures, ffmpegCrashes, wrong);
    return wrong == 0 ? 0 : 3;
}
