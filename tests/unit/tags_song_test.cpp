// SPDX-License-Identifier: MIT
// Song tags: what each attribute value becomes in its field, what a write
// stores, and how the editor is opened, closed and released.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "fakes/fake_com.h"
#include "fakes/fake_editor.h"
#include "mervane.h"
#include "tags/song_tags.h"

namespace {

using fakes::FakeEditor;
using fakes::Held;
using fakes::StringValue;
using Fields = std::vector<std::string>;

constexpr HRESULT kFailure = static_cast<HRESULT>(0x80043333u);

// The six fields in the record's order.
Fields FieldsOf(const SongInfo& info) {
    return {info.title, info.author, info.album, info.year, info.track, info.genreId};
}

class TagsSongInfo : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetFakes();
        fakes::Serve(fakes::ScriptedFactories().editor, editor);
        // Every field starts out holding text the host put there.
        for (char* field :
             {info.title, info.author, info.album, info.year, info.track, info.genreId})
            std::strcpy(field, "host");
    }

    void Attribute(const std::u16string& name, std::vector<BYTE> value,
                   wm::WMT_ATTR_DATATYPE type = wm::WMT_TYPE_STRING) {
        editor->header->attributes.push_back({name, type, std::move(value)});
    }
    // The editor was closed as often as opened, and nothing of it is held.
    void ExpectClosedAndReleased(int closes = 1) const {
        EXPECT_EQ(editor->closeCalls, closes);
        EXPECT_EQ(editor->Refs(), 1);
        EXPECT_EQ(editor->header->Refs(), 1);
    }

    Held<FakeEditor> editor;
    SongInfo info{};
};

TEST_F(TagsSongInfo, ReadsSixTagsAndWritesNothing) {
    Attribute(u"Title", StringValue(u"A Title"));
    Attribute(u"Author", StringValue(u"An Author"));
    Attribute(u"WM/AlbumTitle", StringValue(u"Caf\u00e9"));
    Attribute(u"WM/Track", StringValue(u"7"));
    Attribute(u"WM/Year", StringValue(u"1999"));
    Attribute(u"WM/GenreID", StringValue(u"(17)"));
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_EQ(FieldsOf(info), (Fields{"A Title", "An Author", "Caf\xC3\xA9", "1999", "7", "(17)"}));
    EXPECT_EQ(editor->path, u"song.wma");
    EXPECT_TRUE(editor->header->set.empty());
    EXPECT_EQ(editor->flushCalls, 0);
    ExpectClosedAndReleased();
}

TEST_F(TagsSongInfo, FallbackNamesOnlyWhenTheFirstReadFails) {
    Attribute(u"WM/Title", StringValue(u"wm title"));
    Attribute(u"Author", StringValue(u"author"));
    Attribute(u"WM/Author", StringValue(u"wm author"));
    // "Title" is absent: not a failure, so "WM/Title" is not tried and the field
    // keeps what the host put there.
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_STREQ(info.title, "host");
    EXPECT_STREQ(info.author, "author");

    // A failing size query or fetch falls back.
    editor->header->byNameResult = [](const std::u16string& name, bool fetching) {
        if (name == u"Title" && !fetching) return kFailure;
        if (name == u"Author" && fetching) return kFailure;
        return S_OK;
    };
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_STREQ(info.title, "wm title");
    EXPECT_STREQ(info.author, "wm author");

    // A fallback the file lacks cannot stand in: "Author" was not read.
    editor->header->attributes.pop_back();
    EXPECT_EQ(GetWmaSongInfo("song.wma", &info), 0);
    ExpectClosedAndReleased(3);
}

TEST_F(TagsSongInfo, AbsentAttributesLeaveFieldsUntouched) {
    Attribute(u"Title", StringValue(u"only a title"));
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_EQ(FieldsOf(info), (Fields{"only a title", "host", "host", "host", "host", "host"}));
}

TEST_F(TagsSongInfo, ValuesThatDoNotFitTheirFieldReadEmpty) {
    Attribute(u"Title", StringValue(std::u16string(300, u'x')));
    Attribute(u"Author", StringValue(std::u16string(255, u'y')));
    // 128 two-byte characters need 256 bytes; 127 fit.
    Attribute(u"WM/AlbumTitle", StringValue(std::u16string(128, u'\u00e9')));
    Attribute(u"WM/Year", StringValue(std::u16string(20, u'2')));
    Attribute(u"WM/Track", StringValue(std::u16string(19, u'1')));
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    // Nothing spilled over from track into the genre.
    EXPECT_EQ(FieldsOf(info),
              (Fields{"", std::string(255, 'y'), "", "", std::string(19, '1'), "host"}));

    editor->header->attributes[2].value = StringValue(std::u16string(127, u'\u00e9'));
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_EQ(std::strlen(info.album), 254u);
}

