// SPDX-License-Identifier: MIT
// The reader callback object (interfaces, reference count, sample delivery) and
// the blocking open handshake, against scripted fake readers.
#include "reader/reader_callback.h"

#include <gtest/gtest.h>

#include <thread>

#include "fakes/fake_reader.h"

namespace {

using fakes::FakeHost;
using fakes::FakeReader;
using fakes::Held;
using mervane::TheReaderCallback;

class ReaderFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetFakes();
        fakes::ClearReaderSlots();
        FakeHost::Instance().Reset();
        TheReaderCallback().SetSampleCallback(FakeHost::Callback());
        liveBefore_ = fakes::LiveObjects().load();
    }
    void TearDown() override {
        fakes::ClearReaderSlots();
        reader_->Join();
        reader_->ReleaseCallbacks();
        EXPECT_EQ(fakes::CallbackRefs(), 1) << "the library's own reference only";
    }
    // Every SDK object the library obtained was released.
    void ExpectAllReleased() {
        reader_->Join();  // its thread holds a reference while it runs
        EXPECT_EQ(reader_->Refs(), 1);
        EXPECT_EQ(reader_->header->Refs(), 1);
        EXPECT_EQ(fakes::LiveObjects().load(), liveBefore_);
    }
    HRESULT OpenBounded(const char* path = "song.wma") {
        HRESULT hr = E_FAIL;
        EXPECT_TRUE(fakes::RunBounded([&] { hr = mervane::OpenAndWait(path); }))
            << "the open kept waiting";
        return hr;
    }

    Held<FakeReader> reader_;
    long liveBefore_ = 0;
};

// ---- The callback object -------------------------------------------------------------------

using ReaderCallbackObject = ReaderFixture;

