// SPDX-License-Identifier: MIT
// Tests of the Linux Format SDK stand-in's metadata editor and its
// IWMHeaderInfo on files made at test time by the ffmpeg command-line tool:
// the attribute length conventions, typed values surviving Flush and a new
// Open, Close without Flush, and files that cannot be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "sdk_scratch_media.h"
#include "wmsdk_factories.h"

namespace {

using wm::ComPtr;

std::vector<BYTE> Bytes(const void* p, size_t n) {
    const BYTE* b = static_cast<const BYTE*>(p);
    return std::vector<BYTE>(b, b + n);
}

std::vector<BYTE> StringValue(const std::u16string& s) {
    return Bytes(s.c_str(), (s.size() + 1) * sizeof(char16_t));
}

// The bytes from the Data Object on: what an edit of the header must keep.
std::vector<char> DataAndIndex(const std::vector<char>& file) {
    static const char kDataGuid[16] = {
        0x36,       0x26,       char(0xB2), 0x75,       char(0x8E), 0x66, char(0xCF), 0x11,
        char(0xA6), char(0xD9), 0x00,       char(0xAA), 0x00,       0x62, char(0xCE), 0x6C};
    for (size_t i = 0; i + 16 <= file.size(); ++i)
        if (std::memcmp(file.data() + i, kDataGuid, 16) == 0)
            return {file.begin() + long(i), file.end()};
    return {};
}

class SdkEditor : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        have_ffmpeg_ = ScratchMedia::HaveFfmpeg();
        if (!have_ffmpeg_) return;
        ASSERT_TRUE(media_.Create("sdk_editor"));
        ASSERT_TRUE(media_.Make(
            "tagged.wma",
            "-f lavfi -i 'sine=f=440:sample_rate=44100:d=1.5' -ac 2 -c:a wmav2 -b:a 128k "
            "-metadata title='A title' -metadata artist=Someone"));
        ASSERT_TRUE(media_.Make("a.wav", "-f lavfi -i 'sine=d=0.5' -f wav"));
        ASSERT_TRUE(media_.MakeBadFiles("tagged.wma", 200, 11, 16 * 1024));
    }
    static void TearDownTestSuite() { media_.Remove(); }
    void SetUp() override {
        if (!have_ffmpeg_) GTEST_SKIP() << "ffmpeg not on PATH";
    }

    static std::string Path(const std::string& name) { return media_.Path(name); }
    static std::vector<char> Slurp(const std::string& path) { return ScratchMedia::Slurp(path); }
    // A fresh copy of the tagged file, so each test edits its own.
    static std::string Copy(const std::string& name) {
        media_.Spit(name, Slurp(Path("tagged.wma")));
        return Path(name);
    }

    // A new editor (replacing any earlier one), opened on `path` (checked), and
    // its header info.
    void OpenEditor(const std::string& path) {
        editor_.Reset();
        ASSERT_EQ(WMCreateEditor(editor_.Put()), S_OK);
        ASSERT_EQ(editor_->Open(ScratchMedia::Wide(path).c_str()), S_OK) << path;
        ASSERT_EQ(editor_.As(info_), S_OK);
    }

    // An attribute's type and value by name; the HRESULT of the fetch.
    HRESULT Get(const char16_t* name, wm::WMT_ATTR_DATATYPE* type, std::vector<BYTE>* value) {
        WORD stream = 0, length = 0;
        HRESULT hr = info_->GetAttributeByName(&stream, name, type, nullptr, &length);
        if (FAILED(hr)) return hr;
        value->assign(length, 0xEE);
        return info_->GetAttributeByName(&stream, name, type, value->data(), &length);
    }

    ComPtr<wm::IWMMetadataEditor> editor_;
    ComPtr<wm::IWMHeaderInfo> info_;
    static inline bool have_ffmpeg_ = false;
    static inline ScratchMedia media_;
};

