// SPDX-License-Identifier: MIT
// GetWmaFileInfo against a scripted fake reader: what it reads from the header
// attributes and output 0, and that every path closes and releases the reader.
#include <gtest/gtest.h>

#include "fakes/fake_reader.h"
#include "mervane.h"

namespace {

using fakes::DwordValue;
using fakes::FakeReader;
using fakes::Held;
using fakes::QwordValue;

constexpr uint32_t kUntouched = 0xA5A5A5A5u;

AudioFormatInfo Prefilled() {
    AudioFormatInfo info;
    info.formatKind = info.sampleRate = info.channels = info.bitrateKbps = kUntouched;
    info.reserved0 = info.reserved1 = info.reserved2 = info.durationMs = kUntouched;
    return info;
}

class ReaderFileInfo : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetFakes();
        fakes::ClearReaderSlots();
        reader_->AddOutput(
            fakes::MakeAudioType(wm::WAVE_FORMAT_PCM, 2, 44'100, 176'400, 4, {}, 16));
        reader_->header->attributes = {
            {u"Title", wm::WMT_TYPE_STRING, fakes::StringValue(u"Song")},
            {u"Bitrate", wm::WMT_TYPE_DWORD, DwordValue(128'000)},
            {u"Duration", wm::WMT_TYPE_QWORD, QwordValue(7'500'000)},
        };
        fakes::ServeReader(reader_.get());
        liveBefore_ = fakes::LiveObjects().load();
    }
    void TearDown() override { fakes::ClearReaderSlots(); }

    static int32_t Query(AudioFormatInfo& info) { return GetWmaFileInfo("song.wma", &info); }
    // The reader was closed once and everything obtained from it released.
    void ExpectClosedAndReleased() {
        EXPECT_EQ(reader_->closeCalls.load(), 1);
        EXPECT_EQ(reader_->Refs(), 1);
        EXPECT_EQ(reader_->header->Refs(), 1);
        EXPECT_EQ(reader_->outputs[0]->Refs(), 1);
        EXPECT_EQ(fakes::LiveObjects().load(), liveBefore_);
        EXPECT_EQ(CancelReader(), 0) << "no reader is left in the slot";
        EXPECT_EQ(fakes::CallbackRefs(), 1);
    }
    void SetAttribute(const std::u16string& name, std::vector<BYTE> value) {
        for (auto& a : reader_->header->attributes)
            if (a.name == name) a.value = std::move(value);
    }

    Held<FakeReader> reader_;
    long liveBefore_ = 0;
};

TEST_F(ReaderFileInfo, FillsTheRecordFromTheAttributesAndOutput0ThenClosesTheReader) {
    AudioFormatInfo info = Prefilled();
    ASSERT_EQ(Query(info), 1);
    EXPECT_EQ(info.formatKind, 3u);
    EXPECT_EQ(info.sampleRate, 44'100u);
    EXPECT_EQ(info.channels, 2u);
    EXPECT_EQ(info.bitrateKbps, 128u);
    EXPECT_EQ(info.durationMs, 750u);
    EXPECT_EQ(info.reserved0, 0u);
    EXPECT_EQ(info.reserved1, 0u);
    EXPECT_EQ(info.reserved2, 0u);
    ExpectClosedAndReleased();
    // Closed while the library still held the reader: Close, then the releases.
    EXPECT_GT(reader_->refsAtClose.load(), 1);
}

TEST_F(ReaderFileInfo, ReadsDurationsOfEitherWidthAndBitratesOfFullWordsOnly) {
    struct Case {
        std::vector<BYTE> value;
        uint32_t expected;
    };
    const uint64_t beyond32Bits = ((uint64_t{1} << 32) + 3) * 10'000;
    std::vector<BYTE> sixBytes = DwordValue(7'500'000);
    sixBytes.insert(sixBytes.end(), {0xFF, 0xFF});
    const Case cases[] = {
        {QwordValue(7'500'000), 750},
        {DwordValue(7'500'000), 750},
        {QwordValue(static_cast<uint64_t>(-20'000)), 0xFFFFFFFEu},  // signed division
        {QwordValue(beyond32Bits), 3},                              // low 32 bits kept
        {DwordValue(0xFFFFFFFFu), 429'496},                         // unsigned 32-bit
        {sixBytes, 750},                                            // not 8: first word
        {{0x10, 0x27, 0x00}, kUntouched},                           // too short to read
        {{0x10}, kUntouched},
        {{}, kUntouched},
    };
    for (const auto& c : cases) {
        SetAttribute(u"Duration", c.value);
        AudioFormatInfo info = Prefilled();
        EXPECT_EQ(Query(info), 1);
        EXPECT_EQ(info.durationMs, c.expected) << "value of " << c.value.size() << " bytes";
    }
    // The bitrate is read only from a full 32-bit word.
    for (const auto& [value, expected] :
         {std::pair<std::vector<BYTE>, uint32_t>{DwordValue(64'999), 64u},
          {{0x00, 0xF4, 0x01}, kUntouched}}) {
        SetAttribute(u"Bitrate", value);
        AudioFormatInfo info = Prefilled();
        EXPECT_EQ(Query(info), 1);
        EXPECT_EQ(info.bitrateKbps, expected);
    }
}

TEST_F(ReaderFileInfo, ComparesNamesExactlyAndKeepsTheHostsValuesWhenAbsent) {
    reader_->header->attributes = {
        {u"bitrate", wm::WMT_TYPE_DWORD, DwordValue(128'000)},
        {u"BITRATE", wm::WMT_TYPE_DWORD, DwordValue(128'000)},
        {u"Bitrat", wm::WMT_TYPE_DWORD, DwordValue(128'000)},
        {u"Bitrate ", wm::WMT_TYPE_DWORD, DwordValue(128'000)},
        {u"duration", wm::WMT_TYPE_QWORD, QwordValue(7'500'000)},
        {u"Durations", wm::WMT_TYPE_QWORD, QwordValue(7'500'000)},
        {u"WM/Duration", wm::WMT_TYPE_QWORD, QwordValue(7'500'000)},
    };
    AudioFormatInfo info = Prefilled();
    EXPECT_EQ(Query(info), 1);
    EXPECT_EQ(info.bitrateKbps, kUntouched);
    EXPECT_EQ(info.durationMs, kUntouched);
    EXPECT_EQ(info.sampleRate, 44'100u);
}

// An attribute that cannot be read may be "Duration" or "Bitrate": a 1 would
// claim fields the query could not fill.
TEST_F(ReaderFileInfo, AFailingAttributeReadFailsTheQuery) {
    for (const bool fetching : {false, true}) {
        reader_->closeCalls = 0;
        reader_->header->byIndexResult = [fetching](WORD index, bool fetch) {
            return index == 2 && fetch == fetching ? E_FAIL : S_OK;
        };
        AudioFormatInfo info = Prefilled();
        EXPECT_EQ(Query(info), 0);
        ExpectClosedAndReleased();
    }
}

TEST_F(ReaderFileInfo, Output0ThatIsNotAudioFailsAfterTheAttributes) {
    reader_->outputs[0]->mediaType =
        fakes::MakeMediaType(wm::WMMEDIATYPE_Video, wm::WMFORMAT_WaveFormatEx,
                             fakes::MakeWaveFormat(wm::WAVE_FORMAT_PCM, 2, 44'100, 176'400, 4));
    AudioFormatInfo info = Prefilled();
    EXPECT_EQ(Query(info), 0);
    EXPECT_EQ(info.bitrateKbps, 128u) << "already written when the format step failed";
    EXPECT_EQ(info.formatKind, kUntouched);
    EXPECT_EQ(info.sampleRate, kUntouched);
    ExpectClosedAndReleased();
}

TEST_F(ReaderFileInfo, AShortAudioFormatBlockIsReadOnlyAsFarAsItGoes) {
    // A format block of any type is read as a WAVEFORMATEX, but never past the
    // buffer: 8 bytes still carry the channels and rate, 4 bytes do not.
    std::vector<BYTE> eight = fakes::MakeWaveFormat(wm::WAVE_FORMAT_PCM, 1, 22'050, 0, 0);
    eight.resize(8);
    reader_->outputs[0]->mediaType =
        fakes::MakeMediaType(wm::WMMEDIATYPE_Audio, wm::WMMEDIATYPE_Video, eight);
    AudioFormatInfo info = Prefilled();
    EXPECT_EQ(Query(info), 1);
    EXPECT_EQ(info.sampleRate, 22'050u);
    EXPECT_EQ(info.channels, 1u);

    eight.resize(4);
    reader_->outputs[0]->mediaType =
        fakes::MakeMediaType(wm::WMMEDIATYPE_Audio, wm::WMFORMAT_WaveFormatEx, eight);
    info = Prefilled();
    EXPECT_EQ(Query(info), 0);
    EXPECT_EQ(info.sampleRate, kUntouched);
    EXPECT_EQ(reader_->closeCalls.load(), 2) << "both queries closed the reader";
    EXPECT_EQ(reader_->Refs(), 1);
}

TEST_F(ReaderFileInfo, EveryFailureAfterTheOpenClosesAndReleasesTheReader) {
    const fakes::ReaderFault failures[] = {
        {"header info query", [](FakeReader& r) { fakes::RefuseQuery(r, wm::IID_IWMHeaderInfo); }},
        {"attribute count", [](FakeReader& r) { r.header->countResult = E_NOTIMPL; }},
        {"output properties", [](FakeReader& r) { r.outputPropsResult = E_FAIL; }},
        {"media type size", [](FakeReader& r) { r.outputs[0]->sizeQueryResult = E_FAIL; }},
        {"media type fetch", [](FakeReader& r) { r.outputs[0]->fetchResult = E_FAIL; }},
        {"media type too short", [](FakeReader& r) { r.outputs[0]->mediaType.resize(8); }},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.what);
        Held<FakeReader> reader;
        reader->AddOutput(fakes::MakeAudioType(wm::WAVE_FORMAT_PCM, 1, 8'000, 16'000, 2));
        failure.inject(*reader.get());
        fakes::ServeReader(reader.get());
        AudioFormatInfo info = Prefilled();
        EXPECT_EQ(Query(info), 0);
        EXPECT_EQ(reader->closeCalls.load(), 1);
        EXPECT_EQ(reader->Refs(), 1);
        EXPECT_EQ(reader->header->Refs(), 1);
        EXPECT_EQ(reader->outputs[0]->Refs(), 1);
        EXPECT_EQ(CancelReader(), 0);
    }
    EXPECT_EQ(fakes::CallbackRefs(), 1);
}

TEST_F(ReaderFileInfo, AFailedOpenReturns0WithoutClosing) {
    reader_->onOpen = [](FakeReader& r) {
        r.Report(wm::WMT_OPENED, E_FAIL);
        return S_OK;
    };
    AudioFormatInfo info = Prefilled();
    EXPECT_EQ(Query(info), 0);
    EXPECT_EQ(reader_->closeCalls.load(), 0);
    EXPECT_EQ(reader_->Refs(), 1);
    EXPECT_EQ(info.formatKind, kUntouched);
    reader_->ReleaseCallbacks();
}

TEST_F(ReaderFileInfo, NullArgumentsReturn0AtOnce) {
    AudioFormatInfo info = Prefilled();
    EXPECT_EQ(GetWmaFileInfo(nullptr, &info), 0);
    EXPECT_EQ(GetWmaFileInfo("song.wma", nullptr), 0);
    EXPECT_TRUE(reader_->openedPath.empty()) << "nothing was opened";
    EXPECT_EQ(info.formatKind, kUntouched);
}

}  // namespace