TEST_F(TagsSongInfo, NumbersReadAsDecimalAndBinaryAsEmpty) {
    Attribute(u"WM/Track", fakes::DwordValue(5), wm::WMT_TYPE_DWORD);
    Attribute(u"WM/Year", fakes::QwordValue(2024), wm::WMT_TYPE_QWORD);
    Attribute(u"WM/GenreID", {0x11, 0x00}, wm::WMT_TYPE_WORD);
    Attribute(u"Title", fakes::QwordValue(UINT64_MAX), wm::WMT_TYPE_QWORD);
    Attribute(u"Author", fakes::DwordValue(1), wm::WMT_TYPE_BOOL);
    Attribute(u"WM/AlbumTitle", {'a', 0, 'b', 0}, wm::WMT_TYPE_BINARY);
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_EQ(FieldsOf(info), (Fields{"18446744073709551615", "1", "", "2024", "5", "17"}));

    // Twenty digits do not fit a 20-byte field; a GUID has no text; a number
    // shorter than its type is no number.
    editor->header->attributes = {
        {u"WM/Year", wm::WMT_TYPE_QWORD, fakes::QwordValue(UINT64_MAX)},
        {u"WM/Track", wm::WMT_TYPE_GUID, std::vector<BYTE>(16, 0x31)},
        {u"WM/GenreID", wm::WMT_TYPE_DWORD, {5, 0}},
    };
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_EQ(FieldsOf(info), (Fields{"18446744073709551615", "1", "", "", "", ""}));
}

TEST_F(TagsSongInfo, StringsEndAtTheirTerminatorOrStoredLength) {
    Attribute(u"Title", {'A', 0, 'B', 0});  // no terminator
    std::vector<BYTE> none;
    none.reserve(1);                        // a real (empty) buffer for the fake to copy from
    Attribute(u"Author", std::move(none));  // present, length 0
    Attribute(u"WM/AlbumTitle", StringValue(u""));
    Attribute(u"WM/Year", {'1', 0, 0, 0, '2', 0});  // text after the terminator
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_EQ(FieldsOf(info), (Fields{"AB", "", "", "1", "host", "host"}));
}

TEST_F(TagsSongInfo, ReadTagReportsFailuresAndKeepsTheField) {
    char field[20] = "kept";
    Attribute(u"WM/Year", StringValue(u"2000"));
    for (const bool failFetch : {true, false}) {
        editor->header->byNameResult = [failFetch](const std::u16string&, bool fetching) {
            return fetching == failFetch ? kFailure : S_OK;
        };
        EXPECT_EQ(mervane::ReadTag(editor->header, u"WM/Year", field, sizeof field), kFailure);
        EXPECT_STREQ(field, "kept");
    }
}

TEST_F(TagsSongInfo, WritesSixStringsAndFlushesThemLeavingTheRecord) {
    std::strcpy(info.title, "T");
    std::strcpy(info.author, "Caf\xC3\xA9");
    info.album[0] = 0;
    std::strcpy(info.year, "2001");
    std::strcpy(info.track, "3");
    std::strcpy(info.genreId, "12");
    const SongInfo before = info;
    ASSERT_EQ(SetWmaSongInfo("song.wma", &info), 1);
    EXPECT_EQ(std::memcmp(&before, &info, sizeof info), 0);

    // The order the tags are written in is the stated one; "WM/Title" and
    // "WM/Author" are never written.
    const auto& set = editor->header->set;
    ASSERT_EQ(set.size(), 6u);
    const std::vector<std::pair<std::u16string, std::u16string>> expected{
        {u"Title", u"T"},    {u"Author", u"Caf\u00e9"}, {u"WM/AlbumTitle", u""},
        {u"WM/Track", u"3"}, {u"WM/Year", u"2001"},     {u"WM/GenreID", u"12"}};
    for (size_t i = 0; i < set.size(); ++i) {
        EXPECT_EQ(set[i].name, expected[i].first);
        EXPECT_EQ(set[i].type, wm::WMT_TYPE_STRING);
        EXPECT_EQ(set[i].value, StringValue(expected[i].second)) << i;
    }
    EXPECT_EQ(set[2].value.size(), 2u);  // an empty album is just its terminator
    EXPECT_EQ(editor->flushCalls, 1);
    ExpectClosedAndReleased();
}

