// SPDX-License-Identifier: MIT
// main() of the mervane command, a command-line host for the library (which
// is include/mervane.h and src/). It reaches Windows Media Audio files through
// the nine exported functions, the way any host application would, with one
// look of its own: when the library refuses a file, protection.cpp reads the
// ASF header's object GUIDs to say whether the file is DRM-protected, which
// the library's 0 cannot tell. Other audio files it reads and writes through
// libsndfile.
#include <cstdio>
#include <cstring>
#include <string>

#include "catalog.h"
#include "cli.h"
#include "info.h"
#include "transfer.h"
#include "version.h"

namespace {

const char kUsageText[] =
    "usage: mervane COMMAND [ARGS]\n"
    "\n"
    "  info FILE.wma... [--json]          sample rate, channels, bitrate, duration\n"
    "  decode FILE.wma OUT [--start MS] [--flac]\n"
    "                                     decode to 16-bit PCM, optionally from a position:\n"
    "                                     FLAC with --flac or when OUT ends in .flac, WAV\n"
    "                                     otherwise; OUT - is standard output\n"
    "  encode IN OUT.wma [--bitrate KBPS]\n"
    "                                     encode an audio file (WAV, AIFF, FLAC, Ogg Vorbis,\n"
    "                                     ...; rounded to 16 bits) at 128 kbit/s unless told;\n"
    "                                     its rate and channels must be a listed format's;\n"
    "                                     IN - is standard input\n"
    "  transcode IN.wma OUT.wma [--bitrate KBPS]\n"
    "                                     decode and re-encode in one pass at the same rate\n"
    "                                     and channel count\n"
    "  tags FILE.wma... [--title T] [--author A] [--album A] [--year Y] [--track N]\n"
    "       [--genre G] [--json]          show the song tags, or set the ones given in each\n"
    "  formats [--json]                   list the codec formats on offer\n"
    "  --version, -V                      the tool's, library's, FFmpeg's and libsndfile's\n"
    "                                     versions\n"
    "\n"
    "--json prints one JSON object, its members named as the library's fields; with\n"
    "several files, one object a line (JSON Lines), {\"path\", \"error\"} for a file that\n"
    "failed. A progress line goes to stderr when it is a terminal; --progress shows\n"
    "it anyway, --quiet (-q) prints nothing but errors.\n"
    "Exit status: 0 success, 1 the library reported a failure, 2 usage error,\n"
    "3 unsupported format or bitrate, 4 input file missing or unreadable; with\n"
    "several files, the first failure's.\n"
    "\n"
    "examples:\n"
    "  mervane info --json *.wma | jq .durationMs\n"
    "  mervane tags --album 'Night Songs' --year 2024 *.wma\n"
    "  mervane decode song.wma - | ffmpeg -i - song.mp3\n"
    "  ffmpeg -i song.mp4 -f wav - | mervane encode - song.wma --bitrate 64\n"
    "  mervane encode long.flac long.wma --progress 2>progress.log\n"
    "  mervane --version\n";

int Usage() {
    std::fputs(kUsageText, stderr);
    return tool::kUsage;
}

// Takes --NAME from the options as a number, or `fallback` when it is absent.
bool TakeNumber(tool::CommandLine& line, const char* name, uint32_t fallback, uint32_t& value) {
    const auto it = line.options.find(name);
    if (it == line.options.end()) {
        value = fallback;
        return true;
    }
    const std::string text = it->second;
    line.options.erase(it);
    return tool::ParseNumber(text, value);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tool;
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsageText, stdout);
        return kOk;
    }
    if ((command == "--version" || command == "-V") && argc == 2) return Version();
    CommandLine line;
    if (!ParseCommandLine(argc, argv, 2, line)) return Fail(kUsage, "an option lacks its value");
    const std::vector<std::string>& args = line.positional;
    const bool plain = line.options.empty();
    // The library opens WMA files by name: only the libsndfile side takes pipes.
    const auto piped = [&](size_t from, size_t to) {
        for (size_t i = from; i < to && i < args.size(); ++i)
            if (args[i] == "-") return true;
        return false;
    };

    if (line.flac && command != "decode") return Fail(kUsage, "--flac goes with decode");
    if (command == "formats" && args.empty() && plain) return Formats(line.json);
    if ((command == "info" || command == "tags") && !args.empty() && piped(0, args.size()))
        return Fail(kUsage, command + " reads WMA files by name, not from standard input");
    if (command == "info" && !args.empty() && plain) return Info(args, line.json);
    if (command == "tags" && !args.empty()) return Tags(args, line.options, line.json);
    if (line.json && command != "info" && command != "tags" && command != "formats")
        return Fail(kUsage, "--json goes with info, tags and formats");
    uint32_t value = 0;
    if (command == "decode" && args.size() == 2) {
        if (!TakeNumber(line, "start", 0, value) || !line.options.empty())
            return Fail(kUsage, "decode takes --start MS");
        if (piped(0, 1))
            return Fail(kUsage, "decode reads a WMA file by name, not from standard input");
        return Decode(args[0], args[1], value, line.flac);
    }
    if ((command == "encode" || command == "transcode") && args.size() == 2) {
        if (!TakeNumber(line, "bitrate", 128, value) || !line.options.empty() || value == 0)
            return Fail(kUsage, command + " takes --bitrate KBPS");
        if (piped(1, 2))
            return Fail(kUsage, command + " writes a WMA file by name, not to standard output");
        return Encode(args[0], args[1], value);
    }
    return Usage();
}
