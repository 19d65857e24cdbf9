// SPDX-License-Identifier: MIT
// Files from the real world (tests/data, MANIFEST.md: made by the platform's
// encoders and by taggers) and ffmpeg-made files of every catalogue format and
// of the other codecs the reader decodes in ASF, through the nine exports:
// information against the file's header and ffprobe, tags against ffprobe,
// whole decodes against ffmpeg's, decodes from a position against the whole
// decode, tag writes that keep everything else, protected and broken files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../unit/sdk_asf_builders.h"
#include "asf_bytes.h"
#include "decode_collector.h"
#include "media.h"
#include "mervane.h"

#ifndef MERVANE_TOOL
#define MERVANE_TOOL "mervane"
#endif

namespace {

using asfbytes::Bytes;

enum class Shows {
    kAudio,    // plays
    kNoAudio,  // opens, but holds no decodable audio (a header and a fragment)
    kRefused,  // a broken header: no information, no decode
};

struct RealFile {
    const char* name;
    Shows shows;
    uint32_t kbps;       // the bitrate GetWmaFileInfo reports
    uint32_t missingMs;  // how much shorter than the file's duration its audio is
    bool ffmpegDecodes;  // ffmpeg decodes every frame, so our PCM must equal its own
};

const RealFile kRealFiles[] = {
    {"taglib__lossless.wma", Shows::kAudio, 192, 0, true},
    {"taglib__real_example.wma", Shows::kNoAudio, 128, 0, false},
    {"taglibsharp__sample.wma", Shows::kAudio, 96, 0, true},
    {"jaudiotagger__test2.wma", Shows::kAudio, 128, 0, true},      // WMA 10 Pro
    {"musicmetadata__asf.wma", Shows::kAudio, 192, 242238, true},  // truncated
    {"musicmetadata__13_Thirty_Dirty_Birds.wma", Shows::kAudio, 128, 0, true},
    {"musicmetadata__issue_57.wma", Shows::kAudio, 128, 0, true},
    // With a video stream; its audio begins 387 ms into the file.
    {"musicmetadata__elephant.asf", Shows::kAudio, 0, 563, true},
    {"musicmetadata__CWE-835.wma", Shows::kRefused, 0, 0, false},
    // WMA Voice, its first seven seconds coded the WMA Pro way.
    {"atl__wma.wma", Shows::kAudio, 8, 0, false},
    {"atl__classes1_6.wma", Shows::kNoAudio, 326, 0, false},
    {"atl__xmp.wma", Shows::kAudio, 96, 0, true},
    {"atl__empty_full.wma", Shows::kAudio, 96, 0, true},
    {"tinytag__test2.wma", Shows::kNoAudio, 53, 0, false},
    {"tinytag__zero_value_properties.wma", Shows::kRefused, 0, 0, false},
    {"tinytag__invalid_object_size.wma", Shows::kRefused, 0, 0, false},
    {"tinytag__multiple_values_images.wma", Shows::kAudio, 128, 0, true},
    {"mediafile__full.wma", Shows::kRefused, 0, 0, false},
};

std::string DataPath(const char* name) {
    return std::string(MERVANE_TEST_DATA) + "/" + name;
}

struct Decoded : DecodeCollector::Result {
    bool started = false;
};

Decoded Decode(const std::string& path, uint32_t startMs) {
    DecodeCollector& c = DecodeCollector::Instance();
    c.Reset();
    Decoded d;
    d.started = GoGoGoReader(path.c_str(), startMs, 1, DecodeCollector::Callback) == 1;
    EXPECT_TRUE(!d.started || c.WaitForEnd()) << path << " from " << startMs << " ms";
    static_cast<DecodeCollector::Result&>(d) = c.Snapshot();
    return d;
}

// A file's whole decode, made once per file.
const Decoded& Whole(const std::string& path) {
    static std::map<std::string, Decoded> decodes;
    auto found = decodes.find(path);
    if (found == decodes.end()) found = decodes.emplace(path, Decode(path, 0)).first;
    return found->second;
}

AudioFormatInfo Info(const std::string& path) {
    AudioFormatInfo info{};
    EXPECT_EQ(GetWmaFileInfo(path.c_str(), &info), 1) << path;
    return info;
}

// Every block's time is that of its first sample, the decode's first being
// sample `first`: no jumps.
void ExpectTimesFollowSamples(const Decoded& d, const AudioFormatInfo& info, uint64_t first) {
    for (size_t i = 0; i < d.times.size(); ++i) {
        const uint64_t sample = first + d.starts[i] / info.channels;
        ASSERT_NEAR(double(d.times[i]), double(sample) * 1000.0 / info.sampleRate, 1.0)
            << "block " << i;
    }
}

// A decode from `startMs` begins with the sample at startMs and is the whole
// decode from there, within a millisecond. The same audio: WMA's noise
// substitution draws on a generator that runs through the whole file, so
// after a jump the noise-coded bands may differ; the rest is the same.
void ExpectStartLands(const std::string& path, uint32_t startMs) {
    SCOPED_TRACE("start at " + std::to_string(startMs) + " ms");
    const AudioFormatInfo info = Info(path);
    const size_t channels = info.channels;
    const std::vector<int16_t>& whole = Whole(path).pcm;
    const Decoded d = Decode(path, startMs);
    ASSERT_TRUE(d.started);
    EXPECT_EQ(d.endCalls, 1);
    const uint64_t first = (uint64_t(startMs) * info.sampleRate + 999) / 1000;
    if (first * channels >= whole.size()) {
        EXPECT_TRUE(d.times.empty()) << "a start past the end delivers nothing";
        return;
    }
    ASSERT_FALSE(d.times.empty());
    EXPECT_EQ(d.times.front(), startMs);
    ExpectTimesFollowSamples(d, info, first);
    EXPECT_EQ(d.pcm.size(), whole.size() - first * channels);
    // Where within a millisecond the audio matches best, and how well.
    const auto mismatch = [&](long shift, size_t count, double* energy) {
        double residual = 0;
        for (size_t i = 0, at = size_t(long(first) + shift) * channels;
             i < std::min(count, d.pcm.size()) && at + i < whole.size(); ++i) {
            residual += std::pow(d.pcm[i] - whole[at + i], 2);
            if (energy != nullptr) *energy += std::pow(whole[at + i], 2);
        }
        return residual;
    };
    const long slack = std::min<long>(long(info.sampleRate / 1000), long(first));
    long best = -slack;
    for (long shift = -slack; shift <= slack; ++shift)
        if (mismatch(shift, 4096 * channels, nullptr) < mismatch(best, 4096 * channels, nullptr))
            best = shift;
    double energy = 0;
    const double residual = mismatch(best, d.pcm.size(), &energy);
    EXPECT_LE(residual, 1e-3 * energy + double(d.pcm.size()))
        << "not the whole decode's audio, even " << best << " samples off";
}

// New tags in a copy of `path` change nothing else: every other header object
// byte for byte, everything after the header, the PCM.
void ExpectTagWriteKeepsTheRest(const std::string& path, bool decodes) {
    using namespace asfbytes;
    const std::string copy = media::Dir() + "/tagged-" + path.substr(path.rfind('/') + 1);
    ASSERT_EQ(media::Run("cp '" + path + "' '" + copy + "'"), 0);
    const Bytes before = media::ReadFile(copy);
    SongInfo song{}, back{};
    std::strcpy(song.title, "New title");
    std::strcpy(song.genreId, "12");
    ASSERT_EQ(SetWmaSongInfo(copy.c_str(), &song), 1);
    ASSERT_EQ(GetWmaSongInfo(copy.c_str(), &back), 1);
    EXPECT_STREQ(back.title, song.title);
    const Bytes after = media::ReadFile(copy);
    // Kept: all but the tag objects, padding, and File Properties' file size.
    const auto kept = [](const Bytes& file) {
        std::vector<Bytes> objects;
        for (const Object& o : HeaderObjects(file)) {
            if (o.id == kContentDesc || o.id == kExtContentDesc || o.id == kPadding) continue;
            for (const Object& inner : o.id == kHeaderExt ? ExtensionObjects(o) : std::vector{o}) {
                if (inner.id == kMetadata || inner.id == kMetadataLibrary || inner.id == kPadding)
                    continue;
                objects.push_back(inner.bytes);
                if (o.id == kFileProps) std::fill_n(objects.back().begin() + 40, 8, 0);
            }
        }
        return objects;
    };
    EXPECT_TRUE(kept(before) == kept(after)) << "every other header object is kept";
    EXPECT_TRUE(Bytes(before.begin() + long(HeaderEnd(before)), before.end()) ==
                Bytes(after.begin() + long(HeaderEnd(after)), after.end()));
    EXPECT_TRUE(!decodes || Decode(copy, 0).pcm == Whole(path).pcm) << "the audio is kept";
}

// Ours is ffmpeg's decode, which ours ends where the file's duration does.
void ExpectEqualsFfmpegs(const std::string& path, const Decoded& d, const AudioFormatInfo& info,
                         int stream = -1) {
    std::vector<int16_t> reference = media::DecodeWithFfmpeg(path, stream);
    const size_t end = size_t(std::ceil(info.durationMs / 1000.0 * info.sampleRate));
    reference.resize(std::min(reference.size(), end * info.channels));
    ASSERT_NEAR(double(d.pcm.size()), double(reference.size()), 2.0 * info.channels);
    size_t differing = 0;
    for (size_t i = 0; i < std::min(d.pcm.size(), reference.size()); ++i)
        differing += std::abs(d.pcm[i] - reference[i]) > 1;
    EXPECT_EQ(differing, 0u);
}

// The host tool's exit status, and what it said on stderr.
int RunTool(const std::string& arguments, std::string* said) {
    return media::Run(std::string("'") + MERVANE_TOOL + "' " + arguments + " 2>&1 >/dev/null",
                      said);
}

// `name` as the platform's encoders write a multiple-bitrate file, with our
// own header writer: a stream no packet carries (22,050 Hz mono, numbered 127)
// declared first at a lower bitrate, and the file's own stream declared only
// in Extended Stream Properties in the Header Extension, moved to the end. The
// two exclude each other by bitrate (Bitrate Mutual Exclusion, Stream Bitrate
// Properties) or by language (Advanced Mutual Exclusion, no bitrate object).
std::string MultipleBitrate(const char* name, bool byLanguage) {
    using namespace asf_test;
    const Bytes file = media::ReadFile(DataPath(name));
    Bytes stream;
    std::vector<Bytes> objects, inner;
    for (const asfbytes::Object& o : asfbytes::HeaderObjects(file)) {
        if (o.id == asfbytes::kHeaderExt) {
            for (const asfbytes::Object& e : asfbytes::ExtensionObjects(o))
                inner.push_back(e.bytes);
        } else if (o.id == asfbytes::kStreamProps) {
            stream = o.bytes;
        } else if (o.id != asfbytes::G("7BF875CE-468D-11D1-8D82-006097C9A2B2")) {
            objects.push_back(o.bytes);
        }
    }
    const uint16_t real = asfbytes::Le(stream, 72, 2) & 0x7F;
    inner.push_back(extStream(real, 96000, stream));
    objects.push_back(patched(audioStream(127, 2000), 80, cat({num(1, 2), num(22050, 4)})));
    if (byLanguage) {
        inner.push_back(exclusion(kAdvancedMutex, kExcludeLanguage, {real, 127}));
    } else {
        objects.push_back(object(
            kBitrates, cat({num(2, 2), num(127, 2), num(16000, 4), num(real, 2), num(96000, 4)})));
        objects.push_back(exclusion(kBitrateMutex, kExcludeBitrate, {127, real}));
    }
    objects.push_back(headerExt(inner));
    Bytes out = header(objects);
    out.insert(out.end(), file.begin() + long(asfbytes::HeaderEnd(file)), file.end());
    return media::WriteFile(std::string(byLanguage ? "mbr-language-" : "mbr-") + name, out);
}

// The audio stream ffprobe gives the highest bitrate: index, rate, channels.
std::array<long, 3> StrongestStream(const std::string& path) {
    std::string text;
    media::Run(
        "ffprobe -v error -select_streams a -show_entries "
        "stream=index,sample_rate,channels,bit_rate -of csv=p=0 '" +
            path + "'",
        &text);
    std::array<long, 3> best{-1, 0, 0};
    long bestRate = -1;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        long index = 0, rate = 0, channels = 0, bitRate = 0;
        char c;
        std::istringstream(line) >> index >> c >> rate >> c >> channels >> c >> bitRate;
        if (bitRate > bestRate) best = {index, rate, channels}, bestRate = bitRate;
    }
    return best;
}

class RealFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    }
};

TEST_F(RealFiles, InformationAndTagsAgreeWithTheHeaderAndFfprobeOrBrokenFilesAreRefused) {
    for (const RealFile& f : kRealFiles) {
        SCOPED_TRACE(f.name);
        const std::string path = DataPath(f.name);
        if (f.shows == Shows::kRefused) {
            AudioFormatInfo info{};
            SongInfo song{};
            EXPECT_EQ(GetWmaFileInfo(path.c_str(), &info), 0);
            const Decoded d = Decode(path, 0);
            EXPECT_FALSE(d.started || d.blocks || d.endCalls);
            GetWmaSongInfo(path.c_str(), &song);  // either way, without harm
            continue;
        }
        const AudioFormatInfo info = Info(path);
        const media::Probe probe = media::ProbeFile(path);
        EXPECT_EQ(info.sampleRate, uint32_t(probe.sampleRate));
        EXPECT_EQ(info.channels, uint32_t(probe.channels));
        EXPECT_EQ(info.durationMs, asfbytes::PlayingMs(media::ReadFile(path)));
        EXPECT_EQ(info.bitrateKbps, f.kbps);
        SongInfo song{};
        ASSERT_EQ(GetWmaSongInfo(path.c_str(), &song), 1);
        EXPECT_EQ(song.title + ("|" + std::string(song.author)) + "|" + song.album,
                  probe.title + "|" + probe.artist + "|" + probe.album);
    }
}

