// SPDX-License-Identifier: MIT
// The FFmpeg-backed WMA 2 encoder and its codec catalogue, checked against
// FFmpeg's encoder and against what Debian's ffprobe/ffmpeg read back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "asf/asf_header.h"
#include "asf/header_journal.h"
#include "encode/codec_catalog.h"
#include "encode/wma_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace {

using Bytes = std::vector<uint8_t>;
constexpr double kPi = 3.14159265358979323846;

uint64_t Le(const uint8_t* p, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool HaveTool(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

Bytes RunCapture(const std::string& cmd) {
    Bytes out;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.insert(out.end(), buf, buf + n);
    pclose(p);
    return out;
}

std::map<std::string, std::string> Probe(const std::string& path) {
    const Bytes text = RunCapture(
        "ffprobe -v error -show_entries "
        "stream=codec_name,sample_rate,channels,bit_rate:format=duration "
        "-of default=noprint_wrappers=1 '" +
        path + "'");
    std::map<std::string, std::string> fields;
    std::istringstream lines(std::string(text.begin(), text.end()));
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

std::vector<int16_t> DecodeS16(const std::string& path, int channels) {
    const Bytes raw = RunCapture("ffmpeg -v error -i '" + path + "' -f s16le -ac " +
                                 std::to_string(channels) + " -");
    std::vector<int16_t> pcm(raw.size() / 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(Le(&raw[2 * i], 2));
    return pcm;
}

// The top-level layout of an ASF file as far as these tests need it.
struct AsfLayout {
    bool ok = false;
    Bytes waveFormat;  // Stream Properties type-specific data
    uint64_t fileSizeField = 0, packetCount = 0, playDuration = 0, preroll = 0;
    uint32_t flags = 0, packetSize = 0;
    uint64_t dataOffset = 0, dataSize = 0;
    // Index Object after the Data object.
    bool hasIndex = false;
    uint32_t indexInterval = 0;
    uint16_t indexStream = 0, indexType = 0;
    std::vector<uint64_t> indexOffsets;
};

const uint8_t kFileProps[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const uint8_t kStreamProps[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const uint8_t kIndex[16] = {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,
                            0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE};

AsfLayout ParseAsf(const Bytes& f) {
    AsfLayout a;
    if (f.size() < 30) return a;
    const uint64_t headerSize = Le(&f[16], 8);
    if (headerSize > f.size()) return a;
    for (uint64_t at = 30; at + 24 <= headerSize;) {
        const uint8_t* o = &f[at];
        const uint64_t size = Le(o + 16, 8);
        if (size < 24 || at + size > headerSize) return a;
        if (std::memcmp(o, kFileProps, 16) == 0) {
            a.fileSizeField = Le(o + 40, 8);
            a.packetCount = Le(o + 56, 8);
            a.playDuration = Le(o + 64, 8);
            a.preroll = Le(o + 80, 8);
            a.flags = static_cast<uint32_t>(Le(o + 88, 4));
            a.packetSize = static_cast<uint32_t>(Le(o + 92, 4));
        } else if (std::memcmp(o, kStreamProps, 16) == 0) {
            const uint64_t len = Le(o + 64, 4);
            a.waveFormat.assign(o + 78, o + 78 + len);
        }
        at += size;
    }
    if (headerSize + 50 > f.size()) return a;
    a.dataOffset = headerSize;
    a.dataSize = Le(&f[headerSize + 16], 8);
    const uint64_t idx = headerSize + a.dataSize;
    if (idx + 34 <= f.size() && std::memcmp(&f[idx], kIndex, 16) == 0) {
        const uint8_t* o = &f[idx];
        a.hasIndex = true;
        a.indexInterval = static_cast<uint32_t>(Le(o + 24, 4));
        const uint64_t specifiers = Le(o + 28, 2), blocks = Le(o + 30, 4);
        a.indexStream = static_cast<uint16_t>(Le(o + 34, 2));
        a.indexType = static_cast<uint16_t>(Le(o + 36, 2));
        uint64_t at = 34 + 4 * specifiers;
        for (uint64_t b = 0; b < blocks && specifiers == 1; ++b) {
            if (idx + at + 12 > f.size()) return a;
            const uint64_t count = Le(o + at, 4), base = Le(o + at + 4, 8);
            if (idx + at + 12 + 4 * count > f.size()) return a;
            at += 12;
            for (uint64_t i = 0; i < count; ++i, at += 4)
                a.indexOffsets.push_back(base + Le(o + at, 4));
        }
        if (at != Le(o + 16, 8) || idx + at != f.size()) return a;
    }
    a.ok = true;
    return a;
}

// Send time (ms, preroll excluded) of data packet `n`.
uint32_t PacketSendTime(const Bytes& f, const AsfLayout& a, uint64_t n) {
    const uint8_t* p = &f[a.dataOffset + 50 + n * a.packetSize];
    size_t at = (p[0] & 0x80) ? 1 + (p[0] & 0x0F) : 0;  // error correction data
    const uint8_t lengthFlags = p[at];
    at += 2;
    const int sizes[4] = {0, 1, 2, 4};
    at += sizes[(lengthFlags >> 5) & 3] + sizes[(lengthFlags >> 1) & 3] +
          sizes[(lengthFlags >> 3) & 3];
    return static_cast<uint32_t>(Le(p + at, 4));
}

class TempDir {
  public:
    TempDir() {
        char templ[] = "/tmp/sdk_wma_encoder_XXXXXX";
        if (mkdtemp(templ) != nullptr) path_ = templ;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::vector<int16_t> Sine(uint32_t rate, int channels, size_t frames, double hz) {
    std::vector<int16_t> pcm(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            pcm[i * channels + c] = static_cast<int16_t>(
                std::lround(16384 * std::sin(2 * kPi * hz * (c + 1) * i / rate)));
        }
    }
    return pcm;
}

ffsdk::Result Encode(const std::string& path, const uint8_t* format,
                     const std::vector<int16_t>& pcm, int channels, size_t chunk) {
    ffsdk::WmaFileEncoder enc;
    ffsdk::Result result = enc.Open(path.c_str(), format, ffsdk::kWmaV2FormatSize);
    const size_t frames = pcm.size() / channels;
    for (size_t at = 0; result.ok() && at < frames; at += chunk) {
        result = enc.Write(pcm.data() + at * channels, std::min(chunk, frames - at));
    }
    return result.ok() ? enc.Finish() : result;
}

TEST(WmaCatalog, MatchesWhatTheEncoderProduces) {
    ASSERT_EQ(ffsdk::WmaCatalogCount(), 17u);
    const struct {
        uint32_t rate;
        uint16_t channels;
        uint32_t bitrate;
    } order[] = {{48000, 2, 192000}, {48000, 2, 160000}, {48000, 2, 128000}, {44100, 2, 192000},
                 {44100, 2, 160000}, {44100, 2, 128000}, {44100, 2, 96000},  {44100, 2, 80000},
                 {44100, 2, 64000},  {44100, 2, 48000},  {44100, 2, 32000},  {44100, 1, 48000},
                 {44100, 1, 32000},  {32000, 2, 48000},  {32000, 2, 40000},  {32000, 2, 32000},
                 {22050, 2, 32000}};
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    ASSERT_NE(codec, nullptr);
    for (size_t i = 0; i < ffsdk::WmaCatalogCount(); ++i) {
        SCOPED_TRACE(i);
        const ffsdk::WmaCatalogEntry* e = ffsdk::WmaCatalogAt(i);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->sampleRate, order[i].rate);
        EXPECT_EQ(e->channels, order[i].channels);
        EXPECT_EQ(e->bitrate, order[i].bitrate);
        wm::WaveFormat wf;
        ASSERT_TRUE(wm::ReadWholeWaveFormat(e->format, ffsdk::kWmaV2FormatSize, &wf));
        EXPECT_EQ(wf.formatTag, 0x0161);
        EXPECT_EQ(wf.channels, e->channels);
        EXPECT_EQ(wf.samplesPerSec, e->sampleRate);
        EXPECT_EQ(wf.avgBytesPerSec, e->bitrate / 8);
        EXPECT_EQ(wf.bitsPerSample, 16);
        EXPECT_EQ(ffsdk::WmaCatalogFind(e->format, ffsdk::kWmaV2FormatSize), static_cast<int>(i));

        AVCodecContext* c = avcodec_alloc_context3(codec);
        c->sample_rate = static_cast<int>(e->sampleRate);
        av_channel_layout_default(&c->ch_layout, e->channels);
        c->bit_rate = e->bitrate;
        c->sample_fmt = AV_SAMPLE_FMT_FLTP;
        ASSERT_EQ(avcodec_open2(c, codec, nullptr), 0);
        EXPECT_EQ(wf.blockAlign, c->block_align);
        ASSERT_EQ(wf.cbSize, c->extradata_size);
        EXPECT_EQ(Bytes(wf.extra, wf.extra + wf.cbSize),
                  Bytes(c->extradata, c->extradata + c->extradata_size));
        avcodec_free_context(&c);
    }
    EXPECT_EQ(ffsdk::WmaCatalogAt(ffsdk::WmaCatalogCount()), nullptr);
    // Spot check against bytes measured in a file Debian's ffmpeg wrote.
    const Bytes cli = {0x61, 0x01, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x80, 0x3E,
                       0x00, 0x00, 0xE7, 0x02, 0x10, 0x00, 0x0A, 0x00, 0x00, 0x00,
                       0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(ffsdk::WmaCatalogFind(cli.data(), cli.size()), 5);
}

// Every catalogue format encodes; the file holds the catalogue's WAVEFORMATEX,
// a correct play duration and preroll, and a seek index; ffprobe agrees.
TEST(WmaFileEncoder, EveryCatalogueFormatEncodes) {
    TempDir dir;
    const bool probe = HaveTool("ffprobe");
    for (size_t i = 0; i < ffsdk::WmaCatalogCount(); ++i) {
        SCOPED_TRACE(i);
        const ffsdk::WmaCatalogEntry* e = ffsdk::WmaCatalogAt(i);
        const size_t frames = e->sampleRate / 2;
        const std::string path = dir.file("entry" + std::to_string(i) + ".wma");
        ASSERT_TRUE(Encode(path, e->format, Sine(e->sampleRate, e->channels, frames, 1000),
                           e->channels, 4096));

        const Bytes file = ReadFile(path);
        const AsfLayout a = ParseAsf(file);
        ASSERT_TRUE(a.ok);
        EXPECT_EQ(a.waveFormat, Bytes(e->format, e->format + ffsdk::kWmaV2FormatSize));
        EXPECT_EQ(a.preroll, 3100u);
        EXPECT_EQ(a.playDuration, (500 + 3100) * 10000u);  // 0.5 s is a whole millisecond
        EXPECT_EQ(a.flags & 2, 2u);                        // seekable
        EXPECT_EQ(a.fileSizeField, file.size());
        EXPECT_TRUE(a.hasIndex);

        if (!probe) continue;
        auto p = Probe(path);
        EXPECT_EQ(p["codec_name"], "wmav2");
        EXPECT_EQ(p["sample_rate"], std::to_string(e->sampleRate));
        EXPECT_EQ(p["channels"], std::to_string(e->channels));
        EXPECT_NEAR(std::atof(p["bit_rate"].c_str()), e->bitrate, 1000);
        const double duration = std::atof(p["duration"].c_str());
        EXPECT_GE(duration, 0.5);
        EXPECT_LE(duration, 0.6);
    }
}

// Durations round up to the millisecond and never run short, whatever the
// length relative to the codec frame, including an empty file.
TEST(WmaFileEncoder, PlayDurationCoversWhatWasWritten) {
    TempDir dir;
    const ffsdk::WmaCatalogEntry* e = ffsdk::WmaCatalogAt(15);  // 32 kHz: 64 ms frames
    for (size_t frames : {size_t{0}, size_t{1}, size_t{2048}, size_t{2049}, size_t{32017}}) {
        SCOPED_TRACE(frames);
        const std::string path = dir.file("len.wma");
        ASSERT_TRUE(Encode(path, e->format, Sine(32000, 2, frames, 440), 2, 1000));
        const AsfLayout a = ParseAsf(ReadFile(path));
        ASSERT_TRUE(a.ok);
        const uint64_t writtenHns = (frames * 10000000 + 31999) / 32000;
        const uint64_t playHns = a.playDuration - a.preroll * 10000;
        EXPECT_GE(playHns, writtenHns);
        EXPECT_LE(playHns, writtenHns + 30000);  // at most 3 ms over
    }
}

// The header keeps room for tags: a Padding Object, the header within a page,
// and no trace of the placeholder the muxer wrote for it.
TEST(WmaFileEncoder, HeaderKeepsRoomForTags) {
    TempDir dir;
    const std::string path = dir.file("room.wma");
    ASSERT_TRUE(Encode(path, ffsdk::WmaCatalogAt(11)->format, Sine(44100, 1, 30000, 700), 1, 4096));
    asf::Header header;
    ASSERT_TRUE(header.ReadFile(path));
    EXPECT_LE(header.headerSize(), asf::kInPlaceHeaderLimit);
    EXPECT_GE(header.padding(), 2048u);
    EXPECT_EQ(header.tags().Find(u"TagRoom"), nullptr);
    EXPECT_EQ(header.properties().fileSize, ReadFile(path).size());
}

// However the host slices its writes, the same packets come out.
TEST(WmaFileEncoder, WriteChunkingDoesNotChangeTheStream) {
    TempDir dir;
    const ffsdk::WmaCatalogEntry* e = ffsdk::WmaCatalogAt(11);  // 44.1 kHz mono
    const auto pcm = Sine(44100, 1, 30000, 700);
    Bytes reference;
    for (size_t chunk : {size_t{30000}, size_t{1}, size_t{2047}, size_t{2049}}) {
        SCOPED_TRACE(chunk);
        const std::string path = dir.file("chunk.wma");
        ASSERT_TRUE(Encode(path, e->format, pcm, 1, chunk));
        const Bytes file = ReadFile(path);
        const AsfLayout a = ParseAsf(file);
        ASSERT_TRUE(a.ok);
        // Data packets, after the Data object's own header (which has the file ID).
        Bytes packets(file.begin() + a.dataOffset + 50, file.begin() + a.dataOffset + a.dataSize);
        if (reference.empty()) reference = packets;
        EXPECT_EQ(packets, reference);
    }
}

// Index entries, one a second on the presentation-time axis, each naming a
// data packet that starts no later than its time and not a second earlier.
TEST(WmaFileEncoder, IndexPointsAtOrJustBeforeEachSecond) {
    TempDir dir;
    const ffsdk::WmaCatalogEntry* e = ffsdk::WmaCatalogAt(10);  // 44.1 kHz stereo 32k
    const std::string path = dir.file("index.wma");
    ASSERT_TRUE(Encode(path, e->format, Sine(44100, 2, 44100 * 12 + 5, 300), 2, 8192));
    const Bytes file = ReadFile(path);
    const AsfLayout a = ParseAsf(file);
    ASSERT_TRUE(a.ok);
    ASSERT_TRUE(a.hasIndex);
    EXPECT_EQ(a.indexInterval, 1000u);
    EXPECT_EQ(a.indexStream, 1);
    EXPECT_EQ(a.indexType, 1);  // nearest past data packet
    const uint64_t endMs = a.playDuration / 10000;
    ASSERT_EQ(a.indexOffsets.size(), endMs / 1000 + 1);
    for (size_t i = 0; i < a.indexOffsets.size(); ++i) {
        SCOPED_TRACE(i);
        const uint64_t offset = a.indexOffsets[i];
        ASSERT_EQ(offset % a.packetSize, 0u);
        const uint64_t packet = offset / a.packetSize;
        ASSERT_LT(packet, a.packetCount);
        if (i > 0) {
            EXPECT_GE(offset, a.indexOffsets[i - 1]);
        }
        const uint64_t t = i * 1000;
        if (packet > 0) {
            EXPECT_LE(PacketSendTime(file, a, packet) + a.preroll, t);
        }
        if (packet + 1 < a.packetCount) {
            EXPECT_GT(PacketSendTime(file, a, packet + 1) + a.preroll + 1000, t);
        }
    }
}

// A swept sine comes back whole: nothing lost at either end, aligned to the
// sample, channels in place.
TEST(WmaFileEncoder, SweepSurvivesTheRoundTrip) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    const ffsdk::WmaCatalogEntry* e = ffsdk::WmaCatalogAt(5);  // 44.1 kHz stereo 128k
    const size_t n = 44100;
    // Half scale, 50 Hz to 3 kHz, logarithmic; the right channel sweeps down.
    std::vector<int16_t> in(2 * n);
    double phaseL = 0, phaseR = 0;
    for (size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / n;
        in[2 * i] = static_cast<int16_t>(std::lround(16384 * std::sin(phaseL)));
        in[2 * i + 1] = static_cast<int16_t>(std::lround(16384 * std::sin(phaseR)));
        phaseL += 2 * kPi * 50 * std::pow(60.0, x) / 44100;
        phaseR += 2 * kPi * 3000 * std::pow(60.0, -x) / 44100;
    }
    const std::string path = dir.file("sweep.wma");
    ASSERT_TRUE(Encode(path, e->format, in, 2, 1000));
    const std::vector<int16_t> out = DecodeS16(path, 2);
    ASSERT_GE(out.size(), in.size() / 2);

    // Align over the codec delay either way: two frames of 2048 samples.
    const long range = 2 * 2048;
    const long outFrames = static_cast<long>(out.size() / 2);
    long lag = 0;
    double best = -1e300;
    for (long l = -range; l <= range; ++l) {
        double sum = 0;
        for (long i = 0; i < static_cast<long>(n); i += 4) {
            const long j = i + l;
            if (j >= 0 && j < outFrames) sum += static_cast<double>(in[2 * i]) * out[2 * j];
        }
        if (sum > best) {
            best = sum;
            lag = l;
        }
    }
    // Over the whole input; samples the output lacks count as silence.
    double signal = 0, noise = 0;
    for (long i = 0; i < static_cast<long>(n); ++i) {
        const long j = i + lag;
        for (int c = 0; c < 2; ++c) {
            const double x = in[2 * i + c];
            const double y = j >= 0 && j < outFrames ? out[2 * j + c] : 0.0;
            signal += x * x;
            noise += (x - y) * (x - y);
        }
    }
    const double snr = 10 * std::log10(signal / noise);
    RecordProperty("lag", static_cast<int>(lag));
    RecordProperty("snr_centi_db", static_cast<int>(snr * 100));
    EXPECT_GE(lag, 0);  // nothing lost at the start
    EXPECT_GE(snr, 40.0);
}

TEST(WmaFileEncoder, RejectsBadUseAndFormats) {
    TempDir dir;
    const std::string path = dir.file("bad.wma");
    const ffsdk::WmaCatalogEntry* e = ffsdk::WmaCatalogAt(5);
    ffsdk::WmaFileEncoder enc;
    const int16_t pcm[4] = {};
    EXPECT_EQ(enc.Write(pcm, 2).code(), wm::NS_E_INVALID_REQUEST);
    EXPECT_FALSE(enc.Finish().ok());

    auto withField = [&](size_t at, uint32_t value, int size) {
        Bytes b(e->format, e->format + ffsdk::kWmaV2FormatSize);
        for (int i = 0; i < size; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
        return b;
    };
    const Bytes bad[] = {
        withField(0, 0x0160, 2),  // WMA 1
        withField(2, 6, 2),       // six channels
        withField(4, 96000, 4),   // above 48 kHz
        withField(8, 2000, 4),    // 16 kbit/s
        withField(12, 744, 2),    // block size the encoder will not use
        withField(22, 3, 2),      // bit reservoir requested
        withField(16, 11, 2),     // cbSize past the buffer
    };
    for (const Bytes& b : bad) {
        EXPECT_EQ(enc.Open(path.c_str(), b.data(), b.size()).code(), wm::NS_E_INVALID_INPUT_FORMAT);
        EXPECT_FALSE(enc.IsOpen());
    }
    EXPECT_EQ(
        enc.Open(dir.file("missing/x.wma").c_str(), e->format, ffsdk::kWmaV2FormatSize).code(),
        wm::E_PATH_NOT_FOUND);

    // Open twice, abort, and the encoder is reusable; the aborted file stays.
    ASSERT_TRUE(enc.Open(path.c_str(), e->format, ffsdk::kWmaV2FormatSize).ok());
    EXPECT_EQ(enc.CodecFrameLength(), 2048u);
    EXPECT_EQ(enc.Open(path.c_str(), e->format, ffsdk::kWmaV2FormatSize).code(),
              wm::NS_E_INVALID_REQUEST);
    EXPECT_TRUE(enc.Write(pcm, 2).ok());
    enc.Abort();
    EXPECT_FALSE(enc.IsOpen());
    EXPECT_EQ(access(path.c_str(), F_OK), 0);
    const std::string colon = dir.file("a:b.wma");
    ASSERT_TRUE(enc.Open(colon.c_str(), e->format, ffsdk::kWmaV2FormatSize).ok());
    EXPECT_TRUE(enc.Finish().ok());
    EXPECT_TRUE(ParseAsf(ReadFile(colon)).hasIndex);
}

}  // namespace
