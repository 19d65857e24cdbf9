// SPDX-License-Identifier: MIT
// Encoding from the host: what the writer is given, time stamps from the
// running byte count, closing, and what is left behind when a step fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fakes/fake_com.h"
#include "fakes/fake_writer.h"
#include "mervane.h"
#include "writer/encode.h"

namespace {

using fakes::CallLog;
using fakes::FakeFileSink;
using fakes::FakeProfileManager;
using fakes::FakeWriter;
using fakes::Held;
using fakes::MakeAudioType;

constexpr HRESULT kFailure = static_cast<HRESULT>(0x80042222u);
constexpr AudioFormatInfo kCd{0, 44100, 2, 128, 0, 0, 0, 0};  // 176,400 PCM bytes/s

class WriterEncode : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetFakes();
        auto& factories = fakes::ScriptedFactories();
        fakes::Serve(factories.writer, writer);
        fakes::Serve(factories.fileSink, sink);
        fakes::Serve(factories.profileManager, manager);
        manager->codecs = {{MakeAudioType(0x0161, 2, 44100, 16000, 5945)},
                           {MakeAudioType(0x0161, 1, 1, 2, 2)}};
        char folder[] = "/tmp/writer_encode_XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        dir_ = folder;
        out_ = dir_ + "/out.wma";
    }
    void TearDown() override {
        CloseWMAWriteFile();
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    // What is at the destination, and a dot; "" when nothing is there.
    std::string Destination() const {
        std::ifstream in(out_);
        return in ? std::string(std::istreambuf_iterator<char>(in), {}) + "." : "";
    }

    // No encode is open: neither a block nor a close reaches a writer.
    void ExpectNoEncode() const {
        const size_t writes = writer->writeCalls;
        const BYTE byte = 0;
        EXPECT_EQ(WriteWMAFile(&byte, 1), 0);
        EXPECT_EQ(CloseWMAWriteFile(), E_UNEXPECTED);
        EXPECT_EQ(writer->writeCalls, writes);
    }
    // Only the fakes' own references are left (the profile also has the manager's).
    void ExpectNothingHeld() const {
        EXPECT_EQ(writer->Refs(), 1);
        EXPECT_EQ(writer->advanced->Refs(), 1);
        EXPECT_EQ(sink->Refs(), 1);
        EXPECT_EQ(sink->sink2->Refs(), 1);
        EXPECT_EQ(manager->Refs(), 1);
        if (manager->profile != nullptr) {
            EXPECT_EQ(manager->profile->Refs(), 1);
        }
        for (auto* sample : writer->samples) EXPECT_EQ(sample->Refs(), 1);
    }
    std::vector<wm::QWORD> Stamps() const {
        std::vector<wm::QWORD> out;
        for (const auto& w : writer->written) out.push_back(w.time);
        return out;
    }

    Held<FakeWriter> writer;
    Held<FakeFileSink> sink;
    Held<FakeProfileManager> manager;
    std::string dir_;
    std::string out_;
};

TEST_F(WriterEncode, InitGivesTheWriterItsSinkAndProfile) {
    ASSERT_EQ(InitWMAWriteFile(out_.c_str(), &kCd), 1);
    // The sink is attached through its second interface; the writer gets the
    // profile built for 128 kbit/s of the WMA tag.
    ASSERT_EQ(writer->advanced->sinks.size(), 1u);
    EXPECT_EQ(writer->advanced->sinks[0], static_cast<wm::IWMWriterSink*>(sink->sink2));
    EXPECT_EQ(writer->profile, static_cast<wm::IWMProfile*>(manager->profile));
    EXPECT_EQ(manager->profile->newStream->bitrate, 128000u);

    // The sink writes a file of its own; it takes the destination's place at
    // the close.
    EXPECT_EQ(sink->path.find(u"out.wma"), std::u16string::npos);
    EXPECT_EQ(Destination(), "");
    ASSERT_EQ(CloseWMAWriteFile(), S_OK);
    EXPECT_EQ(Destination(), ".");
}

