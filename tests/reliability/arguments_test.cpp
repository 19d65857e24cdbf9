// SPDX-License-Identifier: MIT
// Hostile arguments to the exports: null pointers, paths that are empty,
// missing, folders, devices, pipes, very long or not UTF-8, odd blocks and
// absurd formats. Every call answers at once, refuses what it cannot do, and
// never touches a file other than the one named.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <vector>

#include "child.h"
#include "decode_collector.h"
#include "media.h"
#include "scratch.h"

namespace reliability {
namespace {

const AudioFormatInfo kCdStereo{0, 44100, 2, 128, 0, 0, 0, 0};

class BadArguments : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
        song = media::MakeWma("args-22050-1.wma", "sine=frequency=600:duration=1",
                              "-ar 22050 -ac 1 -b:a 32k -metadata title=original");
        ASSERT_FALSE(song.empty());
    }
    // Encodes one second of silence to `path`; true if every call succeeded.
    static bool EncodeTo(const std::string& path) {
        if (InitWMAWriteFile(path.c_str(), &kCdStereo) != 1) return false;
        const std::vector<int16_t> pcm(44100 * 2);
        const bool wrote = WriteWMAFile(pcm.data(), uint32_t(pcm.size() * 2)) == 1;
        return CloseWMAWriteFile() == 0 && wrote;
    }
    std::string song;
    Scratch scratch;
};

TEST_F(BadArguments, NullPointersAreRefused) {
    AudioFormatInfo info{};
    SongInfo tags{};
    EXPECT_EQ(GetWmaFileInfo(nullptr, &info), 0);
    EXPECT_EQ(GetWmaFileInfo(song.c_str(), nullptr), 0);
    EXPECT_EQ(GetWmaSongInfo(nullptr, &tags), 0);
    EXPECT_EQ(GetWmaSongInfo(song.c_str(), nullptr), 0);
    EXPECT_EQ(SetWmaSongInfo(nullptr, &tags), 0);
    EXPECT_EQ(SetWmaSongInfo(song.c_str(), nullptr), 0);
    EXPECT_EQ(GoGoGoReader(nullptr, 0, 1, DecodeCollector::Callback), 0);
    EXPECT_EQ(GoGoGoReader(song.c_str(), 0, 1, nullptr), 0);
    EXPECT_EQ(InitWMAWriteFile(nullptr, &kCdStereo), 0);
    EXPECT_EQ(InitWMAWriteFile(scratch.Path("x.wma").c_str(), nullptr), 0);
    EXPECT_EQ(WriteWMAFile(nullptr, 4), 0);
    EXPECT_NE(CloseWMAWriteFile(), 0);
    EXPECT_EQ(CancelReader(), 0);
    EnumWMAFormat(nullptr);
    ASSERT_EQ(InitWMAWriteFile(scratch.Path("open.wma").c_str(), &kCdStereo), 1);
    EXPECT_EQ(WriteWMAFile(nullptr, 4), 0);
    EXPECT_EQ(CloseWMAWriteFile(), 0);
}

// Each call in a child bounded to 10 s: a call that blocks fails the test
// instead of hanging it.
TEST_F(BadArguments, PathsThatAreNoFileAreRefusedAtOnce) {
    const std::string fifo = scratch.Path("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string paths[] = {"",
                                 scratch.Path("missing.wma"),
                                 scratch.Path("no/such.wma"),
                                 scratch.dir(),
                                 "/dev/null",
                                 "/dev/zero",
                                 fifo};
    const char* readers[] = {"info", "tags-read", "tags-write", "decode"};
    for (const std::string& path : paths) {
        for (const char* op : readers) {
            const Outcome out =
                RunChild({"reliability_child", "call", op, path}, std::chrono::seconds(10));
            EXPECT_TRUE(out.finished && out.exitStatus == 1)
                << op << " on '" << path << "': " << (out.finished ? "accepted" : "hung");
        }
    }
    // As a destination: a folder, devices and a pipe are no file to encode to.
    for (const std::string& path : {std::string(), scratch.dir(), std::string("/dev/null"),
                                    std::string("/dev/zero"), fifo, scratch.Path("no/x.wma")}) {
        const Outcome out =
            RunChild({"reliability_child", "call", "init-write", path}, std::chrono::seconds(10));
        EXPECT_TRUE(out.finished && out.exitStatus == 1)
            << "init-write on '" << path << "': " << (out.finished ? "accepted" : "hung");
    }
}

