// SPDX-License-Identifier: MIT
// The reader callback object (interfaces, reference count, sample delivery) and
// the blocking open handshake, against scripted fake readers.
#include "reader/reader_callback.h"

#include <gtest/gtest.h>

#include <iterator>
#include <thread>

#include "fakes/fake_reader.h"
#include "reader/open_handshake.h"

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
        State().sampleCallback.store(FakeHost::Callback());
        fakes::ServeReader(reader_.get());
        liveBefore_ = fakes::LiveObjects().load();
    }
    void TearDown() override {
        fakes::ClearReaderSlots();
        reader_->Join();
        reader_->ReleaseCallbacks();
        EXPECT_EQ(fakes::CallbackRefs(), 1) << "the library's own reference only";
    }
    static mervane::ReaderState& State() { return TheReaderCallback().State(); }
    // The decode's open into the reader slot; a short `timeoutMs` only where
    // the open is meant to run out.
    HRESULT Open(const char* path = "song.wma", DWORD timeoutMs = mervane::kOpenTimeoutMs) {
        wm::ComPtr<wm::IWMReader> reader;
        const HRESULT hr =
            mervane::OpenAndWait(path, State().pathBuffer, TheReaderCallback().Primary(),
                                 State().open, reader, timeoutMs);
        if (SUCCEEDED(hr)) State().SetReader(std::move(reader));
        return hr;
    }
    // The reader's references once its thread is done and a reader given up
    // has been released on its pool thread.
    static long SettledRefs(FakeReader& reader) {
        reader.Join();
        for (int i = 0; i < 20'000'000 && reader.Refs() > 1; ++i) std::this_thread::yield();
        return reader.Refs();
    }
    // Every SDK object the library obtained was released.
    void ExpectAllReleased() {
        EXPECT_EQ(SettledRefs(*reader_.get()), 1);
        EXPECT_EQ(reader_->header->Refs(), 1);
        EXPECT_EQ(fakes::LiveObjects().load(), liveBefore_);
    }

    Held<FakeReader> reader_;
    long liveBefore_ = 0;
};

// ---- The callback object -------------------------------------------------------------------

using ReaderCallbackObject = ReaderFixture;

