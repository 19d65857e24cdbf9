// SPDX-License-Identifier: MIT
// The mervane tool on the audio files people have: inputs made by ffmpeg in
// several containers and sample formats, encoded and decoded back to FLAC, each
// step checked with ffprobe and ffmpeg's own decode; its JSON, read by jq; many
// files at once, pipes, the progress line on a terminal, and its version.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "media.h"
#include "mervane.h"

#ifdef MERVANE_TOOL
namespace {

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

TEST(ToolIntegration, TranscodesAWmaFileToAnotherBitrate) {
    REQUIRE_FFMPEG();
    const std::string source = media::MakeWma(
        "transcode-source.wma", "sine=frequency=440:duration=3", "-ar 44100 -ac 2 -b:a 128k");
    ASSERT_FALSE(source.empty());
    const std::string out = media::Dir() + "/transcoded-96k.wma";
    std::remove(out.c_str());
    ASSERT_EQ(media::Run(Tool("transcode '" + source + "' '" + out + "' --bitrate 96 2>/dev/null")),
              0);
    const media::Probe p = media::ProbeFile(out);
    EXPECT_EQ(p.codec, "wmav2");
    EXPECT_EQ(p.sampleRate, 44100);
    EXPECT_EQ(p.channels, 2);
    EXPECT_NEAR(static_cast<double>(p.bitRate), 96000.0, 1000.0);
    EXPECT_NEAR(p.durationS, media::ProbeFile(source).durationS, 0.15);
    EXPECT_FALSE(media::DecodeWithFfmpeg(out).empty());
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

// Rate, channels and seconds of a stream ffprobe reads from a pipe, where no
// header states a length: the seconds are its packets' summed durations.
std::string ProbePipe(const std::string& producer) {
    std::string out;
    media::Run(
        producer +
            " | ffprobe -v error -show_entries stream=codec_name,sample_rate,channels "
            "-show_entries packet=duration_time -of csv=p=0 - | awk -F, "
            "'NF == 3 { shape = $0 } NF == 1 { s += $1 } END { printf \"%s,%.3f\", shape, s }'",
        &out);
    return out;
}

TEST(ToolIntegration, PipesCarryAudioInAndOut) {
    REQUIRE_FFMPEG();
    const std::string flac = media::MakeWithFfmpeg("tool-pipe.flac", kSweeps + "flac");
    ASSERT_FALSE(flac.empty());
    const std::string wma = flac + ".wma", fromWav = flac + "-wav.wma";
    // FLAC must be read from the pipe's first byte on; ffmpeg's WAV to a pipe
    // states 0xFFFFFFFF bytes.
    ASSERT_EQ(media::Run("cat '" + flac + "' | " + Tool("encode - '" + wma + "'")), 0);
    ASSERT_EQ(media::Run("ffmpeg -v error -i '" + flac + "' -f wav - | " +
                         Tool("encode - '" + fromWav + "'")),
              0);
    for (const std::string& file : {wma, fromWav}) {
        const media::Probe p = media::ProbeFile(file);
        EXPECT_EQ(p.codec, "wmav2");
        EXPECT_NEAR(p.durationS, 3.0, 0.05);
    }
    // Standard output carries the audio alone, whole: 3 s at 44.1 kHz stereo.
    EXPECT_EQ(ProbePipe(Tool("decode '" + wma + "' -")), "pcm_s16le,44100,2,3.000");
    EXPECT_EQ(ProbePipe(Tool("decode '" + wma + "' - --flac")), "flac,44100,2,3.000");
}

TEST(ToolIntegration, ManyFilesEachAnsweredTheFirstFailureExits) {
    REQUIRE_FFMPEG();
    const std::string good = media::MakeWma("tool-many.wma", "sine=duration=1", "-ar 44100 -ac 2");
    ASSERT_FALSE(good.empty());
    const std::vector<uint8_t> bytes = media::ReadFile(good);
    const std::string other = media::WriteFile("tool-many-2.wma", bytes);
    const std::string corrupt = media::WriteFile(
        "tool-many-corrupt.wma", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 300));
    const std::string missing = media::Dir() + "/tool-many-missing.wma";
    const std::string lines = media::Dir() + "/tool-many.jsonl";
    EXPECT_EQ(media::Run(Tool("info --json '" + missing + "' '" + good + "' '" + corrupt + "' > '" +
                              lines + "' 2>/dev/null")),
              4);
    std::string out;
    ASSERT_EQ(
        media::Run("jq -r 'if .error then \"error\" else .sampleRate end' '" + lines + "'", &out),
        0);
    EXPECT_EQ(Lines(out), (std::vector<std::string>{"error", "44100", "error"}));

    // Every file is tried: the corrupt one between does not stop the second.
    EXPECT_EQ(media::Run(Tool("tags --album Many '" + good + "' '" + corrupt + "' '" + other +
                              "' >/dev/null 2>&1")),
              1);
    EXPECT_EQ(media::ProbeFile(good).album, "Many");
    EXPECT_EQ(media::ProbeFile(other).album, "Many");
}

TEST(ToolIntegration, ProgressLineOnATerminalRedrawsAtMostTenTimesASecond) {
    REQUIRE_FFMPEG();
    const std::string wav = media::MakeWithFfmpeg(
        "tool-progress.wav", "-f lavfi -i sine=duration=120:sample_rate=44100 -ac 2");
    ASSERT_FALSE(wav.empty());
    const std::string wma = wav + ".wma";
    const auto began = std::chrono::steady_clock::now();
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(MERVANE_TOOL, "mervane", "encode", wav.c_str(), wma.c_str(), (char*)nullptr);
        _exit(127);
    }
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
    int status = 0;
    waitpid(child, &status, 0);
    close(terminal);
    const double elapsedS =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
    // Drawn at once, then once a tenth of a second at most, then the totals:
    // the progress lines (each says what is left) are counted, not the
    // carriage returns, which the totals line brings more of.
    long redraws = 0;
    for (size_t at = shown.find(" left"); at != std::string::npos; at = shown.find(" left", at + 1))
        ++redraws;
    EXPECT_GE(redraws, 1) << shown;
    EXPECT_LE(redraws, 10 * elapsedS + 1) << shown;
    EXPECT_NE(shown.find(" / 2:00.0 "), std::string::npos) << shown;
    EXPECT_NE(shown.find(" left"), std::string::npos) << shown;
    EXPECT_NE(shown.find("2:00.0 of audio in "), std::string::npos) << shown;
    EXPECT_NE(shown.find("x real time"), std::string::npos) << shown;
}

TEST(ToolIntegration, VersionNamesTheToolLibraryFfmpegAndLibsndfile) {
    REQUIRE_FFMPEG();
    std::string out, ffmpeg;
    ASSERT_EQ(media::Run(Tool("--version"), &out), 0);
    ASSERT_EQ(media::Run("ffmpeg -version | head -n 1 | cut -d' ' -f3", &ffmpeg), 0);
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 4u) << out;
    EXPECT_EQ(lines[0], std::string("mervane ") + MERVANE_VERSION);
    EXPECT_EQ(lines[1], std::string("libmervane ") + MERVANE_VERSION);
    EXPECT_EQ(lines[2].rfind("FFmpeg " + Lines(ffmpeg).at(0) + " ", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3].rfind("libsndfile-1.", 0), 0u) << lines[3];
}

}  // namespace
#endif
