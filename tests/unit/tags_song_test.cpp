// SPDX-License-Identifier: MIT
// Song tags: which attributes are read and written in which order, how values
// become field text, and how the editor is opened, closed and released.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "fakes/fake_com.h"
#include "fakes/fake_editor.h"
#include "mervane.h"
#include "tags/song_tags.h"

namespace {

using fakes::CallLog;
using fakes::FakeAttribute;
using fakes::FakeEditor;
using fakes::Held;
using fakes::StringValue;

constexpr HRESULT kFailure = static_cast<HRESULT>(0x80043333u);

class TagsSongInfo : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetFakes();
        fakes::ScriptedFactories().editor = [this](wm::IWMMetadataEditor** out) {
            *out = editor.Give<wm::IWMMetadataEditor>();
            return S_OK;
        };
        // Every field starts out holding text the host put there.
        for (char* field :
             {info.title, info.author, info.album, info.year, info.track, info.genreId})
            std::strcpy(field, "host");
    }

    void Attribute(const std::u16string& name, std::vector<BYTE> value,
                   wm::WMT_ATTR_DATATYPE type = wm::WMT_TYPE_STRING) {
        editor->header->attributes.push_back({name, type, std::move(value)});
    }
    std::vector<std::string> ByNameCalls() const {
        return CallLog::Instance().Matching("HeaderInfo.GetAttributeByName");
    }
    void ExpectReleased() const {
        EXPECT_EQ(editor->Refs(), 1);
        EXPECT_EQ(editor->header->Refs(), 1);
    }

    Held<FakeEditor> editor;
    SongInfo info{};
};

TEST_F(TagsSongInfo, ReadsSixTagsInOrder) {
    Attribute(u"Title", StringValue(u"A Title"));
    Attribute(u"Author", StringValue(u"An Author"));
    Attribute(u"WM/AlbumTitle", StringValue(u"Caf\u00e9"));
    Attribute(u"WM/Track", StringValue(u"7"));
    Attribute(u"WM/Year", StringValue(u"1999"));
    Attribute(u"WM/GenreID", StringValue(u"(17)"));
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_STREQ(info.title, "A Title");
    EXPECT_STREQ(info.author, "An Author");
    EXPECT_STREQ(info.album, "Caf\xC3\xA9");
    EXPECT_STREQ(info.track, "7");
    EXPECT_STREQ(info.year, "1999");
    EXPECT_STREQ(info.genreId, "(17)");
    EXPECT_EQ(editor->path, u"song.wma");
    EXPECT_EQ(
        ByNameCalls(),
        (std::vector<std::string>{
            "HeaderInfo.GetAttributeByName(Title,size)", "HeaderInfo.GetAttributeByName(Title)",
            "HeaderInfo.GetAttributeByName(Author,size)", "HeaderInfo.GetAttributeByName(Author)",
            "HeaderInfo.GetAttributeByName(WM/AlbumTitle,size)",
            "HeaderInfo.GetAttributeByName(WM/AlbumTitle)",
            "HeaderInfo.GetAttributeByName(WM/Track,size)",
            "HeaderInfo.GetAttributeByName(WM/Track)",
            "HeaderInfo.GetAttributeByName(WM/Year,size)", "HeaderInfo.GetAttributeByName(WM/Year)",
            "HeaderInfo.GetAttributeByName(WM/GenreID,size)",
            "HeaderInfo.GetAttributeByName(WM/GenreID)"}));
    EXPECT_TRUE(CallLog::Instance().Matching("Editor.Flush").empty());
    EXPECT_TRUE(CallLog::Instance().Matching("HeaderInfo.SetAttribute").empty());
    EXPECT_EQ(CallLog::Instance().Entries().back(), "Editor.Release");
    ExpectReleased();
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
    EXPECT_TRUE(CallLog::Instance().Matching("HeaderInfo.GetAttributeByName(WM/Title").empty());
    EXPECT_TRUE(CallLog::Instance().Matching("HeaderInfo.GetAttributeByName(WM/Author").empty());

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
}

