// SPDX-License-Identifier: MIT
// The reading side of libmervane.so on real WMA files made by Debian's ffmpeg,
// checked against ffprobe and ffmpeg's own decode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "decode_collector.h"
#include "media.h"
#include "mervane.h"

namespace {

struct Sample {
    const char* name;
    const char* source;
    const char* options;
};

// The last one's name is not ASCII: a UTF-8 path names the file.
const Sample kFiles[] = {
    {"s44k128.wma", "sine=frequency=440:duration=3", "-ar 44100 -ac 2 -b:a 128k"},
    {"m22k32.wma", "sine=frequency=1000:duration=2", "-ar 22050 -ac 1 -b:a 32k"},
    {"s48k192.wma", "sine=frequency=300:duration=2.5", "-ar 48000 -ac 2 -b:a 192k"},
    {"\xC3\x9C"
     "ber \xE2\x99\xAB \xE6\x97\xA5\xE6\x9C\xAC.wma",
     "sine=frequency=700:duration=1.5", "-ar 32000 -ac 2 -b:a 48k"},
};

std::string Make(const Sample& s) {
    return media::MakeWma(s.name, s.source, s.options);
}

TEST(ReadTest, FileInfoAgreesWithFfprobe) {
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
        EXPECT_EQ(info.reserved0 | info.reserved1 | info.reserved2, 0u);
        EXPECT_EQ(CancelReader(), 0) << "no reader stays open after a file query";
    }
}

TEST(ReadTest, UserClockDecodesMatchFfmpegsFromTheStartAndFromOneSecond) {
    REQUIRE_FFMPEG();
    for (const Sample& s : kFiles) {
        SCOPED_TRACE(s.name);
        const std::string path = Make(s);
        const DecodeCollector::Result d = DecodeCollector::Decode(path);
        ASSERT_TRUE(d.started);
        EXPECT_EQ(d.endCalls, 1);
        EXPECT_TRUE(std::is_sorted(d.times.begin(), d.times.end()));
        EXPECT_EQ(CancelReader(), 0) << "the reader is gone after the end call";
        const std::vector<int16_t> reference = media::DecodeWithFfmpeg(path);
        ASSERT_EQ(d.pcm.size(), reference.size());
        int worst = 0;
        for (size_t i = 0; i < reference.size(); ++i)
            worst = std::max(worst, std::abs(int(d.pcm[i]) - int(reference[i])));
        EXPECT_LE(worst, 1);

        const DecodeCollector::Result later = DecodeCollector::Decode(path, 1000);
        ASSERT_TRUE(later.started);
        EXPECT_EQ(later.endCalls, 1);
        ASSERT_FALSE(later.times.empty());
        EXPECT_NEAR(double(later.times.front()), 1000.0, 100.0);
        const media::Probe probe = media::ProbeFile(path);
        const double oneSecond = double(probe.sampleRate) * probe.channels;
        EXPECT_NEAR(double(later.pcm.size()), double(d.pcm.size()) - oneSecond, 0.1 * oneSecond);
    }
}

TEST(ReadTest, CancelEndsARealTimeDecodeWithOneEndCall) {
    REQUIRE_FFMPEG();
    const std::string path = Make(kFiles[0]);
    auto& c = DecodeCollector::Instance();
    c.Reset();
    ASSERT_EQ(GoGoGoReader(path.c_str(), 0, 0, DecodeCollector::Callback), 1);
    ASSERT_TRUE(c.WaitForBlocks(1));
    EXPECT_EQ(CancelReader(), 1);
    ASSERT_TRUE(c.WaitForEnd());
    EXPECT_EQ(c.Snapshot().endCalls, 1);
    EXPECT_EQ(CancelReader(), 0);
}

// Missing files, folders and null arguments: reliability/arguments_test.cpp.
TEST(ReadTest, FilesThatAreNoWmaFailCleanly) {
    REQUIRE_FFMPEG();
    const std::vector<uint8_t> bytes = media::ReadFile(Make(kFiles[1]));
    ASSERT_GT(bytes.size(), 6000u);
    std::vector<uint8_t> random(4096);
    unsigned seed = 12345;
    for (auto& b : random) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    for (const std::string& path : {
             media::WriteFile("empty.wma", {}),
             media::WriteFile("short-header.wma", {bytes.begin(), bytes.begin() + 100}),
             media::WriteFile("random.wma", random),
             media::MakeWithFfmpeg("tone.wav", "-f lavfi -i sine=duration=0.5"),
         }) {
        SCOPED_TRACE(path);
        AudioFormatInfo info{};
        EXPECT_EQ(GetWmaFileInfo(path.c_str(), &info), 0);
        const DecodeCollector::Result d = DecodeCollector::Decode(path);
        EXPECT_FALSE(d.started || d.blocks || d.endCalls);
        SongInfo song{};
        EXPECT_EQ(GetWmaSongInfo(path.c_str(), &song), 0);
        EXPECT_EQ(SetWmaSongInfo(path.c_str(), &song), 0);
    }

    // Data cut short: the header is whole, so the decode may start, but it must
    // end with its one end call.
    const std::string cut =
        media::WriteFile("truncated-data.wma", {bytes.begin(), bytes.begin() + bytes.size() / 2});
    const DecodeCollector::Result d = DecodeCollector::Decode(cut);
    EXPECT_TRUE(!d.started || d.endCalls == 1);
}

}  // namespace
