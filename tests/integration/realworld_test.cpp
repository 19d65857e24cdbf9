// Files from the real world (tests/data, MANIFEST.md: made by the platform's
// encoders and by taggers) and ffmpeg-made files of every catalogue format and
// of the other codecs the reader decodes in ASF, through the nine exports:
// information against the file's header and ffprobe, tags against ffprobe,
// whole decodes against ffmpeg's, decodes from a position against the whole
// decode, tag writes that keep everything else, protected and broken files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "asf_bytes.h"
#include "decode_collector.h"
#include "media.h"
#include "mervane.h"

#ifndef MERVANE_TOOL
#define MERVANE_TOOL "mervane"
#endif

namespace {

using asfbytes::Bytes;

#define REQUIRE_FFMPEG() \
    if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed"

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

struct Decoded {
    bool started = false;
    std::vector<int16_t> pcm;
    std::vector<uint32_t> times;
    std::vector<size_t> starts;
    int endCalls = 0;
};

Decoded Decode(const std::string& path, uint32_t startMs) {
    DecodeCollector& c = DecodeCollector::Instance();
    c.Reset();
    Decoded d;
    d.started = GoGoGoReader(path.c_str(), startMs, 1, DecodeCollector::Callback) == 1;
    if (d.started) {
        EXPECT_TRUE(c.WaitForEnd()) << path << " from " << startMs << " ms";
    }
    DecodeCollector::Result r = c.Snapshot();
    d.pcm = std::move(r.pcm);
    d.times = std::move(r.times);
    d.starts = std::move(r.starts);
    d.endCalls = r.endCalls;
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

// Every block's time is the time of its first sample, `first` being the
// sample the decode began with; no time jumps.
void ExpectTimesFollowSamples(const Decoded& d, uint32_t rate, int channels, uint64_t first) {
    for (size_t i = 0; i < d.times.size(); ++i) {
        const uint64_t sample = first + d.starts[i] / size_t(channels);
        const double ms = double(sample) * 1000.0 / rate;
        ASSERT_NEAR(double(d.times[i]), ms, 1.0) << "block " << i << " of " << d.times.size();
    }
}

// A decode from `startMs`: its first sample is the one at startMs, and its
// audio is the whole decode's from there, within a millisecond.
void ExpectStartLands(const std::string& path, uint32_t startMs) {
    SCOPED_TRACE("start at " + std::to_string(startMs) + " ms");
    const AudioFormatInfo info = Info(path);
    const int channels = int(info.channels);
    const Decoded& whole = Whole(path);
    const Decoded d = Decode(path, startMs);
    ASSERT_TRUE(d.started);
    EXPECT_EQ(d.endCalls, 1);
    const uint64_t first = (uint64_t(startMs) * info.sampleRate + 999) / 1000;
    const size_t wholeFrames = whole.pcm.size() / size_t(channels);
    if (first >= wholeFrames) {
        EXPECT_TRUE(d.times.empty()) << "a start past the end delivers nothing";
        return;
    }
    ASSERT_FALSE(d.times.empty());
    EXPECT_EQ(d.times.front(), startMs);
    ExpectTimesFollowSamples(d, info.sampleRate, channels, first);
    EXPECT_EQ(d.pcm.size(), whole.pcm.size() - first * size_t(channels));

    const long slack = long(info.sampleRate / 1000);
    const size_t window = std::min<size_t>(d.pcm.size(), 4096 * size_t(channels));
    long best = 0;
    double bestError = -1;
    for (long shift = -slack; shift <= slack; ++shift) {
        const long at = (long(first) + shift) * channels;
        if (at < 0 || size_t(at) + window > whole.pcm.size()) continue;
        double error = 0;
        for (size_t i = 0; i < window; ++i) error += std::abs(d.pcm[i] - whole.pcm[size_t(at) + i]);
        if (bestError < 0 || error < bestError) {
            bestError = error;
            best = shift;
        }
    }
    // The same audio: WMA's noise substitution draws on a generator that runs
    // through the whole file, so where a decode did not begin at the start,
    // the noise-coded bands may differ; the rest is the same.
    const size_t at = size_t(long(first) + best) * size_t(channels);
    double residual = 0;
    double energy = 0;
    for (size_t i = 0; i < d.pcm.size() && at + i < whole.pcm.size(); ++i) {
        const double difference = d.pcm[i] - whole.pcm[at + i];
        residual += difference * difference;
        energy += double(whole.pcm[at + i]) * whole.pcm[at + i];
    }
    EXPECT_LE(residual, 1e-3 * energy + double(d.pcm.size()))
        << "the audio is not the whole decode's from " << best << " samples off";
}

// Writes new tags into a copy of `path` and checks that nothing else changed:
// every other header object byte for byte, everything after the header, the
// PCM.
void ExpectTagWriteKeepsTheRest(const std::string& path, bool decodes) {
    using namespace asfbytes;
    const std::string copy = media::Dir() + "/tagged-" + path.substr(path.rfind('/') + 1);
    ASSERT_EQ(media::Run("cp '" + path + "' '" + copy + "'"), 0);
    const Bytes before = media::ReadFile(copy);
    SongInfo song{};
    std::strcpy(song.title, "New title");
    std::strcpy(song.author, "New author");
    std::strcpy(song.album, "New album");
    std::strcpy(song.year, "2026");
    std::strcpy(song.track, "3");
    std::strcpy(song.genreId, "12");
    ASSERT_EQ(SetWmaSongInfo(copy.c_str(), &song), 1);
    SongInfo back{};
    ASSERT_EQ(GetWmaSongInfo(copy.c_str(), &back), 1);
    EXPECT_STREQ(back.title, song.title);
    EXPECT_STREQ(back.genreId, song.genreId);

    const Bytes after = media::ReadFile(copy);
    // What a tag write may change: the tag objects, padding, and the file
    // size in File Properties.
    const auto kept = [](const Bytes& file) {
        std::vector<Bytes> objects;
        for (const Object& o : HeaderObjects(file)) {
            if (o.id == kContentDesc || o.id == kExtContentDesc || o.id == kPadding) continue;
            if (o.id == kHeaderExt) {
                for (const Object& inner : ExtensionObjects(o)) {
                    if (inner.id != kMetadata && inner.id != kMetadataLibrary &&
                        inner.id != kPadding)
                        objects.push_back(inner.bytes);
                }
                continue;
            }
            Bytes bytes = o.bytes;
            if (o.id == kFileProps) std::fill(bytes.begin() + 40, bytes.begin() + 48, 0);
            objects.push_back(bytes);
        }
        return objects;
    };
    EXPECT_TRUE(kept(before) == kept(after)) << "every other header object is kept";
    EXPECT_TRUE(Bytes(before.begin() + long(HeaderEnd(before)), before.end()) ==
                Bytes(after.begin() + long(HeaderEnd(after)), after.end()))
        << "everything after the header is kept";
    if (decodes) {
        EXPECT_TRUE(Decode(copy, 0).pcm == Whole(path).pcm) << "the audio is kept";
    }
}

// The whole decode is ffmpeg's, which ours ends where the file's duration does.
void ExpectEqualsFfmpegs(const std::string& path, const Decoded& d, const AudioFormatInfo& info) {
    std::vector<int16_t> reference = media::DecodeWithFfmpeg(path);
    const size_t end = size_t(std::ceil(info.durationMs / 1000.0 * info.sampleRate));
    reference.resize(std::min(reference.size(), end * info.channels));
    ASSERT_NEAR(double(d.pcm.size()), double(reference.size()), 2.0 * info.channels);
    size_t differing = 0;
    for (size_t i = 0; i < std::min(d.pcm.size(), reference.size()); ++i)
        differing += std::abs(d.pcm[i] - reference[i]) > 1;
    EXPECT_EQ(differing, 0u);
}

class RealFiles : public ::testing::Test {
  protected:
    void SetUp() override { DecodeCollector::Instance().Reset(); }
};

TEST_F(RealFiles, InformationAndTagsAgreeWithTheHeaderAndFfprobe) {
    REQUIRE_FFMPEG();
    for (const RealFile& f : kRealFiles) {
        if (f.shows == Shows::kRefused) continue;
        SCOPED_TRACE(f.name);
        const std::string path = DataPath(f.name);
        const AudioFormatInfo info = Info(path);
        const media::Probe probe = media::ProbeFile(path);
        EXPECT_EQ(info.sampleRate, uint32_t(probe.sampleRate));
        EXPECT_EQ(info.channels, uint32_t(probe.channels));
        EXPECT_EQ(info.durationMs, asfbytes::PlayingMs(media::ReadFile(path)));
        EXPECT_EQ(info.bitrateKbps, f.kbps);
        SongInfo song{};
        ASSERT_EQ(GetWmaSongInfo(path.c_str(), &song), 1);
        EXPECT_EQ(song.title, probe.title);
        EXPECT_EQ(song.author, probe.artist);
        EXPECT_EQ(song.album, probe.album);
    }
}

TEST_F(RealFiles, WholeDecodesEqualFfmpegsAndLastTheFile) {
    REQUIRE_FFMPEG();
    for (const RealFile& f : kRealFiles) {
        if (f.shows == Shows::kRefused) continue;
        SCOPED_TRACE(f.name);
        const std::string path = DataPath(f.name);
        const AudioFormatInfo info = Info(path);
        const Decoded& d = Whole(path);
        ASSERT_TRUE(d.started);
        EXPECT_EQ(d.endCalls, 1);
        ExpectTimesFollowSamples(d, info.sampleRate, int(info.channels), 0);
        const double ms = double(d.pcm.size() / info.channels) * 1000.0 / info.sampleRate;
        if (f.shows == Shows::kNoAudio) {
            EXPECT_TRUE(d.pcm.empty());
        } else {
            EXPECT_NEAR(ms, double(info.durationMs - f.missingMs), 60.0);
        }
        if (f.ffmpegDecodes) ExpectEqualsFfmpegs(path, d, info);
    }
}

TEST_F(RealFiles, StartsLandWhereTheirTimesSay) {
    REQUIRE_FFMPEG();
    for (const RealFile& f : kRealFiles) {
        if (f.shows == Shows::kRefused || f.shows == Shows::kNoAudio) continue;
        SCOPED_TRACE(f.name);
        const std::string path = DataPath(f.name);
        const AudioFormatInfo info = Info(path);
        const uint32_t length =
            uint32_t(Whole(path).pcm.size() / info.channels * 1000 / info.sampleRate);
        for (uint32_t start : {length / 2 + 7, length > 700 ? length - 700 : 1, length + 1000})
            ExpectStartLands(path, start);
    }
}

TEST_F(RealFiles, TagWritesKeepEverythingElse) {
    REQUIRE_FFMPEG();
    for (const RealFile& f : kRealFiles) {
        if (f.shows == Shows::kRefused) continue;
        SCOPED_TRACE(f.name);
        ExpectTagWriteKeepsTheRest(DataPath(f.name), f.shows != Shows::kNoAudio);
    }
}

TEST_F(RealFiles, BrokenFilesAreRefused) {
    for (const RealFile& f : kRealFiles) {
        if (f.shows != Shows::kRefused) continue;
        SCOPED_TRACE(f.name);
        const std::string path = DataPath(f.name);
        AudioFormatInfo info{};
        EXPECT_EQ(GetWmaFileInfo(path.c_str(), &info), 0);
        const Decoded d = Decode(path, 0);
        EXPECT_FALSE(d.started);
        EXPECT_TRUE(d.times.empty() && d.endCalls == 0);
        SongInfo song{};
        GetWmaSongInfo(path.c_str(), &song);  // either way, without harm
    }
}

// Runs the host tool; returns its exit status and what it said on stderr.
int RunTool(const std::string& arguments, std::string* said) {
    return media::Run(std::string("'") + MERVANE_TOOL + "' " + arguments + " 2>&1 >/dev/null",
                      said);
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
    REQUIRE_FFMPEG();
    const Bytes plain = media::ReadFile(media::MakeWma(
        "unprotected.wma", "sine=frequency=440:duration=1", "-metadata title=Locked"));
    using asfbytes::Protection;
    for (Protection how : {Protection::kStreamFlag, Protection::kEncryptionObject,
                           Protection::kExtEncryptionObject}) {
        const std::string path = media::WriteFile("protected" + std::to_string(int(how)) + ".wma",
                                                  asfbytes::Protect(plain, how));
        SCOPED_TRACE(path);
        AudioFormatInfo info{};
        EXPECT_EQ(GetWmaFileInfo(path.c_str(), &info), 0);
        EXPECT_FALSE(Decode(path, 0).started);
        SongInfo song{};
        ASSERT_EQ(GetWmaSongInfo(path.c_str(), &song), 1);
        EXPECT_STREQ(song.title, "Locked");
        ExpectTagWriteKeepsTheRest(path, false);
        std::string said;
        EXPECT_EQ(RunTool("decode '" + path + "' '" + media::Dir() + "/locked.wav'", &said), 1);
        EXPECT_NE(said.find("protected"), std::string::npos) << said;
    }
}

TEST_F(RealFiles, AFileWhoseFirstStreamIsVideoIsRefusedAsItsQueryIs) {
    REQUIRE_FFMPEG();
    const std::string path = media::MakeWithFfmpeg(
        "video-first.asf",
        "-f lavfi -i testsrc=size=64x48:rate=5:d=2 -f lavfi -i sine=d=2 -map 0:v -map 1:a "
        "-c:v msmpeg4v3 -c:a wmav2 -f asf");
    ASSERT_FALSE(path.empty());
    AudioFormatInfo info{};
    EXPECT_EQ(GetWmaFileInfo(path.c_str(), &info), 0);
    const Decoded d = Decode(path, 0);
    EXPECT_FALSE(d.started);
    EXPECT_TRUE(d.times.empty());
}

// ---- ffmpeg-made files: every catalogue format and the other codecs -----------------------

std::vector<std::string> MadeFiles() {
    std::vector<std::string> args;
    static std::vector<std::string>* formats = nullptr;
    std::vector<std::string> catalogue;
    formats = &catalogue;
    EnumWMAFormat([](uint32_t bitrate, uint32_t channels, uint32_t rate) -> int32_t {
        formats->push_back("-c:a wmav2 -ar " + std::to_string(rate) + " -ac " +
                           std::to_string(channels) + " -b:a " + std::to_string(bitrate));
        return 0;
    });
    formats = nullptr;
    catalogue.insert(catalogue.end(), {
                                          "-c:a wmav1 -ar 44100 -ac 2 -b:a 128k",
                                          "-c:a libmp3lame -ar 44100 -ac 2 -b:a 128k",
                                          "-c:a libgsm_ms -ar 8000 -ac 1",
                                          "-c:a g726 -ar 8000 -ac 1 -b:a 32k",
                                          "-c:a adpcm_ms -ar 22050 -ac 2",
                                          "-c:a pcm_s16le -ar 16000 -ac 1",
                                      });
    std::vector<std::string> paths;
    for (size_t i = 0; i < catalogue.size(); ++i) {
        // Noise under a sweep: no stretch of it repeats another.
        paths.push_back(media::MakeWithFfmpeg(
            "made" + std::to_string(i) + ".asf",
            "-f lavfi -i 'anoisesrc=d=10:c=pink:a=0.2:seed=" + std::to_string(i + 1) +
                "' -f lavfi -i 'aevalsrc=0.4*sin(2*PI*(200+300*t)*t):d=10' "
                "-filter_complex amix=inputs=2 " +
                catalogue[i] + " -f asf"));
    }
    return paths;
}

TEST_F(RealFiles, StartsLandOnEveryCatalogueFormatAndCodec) {
    REQUIRE_FFMPEG();
    for (const std::string& path : MadeFiles()) {
        SCOPED_TRACE(path);
        ASSERT_FALSE(path.empty());
        ExpectEqualsFfmpegs(path, Whole(path), Info(path));
        for (uint32_t start : {5003u, 9300u, 11000u}) ExpectStartLands(path, start);
    }
}

}  // namespace