TEST_F(RealFiles, WholeDecodesEqualFfmpegsAndLastTheFile) {
    for (const RealFile& f : kRealFiles) {
        if (f.shows == Shows::kRefused) continue;
        SCOPED_TRACE(f.name);
        const std::string path = DataPath(f.name);
        const AudioFormatInfo info = Info(path);
        const Decoded& d = Whole(path);
        ASSERT_TRUE(d.started);
        EXPECT_EQ(d.endCalls, 1);
        ExpectTimesFollowSamples(d, info, 0);
        const double ms = double(d.pcm.size() / info.channels) * 1000.0 / info.sampleRate;
        EXPECT_NEAR(ms, f.shows == Shows::kNoAudio ? 0.0 : double(info.durationMs - f.missingMs),
                    60.0);
        if (f.ffmpegDecodes) ExpectEqualsFfmpegs(path, d, info);
    }
}

TEST_F(RealFiles, StartsLandWhereTheirTimesSay) {
    for (const RealFile& f : kRealFiles) {
        if (f.shows != Shows::kAudio) continue;
        SCOPED_TRACE(f.name);
        const std::string path = DataPath(f.name);
        const AudioFormatInfo info = Info(path);
        const uint32_t ms =
            uint32_t(Whole(path).pcm.size() / info.channels * 1000 / info.sampleRate);
        for (uint32_t start : {ms / 2 + 7, ms > 700 ? ms - 700 : 1, ms + 1000})
            ExpectStartLands(path, start);
    }
}