TEST_F(WriterEncode, BlocksAreStampedFromTheRunningByteCount) {
    ASSERT_EQ(InitWMAWriteFile(out_.c_str(), &kCd), 1);
    const std::vector<BYTE> tenth(17640, 0x11);
    const BYTE one = 0x22;
    EXPECT_EQ(WriteWMAFile(tenth.data(), 17640), 1);  // 0.1 s
    EXPECT_EQ(WriteWMAFile(&one, 1), 1);              // 56.69 units, rounded
    EXPECT_EQ(WriteWMAFile(&one, 1), 1);
    EXPECT_EQ(Stamps(), (std::vector<wm::QWORD>{0, 1000000, 1000057}));
    EXPECT_EQ(writer->written[0].bytes, tenth);
    EXPECT_EQ(writer->written[1].bytes, std::vector<BYTE>{0x22});
    EXPECT_EQ(writer->written[0].input, 0u);
    EXPECT_EQ(writer->written[0].flags, 0u);

    // A new encode starts its clock again.
    ASSERT_EQ(CloseWMAWriteFile(), S_OK);
    ASSERT_EQ(InitWMAWriteFile(out_.c_str(), &kCd), 1);
    EXPECT_EQ(WriteWMAFile(&one, 1), 1);
    EXPECT_EQ(writer->written.back().time, 0u);
}

TEST_F(WriterEncode, BlockLongerThan214SecondsKeepsItsTrueDuration) {
    // One channel at 1 Hz: 2 bytes per second, so 1,000 bytes are 500 s.
    const AudioFormatInfo slow{0, 1, 1, 0, 0, 0, 0, 0};
    ASSERT_EQ(InitWMAWriteFile("out.wma", &slow), 1);
    const std::vector<BYTE> block(1000, 0);
    ASSERT_EQ(WriteWMAFile(block.data(), 1000), 1);
    ASSERT_EQ(WriteWMAFile(block.data(), 1), 1);
    EXPECT_EQ(Stamps(), (std::vector<wm::QWORD>{0, 5000000000u}));

    EXPECT_EQ(mervane::BlockDuration(0xFFFFFFFFu, 1), 42949672950000000);
    // Rounded to the nearest unit, halves away from zero.
    const struct {
        DWORD bytes, rate;
        int64_t units;
    } cases[] = {{17640, 176400, 1000000}, {1, 176400, 57}, {1, 3, 3333333},
                 {5, 3, 16666667},         {1, 6, 1666667}, {1000003, 768000, 13020872},
                 {1, 20000000, 1},         {3, 20000000, 2}};
    for (const auto& c : cases)
        EXPECT_EQ(mervane::BlockDuration(c.bytes, c.rate), c.units) << c.bytes << " at " << c.rate;
}

TEST_F(WriterEncode, RefusedBlockDoesNotAdvanceTimeAndIsReleased) {
    ASSERT_EQ(InitWMAWriteFile(out_.c_str(), &kCd), 1);
    writer->writeResult = [](size_t call) { return call == 1 ? kFailure : S_OK; };
    const std::vector<BYTE> block(17640, 0);
    EXPECT_EQ(WriteWMAFile(block.data(), 17640), 1);
    EXPECT_EQ(WriteWMAFile(block.data(), 17640), 0);
    EXPECT_EQ(WriteWMAFile(block.data(), 17640), 1);
    EXPECT_EQ(Stamps(), (std::vector<wm::QWORD>{0, 1000000}));
    for (auto* sample : writer->samples) EXPECT_EQ(sample->Refs(), 1);

    // A sample whose buffer cannot be had is released without being written,
    // and an allocation that fails writes nothing either.
    writer->adjustSample = [](fakes::FakeBuffer& sample) { sample.bufferResult = kFailure; };
    EXPECT_EQ(WriteWMAFile(block.data(), 4), 0);
    writer->allocateResult = kFailure;
    EXPECT_EQ(WriteWMAFile(block.data(), 4), 0);
    EXPECT_EQ(writer->written.size(), 2u);
    EXPECT_EQ(writer->writeCalls, 3u);
    for (auto* sample : writer->samples) EXPECT_EQ(sample->Refs(), 1);
}

TEST_F(WriterEncode, CloseEndsClosesAndReleasesInOrder) {
    ASSERT_EQ(InitWMAWriteFile(out_.c_str(), &kCd), 1);
    CallLog::Instance().Clear();
    EXPECT_EQ(CloseWMAWriteFile(), S_OK);
    // The close's stated order: end writing, close the sink, then release the
    // writer, the advanced writer, the file sink and the file sink 2.
    EXPECT_EQ(CallLog::Instance().Entries(),
              (std::vector<std::string>{"Writer.EndWriting", "FileSink2.Close", "Writer.Release",
                                        "WriterAdvanced.Release", "FileSink.Release",
                                        "FileSink2.Release"}));
    ExpectNothingHeld();
    ExpectNoEncode();
}

