// SPDX-License-Identifier: MIT
// The stand-in reader's open handshake, its output format and header, bad
// files, and delivery to the end of the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sdk_reader_fixture.h"

namespace sdkreader {

TEST_F(SdkReader, OpenReportsOnItsOwnThreadAndDescribesPcmOutput) {
    wm::ComPtr<wm::IWMReader> reader = NewReader();
    wm::ComPtr<Recorder> callback(Recorder::Create());
    const ULONG refsBefore = callback->Refs();
    ASSERT_EQ(OpenAndWait(reader.Get(), callback.Get(), "stereo.wma"), S_OK);
    EXPECT_NE(callback->threads().at(0), std::this_thread::get_id());
    EXPECT_GT(callback->Refs(), refsBefore);  // the reader holds the callback

    const std::u16string again = ScratchMedia::Wide(Path("mono.wma"));
    EXPECT_LT(reader->Open(again.c_str(), callback.Get(), nullptr), 0);

    wm::ComPtr<wm::IWMOutputMediaProps> props;
    ASSERT_EQ(reader->GetOutputProps(0, props.Put()), S_OK);
    wm::ComPtr<wm::IWMMediaProps> base;
    EXPECT_EQ(props.As(base), S_OK);
    DWORD size = 0;
    ASSERT_EQ(props->GetMediaType(nullptr, &size), S_OK);
    ASSERT_EQ(size, sizeof(wm::WM_MEDIA_TYPE) + sizeof(wm::WAVEFORMATEX));
    std::vector<uint64_t> storage(size / 8 + 1);
    auto* type = reinterpret_cast<wm::WM_MEDIA_TYPE*>(storage.data());
    DWORD small = size - 1;
    EXPECT_LT(props->GetMediaType(type, &small), 0);
    EXPECT_EQ(small, size);
    ASSERT_EQ(base->GetMediaType(type, &size), S_OK);
    EXPECT_TRUE(type->majortype == wm::WMMEDIATYPE_Audio);
    EXPECT_TRUE(type->subtype == wm::AudioSubtype(wm::WAVE_FORMAT_PCM));
    EXPECT_TRUE(type->formattype == wm::WMFORMAT_WaveFormatEx);
    EXPECT_TRUE(type->bFixedSizeSamples);
    EXPECT_EQ(type->lSampleSize, 4u);
    EXPECT_EQ(type->cbFormat, 18u);
    ASSERT_EQ(type->pbFormat, reinterpret_cast<BYTE*>(type) + sizeof(wm::WM_MEDIA_TYPE));
    wm::WAVEFORMATEX wave;
    std::memcpy(&wave, type->pbFormat, sizeof wave);
    EXPECT_EQ(wave.wFormatTag, wm::WAVE_FORMAT_PCM);
    EXPECT_EQ(wave.nChannels, 2);
    EXPECT_EQ(wave.nSamplesPerSec, 44100u);
    EXPECT_EQ(wave.nBlockAlign, 4);
    EXPECT_EQ(wave.nAvgBytesPerSec, 44100u * 4);
    EXPECT_EQ(wave.wBitsPerSample, 16);
    EXPECT_EQ(wave.cbSize, 0);
    wm::ComPtr<wm::IWMOutputMediaProps> none;
    EXPECT_LT(reader->GetOutputProps(1, none.Put()), 0);

    // The header of the open file answers through the reader.
    wm::ComPtr<wm::IWMHeaderInfo> info;
    ASSERT_EQ(reader.As(info), S_OK);
    WORD stream = 0;
    wm::WMT_ATTR_DATATYPE attrType;
    QWORD duration = 0;
    WORD length = sizeof duration;
    ASSERT_EQ(info->GetAttributeByName(&stream, u"Duration", &attrType,
                                       reinterpret_cast<BYTE*>(&duration), &length),
              S_OK);
    EXPECT_NEAR(static_cast<double>(duration), 3.5 * kSecond, 0.1 * kSecond);
    WORD markers = 0;
    EXPECT_EQ(info->GetMarkerCount(&markers), E_NOTIMPL);  // as the editor answers

    EXPECT_EQ(reader->Close(), S_OK);
    EXPECT_EQ(callback->Refs(), refsBefore);  // released at Close
    EXPECT_EQ(reader->Close(), wm::NS_E_INVALID_REQUEST);
    EXPECT_LT(reader->GetOutputProps(0, none.Put()), 0);

    // A closed reader opens another file.
    wm::ComPtr<Recorder> second(Recorder::Create());
    EXPECT_EQ(OpenAndWait(reader.Get(), second.Get(), "mono.wma"), S_OK);
}

TEST_F(SdkReader, BadFilesFailTheOpenWithoutCrashing) {
    for (const char* name :
         {"missing.wma", "folder.wma", "empty.wma", "random.wma", "a.wav", "head.wma"}) {
        SCOPED_TRACE(name);
        wm::ComPtr<wm::IWMReader> reader = NewReader();
        wm::ComPtr<Recorder> callback(Recorder::Create());
        EXPECT_LT(OpenAndWait(reader.Get(), callback.Get(), name), 0);
        EXPECT_EQ(reader->Start(0, 0, 1.0f, nullptr), wm::NS_E_INVALID_REQUEST);
        wm::ComPtr<wm::IWMOutputMediaProps> props;
        EXPECT_LT(reader->GetOutputProps(0, props.Put()), 0);
        reader->Close();
        EXPECT_EQ(CountStatus(callback->events(), wm::WMT_OPENED), 1);
    }
    wm::ComPtr<wm::IWMReader> reader = NewReader();
    wm::ComPtr<Recorder> callback(Recorder::Create());
    EXPECT_LT(reader->Open(nullptr, callback.Get(), nullptr), 0);
    EXPECT_LT(reader->Open(u"x.wma", nullptr, nullptr), 0);
    EXPECT_EQ(reader->Stop(), wm::NS_E_INVALID_REQUEST);
}

TEST_F(SdkReader, TruncatedDataEndsTheDecodeWithEndOfFile) {
    wm::ComPtr<wm::IWMReader> reader = NewReader();
    wm::ComPtr<Recorder> callback(Recorder::Create());
    ASSERT_EQ(reader.As(callback->clock), S_OK);
    ASSERT_EQ(callback->clock->SetUserProvidedClock(TRUE), S_OK);
    ASSERT_EQ(OpenAndWait(reader.Get(), callback.Get(), "half.wma"), S_OK);
    ASSERT_EQ(reader->Start(0, 0, 1.0f, nullptr), S_OK);
    ASSERT_TRUE(callback->WaitForStatus(wm::WMT_EOF));
    EXPECT_EQ(reader->Close(), S_OK);
    EXPECT_GT(callback->pcm().size(), 0u);
}

TEST_F(SdkReader, RealTimeDecodeDeliversTheWholeFile) {
    wm::ComPtr<wm::IWMReader> reader = NewReader();
    wm::ComPtr<Recorder> callback(Recorder::Create());
    ASSERT_EQ(OpenAndWait(reader.Get(), callback.Get(), "short.wma"), S_OK);
    ASSERT_EQ(reader->Start(0, 0, 1.0f, nullptr), S_OK);
    ASSERT_TRUE(callback->WaitForStatus(wm::WMT_EOF));
    const std::vector<int16_t> ours = ToSamples(callback->pcm());
    const std::vector<int16_t> reference = Reference("short.wma");
    EXPECT_EQ(ours.size(), reference.size());

    // The same reader starts over after the end of the file.
    const size_t firstRun = callback->pcm().size();
    ASSERT_EQ(reader->Start(0, 0, 1.0f, nullptr), S_OK);
    ASSERT_TRUE(callback->WaitUntil(
        [](const std::vector<Event>& events) { return CountStatus(events, wm::WMT_EOF) == 2; }));
    EXPECT_EQ(callback->pcm().size(), 2 * firstRun);
    EXPECT_EQ(reader->Close(), S_OK);
}

TEST_F(SdkReader, ADecodeReadsTheFileItOpenedWhateverBecomesOfThePath) {
    Save("moving.wma", ScratchMedia::Slurp(Path("stereo.wma")));
    Save("other.wma", ScratchMedia::Slurp(Path("mono.wma")));
    const std::vector<int16_t> reference = Reference("stereo.wma");
    wm::ComPtr<wm::IWMReader> reader = NewReader();
    wm::ComPtr<Recorder> callback(Recorder::Create());
    ASSERT_EQ(reader.As(callback->clock), S_OK);
    ASSERT_EQ(callback->clock->SetUserProvidedClock(TRUE), S_OK);
    ASSERT_EQ(OpenAndWait(reader.Get(), callback.Get(), "moving.wma"), S_OK);
    // Another file takes the path before the first Start, then none is there
    // before the second.
    ASSERT_EQ(std::rename(Path("other.wma").c_str(), Path("moving.wma").c_str()), 0);
    for (int round = 1; round <= 2; ++round) {
        ASSERT_EQ(reader->Start(0, 0, 1.0f, nullptr), S_OK);
        ASSERT_TRUE(callback->WaitUntil([&](const std::vector<Event>& events) {
            return CountStatus(events, wm::WMT_EOF) + CountStatus(events, wm::WMT_ERROR) == round;
        }));
        ASSERT_EQ(CountStatus(callback->events(), wm::WMT_EOF), round);
        const std::vector<int16_t> ours = ToSamples(callback->pcm());
        ASSERT_EQ(ours.size(), round * reference.size());
        int worst = 0;
        for (size_t i = 0; i < ours.size(); ++i)
            worst = std::max(worst, std::abs(ours[i] - reference[i % reference.size()]));
        EXPECT_LE(worst, 1) << "round " << round;
        if (round == 1) {
            ASSERT_EQ(std::remove(Path("moving.wma").c_str()), 0);
        }
    }
    EXPECT_EQ(reader->Close(), S_OK);
}

}  // namespace sdkreader
