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
#include <random>
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
    }
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
    std::mt19937 random(19);
    std::uniform_int_distribution<int> momentMs(0, 800);
    int during = 0;
    for (int kill = 0; kill < 8; ++kill) {
        Child encoder({"reliability_child", "encode", song});
        std::string line;
        ASSERT_TRUE(encoder.ReadLine(std::chrono::seconds(30), &line));
        std::this_thread::sleep_for(std::chrono::milliseconds(momentMs(random)));
        encoder.Kill();
        ASSERT_TRUE(encoder.Wait(std::chrono::seconds(30)));
        if (encoder.output().find("done") != std::string::npos) continue;  // it finished first
        ++during;
        EXPECT_TRUE(Bytes(song) == before) << "kill " << kill;
        EXPECT_EQ(scratch.Names(), std::vector<std::string>{"song.wma"}) << "kill " << kill;
    }
    EXPECT_GT(during, 0) << "every encode finished before its kill";
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