TEST_F(SdkEditor, AttributeLengthsFollowThePlatformConventions) {
    OpenEditor(Path("tagged.wma"));
    WORD count = 0;
    ASSERT_EQ(info_->GetAttributeCount(0, &count), S_OK);
    ASSERT_GT(count, 2);
    WORD none = 9;
    EXPECT_EQ(info_->GetAttributeCount(1, &none), S_OK);
    EXPECT_EQ(none, 0);

    bool sawDuration = false, sawBitrate = false;
    for (WORD i = 0; i < count; ++i) {
        WORD stream = 0, nameLength = 0, valueLength = 0;
        wm::WMT_ATTR_DATATYPE type{};
        ASSERT_EQ(info_->GetAttributeByIndex(i, &stream, nullptr, &nameLength, &type, nullptr,
                                             &valueLength),
                  S_OK);
        ASSERT_GT(nameLength, 1);
        // Fetch into buffers of exactly the reported sizes, with guard bytes behind.
        std::u16string name(nameLength + 1u, u'#');
        std::vector<BYTE> value(valueLength + 1u, 0xEE);
        ASSERT_EQ(info_->GetAttributeByIndex(i, &stream, &name[0], &nameLength, &type, value.data(),
                                             &valueLength),
                  S_OK);
        EXPECT_EQ(stream, 0);
        EXPECT_EQ(name[nameLength - 1u], u'\0');
        EXPECT_EQ(name[nameLength], u'#');
        EXPECT_EQ(value[valueLength], 0xEE);
        name.resize(std::char_traits<char16_t>::length(name.c_str()));
        EXPECT_EQ(name.size() + 1, nameLength);
        if (type == wm::WMT_TYPE_STRING) {
            ASSERT_EQ(valueLength % 2, 0);
            ASSERT_GE(valueLength, 2);
            EXPECT_EQ(value[valueLength - 1u], 0);
            EXPECT_EQ(value[valueLength - 2u], 0);
        }
        if (name == u"Duration") {
            sawDuration = true;
            EXPECT_EQ(type, wm::WMT_TYPE_QWORD);
            EXPECT_EQ(valueLength, 8);
        }
        if (name == u"Bitrate") {
            sawBitrate = true;
            EXPECT_EQ(type, wm::WMT_TYPE_DWORD);
            EXPECT_EQ(valueLength, 4);
        }
        // One WCHAR or one byte short fails, reports the need and writes nothing.
        WORD shortName = WORD(nameLength - 1), fullValue = valueLength;
        std::u16string untouched(nameLength, u'#');
        EXPECT_EQ(info_->GetAttributeByIndex(i, &stream, &untouched[0], &shortName, &type,
                                             value.data(), &fullValue),
                  wm::NS_E_SDK_BUFFERTOOSMALL);
        EXPECT_EQ(shortName, nameLength);
        EXPECT_EQ(untouched, std::u16string(nameLength, u'#'));
        if (valueLength > 0) {
            WORD fullName = nameLength, shortValue = WORD(valueLength - 1);
            EXPECT_EQ(info_->GetAttributeByIndex(i, &stream, &name[0], &fullName, &type,
                                                 value.data(), &shortValue),
                      wm::NS_E_SDK_BUFFERTOOSMALL);
            EXPECT_EQ(shortValue, valueLength);
        }
    }
    EXPECT_TRUE(sawDuration);
    EXPECT_TRUE(sawBitrate);

    WORD stream = 0, nameLength = 0, valueLength = 0;
    wm::WMT_ATTR_DATATYPE type{};
    EXPECT_EQ(info_->GetAttributeByIndex(count, &stream, nullptr, &nameLength, &type, nullptr,
                                         &valueLength),
              E_INVALIDARG);

    // By name: size query, exact fetch, short buffer, absent names.
    WORD length = 0;
    ASSERT_EQ(info_->GetAttributeByName(&stream, u"Title", &type, nullptr, &length), S_OK);
    EXPECT_EQ(type, wm::WMT_TYPE_STRING);
    EXPECT_EQ(length, (7 + 1) * 2);
    std::vector<BYTE> title(length);
    WORD shortLength = WORD(length - 1);
    EXPECT_EQ(info_->GetAttributeByName(&stream, u"Title", &type, title.data(), &shortLength),
              wm::NS_E_SDK_BUFFERTOOSMALL);
    EXPECT_EQ(shortLength, length);
    ASSERT_EQ(info_->GetAttributeByName(&stream, u"Title", &type, title.data(), &length), S_OK);
    EXPECT_EQ(title, StringValue(u"A title"));

    for (const char16_t* absent : {u"WM/Track", u"TITLE", u""}) {
        length = 77;
        EXPECT_EQ(info_->GetAttributeByName(&stream, absent, &type, nullptr, &length),
                  wm::ASF_E_NOTFOUND);
        EXPECT_EQ(length, 0);
    }
    stream = 1;
    length = 77;
    EXPECT_EQ(info_->GetAttributeByName(&stream, u"Title", &type, nullptr, &length),
              wm::ASF_E_NOTFOUND);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(info_->GetAttributeByName(nullptr, u"Title", &type, nullptr, &length), E_POINTER);
}

