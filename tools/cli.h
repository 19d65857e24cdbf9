// SPDX-License-Identifier: MIT
// What every command of the mervane tool shares: exit codes, messages, options.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tool {

enum Exit { kOk = 0, kFailed = 1, kUsage = 2, kUnsupported = 3, kNoFile = 4 };

// Prints "mervane: MESSAGE" on stderr and returns `code`.
int Fail(int code, const std::string& message);
// The message the last Fail printed, for a file's line of JSON.
const std::string& LastFailure();
// Prints "mervane: warning: MESSAGE" on stderr, unless --quiet.
void Warn(const std::string& message);

bool IsReadableFile(const std::string& path);
bool ParseNumber(const std::string& text, uint32_t& value);
// "3.250" for 3250 ms.
std::string Seconds(uint64_t ms);
// Whether the progress line is shown: on a terminal, or always with
// --progress; never with --quiet.
bool ShowProgress();

struct CommandLine {
    std::vector<std::string> positional;         // "-" among them: stdin or stdout
    std::map<std::string, std::string> options;  // --name VALUE, without the dashes
    // Flags without a value.
    bool json = false;
    bool flac = false;      // decode: FLAC whatever the name
    bool progress = false;  // the progress line even off a terminal
    bool quiet = false;     // nothing on stderr but errors
};
// Reads the arguments after the command; false when an option lacks its value.
// Sets the verbosity ShowProgress and Warn follow.
bool ParseCommandLine(int argc, char** argv, int first, CommandLine& line);

}  // namespace tool
