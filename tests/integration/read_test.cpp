// SPDX-License-Identifier: MIT
// The reading side of libmervane.so on real WMA files made by Debian's ffmpeg,
// checked against ffprobe and ffmpeg's own decode.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <thread>

#include "decode_collector.h"
#include "media.h"
#include "mervane.h"

namespace {

#define REQUIRE_FFMPEG() \
    if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed"

struct Sample {
    const char* name;
    const char* source;
    const char* options;
};

const Sample kFiles[] = {
    {"s44k128.wma", "sine=frequency=440:duration=3", "-ar 44100 -ac 2 -b:a 128k"},
    {"m22k32.wma", "sine=frequency=1000:duration=2", "-ar 22050 -ac 1 -b:a 32k"},
    {"s48k192.wma", "sine=frequency=300:duration=2.5", "-ar 48000 -ac 2 -b:a 192k"},
    {"s32k48.wma", "sine=frequency=700:duration=1.5", "-ar 32000 -ac 2 -b:a 48k"},
};

std::string Make(const Sample& s) {
    return media::MakeWma(s.name, s.source, s.options);
}

class ReadTest : public ::testing::Test {
  protected:
    void SetUp() override { DecodeCollector::Instance().Reset(); }
};

TEST_F(ReadTest, FileInfoAgreesWithFfprobe) {
    REQUIRE_FFMPEG();
    for (const Sample& s : kFiles) {
        SCOPED_TRACE(s.name);
        const std::string path = Make(s);
        ASSERT_FALSE(path.empty());
        const media::Probe probe = media::ProbeFile(path);
        AudioFormatInfo info;
        std::memset(&info, 0xAB, sizeof info);
        ASSERT_EQ(GetWmaFileInfo(path.c_str(), &info), 1);
        EXPECT_EQ(info.formatKind, 3u);
        EXPECT_EQ(info.sampleRate, static_cast<uint32_t>(probe.sampleRate));
        EXPECT_EQ(info.channels, static_cast<uint32_t>(probe.channels));
        EXPECT_NEAR(double(info.bitrateKbps), probe.bitRate / 1000.0, 1.0);
        EXPECT_NEAR(double(info.durationMs), probe.durationS * 1000.0, 50.0);
        EXPECT_EQ(info.reserved0, 0u);
        EXPECT_EQ(info.reserved1, 0u);
        EXPECT_EQ(info.reserved2, 0u);
        EXPECT_EQ(CancelReader(), 0) << "no reader stays open after a file query";
    }
}

TEST_F(ReadTest, UserClockDecodeMatchesFfmpegsDecode) {
    REQUIRE_FFMPEG();
    for (const Sample& s : kFiles) {
        SCOPED_TRACE(s.name);
        const std::string path = Make(s);
        auto& c = DecodeCollector::Instance();
        c.Reset();
        ASSERT_EQ(GoGoGoReader(path.c_str(), 0, 1, DecodeCollector::Callback), 1);
        ASSERT_TRUE(c.WaitForEnd());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a late call would show
        const auto d = c.Snapshot();
        EXPECT_EQ(d.endCalls, 1);
        EXPECT_EQ(d.callsAfterEnd, 0);
        EXPECT_TRUE(std::is_sorted(d.times.begin(), d.times.end()));
        const std::vector<int16_t> reference = media::DecodeWithFfmpeg(path);
        ASSERT_EQ(d.pcm.size(), reference.size());
        int worst = 0;
        for (size_t i = 0; i < reference.size(); ++i)
            worst = std::max(worst, std::abs(int(d.pcm[i]) - int(reference[i])));
        EXPECT_LE(worst, 1);
        EXPECT_EQ(CancelReader(), 0) << "the reader is gone after the end call";
    }
}

TEST_F(ReadTest, DecodeFromAStartPosition) {
    REQUIRE_FFMPEG();
    const std::string path = Make(kFiles[0]);  // 3 s at 44.1 kHz stereo
    auto& c = DecodeCollector::Instance();
    ASSERT_EQ(GoGoGoReader(path.c_str(), 0, 1, DecodeCollector::Callback), 1);
    ASSERT_TRUE(c.WaitForEnd());
    const size_t full = c.Snapshot().pcm.size();

    c.Reset();
    ASSERT_EQ(GoGoGoReader(path.c_str(), 1000, 1, DecodeCollector::Callback), 1);
    ASSERT_TRUE(c.WaitForEnd());
    const auto d = c.Snapshot();
    EXPECT_EQ(d.endCalls, 1);
    ASSERT_FALSE(d.times.empty());
    EXPECT_NEAR(double(d.times.front()), 1000.0, 100.0);
    const double oneSecond = 44100.0 * 2;
    EXPECT_NEAR(double(d.pcm.size()), double(full) - oneSecond, 0.1 * oneSecond);
}

TEST_F(ReadTest, CancelEndsARealTimeDecodeWithOneEndCall) {
    REQUIRE_FFMPEG();
    const std::string path = Make(kFiles[0]);
    auto& c = DecodeCollector::Instance();
    ASSERT_EQ(GoGoGoReader(path.c_str(), 0, 0, DecodeCollector::Callback), 1);
    ASSERT_TRUE(c.WaitForBlocks(1));
    EXPECT_EQ(CancelReader(), 1);
    ASSERT_TRUE(c.WaitForEnd());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto d = c.Snapshot();
    EXPECT_EQ(d.endCalls, 1);
    EXPECT_EQ(d.callsAfterEnd, 0);
    EXPECT_EQ(CancelReader(), 0);
}

TEST_F(ReadTest, BadFilesFailCleanly) {
    REQUIRE_FFMPEG();
    const std::string good = Make(kFiles[1]);
    const std::vector<uint8_t> bytes = media::ReadFile(good);
    ASSERT_GT(bytes.size(), 6000u);
    std::vector<uint8_t> random(4096);
    unsigned seed = 12345;
    for (auto& b : random) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    const std::string dir = media::Dir() + "/a-directory.wma";
    mkdir(dir.c_str(), 0755);
    const std::vector<std::string> bad = {
        media::Dir() + "/missing.wma",
        media::WriteFile("empty.wma", {}),
        media::WriteFile("short-header.wma", {bytes.begin(), bytes.begin() + 100}),
        media::WriteFile("random.wma", random),
        media::MakeWithFfmpeg("tone.wav", "-f lavfi -i sine=duration=0.5"),
        dir,
    };
    for (const std::string& path : bad) {
        SCOPED_TRACE(path);
        AudioFormatInfo info{};
        EXPECT_EQ(GetWmaFileInfo(path.c_str(), &info), 0);
        auto& c = DecodeCollector::Instance();
        c.Reset();
        EXPECT_EQ(GoGoGoReader(path.c_str(), 0, 1, DecodeCollector::Callback), 0);
        EXPECT_EQ(c.Snapshot().blocks + c.Snapshot().endCalls, 0);
        SongInfo song{};
        EXPECT_EQ(GetWmaSongInfo(path.c_str(), &song), 0);
        EXPECT_EQ(SetWmaSongInfo(path.c_str(), &song), 0);
    }

    // Data cut short: the header is whole, so the decode may start, but it must
    // end with its one end call.
    const std::string cut =
        media::WriteFile("truncated-data.wma", {bytes.begin(), bytes.begin() + bytes.size() / 2});
    auto& c = DecodeCollector::Instance();
    c.Reset();
    if (GoGoGoReader(cut.c_str(), 0, 1, DecodeCollector::Callback) == 1) {
        ASSERT_TRUE(c.WaitForEnd());
        EXPECT_EQ(c.Snapshot().endCalls, 1);
    }
}

TEST_F(ReadTest, NullArgumentsReturnZero) {
    AudioFormatInfo info{};
    SongInfo song{};
    EXPECT_EQ(GetWmaFileInfo(nullptr, &info), 0);
    EXPECT_EQ(GetWmaFileInfo("x.wma", nullptr), 0);
    EXPECT_EQ(GoGoGoReader(nullptr, 0, 1, DecodeCollector::Callback), 0);
    EXPECT_EQ(GoGoGoReader("x.wma", 0, 1, nullptr), 0);
    EXPECT_EQ(GetWmaSongInfo(nullptr, &song), 0);
    EXPECT_EQ(SetWmaSongInfo("x.wma", nullptr), 0);
}

}  // namespace
