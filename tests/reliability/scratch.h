// SPDX-License-Identifier: MIT
// A folder of its own for each reliability test, and the file checks they share.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "mervane.h"

namespace reliability {

class Scratch {
  public:
    Scratch();   // an empty folder inside the run's media folder
    ~Scratch();  // removed with everything in it
    const std::string& dir() const { return dir_; }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    // Names in the folder, sorted.
    std::vector<std::string> Names() const;
    // Copies a file into the folder under `name`; returns its path.
    std::string Copy(const std::string& from, const std::string& name) const;

  private:
    std::string dir_;
};

std::vector<unsigned char> Bytes(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> NamesIn(const std::string& dir);
// How many descriptors of this process are open on the file at `path`.
int OpenDescriptorsOn(const std::string& path);
bool Exists(const std::string& path);
// The byte size of an ASF file's Header Object; 0 if it has none.
uint64_t AsfHeaderSize(const std::vector<unsigned char>& file);
// Runs `body` in a child process as the user `uid` (with the group of that
// number and no others); true when it returned true. Needs the superuser.
bool RunAs(uid_t uid, const std::function<bool()>& body);

// The tags reliability_child writes for a text: title TEXT, author TEXT-a,
// album TEXT-b.
inline SongInfo TagsFor(const std::string& text) {
    SongInfo info;
    std::memset(&info, 0, sizeof info);
    const auto put = [](char* field, size_t size, const std::string& value) {
        std::memcpy(field, value.data(), std::min(value.size(), size - 1));
    };
    put(info.title, sizeof info.title, text);
    put(info.author, sizeof info.author, text + "-a");
    put(info.album, sizeof info.album, text + "-b");
    return info;
}

}  // namespace reliability
