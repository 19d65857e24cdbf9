// SPDX-License-Identifier: MIT
#include "media.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace media {

int Run(const std::string& command, std::string* out) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::string text;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) text.append(chunk, n);
    const int status = pclose(pipe);
    if (out != nullptr) *out = std::move(text);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveFfmpeg() {
    static const bool have = Run("ffmpeg -version >/dev/null 2>&1 && ffprobe -version "
                                 ">/dev/null 2>&1") == 0;
    return have;
}

const std::string& Dir() {
    static const std::string dir = [] {
        const char* fromEnv = std::getenv("MERVANE_TEST_MEDIA");
        std::string path;
        if (fromEnv != nullptr && *fromEnv != '\0') {
            path = fromEnv;
            mkdir(path.c_str(), 0755);
        } else {
            char pattern[] = "/tmp/mervane-media-XXXXXX";
            const char* made = mkdtemp(pattern);
            path = made != nullptr ? made : "/tmp";
        }
        return path;
    }();
    return dir;
}

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// Makes `path` with a command writing to a temporary name, then renames it, so
// tests running in parallel never see a half-written file.
std::string MakeOnce(const std::string& path, const std::string& commandBeforeOutput) {
    if (Exists(path)) return path;
    const std::string temp =
        path + ".part" + std::to_string(getpid()) + path.substr(path.rfind('.'));
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " +
                                commandBeforeOutput + " '" + temp + "'";
    if (Run(command) != 0 || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return {};
    }
    return path;
}

std::string Field(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    return {};
}

}  // namespace

std::string MakeWma(const std::string& name, const std::string& source,
                    const std::string& options) {
    return MakeOnce(Dir() + "/" + name, "-f lavfi -i '" + source + "' -c:a wmav2 " + options);
}

std::string MakeWithFfmpeg(const std::string& name, const std::string& args) {
    return MakeOnce(Dir() + "/" + name, args);
}

std::string CopyAs(const std::string& from, const std::string& name) {
    const std::string path = Dir() + "/" + name;
    return !from.empty() && Run("cp '" + from + "' '" + path + "'") == 0 ? path : std::string();
}

std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = Dir() + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    return path;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

Probe ProbeFile(const std::string& path) {
    std::string text;
    Run("ffprobe -v error -select_streams a:0 -show_entries "
        "stream=codec_name,sample_fmt,sample_rate,channels,bit_rate:format=duration:format_tags="
        "title,"
        "artist,author,album -of default=noprint_wrappers=1 '" +
            path + "'",
        &text);
    Probe probe;
    probe.codec = Field(text, "codec_name");
    probe.sampleFormat = Field(text, "sample_fmt");
    probe.sampleRate = std::atoi(Field(text, "sample_rate").c_str());
    probe.channels = std::atoi(Field(text, "channels").c_str());
    probe.bitRate = std::atol(Field(text, "bit_rate").c_str());
    probe.durationS = std::atof(Field(text, "duration").c_str());
    probe.title = Field(text, "TAG:title");
    probe.artist = Field(text, "TAG:artist");
    if (probe.artist.empty()) probe.artist = Field(text, "TAG:author");
    probe.album = Field(text, "TAG:album");
    return probe;
}

std::vector<int16_t> DecodeWithFfmpeg(const std::string& path, int index) {
    std::string bytes;
    const std::string map = index < 0 ? "" : " -map 0:" + std::to_string(index);
    Run("ffmpeg -nostdin -v error -i '" + path + "'" + map + " -f s16le -acodec pcm_s16le -",
        &bytes);
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

long BestAlignment(const std::vector<int16_t>& hay, const std::vector<int16_t>& needle,
                   int channels, long maxOffsetFrames) {
    const size_t window = std::min<size_t>(needle.size(), 4096 * static_cast<size_t>(channels));
    long best = -1;
    double bestError = 0;
    for (long frame = 0; frame <= maxOffsetFrames; ++frame) {
        const size_t offset = static_cast<size_t>(frame) * static_cast<size_t>(channels);
        if (offset + window > hay.size()) break;
        double error = 0;
        for (size_t i = 0; i < window; ++i) {
            const double d = double(hay[offset + i]) - double(needle[i]);
            error += d * d;
        }
        if (best < 0 || error < bestError) {
            best = static_cast<long>(offset);
            bestError = error;
        }
    }
    return best;
}

double AlignedSnr(const std::vector<int16_t>& input, const std::vector<int16_t>& decoded,
                  int channels, long* offsetOut) {
    const long offset = BestAlignment(decoded, input, channels, 3 * 2048);
    if (offsetOut != nullptr) *offsetOut = offset;
    if (offset < 0) return -1000;
    double signal = 0, noise = 0;
    for (size_t i = 0; i < input.size(); ++i) {
        const size_t j = static_cast<size_t>(offset) + i;
        const double x = input[i];
        const double y = j < decoded.size() ? decoded[j] : 0.0;
        signal += x * x;
        noise += (x - y) * (x - y);
    }
    return noise == 0 ? 1000 : 10 * std::log10(signal / noise);
}

SongInfo Song(const char* title, const char* author, const char* album, const char* year,
              const char* track, const char* genreId) {
    SongInfo song{};
    const auto put = [](char* field, size_t size, const char* text) {
        std::strncpy(field, text, size - 1);
    };
    put(song.title, sizeof song.title, title);
    put(song.author, sizeof song.author, author);
    put(song.album, sizeof song.album, album);
    put(song.year, sizeof song.year, year);
    put(song.track, sizeof song.track, track);
    put(song.genreId, sizeof song.genreId, genreId);
    return song;
}

}  // namespace media
