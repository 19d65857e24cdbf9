// The stand-in decoder's timeline: positions, silence for refused packets, and
// when a jump may replace decoding, fed scripted times (100 ns) and frame sizes.
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

TEST(SdkTimeline, CountsFromTheStartAndFillsRefusedPacketsWithSilenceOfTheirLength) {
    Timeline t;
    t.Reset(kRate, 0);
    const int64_t origin = 500 * kMs;
    const int64_t first = origin + 64 * kMs;  // the decoder holds back its first 64 ms
    t.PacketRead(origin);
    Timeline::Placement p = t.Frame(first, kFrame);
    EXPECT_TRUE(p.keep);
    EXPECT_EQ(p.position, 0u);
    EXPECT_EQ(p.silence, 0u);
    // Two packets refused: their 64 ms come back as silence before the next frame.
    t.PacketRejected(first + 32 * kMs);
    t.PacketRejected(first + 64 * kMs);
    p = t.Frame(first + 96 * kMs, kFrame);
    EXPECT_EQ(p.silence, 2 * kFrame);
    EXPECT_EQ(p.position, 3 * kFrame);
    // Jitter below the gap threshold moves nothing.
    p = t.Frame(first + 133 * kMs, kFrame);
    EXPECT_EQ(p.silence, 0u);
    EXPECT_EQ(p.position, 4 * kFrame);
}

TEST(SdkTimeline, RefusalsBeforeAnyAudioAndAtTheEndKeepTheirTimes) {
    for (const uint64_t end : {uint64_t{0}, uint64_t{20 * kRate}}) {
        SCOPED_TRACE(end);
        Timeline t;
        t.Reset(kRate, end);
        t.PacketRead(0);
        t.PacketRejected(0);
        t.PacketRejected(4000 * kMs);
        // The first audio keeps the time of its packet: silence up to it.
        Timeline::Placement p = t.Frame(7000 * kMs, kFrame);
        EXPECT_EQ(p.silence, 7 * kRate);
        t.PacketRejected(19'500 * kMs);
        // Refused packets at the end reach the file's end when they start near
        // it; with no end known, only to the last of them.
        EXPECT_EQ(t.Ended(), end > 0 ? end - 7 * kRate - kFrame : 19'500 * 8 - 7 * kRate - kFrame);
    }
    // A file cut short: its last refused packet lies far from the end.
    Timeline cut;
    cut.Reset(kRate, 200 * kRate);
    cut.PacketRead(0);
    cut.Frame(0, kFrame);
    cut.PacketRejected(32 * kMs);
    EXPECT_EQ(cut.Ended(), 0u);
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

}  // namespace
