// mervane: a command-line host for the library. It uses nothing but the nine
// exported functions, the way any host application would.
#include "mervane.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "wav.h"

namespace {

enum Exit { kOk = 0, kFailed = 1, kUsage = 2, kUnsupported = 3, kNoFile = 4 };

const char kUsageText[] =
    "usage: mervane COMMAND [ARGS]\n"
    "\n"
    "  info FILE.wma                      sample rate, channels, bitrate, duration\n"
    "  decode FILE.wma OUT.wav [--start MS]\n"
    "                                     decode to 16-bit PCM, optionally from a position\n"
    "  encode IN.wav OUT.wma [--bitrate KBPS]\n"
    "                                     encode 16-bit PCM (default 128 kbit/s); the rate,\n"
    "                                     channels and bitrate must be a listed format\n"
    "  transcode IN.wma OUT.wma [--bitrate KBPS]\n"
    "                                     decode and re-encode in one pass at the same rate\n"
    "                                     and channel count\n"
    "  tags FILE.wma [--title T] [--author A] [--album A] [--year Y] [--track N] [--genre G]\n"
    "                                     show the song tags, or set the ones given\n"
    "  formats                            list the codec formats on offer\n"
    "\n"
    "Exit status: 0 success, 1 the library reported a failure, 2 usage error,\n"
    "3 unsupported format or bitrate, 4 input file missing or unreadable.\n";

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "mervane: %s\n", message.c_str());
    return code;
}

bool IsReadableFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), R_OK) == 0;
}

// Options of the form --name VALUE after the positional arguments.
bool ParseOptions(int argc, char** argv, int first, std::map<std::string, std::string>& options,
                  std::vector<std::string>& positional) {
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) == 0) {
            if (i + 1 >= argc) return false;
            options[arg.substr(2)] = argv[++i];
        } else {
            positional.push_back(arg);
        }
    }
    return true;
}