TEST_F(TagsSongInfo, ATagThatCannotBeSetOrFlushedFailsTheWriteButNotTheOthers) {
    editor->header->setResult = [](const std::u16string& name) {
        return name == u"Title" ? kFailure : S_OK;
    };
    EXPECT_EQ(SetWmaSongInfo("song.wma", &info), 0);
    EXPECT_EQ(editor->header->set.size(), 6u);
    EXPECT_EQ(editor->flushCalls, 1);

    editor->header->setResult = nullptr;
    editor->flushResult = kFailure;
    EXPECT_EQ(SetWmaSongInfo("song.wma", &info), 0);
    ExpectClosedAndReleased(2);
}

TEST_F(TagsSongInfo, TextThatCannotBeStoredIsRefusedBeforeTheFileIsOpened) {
    // Fields exactly as long as the record's: ASan reports any read past them.
    auto year = std::make_unique<char[]>(20);
    std::memset(year.get(), '9', 20);
    EXPECT_EQ(mervane::WriteTag(editor->header, u"WM/Year", year.get(), 20), E_INVALIDARG);
    auto title = std::make_unique<char[]>(256);
    std::memset(title.get(), 'x', 256);
    EXPECT_EQ(mervane::WriteTag(editor->header, u"Title", title.get(), 256), E_INVALIDARG);
    title[255] = 0;
    EXPECT_EQ(mervane::WriteTag(editor->header, u"Title", title.get(), 256), S_OK);
    EXPECT_EQ(editor->header->set.back().value, StringValue(std::u16string(255, u'x')));

    const struct {
        size_t offset, size;
        const char* text;  // copied without its terminator when it fills the field
    } cases[] = {
        {offsetof(SongInfo, year), 20, "20202020202020202020"},
        {offsetof(SongInfo, genreId), 20, "12345678901234567890"},
        {offsetof(SongInfo, title), 256, "cut short \xC3"},
        {offsetof(SongInfo, album), 256, "stray \x80 byte"},
    };
    for (const auto& c : cases) {
        SongInfo bad = info;
        std::memset(reinterpret_cast<char*>(&bad) + c.offset, 0, c.size);
        std::memcpy(reinterpret_cast<char*>(&bad) + c.offset, c.text,
                    std::min(c.size, std::strlen(c.text)));
        EXPECT_EQ(SetWmaSongInfo("song.wma", &bad), 0) << c.text;
        EXPECT_TRUE(editor->path.empty()) << c.text;
    }
}

// An editor that was not opened, or opened but gives no header info, is
// released without Close.
TEST_F(TagsSongInfo, EditorFailuresGiveZero) {
    editor->openResult = kFailure;
    EXPECT_EQ(GetWmaSongInfo("song.wma", &info), 0);
    ExpectClosedAndReleased(0);

    editor->openResult = S_OK;
    editor->queryOverride = [](REFIID iid) {
        return iid == wm::IID_IWMHeaderInfo ? E_NOINTERFACE : S_OK;
    };
    EXPECT_EQ(SetWmaSongInfo("song.wma", &info), 0);
    EXPECT_EQ(editor->flushCalls, 0);
    ExpectClosedAndReleased(0);

    // Close changes nothing in the file: what was read stands.
    editor->queryOverride = nullptr;
    editor->closeResult = kFailure;
    EXPECT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    ExpectClosedAndReleased(1);

    fakes::ScriptedFactories().editor = [](wm::IWMMetadataEditor**) { return kFailure; };
    EXPECT_EQ(SetWmaSongInfo("song.wma", &info), 0);
}

TEST_F(TagsSongInfo, MissingArgumentsTouchNothing) {
    EXPECT_EQ(GetWmaSongInfo(nullptr, &info), 0);
    EXPECT_EQ(GetWmaSongInfo("song.wma", nullptr), 0);
    EXPECT_EQ(SetWmaSongInfo(nullptr, &info), 0);
    EXPECT_EQ(SetWmaSongInfo("song.wma", nullptr), 0);
    EXPECT_TRUE(editor->path.empty());
    EXPECT_EQ(FieldsOf(info), Fields(6, "host"));
}

}  // namespace
