// SPDX-License-Identifier: MIT
// Where each packet's audio lies in a decode of the whole file, counted from
// the packets' bytes without decoding them, so that a start far into a file
// costs a read of its packets rather than a decode of everything before it.
//
// The codecs counted are those whose packets say how many samples end in them:
// WMA 1 and 2 (a superframe header gives its frame count; without superframes
// a packet is one frame; every frame holds the same number of samples) and
// WMA Pro with length-prefixed frames (each frame gives its length in bits,
// in its header the samples trimmed at either end, and whether another frame
// follows). The decoder drops the first two frames of a WMA 1/2 stream and
// the first frame of a WMA Pro one; the count does too, and the decoder's
// reader checks it on the file's first packets. Others (Lossless and WMA Pro
// without length prefixes, whose frames can only be found by decoding them;
// Voice) are not counted: Prepare says so.
//
// After a jump, Placement checks that the decoder gives for each packet what
// the count says, so a file whose count did not hold is noticed rather than
// delivered at the wrong place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pcm_timeline.h"

struct AVCodecParameters;
struct AVPacket;

namespace ffsdk {

class FrameIndex {
  public:
    static constexpr size_t kNone = SIZE_MAX;
    static constexpr int kMaxChannels = 8;

    struct Entry {
        int64_t pos = 0;     // the file offset the demuxer gives the packet
        int64_t pts = 0;     // its presentation time, in the stream's time base
        int size = 0;        // its bytes
        uint32_t head = 0;   // its first bytes, to tell it from another
        uint64_t first = 0;  // its first sample in a decode of the whole file
    };

    // Whether the stream's frames can be counted from its packets; starts an
    // empty count.
    bool Prepare(const AVCodecParameters& codec);
    // Counts the stream's next packet (a media object: its file offset and
    // time as the demuxer gives them, and its bytes), in file order. False if
    // it cannot be counted: the count is then of no use.
    bool Add(int64_t pos, int64_t pts, const uint8_t* data, int size);

    size_t size() const { return entries_.size(); }
    const Entry& at(size_t i) const { return entries_[i]; }
    // The samples the decoder gives for packet `i` of a whole decode.
    uint64_t Samples(size_t i) const;
    uint32_t frameLength() const { return frameLength_; }
    // The last packet whose audio starts at or before `sample`, kNone if none.
    size_t Find(uint64_t sample) const;
    // Which packet `packet` is (a packet the demuxer read), kNone if none.
    size_t Locate(const AVPacket& packet) const;

  private:
    // Samples the decoder gives for one block of `bytes` bytes.
    bool CountBlock(const uint8_t* data, int bytes, uint64_t* samples);
    bool CountWmaBlock(const uint8_t* data, uint64_t* samples);
    bool CountProBlock(const uint8_t* data, int bytes, uint64_t* samples);
    void AppendBits(unsigned value, int count);
    // WMA Pro: the samples a frame gives, from its header (`frame` starts
    // at its length field); false if the header cannot be read.
    bool ProFrameSamples(const uint8_t* data, int bytes, int64_t frame, uint64_t* samples) const;

    enum class Kind { kNone, kWma, kPro } kind_ = Kind::kNone;
    int blockAlign_ = 0;
    uint32_t frameLength_ = 0;
    uint64_t skip_ = 0;         // samples the decoder drops at the stream's start
    bool superframes_ = false;  // WMA 1/2: frames span blocks
    int lengthBits_ = 0;        // WMA Pro: bits of a frame's length field
    int channels_ = 0;          // WMA Pro: how its frames are laid out
    unsigned maxSubframes_ = 1;
    uint32_t minSubframe_ = 0;
    bool shortLengths_ = false;  // a bit says whether a subframe is whole
    int subframeBits_ = 0;
    bool gain_ = false;  // dynamic range gain in every frame
    int64_t headerBits_ = 0;
    bool firstFrame_ = true;     // WMA Pro: the decoder drops its first frame
    std::vector<uint8_t> tail_;  // the start of a frame the next block ends
    int64_t tailBits_ = 0;
    int64_t tailStart_ = 0;  // where in tail_ the frame starts
    bool carried_ = false;   // a frame begun in the block before goes on
    bool started_ = false;   // a block was counted
    unsigned sequence_ = 0;  // WMA Pro: the last block's sequence number
    uint64_t decoded_ = 0;   // samples so far, before the drop at the start
    std::vector<Entry> entries_;
};

// Places the frames a decode gives after a jump to an indexed packet: the
// demuxer's packets before it are skipped, those of the first packets decoded
// are dropped while the decoder settles, and from then on every frame goes
// where the count says, the count checked packet by packet.
class IndexedPlacement {
  public:
    enum class Verdict { kSkip, kSend, kLost };

    // Decodes from packet `from` of `index`, delivering from packet `settled`.
    void Begin(const FrameIndex* index, size_t from, size_t settled);
    // What to do with a packet of the stream the demuxer just read.
    Verdict Packet(const AVPacket& packet);
    // A decoded frame of `samples` samples.
    Timeline::Placement Frame(uint64_t samples);
    // Where the next frame goes.
    uint64_t position() const { return position_; }
    // Whether a frame was placed: a restart then goes on from position().
    bool delivering() const { return delivering_; }

  private:
    const FrameIndex* index_ = nullptr;
    size_t from_ = 0;
    size_t settled_ = 0;
    size_t current_ = FrameIndex::kNone;  // the packet last sent
    uint64_t received_ = 0;               // its samples so far
    uint64_t position_ = 0;
    bool delivering_ = false;
};

}  // namespace ffsdk