TEST_F(SdkEditor, TypedValuesSurviveFlushAndReopen) {
    // A non-ASCII path checks the UTF-16 to file system conversion too.
    const std::string path = Copy("typed \xC3\xA9t\xC3\xA9 \xF0\x9F\x8E\xB5.wma");
    const std::vector<char> before = Slurp(path);
    OpenEditor(path);

    const DWORD track = 5, genre = 13, yes = 1;
    const WORD year = 1999;
    const wm::QWORD big = 0x0123456789ABCDEFull;
    const BYTE blob[5] = {0, 1, 2, 0xFE, 0xFF};
    const BYTE guid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const std::u16string title = u"Caf\u00E9 \u20AC \U0001F3B5";
    struct Case {
        const char16_t* name;
        wm::WMT_ATTR_DATATYPE type;
        std::vector<BYTE> value;
    };
    const std::vector<Case> cases = {
        {u"WM/Track", wm::WMT_TYPE_DWORD, Bytes(&track, 4)},
        {u"WM/Year", wm::WMT_TYPE_WORD, Bytes(&year, 2)},
        {u"WM/GenreID", wm::WMT_TYPE_DWORD, Bytes(&genre, 4)},
        {u"Big", wm::WMT_TYPE_QWORD, Bytes(&big, 8)},
        {u"IsVBR", wm::WMT_TYPE_BOOL, Bytes(&yes, 4)},
        {u"Blob", wm::WMT_TYPE_BINARY, Bytes(blob, sizeof blob)},
        {u"Id", wm::WMT_TYPE_GUID, Bytes(guid, sizeof guid)},
        {u"Title", wm::WMT_TYPE_STRING, StringValue(title)},
        {u"WM/AlbumTitle", wm::WMT_TYPE_STRING, StringValue(u"")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(info_->SetAttribute(0, c.name, c.type, c.value.data(), WORD(c.value.size())),
                  S_OK);
    }
    // Replacing a value changes its type too.
    const wm::QWORD year64 = 2001;
    EXPECT_EQ(info_->SetAttribute(0, u"WM/Year", wm::WMT_TYPE_QWORD,
                                  reinterpret_cast<const BYTE*>(&year64), 8),
              S_OK);
    ASSERT_EQ(editor_->Flush(), S_OK);
    // Flush leaves the editor open.
    WORD count = 0;
    EXPECT_EQ(info_->GetAttributeCount(0, &count), S_OK);
    ASSERT_EQ(editor_->Close(), S_OK);

    const std::vector<char> after = Slurp(path);
    EXPECT_NE(after, before);
    EXPECT_EQ(DataAndIndex(after), DataAndIndex(before));

    info_.Reset();
    OpenEditor(path);
    for (const Case& c : cases) {
        if (std::u16string(c.name) == u"WM/Year") continue;
        wm::WMT_ATTR_DATATYPE type{};
        std::vector<BYTE> value;
        ASSERT_EQ(Get(c.name, &type, &value), S_OK) << int(c.type);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(value, c.value);
    }
    wm::WMT_ATTR_DATATYPE type{};
    std::vector<BYTE> value;
    ASSERT_EQ(Get(u"WM/Year", &type, &value), S_OK);
    EXPECT_EQ(type, wm::WMT_TYPE_QWORD);
    EXPECT_EQ(value, Bytes(&year64, 8));
    EXPECT_EQ(editor_->Close(), S_OK);
}

TEST_F(SdkEditor, SetAttributeRefusesWhatTheTypeOrNameDoesNotAllow) {
    OpenEditor(Path("tagged.wma"));
    const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const char16_t text[] = u"abc";
    EXPECT_EQ(info_->SetAttribute(0, u"Duration", wm::WMT_TYPE_QWORD, eight, 8),
              wm::NS_E_ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(info_->SetAttribute(0, u"WM/Track", wm::WMT_TYPE_DWORD, eight, 3), E_INVALIDARG);
    EXPECT_EQ(info_->SetAttribute(0, u"WM/Track", wm::WMT_TYPE_GUID, eight, 8), E_INVALIDARG);
    EXPECT_EQ(info_->SetAttribute(0, u"WM/Track", wm::WMT_TYPE_STRING,
                                  reinterpret_cast<const BYTE*>(text), 5),
              E_INVALIDARG);
    EXPECT_EQ(info_->SetAttribute(0, u"WM/Track", wm::WMT_ATTR_DATATYPE(7), eight, 4),
              E_INVALIDARG);
    EXPECT_EQ(info_->SetAttribute(0, u"Title", wm::WMT_TYPE_DWORD, eight, 4), E_INVALIDARG);
    EXPECT_EQ(info_->SetAttribute(1, u"WM/Track", wm::WMT_TYPE_DWORD, eight, 4), E_INVALIDARG);
    EXPECT_EQ(info_->SetAttribute(0, u"", wm::WMT_TYPE_DWORD, eight, 4), E_INVALIDARG);
    EXPECT_EQ(info_->SetAttribute(0, nullptr, wm::WMT_TYPE_DWORD, eight, 4), E_POINTER);
    EXPECT_EQ(info_->SetAttribute(0, u"WM/Track", wm::WMT_TYPE_DWORD, nullptr, 4), E_POINTER);
    // None of these left a trace.
    WORD stream = 0, length = 0;
    wm::WMT_ATTR_DATATYPE type{};
    EXPECT_EQ(info_->GetAttributeByName(&stream, u"WM/Track", &type, nullptr, &length),
              wm::ASF_E_NOTFOUND);
    EXPECT_EQ(editor_->Close(), S_OK);
}

TEST_F(SdkEditor, FlushReportsWhyTheWriteFailed) {
    const std::string path = Copy("vanished.wma");
    OpenEditor(path);
    ASSERT_EQ(std::remove(path.c_str()), 0);
    EXPECT_EQ(editor_->Flush(), wm::E_PATH_NOT_FOUND);
    EXPECT_EQ(editor_->Close(), S_OK);
}

TEST_F(SdkEditor, CloseWithoutFlushLeavesTheFileAsItWas) {
    const std::string path = Copy("unflushed.wma");
    const std::vector<char> before = Slurp(path);
    ASSERT_EQ(WMCreateEditor(editor_.Put()), S_OK);
    ASSERT_EQ(editor_.As(info_), S_OK);
    // Nothing works before Open.
    WORD count = 0;
    EXPECT_EQ(info_->GetAttributeCount(0, &count), wm::NS_E_INVALID_REQUEST);
    EXPECT_EQ(editor_->Flush(), wm::NS_E_INVALID_REQUEST);
    EXPECT_EQ(editor_->Close(), wm::NS_E_INVALID_REQUEST);

    ASSERT_EQ(editor_->Open(ScratchMedia::Wide(path).c_str()), S_OK);
    EXPECT_EQ(editor_->Open(ScratchMedia::Wide(path).c_str()), wm::NS_E_INVALID_REQUEST);
    const DWORD five = 5;
    const std::vector<BYTE> title = StringValue(u"Changed");
    ASSERT_EQ(info_->SetAttribute(0, u"WM/Track", wm::WMT_TYPE_DWORD,
                                  reinterpret_cast<const BYTE*>(&five), 4),
              S_OK);
    ASSERT_EQ(
        info_->SetAttribute(0, u"Title", wm::WMT_TYPE_STRING, title.data(), WORD(title.size())),
        S_OK);
    ASSERT_EQ(editor_->Close(), S_OK);
    EXPECT_EQ(Slurp(path), before);
    EXPECT_EQ(editor_->Close(), wm::NS_E_INVALID_REQUEST);
    EXPECT_EQ(info_->GetAttributeCount(0, &count), wm::NS_E_INVALID_REQUEST);

    // The same editor opens again and sees the file's own values.
    ASSERT_EQ(editor_->Open(ScratchMedia::Wide(path).c_str()), S_OK);
    wm::WMT_ATTR_DATATYPE type{};
    std::vector<BYTE> value;
    ASSERT_EQ(Get(u"Title", &type, &value), S_OK);
    EXPECT_EQ(value, StringValue(u"A title"));
    EXPECT_EQ(editor_->Close(), S_OK);
}

TEST_F(SdkEditor, FilesThatAreNotAsfFailToOpen) {
    ASSERT_EQ(WMCreateEditor(editor_.Put()), S_OK);
    ASSERT_EQ(editor_.As(info_), S_OK);
    const struct {
        std::string name;
        HRESULT expected;
    } cases[] = {
        {"missing.wma", wm::NS_E_FILE_NOT_FOUND},
        {"missing-folder/x.wma", wm::NS_E_FILE_NOT_FOUND},
        {"folder.wma", wm::NS_E_FILE_OPEN_FAILED},
        {"empty.wma", wm::NS_E_INVALID_INPUT_FORMAT},
        {"head.wma", wm::NS_E_INVALID_INPUT_FORMAT},
        {"random.wma", wm::NS_E_INVALID_INPUT_FORMAT},
        {"a.wav", wm::NS_E_INVALID_INPUT_FORMAT},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(editor_->Open(ScratchMedia::Wide(Path(c.name)).c_str()), c.expected) << c.name;
        WORD count = 0;
        EXPECT_EQ(info_->GetAttributeCount(0, &count), wm::NS_E_INVALID_REQUEST) << c.name;
        EXPECT_EQ(editor_->Close(), wm::NS_E_INVALID_REQUEST) << c.name;
    }
    EXPECT_EQ(editor_->Open(nullptr), E_POINTER);
    EXPECT_EQ(editor_->Open(u""), E_INVALIDARG);
    // After all that the editor still opens a good file.
    EXPECT_EQ(editor_->Open(ScratchMedia::Wide(Path("tagged.wma")).c_str()), S_OK);
    EXPECT_EQ(editor_->Close(), S_OK);
}

}  // namespace
