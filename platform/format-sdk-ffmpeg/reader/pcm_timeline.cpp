// SPDX-License-Identifier: MIT
#include "pcm_timeline.h"

#include <algorithm>
#include <numeric>

#include "wmsdk.h"

namespace ffsdk {

namespace {

using wm::kUnitsPerSecond;
// Times are watched over this many timed frames and this much audio before
// they are trusted.
constexpr int kWatchFrames = 16;
constexpr uint64_t kWatchSeconds = 2;
// A jump lands this far before its target: the decoder needs a few frames
// before its output is whole again.
constexpr int64_t kLeadIn = kUnitsPerSecond;
// Below this distance, decoding up to the target costs less than jumping.
constexpr uint64_t kJumpSeconds = 3;
// A forward step of the times larger than this, with nothing refused, is data
// missing from the file (or a damaged time): the times are no longer trusted.
// No silence stands for it, as no packet of the file held that audio.
constexpr int64_t kGapMs = 100;
// Silence for refused packets at the end reaches the file's end only when the
// last of them starts this close to it (a truncated file has no more audio).
constexpr uint64_t kTailSeconds = 1;
// Without a known end, one stretch of silence stops here.
constexpr uint64_t kMaxSilenceSeconds = 60;

}  // namespace

void Timeline::Reset(uint32_t rate, uint64_t end) {
    *this = Timeline();
    rate_ = rate;
    end_ = end;
}

void Timeline::Restart() {
    position_ = 0;
    rejected_ = false;
    rejectedSamples_ = 0;
    lastRejected_ = kNoTime;
    rejectedBeforeAudio_ = false;
    jumped_ = false;
    placed_ = false;
    confirmed_ = false;
    if (stamps_ == Stamps::kWatching) watched_ = 0;
}

void Timeline::Jumped(uint64_t target) {
    jumped_ = true;
    placed_ = false;
    confirmed_ = false;
    timedSinceJump_ = 0;
    target_ = target;
    rejected_ = false;
    rejectedSamples_ = 0;
    lastRejected_ = kNoTime;
}

void Timeline::PacketRead(int64_t time) {
    if (!haveOrigin_ && time != kNoTime) {
        origin_ = time;
        haveOrigin_ = true;
    }
}

void Timeline::PacketRejected(int64_t time, uint64_t samples) {
    // Before a jump's frames are placed, nothing is missed that counts.
    if (jumped_ && !placed_) return;
    rejected_ = true;
    rejectedSamples_ += samples;
    if (time != kNoTime) lastRejected_ = time;
    if (!haveDelay_) rejectedBeforeAudio_ = true;
}

int64_t Timeline::Predict(int64_t time) const {
    const int64_t since = time - origin_ - (haveDelay_ ? delay_ : 0);
    const int64_t scaled = since * static_cast<int64_t>(rate_);
    // Rounded to the nearest sample, either side of 0.
    return (scaled >= 0 ? scaled + kUnitsPerSecond / 2 : scaled - kUnitsPerSecond / 2) /
           kUnitsPerSecond;
}

int64_t Timeline::Snap(int64_t samples) const {
    // Frames shorter than a millisecond or so give no grid worth snapping to.
    if (stamps_ != Stamps::kTrusted || grid_ < rate_ / 1000 || grid_ == 0) return samples;
    const int64_t grid = static_cast<int64_t>(grid_);
    return (samples + grid / 2) / grid * grid;
}

uint64_t Timeline::Tolerance() const {
    // One and a half milliseconds: the times are whole milliseconds.
    return std::max<uint64_t>(2, uint64_t{rate_} * 15 / 10000);
}

uint64_t Timeline::SilenceUpTo(int64_t position) const {
    int64_t to = position;
    if (end_ > 0) {
        to = std::min<int64_t>(to, static_cast<int64_t>(end_));
    } else {
        to = std::min<int64_t>(to, static_cast<int64_t>(position_ + kMaxSilenceSeconds * rate_));
    }
    // No more than the refused packets held: a time or a header claiming more
    // makes no audio.
    to = std::min<int64_t>(to, static_cast<int64_t>(position_ + rejectedSamples_));
    const int64_t length = Snap(to - static_cast<int64_t>(position_));
    return length > 0
               ? static_cast<uint64_t>(std::min(length, to - static_cast<int64_t>(position_)))
               : 0;
}

void Timeline::Watch(int64_t drift) {
    if (watched_ == 0) {
        driftMin_ = drift;
        driftMax_ = drift;
    }
    driftMin_ = std::min(driftMin_, drift);
    driftMax_ = std::max(driftMax_, drift);
    ++watched_;
    if (static_cast<uint64_t>(driftMax_ - driftMin_) > Tolerance()) {
        stamps_ = Stamps::kUntrusted;
    } else if (watched_ >= kWatchFrames && position_ >= kWatchSeconds * rate_) {
        stamps_ = Stamps::kTrusted;
    }
}

Timeline::Placement Timeline::Frame(int64_t time, uint64_t samples) {
    Placement p;
    const bool timed = time != kNoTime && haveOrigin_;
    if (stamps_ == Stamps::kWatching) grid_ = std::gcd(grid_, samples);
    if (jumped_ && !placed_) {
        // The first frame after a jump may lack the audio its packet carried
        // over from the one before: the second timed frame places the rest.
        if (!timed || ++timedSinceJump_ < 2) return p;
        position_ = static_cast<uint64_t>(std::max<int64_t>(0, Snap(Predict(time))));
        placed_ = true;
        rejected_ = false;
        rejectedSamples_ = 0;
        if (position_ > target_) {
            p.lost = true;  // landed after the target
            return p;
        }
    } else if (timed) {
        if (!haveDelay_) {
            // The decoder's own delay: the first frame lies where the count is,
            // unless refused packets came before it, whose time it then keeps.
            delay_ =
                rejectedBeforeAudio_
                    ? 0
                    : time - origin_ - static_cast<int64_t>(position_) * kUnitsPerSecond / rate_;
            haveDelay_ = true;
        }
        const int64_t predicted = Predict(time);
        const int64_t drift = predicted - static_cast<int64_t>(position_);
        const bool gap = drift > kGapMs * static_cast<int64_t>(rate_) / 1000;
        if (drift > 0 && (rejected_ || gap)) {
            p.silence = SilenceUpTo(predicted);
            // Times that had to be mended are not trusted for jumps.
            if (stamps_ == Stamps::kWatching) stamps_ = Stamps::kUntrusted;
        } else if (jumped_) {
            if (static_cast<uint64_t>(drift < 0 ? -drift : drift) > Tolerance()) {
                p.lost = true;
                return p;
            }
            confirmed_ = true;
        } else if (stamps_ == Stamps::kWatching && !rejected_) {
            Watch(drift);
        }
    }
    rejected_ = false;
    rejectedSamples_ = 0;
    position_ += p.silence;
    if (jumped_ && !confirmed_ && position_ + samples > target_) {
        // Nothing is delivered before the times have held once after the jump.
        p.lost = true;
        return p;
    }
    p.keep = true;
    p.position = position_;
    position_ += samples;
    return p;
}

uint64_t Timeline::Ended() {
    if (!rejected_ || (jumped_ && !placed_)) return 0;
    rejected_ = false;
    if (lastRejected_ == kNoTime || !haveOrigin_) return 0;
    const int64_t last = std::max<int64_t>(Predict(lastRejected_), 0);
    const int64_t from = std::max<int64_t>(last, static_cast<int64_t>(position_));
    const bool reachesEnd =
        end_ > position_ && static_cast<int64_t>(end_) - from <= int64_t{kTailSeconds} * rate_;
    const uint64_t silence = SilenceUpTo(reachesEnd ? static_cast<int64_t>(end_) : last);
    rejectedSamples_ = 0;
    position_ += silence;
    return silence;
}

bool Timeline::WorthJumping(uint64_t target) const {
    // Not again while the frames after a jump are still being placed.
    if (stamps_ != Stamps::kTrusted || !haveOrigin_ || !haveDelay_ || (jumped_ && !placed_))
        return false;
    return target > position_ + kJumpSeconds * rate_;
}

int64_t Timeline::JumpTime(uint64_t target) const {
    const int64_t at =
        origin_ + delay_ + static_cast<int64_t>(target) * kUnitsPerSecond / rate_ - kLeadIn;
    return std::max(at, origin_);
}

}  // namespace ffsdk
