// SPDX-License-Identifier: MIT
// The commands that look into WMA files: info and tags, on any number of files.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tool {

int Info(const std::vector<std::string>& paths, bool json);
// Shows the song tags of each file, after setting those named in `options`
// (title, author, album, year, track, genre).
int Tags(const std::vector<std::string>& paths, const std::map<std::string, std::string>& options,
         bool json);

}  // namespace tool
