// SPDX-License-Identifier: MIT
// ReplacementFile: a committed replacement takes the target's place with its
// mode; one given up leaves the target and the folder as they were; the next
// replacement clears exactly the temporaries earlier ones left and nobody uses.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "common/replacement_file.h"
#include "sdk_scratch_media.h"

namespace {

class SdkReplacementFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(media_.Create("replacement"));
        target_ = media_.Path("song.wma");
        std::ofstream(target_) << "old";
        ASSERT_EQ(chmod(target_.c_str(), 0640), 0);
        ASSERT_EQ(stat(target_.c_str(), &st_), 0);
        source_ = open(target_.c_str(), O_RDONLY);
    }
    void TearDown() override {
        close(source_);
        media_.Remove();
    }

    std::set<std::string> Names() const {
        std::set<std::string> names;
        DIR* d = opendir(media_.Path("").c_str());
        while (const dirent* e = readdir(d)) names.insert(e->d_name);
        closedir(d);
        names.erase(".");
        names.erase("..");
        return names;
    }
    std::string Contents() const {
        std::ifstream in(target_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    ScratchMedia media_;
    std::string target_;
    struct stat st_ {};
    int source_ = -1;
};

TEST_F(SdkReplacementFile, CommitReplacesTheTargetAndAbandoningLeavesIt) {
    {
        ffsdk::ReplacementFile out;
        ASSERT_TRUE(out.Begin(target_, st_, source_));
        ASSERT_EQ(write(out.fd(), "half", 4), 4);
    }
    EXPECT_EQ(Contents(), "old");
    EXPECT_EQ(Names(), std::set<std::string>{"song.wma"});

    ffsdk::ReplacementFile out;
    ASSERT_TRUE(out.Begin(target_, st_, source_));
    ASSERT_EQ(write(out.fd(), "new", 3), 3);
    ASSERT_TRUE(out.Commit());
    EXPECT_EQ(Contents(), "new");
    EXPECT_EQ(Names(), std::set<std::string>{"song.wma"});
    struct stat now {};
    ASSERT_EQ(stat(target_.c_str(), &now), 0);
    EXPECT_EQ(now.st_mode & 07777, 0640u);
}

// The new file has the old one's owner, group, mode and extended attributes
// (an access ACL is one); a caller who cannot give it the owner is refused.
TEST_F(SdkReplacementFile, TheNewFileKeepsTheOwnerGroupModeAndAttributes) {
    ASSERT_EQ(geteuid(), 0u) << "giving files to another user needs the superuser";
    ASSERT_EQ(chown(target_.c_str(), 65534, 65534), 0);
    ASSERT_EQ(setxattr(target_.c_str(), "user.mervane", "kept", 4, 0), 0);
    ASSERT_EQ(stat(target_.c_str(), &st_), 0);
    ffsdk::ReplacementFile out;
    ASSERT_TRUE(out.Begin(target_, st_, source_));
    ASSERT_TRUE(out.Commit());
    struct stat now {};
    ASSERT_EQ(stat(target_.c_str(), &now), 0);
    EXPECT_NE(now.st_ino, st_.st_ino);
    EXPECT_EQ(now.st_uid, 65534u);
    EXPECT_EQ(now.st_gid, 65534u);
    EXPECT_EQ(now.st_mode & 07777, 0640u);
    char value[8] = {};
    EXPECT_EQ(getxattr(target_.c_str(), "user.mervane", value, sizeof value), 4);
    EXPECT_STREQ(value, "kept");

    // The same as a user who is neither the owner nor the superuser, in a
    // folder that user may write.
    ASSERT_EQ(chmod(media_.Path("").c_str(), 0777), 0);
    const pid_t child = fork();
    if (child == 0) {
        ffsdk::ReplacementFile again;
        _exit(setgid(65533) == 0 && setuid(65533) == 0 &&
                      again.Begin(target_, now, source_).code() == wm::E_ACCESS_DENIED
                  ? 0
                  : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Names(), std::set<std::string>{"song.wma"});
}

// Leftovers are files of the temporaries' form that nobody holds locked; a
// file in use (locked, here by another open of this process) stays, as do
// other users' files and other names.
TEST_F(SdkReplacementFile, NextReplacementRemovesOnlyLeftoversNotInUse) {
    const std::set<std::string> others{"song.wma",          ".mrv-InUseInUse12",
                                       ".mrv-Other1Other2", ".mrv-ABCDEFGHIJK",
                                       "mrv-ABCDEFGHIJKL",  ".song.wma.mervane-ABCDEF"};
    for (const std::string& name : others) std::ofstream(media_.Path(name)) << "x";
    ASSERT_EQ(chown(media_.Path(".mrv-Other1Other2").c_str(), 65534, 65534), 0);
    const int inUse = open(media_.Path(".mrv-InUseInUse12").c_str(), O_RDWR);
    ASSERT_EQ(flock(inUse, LOCK_EX), 0);
    std::ofstream(media_.Path(".mrv-ABCDEFGHIJKL")) << "left by a kill";
    std::ofstream(media_.Path(".mrv-a1B2c3d4e5f6")) << "left by a kill";

    ffsdk::ReplacementFile out;
    ASSERT_TRUE(out.Begin(target_, st_, source_));
    EXPECT_EQ(Names(), others);
    close(inUse);
}

}  // namespace
