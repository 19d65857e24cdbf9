// SPDX-License-Identifier: MIT
// Tag writes killed at each of their steps: the file is always the old one or
// the new one, with whole tags and every byte after the header as it was, and
// the next write leaves nothing beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

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

// Every step of a tag write, of each kind: into ffmpeg's file, whose header
// has no room (a new file), and into one with room (in place, through the
// journal). The write is killed before its K-th file change for every K; the
// file starts as it was each time.
TEST(KilledTagWrites, LeaveTheOldOrTheNewFileWholeAndNothingAfterTheNextWrite) {
    if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    // About 3.8 MB: four minutes of stereo at 128 kbit/s.
    const std::string big = media::MakeWma("reliability-big.wma", "sine=frequency=330:duration=240",
                                           "-ar 44100 -ac 2 -b:a 128k -metadata title=start "
                                           "-metadata author=start-a -metadata album=start-b");
    ASSERT_FALSE(big.empty());
    Scratch starts;
    const std::string roomy = starts.Copy(big, "roomy.wma");
    ASSERT_EQ(RunChild({"reliability_child", "settags", roomy, "roomy"}).exitStatus, 0);
    Scratch scratch;
    const std::string path = scratch.Path("song.wma");
    for (const bool inPlace : {false, true}) {
        const std::string start = inPlace ? roomy : big;
        const Tags old = Expected(inPlace ? "roomy" : "start");
        const std::vector<unsigned char> original = Bytes(start);
        const uint64_t originalHeader = AsfHeaderSize(original);
        ASSERT_GT(originalHeader, 0u);
        const std::vector<unsigned char> payload(original.begin() + long(originalHeader),
                                                 original.end());
        scratch.Copy(start, "song.wma");
        const Outcome whole = RunChild({"reliability_child", "settags", path, "new"});
        ASSERT_EQ(whole.exitStatus, 0) << whole.output;
        const long steps = StepsOf(whole.output);
        ASSERT_GT(steps, 2) << whole.output;
        std::printf("%s: %ld file changes\n", inPlace ? "in place" : "a new file", steps);
        for (long step = 1; step <= steps; ++step) {
            SCOPED_TRACE((inPlace ? "in place, step " : "a new file, step ") +
                         std::to_string(step));
            ASSERT_EQ(std::remove(path.c_str()), 0);
            scratch.Copy(start, "song.wma");
            Child writer({"reliability_child", "settags", path, "new", std::to_string(step)});
            ASSERT_TRUE(writer.Wait(std::chrono::seconds(60)));
            ASSERT_TRUE(writer.killedBySignal()) << writer.output();

            // Other programs see the old tags or the new ones, together.
            const Tags now = Probed(path);
            ASSERT_TRUE(now == old || now == Expected("new")) << "title '" << now.title << "'";
            const std::vector<unsigned char> file = Bytes(path);
            const uint64_t header = AsfHeaderSize(file);
            ASSERT_GT(header, 0u);
            ASSERT_TRUE(file.size() - header == payload.size() &&
                        std::equal(payload.begin(), payload.end(), file.begin() + long(header)))
                << "the bytes after the header changed";
            AudioFormatInfo info{};
            ASSERT_EQ(GetWmaFileInfo(path.c_str(), &info), 1);
            ASSERT_EQ(info.sampleRate, 44100u);
            // Our library reads a journal that a kill left as it will be
            // finished, and leaves it for the next write.
            SongInfo read{};
            ASSERT_EQ(GetWmaSongInfo(path.c_str(), &read), 1);
            const Tags seen{read.title, read.author, read.album};
            ASSERT_TRUE(seen == now || seen == Expected("new"));
            ASSERT_TRUE(Probed(path) == now) << "reading changed the file";

            const Outcome next = RunChild({"reliability_child", "settags", path, "next"});
            ASSERT_EQ(next.exitStatus, 0);
            EXPECT_TRUE(Probed(path) == Expected("next"));
            EXPECT_EQ(scratch.Names(), std::vector<std::string>{"song.wma"});
        }
    }
    EXPECT_EQ(media::Run("ffmpeg -nostdin -v error -i '" + path + "' -f null -"), 0);
}

}  // namespace
}  // namespace reliability
