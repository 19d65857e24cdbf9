// SPDX-License-Identifier: MIT
#include "cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace tool {
namespace {

std::string g_lastFailure;
bool g_forceProgress = false;
bool g_quiet = false;

}  // namespace

int Fail(int code, const std::string& message) {
    std::fflush(stdout);  // so that a file's error follows its output
    std::fprintf(stderr, "mervane: %s\n", message.c_str());
    g_lastFailure = message;
    return code;
}

const std::string& LastFailure() {
    return g_lastFailure;
}

void Warn(const std::string& message) {
    if (g_quiet) return;
    std::fprintf(stderr, "mervane: warning: %s\n", message.c_str());
}

bool IsReadableFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), R_OK) == 0;
}

bool ParseNumber(const std::string& text, uint32_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

std::string Seconds(uint64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%03u", static_cast<unsigned long long>(ms / 1000),
                  static_cast<unsigned>(ms % 1000));
    return text;
}

bool ShowProgress() {
    return !g_quiet && (g_forceProgress || isatty(STDERR_FILENO) != 0);
}

bool ParseCommandLine(int argc, char** argv, int first, CommandLine& line) {
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            line.json = true;
        } else if (arg == "--flac") {
            line.flac = true;
        } else if (arg == "--progress") {
            line.progress = true;
        } else if (arg == "--quiet" || arg == "-q") {
            line.quiet = true;
        } else if (arg.rfind("--", 0) == 0) {
            if (i + 1 >= argc) return false;
            line.options[arg.substr(2)] = argv[++i];
        } else {
            line.positional.push_back(arg);
        }
    }
    g_forceProgress = line.progress;
    g_quiet = line.quiet;
    return true;
}

}  // namespace tool
