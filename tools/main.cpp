// SPDX-License-Identifier: MIT
// main() of the mervane command, a command-line host for the library (which
// is include/mervane.h and src/). It reaches Windows Media Audio files through
// nothing but the nine exported functions, the way any host application would;
// other audio files it reads and writes through libsndfile.
#include <cstdio>
#include <cstring>
#include <string>

#include "catalog.h"
#include "cli.h"
#include "info.h"
#include "transfer.h"

namespace {

const char kUsageText[] =
    "usage: mervane COMMAND [ARGS]\n"
    "\n"
    "  info FILE.wma [--json]             sample rate, channels, bitrate, duration\n"
    "  decode FILE.wma OUT [--start MS]   decode to 16-bit PCM, optionally from a position:\n"
    "                                     FLAC when OUT ends in .flac, WAV otherwise\n"
    "  encode IN OUT.wma [--bitrate KBPS]\n"
    "                                     encode an audio file (WAV, AIFF, FLAC, Ogg Vorbis,\n"
    "                                     ...; rounded to 16 bits) at 128 kbit/s unless told;\n"
    "                                     its rate and channels must be a listed format's\n"
    "  transcode IN.wma OUT.wma [--bitrate KBPS]\n"
    "                                     decode and re-encode in one pass at the same rate\n"
    "                                     and channel count\n"
    "  tags FILE.wma [--title T] [--author A] [--album A] [--year Y] [--track N] [--genre G]\n"
    "       [--json]                      show the song tags, or set the ones given\n"
    "  formats [--json]                   list the codec formats on offer\n"
    "\n"
    "--json prints one JSON object, its members named as the library's fields.\n"
    "Exit status: 0 success, 1 the library reported a failure, 2 usage error,\n"
    "3 unsupported format or bitrate, 4 input file missing or unreadable.\n";

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
    CommandLine line;
    if (!ParseCommandLine(argc, argv, 2, line)) return Fail(kUsage, "an option lacks its value");
    const std::vector<std::string>& args = line.positional;
    const bool plain = line.options.empty();

    if (command == "formats" && args.empty() && plain) return Formats(line.json);
    if (command == "info" && args.size() == 1 && plain) return Info(args[0], line.json);
    if (command == "tags" && args.size() == 1) return Tags(args[0], line.options, line.json);
    if (line.json && command != "info" && command != "tags" && command != "formats")
        return Fail(kUsage, "--json goes with info, tags and formats");
    uint32_t value = 0;
    if (command == "decode" && args.size() == 2) {
        if (!TakeNumber(line, "start", 0, value) || !line.options.empty())
            return Fail(kUsage, "decode takes --start MS");
        return Decode(args[0], args[1], value);
    }
    if ((command == "encode" || command == "transcode") && args.size() == 2) {
        if (!TakeNumber(line, "bitrate", 128, value) || !line.options.empty() || value == 0)
            return Fail(kUsage, command + " takes --bitrate KBPS");
        return Encode(args[0], args[1], value);
    }
    return Usage();
}
