// SPDX-License-Identifier: MIT
// Tests of the ASF header module of the Linux Format SDK stand-in on headers
// built in memory: decoding, serializing, malformed input.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "reader/audio_stream.h"
#include "sdk_asf_builders.h"
#include "wave_format.h"

namespace {

using namespace asf_test;

// Streams declared in the header and only in the Header Extension, once
// each, with their bitrates from the best place that gives one; mutually
// exclusive ones share an output that plays the highest bitrate.
TEST(AsfHeader, StreamsFromEveryPlaceTheirBitratesAndExclusiveOutputs) {
    const auto make = [](const Bytes& more) {
        return header({fileProps(41210000, 3100, 2), audioStream(3, 16000),
                       object(kBitrates, cat({num(1, 2), num(3, 2), num(20000, 4)})),
                       headerExt({extStream(5, 64000, audioStream(5, 4000)), extStream(3, 99, {}),
                                  object(kExtStreamProps, Bytes(10, 0)),
                                  exclusion(kAdvancedMutex, kExcludeLanguage, {3, 5})}),
                       audioStream(5, 8000), audioStream(9, 1000),
                       exclusion(kBitrateMutex, kExcludeBitrate, {9, 127}), more});
    };
    asf::Header h;
    const Bytes two = make(kUnknownObject);
    ASSERT_TRUE(h.Parse(two.data(), two.size()));
    std::vector<std::pair<uint16_t, uint32_t>> streams;
    for (const asf::Stream& s : h.streams()) streams.emplace_back(s.number, s.bitrate);
    const std::vector<std::pair<uint16_t, uint32_t>> expected = {{3, 20000}, {5, 64000}, {9, 8000}};
    EXPECT_EQ(streams, expected);
    wm::WaveFormat wf;
    ASSERT_TRUE(wm::ReadWholeWaveFormat(h.streams()[1].typeSpecific.data(),
                                        h.streams()[1].typeSpecific.size(), &wf));
    EXPECT_EQ(wf.avgBytesPerSec, 4000u) << "the first declaration holds";
    const auto outputs = [&] {
        std::vector<uint16_t> numbers;
        for (const asf::Stream* s : ffsdk::OutputStreams(h)) numbers.push_back(s->number);
        return numbers;
    };
    EXPECT_EQ(outputs(), (std::vector<uint16_t>{5, 9}));
    // An exclusion joining the two sets makes them one.
    const Bytes one = make(exclusion(kBitrateMutex, kExcludeBitrate, {9, 3}));
    ASSERT_TRUE(h.Parse(one.data(), one.size()));
    EXPECT_EQ(outputs(), (std::vector<uint16_t>{5}));
}

TEST(AsfHeader, DecodesPropertiesStreamsAndAttributes) {
    asf::Header h;
    ASSERT_TRUE(h.Parse(richHeader().data(), richHeader().size()));
    EXPECT_EQ(h.properties().prerollMs, 3100u);
    EXPECT_EQ(h.properties().playDuration, 41210000u);
    EXPECT_EQ(h.duration(), 10210000u);  // preroll is milliseconds
    EXPECT_EQ(h.bitrate(), 96000u);      // Stream Bitrate Properties wins
    EXPECT_EQ(h.properties().maxPacketSize, 3200u);
    EXPECT_TRUE(asf::IsSeekable(h.properties()));
    EXPECT_FALSE(h.hasDataObject());
    ASSERT_EQ(h.streams().size(), 1u);
    EXPECT_EQ(h.streams()[0].kind, asf::StreamKind::Audio);
    wm::WaveFormat wf;
    ASSERT_TRUE(wm::ReadWholeWaveFormat(h.streams()[0].typeSpecific.data(),
                                        h.streams()[0].typeSpecific.size(), &wf));
    EXPECT_EQ(wf.blockAlign, 743);
    EXPECT_EQ(wf.cbSize, 10u);

    std::vector<std::u16string> names;
    for (size_t i = 0; i < h.tags().count(); ++i) names.push_back(h.tags().at(i)->name());
    const std::vector<std::u16string> expected = {
        u"Duration", u"Bitrate", u"Seekable", u"Broadcast",    u"FileSize", u"Title",
        u"Author",   u"title",   u"WM/Track", u"NoTerminator", u"IsVBR",    u"WM/Track"};
    EXPECT_EQ(names, expected);  // the stream-1 record is not a file attribute
    EXPECT_EQ(h.tags().at(h.tags().count()), nullptr);
    EXPECT_EQ(h.tags().Find(u"Copyright"), nullptr);  // empty field is absent
    EXPECT_EQ(h.tags().Find(u"TITLE"), nullptr);      // names are case-sensitive
    EXPECT_EQ(h.tags().Find(u"Duration")->type(), wm::WMT_TYPE_QWORD);
    EXPECT_EQ(value(h.tags().Find(u"Duration")), 10210000u);
    EXPECT_EQ(h.tags().Find(u"Title")->value(), str(u"T"));
    EXPECT_EQ(h.tags().Find(u"NoTerminator")->value(), str(u"ab"));
    const asf::Attribute* vbr = h.tags().Find(u"IsVBR");
    EXPECT_EQ(vbr->type(), wm::WMT_TYPE_BOOL);
    EXPECT_EQ(vbr->value(), num(1, 4));  // widened from 2 bytes
    EXPECT_EQ(h.tags().Find(u"WM/Track")->type(), wm::WMT_TYPE_DWORD);
}

TEST(AsfHeader, FallbacksAndUnchangedSerialization) {
    asf::Header h;
    Bytes b = header({fileProps(20000000, 3100, 0), audioStream(1, 16000)});
    ASSERT_TRUE(h.Parse(b.data(), b.size()));
    EXPECT_EQ(value(h.tags().Find(u"Bitrate")),
              128000u);                      // nAvgBytesPerSec * 8 without bitrate object
    b = header({fileProps(1000, 3100, 0)});  // preroll longer than the file
    ASSERT_TRUE(h.Parse(b.data(), b.size()));
    EXPECT_EQ(h.duration(), 0u);

    const Bytes hdr = richHeader();
    Bytes file = cat({hdr, dataObject(100)});
    // With the real file size in File Properties nothing needs to change.
    file = patched(file, 30 + 40, num(file.size(), 8));
    ASSERT_TRUE(h.Parse(file.data(), file.size()));
    EXPECT_TRUE(h.hasDataObject());
    EXPECT_EQ(h.headerSize(), hdr.size());
    EXPECT_EQ(h.dataObjectSize(), file.size() - hdr.size());
    EXPECT_EQ(h.Serialize(), Bytes(file.begin(), file.begin() + hdr.size()));
}

TEST(AsfHeader, MalformedInputFailsCleanly) {
    const size_t headerSize = richHeader().size();
    const Bytes file = cat({richHeader(), dataObject(20)});
    asf::Header h;
    for (size_t len = 0; len <= file.size(); ++len) {
        const bool ok = h.Parse(file.data(), len).ok();
        const bool expected = len == headerSize || len >= headerSize + 50;
        EXPECT_EQ(ok, expected) << len;
        EXPECT_EQ(h.valid(), ok);
    }

    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        Bytes m = file;
        const int flips = 1 + int(rng() % 8);
        for (int i = 0; i < flips; ++i) m[rng() % m.size()] = uint8_t(rng());
        if (h.Parse(m.data(), m.size())) {
            h.Serialize();
            const uint8_t v[2] = {'x', 0};
            (void)h.Set(u"Title", wm::WMT_TYPE_STRING, v, 2);
        }
        Bytes noise(rng() % 200);
        for (uint8_t& c : noise) c = uint8_t(rng());
        if (noise.size() >= 16) std::copy(kHeader.begin(), kHeader.end(), noise.begin());
        EXPECT_FALSE(h.Parse(noise.data(), noise.size()));
    }

