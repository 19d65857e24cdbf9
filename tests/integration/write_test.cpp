// SPDX-License-Identifier: MIT
// The encoding side of libmervane.so: the format list, files we encode checked
// with ffprobe and ffmpeg's own decode, and our own reading of them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decode_collector.h"
#include "media.h"
#include "mervane.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Format {
    uint32_t bitrate;  // bit/s
    uint32_t channels;
    uint32_t rate;
};

// The formats EnumWMAFormat reports on Linux, in order.
const Format kFormats[] = {
    {192000, 2, 48000}, {160000, 2, 48000}, {128000, 2, 48000}, {192000, 2, 44100},
    {160000, 2, 44100}, {128000, 2, 44100}, {96000, 2, 44100},  {80000, 2, 44100},
    {64000, 2, 44100},  {48000, 2, 44100},  {32000, 2, 44100},  {48000, 1, 44100},
    {32000, 1, 44100},  {48000, 2, 32000},  {40000, 2, 32000},  {32000, 2, 32000},
    {32000, 2, 22050},
};

std::vector<Format> g_listed;
int32_t MERVANE_CALL CollectFormat(uint32_t bitrate, uint32_t channels, uint32_t rate) {
    g_listed.push_back({bitrate, channels, rate});
    return 0;
}

AudioFormatInfo Request(uint32_t rate, uint32_t channels, uint32_t kbps) {
    AudioFormatInfo info{};
    info.sampleRate = rate;
    info.channels = channels;
    info.bitrateKbps = kbps;
    return info;
}

// A half-scale logarithmic sweep, 50 Hz up to 3 kHz on the first channel and
// 3 kHz down to 50 Hz on the second: no stretch of it looks like another, so
// aligning a decode with it is unambiguous.
std::vector<int16_t> Sweep(uint32_t rate, uint32_t channels, size_t frames) {
    std::vector<int16_t> pcm(frames * channels);
    double up = 0, down = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double x = static_cast<double>(i) / static_cast<double>(frames);
        pcm[i * channels] = static_cast<int16_t>(std::lround(16384 * std::sin(up)));
        if (channels == 2)
            pcm[i * 2 + 1] = static_cast<int16_t>(std::lround(16384 * std::sin(down)));
        up += 2 * kPi * 50 * std::pow(60.0, x) / rate;
        down += 2 * kPi * 3000 * std::pow(60.0, -x) / rate;
    }
    return pcm;
}

// Encodes `pcm` through the exports, in blocks of the given byte sizes (cycled).
bool Encode(const std::string& path, const AudioFormatInfo& info, const std::vector<int16_t>& pcm,
            const std::vector<uint32_t>& blockSizes) {
    if (InitWMAWriteFile(path.c_str(), &info) != 1) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
    const size_t total = pcm.size() * 2;
    bool ok = true;
    for (size_t at = 0, k = 0; at < total && ok; ++k) {
        const size_t n = std::min<size_t>(blockSizes[k % blockSizes.size()], total - at);
        ok = WriteWMAFile(bytes + at, static_cast<uint32_t>(n)) == 1;
        at += n;
    }
    return CloseWMAWriteFile() == 0 && ok;
}

TEST(WriteIntegration, EnumWmaFormatListsTheCatalogueInOrder) {
    for (int round = 0; round < 2; ++round) {  // every call stands on its own
        g_listed.clear();
        EnumWMAFormat(CollectFormat);
        ASSERT_EQ(g_listed.size(), std::size(kFormats));
        for (size_t i = 0; i < g_listed.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(g_listed[i].bitrate, kFormats[i].bitrate);
            EXPECT_EQ(g_listed[i].channels, kFormats[i].channels);
            EXPECT_EQ(g_listed[i].rate, kFormats[i].rate);
        }
    }
}

TEST(WriteIntegration, EveryListedFormatEncodesAFileFfprobeAgreesWith) {
    const bool probe = media::HaveFfmpeg();
    for (const Format& f : kFormats) {
        const std::string name = "format-" + std::to_string(f.rate) + "-" +
                                 std::to_string(f.channels) + "-" +
                                 std::to_string(f.bitrate / 1000) + ".wma";
        SCOPED_TRACE(name);
        const std::string path = media::Dir() + "/" + name;
        // 1.3 s and a bit: not a whole number of codec frames.
        const size_t frames = f.rate * 13 / 10 + 77;
        const std::vector<int16_t> pcm = Sweep(f.rate, f.channels, frames);
        ASSERT_TRUE(Encode(path, Request(f.rate, f.channels, f.bitrate / 1000), pcm, {8820}));
        if (!probe) continue;
        const media::Probe p = media::ProbeFile(path);
        EXPECT_EQ(p.codec, "wmav2");
        EXPECT_EQ(p.sampleRate, static_cast<int>(f.rate));
        EXPECT_EQ(p.channels, static_cast<int>(f.channels));
        EXPECT_NEAR(static_cast<double>(p.bitRate), f.bitrate, 1000.0);
        const double written = static_cast<double>(frames) / f.rate;
        // ffprobe reads the play duration in whole milliseconds, cut down.
        EXPECT_GT(p.durationS, written - 0.001);
        EXPECT_LE(p.durationS, written + 0.1);
    }
}

