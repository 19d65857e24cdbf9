// SPDX-License-Identifier: MIT
// Tests of the ASF attribute view's editing rules: where a set value is
// stored, and which requests are refused.
#include <gtest/gtest.h>

#include <vector>

#include "sdk_asf_builders.h"
#include "wave_format.h"

namespace {

using namespace asf_test;

TEST(AsfHeader, SetRoundTripsEveryTypeAndKeepsOtherObjects) {
    asf::Header h;
    ASSERT_TRUE(h.Parse(richHeader().data(), richHeader().size()));
    const Bytes big(70000, 0x5A);
    const Bytes g = guid(1, 2, 3, 4);
    struct Case {
        std::u16string name;
        wm::WMT_ATTR_DATATYPE type;
        Bytes value;
    };
    const std::vector<Case> cases = {
        {u"WM/AlbumTitle", wm::WMT_TYPE_STRING, str(u"Album")},
        {u"WM/Year", wm::WMT_TYPE_DWORD, num(2024, 4)},
        {u"WM/Track", wm::WMT_TYPE_WORD, num(9, 2)},  // stored twice, type changes
        {u"Q", wm::WMT_TYPE_QWORD, num(0x1122334455667788ull, 8)},
        {u"Flag", wm::WMT_TYPE_BOOL, num(1, 4)},
        {u"IsVBR", wm::WMT_TYPE_BOOL, num(0, 4)},  // lives in Metadata (2 bytes)
        {u"Blob", wm::WMT_TYPE_BINARY, Bytes{1, 2, 3}},
        {u"Big", wm::WMT_TYPE_BINARY, big},  // too large for Extended Content Description
        {u"Id", wm::WMT_TYPE_GUID, g},       // GUIDs only fit Metadata Library
        {u"Copyright", wm::WMT_TYPE_STRING, str(u"(c)")},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(h.Set(c.name, c.type, c.value.data(), c.value.size()));
        ASSERT_TRUE(h.Set(c.name, c.type, c.value.data(), c.value.size()));  // no duplicate
    }
    const size_t position = size_t(h.tags().Find(u"WM/Track") - h.tags().at(0));

    Bytes out = h.Serialize();
    EXPECT_TRUE(contains(out, kUnknownObject));
    EXPECT_TRUE(contains(out, object(kUnknown, Bytes{1, 2, 3})));  // inside Header Extension
    // Metadata stores the BOOL in 2 bytes.
    EXPECT_TRUE(contains(
        out, cat({Bytes{0, 0, 0, 0, 12, 0, 2, 0, 2, 0, 0, 0}, str(u"IsVBR"), Bytes{0, 0}})));
    asf::Header back;
    ASSERT_TRUE(back.Parse(out.data(), out.size()));
    EXPECT_EQ(back.tags().count(), h.tags().count());
    for (const Case& c : cases) {
        size_t seen = 0;
        for (size_t i = 0; i < back.tags().count(); ++i)
            seen += back.tags().at(i)->name() == c.name;
        EXPECT_EQ(seen, 1u) << narrow(str(c.name));
        const asf::Attribute* a = back.tags().Find(c.name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->type(), c.type);
        EXPECT_EQ(a->value(), c.value);
    }
    EXPECT_EQ(size_t(back.tags().Find(u"WM/Track") - back.tags().at(0)), position);
    EXPECT_EQ(back.tags().Find(u"Title")->value(), str(u"T"));
    EXPECT_EQ(back.properties().fileSize, out.size());  // header only: no bytes follow
    EXPECT_EQ(back.Serialize(), out);

    // A string moved out because it no longer fits leaves no copy behind.
    ASSERT_TRUE(back.Set(u"WM/AlbumTitle", wm::WMT_TYPE_GUID, g.data(), g.size()));
    EXPECT_EQ(back.tags().Find(u"WM/AlbumTitle")->type(), wm::WMT_TYPE_GUID);
    EXPECT_EQ(back.tags().count(), h.tags().count());
}

TEST(AsfHeader, ContentDescriptionNamesAndTheirDuplicates) {
    asf::Header h;
    Bytes b = header({fileProps(1, 0, 0), extContent({{u"title", 0, str(u"old")},
                                                      {u"WM/Title", 0, str(u"other")},
                                                      {u"AUTHOR", 3, num(1, 4)}})});
    ASSERT_TRUE(h.Parse(b.data(), b.size()));
    EXPECT_EQ(h.tags().Find(u"Title"), nullptr);
    const Bytes t = {'N', 0, 'e', 0, 'w', 0};  // terminator added by set
    ASSERT_TRUE(h.Set(u"Title", wm::WMT_TYPE_STRING, t.data(), t.size()));
    ASSERT_TRUE(h.Set(u"Author", wm::WMT_TYPE_STRING, t.data(), t.size()));
    Bytes out = h.Serialize();
    ASSERT_TRUE(h.Parse(out.data(), out.size()));
    EXPECT_EQ(h.tags().Find(u"Title")->value(), str(u"New"));
    EXPECT_EQ(h.tags().Find(u"title")->value(), str(u"New"));         // kept in step
    EXPECT_EQ(h.tags().Find(u"WM/Title")->value(), str(u"other"));    // a different name
    EXPECT_EQ(h.tags().Find(u"AUTHOR")->type(), wm::WMT_TYPE_DWORD);  // not a string copy
    EXPECT_EQ(h.tags().Find(u"Author")->value(), str(u"New"));
}

TEST(AsfHeader, SetRejectsInvalidRequests) {
    asf::Header h;
    EXPECT_FALSE(h.Set(u"X", wm::WMT_TYPE_BINARY, nullptr, 0));  // nothing parsed
    Bytes b = header({fileProps(1, 0, 0)});
    ASSERT_TRUE(h.Parse(b.data(), b.size()));
    const size_t before = h.tags().count();
    const Bytes serialized = h.Serialize();
    const struct {
        std::u16string_view name;
        wm::WMT_ATTR_DATATYPE type;
        size_t len;
    } rejected[] = {
        {u"Duration", wm::WMT_TYPE_QWORD, 8},
        {u"Bitrate", wm::WMT_TYPE_DWORD, 4},  // read-only
        {u"FileSize", wm::WMT_TYPE_QWORD, 8},
        {u"Seekable", wm::WMT_TYPE_BOOL, 4},
        {u"X", wm::WMT_TYPE_BOOL, 2},
        {u"X", wm::WMT_TYPE_DWORD, 3},  // wrong lengths
        {u"X", wm::WMT_TYPE_QWORD, 4},
        {u"X", wm::WMT_TYPE_WORD, 4},
        {u"X", wm::WMT_TYPE_GUID, 4},
        {u"X", wm::WMT_TYPE_STRING, 3},
        {u"X", static_cast<wm::WMT_ATTR_DATATYPE>(7), 4},  // unknown type
        {u"", wm::WMT_TYPE_DWORD, 4},
        {std::u16string_view(u"a\0b", 3), wm::WMT_TYPE_DWORD, 4},
        {u"Title", wm::WMT_TYPE_DWORD, 4},  // Content Description holds strings only
    };
    const uint8_t bytes[8] = {1};
    for (size_t i = 0; i < std::size(rejected); ++i) {
        const auto& r = rejected[i];
        EXPECT_EQ(h.Set(r.name, r.type, bytes, r.len).code(),
                  i < 4 ? wm::NS_E_ATTRIBUTE_READ_ONLY : E_INVALIDARG)
            << i;
    }
    EXPECT_FALSE(h.Set(u"X", wm::WMT_TYPE_BINARY, nullptr, 4));
    EXPECT_EQ(h.tags().count(), before);
    EXPECT_EQ(h.Serialize(), serialized);
}

// ---- Malformed input: every case must fail cleanly (also run under ASan).

}  // namespace
