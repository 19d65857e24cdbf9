// SPDX-License-Identifier: MIT
// The custom profile: which codec format the search picks, the stream it builds
// from it, and the references it leaves behind.
#include <gtest/gtest.h>

#include <cstring>

#include "com_ptr.h"
#include "fakes/fake_com.h"
#include "writer/audio_profile.h"

namespace {

using fakes::FakeProfileManager;
using fakes::Held;
using fakes::MakeAudioType;
using mervane::AudioRequest;
using wm::ComPtr;

constexpr WORD kWma = 0x0161;

// A profile manager whose profiles can be scripted as they are made.
class ScriptedProfileManager : public FakeProfileManager {
  public:
    HRESULT STDMETHODCALLTYPE CreateEmptyProfile(wm::WMT_VERSION version,
                                                 wm::IWMProfile** out) override {
        const HRESULT hr = FakeProfileManager::CreateEmptyProfile(version, out);
        if (SUCCEEDED(hr) && adjustProfile) adjustProfile(*profile);
        return hr;
    }
    std::function<void(fakes::FakeProfile&)> adjustProfile;
};
constexpr AudioRequest k64k{64000, kWma, 44100, 2};

class ProfileSearch : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetFakes();
        fakes::Serve(fakes::ScriptedFactories().profileManager, manager);
    }

    HRESULT Build(const AudioRequest& request = k64k) {
        return mervane::BuildAudioProfile(&request, profile.Put());
    }

    // The format block the stream was given.
    std::vector<BYTE> ChosenFormat() const {
        return manager->profile->newStream->setMediaTypeFormat;
    }

    // Nothing the library obtained is still held by it: the manager and every
    // configuration keep only the test's or the manager's own reference.
    void ExpectAllReleased() const {
        EXPECT_EQ(manager->Refs(), 1);
        for (auto* config : manager->handedOut) EXPECT_EQ(config->Refs(), 1);
        if (manager->profile != nullptr) {
            EXPECT_EQ(manager->profile->Refs(), profile ? 2 : 1);
            if (manager->profile->newStream != nullptr) {
                EXPECT_EQ(manager->profile->newStream->Refs(), 1);
            }
        }
    }

    Held<ScriptedProfileManager> manager;
    ComPtr<wm::IWMProfile> profile;
};

TEST_F(ProfileSearch, BitrateWithin249BitsPerSecondMatches) {
    struct Case {
        DWORD avgBytesPerSec;
        bool matches;
    };
    for (const Case c : {Case{7969, true}, Case{8031, true}, Case{7968, false}, Case{8032, false},
                         Case{8000, true}}) {
        SCOPED_TRACE(c.avgBytesPerSec);
        Held<FakeProfileManager> fresh;
        fakes::Serve(fakes::ScriptedFactories().profileManager, fresh);
        fresh->codecs = {{MakeAudioType(kWma, 2, 44100, c.avgBytesPerSec, 743)}};
        const HRESULT hr = mervane::BuildAudioProfile(&k64k, profile.Put());
        if (c.matches) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(fresh->profile->newStream->bitrate, c.avgBytesPerSec * 8);
        } else {
            EXPECT_EQ(hr, wm::NS_E_AUDIO_CODEC_NOT_INSTALLED);
            EXPECT_FALSE(profile);
        }
        profile.Reset();
    }
}

TEST_F(ProfileSearch, RateChannelsAndTagMustMatchExactly) {
    manager->codecs = {{MakeAudioType(kWma, 2, 48000, 8000, 743),
                        MakeAudioType(kWma, 1, 44100, 8000, 743),
                        MakeAudioType(0x0160, 2, 44100, 8000, 743)}};
    EXPECT_EQ(Build(), wm::NS_E_AUDIO_CODEC_NOT_INSTALLED);
    EXPECT_FALSE(profile);
    // The search looked at every format and made no stream.
    EXPECT_EQ(fakes::CallLog::Instance().Matching("CodecInfo.GetCodecFormat(").size(), 3u);
    EXPECT_TRUE(fakes::CallLog::Instance().Matching("Profile.CreateNewStream").empty());
    ExpectAllReleased();
}

