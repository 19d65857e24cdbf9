// SPDX-License-Identifier: MIT
// Writes that hit a file-size limit (SIGXFSZ ignored, as a full disk looks to
// the writer): the failure is reported, early, the original is kept, and the
// next encode to a good place works.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "child.h"
#include "media.h"
#include "scratch.h"

namespace reliability {
namespace {

// `key=value` from the child's report; -1000 when missing.
long Field(const std::string& text, const std::string& key) {
    const size_t at = text.find(key + "=");
    return at == std::string::npos ? -1000 : std::atol(text.c_str() + at + key.size() + 1);
}

long long Size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

constexpr long long kLimit = 300000;  // bytes; not a multiple of any buffer size

class FileSizeLimit : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    }
    Outcome Encode() {
        return RunChild({"reliability_child", "limit-encode", std::to_string(kLimit),
                         scratch.Path("reference.wma"), scratch.Path("limited.wma"),
                         scratch.Path("good.wma")});
    }
    Scratch scratch;
};

TEST_F(FileSizeLimit, EncodeReportsTheFailureAndTheNextEncodeWorks) {
    const Outcome out = Encode();
    ASSERT_TRUE(out.finished) << out.output;
    ASSERT_EQ(Field(out.output, "bad_init"), 1) << out.output;
    EXPECT_TRUE(Field(out.output, "bad_failure") >= 0 || Field(out.output, "bad_close") != 0)
        << "a file cut at the limit was reported as written:\n"
        << out.output;
    EXPECT_LE(Size(scratch.Path("limited.wma")), kLimit);

    EXPECT_EQ(Field(out.output, "good_init"), 1) << out.output;
    EXPECT_EQ(Field(out.output, "good_failure"), -1) << out.output;
    EXPECT_EQ(Field(out.output, "good_close"), 0) << out.output;
    const media::Probe good = media::ProbeFile(scratch.Path("good.wma"));
    EXPECT_EQ(good.codec, "wmav2");
    EXPECT_NEAR(good.durationS, 2.0, 0.2);
}

TEST_F(FileSizeLimit, EncodeReportsTheFirstWriteWhoseOutputCannotBeStored) {
    const Outcome out = Encode();
    ASSERT_TRUE(out.finished) << out.output;
    ASSERT_EQ(Field(out.output, "ref_close"), 0) << out.output;
    const long blocks = Field(out.output, "blocks");
    const std::vector<unsigned char> reference = Bytes(scratch.Path("reference.wma"));
    const uint64_t header = AsfHeaderSize(reference);
    ASSERT_GT(header, 0u);
    // Bytes of file per block of 0.1 s, from the same encode without a limit.
    const double perBlock = double(reference.size() - header) / double(blocks);
    // The block whose output first crosses the limit, plus the encoder's delay
    // and one 3,200-byte packet still being filled.
    const double crossing = (double(kLimit) - double(header)) / perBlock;
    const double allowed = crossing + 2.0 + 3200.0 / perBlock;
    const long failure = Field(out.output, "bad_failure");
    ASSERT_GE(failure, 0) << "no WriteWMAFile reported the limit:\n" << out.output;
    EXPECT_LE(failure, long(allowed))
        << "the output crossed the limit at block " << crossing << "; the first failure came at "
        << failure << " (" << (failure - crossing) * perBlock / 1024 << " KiB later)";
}

TEST_F(FileSizeLimit, TagWriteIsReportedAsFailedAndTheOriginalKept) {
    const std::string source =
        media::MakeWma("reliability-30s.wma", "sine=frequency=550:duration=30",
                       "-ar 44100 -ac 2 -b:a 128k -metadata title=kept");
    ASSERT_FALSE(source.empty());
    const std::string path = scratch.Copy(source, "song.wma");
    const std::vector<unsigned char> before = Bytes(path);
    const Outcome out =
        RunChild({"reliability_child", "limit-settags", std::to_string(before.size() / 2), path});
    ASSERT_TRUE(out.finished);
    EXPECT_EQ(out.exitStatus, 1) << "SetWmaSongInfo reported a write the limit stopped";
    EXPECT_TRUE(Bytes(path) == before);
    EXPECT_EQ(scratch.Names(), std::vector<std::string>{"song.wma"});
}

// Under a limit on the user's threads: a decode whose threads (its reader's
// and the one that ends it) cannot all be had is refused at once, or ends
// with its end call on a thread of its own, the file closed; either way
// nothing is left behind, so decodes and queries work again once the limit
// is lifted.
std::atomic<int> endCalls{0};
std::atomic<pid_t> blockThread{0};
std::atomic<pid_t> endThread{0};

int32_t MERVANE_CALL NoteThreads(const void* data, uint32_t bytes, uint32_t) {
    if (data == nullptr && bytes == 0) {
        endThread = gettid();
        ++endCalls;
    } else {
        blockThread = gettid();
    }
    return 0;
}

int Threads() {
    return int(NamesIn("/proc/self/task").size());
}

// `idle`: the threads of the process before (a sanitizer may have one).
bool DecodeUnder(const std::string& path, int idle, rlim_t extraThreads) {
    struct rlimit limit {};
    getrlimit(RLIMIT_NPROC, &limit);
    const rlim_t unlimited = limit.rlim_cur;
    limit.rlim_cur = rlim_t(idle) + extraThreads;
    setrlimit(RLIMIT_NPROC, &limit);
    endCalls = 0;
    blockThread = 0;
    const int32_t started = GoGoGoReader(path.c_str(), 0, 1, NoteThreads);
    // Polls for what happens, however long the machine takes: the end call,
    // then the decode's threads gone (ctest's time-out stops a decode that
    // never ends).
    while (started == 1 && endCalls == 0) usleep(1000);
    const bool open = OpenDescriptorsOn(path) != 0;
    limit.rlim_cur = unlimited;
    setrlimit(RLIMIT_NPROC, &limit);
    while (Threads() > idle) usleep(1000);
    bool right = started == 1 ? endCalls == 1 && endThread != blockThread && !open
                              : endCalls == 0 && blockThread == 0;
    std::printf("%d more threads allowed: GoGoGoReader %d, %d end calls, %d threads left\n",
                int(extraThreads), started, endCalls.load(), Threads() - idle);
    std::fflush(stdout);
    AudioFormatInfo info{};
    return right && Threads() == idle && GetWmaFileInfo(path.c_str(), &info) == 1;
}

TEST(ThreadLimit, ADecodeWithoutItsThreadsIsRefusedOrEndsOnItsOwnThreadLeavingNothing) {
    if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    if (geteuid() != 0) GTEST_SKIP() << "a user of its own for the limit needs the superuser";
    const std::string source = media::MakeWma("reliability-1s.wma", "sine=duration=1", "-ac 2");
    ASSERT_FALSE(source.empty());
    Scratch scratch;
    ASSERT_EQ(chmod(scratch.dir().c_str(), 0755), 0);
    const std::string song = scratch.Copy(source, "song.wma");
    // A user with no other process: the limit counts this child's threads only.
    EXPECT_TRUE(RunAs(65532, [&] {
        bool right = true;
        const int idle = Threads();
        for (rlim_t extra = 0; extra <= 3; ++extra) right = DecodeUnder(song, idle, extra) && right;
        return right;
    }));
}

}  // namespace
}  // namespace reliability
