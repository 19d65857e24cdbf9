// SPDX-License-Identifier: MIT
// GetWmaFileInfo from several threads at once on different files: every answer
// right, and the run ends (the child is killed and the test fails otherwise).
#include <gtest/gtest.h>

#include "child.h"
#include "media.h"

namespace reliability {
namespace {

TEST(RacingQueries, EveryAnswerIsRightAndNoneHangs) {
    if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    const std::string a = media::MakeWma("race-22050-1.wma", "sine=frequency=300:duration=1",
                                         "-ar 22050 -ac 1 -b:a 32k");
    const std::string b = media::MakeWma("race-44100-2.wma", "sine=frequency=400:duration=1",
                                         "-ar 44100 -ac 2 -b:a 128k");
    const std::string c = media::MakeWma("race-32000-1.wma", "sine=frequency=500:duration=1",
                                         "-ar 32000 -ac 1 -b:a 48k");
    ASSERT_FALSE(a.empty() || b.empty() || c.empty());
    const Outcome out = RunChild(
        {"reliability_child", "race", "300", a, "22050", "1", b, "44100", "2", c, "32000", "1"},
        std::chrono::seconds(120));
    ASSERT_TRUE(out.finished) << "the queries hung\n" << out.output;
    EXPECT_EQ(out.exitStatus, 0) << out.output;
}

}  // namespace
}  // namespace reliability