TEST_F(ReaderCallbackObject, AnswersItsTwoInterfacesAndRefusesTheRest) {
    auto& callback = TheReaderCallback();
    void* out = nullptr;

    ASSERT_EQ(callback.QueryInterface(wm::IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(callback.Primary()));
    EXPECT_EQ(fakes::CallbackRefs(), 2);
    callback.Release();

    ASSERT_EQ(callback.QueryInterface(wm::IID_IWMReaderCallback, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(callback.Primary()));
    callback.Release();

    ASSERT_EQ(callback.QueryInterface(wm::IID_IWMReaderCallbackAdvanced, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(callback.Secondary()));
    // The secondary table sits one pointer after the object's start.
    EXPECT_EQ(reinterpret_cast<char*>(out), reinterpret_cast<char*>(&callback) + sizeof(void*));
    // Asked through the secondary interface, IUnknown is still the primary one.
    void* again = nullptr;
    ASSERT_EQ(
        static_cast<wm::IWMReaderCallbackAdvanced*>(out)->QueryInterface(wm::IID_IUnknown, &again),
        S_OK);
    EXPECT_EQ(again, static_cast<void*>(callback.Primary()));
    static_cast<wm::IWMReaderCallbackAdvanced*>(out)->Release();
    callback.Release();

    // Its own base interface is refused, and the out pointer cleared as COM
    // asks of a refusal.
    void* refused = &callback;
    EXPECT_EQ(callback.QueryInterface(wm::IID_IWMStatusCallback, &refused), E_NOINTERFACE);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(callback.QueryInterface(wm::IID_IWMReader, &refused), E_NOINTERFACE);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(fakes::CallbackRefs(), 1);
}

TEST_F(ReaderCallbackObject, HandsOutput0sSamplesToTheHostWithTheirTimeInMs) {
    auto& callback = TheReaderCallback();
    Held<fakes::FakeBuffer> first(new fakes::FakeBuffer({1, 2, 3}));
    Held<fakes::FakeBuffer> second(new fakes::FakeBuffer({4}));
    Held<fakes::FakeBuffer> third(new fakes::FakeBuffer({5, 6}));
    Held<fakes::FakeBuffer> video(new fakes::FakeBuffer({7, 8, 9}));

    EXPECT_EQ(callback.OnSample(0, 15'000'000, 0, 0, first.get(), nullptr), S_OK);
    // Another output (video frames, another audio stream) never reaches the host.
    EXPECT_EQ(callback.OnSample(1, 16'000'000, 0, 0, video.get(), nullptr), S_OK);
    // Beyond 2^32 ms the time keeps its low 32 bits; below 1 ms it truncates.
    const uint64_t wrapped = ((uint64_t{1} << 32) + 7) * 10'000 + 9'999;
    EXPECT_EQ(callback.OnSample(0, wrapped, 0, 0, second.get(), nullptr), S_OK);
    EXPECT_EQ(callback.OnSample(0, 9'999, 0, 0, third.get(), nullptr), S_OK);

    const auto blocks = FakeHost::Instance().Blocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].timeMs, 1500u);
    EXPECT_EQ(blocks[0].bytes, (std::vector<BYTE>{1, 2, 3}));
    EXPECT_EQ(blocks[0].data, first->data.data()) << "the block is passed through, not copied";
    EXPECT_EQ(blocks[1].timeMs, 7u);
    EXPECT_EQ(blocks[1].bytes, (std::vector<BYTE>{4}));
    EXPECT_EQ(blocks[2].timeMs, 0u);
    EXPECT_EQ(first->Refs(), 1);
}

TEST_F(ReaderCallbackObject, ASampleWhoseBufferCannotBeReadIsNotDelivered) {
    Held<fakes::FakeBuffer> broken(new fakes::FakeBuffer({1, 2}));
    broken->bufferResult = E_FAIL;
    EXPECT_EQ(TheReaderCallback().OnSample(0, 0, 0, 0, broken.get(), nullptr), E_UNEXPECTED);
    EXPECT_TRUE(FakeHost::Instance().Blocks().empty());
    EXPECT_EQ(FakeHost::Instance().EndCalls(), 0);
}

// ---- The open handshake ---------------------------------------------------------------------

using ReaderOpen = ReaderFixture;

TEST_F(ReaderOpen, AStatusReportedBeforeTheWaitOpensTheReaderIntoItsSlot) {
    fakes::ServeReader(reader_.get());
    EXPECT_EQ(OpenBounded("caf\xC3\xA9.wma"), S_OK);
    EXPECT_EQ(reader_->openedPath, u"caf\u00E9.wma");
    EXPECT_EQ(reader_->callback, TheReaderCallback().Primary());
    EXPECT_EQ(TheReaderCallback().ShareReader().Get(), static_cast<wm::IWMReader*>(reader_.get()));
    EXPECT_FALSE(fakes::DrainOpenEvent()) << "the open's signal was consumed";
    EXPECT_EQ(reader_->Refs(), 2) << "the test's and the slot's";
}

TEST_F(ReaderOpen, AStatusReportedAfterTheWaitOpensTheReader) {
    fakes::ReportOpenLater(*reader_.get(), S_FALSE);
    fakes::ServeReader(reader_.get());
    EXPECT_EQ(OpenBounded(), S_FALSE) << "the result carried by the status";
    EXPECT_TRUE(TheReaderCallback().ShareReader());
}

TEST_F(ReaderOpen, Status22SignalsTheOpenLikeStatus1) {
    reader_->onOpen = [](FakeReader& r) {
        r.Report(wm::WMT_SOURCE_SWITCH, S_OK);
        return S_OK;
    };
    fakes::ServeReader(reader_.get());
    EXPECT_EQ(OpenBounded(), S_OK);
}

TEST_F(ReaderOpen, AFailureReportedByTheStatusFailsTheOpenAndReleasesTheReader) {
    reader_->onOpen = [](FakeReader& r) {
        r.Report(wm::WMT_OPENED, wm::E_ACCESS_DENIED);
        return S_OK;
    };
    fakes::ServeReader(reader_.get());
    EXPECT_EQ(OpenBounded(), wm::E_ACCESS_DENIED);
    EXPECT_FALSE(TheReaderCallback().ShareReader());
    ExpectAllReleased();
}

TEST_F(ReaderOpen, AFailingOpenCallIsReturnedWithoutWaiting) {
    reader_->onOpen = [](FakeReader&) { return E_FAIL; };
    fakes::ServeReader(reader_.get());
    EXPECT_EQ(OpenBounded(), E_FAIL);
    EXPECT_FALSE(TheReaderCallback().ShareReader());
    ExpectAllReleased();
}

TEST_F(ReaderOpen, AFailingFactoryIsReturnedWithoutAnOpen) {
    fakes::ScriptedFactories().reader = [](wm::IWMReader**) { return E_OUTOFMEMORY; };
    EXPECT_EQ(OpenBounded(), E_OUTOFMEMORY);
    EXPECT_FALSE(TheReaderCallback().ShareReader());
}

TEST_F(ReaderOpen, NoStreamFromOpenItselfLeadsToExactlyOneWait) {
    reader_->onOpen = [](FakeReader& r) {
        r.Report(wm::WMT_OPENED, S_FALSE);
        return wm::NS_E_NO_STREAM;
    };
    fakes::ServeReader(reader_.get());
    EXPECT_EQ(OpenBounded(), S_FALSE);
    EXPECT_FALSE(fakes::DrainOpenEvent()) << "the one signal was waited for";
}

TEST_F(ReaderOpen, NoStreamFromTheStatusIsFollowedByASecondWait) {
    reader_->onOpen = [](FakeReader& r) {
        r.Report(wm::WMT_OPENED, wm::NS_E_NO_STREAM);
        r.RunAsync([](FakeReader& self) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            self.Report(wm::WMT_OPENED, S_FALSE);
        });
        return S_OK;
    };
    fakes::ServeReader(reader_.get());
    EXPECT_EQ(OpenBounded(), S_FALSE) << "the second report settles the open";
}

TEST_F(ReaderOpen, ASecondNoStreamEndsTheOpenWithoutAThirdWait) {
    reader_->onOpen = [](FakeReader& r) {
        r.Report(wm::WMT_OPENED, wm::NS_E_NO_STREAM);
        r.RunAsync([](FakeReader& self) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            self.Report(wm::WMT_OPENED, wm::NS_E_NO_STREAM);
        });
        return S_OK;
    };
    fakes::ServeReader(reader_.get());
    EXPECT_EQ(OpenBounded(), wm::NS_E_NO_STREAM);
    ExpectAllReleased();
}

TEST_F(ReaderOpen, AnOpenNeverReportedIsGivenUpAndItsReaderClosedOffTheHostsThread) {
    reader_->onOpen = [](FakeReader&) { return S_OK; };  // and never a status
    fakes::ServeReader(reader_.get());
    auto& callback = TheReaderCallback();
    wm::ComPtr<wm::IWMReader> reader;
    EXPECT_EQ(mervane::OpenReaderAndWait("song.wma", callback.PathBuffer(), callback.Primary(),
                                         callback.Open(), reader, 50),
              wm::E_TIMEOUT);
    EXPECT_FALSE(reader);
    for (int waited = 0; waited < 5000 && reader_->Refs() > 1; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(reader_->closeCalls.load(), 1);
    EXPECT_NE(reader_->closedOn.load(), std::this_thread::get_id());
    EXPECT_EQ(reader_->Refs(), 1) << "closed, then released";

    // Should that reader report after all, its status settles no later open.
    void* stale = reader_->openContext;
    Held<FakeReader> next;
    next->onOpen = [stale](FakeReader& r) {
        TheReaderCallback().OnStatus(wm::WMT_OPENED, E_FAIL, wm::WMT_TYPE_DWORD, nullptr, stale);
        r.RunAsync([](FakeReader& self) { self.Report(wm::WMT_OPENED, S_FALSE); });
        return S_OK;
    };
    fakes::ServeReader(next.get());
    EXPECT_EQ(OpenBounded(), S_FALSE);
    next->Join();
    fakes::ClearReaderSlots();
}

TEST_F(ReaderOpen, AStaleSignalIsClearedBeforeTheOpenWaits) {
    // A status nobody waited for must not settle the next open.
    TheReaderCallback().OnStatus(wm::WMT_OPENED, E_FAIL, wm::WMT_TYPE_DWORD, nullptr, nullptr);
    fakes::ReportOpenLater(*reader_.get(), S_FALSE);
    fakes::ServeReader(reader_.get());
    EXPECT_EQ(OpenBounded(), S_FALSE) << "the reader's own report, not the stale one";
}

}  // namespace
