// SPDX-License-Identifier: MIT
// Song tags through libmervane.so on an ffmpeg-made file: round trips of all
// six fields, non-ASCII text and path included, checked with ffprobe, and proof
// that the audio is untouched. ffmpeg's header has no room: the first write
// makes a new file with room, the second goes into that header in place.
#include <gtest/gtest.h>

#include <cstring>

#include "media.h"
#include "mervane.h"

namespace {

// The bytes from the Data Object's GUID to the end of the file.
std::vector<uint8_t> DataAndIndex(const std::vector<uint8_t>& file) {
    static const uint8_t kDataGuid[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                          0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    for (size_t i = 0; i + 16 <= file.size(); ++i)
        if (std::memcmp(file.data() + i, kDataGuid, 16) == 0)
            return {file.begin() + long(i), file.end()};
    return {};
}

TEST(TagsIntegration, RoundTripsOfAllSixFieldsWithNonAsciiTextAndPath) {
    REQUIRE_FFMPEG();
    const std::string source =
        media::MakeWma("tagged-source.wma", "sine=frequency=523:duration=2",
                       "-ar 44100 -ac 2 -b:a 128k -metadata title=Old -metadata artist=Someone");
    const std::string path = media::CopyAs(source, "chanson \xC3\xA9t\xC3\xA9 \xE2\x99\xAB.wma");
    ASSERT_FALSE(path.empty());
    const std::vector<uint8_t> dataBefore = DataAndIndex(media::ReadFile(path));
    ASSERT_FALSE(dataBefore.empty());
    const std::vector<int16_t> pcmBefore = media::DecodeWithFfmpeg(path);

    for (const SongInfo& in :
         {media::Song("Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5", "Bj\xC3\xB6rk",
                      "\xE6\x97\xA5\xE6\x9C\xAC", "1999", "7", "13"),
          media::Song("Second", "Someone else", "In place", "2026", "12", "0")}) {
        SCOPED_TRACE(in.title);
        ASSERT_EQ(SetWmaSongInfo(path.c_str(), &in), 1);
        SongInfo out;
        std::memset(&out, 0x5A, sizeof out);
        ASSERT_EQ(GetWmaSongInfo(path.c_str(), &out), 1);
        EXPECT_STREQ(out.title, in.title);
        EXPECT_STREQ(out.author, in.author);
        EXPECT_STREQ(out.album, in.album);
        EXPECT_STREQ(out.year, in.year);
        EXPECT_STREQ(out.track, in.track);
        EXPECT_STREQ(out.genreId, in.genreId);

        const media::Probe probe = media::ProbeFile(path);
        EXPECT_EQ(probe.title, in.title);
        EXPECT_EQ(probe.artist, in.author);
        EXPECT_EQ(probe.album, in.album);
        EXPECT_TRUE(dataBefore == DataAndIndex(media::ReadFile(path)))
            << "the audio data and index are unchanged";
        EXPECT_TRUE(pcmBefore == media::DecodeWithFfmpeg(path));
        AudioFormatInfo info{};
        EXPECT_EQ(GetWmaFileInfo(path.c_str(), &info), 1) << "the rewritten file still opens";
    }
}

}  // namespace
