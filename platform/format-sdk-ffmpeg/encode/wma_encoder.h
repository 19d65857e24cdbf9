// SPDX-License-Identifier: MIT
// Writes 16-bit PCM to a Windows Media Audio 2 file with FFmpeg's wmav2
// encoder and ASF muxer.
//
// Every sample written comes back out of the file. FFmpeg's wmav2 encoder
// returns one packet per frame of input, each packet transforming the previous
// and the current frame, and its decoder discards the output of the first two
// packets of a stream. So the encoder is primed with one frame of silence
// before the first written sample, and at the end the last partial frame is
// padded with silence and one more frame of silence is sent so that the last
// written samples are completed by a following packet.
//
// Timestamps: the two packets before the first written sample are stamped 0
// and 1 ms, the packet completing written sample 0 is stamped 2 ms, and later
// packets at their written-sample time. So the priming adds nothing to the
// file's duration, and a decoder that does not discard anything plays the
// codec delay as leading silence. The last packet ends at the time of the
// last written sample, rounded up to the millisecond: the file's play
// duration is the written PCM's, never shorter.
//
// Memory stays bounded however long the file: at most one codec frame of PCM
// is buffered, packets go straight to the muxer, and the seek index keeps one
// 32-bit entry per second.
//
// No method throws. Failures return the reason as a Result; after a failure
// in Write() or Finish() the file is closed as it stands and the encoder is
// ready for another Open().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/result.h"

namespace ffsdk {

class WmaFileEncoder {
  public:
    WmaFileEncoder();
    // An unfinished file is abandoned as by Abort().
    ~WmaFileEncoder();
    WmaFileEncoder(const WmaFileEncoder&) = delete;
    WmaFileEncoder& operator=(const WmaFileEncoder&) = delete;

    // Creates (or truncates) the file at `path` (UTF-8) for the WMA 2 format
    // in `waveFormatEx` (18 + cbSize bytes). The format must be one the
    // encoder reproduces byte for byte, as every codec catalogue entry is;
    // otherwise NS_E_INVALID_INPUT_FORMAT.
    Result Open(const char* path, const uint8_t* waveFormatEx, size_t len);
    // Encodes `frames` frames of interleaved samples (frames * channels
    // values). Zero frames is a no-op.
    Result Write(const int16_t* interleaved, size_t frames);
    // Flushes the codec, writes the trailer and the seek index, closes.
    Result Finish();
    // Closes the file as it stands without finishing it; the file is kept.
    void Abort();

    bool IsOpen() const;
    // Sample frames accepted since Open().
    uint64_t framesWritten() const { return framesWritten_; }
    // Samples per channel in one codec frame (valid while open).
    uint32_t CodecFrameLength() const;

  private:
    struct State;
    Result Fail(Result result);
    // Presentation time of packet k in ms: 0 and 1 for the lead packets, then
    // the time of the first sample each completes, kept after the lead's.
    uint64_t PacketTimeMs(uint64_t k) const;
    // Sends the state's frame (or, with flush, the end of input) and muxes
    // what comes out.
    Result SendFrame(bool flush = false);
    Result MuxPacket();

    std::unique_ptr<State> state_;
    uint64_t framesWritten_ = 0;
};

}  // namespace ffsdk