TEST_F(ProfileSearch, LargestBlockAlignmentWinsAndTheLaterOfEquals) {
    manager->codecs = {
        {MakeAudioType(kWma, 2, 44100, 8000, 743), MakeAudioType(kWma, 2, 44100, 8001, 371)},
        {},  // a codec without formats is passed over
        {MakeAudioType(kWma, 2, 44100, 7990, 743, {1, 2})},
    };
    ASSERT_EQ(Build(), S_OK);
    EXPECT_EQ(ChosenFormat(), fakes::MakeWaveFormat(kWma, 2, 44100, 7990, 743, {1, 2}));

    Held<FakeProfileManager> larger;
    fakes::Serve(fakes::ScriptedFactories().profileManager, larger);
    larger->codecs = {{MakeAudioType(kWma, 2, 44100, 8000, 371),
                       MakeAudioType(kWma, 2, 44100, 8000, 743),
                       MakeAudioType(kWma, 2, 44100, 8000, 742)}};
    profile.Reset();
    ASSERT_EQ(mervane::BuildAudioProfile(&k64k, profile.Put()), S_OK);
    EXPECT_EQ(larger->profile->newStream->setType.lSampleSize, 743u);
}

TEST_F(ProfileSearch, StreamCarriesTheChosenFormatExactly) {
    const std::vector<BYTE> extra{0x00, 0x88, 0x00, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00};
    manager->codecs = {{MakeAudioType(kWma, 2, 44100, 8000, 2973, extra, 16)}};
    ASSERT_EQ(Build(), S_OK);

    FakeProfileManager& m = *manager.get();
    EXPECT_EQ(m.profileVersion, wm::WMT_VER_7_0);
    EXPECT_EQ(m.profile->name, u"Custom Profile");
    EXPECT_EQ(m.profile->newStreamType, wm::WMMEDIATYPE_Audio);
    ASSERT_NE(m.profile->newStream, nullptr);
    EXPECT_EQ(m.profile->addedStream, static_cast<wm::IWMStreamConfig*>(m.profile->newStream));

    const fakes::FakeStreamConfig& stream = *m.profile->newStream;
    EXPECT_EQ(stream.streamNumber, 1);
    EXPECT_EQ(stream.streamName, u"Audio Stream");
    EXPECT_EQ(stream.connectionName, u"Audio");
    EXPECT_EQ(stream.bitrate, 64000u);
    ASSERT_TRUE(stream.mediaTypeSet);
    const wm::WM_MEDIA_TYPE& type = stream.setType;
    EXPECT_EQ(type.majortype, wm::WMMEDIATYPE_Audio);
    EXPECT_EQ(type.subtype, wm::AudioSubtype(kWma));
    EXPECT_EQ(type.bFixedSizeSamples, TRUE);
    EXPECT_EQ(type.bTemporalCompression, FALSE);
    EXPECT_EQ(type.lSampleSize, 2973u);
    EXPECT_EQ(type.formattype, wm::WMFORMAT_WaveFormatEx);
    EXPECT_EQ(type.pUnk, nullptr);
    EXPECT_EQ(type.cbFormat, 18u + extra.size());
    EXPECT_EQ(stream.setMediaTypeFormat, fakes::MakeWaveFormat(kWma, 2, 44100, 8000, 2973, extra));

    EXPECT_EQ(
        fakes::CallLog::Instance().Matching("StreamConfig.Set"),
        (std::vector<std::string>{"StreamConfig.SetStreamNumber", "StreamConfig.SetStreamName",
                                  "StreamConfig.SetConnectionName", "StreamConfig.SetBitrate",
                                  "StreamConfig.SetMediaType"}));
    EXPECT_EQ(fakes::CallLog::Instance().Entries().back(), "Profile.AddStream");
    ExpectAllReleased();
    profile.Reset();
    EXPECT_EQ(m.profile->Refs(), 1);
}

TEST_F(ProfileSearch, FormatThatIsNotWaveFormatExFailsEvenAfterAMatch) {
    manager->codecs = {{MakeAudioType(kWma, 2, 44100, 8000, 743)},
                       {fakes::MakeMediaType(wm::WMMEDIATYPE_Audio, wm::WMMEDIATYPE_Video,
                                             fakes::MakeWaveFormat(kWma, 2, 44100, 8000, 743))}};
    EXPECT_EQ(Build(), E_FAIL);
    EXPECT_FALSE(profile);
    ExpectAllReleased();

    // A WAVEFORMATEX type whose block is shorter than the structure is not one.
    Held<FakeProfileManager> shortBlock;
    fakes::Serve(fakes::ScriptedFactories().profileManager, shortBlock);
    shortBlock->codecs = {{fakes::MakeMediaType(wm::WMMEDIATYPE_Audio, wm::WMFORMAT_WaveFormatEx,
                                                std::vector<BYTE>(16, 0))}};
    EXPECT_EQ(mervane::BuildAudioProfile(&k64k, profile.Put()), E_FAIL);
}

