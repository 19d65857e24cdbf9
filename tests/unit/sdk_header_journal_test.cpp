// SPDX-License-Identifier: MIT
// The journaled in-place header write on files of made-up bytes: a header,
// the Data Object's GUID right after it, and a tail.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "asf/header_journal.h"
#include "sdk_scratch_media.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kDataGuid = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                         0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

Bytes Filled(size_t size, uint8_t value) {
    return Bytes(size, value);
}

class HeaderJournalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.Create("header_journal"));
        file_ = scratch_.Path("file.wma");
        Store(file_, Filled(600, 'o'));
    }
    void TearDown() override { scratch_.Remove(); }

    // Writes `header`, the Data Object's GUID and a tail of 5,000 bytes.
    void Store(const std::string& path, const Bytes& header) {
        Bytes bytes = header;
        bytes.insert(bytes.end(), kDataGuid.begin(), kDataGuid.end());
        bytes.insert(bytes.end(), 5000, 't');
        scratch_.Spit(path.substr(path.rfind('/') + 1),
                      std::vector<char>(bytes.begin(), bytes.end()));
    }
    // The file as it would be with `header` in front.
    Bytes Expected(const Bytes& header) const {
        Bytes bytes = header;
        bytes.insert(bytes.end(), kDataGuid.begin(), kDataGuid.end());
        bytes.insert(bytes.end(), 5000, 't');
        return bytes;
    }
    Bytes Contents(const std::string& path) const {
        const std::vector<char> raw = ScratchMedia::Slurp(path);
        return Bytes(raw.begin(), raw.end());
    }
    bool JournalLeft() const {
        struct stat st;
        return ::lstat(asf::HeaderJournalPath(file_).c_str(), &st) == 0;
    }

    ScratchMedia scratch_;
    std::string file_;
};

TEST_F(HeaderJournalTest, WritesTheNewHeaderOverTheOldAndRemovesTheJournal) {
    ASSERT_TRUE(asf::WriteHeaderInPlace(file_, Filled(600, 'o'), Filled(600, 'n')));
    EXPECT_EQ(Contents(file_), Expected(Filled(600, 'n')));
    EXPECT_FALSE(JournalLeft());
}

TEST_F(HeaderJournalTest, RefusesWritesThatDoNotFitAndChangesNothing) {
    struct Case {
        const char* what;
        Bytes oldHeader;
        Bytes newHeader;
    } cases[] = {
        {"sizes differ", Filled(600, 'o'), Filled(601, 'n')},
        {"old header not in the file", Filled(600, 'x'), Filled(600, 'n')},
        {"no Data Object after the header", Filled(599, 'o'), Filled(599, 'n')},
        {"beyond one page", Filled(asf::kInPlaceHeaderLimit + 1, 'o'),
         Filled(asf::kInPlaceHeaderLimit + 1, 'n')},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(asf::WriteHeaderInPlace(file_, c.oldHeader, c.newHeader)) << c.what;
        EXPECT_EQ(Contents(file_), Expected(Filled(600, 'o'))) << c.what;
        EXPECT_FALSE(JournalLeft()) << c.what;
    }
    EXPECT_FALSE(
        asf::WriteHeaderInPlace(scratch_.Path("missing.wma"), Filled(600, 'o'), Filled(600, 'n')));
}

TEST_F(HeaderJournalTest, RollsAJournalLeftByADeadWriterForward) {
    ASSERT_TRUE(asf::WriteHeaderJournal(file_, Filled(600, 'n')));
    EXPECT_EQ(Contents(file_), Expected(Filled(600, 'o')));
    ASSERT_TRUE(JournalLeft());

    EXPECT_TRUE(asf::RollHeaderJournalForward(file_));
    EXPECT_EQ(Contents(file_), Expected(Filled(600, 'n')));
    EXPECT_FALSE(JournalLeft());
    // Nothing is left to trip the next write.
    EXPECT_TRUE(asf::WriteHeaderInPlace(file_, Filled(600, 'n'), Filled(600, 'm')));
    EXPECT_EQ(Contents(file_), Expected(Filled(600, 'm')));
}

TEST_F(HeaderJournalTest, DropsJournalsThatAreCutShortOrBelongToAReplacedFile) {
    // Cut short: the writer died while making it, before the file was touched.
    ASSERT_TRUE(asf::WriteHeaderJournal(file_, Filled(600, 'n')));
    const std::string journal = asf::HeaderJournalPath(file_);
    ASSERT_EQ(::truncate(journal.c_str(), 300), 0);
    EXPECT_TRUE(asf::RollHeaderJournalForward(file_));
    EXPECT_EQ(Contents(file_), Expected(Filled(600, 'o')));
    EXPECT_FALSE(JournalLeft());

    // The file was replaced by another one (a rewrite renamed over it).
    ASSERT_TRUE(asf::WriteHeaderJournal(file_, Filled(600, 'n')));
    Store(scratch_.Path("other.wma"), Filled(600, 'r'));
    ASSERT_EQ(std::rename(scratch_.Path("other.wma").c_str(), file_.c_str()), 0);
    EXPECT_TRUE(asf::RollHeaderJournalForward(file_));
    EXPECT_EQ(Contents(file_), Expected(Filled(600, 'r')));
    EXPECT_FALSE(JournalLeft());
}

}  // namespace