bool ParseNumber(const std::string& text, uint32_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// ---- Formats ---------------------------------------------------------------------

struct Format {
    uint32_t bitrate, channels, sampleRate;
};
std::vector<Format>* g_formats = nullptr;

int32_t MERVANE_CALL CollectFormat(uint32_t bitrate, uint32_t channels, uint32_t sampleRate) {
    g_formats->push_back({bitrate, channels, sampleRate});
    return 0;
}

std::vector<Format> ListFormats() {
    std::vector<Format> formats;
    g_formats = &formats;
    EnumWMAFormat(CollectFormat);
    g_formats = nullptr;
    return formats;
}

// Checks that the library offers an encoding of this shape; explains when not.
int CheckEncodable(uint32_t rate, uint32_t channels, uint32_t kbps) {
    bool shape = false;
    for (const Format& f : ListFormats()) {
        if (f.sampleRate != rate || f.channels != channels) continue;
        shape = true;
        const long diff = long(f.bitrate) - long(kbps) * 1000;
        if (diff > -250 && diff < 250) return kOk;
    }
    if (!shape)
        return Fail(kUnsupported, "no codec format for " + std::to_string(rate) + " Hz with " +
                                      std::to_string(channels) +
                                      " channel(s); see 'mervane formats'");
    std::string offered;
    for (const Format& f : ListFormats())
        if (f.sampleRate == rate && f.channels == channels)
            offered += " " + std::to_string((f.bitrate + 500) / 1000);
    return Fail(kUnsupported, "no codec format at " + std::to_string(kbps) + " kbit/s for " +
                                  std::to_string(rate) + " Hz, " + std::to_string(channels) +
                                  " channel(s); offered (kbit/s):" + offered);
}

int Formats() {
    const std::vector<Format> formats = ListFormats();
    std::printf("%-10s %-9s %s\n", "kbit/s", "channels", "rate (Hz)");
    for (const Format& f : formats)
        std::printf("%-10.3g %-9u %u\n", f.bitrate / 1000.0, f.channels, f.sampleRate);
    if (formats.empty()) return Fail(kFailed, "no codec formats are offered");
    return kOk;
}

// ---- Information ------------------------------------------------------------------

// Whether the file's header carries the signs of DRM protection: a Content
// Encryption or Extended Content Encryption Object, or a stream flagged
// encrypted. The library refuses such files without saying why.
bool LooksProtected(const std::string& path) {
    static const unsigned char kEncryption[16] = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11,
                                                  0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E};
    static const unsigned char kExtEncryption[16] = {0x14, 0xE6, 0x8A, 0x29, 0x22, 0x26,
                                                     0x17, 0x4C, 0xB9, 0x35, 0xDA, 0xE0,
                                                     0x7E, 0xE9, 0x28, 0x9C};
    static const unsigned char kStream[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                              0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    std::vector<unsigned char> head(64 * 1024);
    head.resize(std::fread(head.data(), 1, head.size(), in));
    std::fclose(in);
    const auto le = [&](size_t at, int n) {
        uint64_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = (v << 8) | head[at + size_t(i)];
        return v;
    };
    const size_t end = head.size() < 30 ? 0 : size_t(std::min<uint64_t>(le(16, 8), head.size()));
    for (size_t at = 30; at + 24 <= end;) {
        const uint64_t size = le(at + 16, 8);
        if (size < 24 || size > end - at) break;
        const unsigned char* id = head.data() + at;
        if (std::memcmp(id, kEncryption, 16) == 0 || std::memcmp(id, kExtEncryption, 16) == 0)
            return true;
        if (std::memcmp(id, kStream, 16) == 0 && size >= 74 && (le(at + 72, 2) & 0x8000) != 0)
            return true;
        at += size;
    }
    return false;
}

// Why GetWmaFileInfo refused a file, as far as the tool can tell.
int Unreadable(const std::string& path) {
    if (LooksProtected(path))
        return Fail(kFailed, path + " is protected (DRM): its audio cannot be decoded");
    return Fail(kFailed, path + " is not a readable Windows Media Audio file");
}

int Info(const std::string& path) {
    if (!IsReadableFile(path)) return Fail(kNoFile, "cannot read " + path);
    AudioFormatInfo info{};
    if (GetWmaFileInfo(path.c_str(), &info) != 1) return Unreadable(path);
    std::printf(
        "sample rate: %u Hz\nchannels:    %u\nbitrate:     %u kbit/s\nduration:    "
        "%u.%03u s\n",
        info.sampleRate, info.channels, info.bitrateKbps, info.durationMs / 1000,
        info.durationMs % 1000);
    return kOk;
}

// ---- Decoding --------------------------------------------------------------------

// What a decode's SampleCallback does with each block, and how the main thread
// waits for the end call.
struct DecodeSink {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    bool failed = false;
    uint64_t bytes = 0;
    uint32_t lastMs = 0;
    FILE* out = nullptr;     // decode: the WAV file
    bool toEncoder = false;  // transcode: each block goes to WriteWMAFile
};
DecodeSink* g_sink = nullptr;

int32_t MERVANE_CALL OnSamples(const void* data, uint32_t byteCount, uint32_t timeMs) {
    DecodeSink& sink = *g_sink;
    if (data == nullptr && byteCount == 0 && timeMs == 0) {
        std::lock_guard<std::mutex> lock(sink.mutex);
        sink.done = true;
        sink.ended.notify_all();
        return 0;
    }
    bool ok = true;
    if (sink.out != nullptr) ok = std::fwrite(data, 1, byteCount, sink.out) == byteCount;
    if (sink.toEncoder) ok = WriteWMAFile(data, byteCount) == 1;
    std::lock_guard<std::mutex> lock(sink.mutex);
    sink.failed = sink.failed || !ok;
    sink.bytes += byteCount;
    sink.lastMs = timeMs;
    return 0;
}

// Runs a decode to its end call, showing progress on a terminal.
bool RunDecode(const std::string& path, uint32_t startMs, uint32_t durationMs, DecodeSink& sink) {
    g_sink = &sink;
    if (GoGoGoReader(path.c_str(), startMs, 1, OnSamples) != 1) return false;
    const bool progress = isatty(STDERR_FILENO) != 0 && durationMs > 0;
    std::unique_lock<std::mutex> lock(sink.mutex);
    while (!sink.ended.wait_for(lock, std::chrono::milliseconds(200), [&] { return sink.done; })) {
        if (progress)
            std::fprintf(stderr, "\r%3u%%", std::min(100u, sink.lastMs * 100u / durationMs));
    }
    if (progress) std::fprintf(stderr, "\r100%%\n");
    return !sink.failed;
}

// After a decode from `startMs`: says so when the audio received falls more
// than a second short of (or beyond) the file's duration, as a truncated
// file's does. False when there was no audio at all.
bool CheckLength(const std::string& path, const AudioFormatInfo& info, uint32_t startMs,
                 const DecodeSink& sink) {
    if (sink.bytes == 0) {
        Fail(kFailed, path + " gives no audio");
        return false;
    }
    const uint64_t frameBytes = uint64_t{info.channels} * 2;
    const uint64_t receivedMs = sink.bytes / frameBytes * 1000 / info.sampleRate;
    const uint64_t expectedMs = info.durationMs > startMs ? info.durationMs - startMs : 0;
    const uint64_t apart =
        receivedMs > expectedMs ? receivedMs - expectedMs : expectedMs - receivedMs;
    if (apart > 1000) {
        std::fprintf(stderr,
                     "mervane: warning: %s gave %llu.%03llu s of audio where its header says "
                     "%llu.%03llu s (a truncated file?)\n",
                     path.c_str(), static_cast<unsigned long long>(receivedMs / 1000),
                     static_cast<unsigned long long>(receivedMs % 1000),
                     static_cast<unsigned long long>(expectedMs / 1000),
                     static_cast<unsigned long long>(expectedMs % 1000));
    }
    return true;
}

int Decode(const std::string& in, const std::string& outPath, uint32_t startMs) {
    if (!IsReadableFile(in)) return Fail(kNoFile, "cannot read " + in);
    AudioFormatInfo info{};
    if (GetWmaFileInfo(in.c_str(), &info) != 1) return Unreadable(in);
    FILE* out = std::fopen(outPath.c_str(), "wb");
    if (out == nullptr) return Fail(kFailed, "cannot create " + outPath);
    WavFormat format;
    format.sampleRate = info.sampleRate;
    format.channels = static_cast<uint16_t>(info.channels);
    format.bitsPerSample = 16;
    DecodeSink sink;
    sink.out = out;
    bool ok = BeginWav(out, format) && RunDecode(in, startMs, info.durationMs, sink);
    ok = FinishWav(out, sink.bytes) && ok;
    ok = std::fclose(out) == 0 && ok;
    if (!ok) return Fail(kFailed, "decoding " + in + " failed");
    if (!CheckLength(in, info, startMs, sink)) {
        std::remove(outPath.c_str());  // no empty WAV
        return kFailed;
    }
    return kOk;
}

// ---- Encoding --------------------------------------------------------------------

int Encode(const std::string& in, const std::string& outPath, uint32_t kbps) {
    if (!IsReadableFile(in)) return Fail(kNoFile, "cannot read " + in);
    FILE* wav = std::fopen(in.c_str(), "rb");
    if (wav == nullptr) return Fail(kNoFile, "cannot read " + in);
    WavFormat format;
    uint64_t dataBytes = 0;
    std::string error;
    if (!OpenWavForReading(wav, format, dataBytes, error)) {
        std::fclose(wav);
        return Fail(kUnsupported, in + ": " + error);
    }
    if (format.bitsPerSample != 16) {
        std::fclose(wav);
        return Fail(kUnsupported, in + ": only 16-bit PCM can be encoded");
    }
    if (const int check = CheckEncodable(format.sampleRate, format.channels, kbps)) {
        std::fclose(wav);
        return check;
    }
    AudioFormatInfo request{};
    request.sampleRate = format.sampleRate;
    request.channels = format.channels;
    request.bitrateKbps = kbps;
    if (InitWMAWriteFile(outPath.c_str(), &request) != 1) {
        std::fclose(wav);
        return Fail(kFailed, "cannot start writing " + outPath);
    }
    const bool progress = isatty(STDERR_FILENO) != 0;
    std::vector<unsigned char> block(format.sampleRate * format.channels * 2 / 10 + 2);
    uint64_t done = 0;
    bool ok = true;
    while (ok && done < dataBytes) {
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(block.size() & ~size_t(1), dataBytes - done));
        const size_t got = std::fread(block.data(), 1, want, wav);
        if (got == 0) break;  // data chunk longer than the file: encode what is there
        ok = WriteWMAFile(block.data(), static_cast<uint32_t>(got)) == 1;
        done += got;
        if (progress) std::fprintf(stderr, "\r%3u%%", unsigned(done * 100 / dataBytes));
    }
    if (progress) std::fprintf(stderr, "\n");
    std::fclose(wav);
    const int32_t closed = CloseWMAWriteFile();
    if (!ok) return Fail(kFailed, "encoding failed");
    if (closed != 0) return Fail(kFailed, "finishing " + outPath + " failed");
    return kOk;
}