TEST(WriteIntegration, BitrateWithNoFormatNearbyIsRefused) {
    const std::string path = media::Dir() + "/no-such-format.wma";
    AudioFormatInfo info = Request(44100, 2, 100);
    EXPECT_EQ(InitWMAWriteFile(path.c_str(), &info), 0);
    info = Request(44100, 1, 128);  // a bitrate only stereo offers
    EXPECT_EQ(InitWMAWriteFile(path.c_str(), &info), 0);
    info = Request(96000, 2, 128);
    EXPECT_EQ(InitWMAWriteFile(path.c_str(), &info), 0);
}

// Odd byte counts: blocks split samples as well as frames. The file query
// reads what was asked for and written.
TEST(WriteIntegration, SweptSineComesBackWholeAt128k) {
    REQUIRE_FFMPEG();
    const std::string path = media::Dir() + "/sweep-128k.wma";
    const std::vector<int16_t> pcm = Sweep(44100, 2, 44100 * 3);
    ASSERT_TRUE(Encode(path, Request(44100, 2, 128), pcm, {4097, 1, 17641, 333, 65537}));
    const std::vector<int16_t> decoded = media::DecodeWithFfmpeg(path);
    ASSERT_FALSE(decoded.empty());
    long offset = -1;
    const double snr = media::AlignedSnr(pcm, decoded, 2, &offset);
    RecordProperty("offset_samples", static_cast<int>(offset));
    RecordProperty("snr_centi_db", static_cast<int>(snr * 100));
    EXPECT_GE(snr, 40.0) << "codec delay " << offset / 2 << " frames";

    AudioFormatInfo info{};
    ASSERT_EQ(GetWmaFileInfo(path.c_str(), &info), 1);
    EXPECT_EQ(info.sampleRate, 44100u);
    EXPECT_EQ(info.channels, 2u);
    EXPECT_EQ(info.bitrateKbps, 128u);
    EXPECT_NEAR(static_cast<double>(info.durationMs), 3000.0, 50.0);
}

// What the host wrote comes back, no more and no less, whatever the block
// sizes and however the count falls against the codec's frames. ffmpeg's own
// decode keeps the padding of the last frame (it does not cut at the file's
// duration): ours must be the start of it, and ffprobe's duration (whole
// milliseconds, cut down) that of the frames written.
TEST(WriteIntegration, ARoundTripDeliversExactlyTheFramesWritten) {
    REQUIRE_FFMPEG();
    struct Case {
        Format format;
        std::vector<size_t> counts;
    };
    const Case cases[] = {
        {{128000, 2, 44100}, {1, 2047, 10'000, 13'231, 441'000, 13'230'000}},
        {{48000, 1, 44100}, {1, 2048, 10'000}},
        {{32000, 2, 22050}, {2047, 10'000, 441'000}},
        {{192000, 2, 48000}, {1, 10'000, 13'231}},
    };
    for (const Case& c : cases) {
        const Format& f = c.format;
        for (const size_t frames : c.counts) {
            const std::string name = "exact-" + std::to_string(f.rate) + "-" +
                                     std::to_string(f.channels) + "-" + std::to_string(frames);
            SCOPED_TRACE(name);
            const std::string path = media::Dir() + "/" + name + ".wma";
            const std::vector<int16_t> pcm = Sweep(f.rate, f.channels, frames);
            ASSERT_TRUE(
                Encode(path, Request(f.rate, f.channels, f.bitrate / 1000), pcm, {1111, 3, 4097}));
            const std::vector<int16_t> ours = DecodeCollector::Decode(path).pcm;
            EXPECT_EQ(ours.size(), pcm.size());
            const std::vector<int16_t> theirs = media::DecodeWithFfmpeg(path);
            ASSERT_LE(ours.size(), theirs.size());
            EXPECT_TRUE(std::equal(ours.begin(), ours.end(), theirs.begin()));
            const double seconds = static_cast<double>(frames) / f.rate;
            EXPECT_LE(media::ProbeFile(path).durationS, seconds);
            EXPECT_GT(media::ProbeFile(path).durationS, seconds - 0.001);
        }
    }
}

}  // namespace
