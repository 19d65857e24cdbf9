// SPDX-License-Identifier: MIT
// Where decoded audio lies in the file: every position is a sample count from
// the first sample a decode of the whole file gives, the one reference every
// block time is measured against, however a decode started.
//
// From the file's start, positions are the running count of decoded samples.
// What the decoder refuses becomes silence of the length the presentation
// times give it, so later audio stays at its time and the count never skips;
// never longer than the refused packets could hold, so neither a damaged time
// nor the header's duration makes a decode deliver more than the file holds.
//
// A start far into the file would cost a decode of everything before it. A jump
// of the demuxer is used instead, but only where it lands exactly: the
// presentation times of ASF payloads are those the encoder stamped, and some
// encoders stamp the time of the data they were handed rather than of the
// frames they made (the platform's WMA encoders jitter by up to a frame, so a
// time says where a frame lies only to within 50 ms). So the timeline first
// watches, from the start, whether the times follow the decoded samples to
// within a millisecond; only then does it place the frames after a jump by
// their times, snapped to the frame grid, and it checks that the times keep
// holding before anything is delivered. Otherwise the decode counts its way
// from the start.
//
// Pure arithmetic on times and counts: the decoder (pcm_decoder.h) feeds it.
#pragma once

#include <cstdint>

namespace ffsdk {

class Timeline {
  public:
    static constexpr int64_t kNoTime = INT64_MIN;

    // Where a decoded frame goes.
    struct Placement {
        bool keep = false;      // false: drop it (after a jump, not placed yet)
        bool lost = false;      // the times do not hold after a jump: start over
        uint64_t silence = 0;   // samples of silence that come first
        uint64_t position = 0;  // the frame's first sample, after that silence
    };

    // `rate`: samples per second; `end`: the file's playing duration in
    // samples, 0 when unknown. Silence never reaches past `end`.
    void Reset(uint32_t rate, uint64_t end);

    // The demuxer is at the file's start again: positions count from 0. What
    // was learnt about the file's times is kept.
    void Restart();
    // The demuxer moved to just before `target` (JumpTime): frames are dropped
    // until their times place them.
    void Jumped(uint64_t target);
    // The times proved not to hold: no more jumps.
    void Unstamped() { stamps_ = Stamps::kUntrusted; }
    // Whether the times proved not to hold.
    bool unstamped() const { return stamps_ == Stamps::kUntrusted; }

    // A packet of the stream with its presentation time (100 ns, or kNoTime).
    void PacketRead(int64_t time);
    // The decoder refused the packet just read: its audio is lost. `samples`:
    // the most audio the packet can hold; the silence that stands for refused
    // packets never exceeds what they held, whatever their times claim.
    void PacketRejected(int64_t time, uint64_t samples);
    // A decoded frame of `samples` samples, with its presentation time.
    Placement Frame(int64_t time, uint64_t samples);
    // The stream is over: the samples of silence still owed, from the
    // position the next frame would have taken.
    uint64_t Ended();

    // The position the next frame takes when nothing is missing.
    uint64_t position() const { return position_; }
    // The file's playing duration in samples (0: unknown).
    uint64_t end() const { return end_; }
    // Whether jumping to `target` beats decoding up to it.
    bool WorthJumping(uint64_t target) const;
    // The presentation time (100 ns) to move the demuxer to, for `target`.
    int64_t JumpTime(uint64_t target) const;

  private:
    enum class Stamps { kWatching, kTrusted, kUntrusted };

    // The position a presentation time gives (may be negative).
    int64_t Predict(int64_t time) const;
    // A position or length rounded to whole frames, once the times are trusted.
    int64_t Snap(int64_t samples) const;
    // Learns from one more timed frame whether times follow the samples.
    void Watch(int64_t drift);
    uint64_t Tolerance() const;
    uint64_t SilenceUpTo(int64_t position) const;

    uint32_t rate_ = 0;
    uint64_t end_ = 0;
    uint64_t position_ = 0;

    bool haveOrigin_ = false;
    int64_t origin_ = 0;  // presentation time of the stream's first packet
    bool haveDelay_ = false;
    int64_t delay_ = 0;                 // from a packet's time to its decoded audio's
    bool rejected_ = false;             // packets refused since the last frame
    uint64_t rejectedSamples_ = 0;      // the most audio they held
    int64_t lastRejected_ = kNoTime;    // the time of the last of them
    bool rejectedBeforeAudio_ = false;  // refusals before any frame (from the start)

    Stamps stamps_ = Stamps::kWatching;
    int watched_ = 0;
    int64_t driftMin_ = 0;
    int64_t driftMax_ = 0;
    uint64_t grid_ = 0;  // the greatest common divisor of the frame lengths

    // After a jump.
    bool jumped_ = false;
    bool placed_ = false;
    bool confirmed_ = false;
    int timedSinceJump_ = 0;
    uint64_t target_ = 0;
};

}  // namespace ffsdk
