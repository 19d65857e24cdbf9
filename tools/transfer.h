// SPDX-License-Identifier: MIT
// The commands that move audio through the library: decode, encode, transcode.
#pragma once

#include <cstdint>
#include <string>

namespace tool {

// A WMA file to 16-bit WAV, or FLAC with `flac` or when `out` ends in ".flac";
// `out` "-" is standard output.
int Decode(const std::string& in, const std::string& out, uint32_t startMs, bool flac);
// An audio file libsndfile reads, or a WMA file, to a new WMA file; `in` "-"
// is standard input (not WMA: the library reads files by name).
int Encode(const std::string& in, const std::string& out, uint32_t kbps);

}  // namespace tool