// Starts far into platform-made files (WMA Pro, WMA 9, Lossless) land as the
// whole decode does: at a few places, and at the first sample of the first
// frame each of two packets gives, in ffprobe's decode: the frame the packet
// before began and this one ends.
TEST_F(RealFiles, StartsFarIntoPlatformMadeFilesLandAsTheWholeDecode) {
    for (const char* name : {"jaudiotagger__test2.wma", "musicmetadata__13_Thirty_Dirty_Birds.wma",
                             "taglib__lossless.wma"}) {
        SCOPED_TRACE(name);
        const std::string path = DataPath(name);
        const AudioFormatInfo info = Info(path);
        std::string frames;
        ASSERT_EQ(media::Run("ffprobe -v error -select_streams a:0 -show_entries "
                             "frame=pkt_pos,nb_samples -of csv=p=0 '" +
                                 path + "'",
                             &frames),
                  0);
        std::vector<uint64_t> packetFirsts;  // the first sample of each packet's frames
        std::istringstream lines(frames);
        uint64_t decoded = 0;
        std::string line, lastPos;
        while (std::getline(lines, line)) {
            const std::string pos = line.substr(0, line.find(','));
            if (pos != lastPos) packetFirsts.push_back(decoded);
            lastPos = pos;
            decoded += std::stoull(line.substr(line.find(',') + 1));
        }
        ASSERT_GT(packetFirsts.size(), 6u);
        const uint32_t ms = uint32_t(decoded * 1000 / info.sampleRate);
        std::vector<uint32_t> starts = {ms / 3 + 11, ms * 4 / 5};
        for (size_t at : {packetFirsts.size() / 2, packetFirsts.size() - 3}) {
            // The first millisecond at or after the frame's start.
            starts.push_back(
                uint32_t((packetFirsts[at] * 1000 + info.sampleRate - 1) / info.sampleRate));
        }
        for (uint32_t start : starts) ExpectStartLands(path, start);
    }
}

