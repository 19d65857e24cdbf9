// SPDX-License-Identifier: MIT
// The stand-in's profile manager, codec list, profiles, writer and file sink,
// driven through their COM interfaces the way the library drives them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "com_object.h"
#include "com_ptr.h"
#include "encode/codec_catalog.h"
#include "wmsdk_factories.h"

namespace {

using wm::ComPtr;

// A media type read into an aligned buffer.
struct MediaType {
    std::vector<uint64_t> storage;
    DWORD size = 0;
    const wm::WM_MEDIA_TYPE& type() const {
        return *reinterpret_cast<const wm::WM_MEDIA_TYPE*>(storage.data());
    }
    wm::WM_MEDIA_TYPE* mutableType() {
        return reinterpret_cast<wm::WM_MEDIA_TYPE*>(storage.data());
    }
    const BYTE* begin() const { return reinterpret_cast<const BYTE*>(storage.data()); }
};

HRESULT ReadMediaType(IUnknown* object, MediaType* out) {
    ComPtr<wm::IWMMediaProps> props;
    HRESULT hr = object->QueryInterface(wm::IID_IWMMediaProps, props.PutVoid());
    if (FAILED(hr)) return hr;
    if (FAILED(hr = props->GetMediaType(nullptr, &out->size))) return hr;
    out->storage.assign((out->size + 7) / 8, 0);
    return props->GetMediaType(out->mutableType(), &out->size);
}

ComPtr<wm::IWMCodecInfo> CodecInfo() {
    ComPtr<wm::IWMProfileManager> manager;
    ComPtr<wm::IWMCodecInfo> info;
    if (SUCCEEDED(WMCreateProfileManager(manager.Put()))) manager.As(info);
    return info;
}

std::u16string StreamName(wm::IWMStreamConfig* config, bool connection) {
    WORD length = 0;
    (connection ? config->GetConnectionName(nullptr, &length)
                : config->GetStreamName(nullptr, &length));
    std::u16string name(length, u'\0');
    (connection ? config->GetConnectionName(&name[0], &length)
                : config->GetStreamName(&name[0], &length));
    name.resize(length > 0 ? length - 1 : 0);
    return name;
}

// A one-stream profile built as the library builds it, from catalogue entry
// `index`; `tamper` may change the format bytes first.
ComPtr<wm::IWMProfile> BuildProfile(size_t index, void (*tamper)(BYTE*) = nullptr) {
    ComPtr<wm::IWMProfileManager> manager;
    ComPtr<wm::IWMProfile> profile;
    ComPtr<wm::IWMCodecInfo> info;
    ComPtr<wm::IWMStreamConfig> format, stream;
    MediaType type;
    if (FAILED(WMCreateProfileManager(manager.Put())) || FAILED(manager.As(info)) ||
        FAILED(manager->CreateEmptyProfile(wm::WMT_VER_7_0, profile.Put())) ||
        FAILED(info->GetCodecFormat(wm::WMMEDIATYPE_Audio, 0, static_cast<DWORD>(index),
                                    format.Put())) ||
        FAILED(ReadMediaType(format.Get(), &type)) ||
        FAILED(profile->CreateNewStream(wm::WMMEDIATYPE_Audio, stream.Put()))) {
        return {};
    }
    if (tamper != nullptr) tamper(type.mutableType()->pbFormat);
    ComPtr<wm::IWMMediaProps> props;
    if (FAILED(stream->SetStreamNumber(1)) || FAILED(stream->SetStreamName(u"Audio Stream")) ||
        FAILED(stream->SetConnectionName(u"Audio")) ||
        FAILED(stream->SetBitrate(ffsdk::WmaCatalogAt(index)->bitrate)) ||
        FAILED(stream.As(props)) || FAILED(props->SetMediaType(type.mutableType())) ||
        FAILED(profile->AddStream(stream.Get()))) {
        return {};
    }
    return profile;
}

struct WriterSet {
    ComPtr<wm::IWMWriter> writer;
    ComPtr<wm::IWMWriterAdvanced> advanced;
    ComPtr<wm::IWMWriterFileSink> sink;
    ComPtr<wm::IWMWriterFileSink2> sink2;
};

WriterSet MakeWriter() {
    WriterSet w;
    EXPECT_EQ(WMCreateWriterPriv(w.writer.Put()), S_OK);
    EXPECT_EQ(WMCreateWriterFileSink(w.sink.Put()), S_OK);
    EXPECT_EQ(w.writer.As(w.advanced), S_OK);
    EXPECT_EQ(w.sink.As(w.sink2), S_OK);
    return w;
}

HRESULT WritePcm(wm::IWMWriter* writer, const void* bytes, DWORD size, wm::QWORD time) {
    ComPtr<wm::INSSBuffer> sample;
    HRESULT hr = writer->AllocateSample(size, sample.Put());
    if (FAILED(hr)) return hr;
    BYTE* buffer = nullptr;
    DWORD length = 0;
    if (FAILED(hr = sample->GetBufferAndLength(&buffer, &length))) return hr;
    if (length != size) return E_FAIL;
    std::memcpy(buffer, bytes, size);
    return writer->WriteSample(0, time, 0, sample.Get());
}

std::string TempPath(const char* name) {
    return ::testing::TempDir() + "sdk_writer_" + std::to_string(getpid()) + "_" + name;
}

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

bool HaveFfprobe() {
    return std::system("command -v ffprobe >/dev/null 2>&1") == 0;
}

std::string Capture(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

// Any IWMWriterSink that is not the stand-in's own file sink.
class ForeignSink final : public wm::ComObject<wm::IWMWriterSink> {
  public:
    HRESULT STDMETHODCALLTYPE OnHeader(wm::INSSBuffer*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsRealTime(BOOL*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AllocateDataUnit(DWORD, wm::INSSBuffer**) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE OnDataUnit(wm::INSSBuffer*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnEndWriting() override { return S_OK; }
};

TEST(SdkCodecInfo, ListsTheCatalogueInOrder) {
    ComPtr<wm::IWMCodecInfo> info = CodecInfo();
    ASSERT_TRUE(info);
    DWORD codecs = 9;
    ASSERT_EQ(info->GetCodecInfoCount(wm::WMMEDIATYPE_Audio, &codecs), S_OK);
    EXPECT_EQ(codecs, 1u);
    ASSERT_EQ(info->GetCodecInfoCount(wm::WMMEDIATYPE_Video, &codecs), S_OK);
    EXPECT_EQ(codecs, 0u);
    DWORD formats = 0;
    ASSERT_EQ(info->GetCodecFormatCount(wm::WMMEDIATYPE_Audio, 0, &formats), S_OK);
    ASSERT_EQ(formats, ffsdk::WmaCatalogCount());
    EXPECT_EQ(info->GetCodecFormatCount(wm::WMMEDIATYPE_Audio, 1, &formats), E_INVALIDARG);

    for (DWORD f = 0; f < ffsdk::WmaCatalogCount(); ++f) {
        SCOPED_TRACE(f);
        const ffsdk::WmaCatalogEntry* entry = ffsdk::WmaCatalogAt(f);
        ComPtr<wm::IWMStreamConfig> config;
        ASSERT_EQ(info->GetCodecFormat(wm::WMMEDIATYPE_Audio, 0, f, config.Put()), S_OK);
        DWORD bitrate = 0;
        EXPECT_EQ(config->GetBitrate(&bitrate), S_OK);
        EXPECT_EQ(bitrate, entry->bitrate);

        ComPtr<wm::IWMMediaProps> props;
        ASSERT_EQ(config.As(props), S_OK);
        DWORD size = 0;
        ASSERT_EQ(props->GetMediaType(nullptr, &size), S_OK);
        EXPECT_EQ(size, sizeof(wm::WM_MEDIA_TYPE) + ffsdk::kWmaV2FormatSize);
        std::vector<uint64_t> small((size + 7) / 8);
        DWORD tooSmall = size - 1;
        EXPECT_EQ(
            props->GetMediaType(reinterpret_cast<wm::WM_MEDIA_TYPE*>(small.data()), &tooSmall),
            wm::ASF_E_BUFFERTOOSMALL);

        MediaType type;
        ASSERT_EQ(ReadMediaType(config.Get(), &type), S_OK);
        const wm::WM_MEDIA_TYPE& t = type.type();
        EXPECT_EQ(t.majortype, wm::WMMEDIATYPE_Audio);
        EXPECT_EQ(t.subtype, wm::AudioSubtype(0x0161));
        EXPECT_EQ(t.bFixedSizeSamples, TRUE);
        EXPECT_EQ(t.bTemporalCompression, FALSE);
        EXPECT_EQ(t.formattype, wm::WMFORMAT_WaveFormatEx);
        EXPECT_EQ(t.pUnk, nullptr);
        ASSERT_EQ(t.cbFormat, ffsdk::kWmaV2FormatSize);
        EXPECT_EQ(t.pbFormat, type.begin() + sizeof(wm::WM_MEDIA_TYPE)) << "one contiguous block";
        EXPECT_EQ(std::memcmp(t.pbFormat, entry->format, ffsdk::kWmaV2FormatSize), 0);
        wm::WAVEFORMATEX wfx;
        std::memcpy(&wfx, t.pbFormat, sizeof wfx);
        EXPECT_EQ(t.lSampleSize, wfx.nBlockAlign);
        EXPECT_EQ(wfx.nSamplesPerSec, entry->sampleRate);
        EXPECT_EQ(wfx.nChannels, entry->channels);
        EXPECT_EQ(wfx.nAvgBytesPerSec * 8, entry->bitrate);
    }
    ComPtr<wm::IWMStreamConfig> none;
    EXPECT_EQ(info->GetCodecFormat(wm::WMMEDIATYPE_Audio, 0,
                                   static_cast<DWORD>(ffsdk::WmaCatalogCount()), none.Put()),
              E_INVALIDARG);
    EXPECT_EQ(info->GetCodecFormat(wm::WMMEDIATYPE_Audio, 1, 0, none.Put()), E_INVALIDARG);
    EXPECT_EQ(info->GetCodecFormat(wm::WMMEDIATYPE_Video, 0, 0, none.Put()), E_INVALIDARG);
    EXPECT_FALSE(none);
}

TEST(SdkProfile, KeepsACopyOfTheAddedStream) {
    ComPtr<wm::IWMProfileManager> manager;
    ASSERT_EQ(WMCreateProfileManager(manager.Put()), S_OK);
    ComPtr<wm::IWMProfile> profile;
    ASSERT_EQ(manager->CreateEmptyProfile(wm::WMT_VER_7_0, profile.Put()), S_OK);
    ASSERT_EQ(profile->SetName(u"Custom Profile"), S_OK);
    DWORD nameLength = 0;
    ASSERT_EQ(profile->GetName(nullptr, &nameLength), S_OK);
    std::u16string name(nameLength, u'\0');
    DWORD tooShort = nameLength - 1;
    EXPECT_EQ(profile->GetName(&name[0], &tooShort), wm::ASF_E_BUFFERTOOSMALL);
    ASSERT_EQ(profile->GetName(&name[0], &nameLength), S_OK);
    EXPECT_EQ(name, std::u16string(u"Custom Profile", 15));

    ComPtr<wm::IWMStreamConfig> video;
    EXPECT_LT(profile->CreateNewStream(wm::WMMEDIATYPE_Video, video.Put()), 0);

    ComPtr<wm::IWMStreamConfig> stream;
    ASSERT_EQ(profile->CreateNewStream(wm::WMMEDIATYPE_Audio, stream.Put()), S_OK);
    EXPECT_LT(profile->AddStream(stream.Get()), 0) << "a stream with no number or media type";
    ComPtr<wm::IWMCodecInfo> info = CodecInfo();
    ComPtr<wm::IWMStreamConfig> format;
    ASSERT_EQ(info->GetCodecFormat(wm::WMMEDIATYPE_Audio, 0, 5, format.Put()), S_OK);
    MediaType type;
    ASSERT_EQ(ReadMediaType(format.Get(), &type), S_OK);
    ComPtr<wm::IWMMediaProps> props;
    ASSERT_EQ(stream.As(props), S_OK);
    ASSERT_EQ(stream->SetStreamNumber(1), S_OK);
    ASSERT_EQ(stream->SetStreamName(u"Audio Stream"), S_OK);
    ASSERT_EQ(stream->SetConnectionName(u"Audio"), S_OK);
    ASSERT_EQ(stream->SetBitrate(128000), S_OK);
    ASSERT_EQ(props->SetMediaType(type.mutableType()), S_OK);
    ASSERT_EQ(profile->AddStream(stream.Get()), S_OK);

    // Later changes to the stream and to the caller's media type buffer do
    // not reach the profile.
    std::memset(type.mutableType()->pbFormat, 0, type.type().cbFormat);
    ASSERT_EQ(stream->SetBitrate(1), S_OK);
    ASSERT_EQ(stream->SetStreamName(u"x"), S_OK);
    EXPECT_EQ(profile->AddStream(stream.Get()), wm::NS_E_INVALID_REQUEST) << "one stream only";

    DWORD count = 0;
    ASSERT_EQ(profile->GetStreamCount(&count), S_OK);
    ASSERT_EQ(count, 1u);
    ComPtr<wm::IWMStreamConfig> kept;
    ASSERT_EQ(profile->GetStream(0, kept.Put()), S_OK);
    WORD number = 0;
    DWORD bitrate = 0;
    GUID streamType{};
    EXPECT_EQ(kept->GetStreamNumber(&number), S_OK);
    EXPECT_EQ(kept->GetBitrate(&bitrate), S_OK);
    EXPECT_EQ(kept->GetStreamType(&streamType), S_OK);
    EXPECT_EQ(number, 1);
    EXPECT_EQ(bitrate, 128000u);
    EXPECT_EQ(streamType, wm::WMMEDIATYPE_Audio);
    EXPECT_EQ(StreamName(kept.Get(), false), u"Audio Stream");
    EXPECT_EQ(StreamName(kept.Get(), true), u"Audio");
    MediaType keptType;
    ASSERT_EQ(ReadMediaType(kept.Get(), &keptType), S_OK);
    ASSERT_EQ(keptType.type().cbFormat, ffsdk::kWmaV2FormatSize);
    EXPECT_EQ(std::memcmp(keptType.type().pbFormat, ffsdk::WmaCatalogAt(5)->format,
                          ffsdk::kWmaV2FormatSize),
              0);
    ComPtr<wm::IWMStreamConfig> none;
    EXPECT_EQ(profile->GetStream(1, none.Put()), E_INVALIDARG);
}

TEST(SdkWriter, CallsOutOfOrderFail) {
    const std::string path = TempPath("order.wma");
    WriterSet w = MakeWriter();
    const int16_t pcm[4] = {1, 2, 3, 4};

    // Nothing set up yet.
    EXPECT_EQ(w.writer->BeginWriting(), wm::NS_E_INVALID_REQUEST);
    EXPECT_EQ(WritePcm(w.writer.Get(), pcm, sizeof pcm, 0), wm::NS_E_INVALID_REQUEST);
    EXPECT_EQ(w.writer->EndWriting(), wm::NS_E_INVALID_REQUEST);
    EXPECT_LT(w.sink2->Close(), 0) << "never opened";
    EXPECT_EQ(w.writer->SetProfile(nullptr), E_POINTER);

    // Only our own file sink is taken, once.
    ComPtr<wm::IWMWriterSink> foreign(new ForeignSink);
    EXPECT_LT(w.advanced->AddSink(foreign.Get()), 0);
    EXPECT_EQ(w.advanced->AddSink(w.sink2.Get()), S_OK);
    EXPECT_EQ(w.advanced->AddSink(w.sink2.Get()), wm::NS_E_INVALID_REQUEST);

    // A format that is not one the encoder makes.
    ComPtr<wm::IWMProfile> odd = BuildProfile(5, [](BYTE* f) { f[8] ^= 1; });
    ASSERT_TRUE(odd);
    EXPECT_EQ(w.writer->SetProfile(odd.Get()), wm::NS_E_INVALID_INPUT_FORMAT);
    ComPtr<wm::IWMProfileManager> manager;
    ComPtr<wm::IWMProfile> empty;
    ASSERT_EQ(WMCreateProfileManager(manager.Put()), S_OK);
    ASSERT_EQ(manager->CreateEmptyProfile(wm::WMT_VER_7_0, empty.Put()), S_OK);
    EXPECT_LT(w.writer->SetProfile(empty.Get()), 0);
    EXPECT_EQ(w.writer->BeginWriting(), wm::NS_E_INVALID_REQUEST) << "no profile";

    ComPtr<wm::IWMProfile> profile = BuildProfile(5);
    ASSERT_TRUE(profile);
    ASSERT_EQ(w.writer->SetProfile(profile.Get()), S_OK);
    EXPECT_EQ(w.writer->BeginWriting(), wm::NS_E_INVALID_REQUEST) << "the sink has no file";
    EXPECT_EQ(w.sink->Open(nullptr), E_POINTER);
    ASSERT_EQ(w.sink->Open(Wide(path).c_str()), S_OK);
    ASSERT_EQ(w.writer->BeginWriting(), S_OK);

    // While writing.
    EXPECT_EQ(w.writer->BeginWriting(), wm::NS_E_INVALID_REQUEST);
    EXPECT_EQ(w.writer->SetProfile(profile.Get()), wm::NS_E_INVALID_REQUEST);
    EXPECT_EQ(w.sink->Open(Wide(path).c_str()), wm::NS_E_INVALID_REQUEST);
    EXPECT_EQ(w.sink2->Close(), wm::NS_E_INVALID_REQUEST);
    EXPECT_EQ(w.advanced->RemoveSink(w.sink2.Get()), wm::NS_E_INVALID_REQUEST);
    EXPECT_EQ(w.writer->WriteSample(0, 0, 0, nullptr), E_POINTER);
    ComPtr<wm::INSSBuffer> sample;
    ASSERT_EQ(w.writer->AllocateSample(4, sample.Put()), S_OK);
    EXPECT_EQ(w.writer->WriteSample(1, 0, 0, sample.Get()), E_INVALIDARG);
    EXPECT_EQ(WritePcm(w.writer.Get(), pcm, sizeof pcm, 0), S_OK);

    ASSERT_EQ(w.writer->EndWriting(), S_OK);
    EXPECT_EQ(w.writer->EndWriting(), wm::NS_E_INVALID_REQUEST);
    EXPECT_EQ(WritePcm(w.writer.Get(), pcm, sizeof pcm, 0), wm::NS_E_INVALID_REQUEST);
    BOOL closed = TRUE;
    EXPECT_EQ(w.sink2->IsClosed(&closed), S_OK);
    EXPECT_EQ(closed, FALSE);
    EXPECT_EQ(w.sink2->Close(), S_OK);
    EXPECT_EQ(w.sink2->IsClosed(&closed), S_OK);
    EXPECT_EQ(closed, TRUE);
    EXPECT_EQ(w.writer->BeginWriting(), wm::NS_E_INVALID_REQUEST) << "the sink is closed";
    std::remove(path.c_str());
}

TEST(SdkWriter, AbandonedWriterLeavesNoReferences) {
    // Released in the middle of writing: the writer frees itself and its sink
    // reference (AddressSanitizer's leak check sees the rest).
    const std::string path = TempPath("abandoned.wma");
    WriterSet w = MakeWriter();
    ComPtr<wm::IWMProfile> profile = BuildProfile(12);
    ASSERT_TRUE(profile);
    ASSERT_EQ(w.advanced->AddSink(w.sink2.Get()), S_OK);
    ASSERT_EQ(w.writer->SetProfile(profile.Get()), S_OK);
    ASSERT_EQ(w.sink->Open(Wide(path).c_str()), S_OK);
    ASSERT_EQ(w.writer->BeginWriting(), S_OK);
    const std::vector<int16_t> pcm(3000, 100);
    ASSERT_EQ(WritePcm(w.writer.Get(), pcm.data(), static_cast<DWORD>(pcm.size() * 2), 0), S_OK);
    w.writer.Reset();
    w.advanced.Reset();
    EXPECT_EQ(w.sink2->Close(), S_OK) << "no writer is using the file any more";
    std::remove(path.c_str());
}

TEST(SdkWriter, EncodesOddSizedSamplesIntoAFileFfprobeReads) {
    const std::string path = TempPath("encode.wma");
    WriterSet w = MakeWriter();
    ComPtr<wm::IWMProfile> profile = BuildProfile(5);  // 44.1 kHz stereo 128k
    ASSERT_TRUE(profile);
    ASSERT_EQ(w.advanced->AddSink(w.sink2.Get()), S_OK);
    ASSERT_EQ(w.writer->SetProfile(profile.Get()), S_OK);
    ASSERT_EQ(w.sink->Open(Wide(path).c_str()), S_OK);
    ASSERT_EQ(w.writer->BeginWriting(), S_OK);

    // 0.75 s of a tone, handed over in blocks that split frames and samples.
    const size_t frames = 33075;
    std::vector<int16_t> pcm(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<int16_t>(8000 * std::sin(2 * 3.14159265 * 440 * i / 44100.0));
        pcm[2 * i] = v;
        pcm[2 * i + 1] = static_cast<int16_t>(-v);
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(pcm.data());
    const size_t total = pcm.size() * 2;
    wm::QWORD time = 0;
    for (size_t at = 0, block = 1; at < total; block = block * 7 % 4099 + 1) {
        const size_t n = std::min(block, total - at);
        ASSERT_EQ(WritePcm(w.writer.Get(), bytes + at, static_cast<DWORD>(n), time), S_OK);
        at += n;
        time += n * 10000000 / 176400;
    }
    ASSERT_EQ(w.writer->EndWriting(), S_OK);
    ASSERT_EQ(w.sink2->Close(), S_OK);
    wm::QWORD duration = 0;
    EXPECT_EQ(w.sink2->GetFileDuration(&duration), S_OK);
    EXPECT_EQ(duration, 7500000u);

    if (!HaveFfprobe()) GTEST_SKIP() << "ffprobe not installed";
    const std::string out = Capture(
        "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels:format=duration "
        "-of default=noprint_wrappers=1 '" +
        path + "'");
    EXPECT_NE(out.find("codec_name=wmav2"), std::string::npos) << out;
    EXPECT_NE(out.find("sample_rate=44100"), std::string::npos) << out;
    EXPECT_NE(out.find("channels=2"), std::string::npos) << out;
    const size_t d = out.find("duration=");
    ASSERT_NE(d, std::string::npos) << out;
    const double seconds = std::atof(out.c_str() + d + 9);
    EXPECT_GE(seconds, 0.75 - 1e-6);
    EXPECT_LE(seconds, 0.85);
    std::remove(path.c_str());
}

}  // namespace
