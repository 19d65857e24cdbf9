// Tests of the ASF header module of the Linux Format SDK stand-in: headers
// built in memory, and files made by the ffmpeg command-line tool.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "asf/asf_header.h"
#include "wave_format.h"

namespace {

using Bytes = std::vector<uint8_t>;
using asf::AttrType;

// ---- Building ASF objects in memory.

Bytes num(uint64_t v, int n) {  // little-endian
    Bytes b;
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return b;
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}
Bytes guid(uint32_t d1, uint16_t d2, uint16_t d3, uint64_t d4) {  // d4 is stored big-endian
    Bytes last = num(d4, 8);
    std::reverse(last.begin(), last.end());
    return cat({num(d1, 4), num(d2, 2), num(d3, 2), last});
}
const Bytes kHeader = guid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
const Bytes kData = guid(0x75B22636, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
const Bytes kFileProps = guid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365ull);
const Bytes kStreamProps = guid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365ull);
const Bytes kHeaderExt = guid(0x5FBF03B5, 0xA92E, 0x11CF, 0x8EE300C00C205365ull);
const Bytes kContentDesc = guid(0x75B22633, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
const Bytes kExtContent = guid(0xD2D0A440, 0xE307, 0x11D2, 0x97F000A0C95EA850ull);
const Bytes kBitrates = guid(0x7BF875CE, 0x468D, 0x11D1, 0x8D82006097C9A2B2ull);
const Bytes kMetadata = guid(0xC5F8CBEA, 0x5BAF, 0x4877, 0x8467AA8C44FA4CCAull);
const Bytes kMetadataLib = guid(0x44231C94, 0x9498, 0x49D1, 0xA1411D134E457054ull);
const Bytes kAudio = guid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
const Bytes kUnknown = guid(0x12345678, 0x9ABC, 0xDEF0, 0x0102030405060708ull);

Bytes patched(Bytes b, size_t at, const Bytes& with) {
    std::copy(with.begin(), with.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
}
void append(Bytes* b, const Bytes& more) {
    b->insert(b->end(), more.begin(), more.end());
}
Bytes str(std::u16string_view s) {  // UTF-16LE with terminator
    Bytes b;
    for (char16_t c : s) append(&b, num(c, 2));
    return cat({b, num(0, 2)});
}
Bytes object(const Bytes& id, const Bytes& body) {
    return cat({id, num(24 + body.size(), 8), body});
}
Bytes fileProps(uint64_t play, uint64_t preroll_ms, uint32_t flags) {
    // File size 0 (serialize sets it), 5 packets, fixed 3,200-byte packets.
    return object(kFileProps, cat({Bytes(16, 0xAB), Bytes(16, 0), num(5, 8), num(play, 8),
                                   num(play + 1000, 8), num(preroll_ms, 8), num(flags, 4),
                                   num(3200, 4), num(3200, 4), num(128000, 4)}));
}
Bytes audioStream(uint16_t number, uint32_t avg_bytes) {
    const Bytes wf = cat({num(0x161, 2), num(2, 2), num(44100, 4), num(avg_bytes, 4), num(743, 2),
                          num(16, 2), num(10, 2), Bytes{0, 0, 0, 0, 1, 0, 0, 0, 0, 0}});
    return object(kStreamProps, cat({kAudio, Bytes(16, 0), num(0, 8), num(wf.size(), 4), num(0, 4),
                                     num(number, 2), num(0, 4), wf}));
}
Bytes contentDesc(const std::vector<Bytes>& fields) {
    Bytes lens, strings;
    for (const Bytes& f : fields) append(&lens, num(f.size(), 2)), append(&strings, f);
    return object(kContentDesc, cat({lens, strings}));
}
struct Rec {
    std::u16string name;
    uint16_t type;
    Bytes value;
    uint16_t stream = 0;
};
Bytes extContent(const std::vector<Rec>& recs) {
    Bytes b = num(recs.size(), 2);
    for (const Rec& r : recs) {
        const Bytes n = str(r.name);
        append(&b, cat({num(n.size(), 2), n, num(r.type, 2), num(r.value.size(), 2), r.value}));
    }
    return object(kExtContent, b);
}
Bytes metaObject(const Bytes& id, const std::vector<Rec>& recs) {
    Bytes b = num(recs.size(), 2);
    for (const Rec& r : recs) {
        const Bytes n = str(r.name);
        append(&b, cat({num(0, 2), num(r.stream, 2), num(n.size(), 2), num(r.type, 2),
                        num(r.value.size(), 4), n, r.value}));
    }
    return object(id, b);
}
Bytes headerExt(const std::vector<Bytes>& inner) {
    Bytes data;
    for (const Bytes& o : inner) append(&data, o);
    const Bytes reserved = guid(0xABD3D211, 0xA9BA, 0x11CF, 0x8EE600C00C205365ull);
    return object(kHeaderExt, cat({reserved, num(6, 2), num(data.size(), 4), data}));
}
Bytes header(const std::vector<Bytes>& objects) {
    Bytes body = cat({num(objects.size(), 4), Bytes{1, 2}});
    for (const Bytes& o : objects) append(&body, o);
    return object(kHeader, body);
}
Bytes dataObject(size_t payload) {
    Bytes b = cat({Bytes(16, 0xCD), num(5, 8), Bytes{1, 1}});
    for (size_t i = 0; i < payload; ++i) b.push_back(static_cast<uint8_t>(i * 7));
    return object(kData, b);
}

const Bytes kUnknownObject = object(kUnknown, Bytes{9, 8, 7, 6, 5});

// A header using every object kind the module decodes.
Bytes richHeader() {
    return header({
        fileProps(41210000, 3100, 2),
        headerExt({metaObject(kMetadata,
                              {{u"IsVBR", 2, num(1, 2)}, {u"PerStream", 0, str(u"hidden"), 1}}),
                   object(kUnknown, Bytes{1, 2, 3}),
                   metaObject(kMetadataLib, {{u"WM/Track", 0, str(u"5")}})}),
        contentDesc({str(u"T"), str(u"A"), {}, {}, {}}),
        extContent({{u"title", 0, str(u"T")},
                    {u"WM/Track", 3, num(4, 4)},
                    {u"NoTerminator", 0, Bytes{'a', 0, 'b', 0}}}),
        kUnknownObject,
        audioStream(1, 16000),
        object(kBitrates, cat({num(1, 2), num(1, 2), num(96000, 4)})),
    });
}

std::string narrow(const Bytes& utf16) {
    std::string s;
    for (size_t i = 0; i + 1 < utf16.size() && utf16[i]; i += 2) s.push_back(char(utf16[i]));
    return s;
}
uint64_t value(const asf::Attribute* a) {
    uint64_t v = 0;
    for (size_t i = 0; i < a->value.size() && i < 8; ++i) v |= uint64_t(a->value[i]) << (8 * i);
    return v;
}
bool contains(const Bytes& hay, const Bytes& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

// ---- In-memory headers.

TEST(AsfHeader, DecodesPropertiesStreamsAndAttributes) {
    asf::Header h;
    ASSERT_TRUE(h.parse(richHeader().data(), richHeader().size()));
    EXPECT_EQ(h.prerollMs(), 3100u);
    EXPECT_EQ(h.playDuration(), 41210000u);
    EXPECT_EQ(h.duration(), 10210000u);  // preroll is milliseconds
    EXPECT_EQ(h.bitrate(), 96000u);      // Stream Bitrate Properties wins
    EXPECT_EQ(h.packetSize(), 3200u);
    EXPECT_TRUE(h.seekable());
    EXPECT_FALSE(h.hasDataObject());
    ASSERT_EQ(h.streams().size(), 1u);
    EXPECT_EQ(h.streams()[0].kind, asf::StreamKind::Audio);
    mervane::WaveFormat wf;
    ASSERT_TRUE(mervane::ReadWholeWaveFormat(h.streams()[0].type_specific.data(),
                                             h.streams()[0].type_specific.size(), &wf));
    EXPECT_EQ(wf.blockAlign, 743);
    EXPECT_EQ(wf.cbSize, 10u);

    std::vector<std::u16string> names;
    for (size_t i = 0; i < h.count(); ++i) names.push_back(h.at(i)->name);
    const std::vector<std::u16string> expected = {
        u"Duration", u"Bitrate", u"Seekable", u"Broadcast",    u"FileSize", u"Title",
        u"Author",   u"title",   u"WM/Track", u"NoTerminator", u"IsVBR",    u"WM/Track"};
    EXPECT_EQ(names, expected);  // the stream-1 record is not a file attribute
    EXPECT_EQ(h.at(h.count()), nullptr);
    EXPECT_EQ(h.find(u"Copyright"), nullptr);  // empty field is absent
    EXPECT_EQ(h.find(u"TITLE"), nullptr);      // names are case-sensitive
    EXPECT_EQ(h.find(u"Duration")->type, AttrType::QWord);
    EXPECT_EQ(value(h.find(u"Duration")), 10210000u);
    EXPECT_EQ(h.find(u"Title")->value, str(u"T"));
    EXPECT_EQ(h.find(u"NoTerminator")->value, str(u"ab"));
    const asf::Attribute* vbr = h.find(u"IsVBR");
    EXPECT_EQ(vbr->type, AttrType::Bool);
    EXPECT_EQ(vbr->value, num(1, 4));  // widened from 2 bytes
    EXPECT_EQ(h.find(u"WM/Track")->type, AttrType::DWord);
}

TEST(AsfHeader, FallbacksAndUnchangedSerialization) {
    asf::Header h;
    Bytes b = header({fileProps(20000000, 3100, 0), audioStream(1, 16000)});
    ASSERT_TRUE(h.parse(b.data(), b.size()));
    EXPECT_EQ(value(h.find(u"Bitrate")), 128000u);  // nAvgBytesPerSec * 8 without bitrate object
    b = header({fileProps(1000, 3100, 0)});         // preroll longer than the file
    ASSERT_TRUE(h.parse(b.data(), b.size()));
    EXPECT_EQ(h.duration(), 0u);

    const Bytes hdr = richHeader();
    Bytes file = cat({hdr, dataObject(100)});
    // With the real file size in File Properties nothing needs to change.
    file = patched(file, 30 + 40, num(file.size(), 8));
    ASSERT_TRUE(h.parse(file.data(), file.size()));
    EXPECT_TRUE(h.hasDataObject());
    EXPECT_EQ(h.dataObjectOffset(), hdr.size());
    EXPECT_EQ(h.dataObjectSize(), file.size() - hdr.size());
    EXPECT_EQ(h.serialize(), Bytes(file.begin(), file.begin() + hdr.size()));
}

TEST(AsfHeader, SetRoundTripsEveryTypeAndKeepsOtherObjects) {
    asf::Header h;
    ASSERT_TRUE(h.parse(richHeader().data(), richHeader().size()));
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
        ASSERT_TRUE(h.set(c.name, c.type, c.value.data(), c.value.size()));
        ASSERT_TRUE(h.set(c.name, c.type, c.value.data(), c.value.size()));  // no duplicate
    }
    const size_t position = size_t(h.find(u"WM/Track") - h.at(0));

    Bytes out = h.serialize();
    EXPECT_TRUE(contains(out, kUnknownObject));
    EXPECT_TRUE(contains(out, object(kUnknown, Bytes{1, 2, 3})));  // inside Header Extension
    // Metadata stores the BOOL in 2 bytes.
    EXPECT_TRUE(contains(
        out, cat({Bytes{0, 0, 0, 0, 12, 0, 2, 0, 2, 0, 0, 0}, str(u"IsVBR"), Bytes{0, 0}})));
    asf::Header back;
    ASSERT_TRUE(back.parse(out.data(), out.size()));
    EXPECT_EQ(back.count(), h.count());
    for (const Case& c : cases) {
        size_t seen = 0;
        for (size_t i = 0; i < back.count(); ++i) seen += back.at(i)->name == c.name;
        EXPECT_EQ(seen, 1u) << narrow(str(c.name));
        const asf::Attribute* a = back.find(c.name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->type, c.type);
        EXPECT_EQ(a->value, c.value);
    }
    EXPECT_EQ(size_t(back.find(u"WM/Track") - back.at(0)), position);
    EXPECT_EQ(back.find(u"Title")->value, str(u"T"));
    EXPECT_EQ(back.fileSize(), out.size());  // header only: no bytes follow
    EXPECT_EQ(back.serialize(), out);

    // A string moved out because it no longer fits leaves no copy behind.
    ASSERT_TRUE(back.set(u"WM/AlbumTitle", AttrType::Guid, g.data(), g.size()));
    EXPECT_EQ(back.find(u"WM/AlbumTitle")->type, AttrType::Guid);
    EXPECT_EQ(back.count(), h.count());
}

TEST(AsfHeader, ContentDescriptionNamesAndTheirDuplicates) {
    asf::Header h;
    Bytes b = header({fileProps(1, 0, 0), extContent({{u"title", 0, str(u"old")},
                                                      {u"WM/Title", 0, str(u"other")},
                                                      {u"AUTHOR", 3, num(1, 4)}})});
    ASSERT_TRUE(h.parse(b.data(), b.size()));
    EXPECT_EQ(h.find(u"Title"), nullptr);
    const Bytes t = {'N', 0, 'e', 0, 'w', 0};  // terminator added by set
    ASSERT_TRUE(h.set(u"Title", AttrType::String, t.data(), t.size()));
    ASSERT_TRUE(h.set(u"Author", AttrType::String, t.data(), t.size()));
    Bytes out = h.serialize();
    ASSERT_TRUE(h.parse(out.data(), out.size()));
    EXPECT_EQ(h.find(u"Title")->value, str(u"New"));
    EXPECT_EQ(h.find(u"title")->value, str(u"New"));       // kept in step
    EXPECT_EQ(h.find(u"WM/Title")->value, str(u"other"));  // a different name
    EXPECT_EQ(h.find(u"AUTHOR")->type, AttrType::DWord);   // not a string copy
    EXPECT_EQ(h.find(u"Author")->value, str(u"New"));
}

TEST(AsfHeader, SetRejectsInvalidRequests) {
    asf::Header h;
    EXPECT_FALSE(h.set(u"X", AttrType::Binary, nullptr, 0));  // nothing parsed
    Bytes b = header({fileProps(1, 0, 0)});
    ASSERT_TRUE(h.parse(b.data(), b.size()));
    const size_t before = h.count();
    const Bytes serialized = h.serialize();
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
    for (const auto& r : rejected) EXPECT_FALSE(h.set(r.name, r.type, bytes, r.len));
    EXPECT_FALSE(h.set(u"X", AttrType::Binary, nullptr, 4));
    EXPECT_EQ(h.count(), before);
    EXPECT_EQ(h.serialize(), serialized);
}

// ---- Malformed input: every case must fail cleanly (also run under ASan).

TEST(AsfHeader, MalformedInputFailsCleanly) {
    const size_t header_size = richHeader().size();
    const Bytes file = cat({richHeader(), dataObject(20)});
    asf::Header h;
    for (size_t len = 0; len <= file.size(); ++len) {
        const bool ok = h.parse(file.data(), len);
        const bool expected = len == header_size || len >= header_size + 50;
        EXPECT_EQ(ok, expected) << len;
        EXPECT_EQ(h.valid(), ok);
    }

    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        Bytes m = file;
        const int flips = 1 + int(rng() % 8);
        for (int i = 0; i < flips; ++i) m[rng() % m.size()] = uint8_t(rng());
        if (h.parse(m.data(), m.size())) {
            h.serialize();
            const uint8_t v[2] = {'x', 0};
            h.set(u"Title", AttrType::String, v, 2);
        }
        Bytes noise(rng() % 200);
        for (uint8_t& c : noise) c = uint8_t(rng());
        if (noise.size() >= 16) std::copy(kHeader.begin(), kHeader.end(), noise.begin());
        EXPECT_FALSE(h.parse(noise.data(), noise.size()));
    }

    const Bytes fp = fileProps(1, 0, 0);
    const Bytes all_ones = num(~0ull, 8);
    const std::vector<Bytes> bad = {
        header({fp, object(kExtContent, num(0xFFFF, 2))}),  // more records than bytes
        header({fp, headerExt({object(kMetadataLib, num(3, 2))})}),
        header({fp, headerExt({object(kMetadata, cat({num(1, 2), num(0, 4), num(2, 2), num(0, 2),
                                                      num(0xFFFFFFFF, 4), num(0, 2)}))})}),
        header({fp, object(kContentDesc, cat({num(0xFFFF, 2), num(0, 8)}))}),
        header({fp, object(kBitrates, num(50, 2))}),
        header({fp, patched(headerExt({}), 24 + 18, num(0xFFFFFFFF, 4))}),  // extension data size
        header({object(kUnknown, {})}),                                     // no File Properties
        patched(header({fp}), 16, all_ones),                                // header size
        patched(header({fp, kUnknownObject}), 30 + fp.size() + 16, all_ones),  // object size
    };
    for (size_t i = 0; i < bad.size(); ++i)
        EXPECT_FALSE(h.parse(bad[i].data(), bad[i].size())) << i;
    EXPECT_FALSE(h.parse(nullptr, 10));
}

// ---- Files.

class AsfFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/asf-header-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    static std::string run(const std::string& cmd) {
        std::string out;
        FILE* p = popen(cmd.c_str(), "r");
        if (!p) return out;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
        return out;
    }
    static bool haveFfmpeg() {
        return run("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null && echo y") ==
               "y\n";
    }
    static Bytes slurp(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), {});
    }
    static void spit(const std::string& path, const Bytes& b) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), b.size());
    }
    std::string listDir() const { return run("ls -A '" + dir_ + "'"); }
    std::string makeWma() {
        const std::string path = dir_ + "/in.wma";
        run("ffmpeg -v error -y -f lavfi -i sine=d=2:sample_rate=44100 -ac 2 -c:a wmav2 -b:a 128k"
            " -metadata title=Tone -metadata artist=Me -metadata album=Alb '" +
            path + "'");
        return path;
    }
    std::string dir_;
};

