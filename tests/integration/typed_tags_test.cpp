// SPDX-License-Identifier: MIT
// Tags that other programs store with numeric types, read through
// libmervane.so: the attributes are written with the Format SDK stand-in's
// own metadata editor (linked into this test on its own), then read back with
// GetWmaSongInfo.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "media.h"
#include "mervane.h"
#include "wmsdk_factories.h"

namespace {

using wm::ComPtr;

std::u16string Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::u16string out(static_cast<size_t>(n > 0 ? n : 1), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], n);
    out.resize(out.size() - 1);
    return out;
}

struct Attr {
    const char16_t* name;
    wm::WMT_ATTR_DATATYPE type;
    std::vector<BYTE> value;
};

template <typename T>
Attr Number(const char16_t* name, wm::WMT_ATTR_DATATYPE type, T value) {
    const BYTE* p = reinterpret_cast<const BYTE*>(&value);
    return {name, type, std::vector<BYTE>(p, p + sizeof value)};
}

Attr Text(const char16_t* name, const std::u16string& text) {
    const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
    return {name, wm::WMT_TYPE_STRING, std::vector<BYTE>(p, p + (text.size() + 1) * 2)};
}

// Stores the attributes in the file with the stand-in's editor.
void Store(const std::string& path, const std::vector<Attr>& attrs) {
    ComPtr<wm::IWMMetadataEditor> editor;
    ASSERT_EQ(WMCreateEditor(editor.Put()), S_OK);
    ASSERT_EQ(editor->Open(Wide(path).c_str()), S_OK);
    ComPtr<wm::IWMHeaderInfo> info;
    ASSERT_EQ(editor.As(info), S_OK);
    for (const Attr& a : attrs) {
        ASSERT_EQ(info->SetAttribute(0, a.name, a.type, a.value.data(), WORD(a.value.size())),
                  S_OK);
    }
    ASSERT_EQ(editor->Flush(), S_OK);
    ASSERT_EQ(editor->Close(), S_OK);
}

TEST(TypedTagsIntegration, NumbersReadAsDecimalTextAndStringsAsStored) {
    REQUIRE_FFMPEG();
    const std::string path =
        media::CopyAs(media::MakeWma("typed-source.wma", "sine=frequency=330:duration=1.5",
                                     "-ar 44100 -ac 2 -b:a 128k -metadata title=Plain"),
                      "typed-numbers.wma");
    ASSERT_FALSE(path.empty());
    ASSERT_NO_FATAL_FAILURE(Store(path, {
                                            Number(u"WM/Track", wm::WMT_TYPE_DWORD, DWORD(5)),
                                            Number(u"WM/Year", wm::WMT_TYPE_WORD, WORD(2004)),
                                            Number(u"WM/GenreID", wm::WMT_TYPE_DWORD, DWORD(13)),
                                            Text(u"Title", u"Typed \u00E9"),
                                            Text(u"WM/AlbumTitle", u"Album"),
                                        }));
    SongInfo song;
    std::memset(&song, 0, sizeof song);
    std::strcpy(song.author, "kept");
    ASSERT_EQ(GetWmaSongInfo(path.c_str(), &song), 1);
    EXPECT_STREQ(song.track, "5");
    EXPECT_STREQ(song.year, "2004");
    EXPECT_STREQ(song.genreId, "13");
    EXPECT_STREQ(song.title, "Typed \xC3\xA9");
    EXPECT_STREQ(song.album, "Album");
    EXPECT_STREQ(song.author, "kept");  // the file has no author

    // The widest numbers: a QWORD year, a DWORD's top value.
    ASSERT_NO_FATAL_FAILURE(
        Store(path, {Number(u"WM/Year", wm::WMT_TYPE_QWORD, wm::QWORD(1987)),
                     Number(u"WM/Track", wm::WMT_TYPE_DWORD, DWORD(4294967295u)),
                     Number(u"WM/GenreID", wm::WMT_TYPE_DWORD, DWORD(0))}));
    std::memset(&song, 0, sizeof song);
    ASSERT_EQ(GetWmaSongInfo(path.c_str(), &song), 1);
    EXPECT_STREQ(song.year, "1987");
    EXPECT_STREQ(song.track, "4294967295");
    EXPECT_STREQ(song.genreId, "0");
    EXPECT_STREQ(song.title, "Typed \xC3\xA9");
}

}  // namespace
