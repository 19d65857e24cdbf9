// SPDX-License-Identifier: MIT
// Tests of the ASF header module on files: files made by the ffmpeg
// command-line tool, the atomic rewrite, files that are refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "asf/header_journal.h"
#include "sdk_asf_builders.h"

namespace {

using namespace asf_test;

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
    ASSERT_TRUE(h.ReadFile(path));
    const double probed = std::atof(
        run("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'").c_str());
    EXPECT_NEAR(double(value(h.tags().Find(u"Duration"))) / 1e7, probed, 0.05);
    EXPECT_EQ(value(h.tags().Find(u"Bitrate")), 128000u);
    EXPECT_EQ(value(h.tags().Find(u"FileSize")), file.size());
    EXPECT_EQ(narrow(h.tags().Find(u"Title")->value()), "Tone");
    EXPECT_EQ(narrow(h.tags().Find(u"Author")->value()), "Me");
    EXPECT_EQ(narrow(h.tags().Find(u"WM/AlbumTitle")->value()), "Alb");
    EXPECT_EQ(h.properties().prerollMs, 3100u);
    EXPECT_TRUE(h.hasDataObject());
    EXPECT_EQ(h.Serialize(), Bytes(file.begin(), file.begin() + h.headerSize()));
}

TEST_F(AsfFile, RewriteKeepsDataAndFfprobeSeesNewTitle) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg not on PATH";
    const std::string path = makeWma();
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const Bytes before = slurp(path);
    asf::Header h;
    ASSERT_TRUE(h.ReadFile(path));
    const size_t oldHeader = h.headerSize();
    const Bytes title = str(u"Replaced Title");
    const Bytes year = num(2024, 4);
    const Bytes g = guid(7, 8, 9, 10);
    ASSERT_TRUE(h.Set(u"Title", wm::WMT_TYPE_STRING, title.data(), title.size()));
    ASSERT_TRUE(h.Set(u"WM/Year", wm::WMT_TYPE_DWORD, year.data(), year.size()));
    ASSERT_TRUE(h.Set(u"WM/MediaClassPrimaryID", wm::WMT_TYPE_GUID, g.data(), g.size()));
    ASSERT_TRUE(h.RewriteFile(path));
    EXPECT_EQ(listDir(), "in.wma\n");  // no temporary left

    const Bytes after = slurp(path);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    asf::Header back;
    ASSERT_TRUE(back.ReadFile(path));
    EXPECT_EQ(back.headerSize(), h.headerSize());
    EXPECT_EQ(Bytes(after.begin() + back.headerSize(), after.end()),
              Bytes(before.begin() + oldHeader, before.end()));
    EXPECT_EQ(back.properties().fileSize, after.size());
    EXPECT_EQ(back.tags().Find(u"Title")->value(), title);
    EXPECT_EQ(back.tags().Find(u"WM/Year")->type(), wm::WMT_TYPE_DWORD);
    EXPECT_EQ(back.tags().Find(u"WM/MediaClassPrimaryID")->value(), g);
    const std::string tags =
        run("ffprobe -v error -show_entries format_tags=title -of csv=p=0 '" + path + "'");
    EXPECT_EQ(tags, "Replaced Title\n");

    // A second edit through the same object works on the rewritten file.
    ASSERT_TRUE(h.Set(u"Title", wm::WMT_TYPE_STRING, str(u"Again").data(), 12));
    ASSERT_TRUE(h.RewriteFile(path));
    ASSERT_TRUE(back.ReadFile(path));
    EXPECT_EQ(back.tags().Find(u"Title")->value(), str(u"Again"));
}

