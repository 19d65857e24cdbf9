// SPDX-License-Identifier: MIT
// Test media for the integration tests: files made with Debian's ffmpeg at test
// time, and the independent tools' view of them (ffprobe, ffmpeg's own decode).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mervane.h"

// Skips a test that needs the independent tools where they are missing.
#define REQUIRE_FFMPEG() \
    if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed"

namespace media {

// Runs a shell command; returns its exit status and, when `out` is given, its
// standard output.
int Run(const std::string& command, std::string* out = nullptr);

bool HaveFfmpeg();

// A folder shared by the tests of one run (made once, kept for the run).
const std::string& Dir();

// Makes (once) a WMA 2 file with ffmpeg from a lavfi source and returns its path.
// `source` is a lavfi graph such as "sine=frequency=440:duration=3"; `options`
// are ffmpeg output options such as "-ar 44100 -ac 2 -b:a 128k".
std::string MakeWma(const std::string& name, const std::string& source, const std::string& options);
// Any file made by an ffmpeg command line "ffmpeg -y <args> OUT".
std::string MakeWithFfmpeg(const std::string& name, const std::string& args);
// A copy of `from` in Dir() under `name`; its path, or empty when it failed.
std::string CopyAs(const std::string& from, const std::string& name);
// Writes bytes to a file in Dir() and returns its path.
std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

struct Probe {
    std::string codec;
    int sampleRate = 0;
    int channels = 0;
    long bitRate = 0;          // the stream's, bit/s (0 when ffprobe has none)
    std::string sampleFormat;  // ffmpeg's name, such as s16
    double durationS = 0;      // the format's duration
    std::string title, artist, album;
};
Probe ProbeFile(const std::string& path);

// ffmpeg's decode of a file as interleaved 16-bit samples: of the stream it
// picks, or of the stream at `index` (-map 0:index).
std::vector<int16_t> DecodeWithFfmpeg(const std::string& path, int index = -1);

// The offset (in interleaved samples, a multiple of `channels`) at which
// `needle`'s start best matches inside `hay`, searching offsets 0..maxOffset
// frames; returns -1 if nothing matched.
long BestAlignment(const std::vector<int16_t>& hay, const std::vector<int16_t>& needle,
                   int channels, long maxOffsetFrames);

// SNR in dB of `decoded` against `input` over the whole input, after finding
// the codec delay; samples the decode lacks count as silence.
double AlignedSnr(const std::vector<int16_t>& input, const std::vector<int16_t>& decoded,
                  int channels, long* offsetOut = nullptr);

// A tag record holding the six texts, each cut to its field.
SongInfo Song(const char* title, const char* author, const char* album, const char* year,
              const char* track, const char* genreId);

}  // namespace media