TEST_F(RealFiles, TagWritesKeepEverythingElse) {
    for (const RealFile& f : kRealFiles) {
        SCOPED_TRACE(f.name);
        if (f.shows != Shows::kRefused)
            ExpectTagWriteKeepsTheRest(DataPath(f.name), f.shows == Shows::kAudio);
    }
}

TEST_F(RealFiles, TheToolWarnsOfATruncatedFileAndFailsOnOneWithoutAudio) {
    const std::string wav = media::Dir() + "/tool-out.wav";
    std::string said;
    EXPECT_EQ(RunTool("decode '" + DataPath("musicmetadata__asf.wma") + "' '" + wav + "'", &said),
              0);
    EXPECT_NE(said.find("warning"), std::string::npos) << said;
    EXPECT_EQ(RunTool("decode '" + DataPath("tinytag__test2.wma") + "' '" + wav + "'", &said), 1);
    EXPECT_NE(said.find("no audio"), std::string::npos) << said;
    EXPECT_NE(access(wav.c_str(), F_OK), 0) << "no empty WAV is left";
}

TEST_F(RealFiles, ProtectedFilesAreRefusedForPlaybackYetKeepTheirTags) {
    const Bytes plain = media::ReadFile(media::MakeWma(
        "unprotected.wma", "sine=frequency=440:duration=1", "-metadata title=Locked"));
    for (int how = 0; how < 3; ++how) {
        const std::string path =
            media::WriteFile("protected" + std::to_string(how) + ".wma",
                             asfbytes::Protect(plain, asfbytes::Protection(how)));
        SCOPED_TRACE(path);
        AudioFormatInfo info{};
        SongInfo song{};
        EXPECT_EQ(GetWmaFileInfo(path.c_str(), &info), 0);
        EXPECT_FALSE(Decode(path, 0).started);
        ASSERT_EQ(GetWmaSongInfo(path.c_str(), &song), 1);
        EXPECT_STREQ(song.title, "Locked");
        ExpectTagWriteKeepsTheRest(path, false);
        std::string said;
        EXPECT_EQ(RunTool("decode '" + path + "' '" + media::Dir() + "/locked.wav'", &said), 1);
        EXPECT_NE(said.find("protected"), std::string::npos) << said;
    }
}

TEST_F(RealFiles, AFileWhoseFirstStreamIsVideoIsRefusedAsItsQueryIs) {
    const std::string path = media::MakeWithFfmpeg(
        "video-first.asf",
        "-f lavfi -i testsrc=size=64x48:rate=5:d=2 -f lavfi -i sine=d=2 -map 0:v -map 1:a "
        "-c:v msmpeg4v3 -c:a wmav2 -f asf");
    AudioFormatInfo info{};
    EXPECT_EQ(GetWmaFileInfo(path.c_str(), &info), 0);
    const Decoded d = Decode(path, 0);
    EXPECT_FALSE(d.started || d.blocks);
}

