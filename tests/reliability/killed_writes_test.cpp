// SPDX-License-Identifier: MIT
// Tag writes killed at random moments: the file is always the old one or the
// new one, with whole tags and every byte after the header as it was, and the
// next write leaves nothing beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "child.h"
#include "media.h"
#include "scratch.h"

namespace reliability {
namespace {

struct Tags {
    std::string title, author, album;
    bool operator==(const Tags& o) const {
        return title == o.title && author == o.author && album == o.album;
    }
};

Tags Expected(const std::string& text) {
    return {text, text + "-a", text + "-b"};
}

Tags Probed(const std::string& path) {
    const media::Probe p = media::ProbeFile(path);
    return {p.title, p.artist, p.album};
}

int EnvOr(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

TEST(KilledTagWrites, LeaveTheOldOrTheNewFileWholeAndNothingAfterTheNextWrite) {
    if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    // About 3.8 MB: four minutes of stereo at 128 kbit/s.
    const std::string big = media::MakeWma("reliability-big.wma", "sine=frequency=330:duration=240",
                                           "-ar 44100 -ac 2 -b:a 128k -metadata title=start "
                                           "-metadata author=start-a -metadata album=start-b");
    ASSERT_FALSE(big.empty());
    Scratch scratch;
    const std::string path = scratch.Copy(big, "song.wma");
    const std::vector<unsigned char> original = Bytes(path);
    const uint64_t originalHeader = AsfHeaderSize(original);
    ASSERT_GT(originalHeader, 0u);
    const std::vector<unsigned char> payload(original.begin() + long(originalHeader),
                                             original.end());

    // How long one whole write takes, from the moment the call is made: the
    // shortest of three (the first ones read a cold file).
    auto whole = std::chrono::steady_clock::duration::max();
    for (int i = 0; i < 3; ++i) {
        Child calibrate({"reliability_child", "settags", path, "calibrated"});
        std::string line;
        ASSERT_TRUE(calibrate.ReadLine(std::chrono::seconds(30), &line));
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(calibrate.ReadLine(std::chrono::seconds(60), &line));
        whole = std::min(whole, std::chrono::steady_clock::now() - started);
        ASSERT_TRUE(calibrate.Wait(std::chrono::seconds(60)));
        ASSERT_EQ(calibrate.status(), 0);
    }
    Tags current = Expected("calibrated");
    Tags onDisk = current;
    ASSERT_TRUE(Probed(path) == current);

    const int kills = EnvOr("MERVANE_KILLS", RELIABILITY_KILLS);
    const unsigned seed =
        static_cast<unsigned>(EnvOr("MERVANE_KILL_SEED", int(std::random_device{}())));
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(whole).count() * 11 / 10);
    int interrupted = 0;
    int leftBehind = 0;
    for (int i = 0; i < kills; ++i) {
        const std::string text = "kill" + std::to_string(i);
        Child writer({"reliability_child", "settags", path, text});
        std::string line;
        ASSERT_TRUE(writer.ReadLine(std::chrono::seconds(30), &line)) << "kill " << i;
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        writer.Kill();
        ASSERT_TRUE(writer.Wait(std::chrono::seconds(30)));
        // Killed before the call returned: the write was cut short.
        if (writer.killedBySignal() && writer.output().find("done") == std::string::npos)
            ++interrupted;

        // Other programs see the file as it is: the tags of the last write
        // that finished, or of one whose journal a kill left.
        const Tags now = Probed(path);
        ASSERT_TRUE(now == current || now == onDisk || now == Expected(text))
            << "kill " << i << " (seed " << seed << "): title '" << now.title << "'";
        const std::vector<unsigned char> file = Bytes(path);
        const uint64_t header = AsfHeaderSize(file);
        ASSERT_GT(header, 0u) << "kill " << i;
        ASSERT_TRUE(file.size() - header == payload.size() &&
                    std::equal(payload.begin(), payload.end(), file.begin() + long(header)))
            << "kill " << i << ": the bytes after the header changed";
        AudioFormatInfo info{};
        ASSERT_EQ(GetWmaFileInfo(path.c_str(), &info), 1) << "kill " << i;
        ASSERT_EQ(info.sampleRate, 44100u);
        // Our library reads a journal that a kill left as it will be finished,
        // and leaves it for the next write.
        SongInfo read{};
        ASSERT_EQ(GetWmaSongInfo(path.c_str(), &read), 1) << "kill " << i;
        const Tags seen{read.title, read.author, read.album};
        ASSERT_TRUE(seen == now || seen == current || seen == Expected(text)) << "kill " << i;
        onDisk = now;
        current = seen;
        ASSERT_TRUE(Probed(path) == now) << "kill " << i << ": reading changed the file";
        leftBehind = std::max(leftBehind, int(scratch.Names().size()) - 1);
    }
    std::printf(
        "%d kills (seed %u), %d during the write, one write %.0f ms; at most %d files "
        "beside the target\n",
        kills, seed, interrupted, std::chrono::duration<double, std::milli>(whole).count(),
        leftBehind);

    const Outcome last = RunChild({"reliability_child", "settags", path, "last"});
    ASSERT_TRUE(last.finished);
    EXPECT_EQ(last.exitStatus, 0);
    EXPECT_TRUE(Probed(path) == Expected("last"));
    EXPECT_EQ(scratch.Names(), std::vector<std::string>{"song.wma"});
    EXPECT_EQ(media::Run("ffmpeg -nostdin -v error -i '" + path + "' -f null -"), 0);
}

}  // namespace
}  // namespace reliability
