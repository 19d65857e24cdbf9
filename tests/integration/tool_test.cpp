// SPDX-License-Identifier: MIT
// The mervane tool on the audio files people have: inputs made by ffmpeg in
// several containers and sample formats, encoded and decoded back to FLAC, each
// step checked with ffprobe and ffmpeg's own decode; and its JSON, read by jq.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "media.h"
#include "mervane.h"

#ifdef MERVANE_TOOL
namespace {

#define REQUIRE_FFMPEG() \
    if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed"

std::string Tool(const std::string& args) {
    return std::string("'") + MERVANE_TOOL + "' " + args;
}

// A sweep up on the left and down on the right: no stretch of it looks like
// another, so aligning a decode with it is unambiguous and swapped channels show.
const std::string kSweeps =
    "-f lavfi -i aevalsrc='0.5*sin(2*PI*(100+500*t)*t)|0.5*sin(2*PI*(3000-400*t)*t)'"
    ":s=44100:d=3 -c:a ";

TEST(ToolIntegration, EncodesAudioFilesAndDecodesThemToFlac) {
    REQUIRE_FFMPEG();
    const struct {
        const char* name;  // the container follows the extension
        const char* codec;
    } inputs[] = {
        {"tool.flac", "flac"},
        {"tool-s24.wav", "pcm_s24le"},  // ffmpeg writes it as
                                        // WAVE_FORMAT_EXTENSIBLE
        {"tool.aiff", "pcm_s16be"},
        {"tool-f32.wav", "pcm_f32le"},
        {"tool.ogg", "libvorbis"},
    };
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        const std::string source = media::MakeWithFfmpeg(input.name, kSweeps + input.codec);
        ASSERT_FALSE(source.empty());
        const std::string wma = source + ".wma", flac = source + ".flac";
        ASSERT_EQ(media::Run(Tool("encode '" + source + "' '" + wma + "'")), 0);
        const media::Probe p = media::ProbeFile(wma);
        EXPECT_EQ(p.codec, "wmav2");
        EXPECT_EQ(p.sampleRate, 44100);
        EXPECT_EQ(p.channels, 2);
        EXPECT_NEAR(p.durationS, 3.0, 0.05);
        // What the tool read is what ffmpeg reads, through a lossy codec.
        EXPECT_GE(
            media::AlignedSnr(media::DecodeWithFfmpeg(source), media::DecodeWithFfmpeg(wma), 2),
            40.0);

        ASSERT_EQ(media::Run(Tool("decode '" + wma + "' '" + flac + "'")), 0);
        const media::Probe f = media::ProbeFile(flac);
        EXPECT_EQ(f.codec, "flac");
        EXPECT_EQ(f.sampleFormat, "s16");
        EXPECT_EQ(f.sampleRate, 44100);
        EXPECT_EQ(f.channels, 2);
        // The FLAC file holds the library's decode: 3 s, which is ffmpeg's decode
        // of the same WMA file to within one step (ffmpeg's goes on into the
        // last codec frame's padding).
        const std::vector<int16_t> ours = media::DecodeWithFfmpeg(flac);
        const std::vector<int16_t> theirs = media::DecodeWithFfmpeg(wma);
        ASSERT_EQ(ours.size(), 3u * 44100 * 2);
        ASSERT_LE(ours.size(), theirs.size());
        int worst = 0;
        for (size_t i = 0; i < ours.size(); ++i)
            worst = std::max(worst, std::abs(int(ours[i]) - int(theirs[i])));
        EXPECT_LE(worst, 1);
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> g_formats;
int32_t MERVANE_CALL CollectFormat(uint32_t bitrate, uint32_t channels, uint32_t rate) {
    g_formats.push_back(std::to_string(bitrate) + " " + std::to_string(channels) + " " +
                        std::to_string(rate));
    return 0;
}

TEST(ToolIntegration, JsonOutputParsesAndAgreesWithFfprobe) {
    REQUIRE_FFMPEG();
    ASSERT_EQ(media::Run("jq --version >/dev/null 2>&1"), 0) << "jq is not installed";
    const std::string wma = media::MakeWma("tool-json.wma", "sine=frequency=440:duration=2",
                                           "-ar 32000 -ac 2 -b:a 48k");
    ASSERT_FALSE(wma.empty());
    const media::Probe p = media::ProbeFile(wma);
    std::string out;
    ASSERT_EQ(media::Run(Tool("info --json '" + wma +
                              "' | jq -r '.formatKind, .sampleRate, .channels, .bitrateKbps, "
                              ".durationMs'"),
                         &out),
              0);
    const std::vector<std::string> info = Lines(out);
    ASSERT_EQ(info.size(), 5u) << out;
    EXPECT_EQ(info[0], "3");
    EXPECT_EQ(std::stoi(info[1]), p.sampleRate);
    EXPECT_EQ(std::stoi(info[2]), p.channels);
    EXPECT_NEAR(std::stod(info[3]), p.bitRate / 1000.0, 1.0);
    EXPECT_NEAR(std::stod(info[4]), p.durationS * 1000, 50.0);

    // Quotes, a backslash and UTF-8 survive the escaping; ffprobe reads the same title.
    const std::string title = "Say \"hi\" \\ \xC3\xA9t\xC3\xA9";
    ASSERT_EQ(
        media::Run(Tool("tags '" + wma + "' --title '" + title + "' --json | jq -r .title"), &out),
        0);
    EXPECT_EQ(out, title + "\n");
    EXPECT_EQ(media::ProbeFile(wma).title, title);

    g_formats.clear();
    EnumWMAFormat(CollectFormat);
    ASSERT_EQ(media::Run(Tool("formats --json | jq -r '.formats[] | \"\\(.bitrate) "
                              "\\(.channels) \\(.sampleRate)\"'"),
                         &out),
              0);
    EXPECT_EQ(Lines(out), g_formats);
}

}  // namespace
#endif
