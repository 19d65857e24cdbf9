// SPDX-License-Identifier: MIT
// An encode replaces a file only when it succeeds: a decode of the file under
// way is unaffected, and an encode that fails or is killed leaves the file as
// it was and nothing beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "child.h"
#include "decode_collector.h"
#include "media.h"
#include "scratch.h"

namespace reliability {
namespace {

class Replacing : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
        const std::string source =
            media::MakeWma("reliability-30s.wma", "sine=frequency=550:duration=30",
                           "-ar 44100 -ac 2 -b:a 128k -metadata title=kept");
        ASSERT_FALSE(source.empty());
        song = scratch.Copy(source, "song.wma");
        before = Bytes(song);
        original = source;
    }
    std::string original;
    std::string song;
    std::vector<unsigned char> before;
    Scratch scratch;
};

// The decode waits in its first block while the path changes.
std::mutex gate;
std::condition_variable opened;
bool encoded = false;

int32_t MERVANE_CALL HeldAtFirstBlock(const void* data, uint32_t bytes, uint32_t time) {
    if (data != nullptr) {
        std::unique_lock<std::mutex> lock(gate);
        opened.wait_for(lock, std::chrono::seconds(30), [] { return encoded; });
    }
    return DecodeCollector::Callback(data, bytes, time);
}

TEST_F(Replacing, AnEncodeOverAFileBeingDecodedLeavesThatDecodeWhole) {
    DecodeCollector& collector = DecodeCollector::Instance();
    collector.Reset();
    ASSERT_EQ(GoGoGoReader(song.c_str(), 0, 1, DecodeCollector::Callback), 1);
    ASSERT_TRUE(collector.WaitForEnd());
    const std::vector<int16_t> whole = collector.Snapshot().pcm;

    collector.Reset();
    ASSERT_EQ(GoGoGoReader(song.c_str(), 0, 1, HeldAtFirstBlock), 1);
    const AudioFormatInfo format{0, 44100, 2, 128, 0, 0, 0, 0};
    ASSERT_EQ(InitWMAWriteFile(song.c_str(), &format), 1);
    const std::vector<int16_t> silence(44100 * 2);
    EXPECT_EQ(WriteWMAFile(silence.data(), uint32_t(silence.size() * 2)), 1);
    EXPECT_EQ(CloseWMAWriteFile(), 0);
    {
        std::lock_guard<std::mutex> lock(gate);
        encoded = true;
    }
    opened.notify_all();
    ASSERT_TRUE(collector.WaitForEnd());
    EXPECT_TRUE(collector.Snapshot().pcm == whole) << "the decode did not read the file it opened";
    EXPECT_NEAR(media::ProbeFile(song).durationS, 1.0, 0.1);
    EXPECT_EQ(scratch.Names(), std::vector<std::string>{"song.wma"});
}

TEST_F(Replacing, ADecodeReadsTheFileItOpenedWhenThePathIsUnlinked) {
    const std::vector<int16_t> reference = media::DecodeWithFfmpeg(song);
    DecodeCollector& collector = DecodeCollector::Instance();
    collector.Reset();
    {
        std::lock_guard<std::mutex> lock(gate);
        encoded = false;
    }
    ASSERT_EQ(GoGoGoReader(song.c_str(), 0, 1, HeldAtFirstBlock), 1);
    ASSERT_EQ(std::remove(song.c_str()), 0);
    {
        std::lock_guard<std::mutex> lock(gate);
        encoded = true;
    }
    opened.notify_all();
    ASSERT_TRUE(collector.WaitForEnd());
    const std::vector<int16_t> pcm = collector.Snapshot().pcm;
    ASSERT_EQ(pcm.size(), reference.size()) << "the decode did not read the file it opened";
    int worst = 0;
    for (size_t i = 0; i < pcm.size(); ++i)
        worst = std::max(worst, std::abs(pcm[i] - reference[i]));
    EXPECT_LE(worst, 1);
}

TEST_F(Replacing, AnEncodeKilledAtAnyMomentLeavesTheFileAndNothingBesideIt) {
    // The file changes a whole encode makes; the killed ones stop before one
    // of them: the first ones, some in the middle and the last ones, where
    // the new file is flushed, named and put in place. The file is then the
    // old one, or the whole new one once the kill came after its rename, and
    // the next encode leaves nothing beside it.
    const Outcome whole = RunChild({"reliability_child", "encode", scratch.Path("whole.wma")});
    ASSERT_TRUE(whole.finished && whole.exitStatus == 0) << whole.output;
    const long steps = StepsOf(whole.output);
    ASSERT_GT(steps, 8) << whole.output;
    ASSERT_EQ(std::remove(scratch.Path("whole.wma").c_str()), 0);
    for (const long step : {1L, 2L, steps / 3, steps / 2, steps - 3, steps - 2, steps - 1, steps}) {
        Child encoder({"reliability_child", "encode", song, std::to_string(step)});
        ASSERT_TRUE(encoder.Wait(std::chrono::seconds(120)));
        ASSERT_TRUE(encoder.killedBySignal()) << "step " << step << ": " << encoder.output();
        if (Bytes(song) != before) {
            EXPECT_NEAR(media::ProbeFile(song).durationS, 300.0, 0.5) << "step " << step;
            song = scratch.Copy(original, "song.wma");
        }
        // A kill between the new file's naming and its rename leaves that
        // name, for the next write in the folder to remove.
        EXPECT_LE(scratch.Names().size(), 2u) << "step " << step;
    }
    const Outcome last = RunChild({"reliability_child", "encode", song});
    EXPECT_EQ(last.exitStatus, 0);
    EXPECT_EQ(scratch.Names(), std::vector<std::string>{"song.wma"});
}

// Where the file system has no unnamed files, an encode's new file has a name
// from its start; a tag write to the same file that needs a new file of its
// own, and so sweeps the folder for leftovers, leaves that one alone.
TEST_F(Replacing, ATagRewriteLeavesTheFileOfARunningEncodeAlone) {
    Child encoder({"reliability_child", "encode-stopped", song, "100"});
    ASSERT_TRUE(encoder.WaitStopped()) << encoder.output();
    ASSERT_EQ(scratch.Names().size(), 2u) << "the encode's new file has no name";
    const SongInfo tags = TagsFor("beside");
    EXPECT_EQ(SetWmaSongInfo(song.c_str(), &tags), 1);
    encoder.Continue();
    ASSERT_TRUE(encoder.Wait(std::chrono::seconds(120)));
    EXPECT_TRUE(encoder.exited() && encoder.status() == 0) << encoder.output();
    EXPECT_NEAR(media::ProbeFile(song).durationS, 300.0, 0.5);
    EXPECT_EQ(scratch.Names(), std::vector<std::string>{"song.wma"});
}

TEST_F(Replacing, AnEncodeThatCannotBeginLeavesTheFileAsItWas) {
    // Its header does not fit under a file-size limit of 1,000 bytes.
    const Outcome out = RunChild({"reliability_child", "limit-init", "1000", song});
    ASSERT_TRUE(out.finished);
    EXPECT_EQ(out.exitStatus, 1);
    EXPECT_TRUE(Bytes(song) == before);
    EXPECT_EQ(scratch.Names(), std::vector<std::string>{"song.wma"});
}

}  // namespace
}  // namespace reliability