TEST_F(ReaderCallbackObject, AnswersItsTwoInterfacesAndRefusesTheRest) {
    auto& callback = TheReaderCallback();
    void* out = nullptr;

    for (const IID& iid : {wm::IID_IUnknown, wm::IID_IWMReaderCallback}) {
        ASSERT_EQ(callback.QueryInterface(iid, &out), S_OK);
        EXPECT_EQ(out, static_cast<void*>(callback.Primary()));
        EXPECT_EQ(fakes::CallbackRefs(), 2);
        callback.Release();
    }

    ASSERT_EQ(callback.QueryInterface(wm::IID_IWMReaderCallbackAdvanced, &out), S_OK);
    // The secondary table sits one pointer after the object's start, and its
    // slots are the advanced interface's own.
    EXPECT_EQ(reinterpret_cast<char*>(out), reinterpret_cast<char*>(&callback) + sizeof(void*));
    auto* advanced = static_cast<wm::IWMReaderCallbackAdvanced*>(out);
    EXPECT_EQ(advanced->AllocateForOutput(0, 0, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(advanced->OnStreamSelection(0, nullptr, nullptr, nullptr), S_OK);
    // Asked through the secondary interface, IUnknown is still the primary one.
    void* again = nullptr;
    ASSERT_EQ(advanced->QueryInterface(wm::IID_IUnknown, &again), S_OK);
    EXPECT_EQ(again, static_cast<void*>(callback.Primary()));
    advanced->Release();
    callback.Release();

    // Its own base interface is refused, and the out pointer cleared as COM
    // asks of a refusal.
    for (const IID& iid : {wm::IID_IWMStatusCallback, wm::IID_IWMReader}) {
        void* refused = &callback;
        EXPECT_EQ(callback.QueryInterface(iid, &refused), E_NOINTERFACE);
        EXPECT_EQ(refused, nullptr);
    }
    EXPECT_EQ(fakes::CallbackRefs(), 1);
}

TEST_F(ReaderCallbackObject, HandsOutput0sSamplesToTheHostWithTheirTimeInMs) {
    auto& callback = TheReaderCallback();
    Held<fakes::FakeBuffer> first(new fakes::FakeBuffer({1, 2, 3}));
    Held<fakes::FakeBuffer> second(new fakes::FakeBuffer({4}));
    Held<fakes::FakeBuffer> third(new fakes::FakeBuffer({5, 6}));
    Held<fakes::FakeBuffer> video(new fakes::FakeBuffer({7, 8, 9}));
    Held<fakes::FakeBuffer> broken(new fakes::FakeBuffer({1, 2}));
    broken->bufferResult = E_FAIL;

    EXPECT_EQ(callback.OnSample(0, 15'000'000, 0, 0, first.get(), nullptr), S_OK);
    // Another output (video frames, another audio stream) never reaches the host.
    EXPECT_EQ(callback.OnSample(1, 16'000'000, 0, 0, video.get(), nullptr), S_OK);
    // Beyond 2^32 ms the time keeps its low 32 bits; below 1 ms it truncates.
    const uint64_t wrapped = ((uint64_t{1} << 32) + 7) * 10'000 + 9'999;
    EXPECT_EQ(callback.OnSample(0, wrapped, 0, 0, second.get(), nullptr), S_OK);
    EXPECT_EQ(callback.OnSample(0, 9'999, 0, 0, third.get(), nullptr), S_OK);
    // A sample whose buffer cannot be read is not delivered.
    EXPECT_EQ(callback.OnSample(0, 0, 0, 0, broken.get(), nullptr), E_UNEXPECTED);

    const auto blocks = FakeHost::Instance().Blocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].timeMs, 1500u);
    EXPECT_EQ(blocks[0].bytes, (std::vector<BYTE>{1, 2, 3}));
    EXPECT_EQ(blocks[0].data, first->data.data()) << "the block is passed through, not copied";
    EXPECT_EQ(blocks[1].timeMs, 7u);
    EXPECT_EQ(blocks[1].bytes, (std::vector<BYTE>{4}));
    EXPECT_EQ(blocks[2].timeMs, 0u);
    EXPECT_EQ(first->Refs(), 1);
    EXPECT_EQ(FakeHost::Instance().EndCalls(), 0);
}

// ---- The open handshake ---------------------------------------------------------------------

using ReaderOpen = ReaderFixture;

TEST_F(ReaderOpen, TheReportedStatusOpensTheReaderIntoItsSlot) {
    EXPECT_EQ(Open("caf\xC3\xA9.wma"), S_OK);
    EXPECT_EQ(reader_->openedPath, u"caf\u00E9.wma");
    EXPECT_EQ(reader_->callback, TheReaderCallback().Primary());
    EXPECT_EQ(State().ShareReader().Get(), static_cast<wm::IWMReader*>(reader_.get()));
    EXPECT_EQ(reader_->Refs(), 2) << "the test's and the slot's";

    // Reported from the reader's own thread, with status 22, the open's result
    // is the one the status carries.
    Held<FakeReader> next;
    next->onOpen = [](FakeReader& r) {
        r.RunAsync([](FakeReader& self) { self.Report(wm::WMT_SOURCE_SWITCH, S_FALSE); });
        return S_OK;
    };
    fakes::ServeReader(next.get());
    EXPECT_EQ(Open(), S_FALSE);
    EXPECT_EQ(State().ShareReader().Get(), static_cast<wm::IWMReader*>(next.get()));
    next->Join();
    fakes::ClearReaderSlots();
    EXPECT_EQ(reader_->Refs(), 1) << "the reader it replaced was released";
}

TEST_F(ReaderOpen, AFailedOpenIsReturnedAndItsReaderReleased) {
    const fakes::ReaderFault failures[] = {
        {"status",
         [](FakeReader& r) {
             r.onOpen = [](FakeReader& self) {
                 self.Report(wm::WMT_OPENED, wm::E_ACCESS_DENIED);
                 return S_OK;
             };
         }},
        // Returned without a wait: the short time-out would otherwise end it.
        {"Open call", [](FakeReader& r) { r.onOpen = [](FakeReader&) { return E_FAIL; }; }},
        // NS_E_NO_STREAM from Open itself leads to one wait, which a second
        // NS_E_NO_STREAM ends.
        {"no stream twice",
         [](FakeReader& r) {
             r.onOpen = [](FakeReader& self) {
                 self.Report(wm::WMT_OPENED, wm::NS_E_NO_STREAM);
                 return wm::NS_E_NO_STREAM;
             };
         }},
    };
    const HRESULT expected[] = {wm::E_ACCESS_DENIED, E_FAIL, wm::NS_E_NO_STREAM};
    for (size_t i = 0; i < std::size(failures); ++i) {
        SCOPED_TRACE(failures[i].what);
        failures[i].inject(*reader_.get());
        EXPECT_EQ(Open("song.wma", 1), expected[i]);
        EXPECT_FALSE(State().ShareReader());
        ExpectAllReleased();
    }

    fakes::ScriptedFactories().reader = [](wm::IWMReader**) { return E_OUTOFMEMORY; };
    EXPECT_EQ(Open(), E_OUTOFMEMORY);
}

TEST_F(ReaderOpen, NoStreamFromOpenItselfIsSettledByTheOneStatus) {
    reader_->onOpen = [](FakeReader& r) {
        r.Report(wm::WMT_OPENED, S_FALSE);
        return wm::NS_E_NO_STREAM;
    };
    EXPECT_EQ(Open("song.wma", 1), S_FALSE) << "one wait, on the one status";
}

// A status of NS_E_NO_STREAM is followed by a second wait: here it runs out,
// and the reader that never settled its open is closed off the host's thread.
TEST_F(ReaderOpen, AnOpenNeverSettledIsGivenUpAndItsReaderClosedOffTheHostsThread) {
    reader_->onOpen = [](FakeReader& r) {
        r.Report(wm::WMT_OPENED, wm::NS_E_NO_STREAM);
        return S_OK;
    };
    EXPECT_EQ(Open("song.wma", 1), wm::E_TIMEOUT);
    EXPECT_FALSE(State().ShareReader());
    ExpectAllReleased();
    EXPECT_EQ(reader_->closeCalls.load(), 1);
    EXPECT_NE(reader_->closedOn.load(), std::this_thread::get_id());
}

// Neither a status that came while nobody waited nor one of a reader given up
// on settles a later open.
TEST_F(ReaderOpen, AStatusOfNoOpenOrOfAnEarlierOneSettlesNothing) {
    TheReaderCallback().OnStatus(wm::WMT_OPENED, E_FAIL, wm::WMT_TYPE_DWORD, nullptr, nullptr);
    reader_->onOpen = [](FakeReader&) { return S_OK; };  // and never a status
    EXPECT_EQ(Open("song.wma", 1), wm::E_TIMEOUT);
    ExpectAllReleased();

    void* stale = reader_->openContext;
    Held<FakeReader> next;
    next->onOpen = [stale](FakeReader&) {
        TheReaderCallback().OnStatus(wm::WMT_OPENED, S_OK, wm::WMT_TYPE_DWORD, nullptr, stale);
        return S_OK;
    };
    fakes::ServeReader(next.get());
    EXPECT_EQ(Open("song.wma", 1), wm::E_TIMEOUT);
    EXPECT_EQ(SettledRefs(*next.get()), 1);
}

}  // namespace