// Every catalogue format (what EnumWMAFormat lists) and the other codecs the
// reader decodes in ASF, speech codecs among them, as ffmpeg makes them.
TEST_F(RealFiles, StartsLandOnEveryCatalogueFormatAndCodec) {
    static std::vector<std::string> codecs = {
        "wmav1 -ar 44100 -ac 2 -b:a 128k", "libmp3lame -ar 44100 -ac 2 -b:a 128k",
        "libgsm_ms -ar 8000 -ac 1",        "g726 -ar 8000 -ac 1 -b:a 32k",
        "adpcm_ms -ar 22050 -ac 2",        "pcm_s16le -ar 16000 -ac 1"};
    EnumWMAFormat([](uint32_t bitrate, uint32_t channels, uint32_t rate) -> int32_t {
        codecs.push_back("wmav2 -ar " + std::to_string(rate) + " -ac " + std::to_string(channels) +
                         " -b:a " + std::to_string(bitrate));
        return 0;
    });
    for (size_t i = 0; i < codecs.size(); ++i) {
        // Noise under a sweep, 10 s: no stretch of it repeats another.
        const std::string path = media::MakeWithFfmpeg(
            "made" + std::to_string(i) + ".asf",
            "-f lavfi -i 'anoisesrc=d=10:c=pink:a=0.2:seed=" + std::to_string(i + 1) +
                "' -f lavfi -i 'aevalsrc=0.4*sin(2*PI*(200+300*t)*t):d=10' "
                "-filter_complex amix=inputs=2 -c:a " +
                codecs[i] + " -f asf");
        SCOPED_TRACE(codecs[i]);
        ASSERT_FALSE(path.empty());
        ExpectEqualsFfmpegs(path, Whole(path), Info(path));
        for (uint32_t start : {5003u, 9300u, 11000u}) ExpectStartLands(path, start);
    }
}

// Information and decode are those of the stream ffprobe rates highest.
TEST_F(RealFiles, MutuallyExclusiveStreamsPlayTheirHighestBitrate) {
    for (const bool byLanguage : {false, true}) {
        const std::string path = MultipleBitrate("taglibsharp__sample.wma", byLanguage);
        SCOPED_TRACE(path);
        const std::array<long, 3> best = StrongestStream(path);
        const AudioFormatInfo info = Info(path);
        EXPECT_EQ(info.sampleRate, uint32_t(best[1]));
        EXPECT_EQ(info.channels, uint32_t(best[2]));
        EXPECT_EQ(info.durationMs, asfbytes::PlayingMs(media::ReadFile(path)));
        ExpectEqualsFfmpegs(path, Whole(path), info, int(best[0]));
    }
}

// An 88,902-byte picture (in Metadata Library, by our header writer) makes the
// Header Extension 90 KB; whole, and cut to its header and a third of its data.
TEST_F(RealFiles, AHeaderExtensionOver64KibOpensWholeOrTruncated) {
    const Bytes file = media::ReadFile(DataPath("taglib__lossless.wma"));
    asf::Header header;
    ASSERT_TRUE(header.Parse(file.data(), file.size()));
    const Bytes picture(88902, 0x5A);
    ASSERT_TRUE(header.Set(u"WM/Picture", wm::WMT_TYPE_BINARY, picture.data(), picture.size()));
    Bytes whole = header.Serialize();
    ASSERT_GT(whole.size(), 90000u);
    const asf::FileProperties& props = header.properties();
    const size_t cut = whole.size() + 50 + props.dataPacketCount / 3 * props.maxPacketSize;
    whole.insert(whole.end(), file.begin() + long(header.headerSize()), file.end());
    for (const size_t size : {whole.size(), cut}) {
        const std::string path = media::WriteFile("big-header-" + std::to_string(size) + ".wma",
                                                  Bytes(whole.begin(), whole.begin() + long(size)));
        const AudioFormatInfo info = Info(path);
        const media::Probe probe = media::ProbeFile(path);
        EXPECT_EQ(info.sampleRate, uint32_t(probe.sampleRate));
        EXPECT_EQ(info.channels, uint32_t(probe.channels));
        EXPECT_EQ(info.durationMs, asfbytes::PlayingMs(whole));
        ExpectEqualsFfmpegs(path, Whole(path), info);
    }
}

}  // namespace
