// SPDX-License-Identifier: MIT
// GoGoGoReader and CancelReader against scripted fake readers: the start, the
// user clock, the end of a decode (once, however the statuses arrive), failures
// before the start, and cancels racing the end of the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <thread>

#include "fakes/fake_reader.h"
#include "reader/reader_callback.h"

namespace {

using fakes::FakeHost;
using fakes::FakeReader;
using fakes::Held;
using mervane::TheReaderCallback;

constexpr uint64_t kSecond = 10'000'000;
const auto kLimit = std::chrono::seconds(20);

class ReaderDecode : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetFakes();
        fakes::ClearReaderSlots();
        FakeHost::Instance().Reset();
        // Output 0 is audio: the decode hands it to the host.
        reader_->AddOutput(
            fakes::MakeAudioType(wm::WAVE_FORMAT_PCM, 2, 44'100, 176'400, 4, {}, 16));
        fakes::ServeReader(reader_.get());
        liveBefore_ = fakes::LiveObjects().load();
    }
    void TearDown() override {
        FakeHost::Instance().onEnd = nullptr;
        reader_->Join();
        fakes::ClearReaderSlots();
        reader_->ReleaseCallbacks();
        EXPECT_EQ(fakes::CallbackRefs(), 1);
    }

    int32_t Decode(uint32_t startMs = 0, int32_t userClock = TRUE,
                   SampleCallback callback = FakeHost::Callback()) {
        return GoGoGoReader("song.wma", startMs, userClock, callback);
    }
    // The end of a decode runs on a pool thread: waits for its end calls.
    static void WaitForEnd(int count = 1) {
        ASSERT_TRUE(FakeHost::Instance().WaitForEndCalls(count, kLimit));
    }
    // Closed once, every reference the library took released, callback let go,
    // and nothing of it done on the reader's own delivery thread.
    void ExpectTornDown() {
        EXPECT_EQ(reader_->callsThatWouldHang.load(), 0);
        EXPECT_EQ(reader_->closeCalls.load(), 1);
        EXPECT_EQ(reader_->Refs(), 1);
        EXPECT_EQ(fakes::LiveObjects().load(), liveBefore_);
        EXPECT_EQ(fakes::CallbackRefs(), 1);
        EXPECT_EQ(CancelReader(), 0);
    }

    Held<FakeReader> reader_;
    long liveBefore_ = 0;
};

