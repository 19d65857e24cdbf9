// SPDX-License-Identifier: MIT
#include "frame_index.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <new>

namespace ffsdk {

namespace {

// Reads bits most significant first; past the end it reads zeros.
class BitReader {
  public:
    BitReader(const uint8_t* data, int bytes) : data_(data), bits_(int64_t{bytes} * 8) {}
    // Up to 25 bits.
    unsigned Read(int count) {
        uint64_t window = 0;
        const int64_t byte = at_ >> 3;
        for (int64_t i = byte; i < byte + 5; ++i)
            window = (window << 8) | (i < bits_ / 8 ? data_[i] : 0);
        const int shift = 40 - static_cast<int>(at_ & 7) - count;
        at_ += count;
        return static_cast<unsigned>((window >> shift) & ((uint64_t{1} << count) - 1));
    }
    unsigned Peek(int count) const {
        BitReader copy = *this;
        return copy.Read(count);
    }
    unsigned Bit(int64_t at) const {
        return at < bits_ ? (data_[at >> 3] >> (7 - (at & 7))) & 1u : 0u;
    }
    void Skip(int64_t count) { at_ = std::min(bits_, at_ + count); }
    int64_t left() const { return bits_ - at_; }
    int64_t at() const { return at_; }

  private:
    const uint8_t* data_;
    int64_t bits_;
    int64_t at_ = 0;
};

uint32_t Head(const uint8_t* data, int size) {
    uint32_t head = 0;
    for (int i = 0; i < 4 && i < size; ++i) head = (head << 8) | data[i];
    return head;
}

int Log2(unsigned value) {
    int n = 0;
    while (value >>= 1) ++n;
    return n;
}

unsigned Le16(const uint8_t* p) {
    return p[0] | (unsigned{p[1]} << 8);
}

// The frame length, as a power of two, of WMA version 1, 2 or 3 (Pro).
int FrameLengthBits(int rate, int version, unsigned flags) {
    int bits = rate <= 16000                                      ? 9
               : rate <= 22050 || (rate <= 32000 && version == 1) ? 10
               : rate <= 48000 || version < 3                     ? 11
               : rate <= 96000                                    ? 12
                                                                  : 13;
    if (version == 3) {
        const unsigned size = flags & 0x6;
        if (size == 0x2) ++bits;
        if (size == 0x4) --bits;
        if (size == 0x6) bits -= 2;
    }
    return bits;
}

}  // namespace

bool FrameIndex::Prepare(const AVCodecParameters& codec) {
    *this = FrameIndex();
    const uint8_t* extra = codec.extradata;
    const int extraSize = codec.extradata_size;
    // Blocks too small to hold a header are not what the encoders make.
    if (codec.block_align < 16 || codec.sample_rate <= 0 || extra == nullptr) return false;
    blockAlign_ = codec.block_align;
    if (codec.codec_id == AV_CODEC_ID_WMAV1 || codec.codec_id == AV_CODEC_ID_WMAV2) {
        const bool v1 = codec.codec_id == AV_CODEC_ID_WMAV1;
        if (extraSize < (v1 ? 4 : 6)) return false;
        superframes_ = (Le16(extra + (v1 ? 2 : 4)) & 0x2) != 0;
        frameLength_ = 1u << FrameLengthBits(codec.sample_rate, v1 ? 1 : 2, 0);
        skip_ = 2 * uint64_t{frameLength_};
        kind_ = Kind::kWma;
        return true;
    }
    if (codec.codec_id == AV_CODEC_ID_WMAPRO) {
        if (extraSize < 18) return false;
        const unsigned flags = Le16(extra + 14);
        lengthBits_ = Log2(static_cast<unsigned>(blockAlign_)) + 4;
        // Without length prefixes only a decode finds where frames end.
        if ((flags & 0x40) == 0 || lengthBits_ > 25) return false;
        frameLength_ = 1u << FrameLengthBits(codec.sample_rate, 3, flags);
        channels_ = codec.ch_layout.nb_channels;
        if (channels_ < 1 || channels_ > kMaxChannels) return false;
        const unsigned log2Subframes = (flags & 0x38) >> 3;
        maxSubframes_ = 1u << log2Subframes;
        shortLengths_ = maxSubframes_ == 16 || maxSubframes_ == 4;
        subframeBits_ = Log2(log2Subframes) + 1;
        minSubframe_ = frameLength_ / maxSubframes_;
        gain_ = (flags & 0x80) != 0;
        // The most a frame's header can take: its length, the subframe
        // layout, a transform, a gain and the trims.
        headerBits_ = lengthBits_ + 1 +
                      int64_t{maxSubframes_} * channels_ * (channels_ + subframeBits_) + 2 +
                      4 * channels_ * channels_ + 8 + 3 + 2 * 13;
        if (minSubframe_ == 0) return false;
        kind_ = Kind::kPro;
        return true;
    }
    return false;
}

bool FrameIndex::CountWmaBlock(const uint8_t* data, uint64_t* samples) {
    if (!superframes_) {
        *samples = frameLength_;
        return true;
    }
    // A superframe header: an index, then the count of frames that end in
    // this block, one of them the frame the block before began; the first
    // block has no such frame.
    const unsigned count = data[0] & 0x0F;
    const unsigned carried = carried_ ? 0 : 1;
    if (count < carried) return false;  // the decoder refuses such a block
    *samples = uint64_t{count - carried} * frameLength_;
    carried_ = true;
    return true;
}

bool FrameIndex::ProFrameSamples(const uint8_t* data, int bytes, int64_t frame,
                                 uint64_t* samples) const {
    BitReader bits(data, bytes);
    bits.Skip(frame + lengthBits_);
    // How the frame is split into subframes, channel by channel: each round
    // gives the next subframe of the channels that are shortest so far.
    const uint32_t whole = frameLength_;
    uint32_t have[kMaxChannels] = {};
    bool contains[kMaxChannels] = {};
    const bool fixed = maxSubframes_ == 1 || bits.Read(1) != 0;
    uint32_t shortest = 0;
    int sharing = channels_;
    for (int rounds = 0; shortest < whole; ++rounds) {
        if (rounds > 32 * channels_ || bits.left() <= 0) return false;
        const bool last = shortest == whole - minSubframe_;
        for (int c = 0; c < channels_; ++c) {
            contains[c] =
                have[c] == shortest && (fixed || sharing == 1 || last || bits.Read(1) != 0);
        }
        uint32_t length = minSubframe_;
        if (!last) {
            int shift = 0;
            if (!shortLengths_) {
                shift = static_cast<int>(bits.Read(subframeBits_));
            } else if (bits.Read(1) != 0) {
                shift = 1 + static_cast<int>(bits.Read(subframeBits_ - 1));
            }
            length = whole >> shift;
            if (length < minSubframe_ || length > whole) return false;
        }
        shortest += length;
        for (int c = 0; c < channels_; ++c) {
            if (contains[c]) {
                have[c] += length;
                if (have[c] > whole) return false;
            } else if (have[c] <= shortest) {
                if (have[c] < shortest) {
                    sharing = 0;
                    shortest = have[c];
                }
                ++sharing;
            }
        }
    }
    // A transform after decoding, a gain, then what to trim at either end.
    if (channels_ > 1 && bits.Read(1) != 0 && bits.Read(1) != 0)
        bits.Skip(4 * channels_ * channels_);
    if (gain_) bits.Skip(8);
    uint64_t trim = 0;
    if (bits.Read(1) != 0) {
        const int trimBits = Log2(whole * 2);
        if (bits.Read(1) != 0) trim += bits.Read(trimBits);
        if (bits.Read(1) != 0) trim += bits.Read(trimBits);
    }
    if (bits.left() < 0) return false;
    *samples = trim < whole ? whole - trim : 0;
    return true;
}

bool FrameIndex::CountProBlock(const uint8_t* data, int bytes, uint64_t* samples) {
    BitReader bits(data, bytes);
    const unsigned sequence = bits.Read(4);
    bits.Skip(2);
    const int64_t rest = bits.Read(lengthBits_);  // the end of a frame begun before
    // After a lost block the decoder drops the frame the block ends.
    const bool continuous = started_ && sequence == ((sequence_ + 1) & 0xF);
    sequence_ = sequence;
    *samples = 0;
    const auto counted = [&](uint64_t frame) {
        // The decoder never gives the first frame it decodes.
        if (firstFrame_) {
            firstFrame_ = false;
            frame = 0;
        }
        *samples += frame;
    };
    if (rest > 0 && carried_ && continuous) {
        // That frame's start, kept from the block before, and as much of its
        // end as its header can need.
        const int64_t wanted = std::min<int64_t>(rest, std::min<int64_t>(bits.left(), headerBits_));
        BitReader from = bits;
        for (int64_t i = 0; i < wanted; i += 8) {
            const int count = static_cast<int>(std::min<int64_t>(8, wanted - i));
            AppendBits(from.Read(count), count);
        }
        uint64_t frame = 0;
        if (rest < bits.left()) {
            if (!ProFrameSamples(tail_.data(), static_cast<int>(tail_.size()), tailStart_, &frame))
                return false;
            counted(frame);
        } else {
            // The whole block belongs to that frame, which goes on.
            return true;
        }
    }
    if (rest >= bits.left()) {
        carried_ = false;
        return true;
    }
    bits.Skip(rest);
    // Whole frames follow, each with its length in bits first and, as its
    // last bit, whether another one follows.
    while (bits.left() > lengthBits_) {
        const int64_t length = bits.Peek(lengthBits_);
        if (length == 0 || length > bits.left()) break;
        uint64_t frame = 0;
        if (!ProFrameSamples(data, bytes, bits.at(), &frame)) return false;
        counted(frame);
        const bool more = bits.Bit(bits.at() + length - 1) != 0;
        bits.Skip(length);
        if (!more) break;
    }
    // What is left begins a frame the next block ends.
    carried_ = bits.left() > 0;
    tail_.clear();
    tailBits_ = 0;
    tailStart_ = bits.at() & 7;
    if (carried_) {
        const int64_t from = bits.at() & ~int64_t{7};
        tail_.assign(data + from / 8, data + bytes);
        tailBits_ = int64_t{bytes} * 8 - from;
    }
    return true;
}

void FrameIndex::AppendBits(unsigned value, int count) {
    // `count` (up to 8) bits, most significant first, after the tailBits_
    // bits already in tail_.
    const int used = static_cast<int>(tailBits_ % 8);
    const unsigned aligned = (value << (8 - count)) & 0xFF;
    if (used == 0) {
        tail_.push_back(static_cast<uint8_t>(aligned));
    } else {
        tail_.back() |= static_cast<uint8_t>(aligned >> used);
        if (used + count > 8) tail_.push_back(static_cast<uint8_t>((aligned << (8 - used)) & 0xFF));
    }
    tailBits_ += count;
}

bool FrameIndex::CountBlock(const uint8_t* data, int bytes, uint64_t* samples) {
    const bool counted =
        kind_ == Kind::kWma ? CountWmaBlock(data, samples) : CountProBlock(data, bytes, samples);
    started_ = true;
    return counted;
}

bool FrameIndex::Add(int64_t pos, int64_t pts, const uint8_t* data, int size) {
    if (kind_ == Kind::kNone || size <= 0 || size % blockAlign_ != 0) return false;
    // Positions must grow for Locate to find a packet.
    if (!entries_.empty() && pos < entries_.back().pos) return false;
    Entry entry;
    entry.pos = pos;
    entry.pts = pts;
    entry.size = size;
    entry.head = Head(data, size);
    const uint64_t before = decoded_;
    entry.first = before > skip_ ? before - skip_ : 0;
    for (int at = 0; at < size; at += blockAlign_) {
        uint64_t samples = 0;
        if (!CountBlock(data + at, blockAlign_, &samples)) return false;
        decoded_ += samples;
    }
    try {
        entries_.push_back(entry);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

uint64_t FrameIndex::Samples(size_t i) const {
    const uint64_t all = decoded_;
    const uint64_t end = i + 1 < entries_.size() ? entries_[i + 1].first
                         : all > skip_           ? all - skip_
                                                 : 0;
    return end - entries_[i].first;
}

size_t FrameIndex::Find(uint64_t sample) const {
    const auto after = std::upper_bound(entries_.begin(), entries_.end(), sample,
                                        [](uint64_t s, const Entry& e) { return s < e.first; });
    if (after == entries_.begin()) return kNone;
    return static_cast<size_t>(after - entries_.begin()) - 1;
}

size_t FrameIndex::Locate(const AVPacket& packet) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), packet.pos,
                               [](const Entry& e, int64_t pos) { return e.pos < pos; });
    for (; it != entries_.end() && it->pos == packet.pos; ++it) {
        if (it->pts == packet.pts && it->size == packet.size &&
            it->head == Head(packet.data, packet.size))
            return static_cast<size_t>(it - entries_.begin());
    }
    return kNone;
}