int Transcode(const std::string& in, const std::string& outPath, uint32_t kbps) {
    if (!IsReadableFile(in)) return Fail(kNoFile, "cannot read " + in);
    AudioFormatInfo info{};
    if (GetWmaFileInfo(in.c_str(), &info) != 1) return Unreadable(in);
    if (const int check = CheckEncodable(info.sampleRate, info.channels, kbps)) return check;
    AudioFormatInfo request{};
    request.sampleRate = info.sampleRate;
    request.channels = info.channels;
    request.bitrateKbps = kbps;
    if (InitWMAWriteFile(outPath.c_str(), &request) != 1)
        return Fail(kFailed, "cannot start writing " + outPath);
    DecodeSink sink;
    sink.toEncoder = true;
    const bool decoded = RunDecode(in, 0, info.durationMs, sink);
    const int32_t closed = CloseWMAWriteFile();
    if (!decoded) return Fail(kFailed, "transcoding " + in + " failed");
    if (!CheckLength(in, info, 0, sink)) {
        std::remove(outPath.c_str());
        return kFailed;
    }
    if (closed != 0) return Fail(kFailed, "finishing " + outPath + " failed");
    return kOk;
}

// ---- Tags -----------------------------------------------------------------------------

int Tags(const std::string& path, const std::map<std::string, std::string>& options) {
    if (!IsReadableFile(path)) return Fail(kNoFile, "cannot read " + path);
    SongInfo song;
    std::memset(&song, 0, sizeof song);
    if (GetWmaSongInfo(path.c_str(), &song) != 1)
        return Fail(kFailed, "cannot read the tags of " + path);
    struct Field {
        const char* option;
        const char* label;
        char* text;
        size_t size;
    } fields[] = {
        {"title", "title", song.title, sizeof song.title},
        {"author", "author", song.author, sizeof song.author},
        {"album", "album", song.album, sizeof song.album},
        {"year", "year", song.year, sizeof song.year},
        {"track", "track", song.track, sizeof song.track},
        {"genre", "genre id", song.genreId, sizeof song.genreId},
    };
    bool changing = false;
    for (const auto& [name, value] : options) {
        bool known = false;
        for (Field& f : fields) {
            if (name != f.option) continue;
            known = true;
            if (value.size() >= f.size)
                return Fail(kUsage, std::string(f.option) + " is longer than " +
                                        std::to_string(f.size - 1) + " bytes");
            std::memset(f.text, 0, f.size);
            std::memcpy(f.text, value.data(), value.size());
            changing = true;
        }
        if (!known) return Fail(kUsage, "unknown option --" + name);
    }
    if (changing && SetWmaSongInfo(path.c_str(), &song) != 1)
        return Fail(kFailed, "cannot write the tags of " + path);
    for (const Field& f : fields)
        std::printf("%-9s %s\n", (std::string(f.label) + ":").c_str(), f.text);
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        std::fputs(kUsageText, argc < 2 ? stderr : stdout);
        return argc < 2 ? kUsage : kOk;
    }
    const std::string command = argv[1];
    std::map<std::string, std::string> options;
    std::vector<std::string> args;
    if (!ParseOptions(argc, argv, 2, options, args))
        return Fail(kUsage, "an option lacks its value");
    const auto number = [&](const char* name, uint32_t fallback, uint32_t& value) {
        const auto it = options.find(name);
        if (it == options.end()) {
            value = fallback;
            return true;
        }
        const std::string text = it->second;
        options.erase(it);
        return ParseNumber(text, value);
    };
    const auto expect = [&](size_t count) { return args.size() == count; };

    if (command == "formats" && expect(0) && options.empty()) return Formats();
    if (command == "info" && expect(1) && options.empty()) return Info(args[0]);
    if (command == "tags" && expect(1)) return Tags(args[0], options);
    uint32_t value = 0;
    if (command == "decode" && expect(2)) {
        if (!number("start", 0, value) || !options.empty())
            return Fail(kUsage, "decode takes --start MS");
        return Decode(args[0], args[1], value);
    }
    if ((command == "encode" || command == "transcode") && expect(2)) {
        if (!number("bitrate", 128, value) || !options.empty() || value == 0)
            return Fail(kUsage, command + " takes --bitrate KBPS");
        return command == "encode" ? Encode(args[0], args[1], value)
                                   : Transcode(args[0], args[1], value);
    }
    std::fputs(kUsageText, stderr);
    return kUsage;
}
