// SPDX-License-Identifier: MIT
// Real files from tests/data given the headers the platform's encoders write
// and ffmpeg does not: multiple-bitrate files whose streams exclude each other
// (one declared only inside the Header Extension), and a Header Extension over
// 64 KiB. Built with our own header writer, checked against ffprobe and
// ffmpeg's decode of the stream ffprobe gives the highest bitrate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../unit/sdk_asf_builders.h"
#include "asf_bytes.h"
#include "decode_collector.h"
#include "media.h"
#include "mervane.h"

namespace {

using asf_test::Bytes;
using asf_test::cat;
using asf_test::guid;
using asf_test::num;
using asf_test::object;

std::string DataPath(const char* name) {
    return std::string(MERVANE_TEST_DATA) + "/" + name;
}

// A WMA 2 stream of 22,050 Hz mono that no packet carries.
Bytes QuietStream(uint16_t number, uint32_t avgBytes) {
    const Bytes wf = cat({num(0x161, 2), num(1, 2), num(22050, 4), num(avgBytes, 4), num(743, 2),
                          num(16, 2), num(10, 2), Bytes{0, 0, 0, 0, 1, 0, 0, 0, 0, 0}});
    return object(asf_test::kStreamProps,
                  cat({asf_test::kAudio, Bytes(16, 0), num(0, 8), num(wf.size(), 4), num(0, 4),
                       num(number, 2), num(0, 4), wf}));
}

enum class Declared { kBitrateObjects, kExtensionOnly };

// `name` as a multiple-bitrate file: a stream that no packet carries declared
// first, at a lower bitrate and the highest stream number, and the file's own stream declared only
// in an Extended Stream Properties object of the Header Extension, which moves to the header's end.
// The two exclude each other by bitrate (Bitrate Mutual Exclusion, Stream Bitrate Properties) or by
// language (Advanced Mutual Exclusion, bitrates from the stream objects alone).
std::string MultipleBitrate(const char* name, Declared how) {
    const asfbytes::Bytes file = media::ReadFile(DataPath(name));
    Bytes stream, extension;
    std::vector<Bytes> objects;
    const asfbytes::Guid bitrates = asfbytes::G("7BF875CE-468D-11D1-8D82-006097C9A2B2");
    for (const asfbytes::Object& o : asfbytes::HeaderObjects(file)) {
        if (o.id == asfbytes::kStreamProps) {
            stream = o.bytes;
        } else if (o.id == asfbytes::kHeaderExt) {
            extension = o.bytes;
        } else if (o.id != bitrates) {
            objects.push_back(o.bytes);
        }
    }
    const uint16_t real = asfbytes::Le(stream, 72, 2) & 0x7F, quiet = 127;
    std::vector<Bytes> inner;
    for (const asfbytes::Object& o : asfbytes::ExtensionObjects({{}, extension, 0}))
        inner.push_back(o.bytes);
    inner.push_back(asf_test::extStream(real, 96000, stream));
    objects.push_back(QuietStream(quiet, 2000));
    if (how == Declared::kBitrateObjects) {
        objects.push_back(object(asf_test::kBitrates, cat({num(2, 2), num(quiet, 2), num(16000, 4),
                                                           num(real, 2), num(96000, 4)})));
        objects.push_back(
            asf_test::exclusion(asf_test::kBitrateMutex, asf_test::kExcludeBitrate, {quiet, real}));
    } else {
        inner.push_back(asf_test::exclusion(asf_test::kAdvancedMutex, asf_test::kExcludeLanguage,
                                            {real, quiet}));
    }
    objects.push_back(asf_test::headerExt(inner));
    Bytes out = asf_test::header(objects);
    out.insert(out.end(), file.begin() + long(asfbytes::HeaderEnd(file)), file.end());
    return media::WriteFile(
        std::string(how == Declared::kBitrateObjects ? "mbr-" : "mbr-lang-") + name, out);
}

struct ProbedStream {
    int index = -1;
    int rate = 0, channels = 0;
    long bitRate = -1;
};

// The audio stream ffprobe gives the highest bitrate.
ProbedStream Strongest(const std::string& path) {
    std::string text;
    media::Run(
        "ffprobe -v error -select_streams a -show_entries "
        "stream=index,sample_rate,channels,bit_rate -of csv=p=0 '" +
            path + "'",
        &text);
    ProbedStream best;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        ProbedStream s;
        char comma;
        std::istringstream(line) >> s.index >> comma >> s.rate >> comma >> s.channels >> comma >>
            s.bitRate;
        if (s.bitRate > best.bitRate) best = s;
    }
    return best;
}

