// SPDX-License-Identifier: MIT
// ReplacementFile: a committed replacement takes the target's place with its
// mode; one given up leaves the target and the folder as they were; the next
// replacement clears exactly the temporaries earlier ones left.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
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
    }
    void TearDown() override { media_.Remove(); }

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
};

TEST_F(SdkReplacementFile, CommitReplacesTheTargetAndAbandoningLeavesIt) {
    {
        ffsdk::ReplacementFile out;
        ASSERT_TRUE(out.begin(target_, st_));
        ASSERT_EQ(write(out.fd(), "half", 4), 4);
    }
    EXPECT_EQ(Contents(), "old");
    EXPECT_EQ(Names(), std::set<std::string>{"song.wma"});

    ffsdk::ReplacementFile out;
    ASSERT_TRUE(out.begin(target_, st_));
    ASSERT_EQ(write(out.fd(), "new", 3), 3);
    ASSERT_TRUE(out.commit());
    EXPECT_EQ(Contents(), "new");
    EXPECT_EQ(Names(), std::set<std::string>{"song.wma"});
    struct stat now {};
    ASSERT_EQ(stat(target_.c_str(), &now), 0);
    EXPECT_EQ(now.st_mode & 07777, 0640u);
}

TEST_F(SdkReplacementFile, NextReplacementRemovesOnlyItsOwnLeftovers) {
    const std::set<std::string> others{"song.wma", ".song.wma.mervane-ABCDEFG",
                                       ".other.wma.mervane-ABCDEF", "song.wma.mervane-ABCDEF"};
    for (const std::string& name : others) std::ofstream(media_.Path(name)) << "x";
    std::ofstream(media_.Path(".song.wma.mervane-ABCDEF")) << "left by a kill";
    std::ofstream(media_.Path(".song.wma.mervane-a1B2c3")) << "left by a kill";

    ffsdk::ReplacementFile out;
    ASSERT_TRUE(out.begin(target_, st_));
    EXPECT_EQ(Names(), others);
}

}  // namespace
