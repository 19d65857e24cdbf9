// SPDX-License-Identifier: MIT
// The stand-in decoder's timeline: when a jump may replace decoding, and how
// the frames after it are placed and checked, fed scripted times (100 ns) and
// frame sizes. (Silence for refused packets shows on the real WMA Voice file.)
#include <gtest/gtest.h>

#include "reader/pcm_timeline.h"

namespace {

using ffsdk::Timeline;

constexpr uint32_t kRate = 8000;
constexpr int64_t kMs = 10'000;
constexpr uint64_t kFrame = 256;  // samples, 32 ms
constexpr int64_t kFrameTime = 32 * kMs;

// A stream of one frame per packet from `origin`, each frame decoded the
// packet after its own (a decoder delay of one frame), times jittering by
// `jitter(k)`.
template <typename Jitter>
void Feed(Timeline& t, int frames, Jitter jitter, int64_t origin = 500 * kMs) {
    for (int k = 0; k < frames; ++k) {
        t.PacketRead(origin + k * kFrameTime + jitter(k));
        if (k > 0) t.Frame(origin + (k - 1) * kFrameTime + jitter(k - 1), kFrame);
    }
}

TEST(SdkTimeline, JumpsOnlyWhereTimesFollowTheAudio) {
    Timeline steady;
    steady.Reset(kRate, 0);
    Feed(steady, 100, [](int k) { return k % 2 ? 4'000 : 0; });  // whole-millisecond rounding
    EXPECT_TRUE(steady.WorthJumping(60 * kRate));
    EXPECT_FALSE(steady.WorthJumping(steady.position() + kRate)) << "near: decoding is cheaper";
    EXPECT_EQ(steady.JumpTime(60 * kRate), 500 * kMs + 59'000 * kMs) << "a second before";

    Timeline jittery;  // times off by up to 12 ms, as the platform's encoders stamp them
    jittery.Reset(kRate, 0);
    Feed(jittery, 100, [](int k) { return (k * 7 % 5) * 3 * kMs; });
    EXPECT_FALSE(jittery.WorthJumping(60 * kRate));
}

TEST(SdkTimeline, AfterAJumpFramesArePlacedByTheirTimesOnTheGridAndChecked) {
    const auto jumped = [] {
        Timeline t;
        t.Reset(kRate, 0);
        Feed(t, 100, [](int) { return 0; });
        t.Jumped(40 * kRate);
        return t;
    };
    const int64_t base = 500 * kMs;  // the time of position 0
    Timeline t = jumped();
    EXPECT_FALSE(t.Frame(base + 39'008 * kMs, kFrame).keep) << "the first may be partial";
    Timeline::Placement p = t.Frame(base + 39'040 * kMs + 3'000, kFrame);  // off the grid
    EXPECT_TRUE(p.keep);
    EXPECT_EQ(p.position, 39'040u * 8);
    EXPECT_EQ(t.Frame(base + 39'072 * kMs, kFrame).position, 39'072u * 8);

    Timeline late = jumped();
    late.Frame(base + 40'000 * kMs, kFrame);
    EXPECT_TRUE(late.Frame(base + 40'032 * kMs, kFrame).lost) << "landed after the target";

    Timeline drifting = jumped();
    drifting.Frame(base + 39'008 * kMs, kFrame);
    drifting.Frame(base + 39'040 * kMs, kFrame);
    EXPECT_TRUE(drifting.Frame(base + 39'082 * kMs, kFrame).lost) << "10 ms off";

    Timeline unchecked = jumped();
    unchecked.Frame(base + 39'008 * kMs, kFrame);
    EXPECT_TRUE(unchecked.Frame(base + 39'990 * kMs, kFrame).lost)
        << "the target comes before the times held once";
}

TEST(SdkTimeline, SilenceNeverExceedsWhatTheRefusedPacketsHold) {
    constexpr uint64_t kEnd = 2'831'242ull * kRate;  // a header's claim
    constexpr int64_t kFar = 2'831'000'000 * kMs;    // a damaged payload time
    Timeline t;
    t.Reset(kRate, kEnd);
    Feed(t, 10, [](int) { return 0; });
    // A time far ahead with nothing refused is no audio of the file.
    t.PacketRead(kFar);
    EXPECT_EQ(t.Frame(kFar, kFrame).silence, 0u);
    // A refused packet stands for no more than it can hold, at the end too.
    t.PacketRejected(kFar + kFrameTime, kFrame);
    EXPECT_EQ(t.Frame(2 * kFar, kFrame).silence, kFrame);
    t.PacketRejected(2 * kFar, 2 * kFrame);
    EXPECT_LE(t.Ended(), 2 * kFrame);
}

}  // namespace