TEST_F(TagsSongInfo, AbsentAttributesLeaveFieldsUntouched) {
    Attribute(u"Title", StringValue(u"only a title"));
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_STREQ(info.title, "only a title");
    for (const char* field : {info.author, info.album, info.year, info.track, info.genreId})
        EXPECT_STREQ(field, "host");
}

TEST_F(TagsSongInfo, ValuesThatDoNotFitTheirFieldReadEmpty) {
    Attribute(u"Title", StringValue(std::u16string(300, u'x')));
    Attribute(u"Author", StringValue(std::u16string(255, u'y')));
    // 128 two-byte characters need 256 bytes; 127 fit.
    Attribute(u"WM/AlbumTitle", StringValue(std::u16string(128, u'\u00e9')));
    Attribute(u"WM/Year", StringValue(std::u16string(20, u'2')));
    Attribute(u"WM/Track", StringValue(std::u16string(19, u'1')));
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_STREQ(info.title, "");
    EXPECT_EQ(std::string(info.author), std::string(255, 'y'));
    EXPECT_STREQ(info.album, "");
    EXPECT_STREQ(info.year, "");
    EXPECT_EQ(std::string(info.track), std::string(19, '1'));
    EXPECT_STREQ(info.genreId, "host");  // nothing spilled over from track

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
    EXPECT_STREQ(info.track, "5");
    EXPECT_STREQ(info.year, "2024");
    EXPECT_STREQ(info.genreId, "17");
    EXPECT_STREQ(info.title, "18446744073709551615");
    EXPECT_STREQ(info.author, "1");
    EXPECT_STREQ(info.album, "");

    // Twenty digits do not fit a 20-byte field; a GUID has no text; a number
    // shorter than its type is no number.
    editor->header->attributes = {
        {u"WM/Year", wm::WMT_TYPE_QWORD, fakes::QwordValue(UINT64_MAX)},
        {u"WM/Track", wm::WMT_TYPE_GUID, std::vector<BYTE>(16, 0x31)},
        {u"WM/GenreID", wm::WMT_TYPE_DWORD, {5, 0}},
    };
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_STREQ(info.year, "");
    EXPECT_STREQ(info.track, "");
    EXPECT_STREQ(info.genreId, "");
}

TEST_F(TagsSongInfo, StringsEndAtTheirTerminatorOrStoredLength) {
    Attribute(u"Title", {'A', 0, 'B', 0});  // no terminator
    std::vector<BYTE> none;
    none.reserve(1);                        // a real (empty) buffer for the fake to copy from
    Attribute(u"Author", std::move(none));  // present, length 0
    Attribute(u"WM/AlbumTitle", StringValue(u""));
    Attribute(u"WM/Year", {'1', 0, 0, 0, '2', 0});  // text after the terminator
    ASSERT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_STREQ(info.title, "AB");
    EXPECT_STREQ(info.author, "");
    EXPECT_STREQ(info.album, "");
    EXPECT_STREQ(info.year, "1");
}

TEST_F(TagsSongInfo, ReadTagReportsFailuresAndKeepsTheField) {
    char field[20] = "kept";
    editor->header->byNameResult = [](const std::u16string&, bool fetching) {
        return fetching ? kFailure : S_OK;
    };
    Attribute(u"WM/Year", StringValue(u"2000"));
    EXPECT_EQ(mervane::ReadTag(editor->header, u"WM/Year", field, sizeof field), kFailure);
    EXPECT_STREQ(field, "kept");
    editor->header->byNameResult = [](const std::u16string&, bool fetching) {
        return fetching ? S_OK : kFailure;
    };
    EXPECT_EQ(mervane::ReadTag(editor->header, u"WM/Year", field, sizeof field), kFailure);
    EXPECT_STREQ(field, "kept");
}