// Paths up to the system's limit (4,095 bytes) and names up to its limit
// (255 bytes): a tag write that needs a new file, one in place, and an encode
// over the file and beside it, whose files made beside stay within the limits.
TEST_F(BadArguments, PathsOfAnyLengthTheSystemTakesWork) {
    const struct {
        size_t path;  // 0: as short as the folder allows
        size_t name;
    } cases[] = {{300, 60}, {1200, 60}, {4095, 60}, {0, 255}};
    for (const auto& c : cases) {
        const std::string at =
            "path " + std::to_string(c.path) + ", name " + std::to_string(c.name);
        std::string dir = scratch.Path(std::to_string(c.path) + "-" + std::to_string(c.name));
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        while (dir.size() + 52 + c.name <= c.path) {
            dir += "/" + std::string(50, 'd');
            ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        }
        const size_t name = c.path == 0 ? c.name : c.path - dir.size() - 1;
        const std::string path = scratch.Copy(
            song, dir.substr(scratch.dir().size() + 1) + "/" + std::string(name - 4, 's') + ".wma");
        ASSERT_TRUE(c.path == 0 || path.size() == c.path) << at;
        AudioFormatInfo info{};
        EXPECT_EQ(GetWmaFileInfo(path.c_str(), &info), 1) << at;
        EXPECT_EQ(info.sampleRate, 22050u);
        for (const char* title : {"rewritten", "in place"}) {
            const SongInfo tags = TagsFor(title);
            EXPECT_EQ(SetWmaSongInfo(path.c_str(), &tags), 1) << at << ", " << title;
            SongInfo back{};
            EXPECT_EQ(GetWmaSongInfo(path.c_str(), &back), 1) << at;
            EXPECT_STREQ(back.title, title) << at;
        }
        DecodeCollector::Instance().Reset();
        ASSERT_EQ(GoGoGoReader(path.c_str(), 0, 1, DecodeCollector::Callback), 1) << at;
        EXPECT_TRUE(DecodeCollector::Instance().WaitForEnd());
        const std::string made = path.substr(0, path.size() - 5) + "e.wma";
        EXPECT_TRUE(EncodeTo(made)) << at;
        EXPECT_EQ(media::ProbeFile(made).codec, "wmav2") << at;
        EXPECT_TRUE(EncodeTo(path)) << at << ", over the file";
        EXPECT_EQ(NamesIn(dir).size(), 2u) << at;
    }
}

// A path is bytes: one that is not UTF-8 names exactly that file or is refused.
// A decoy under the name a lossy conversion would make (U+FFFD for each bad
// byte) tells which file was used.
TEST_F(BadArguments, PathsThatAreNotUtf8NameExactlyThatFile) {
    const std::string other = media::MakeWma("args-44100-2.wma", "sine=frequency=700:duration=1",
                                             "-ar 44100 -ac 2 -b:a 128k -metadata title=decoy");
    ASSERT_FALSE(other.empty());
    const std::string bad = scratch.Copy(song, "bad-\xff\xfe.wma");
    const std::string decoy = scratch.Copy(other, "bad-\xEF\xBF\xBD\xEF\xBF\xBD.wma");
    const std::vector<unsigned char> decoyBytes = Bytes(decoy);

    AudioFormatInfo info{};
    if (GetWmaFileInfo(bad.c_str(), &info) == 1) {
        EXPECT_EQ(info.sampleRate, 22050u) << "another file was read";
    }
    SongInfo tags{};
    if (GetWmaSongInfo(bad.c_str(), &tags) == 1) {
        EXPECT_STREQ(tags.title, "original") << "another file was read";
    }
    const SongInfo written = TagsFor("exact");
    if (SetWmaSongInfo(bad.c_str(), &written) == 1) {
        EXPECT_EQ(media::ProbeFile(bad).title, "exact") << "another file was written";
    }
    EXPECT_TRUE(Bytes(decoy) == decoyBytes) << "the decoy was written";

    const std::vector<std::string> before = scratch.Names();
    const std::string made = scratch.Path("new-\xff.wma");
    std::vector<std::string> expected = before;
    if (EncodeTo(made)) {
        expected.push_back("new-\xff.wma");
        std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(scratch.Names(), expected) << "the encode made a file under another name";
    EXPECT_TRUE(Bytes(decoy) == decoyBytes) << "the decoy was written";
}

TEST_F(BadArguments, OddAndEmptyBlocksKeepTheEncodeWhole) {
    const std::string path = scratch.Path("odd.wma");
    ASSERT_EQ(InitWMAWriteFile(path.c_str(), &kCdStereo), 1);
    const std::vector<int16_t> pcm(44100 * 2, 1000);
    for (const uint32_t bytes : {0u, 1u, 3u, 4u, 4099u, 0u, 176400u}) {
        WriteWMAFile(pcm.data(), bytes);
    }
    EXPECT_EQ(CloseWMAWriteFile(), 0);
    const media::Probe probe = media::ProbeFile(path);
    EXPECT_EQ(probe.codec, "wmav2");
    EXPECT_NEAR(probe.durationS, 1.0, 0.2);
}

TEST_F(BadArguments, AbsurdFormatsAreRefused) {
    const AudioFormatInfo formats[] = {
        {0, 0, 2, 128, 0, 0, 0, 0},
        {0, 1, 2, 128, 0, 0, 0, 0},
        {0, 0xFFFFFFFF, 2, 128, 0, 0, 0, 0},
        {0, 44100, 0, 128, 0, 0, 0, 0},
        {0, 44100, 3, 128, 0, 0, 0, 0},
        {0, 44100, 0xFFFFFFFF, 128, 0, 0, 0, 0},
        {0, 44100, 2, 0, 0, 0, 0, 0},
        {0, 44100, 2, 0xFFFFFFFF, 0, 0, 0, 0},
        // x 1000 wraps to exactly 128,000 bit/s in 32 bits.
        {0, 44100, 2, 536871040, 0, 0, 0, 0},
    };
    const std::string path = scratch.Path("absurd.wma");
    for (const AudioFormatInfo& f : formats) {
        EXPECT_EQ(InitWMAWriteFile(path.c_str(), &f), 0)
            << f.sampleRate << " Hz, " << f.channels << " channels, " << f.bitrateKbps << " kbit/s";
        CloseWMAWriteFile();
        EXPECT_FALSE(Exists(path));
    }
}

}  // namespace
}  // namespace reliability
