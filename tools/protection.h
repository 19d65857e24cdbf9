// SPDX-License-Identifier: MIT
// Why the library refused a file, as far as the tool can tell from outside:
// the library answers only 0, and a protected file deserves saying so.
#pragma once

#include <string>

namespace tool {

// Whether the file's ASF header carries the signs of DRM protection: a Content
// Encryption or Extended Content Encryption Object, or a stream flagged
// encrypted.
bool LooksProtected(const std::string& path);

// Prints why `path` cannot be read as Windows Media Audio and returns kFailed.
int Unreadable(const std::string& path);

}  // namespace tool