TEST_F(AsfFile, ReadsWhatFfmpegWrites) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg not on PATH";
    const std::string path = makeWma();
    const Bytes file = slurp(path);
    asf::Header h;
    ASSERT_TRUE(h.readFile(path));
    const double probed = std::atof(
        run("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'").c_str());
    EXPECT_NEAR(double(value(h.find(u"Duration"))) / 1e7, probed, 0.05);
    EXPECT_EQ(value(h.find(u"Bitrate")), 128000u);
    EXPECT_EQ(value(h.find(u"FileSize")), file.size());
    EXPECT_EQ(narrow(h.find(u"Title")->value), "Tone");
    EXPECT_EQ(narrow(h.find(u"Author")->value), "Me");
    EXPECT_EQ(narrow(h.find(u"WM/AlbumTitle")->value), "Alb");
    EXPECT_EQ(h.prerollMs(), 3100u);
    EXPECT_TRUE(h.hasDataObject());
    EXPECT_EQ(h.serialize(), Bytes(file.begin(), file.begin() + h.headerSize()));
}

TEST_F(AsfFile, RewriteKeepsDataAndFfprobeSeesNewTitle) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg not on PATH";
    const std::string path = makeWma();
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const Bytes before = slurp(path);
    asf::Header h;
    ASSERT_TRUE(h.readFile(path));
    const size_t old_header = h.headerSize();
    const Bytes title = str(u"Replaced Title");
    const Bytes year = num(2024, 4);
    const Bytes g = guid(7, 8, 9, 10);
    ASSERT_TRUE(h.set(u"Title", AttrType::String, title.data(), title.size()));
    ASSERT_TRUE(h.set(u"WM/Year", AttrType::DWord, year.data(), year.size()));
    ASSERT_TRUE(h.set(u"WM/MediaClassPrimaryID", AttrType::Guid, g.data(), g.size()));
    ASSERT_TRUE(h.rewriteFile(path));
    EXPECT_EQ(listDir(), "in.wma\n");  // no temporary left

    const Bytes after = slurp(path);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    asf::Header back;
    ASSERT_TRUE(back.readFile(path));
    EXPECT_EQ(back.headerSize(), h.headerSize());
    EXPECT_EQ(Bytes(after.begin() + back.headerSize(), after.end()),
              Bytes(before.begin() + old_header, before.end()));
    EXPECT_EQ(back.fileSize(), after.size());
    EXPECT_EQ(back.find(u"Title")->value, title);
    EXPECT_EQ(back.find(u"WM/Year")->type, AttrType::DWord);
    EXPECT_EQ(back.find(u"WM/MediaClassPrimaryID")->value, g);
    const std::string tags =
        run("ffprobe -v error -show_entries format_tags=title -of csv=p=0 '" + path + "'");
    EXPECT_EQ(tags, "Replaced Title\n");

    // A second edit through the same object works on the rewritten file.
    ASSERT_TRUE(h.set(u"Title", AttrType::String, str(u"Again").data(), 12));
    ASSERT_TRUE(h.rewriteFile(path));
    ASSERT_TRUE(back.readFile(path));
    EXPECT_EQ(back.find(u"Title")->value, str(u"Again"));
}

