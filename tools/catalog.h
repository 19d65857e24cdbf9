// SPDX-License-Identifier: MIT
// The codec formats the library offers (EnumWMAFormat), and whether an encoding
// of a given shape is among them.
#pragma once

#include <cstdint>
#include <vector>

namespace tool {

struct Format {
    uint32_t bitrate;  // bit/s
    uint32_t channels;
    uint32_t sampleRate;
};

std::vector<Format> ListFormats();

// kOk when a format offers this rate, channel count and bitrate; otherwise says
// on stderr what is offered instead and returns the exit code.
int CheckEncodable(uint32_t sampleRate, uint32_t channels, uint32_t kbps);

// The `formats` command.
int Formats(bool json);

}  // namespace tool
