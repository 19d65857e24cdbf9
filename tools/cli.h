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
// Prints "mervane: warning: MESSAGE" on stderr.
void Warn(const std::string& message);

bool IsReadableFile(const std::string& path);
bool ParseNumber(const std::string& text, uint32_t& value);
// "3.250" for 3250 ms.
std::string Seconds(uint64_t ms);
// Whether stderr is a terminal, where progress is shown.
bool ShowProgress();

struct CommandLine {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // --name VALUE, without the dashes
    bool json = false;                           // --json, a flag without a value
};
// Reads the arguments after the command; false when an option lacks its value.
bool ParseCommandLine(int argc, char** argv, int first, CommandLine& line);

}  // namespace tool
