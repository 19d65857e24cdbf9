// SPDX-License-Identifier: MIT
// Who may change a file: reading never writes (not even a journal another user
// forged beside it), a tag write needs the right to write the file and keeps
// its owner, and a file's hard links never part. The calls run as throwaway
// unprivileged users in child processes (the tests run as the superuser).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "decode_collector.h"
#include "media.h"
#include "mervane.h"
#include "scratch.h"

namespace reliability {
namespace {

constexpr uid_t kOwner = 65534;     // the file's owner
constexpr uid_t kStranger = 65533;  // another user of the shared folder

// A file query, a tag read that finds `title`, and a whole decode.
bool ReadsAsTitled(const std::string& path, const std::string& title) {
    AudioFormatInfo info{};
    SongInfo tags{};
    if (GetWmaFileInfo(path.c_str(), &info) != 1 || GetWmaSongInfo(path.c_str(), &tags) != 1 ||
        title != tags.title) {
        return false;
    }
    DecodeCollector& decode = DecodeCollector::Instance();
    decode.Reset();
    return GoGoGoReader(path.c_str(), 0, 1, DecodeCollector::Callback) == 1 && decode.WaitForEnd();
}

bool SetTitle(const std::string& path, const std::string& title) {
    SongInfo tags{};
    std::strncpy(tags.title, title.c_str(), sizeof tags.title - 1);
    return SetWmaSongInfo(path.c_str(), &tags) == 1;
}

// A journal as the library lays it out, recording `header` for `file`: what
// another user can forge in a shared folder.
std::vector<unsigned char> Journal(const std::string& file,
                                   const std::vector<unsigned char>& header) {
    struct stat st {};
    stat(file.c_str(), &st);
    std::vector<unsigned char> bytes = {'A', 'S', 'F', 'H', 'J', 'N', 'L', '1'};
    const auto append = [&bytes](uint64_t value, int count) {
        for (int i = 0; i < count; ++i)
            bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    append(st.st_ino, 8);
    append(st.st_dev, 8);
    append(header.size(), 4);
    append(0, 4);
    bytes.insert(bytes.end(), header.begin(), header.end());
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char b : bytes) hash = (hash ^ b) * 0x100000001b3ull;
    append(hash, 8);
    return bytes;
}

bool Spit(const std::string& path, const std::vector<unsigned char>& bytes) {
    FILE* out = std::fopen(path.c_str(), "wb");
    const bool ok =
        out != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return out != nullptr && std::fclose(out) == 0 && ok;
}

class Rights : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
        if (geteuid() != 0) GTEST_SKIP() << "switching to other users needs the superuser";
        // ffmpeg's header has no room: a first tag write must rewrite the file.
        tight_ = media::MakeWma("rights.wma", "sine=frequency=440:duration=1",
                                "-ar 44100 -ac 2 -b:a 128k -metadata title=orig");
        ASSERT_FALSE(tight_.empty());
        roomy_ = scratch_.Copy(tight_, "roomy-source.wma");
        ASSERT_TRUE(SetTitle(roomy_, "orig"));
        // A shared folder: anyone creates files, only owners remove them.
        ASSERT_EQ(chmod(scratch_.dir().c_str(), 01777), 0);
    }
    // A copy of `from` named `name`, owned by `uid` with `mode`.
    std::string Place(const std::string& from, const std::string& name, uid_t uid, mode_t mode) {
        const std::string path = scratch_.Copy(from, name);
        EXPECT_EQ(chown(path.c_str(), uid, uid), 0);
        EXPECT_EQ(chmod(path.c_str(), mode), 0);
        return path;
    }

    Scratch scratch_;
    std::string tight_;
    std::string roomy_;
};

