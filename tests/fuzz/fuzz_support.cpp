// SPDX-License-Identifier: MIT
#include "fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fuzz {

namespace {

struct Scratch {
    std::string dir;
    std::string file;

    Scratch() {
        struct stat st {};
        const char* tmp = std::getenv("TMPDIR");
        std::string base = stat("/dev/shm", &st) == 0 && access("/dev/shm", W_OK) == 0
                               ? "/dev/shm"
                               : (tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
        std::string pattern = base + "/mervane-fuzz-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) Fail("cannot make a scratch folder");
        dir = pattern;
        file = dir + "/input.wma";
    }
    ~Scratch() {
        // Whatever a target left there goes with the folder.
        if (DIR* d = opendir(dir.c_str())) {
            while (const dirent* entry = readdir(d)) {
                if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                    unlink((dir + "/" + entry->d_name).c_str());
            }
            closedir(d);
        }
        rmdir(dir.c_str());
    }
};

Scratch& TheScratch() {
    static Scratch scratch;
    return scratch;
}

}  // namespace

const char* WriteScratch(const uint8_t* data, size_t size) {
    const Scratch& s = TheScratch();
    const int fd = open(s.file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Fail("cannot write the scratch file");
    for (size_t done = 0; done < size;) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) Fail("cannot write the scratch file");
        done += static_cast<size_t>(n);
    }
    close(fd);
    return s.file.c_str();
}

bool ScratchHasStrays() {
    DIR* d = opendir(TheScratch().dir.c_str());
    if (d == nullptr) return true;
    bool strays = false;
    while (const dirent* entry = readdir(d)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
            std::strcmp(name, "input.wma") != 0)
            strays = true;
    }
    closedir(d);
    return strays;
}

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz target: %s\n", what);
    std::abort();
}

}  // namespace fuzz
