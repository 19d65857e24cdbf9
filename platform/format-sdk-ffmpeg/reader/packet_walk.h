// SPDX-License-Identifier: MIT
// Reads the media objects of one stream straight from an ASF file's data
// packets, without the demuxer: a pass over the data at the speed of reading
// it, for counting frames (frame_index.h). Only files of fixed-size packets
// whose payloads are not compressed are walked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

struct AVIOContext;

namespace ffsdk {

// Called for each whole media object of the stream, in file order: the file
// offset of the packet holding its start, its presentation time less the
// preroll (milliseconds, as the demuxer gives it) and its bytes. Returning
// false stops the walk.
using MediaObjectSink =
    std::function<bool(int64_t pos, int64_t pts, const uint8_t* data, int size)>;

// Walks the data packets of the file `io` reads from its start. False if the
// file is not laid out so, cannot be read, or `sink` stopped the walk; true
// at the end of the data, even where a read failed before it (what was given
// holds).
bool WalkMediaObjects(AVIOContext* io, unsigned stream, const MediaObjectSink& sink);

}  // namespace ffsdk