TEST_F(Rights, AForgedJournalIsNeitherReadNorAppliedNorRemoved) {
    const std::string song = Place(roomy_, "song.wma", kOwner, 0644);
    // The header the stranger wants in the owner's file: the same file with
    // another title, written in place, so of the same size.
    const std::string forged = Place(roomy_, "forged.wma", 0, 0644);
    ASSERT_TRUE(SetTitle(forged, "forged"));
    const std::vector<unsigned char> original = Bytes(song);
    const std::vector<unsigned char> header = Bytes(forged);
    const uint64_t size = AsfHeaderSize(header);
    ASSERT_EQ(size, AsfHeaderSize(original));
    const std::vector<unsigned char> journal =
        Journal(song, std::vector<unsigned char>(header.begin(), header.begin() + long(size)));
    ASSERT_TRUE(RunAs(kStranger, [&] {
        return Spit(song + ".header-journal", journal) &&
               Spit(scratch_.Path("gone.wma.header-journal"), journal);
    }));

    EXPECT_TRUE(RunAs(kOwner, [&] { return ReadsAsTitled(song, "orig"); }));
    EXPECT_TRUE(ReadsAsTitled(song, "orig")) << "as the superuser";
    AudioFormatInfo info{};
    EXPECT_EQ(GetWmaFileInfo(scratch_.Path("gone.wma").c_str(), &info), 0);
    EXPECT_TRUE(Bytes(song) == original);
    EXPECT_TRUE(Exists(song + ".header-journal"));
    EXPECT_TRUE(Exists(scratch_.Path("gone.wma.header-journal")));

    // The owner's own write goes around the forgery, which stays.
    EXPECT_TRUE(
        RunAs(kOwner, [&] { return SetTitle(song, "mine") && ReadsAsTitled(song, "mine"); }));
    EXPECT_TRUE(Exists(song + ".header-journal"));
    struct stat st {};
    ASSERT_EQ(stat(song.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kOwner);
}

// A write that needs a new file (ffmpeg's header) and one that goes in place.
TEST_F(Rights, OnlyWhoMayWriteTheFileWritesItAndTheOwnerStays) {
    const struct Case {
        const char* what;
        uid_t owner;
        mode_t mode;
        uid_t writer;
        bool tight;
        bool written;
    } cases[] = {
        {"another user's file, a new file needed", 0, 0644, kOwner, true, false},
        {"another user's file, in place", 0, 0644, kOwner, false, false},
        {"one's own read-only file, a new file needed", kOwner, 0444, kOwner, true, false},
        {"one's own read-only file, in place", kOwner, 0444, kOwner, false, false},
        {"another user's file, by the superuser", kOwner, 0640, 0, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string song = Place(c.tight ? tight_ : roomy_, "song.wma", c.owner, c.mode);
        const std::vector<unsigned char> before = Bytes(song);
        const auto write = [&] { return SetTitle(song, "new"); };
        EXPECT_EQ(c.writer == 0 ? write() : RunAs(c.writer, write), c.written);
        struct stat st {};
        ASSERT_EQ(stat(song.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, c.owner);
        EXPECT_EQ(st.st_gid, c.owner);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        if (c.written) {
            EXPECT_TRUE(ReadsAsTitled(song, "new"));
        } else {
            EXPECT_TRUE(Bytes(song) == before);
        }
        EXPECT_EQ(scratch_.Names(), (std::vector<std::string>{"roomy-source.wma", "song.wma"}));
        ASSERT_EQ(unlink(song.c_str()), 0);
    }
}

// A music folder of the superuser's holding a user's own file: the user tags
// it in place, and nothing is made in the folder.
TEST_F(Rights, TheOwnerTagsTheirFileInPlaceInAFolderTheyMayNotWrite) {
    const std::string song = Place(roomy_, "song.wma", kOwner, 0644);
    ASSERT_EQ(chmod(scratch_.dir().c_str(), 0755), 0);
    EXPECT_TRUE(
        RunAs(kOwner, [&] { return SetTitle(song, "mine") && ReadsAsTitled(song, "mine"); }));
    EXPECT_EQ(scratch_.Names(), (std::vector<std::string>{"roomy-source.wma", "song.wma"}));
}

// Every link sees the new tags: in place they go to the one file all links
// share; a write that would need a new file is refused.
TEST_F(Rights, HardLinkedFilesAreWrittenForEveryLinkOrNotAtAll) {
    for (const bool tight : {true, false}) {
        SCOPED_TRACE(tight ? "a new file needed" : "in place");
        const std::string song = Place(tight ? tight_ : roomy_, "song.wma", kOwner, 0644);
        const std::string link = scratch_.Path("link.wma");
        ASSERT_EQ(::link(song.c_str(), link.c_str()), 0);
        const std::vector<unsigned char> before = Bytes(song);
        EXPECT_EQ(RunAs(kOwner, [&] { return SetTitle(song, "new"); }), !tight);
        if (tight) {
            EXPECT_TRUE(Bytes(song) == before);
        } else {
            EXPECT_TRUE(ReadsAsTitled(link, "new"));
        }
        EXPECT_TRUE(Bytes(link) == Bytes(song));
        ASSERT_EQ(unlink(song.c_str()), 0);
        ASSERT_EQ(unlink(link.c_str()), 0);
    }
}

}  // namespace
}  // namespace reliability