TEST_F(ReaderDecode, StartsAtTheGivenPositionWithTheUserClockOneSecondAhead) {
    ASSERT_EQ(Decode(90'000), 1);
    EXPECT_EQ(reader_->startTime, 900'000'000u);
    EXPECT_EQ(reader_->startDuration, 0u);
    EXPECT_EQ(reader_->startRate, 1.0f);
    EXPECT_EQ(reader_->userClockCalls.load(), 1);
    EXPECT_EQ(reader_->userClock.load(), TRUE);
    EXPECT_EQ(FakeHost::Instance().EndCalls(), 0);

    reader_->Report(wm::WMT_STARTED);
    EXPECT_EQ(reader_->Tick(123), S_OK);  // the reader's own time is not used
    EXPECT_EQ(reader_->Tick(), S_OK);
    EXPECT_EQ(reader_->DeliveredTimes(),
              (std::vector<wm::QWORD>{910'000'000, 920'000'000, 930'000'000}));
}

TEST_F(ReaderDecode, ComputesTheStartWithoutA32BitOverflow) {
    ASSERT_EQ(Decode(0xFFFFFFFFu), 1);
    EXPECT_EQ(reader_->startTime, 0xFFFFFFFFull * 10'000);
    reader_->Report(wm::WMT_STARTED);
    EXPECT_EQ(reader_->DeliveredTimes(), std::vector<wm::QWORD>{0xFFFFFFFFull * 10'000 + kSecond});
}

TEST_F(ReaderDecode, WithoutTheUserClockStillDeliversTheStartTimeAndIgnoresItsResult) {
    reader_->deliverTimeResult = E_FAIL;
    ASSERT_EQ(Decode(0, FALSE), 1);
    EXPECT_EQ(reader_->userClockCalls.load(), 0);
    reader_->Report(wm::WMT_STARTED);
    EXPECT_EQ(reader_->DeliveredTimes(), std::vector<wm::QWORD>{kSecond});
    reader_->Report(wm::WMT_EOF);
    WaitForEnd();
}

TEST_F(ReaderDecode, AFileWhoseOutput0IsVideoIsRefusedAsItsQueryIs) {
    std::vector<BYTE>& type = reader_->outputs[0]->mediaType;
    std::memcpy(type.data(), &wm::WMMEDIATYPE_Video, sizeof(GUID));
    EXPECT_EQ(Decode(), 0);
    EXPECT_TRUE(FakeHost::Instance().Blocks().empty());
    EXPECT_EQ(FakeHost::Instance().EndCalls(), 0);
    EXPECT_EQ(reader_->closeCalls.load(), 1);
    EXPECT_EQ(reader_->Refs(), 1);
}

TEST_F(ReaderDecode, EndOfFileThenStopTearsDownOnceWithOneEndCall) {
    // The teardown order at the end of a stream: Close and both releases come
    // before the end call.
    int refsAtEnd = -1;
    bool closedAtEnd = false;
    FakeHost::Instance().onEnd = [&] {
        refsAtEnd = reader_->Refs();
        closedAtEnd = reader_->closed;
    };
    ASSERT_EQ(Decode(), 1);
    reader_->Report(wm::WMT_STARTED);
    EXPECT_EQ(reader_->Sample(0, 15'000'000, {1, 2, 3, 4}), S_OK);
    EXPECT_EQ(reader_->Sample(0, 25'000'000, {5, 6}), S_OK);

    reader_->Report(wm::WMT_EOF);
    reader_->Report(wm::WMT_STOPPED);

    WaitForEnd();
    EXPECT_EQ(FakeHost::Instance().EndCalls(), 1);
    EXPECT_TRUE(closedAtEnd);
    EXPECT_EQ(refsAtEnd, 1) << "both slots were released before the end call";
    const auto blocks = FakeHost::Instance().Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].timeMs, 1500u);
    EXPECT_EQ(blocks[1].timeMs, 2500u);
    ExpectTornDown();
}

TEST_F(ReaderDecode, ClockStatusesAfterTheEndDoNotReachTheReleasedReader) {
    ASSERT_EQ(Decode(), 1);
    reader_->Report(wm::WMT_STARTED);
    reader_->Report(wm::WMT_EOF);
    WaitForEnd();
    reader_->Report(wm::WMT_STARTED);
    EXPECT_EQ(reader_->Tick(), S_OK);
    EXPECT_EQ(reader_->DeliveredTimes(), std::vector<wm::QWORD>{kSecond});
    ExpectTornDown();
}

// A reader that cannot go on (a failed read, no memory) reports an error: the
// decode ends as at the end of the file. Other statuses end nothing.
TEST_F(ReaderDecode, AnErrorEndsTheDecodeOnceAndOtherStatusesDoNot) {
    ASSERT_EQ(Decode(), 1);
    reader_->Report(wm::WMT_END_OF_STREAMING);
    EXPECT_EQ(FakeHost::Instance().EndCalls(), 0);
    EXPECT_EQ(reader_->Refs(), 3) << "the test's and the two slots'";
    reader_->Report(wm::WMT_ERROR, E_OUTOFMEMORY);
    WaitForEnd();
    reader_->Report(wm::WMT_EOF);
    EXPECT_EQ(FakeHost::Instance().EndCalls(), 1);
    ExpectTornDown();
}

TEST_F(ReaderDecode, CancelStopsTheReaderAndTheStopStatusEndsTheDecode) {
    EXPECT_EQ(CancelReader(), 0) << "nothing to cancel yet";
    ASSERT_EQ(Decode(), 1);
    EXPECT_EQ(CancelReader(), 1);  // the fake reports status 12 from Stop
    WaitForEnd();
    reader_->Report(wm::WMT_EOF);
    EXPECT_EQ(FakeHost::Instance().EndCalls(), 1);
    ExpectTornDown();
}

TEST_F(ReaderDecode, ACancelThatTheReaderRefusesReturns0) {
    reader_->onStop = [](FakeReader&) { return E_FAIL; };
    ASSERT_EQ(Decode(), 1);
    EXPECT_EQ(CancelReader(), 0);
    EXPECT_EQ(FakeHost::Instance().EndCalls(), 0);
    reader_->Report(wm::WMT_EOF);
    WaitForEnd();
    ExpectTornDown();
}

// A reader that stops feeding the decode and never reports its end: once it has
// stayed silent for the limit, the decode is stopped off the reader's threads
// and ends with its one end call; a late status ends nothing more.
TEST_F(ReaderDecode, AReaderSilentForTheLimitIsStoppedAndTheDecodeEndsOnce) {
    fakes::WatchClock::Install();
    ASSERT_EQ(Decode(), 1);
    reader_->Report(wm::WMT_STARTED);
    EXPECT_EQ(reader_->Sample(0, 0, {1, 2}), S_OK);
    ASSERT_TRUE(fakes::WatchClock::RunOut());
    WaitForEnd();
    reader_->Report(wm::WMT_EOF);
    EXPECT_EQ(FakeHost::Instance().EndCalls(), 1);
    EXPECT_EQ(FakeHost::Instance().Blocks().size(), 1u);
    ExpectTornDown();
}

std::promise<void>* g_hostEntered = nullptr;
std::shared_future<void> g_hostReleased;

int32_t MERVANE_CALL HoldingHost(const void* data, uint32_t byteCount, uint32_t timeMs) {
    if (data != nullptr) {
        g_hostEntered->set_value();
        g_hostReleased.wait();
    }
    FakeHost::Instance().Record(data, byteCount, timeMs);
    return 0;
}

// The reader waits while the host holds its block: however long that takes, it
// is no silence, and the silence is measured again from the host's return.
TEST_F(ReaderDecode, TimeInsideTheHostsCallbackIsNotSilence) {
    fakes::WatchClock::Install();
    std::promise<void> entered;
    std::promise<void> release;
    g_hostEntered = &entered;
    g_hostReleased = release.get_future().share();
    reader_->onStart = [](FakeReader& r) {
        r.RunAsync([](FakeReader& self) { self.Sample(0, 0, {1, 2}); });
        return S_OK;
    };
    ASSERT_EQ(Decode(0, TRUE, &HoldingHost), 1);
    ASSERT_EQ(entered.get_future().wait_for(kLimit), std::future_status::ready);
    ASSERT_TRUE(fakes::WatchClock::RunOut());
    ASSERT_TRUE(fakes::WatchClock::RunOut());
    EXPECT_EQ(FakeHost::Instance().EndCalls(), 0);
    EXPECT_EQ(reader_->closeCalls.load(), 0);

    release.set_value();
    reader_->Join();
    ASSERT_TRUE(fakes::WatchClock::RunOut());
    WaitForEnd();
    EXPECT_EQ(FakeHost::Instance().Blocks().size(), 1u);
    ExpectTornDown();
}

// CancelReader works beside the watch; a reader that takes the request but
// never reports the stop is ended by its silence.
TEST_F(ReaderDecode, AStopTheReaderNeverReportsEndsTheDecodeByItsSilence) {
    fakes::WatchClock::Install();
    reader_->onStop = [](FakeReader&) { return S_OK; };
    ASSERT_EQ(Decode(), 1);
    EXPECT_EQ(CancelReader(), 1);
    EXPECT_EQ(FakeHost::Instance().EndCalls(), 0);
    ASSERT_TRUE(fakes::WatchClock::RunOut());
    WaitForEnd();
    ExpectTornDown();
}

TEST_F(ReaderDecode, EveryFailureBeforeTheStartClosesAndReleasesWithoutAnEndCall) {
    const fakes::ReaderFault failures[] = {
        {"advanced reader query",
         [](FakeReader& r) { fakes::RefuseQuery(r, wm::IID_IWMReaderAdvanced); }},
        {"user clock", [](FakeReader& r) { r.userClockResult = E_FAIL; }},
        {"start", [](FakeReader& r) { r.onStart = [](FakeReader&) { return E_FAIL; }; }},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.what);
        Held<FakeReader> reader;
        failure.inject(*reader.get());
        fakes::ServeReader(reader.get());
        EXPECT_EQ(Decode(), 0);
        EXPECT_EQ(reader->closeCalls.load(), 1);
        EXPECT_EQ(reader->Refs(), 1);
        EXPECT_EQ(CancelReader(), 0);
        EXPECT_EQ(FakeHost::Instance().EndCalls(), 0);
        // A status arriving later finds no decode to end.
        TheReaderCallback().OnStatus(wm::WMT_STARTED, S_OK, wm::WMT_TYPE_DWORD, nullptr, nullptr);
        EXPECT_TRUE(reader->DeliveredTimes().empty());
    }
    EXPECT_EQ(fakes::CallbackRefs(), 1);
}

TEST_F(ReaderDecode, AFailedOpenKeepsTheCallbackStoredWithoutCallingIt) {
    reader_->onOpen = [](FakeReader& r) {
        r.Report(wm::WMT_OPENED, E_FAIL);
        return S_OK;
    };
    EXPECT_EQ(Decode(0, TRUE, FakeHost::OtherCallback()), 0);
    EXPECT_EQ(FakeHost::OtherCalls(), 0);
    EXPECT_EQ(reader_->closeCalls.load(), 0);
    EXPECT_EQ(reader_->Refs(), 1);

    // The stored callback is the one later samples reach.
    Held<fakes::FakeBuffer> buffer(new fakes::FakeBuffer({1}));
    TheReaderCallback().OnSample(0, 0, 0, 0, buffer.get(), nullptr);
    EXPECT_EQ(FakeHost::OtherCalls(), 1);
}

TEST_F(ReaderDecode, NullArgumentsReturn0AtOnceAndANullCallbackIsNotStored) {
    TheReaderCallback().State().sampleCallback.store(FakeHost::Callback());
    EXPECT_EQ(GoGoGoReader("song.wma", 0, TRUE, nullptr), 0);
    EXPECT_EQ(GoGoGoReader(nullptr, 0, TRUE, FakeHost::OtherCallback()), 0);
    EXPECT_TRUE(reader_->openedPath.empty()) << "nothing was opened";

    Held<fakes::FakeBuffer> buffer(new fakes::FakeBuffer({1}));
    TheReaderCallback().OnSample(0, 0, 0, 0, buffer.get(), nullptr);
    EXPECT_EQ(FakeHost::Instance().Blocks().size(), 1u);
    EXPECT_EQ(FakeHost::OtherCalls(), 0);
}

// The reader delivers on a thread of its own: status 11, `samples` blocks each
// followed by a clock tick, then the end of the file (unless stopped first).
void DeliverOnItsThread(FakeReader& reader, int samples) {
    if (reader.outputs.empty())
        reader.AddOutput(fakes::MakeAudioType(wm::WAVE_FORMAT_PCM, 2, 44'100, 176'400, 4, {}, 16));
    reader.onStart = [samples](FakeReader& r) {
        r.RunAsync([samples](FakeReader& self) {
            self.Report(wm::WMT_STARTED);
            for (int k = 0; k < samples && !self.closed && !self.stopRequested; ++k) {
                self.Sample(0, self.startTime + static_cast<wm::QWORD>(k) * 4'000'000,
                            std::vector<BYTE>(64, static_cast<BYTE>(k)));
                self.Tick();
            }
            self.Report(wm::WMT_EOF);
        });
        return S_OK;
    };
}

TEST_F(ReaderDecode, ADecodeOnTheReadersThreadReachesTheHostAndEndsOnce) {
    DeliverOnItsThread(*reader_.get(), 10);
    ASSERT_EQ(Decode(2'000), 1);
    ASSERT_TRUE(FakeHost::Instance().WaitForEndCalls(1, kLimit));
    reader_->Join();
    const auto blocks = FakeHost::Instance().Blocks();
    ASSERT_EQ(blocks.size(), 10u);
    for (size_t k = 0; k < blocks.size(); ++k) EXPECT_EQ(blocks[k].timeMs, 2'000 + 400 * k);
    EXPECT_EQ(reader_->DeliveredTimes().size(), 11u);
    EXPECT_EQ(FakeHost::Instance().EndCalls(), 1);
    ExpectTornDown();

    // A second decode may follow the end call.
    Held<FakeReader> next;
    DeliverOnItsThread(*next.get(), 3);
    fakes::ServeReader(next.get());
    ASSERT_EQ(Decode(), 1);
    ASSERT_TRUE(FakeHost::Instance().WaitForEndCalls(2, kLimit));
    next->Join();
    EXPECT_EQ(next->closeCalls.load(), 1);
    EXPECT_EQ(next->Refs(), 1);
}

TEST_F(ReaderDecode, ASecondDecodeOrAFileQueryLeavesTheRunningDecodeAlone) {
    ASSERT_EQ(Decode(), 1);
    {
        Held<FakeReader> other;
        other->AddOutput(fakes::MakeAudioType(wm::WAVE_FORMAT_PCM, 1, 22'050, 44'100, 2, {}, 16));
        fakes::ServeReader(other.get());

        EXPECT_EQ(Decode(0, TRUE, FakeHost::OtherCallback()), 0);
        AudioFormatInfo info{};
        EXPECT_EQ(GetWmaFileInfo("next.wma", &info), 1);
        EXPECT_EQ(info.sampleRate, 22'050u);
        EXPECT_EQ(other->closeCalls.load(), 1);
    }

    // The running decode keeps its reader, its callback and its one end call.
    EXPECT_EQ(reader_->Sample(0, 0, {1}), S_OK);
    EXPECT_EQ(FakeHost::Instance().Blocks().size(), 1u);
    EXPECT_EQ(FakeHost::OtherCalls(), 0);
    EXPECT_EQ(CancelReader(), 1);
    WaitForEnd();
    ExpectTornDown();
}

// Cancels from one or two host threads race the end of many short decodes: each
// started decode ends with exactly one end call, the reader is closed once and
// every reference is released. Run under ThreadSanitizer and AddressSanitizer.
TEST(ReaderCancelStress, CancelsRacingTheEndOfTheFileEndEachDecodeOnce) {
    fakes::ResetFakes();
    fakes::ClearReaderSlots();
    FakeHost::Instance().Reset();
    const long liveBefore = fakes::LiveObjects().load();
    constexpr int kDecodes = 500;
    int started = 0;
    int cancelled = 0;

    for (int i = 0; i < kDecodes; ++i) {
        Held<FakeReader> reader;
        DeliverOnItsThread(*reader.get(), i % 6);
        fakes::ServeReader(reader.get());
        ASSERT_EQ(GoGoGoReader("song.wma", 0, TRUE, FakeHost::Callback()), 1);
        ++started;

        // Let the reader's thread get a varying head start.
        for (int spin = 0; spin < (i * 7) % 8; ++spin) std::this_thread::yield();
        std::thread second;
        if (i % 2 == 1) second = std::thread([] { CancelReader(); });
        cancelled += CancelReader();
        if (second.joinable()) second.join();

        ASSERT_TRUE(FakeHost::Instance().WaitForEndCalls(started, kLimit)) << "decode " << i;
        reader->Join();
        ASSERT_EQ(reader->closeCalls.load(), 1) << "decode " << i;
        ASSERT_EQ(reader->callsThatWouldHang.load(), 0) << "decode " << i;
        ASSERT_EQ(reader->Refs(), 1) << "decode " << i;
        EXPECT_EQ(CancelReader(), 0);
    }
    EXPECT_EQ(FakeHost::Instance().EndCalls(), started);
    EXPECT_EQ(fakes::LiveObjects().load(), liveBefore);
    EXPECT_EQ(fakes::CallbackRefs(), 1);
    // Not an assertion on timing, only a sign the race was exercised at all.
    RecordProperty("cancelsAccepted", cancelled);
}

}  // namespace
