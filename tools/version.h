// SPDX-License-Identifier: MIT
// `mervane --version`: what a bug report needs to say which tool it was.
#pragma once

namespace tool {

// Prints the tool's version, the library's (read off the file the tool
// loaded), FFmpeg's and libsndfile's, on stdout.
int Version();

}  // namespace tool
