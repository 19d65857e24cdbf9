// SPDX-License-Identifier: MIT
// Tag writes killed at each of their steps: the file is always the old one or
// the new one, with whole tags and every byte after the header as it was, and
// the next write leaves nothing beside it.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
        const double duration = media::ProbeFile(start).durationS;
        scratch.Copy(start, "song.wma");
        struct stat before {};
        ASSERT_EQ(stat(path.c_str(), &before), 0);
        const Outcome whole = RunChild({"reliability_child", "settags", path, "new"});
        ASSERT_EQ(whole.exitStatus, 0) << whole.output;
        struct stat after {};
        ASSERT_EQ(stat(path.c_str(), &after), 0);
        EXPECT_EQ(before.st_ino == after.st_ino, inPlace) << "written in place, or as a new file";
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

            // Other programs see the old tags or the new ones, together, and
            // the same duration.
            const Tags now = Probed(path);
            ASSERT_TRUE(now == old || now == Expected("new")) << "title '" << now.title << "'";
            EXPECT_NEAR(media::ProbeFile(path).durationS, duration, 0.001);
            // Beside the file at most the journal of a write in place, or the
            // named new file of one that makes a new file.
            const std::vector<std::string> left = scratch.Names();
            EXPECT_TRUE(left.size() == 1 ||
                        (left.size() == 2 && (!inPlace || left[1] == "song.wma.header-journal")))
                << left.size() << " names, the last " << left.back();
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

            // A write that finishes a journal left behind, killed at each of
            // its steps too: still one whole set of tags, the same audio.
            for (long again = 1; Exists(path + ".header-journal") && again < 2 * steps; ++again) {
                Child next({"reliability_child", "settags", path, "next", std::to_string(again)});
                ASSERT_TRUE(next.Wait(std::chrono::seconds(60)));
                const Tags then = Probed(path);
                ASSERT_TRUE(then == now || then == Expected("new") || then == Expected("next"))
                    << "again at step " << again << ": title '" << then.title << "'";
                ASSERT_EQ(Bytes(path).size() - AsfHeaderSize(Bytes(path)), payload.size());
                if (!next.killedBySignal()) break;
            }
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