std::vector<int16_t> FfmpegDecode(const std::string& path, int index) {
    std::string bytes;
    media::Run("ffmpeg -nostdin -v error -i '" + path + "' -map 0:" + std::to_string(index) +
                   " -f s16le -acodec pcm_s16le -",
               &bytes);
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// File information is that of the stream ffprobe rates highest, and the
// decode is ffmpeg's decode of that stream, to the file's duration.
void ExpectPlaysTheStrongestStream(const std::string& path) {
    SCOPED_TRACE(path);
    const ProbedStream best = Strongest(path);
    ASSERT_GE(best.index, 0);
    AudioFormatInfo info{};
    ASSERT_EQ(GetWmaFileInfo(path.c_str(), &info), 1);
    EXPECT_EQ(info.sampleRate, uint32_t(best.rate));
    EXPECT_EQ(info.channels, uint32_t(best.channels));
    EXPECT_EQ(info.durationMs, asfbytes::PlayingMs(media::ReadFile(path)));

    DecodeCollector& c = DecodeCollector::Instance();
    c.Reset();
    ASSERT_EQ(GoGoGoReader(path.c_str(), 0, 1, DecodeCollector::Callback), 1);
    ASSERT_TRUE(c.WaitForEnd());
    const std::vector<int16_t> pcm = c.Snapshot().pcm;
    std::vector<int16_t> reference = FfmpegDecode(path, best.index);
    const size_t end = size_t(std::ceil(info.durationMs / 1000.0 * info.sampleRate));
    reference.resize(std::min(reference.size(), end * info.channels));
    ASSERT_FALSE(reference.empty());
    ASSERT_NEAR(double(pcm.size()), double(reference.size()), 2.0 * info.channels);
    size_t differing = 0;
    for (size_t i = 0; i < std::min(pcm.size(), reference.size()); ++i)
        differing += std::abs(pcm[i] - reference[i]) > 1;
    EXPECT_EQ(differing, 0u);
}

class HeaderClass : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    }
};

TEST_F(HeaderClass, MutuallyExclusiveStreamsPlayTheirHighestBitrate) {
    for (const Declared how : {Declared::kBitrateObjects, Declared::kExtensionOnly})
        ExpectPlaysTheStrongestStream(MultipleBitrate("taglibsharp__sample.wma", how));
}

// An 88,902-byte picture, which goes to Metadata Library, makes the Header
// Extension 90 KB; the copy keeps the header and the first third of the data.
TEST_F(HeaderClass, AHeaderExtensionOver64KibOpensTruncatedOrWhole) {
    const asfbytes::Bytes file = media::ReadFile(DataPath("taglib__lossless.wma"));
    asf::Header header;
    ASSERT_TRUE(header.Parse(file.data(), file.size()));
    const Bytes picture(88902, 0x5A);
    ASSERT_TRUE(header.Set(u"WM/Picture", asf::AttrType::Binary, picture.data(), picture.size()));
    Bytes whole = header.Serialize();
    ASSERT_GT(whole.size(), 90000u);
    whole.insert(whole.end(), file.begin() + long(header.headerSize()), file.end());
    const size_t kept = size_t(asfbytes::HeaderEnd(whole)) + 50 +
                        size_t(header.dataPacketCount() / 3 * header.packetSize());
    const Bytes cut(whole.begin(), whole.begin() + long(kept));
    for (const auto& [name, bytes] : {std::pair{"big-header.wma", whole}, {"big-cut.wma", cut}}) {
        const std::string path = media::WriteFile(name, bytes);
        ExpectPlaysTheStrongestStream(path);
        SongInfo song{};
        EXPECT_EQ(GetWmaSongInfo(path.c_str(), &song), 1);
    }
}

}  // namespace
