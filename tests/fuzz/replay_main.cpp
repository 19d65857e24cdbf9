// SPDX-License-Identifier: MIT
// Runs a fuzz target over given inputs without libFuzzer: each file argument,
// and each file in each folder argument, once. Options ("-runs=0" and the like,
// as given to a libFuzzer build) are ignored, so one command line serves both.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::printf("running %s (%zu bytes)\n", path.c_str(), bytes.size());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.empty() || arg[0] == '-') continue;
        struct stat st {};
        if (stat(arg.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            DIR* dir = opendir(arg.c_str());
            if (dir == nullptr) return 1;
            while (const dirent* entry = readdir(dir)) {
                if (entry->d_name[0] != '.') failures += RunFile(arg + "/" + entry->d_name);
            }
            closedir(dir);
        } else {
            failures += RunFile(arg);
        }
    }
    return failures == 0 ? 0 : 1;
}
