// SPDX-License-Identifier: MIT
// The journaled in-place header write on files of made-up bytes: a header,
// the Data Object's GUID right after it, and a tail.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "asf/header_journal.h"
#include "common/file_io.h"
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
    ASSERT_EQ(asf::WriteHeaderInPlace(file_, Filled(600, 'o'), Filled(600, 'n')),
              asf::InPlace::kWritten);
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
        EXPECT_EQ(asf::WriteHeaderInPlace(file_, c.oldHeader, c.newHeader), asf::InPlace::kFailed)
            << c.what;
        EXPECT_EQ(Contents(file_), Expected(Filled(600, 'o'))) << c.what;
        EXPECT_FALSE(JournalLeft()) << c.what;
    }
    EXPECT_EQ(
        asf::WriteHeaderInPlace(scratch_.Path("missing.wma"), Filled(600, 'o'), Filled(600, 'n')),
        asf::InPlace::kFailed);
}

TEST_F(HeaderJournalTest, ReadersSeeAJournalLeftByADeadWriterAndTheNextWriteFinishesIt) {
    ASSERT_TRUE(asf::WriteHeaderJournal(file_, Filled(600, 'n')));
    Bytes pending;
    {
        ffsdk::Fd fd(::open(file_.c_str(), O_RDONLY));
        ASSERT_TRUE(asf::PendingHeader(fd.get(), file_, &pending));
    }
    EXPECT_EQ(pending, Filled(600, 'n'));
    EXPECT_EQ(Contents(file_), Expected(Filled(600, 'o')));
    ASSERT_TRUE(JournalLeft());

    EXPECT_EQ(asf::WriteHeaderInPlace(file_, Filled(600, 'n'), Filled(600, 'm')),
              asf::InPlace::kWritten);
    EXPECT_EQ(Contents(file_), Expected(Filled(600, 'm')));
    EXPECT_FALSE(JournalLeft());
}

// Anything at the journal's name that the library did not make for this very
// file, as its owner or the superuser, is neither read, applied nor removed;
// an in-place write then leaves the file to be rewritten.
TEST_F(HeaderJournalTest, IgnoresAndKeepsJournalsThatDoNotCount) {
    const std::string journal = asf::HeaderJournalPath(file_);
    const std::string elsewhere = scratch_.Path("elsewhere");
    const struct Case {
        const char* what;
        std::function<bool()> spoil;  // turns a real journal into one that must not count
    } cases[] = {
        {"owned by another user", [&] { return ::chown(journal.c_str(), 65534, 65534) == 0; }},
        {"writable by others", [&] { return ::chmod(journal.c_str(), 0666) == 0; }},
        {"a symbolic link",
         [&] {
             return std::rename(journal.c_str(), elsewhere.c_str()) == 0 &&
                    ::symlink(elsewhere.c_str(), journal.c_str()) == 0;
         }},
        {"a second link", [&] { return ::link(journal.c_str(), elsewhere.c_str()) == 0; }},
        {"cut short", [&] { return ::truncate(journal.c_str(), 300) == 0; }},
        {"for a file since replaced",
         [&] {
             Store(scratch_.Path("other.wma"), Filled(600, 'o'));
             return std::rename(scratch_.Path("other.wma").c_str(), file_.c_str()) == 0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(journal.c_str());
        std::remove(elsewhere.c_str());
        Store(file_, Filled(600, 'o'));
        ASSERT_TRUE(asf::WriteHeaderJournal(file_, Filled(600, 'n')));
        ASSERT_TRUE(c.spoil());
        ffsdk::Fd fd(::open(file_.c_str(), O_RDONLY));
        Bytes pending;
        EXPECT_FALSE(asf::PendingHeader(fd.get(), file_, &pending));
        EXPECT_TRUE(asf::RollHeaderJournalForward(file_));
        EXPECT_EQ(asf::WriteHeaderInPlace(file_, Filled(600, 'o'), Filled(600, 'm')),
                  asf::InPlace::kUnavailable);
        EXPECT_EQ(Contents(file_), Expected(Filled(600, 'o')));
        EXPECT_TRUE(JournalLeft());
    }
    // A journal whose file is gone is not removed either.
    ASSERT_EQ(std::remove(file_.c_str()), 0);
    EXPECT_TRUE(asf::RollHeaderJournalForward(file_));
    EXPECT_TRUE(JournalLeft());
}

}  // namespace
