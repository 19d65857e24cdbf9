// SPDX-License-Identifier: MIT
// EnumWMAFormat against scripted codec lists: order, stops, and releases.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "fakes/fake_com.h"
#include "mervane.h"

namespace {

using fakes::FakeProfileManager;
using fakes::Held;
using fakes::MakeAudioType;

using Reported = std::tuple<uint32_t, uint32_t, uint32_t>;  // bitrate, channels, rate
std::vector<Reported> g_reported;

int32_t MERVANE_CALL Collect(uint32_t bitrate, uint32_t channels, uint32_t rate) {
    g_reported.emplace_back(bitrate, channels, rate);
    return 0;
}

class EnumWMAFormatTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetFakes();
        g_reported.clear();
        fakes::Serve(fakes::ScriptedFactories().profileManager, manager_);
    }
    void TearDown() override { fakes::ResetFakes(); }

    // Every reference the library obtained was released: the manager and every
    // configuration it handed out hold only the references kept for the test.
    void ExpectAllReleased() {
        EXPECT_EQ(manager_->Refs(), 1);
        for (auto* config : manager_->handedOut) EXPECT_EQ(config->Refs(), 1);
    }

    Held<FakeProfileManager> manager_;
};

TEST_F(EnumWMAFormatTest, ReportsEveryFormatInPlatformOrderIncludingDuplicatesAndOtherTags) {
    manager_->codecs = {
        {MakeAudioType(0x0161, 2, 44100, 16000, 743, {0, 0, 0, 0, 1, 0, 0, 0, 0, 0}),
         MakeAudioType(0x0161, 1, 22050, 4000, 186)},
        {},  // a codec without formats is skipped
        {MakeAudioType(0x0162, 2, 48000, 24000, 4096),
         MakeAudioType(0x0162, 2, 48000, 24000, 4096)},
    };
    EnumWMAFormat(Collect);
    EXPECT_EQ(g_reported,
              (std::vector<Reported>{
                  {128000, 2, 44100}, {32000, 1, 22050}, {192000, 2, 48000}, {192000, 2, 48000}}));
    ExpectAllReleased();
}

TEST_F(EnumWMAFormatTest, NoAudioCodecsMeansNoCalls) {
    EnumWMAFormat(Collect);
    EXPECT_TRUE(g_reported.empty());
    ExpectAllReleased();
}

TEST_F(EnumWMAFormatTest, FormatThatIsNotWaveFormatExEndsTheWholeEnumeration) {
    manager_->codecs = {
        {MakeAudioType(0x0161, 2, 44100, 16000, 743),
         fakes::MakeMediaType(wm::WMMEDIATYPE_Audio, wm::WMMEDIATYPE_Video, {1, 2, 3}),
         MakeAudioType(0x0161, 2, 44100, 8000, 372)},
        {MakeAudioType(0x0161, 2, 32000, 6000, 600)},
    };
    EnumWMAFormat(Collect);
    EXPECT_EQ(g_reported, (std::vector<Reported>{{128000, 2, 44100}}));
    ExpectAllReleased();
}

TEST_F(EnumWMAFormatTest, AnyFailingCallStopsWithWhatWasAlreadyReported) {
    manager_->codecs = {{MakeAudioType(0x0161, 2, 44100, 16000, 743),
                         MakeAudioType(0x0161, 2, 44100, 12000, 557),
                         MakeAudioType(0x0161, 2, 44100, 8000, 372)}};
    struct Case {
        const char* what;
        std::function<void(FakeProfileManager&)> script;
        size_t expected;
    };
    const std::vector<Case> cases = {
        {"codec count", [](FakeProfileManager& m) { m.codecInfoCountResult = E_FAIL; }, 0},
        {"format count", [](FakeProfileManager& m) { m.codecFormatCountResult = E_FAIL; }, 0},
        {"second format",
         [](FakeProfileManager& m) {
             m.codecFormatResult = [](DWORD, DWORD f) { return f == 1 ? E_FAIL : S_OK; };
         },
         1},
        {"size query of the third",
         [](FakeProfileManager& m) {
             m.adjustConfig = [](DWORD, DWORD f, fakes::FakeStreamConfig& c) {
                 if (f == 2) c.sizeQueryResult = E_FAIL;
             };
         },
         2},
        {"fetch of the second",
         [](FakeProfileManager& m) {
             m.adjustConfig = [](DWORD, DWORD f, fakes::FakeStreamConfig& c) {
                 if (f == 1) c.fetchResult = E_FAIL;
             };
         },
         1},
        {"no media properties",
         [](FakeProfileManager& m) {
             m.adjustConfig = [](DWORD, DWORD, fakes::FakeStreamConfig& c) {
                 c.queryOverride = [](REFIID iid) {
                     return iid == wm::IID_IWMMediaProps ? E_NOINTERFACE : S_OK;
                 };
             };
         },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Held<FakeProfileManager> manager;
        manager->codecs = manager_->codecs;
        c.script(*manager.get());
        fakes::Serve(fakes::ScriptedFactories().profileManager, manager);
        g_reported.clear();
        EnumWMAFormat(Collect);
        EXPECT_EQ(g_reported.size(), c.expected);
        EXPECT_EQ(manager->Refs(), 1);
        for (auto* config : manager->handedOut) EXPECT_EQ(config->Refs(), 1);
    }
}

TEST_F(EnumWMAFormatTest, FactoryOrCodecInfoFailureReportsNothing) {
    fakes::ScriptedFactories().profileManager = [](wm::IWMProfileManager**) { return E_FAIL; };
    EnumWMAFormat(Collect);
    EXPECT_TRUE(g_reported.empty());

    fakes::Serve(fakes::ScriptedFactories().profileManager, manager_);
    manager_->codecs = {{MakeAudioType(0x0161, 2, 44100, 16000, 743)}};
    manager_->queryOverride = [](REFIID iid) {
        return iid == wm::IID_IWMCodecInfo ? E_NOINTERFACE : S_OK;
    };
    EnumWMAFormat(Collect);
    EXPECT_TRUE(g_reported.empty());
    ExpectAllReleased();
}

TEST_F(EnumWMAFormatTest, NullCallbackDoesNothingAndRepeatedCallsAreIndependent) {
    manager_->codecs = {{MakeAudioType(0x0161, 2, 44100, 16000, 743)}};
    EnumWMAFormat(nullptr);
    EXPECT_TRUE(fakes::CallLog::Instance().Entries().empty());
    EnumWMAFormat(Collect);
    EnumWMAFormat(Collect);
    EXPECT_EQ(g_reported.size(), 2u);
    EXPECT_EQ(fakes::CallLog::Instance().Matching("WMCreateProfileManager").size(), 2u);
    ExpectAllReleased();
}

}  // namespace