    const Bytes fp = fileProps(1, 0, 0);
    const Bytes allOnes = num(~0ull, 8);
    const std::vector<Bytes> bad = {
        header({fp, object(kExtContent, num(0xFFFF, 2))}),  // more records than bytes
        header({fp, headerExt({object(kMetadataLib, num(3, 2))})}),
        header({fp, headerExt({object(kMetadata, cat({num(1, 2), num(0, 4), num(2, 2), num(0, 2),
                                                      num(0xFFFFFFFF, 4), num(0, 2)}))})}),
        header({fp, object(kContentDesc, cat({num(0xFFFF, 2), num(0, 8)}))}),
        header({fp, object(kBitrates, num(50, 2))}),
        header({fp, patched(headerExt({}), 24 + 18, num(0xFFFFFFFF, 4))}),    // extension data size
        header({object(kUnknown, {})}),                                       // no File Properties
        patched(header({fp}), 16, allOnes),                                   // header size
        patched(header({fp, kUnknownObject}), 30 + fp.size() + 16, allOnes),  // object size
    };
    for (size_t i = 0; i < bad.size(); ++i)
        EXPECT_FALSE(h.Parse(bad[i].data(), bad[i].size())) << i;
    EXPECT_FALSE(h.Parse(nullptr, 10));
}

}  // namespace
