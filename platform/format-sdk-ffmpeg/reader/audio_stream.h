// SPDX-License-Identifier: MIT
// What an ASF file's header says of an audio stream, and whether this reader
// decodes it: answered from the stream's WAVEFORMATEX alone, so a reader opens
// at the cost of reading the header.
#pragma once

#include <cstdint>
#include <vector>

#include "asf/asf_header.h"
#include "wmsdk.h"

namespace ffsdk {

// The most channels the reader delivers.
constexpr uint16_t kMaxChannels = 8;

struct AudioStreamFormat {
    uint32_t rate = 0;
    uint16_t channels = 0;
};

// Fails with NS_E_INVALID_INPUT_FORMAT when the format block names no rate or
// no (or too many) channels, and with NS_E_AUDIO_CODEC_NOT_INSTALLED when
// FFmpeg has no decoder for the stream's codec.
HRESULT DescribeAudioStream(const asf::Stream& stream, AudioStreamFormat* format);

// The stream behind each of the reader's outputs, in header order: an output
// per audio or video stream, except that mutually exclusive streams share one,
// as on the platform. A shared output plays what the platform's reader picks
// for a local file: the highest-bitrate stream of the set (of the kind of its
// first stream in header order; the first of equals). Exclusion by language
// or presentation is answered the same way.
std::vector<const asf::Stream*> OutputStreams(const asf::Header& header);

}  // namespace ffsdk