TEST_F(AsfFile, WriteMakesRoomOnceThenWritesInPlaceUntilTheHeaderOutgrowsIt) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg not on PATH";
    const std::string path = makeWma();
    asf::Header h;
    ASSERT_TRUE(h.ReadFile(path));
    const Bytes original = slurp(path);
    const Bytes audio(original.begin() + h.headerSize(), original.end());
    struct Step {
        std::u16string title;
        bool inPlace;
    } steps[] = {
        {u"Room made", false},              // ffmpeg's header has no padding
        {std::u16string(300, u't'), true},  // the padding absorbs the growth
        {u"Shorter again", true},
        {std::u16string(3000, u'x'), false},  // more than a page can hold
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.title.size());
        struct stat before {};
        ASSERT_EQ(stat(path.c_str(), &before), 0);
        const Bytes title = str(step.title);
        ASSERT_TRUE(h.Set(u"Title", wm::WMT_TYPE_STRING, title.data(), title.size()));
        ASSERT_TRUE(h.WriteFile(path));
        struct stat after {};
        ASSERT_EQ(stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino == before.st_ino, step.inPlace);
        EXPECT_EQ(listDir(), "in.wma\n");  // no temporary, no journal left

        asf::Header back;
        ASSERT_TRUE(back.ReadFile(path));
        EXPECT_EQ(back.tags().Find(u"Title")->value(), title);
        if (step.title.size() < 1000) {
            EXPECT_EQ(back.headerSize(), asf::kInPlaceHeaderLimit);
        }
        const Bytes file = slurp(path);
        EXPECT_EQ(Bytes(file.begin() + back.headerSize(), file.end()), audio);
        EXPECT_EQ(back.properties().fileSize, file.size());
        EXPECT_EQ(run("ffprobe -v error -show_entries format_tags=title -of csv=p=0 '" + path + "'")
                      .size(),
                  step.title.size() + 1);
    }
}

TEST_F(AsfFile, RefusesOtherFilesAndLeavesThemAlone) {
    asf::Header h;
    EXPECT_EQ(h.ReadFile(dir_).code(), wm::NS_E_FILE_OPEN_FAILED);
    EXPECT_EQ(h.ReadFile(dir_ + "/missing.wma").code(), wm::NS_E_FILE_NOT_FOUND);
    EXPECT_EQ(h.ReadFile(dir_ + "/missing/a.wma").code(), wm::NS_E_FILE_NOT_FOUND);
    spit(dir_ + "/empty.wma", {});
    EXPECT_EQ(h.ReadFile(dir_ + "/empty.wma").code(), wm::NS_E_INVALID_INPUT_FORMAT);
    spit(dir_ + "/a.wav",
         cat({Bytes{'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E'}, Bytes(200)}));
    EXPECT_EQ(h.ReadFile(dir_ + "/a.wav").code(), wm::NS_E_INVALID_INPUT_FORMAT);
    const Bytes hdr = richHeader();
    spit(dir_ + "/nodata.wma", hdr);  // a header with no Data Object after it
    EXPECT_EQ(h.ReadFile(dir_ + "/nodata.wma").code(), wm::NS_E_INVALID_INPUT_FORMAT);

    // A file whose header is not the one parsed is not rewritten.
    spit(dir_ + "/a.wma", cat({hdr, dataObject(64)}));
    ASSERT_TRUE(h.ReadFile(dir_ + "/a.wma"));
    const Bytes other = cat({header({fileProps(2, 0, 0)}), dataObject(2000)});
    spit(dir_ + "/a.wma", other);
    ASSERT_TRUE(h.Set(u"Title", wm::WMT_TYPE_STRING, str(u"x").data(), 4));
    EXPECT_EQ(h.RewriteFile(dir_ + "/a.wma").code(), wm::NS_E_FILE_WRITE);
    EXPECT_EQ(h.RewriteFile(dir_ + "/missing.wma").code(), wm::E_PATH_NOT_FOUND);
    EXPECT_EQ(slurp(dir_ + "/a.wma"), other);
    EXPECT_EQ(listDir(), "a.wav\na.wma\nempty.wma\nnodata.wma\n");  // no temporary left
}

}  // namespace
