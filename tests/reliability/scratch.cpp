// SPDX-License-Identifier: MIT
#include "scratch.h"

#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "media.h"

namespace reliability {

Scratch::Scratch() {
    std::string pattern = media::Dir() + "/reliability-XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) dir_ = pattern;
}

Scratch::~Scratch() {
    if (!dir_.empty()) media::Run("rm -rf '" + dir_ + "'");
}

std::vector<std::string> Scratch::Names() const {
    return NamesIn(dir_);
}

std::vector<std::string> NamesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Scratch::Copy(const std::string& from, const std::string& name) const {
    const std::string to = Path(name);
    std::ifstream in(from, std::ios::binary);
    std::ofstream(to, std::ios::binary) << in.rdbuf();
    return to;
}

std::vector<unsigned char> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

int OpenDescriptorsOn(const std::string& path) {
    struct stat target {};
    if (stat(path.c_str(), &target) != 0) return 0;
    int count = 0;
    for (const std::string& fd : NamesIn("/proc/self/fd")) {
        struct stat st {};
        count += stat(("/proc/self/fd/" + fd).c_str(), &st) == 0 && st.st_ino == target.st_ino &&
                 st.st_dev == target.st_dev;
    }
    return count;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

uint64_t AsfHeaderSize(const std::vector<unsigned char>& file) {
    static const unsigned char kHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                  0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    if (file.size() < 30 || std::memcmp(file.data(), kHeaderGuid, 16) != 0) return 0;
    uint64_t size = 0;
    for (int i = 7; i >= 0; --i) size = (size << 8) | file[16 + i];
    return size <= file.size() ? size : 0;
}

namespace {
// ThreadSanitizer runs a thread of its own from the first thread made on.
#if defined(__SANITIZE_THREAD__)
constexpr size_t kThreadsOfANewProcess = 2;
#else
constexpr size_t kThreadsOfANewProcess = 1;
#endif

// The library's threads (the open thread, a decode's workers and its end call)
// end by themselves soon after the last call; a fork before then would copy a
// process whose other threads are gone in the child, which ThreadSanitizer
// refuses to run on.
void AwaitOneThread() {
    for (int i = 0; i < 500 && NamesIn("/proc/self/task").size() > kThreadsOfANewProcess; ++i)
        usleep(10000);
}
}  // namespace

bool RunAs(uid_t uid, const std::function<bool()>& body) {
    AwaitOneThread();
    const pid_t pid = fork();
    if (pid == 0) {
        const bool ok = setgroups(0, nullptr) == 0 && setgid(uid) == 0 && setuid(uid) == 0;
        _exit(ok && body() ? 0 : 1);
    }
    int status = -1;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

}  // namespace reliability