void IndexedPlacement::Begin(const FrameIndex* index, size_t from, size_t settled) {
    *this = IndexedPlacement();
    index_ = index;
    from_ = from;
    settled_ = settled;
    position_ = index->at(settled).first;
}

IndexedPlacement::Verdict IndexedPlacement::Packet(const AVPacket& packet) {
    const size_t which = index_->Locate(packet);
    if (current_ == FrameIndex::kNone) {
        // Still looking for the packet decoding starts from.
        if (which == FrameIndex::kNone || which > from_) return Verdict::kLost;
        if (which < from_) return Verdict::kSkip;
    } else {
        if (which != current_ + 1) return Verdict::kLost;
        // The packet before gave what the count says, once the decoder settled.
        if (current_ >= settled_ && received_ != index_->Samples(current_)) return Verdict::kLost;
    }
    current_ = which;
    received_ = 0;
    if (current_ >= settled_) position_ = index_->at(current_).first;
    return Verdict::kSend;
}

Timeline::Placement IndexedPlacement::Frame(uint64_t samples) {
    Timeline::Placement p;
    if (current_ == FrameIndex::kNone) {
        p.lost = true;
        return p;
    }
    received_ += samples;
    if (current_ < settled_) return p;  // the decoder is still settling
    p.keep = true;
    p.position = position_;
    position_ += samples;
    delivering_ = true;
    return p;
}

}  // namespace ffsdk
