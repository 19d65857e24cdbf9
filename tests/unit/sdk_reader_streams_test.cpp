// SPDX-License-Identifier: MIT
// The stand-in reader's outputs, stream selection and profile on a file with
// video, and what its open refuses from the header alone.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sdk_reader_fixture.h"

namespace sdkreader {
namespace {

// A copy of `name` whose audio Stream Properties object is changed by `edit`
// (given the object's offset in the file).
template <typename Edit>
std::string Patched(const std::string& name, const std::string& as, Edit edit) {
    static const unsigned char kStreamProps[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                                   0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    std::vector<char> bytes = ScratchMedia::Slurp(SdkReader::PathOf(name));
    for (size_t at = 0; at + 80 < bytes.size(); ++at) {
        if (std::memcmp(bytes.data() + at, kStreamProps, 16) == 0) {
            edit(bytes, at);
            break;
        }
    }
    SdkReader::Save(as, bytes);
    return as;
}

TEST_F(SdkReader, OutputsFollowTheStreamsAndOnlyTheFirstAudioStreamDelivers) {
    ASSERT_TRUE(media_.Make("video-first.asf",
                            "-f lavfi -i testsrc=size=32x24:rate=5:d=1.5 -f lavfi -i sine=d=1.5 "
                            "-map 0:v -map 1:a -c:v msmpeg4v3 -c:a wmav2 -f asf"));
    for (const bool audioOff : {false, true}) {
        SCOPED_TRACE(audioOff ? "audio switched off" : "as opened");
        wm::ComPtr<wm::IWMReader> reader = NewReader();
        wm::ComPtr<Recorder> callback(Recorder::Create());
        ASSERT_EQ(reader.As(callback->clock), S_OK);
        ASSERT_EQ(callback->clock->SetUserProvidedClock(TRUE), S_OK);
        ASSERT_EQ(OpenAndWait(reader.Get(), callback.Get(), "video-first.asf"), S_OK);
        // An output per stream, as the platform numbers them, and a profile
        // that names each stream by type and number.
        wm::ComPtr<wm::IWMProfile> profile;
        ASSERT_EQ(reader.As(profile), S_OK);
        DWORD outputs = 0, streams = 0;
        ASSERT_EQ(reader->GetOutputCount(&outputs), S_OK);
        ASSERT_EQ(profile->GetStreamCount(&streams), S_OK);
        ASSERT_EQ(outputs + streams, 4u);
        WORD numbers[2] = {};
        for (DWORD i = 0; i < 2; ++i) {
            wm::ComPtr<wm::IWMOutputMediaProps> props;
            wm::ComPtr<wm::IWMStreamConfig> stream;
            GUID output{}, type{};
            ASSERT_EQ(reader->GetOutputProps(i, props.Put()), S_OK);
            ASSERT_EQ(props->GetType(&output), S_OK);
            ASSERT_EQ(profile->GetStream(i, stream.Put()), S_OK);
            ASSERT_EQ(stream->GetStreamType(&type), S_OK);
            ASSERT_EQ(stream->GetStreamNumber(&numbers[i]), S_OK);
            EXPECT_TRUE(output == type);
            EXPECT_TRUE(type == (i == 0 ? wm::WMMEDIATYPE_Video : wm::WMMEDIATYPE_Audio));
        }
        wm::WMT_STREAM_SELECTION off[] = {wm::WMT_OFF};
        EXPECT_EQ(callback->clock->SetStreamsSelected(1, &numbers[1], off),
                  wm::NS_E_INVALID_REQUEST)
            << "only with manual selection";
        if (audioOff) {
            ASSERT_EQ(callback->clock->SetManualStreamSelection(TRUE), S_OK);
            ASSERT_EQ(callback->clock->SetStreamsSelected(1, &numbers[1], off), S_OK);
        }
        ASSERT_EQ(reader->Start(0, 0, 1.0f, nullptr), S_OK);
        ASSERT_TRUE(callback->WaitForStatus(wm::WMT_EOF));
        EXPECT_EQ(reader->Close(), S_OK);
        callback->clock.Reset();
        size_t samples = 0;
        for (const Event& e : callback->events()) {
            samples += e.kind == Event::kSample;
            EXPECT_TRUE(e.kind != Event::kSample || e.output == 1);
        }
        EXPECT_EQ(samples > 0, !audioOff);
    }
}

TEST_F(SdkReader, OpenRefusesFromTheHeaderWhatItCannotPlay) {
    const auto setFlags = [](std::vector<char>& b, size_t at) { b[at + 73] |= char(0x80); };
    const auto setTag = [](uint16_t tag) {
        return [tag](std::vector<char>& b, size_t at) {
            b[at + 78] = char(tag & 0xFF);
            b[at + 79] = char(tag >> 8);
        };
    };
    struct Case {
        std::string file;
        HRESULT open;
    } cases[] = {
        {Patched("mono.wma", "encrypted.wma", setFlags), wm::NS_E_PROTECTED_CONTENT},
        {Patched("mono.wma", "unknown-codec.wma", setTag(0x7777)),
         wm::NS_E_AUDIO_CODEC_NOT_INSTALLED},
        // A codec FFmpeg has, whose decoder then refuses the stream: the open
        // (header only) succeeds, and the decode ends at once with an error.
        {Patched("mono.wma", "wrong-codec.wma", setTag(0x0162)), S_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        wm::ComPtr<wm::IWMReader> reader = NewReader();
        wm::ComPtr<Recorder> callback(Recorder::Create());
        ASSERT_EQ(OpenAndWait(reader.Get(), callback.Get(), c.file), c.open);
        if (SUCCEEDED(c.open)) {
            ASSERT_EQ(reader->Start(0, 0, 1.0f, nullptr), S_OK);
            ASSERT_TRUE(callback->WaitForStatus(wm::WMT_ERROR));
            EXPECT_LT(callback->events().back().hr, 0) << "the end says why";
            EXPECT_TRUE(callback->pcm().empty());
        }
        reader->Close();
    }
}

}  // namespace
}  // namespace sdkreader
