// SPDX-License-Identifier: MIT
// Writes that hit a file-size limit (SIGXFSZ ignored, as a full disk looks to
// the writer): the failure is reported, early, the original is kept, and the
// next encode to a good place works.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
}  // namespace reliability