TEST_F(ProfileSearch, FailingStepsStopTheBuildWithTheirResult) {
    const HRESULT kFailure = static_cast<HRESULT>(0x80041234u);
    auto& log = fakes::CallLog::Instance();
    manager->codecs = {{MakeAudioType(kWma, 2, 44100, 8000, 743),
                        MakeAudioType(kWma, 2, 44100, 8000, 743),
                        MakeAudioType(kWma, 2, 44100, 8000, 743)}};
    manager->codecFormatResult = [&](DWORD, DWORD format) { return format == 1 ? kFailure : S_OK; };
    EXPECT_EQ(Build(), kFailure);
    EXPECT_TRUE(log.Matching("CodecInfo.GetCodecFormat(0,2)").empty());
    EXPECT_FALSE(profile);
    ExpectAllReleased();

    manager->codecFormatResult = nullptr;
    manager->adjustConfig = [&](DWORD, DWORD format, fakes::FakeStreamConfig& config) {
        if (format == 2) config.fetchResult = kFailure;
    };
    EXPECT_EQ(Build(), kFailure);
    ExpectAllReleased();

    manager->adjustConfig = nullptr;
    manager->createEmptyProfileResult = kFailure;
    log.Clear();
    EXPECT_EQ(Build(), kFailure);
    EXPECT_TRUE(log.Matching("CodecInfo.").empty());
    manager->createEmptyProfileResult = S_OK;

    manager->codecs = {{MakeAudioType(kWma, 2, 44100, 8000, 743)}};
    for (const std::string step : {"SetName", "CreateNewStream", "AddStream"}) {
        SCOPED_TRACE(step);
        manager->adjustProfile = [&](fakes::FakeProfile& made) {
            if (step == "SetName") made.setNameResult = kFailure;
            if (step == "CreateNewStream") made.createNewStreamResult = kFailure;
            if (step == "AddStream") made.addStreamResult = kFailure;
        };
        log.Clear();
        EXPECT_EQ(Build(), kFailure);
        EXPECT_FALSE(profile);
        EXPECT_EQ(log.Entries().back(), "Profile." + step);
        ExpectAllReleased();
    }
}

TEST_F(ProfileSearch, StreamSetupStopsAtItsFirstFailure) {
    const HRESULT kFailure = static_cast<HRESULT>(0x80045678u);
    Held<fakes::FakeStreamConfig> config;
    config->setterResult = [&](const std::string& name) {
        return name == "SetConnectionName" ? kFailure : S_OK;
    };
    wm::WM_MEDIA_TYPE type{};
    EXPECT_EQ(mervane::ConfigureStream(config.get(), 1, u"Audio Stream", u"Audio", 64000, &type),
              kFailure);
    EXPECT_EQ(
        fakes::CallLog::Instance().Entries(),
        (std::vector<std::string>{"StreamConfig.SetStreamNumber", "StreamConfig.SetStreamName",
                                  "StreamConfig.SetConnectionName"}));

    // Media properties that cannot be had stop it before SetMediaType; the
    // properties are released when SetMediaType fails, too.
    config->setterResult = nullptr;
    config->queryOverride = [&](REFIID iid) {
        return iid == wm::IID_IWMMediaProps ? E_NOINTERFACE : S_OK;
    };
    EXPECT_EQ(mervane::ConfigureStream(config.get(), 1, u"A", u"B", 1, &type), E_NOINTERFACE);
    EXPECT_FALSE(config->mediaTypeSet);
    config->queryOverride = nullptr;
    config->setterResult = [&](const std::string& name) {
        return name == "SetMediaType" ? kFailure : S_OK;
    };
    EXPECT_EQ(mervane::ConfigureStream(config.get(), 1, u"A", u"B", 1, &type), kFailure);
    EXPECT_EQ(config->Refs(), 1);
}

TEST_F(ProfileSearch, MissingRequestOrOutPointerIsInvalid) {
    wm::IWMProfile* out = nullptr;
    EXPECT_EQ(mervane::BuildAudioProfile(nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(mervane::BuildAudioProfile(&k64k, nullptr), E_INVALIDARG);
    EXPECT_TRUE(fakes::CallLog::Instance().Entries().empty());
}

}  // namespace
