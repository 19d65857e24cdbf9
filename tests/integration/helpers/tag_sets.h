// SPDX-License-Identifier: MIT
// The sets of six song tags the kill test writes, each value unique to its set.
#pragma once

#include <cstring>
#include <string>

#include "mervane.h"

namespace tag_sets {

struct Set {
    const char* title;
    const char* author;
    const char* album;
    const char* year;
    const char* track;
    const char* genreId;
};

inline constexpr Set kFirst = {"First title", "First author", "First album", "1991", "1", "11"};
inline constexpr Set kA = {"Title A, a little longer", "Author A", "Album A", "2001", "2", "22"};
inline constexpr Set kB = {"B", "Author B with more words", "B", "2002", "3", "33"};

inline void Fill(SongInfo* info, const Set& set) {
    std::memset(info, 0, sizeof *info);
    std::strcpy(info->title, set.title);
    std::strcpy(info->author, set.author);
    std::strcpy(info->album, set.album);
    std::strcpy(info->year, set.year);
    std::strcpy(info->track, set.track);
    std::strcpy(info->genreId, set.genreId);
}

// Whether all six fields of `info` are those of `set`.
inline bool Holds(const SongInfo& info, const Set& set) {
    return std::string(info.title) == set.title && std::string(info.author) == set.author &&
           std::string(info.album) == set.album && std::string(info.year) == set.year &&
           std::string(info.track) == set.track && std::string(info.genreId) == set.genreId;
}

}  // namespace tag_sets