// However an encode fails (a block refused, the end of writing, the sink's
// close), the close reports it, ends the encode and leaves the destination.
TEST_F(WriterEncode, AFailedEncodeIsReportedAtTheCloseAndLeavesTheDestinationAlone) {
    for (const char* step : {"WriteSample", "EndWriting", "FileSink2.Close"}) {
        SCOPED_TRACE(step);
        std::ofstream(out_) << "old";
        writer->writeResult = [step](size_t) {
            return std::string(step) == "WriteSample" ? kFailure : S_OK;
        };
        writer->endResult = std::string(step) == "EndWriting" ? kFailure : S_OK;
        sink->sink2->closeResult = std::string(step) == "FileSink2.Close" ? kFailure : S_OK;
        ASSERT_EQ(InitWMAWriteFile(out_.c_str(), &kCd), 1);
        const std::vector<BYTE> block(4, 0);
        WriteWMAFile(block.data(), 4);
        ASSERT_EQ(WriteWMAFile(block.data(), 4), std::string(step) == "WriteSample" ? 0 : 1);
        EXPECT_EQ(CloseWMAWriteFile(), kFailure);
        ExpectNothingHeld();
        ExpectNoEncode();
        EXPECT_EQ(Destination(), "old.");
    }
}

TEST_F(WriterEncode, MissingArgumentsTouchNothing) {
    ExpectNoEncode();
    EXPECT_EQ(InitWMAWriteFile(nullptr, &kCd), 0);
    EXPECT_EQ(InitWMAWriteFile("out.wma", nullptr), 0);
    EXPECT_TRUE(sink->path.empty()) << "nothing was begun";
    ExpectNoEncode();

    ASSERT_EQ(InitWMAWriteFile(out_.c_str(), &kCd), 1);
    EXPECT_EQ(WriteWMAFile(nullptr, 16), 0);
    EXPECT_EQ(InitWMAWriteFile(nullptr, &kCd), 0);
    EXPECT_EQ(writer->writeCalls, 0u);
    EXPECT_EQ(CloseWMAWriteFile(), S_OK) << "the open encode is still there";
}

// Each step of InitWMAWriteFile failing in turn.
class WriterInitFailure : public WriterEncode, public ::testing::WithParamInterface<std::string> {
  protected:
    void FailStep(const std::string& step) {
        auto& factories = fakes::ScriptedFactories();
        if (step == "Writer") factories.writer = [](wm::IWMWriter**) { return kFailure; };
        if (step == "FileSink")
            factories.fileSink = [](wm::IWMWriterFileSink**) { return kFailure; };
        if (step == "AdvancedWriter")
            writer->queryOverride = [](REFIID iid) {
                return iid == wm::IID_IWMWriterAdvanced ? E_NOINTERFACE : S_OK;
            };
        if (step == "FileSink2")
            sink->queryOverride = [](REFIID iid) {
                return iid == wm::IID_IWMWriterFileSink2 ? E_NOINTERFACE : S_OK;
            };
        if (step == "AddSink") writer->advanced->addSinkResult = kFailure;
        if (step == "NoMatchingFormat") manager->codecs.clear();
        if (step == "SetProfile") writer->setProfileResult = kFailure;
        if (step == "Open") sink->openResult = kFailure;
        if (step == "BeginWriting") writer->beginResult = kFailure;
    }
};

TEST_P(WriterInitFailure, ReleasesWhatItMadeAndLeavesNoEncodeOpen) {
    FailStep(GetParam());
    EXPECT_EQ(InitWMAWriteFile(out_.c_str(), &kCd), 0);
    ExpectNothingHeld();
    ExpectNoEncode();
}

INSTANTIATE_TEST_SUITE_P(WriterInit, WriterInitFailure,
                         ::testing::Values("Writer", "FileSink", "AdvancedWriter", "FileSink2",
                                           "AddSink", "NoMatchingFormat", "SetProfile", "Open",
                                           "BeginWriting"),
                         [](const auto& param) { return param.param; });

TEST_F(WriterEncode, ASecondInitLeavesTheOpenEncodeAlone) {
    ASSERT_EQ(InitWMAWriteFile(out_.c_str(), &kCd), 1);
    EXPECT_EQ(InitWMAWriteFile((dir_ + "/second.wma").c_str(), &kCd), 0);
    EXPECT_EQ(writer->Refs(), 2);  // one reference from the library, not two
    ASSERT_EQ(CloseWMAWriteFile(), S_OK);
    EXPECT_EQ(Destination(), ".");
    ExpectNothingHeld();
}

}  // namespace