TEST_F(AsfFile, RefusesOtherFilesAndLeavesThemAlone) {
    asf::Header h;
    EXPECT_EQ(h.readFile(dir_).code(), wm::NS_E_FILE_OPEN_FAILED);
    EXPECT_EQ(h.readFile(dir_ + "/missing.wma").code(), wm::NS_E_FILE_NOT_FOUND);
    EXPECT_EQ(h.readFile(dir_ + "/missing/a.wma").code(), wm::NS_E_FILE_NOT_FOUND);
    spit(dir_ + "/empty.wma", {});
    EXPECT_EQ(h.readFile(dir_ + "/empty.wma").code(), wm::NS_E_INVALID_INPUT_FORMAT);
    spit(dir_ + "/a.wav",
         cat({Bytes{'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E'}, Bytes(200)}));
    EXPECT_EQ(h.readFile(dir_ + "/a.wav").code(), wm::NS_E_INVALID_INPUT_FORMAT);
    const Bytes hdr = richHeader();
    spit(dir_ + "/nodata.wma", hdr);  // a header with no Data Object after it
    EXPECT_EQ(h.readFile(dir_ + "/nodata.wma").code(), wm::NS_E_INVALID_INPUT_FORMAT);

    // A file whose header is not the one parsed is not rewritten.
    spit(dir_ + "/a.wma", cat({hdr, dataObject(64)}));
    ASSERT_TRUE(h.readFile(dir_ + "/a.wma"));
    const Bytes other = cat({header({fileProps(2, 0, 0)}), dataObject(2000)});
    spit(dir_ + "/a.wma", other);
    ASSERT_TRUE(h.set(u"Title", AttrType::String, str(u"x").data(), 4));
    EXPECT_EQ(h.rewriteFile(dir_ + "/a.wma").code(), wm::NS_E_FILE_WRITE);
    EXPECT_EQ(h.rewriteFile(dir_ + "/missing.wma").code(), wm::E_PATH_NOT_FOUND);
    EXPECT_EQ(slurp(dir_ + "/a.wma"), other);
    EXPECT_EQ(listDir(), "a.wav\na.wma\nempty.wma\nnodata.wma\n");  // no temporary left
}

}  // namespace
