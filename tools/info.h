// SPDX-License-Identifier: MIT
// The commands that look into a WMA file: info and tags.
#pragma once

#include <map>
#include <string>

namespace tool {

int Info(const std::string& path, bool json);
// Shows the song tags, after setting those named in `options` (title, author,
// album, year, track, genre).
int Tags(const std::string& path, const std::map<std::string, std::string>& options, bool json);

}  // namespace tool
