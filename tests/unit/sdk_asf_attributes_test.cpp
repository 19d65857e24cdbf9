// SPDX-License-Identifier: MIT
// Tests of the ASF attribute view's editing rules: where a set value is
// stored, and which requests are refused.
#include <gtest/gtest.h>

#include <vector>

#include "sdk_asf_builders.h"
#include "wave_format.h"

namespace {

using namespace asf_test;
using asf::AttrType;

TEST(AsfHeader, SetRoundTripsEveryTypeAndKeepsOtherObjects) {
    asf::Header h;
    ASSERT_TRUE(h.Parse(richHeader().data(), richHeader().size()));
    const Bytes big(70000, 0x5A);
    const Bytes g = guid(1, 2, 3, 4);
    struct Case {
        std::u16string name;
        AttrType type;
        Bytes value;
    };
    const std::vector<Case> cases = {
        {u"WM/AlbumTitle", AttrType::String, str(u"Album")},
        {u"WM/Year", AttrType::DWord, num(2024, 4)},
        {u"WM/Track", AttrType::Word, num(9, 2)},  // stored twice, type changes
        {u"Q", AttrType::QWord, num(0x1122334455667788ull, 8)},
        {u"Flag", AttrType::Bool, num(1, 4)},
        {u"IsVBR", AttrType::Bool, num(0, 4)},  // lives in Metadata (2 bytes)
        {u"Blob", AttrType::Binary, Bytes{1, 2, 3}},
        {u"Big", AttrType::Binary, big},  // too large for Extended Content Description
        {u"Id", AttrType::Guid, g},       // GUIDs only fit Metadata Library
        {u"Copyright", AttrType::String, str(u"(c)")},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(h.Set(c.name, c.type, c.value.data(), c.value.size()));
        ASSERT_TRUE(h.Set(c.name, c.type, c.value.data(), c.value.size()));  // no duplicate
    }
    const size_t position = size_t(h.Find(u"WM/Track") - h.at(0));

    Bytes out = h.Serialize();
    EXPECT_TRUE(contains(out, kUnknownObject));
    EXPECT_TRUE(contains(out, object(kUnknown, Bytes{1, 2, 3})));  // inside Header Extension
    // Metadata stores the BOOL in 2 bytes.
    EXPECT_TRUE(contains(
        out, cat({Bytes{0, 0, 0, 0, 12, 0, 2, 0, 2, 0, 0, 0}, str(u"IsVBR"), Bytes{0, 0}})));
    asf::Header back;
    ASSERT_TRUE(back.Parse(out.data(), out.size()));
    EXPECT_EQ(back.count(), h.count());
    for (const Case& c : cases) {
        size_t seen = 0;
        for (size_t i = 0; i < back.count(); ++i) seen += back.at(i)->name == c.name;
        EXPECT_EQ(seen, 1u) << narrow(str(c.name));
        const asf::Attribute* a = back.Find(c.name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->type, c.type);
        EXPECT_EQ(a->value, c.value);
    }
    EXPECT_EQ(size_t(back.Find(u"WM/Track") - back.at(0)), position);
    EXPECT_EQ(back.Find(u"Title")->value, str(u"T"));
    EXPECT_EQ(back.fileSize(), out.size());  // header only: no bytes follow
    EXPECT_EQ(back.Serialize(), out);

    // A string moved out because it no longer fits leaves no copy behind.
    ASSERT_TRUE(back.Set(u"WM/AlbumTitle", AttrType::Guid, g.data(), g.size()));
    EXPECT_EQ(back.Find(u"WM/AlbumTitle")->type, AttrType::Guid);
    EXPECT_EQ(back.count(), h.count());
}

TEST(AsfHeader, ContentDescriptionNamesAndTheirDuplicates) {
    asf::Header h;
    Bytes b = header({fileProps(1, 0, 0), extContent({{u"title", 0, str(u"old")},
                                                      {u"WM/Title", 0, str(u"other")},
                                                      {u"AUTHOR", 3, num(1, 4)}})});
    ASSERT_TRUE(h.Parse(b.data(), b.size()));
    EXPECT_EQ(h.Find(u"Title"), nullptr);
    const Bytes t = {'N', 0, 'e', 0, 'w', 0};  // terminator added by set
    ASSERT_TRUE(h.Set(u"Title", AttrType::String, t.data(), t.size()));
    ASSERT_TRUE(h.Set(u"Author", AttrType::String, t.data(), t.size()));
    Bytes out = h.Serialize();
    ASSERT_TRUE(h.Parse(out.data(), out.size()));
    EXPECT_EQ(h.Find(u"Title")->value, str(u"New"));
    EXPECT_EQ(h.Find(u"title")->value, str(u"New"));       // kept in step
    EXPECT_EQ(h.Find(u"WM/Title")->value, str(u"other"));  // a different name
    EXPECT_EQ(h.Find(u"AUTHOR")->type, AttrType::DWord);   // not a string copy
    EXPECT_EQ(h.Find(u"Author")->value, str(u"New"));
}

TEST(AsfHeader, SetRejectsInvalidRequests) {
    asf::Header h;
    EXPECT_FALSE(h.Set(u"X", AttrType::Binary, nullptr, 0));  // nothing parsed
    Bytes b = header({fileProps(1, 0, 0)});
    ASSERT_TRUE(h.Parse(b.data(), b.size()));
    const size_t before = h.count();
    const Bytes serialized = h.Serialize();
    const struct {
        std::u16string_view name;
        AttrType type;
        size_t len;
    } rejected[] = {
        {u"Duration", AttrType::QWord, 8},   {u"Bitrate", AttrType::DWord, 4},  // read-only
        {u"FileSize", AttrType::QWord, 8},   {u"Seekable", AttrType::Bool, 4},
        {u"X", AttrType::Bool, 2},           {u"X", AttrType::DWord, 3},  // wrong lengths
        {u"X", AttrType::QWord, 4},          {u"X", AttrType::Word, 4},
        {u"X", AttrType::Guid, 4},           {u"X", AttrType::String, 3},
        {u"X", static_cast<AttrType>(7), 4},  // unknown type
        {u"", AttrType::DWord, 4},           {std::u16string_view(u"a\0b", 3), AttrType::DWord, 4},
        {u"Title", AttrType::DWord, 4},  // Content Description holds strings only
    };
    const uint8_t bytes[8] = {1};
    for (size_t i = 0; i < std::size(rejected); ++i) {
        const auto& r = rejected[i];
        EXPECT_EQ(h.Set(r.name, r.type, bytes, r.len).code(),
                  i < 4 ? wm::NS_E_ATTRIBUTE_READ_ONLY : E_INVALIDARG)
            << i;
    }
    EXPECT_FALSE(h.Set(u"X", AttrType::Binary, nullptr, 4));
    EXPECT_EQ(h.count(), before);
    EXPECT_EQ(h.Serialize(), serialized);
}

// ---- Malformed input: every case must fail cleanly (also run under ASan).

}  // namespace