TEST_F(TagsSongInfo, WritesSixStringsInOrderThenFlushes) {
    std::strcpy(info.title, "T");
    std::strcpy(info.author, "Caf\xC3\xA9");
    info.album[0] = 0;
    std::strcpy(info.year, "2001");
    std::strcpy(info.track, "3");
    std::strcpy(info.genreId, "12");
    const SongInfo before = info;
    ASSERT_EQ(SetWmaSongInfo("song.wma", &info), 1);
    EXPECT_EQ(std::memcmp(&before, &info, sizeof info), 0);

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
    const auto entries = CallLog::Instance().Entries();
    const auto flush = std::find(entries.begin(), entries.end(), "Editor.Flush");
    ASSERT_NE(flush, entries.end());
    EXPECT_EQ(*(flush - 1), "HeaderInfo.SetAttribute(WM/GenreID)");
    EXPECT_EQ(*(flush + 1), "Editor.Close");
    EXPECT_TRUE(CallLog::Instance().Matching("HeaderInfo.SetAttribute(WM/Title)").empty());
    EXPECT_TRUE(CallLog::Instance().Matching("HeaderInfo.SetAttribute(WM/Author)").empty());
    EXPECT_TRUE(CallLog::Instance().Matching("HeaderInfo.GetAttribute").empty());
    ExpectReleased();
}

TEST_F(TagsSongInfo, ATagThatCannotBeSetFailsTheWriteButNotTheOthers) {
    editor->header->setResult = [](const std::u16string& name) {
        return name == u"Title" ? kFailure : S_OK;
    };
    EXPECT_EQ(SetWmaSongInfo("song.wma", &info), 0);
    EXPECT_EQ(editor->header->set.size(), 6u);
    EXPECT_EQ(CallLog::Instance().Matching("Editor.Flush").size(), 1u);

    editor->header->setResult = nullptr;
    editor->flushResult = kFailure;
    EXPECT_EQ(SetWmaSongInfo("song.wma", &info), 0);
    // The editor is still closed and released.
    EXPECT_EQ(CallLog::Instance().Matching("Editor.Close").size(), 2u);
    ExpectReleased();
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
        CallLog::Instance().Clear();
        EXPECT_EQ(SetWmaSongInfo("song.wma", &bad), 0) << c.text;
        EXPECT_TRUE(CallLog::Instance().Matching("Editor.Open").empty()) << c.text;
    }
}

TEST_F(TagsSongInfo, EditorFailuresGiveZero) {
    editor->openResult = kFailure;
    EXPECT_EQ(GetWmaSongInfo("song.wma", &info), 0);
    EXPECT_TRUE(CallLog::Instance().Matching("Editor.Close").empty());
    ExpectReleased();

    editor->openResult = S_OK;
    editor->queryOverride = [](REFIID iid) {
        return iid == wm::IID_IWMHeaderInfo ? E_NOINTERFACE : S_OK;
    };
    EXPECT_EQ(SetWmaSongInfo("song.wma", &info), 0);
    EXPECT_TRUE(CallLog::Instance().Matching("Editor.Close").empty());
    EXPECT_TRUE(CallLog::Instance().Matching("Editor.Flush").empty());
    ExpectReleased();

    // Close changes nothing in the file: what was read stands.
    editor->queryOverride = nullptr;
    editor->closeResult = kFailure;
    EXPECT_EQ(GetWmaSongInfo("song.wma", &info), 1);
    EXPECT_EQ(CallLog::Instance().Matching("Editor.Close").size(), 1u);
    ExpectReleased();

    fakes::ScriptedFactories().editor = [](wm::IWMMetadataEditor**) { return kFailure; };
    EXPECT_EQ(SetWmaSongInfo("song.wma", &info), 0);
}

TEST_F(TagsSongInfo, MissingArgumentsTouchNothing) {
    EXPECT_EQ(GetWmaSongInfo(nullptr, &info), 0);
    EXPECT_EQ(GetWmaSongInfo("song.wma", nullptr), 0);
    EXPECT_EQ(SetWmaSongInfo(nullptr, &info), 0);
    EXPECT_EQ(SetWmaSongInfo("song.wma", nullptr), 0);
    EXPECT_TRUE(CallLog::Instance().Entries().empty());
}

}  // namespace
