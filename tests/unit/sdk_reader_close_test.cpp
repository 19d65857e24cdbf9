// SPDX-License-Identifier: MIT
// Close and the last Release of the stand-in reader: never a callback after
// Close, and the calls the platform deadlocks on when made from inside a
// callback.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define SDK_TEST_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SDK_TEST_LSAN 1
#endif
#endif
#ifdef SDK_TEST_LSAN
#include <sanitizer/lsan_interface.h>
#endif

#include "sdk_reader_fixture.h"

namespace sdkreader {

// Close on the delivery thread never returns on the platform; here it fails,
// says so, and the decode goes on to its end.
TEST_F(SdkReader, CloseInsideACallbackFailsAndChangesNothing) {
    wm::ComPtr<wm::IWMReader> reader = NewReader();
    wm::ComPtr<Recorder> callback(Recorder::Create());
    const ULONG refsBefore = callback->Refs();
    std::vector<HRESULT> results;  // on the worker, before the event is recorded
    callback->onEvent = [&](const Event& e) {
        if ((e.kind == Event::kSample && results.empty()) ||
            (e.kind == Event::kStatus && e.status == wm::WMT_EOF)) {
            results.push_back(reader->Close());
        }
    };
    ASSERT_EQ(OpenAndWait(reader.Get(), callback.Get(), "short.wma"), S_OK);
    testing::internal::CaptureStderr();
    ASSERT_EQ(reader->Start(0, 0, 1.0f, nullptr), S_OK);
    const bool ended = callback->WaitForStatus(wm::WMT_EOF);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ended);
    constexpr HRESULT kPossibleDeadlock = static_cast<HRESULT>(0x8007046Bu);
    EXPECT_EQ(results, (std::vector<HRESULT>{kPossibleDeadlock, kPossibleDeadlock}));
    EXPECT_NE(log.find("IWMReader::Close called on the reader's own delivery thread"),
              std::string::npos)
        << log;
    EXPECT_EQ(ToSamples(callback->pcm()).size(), Reference("short.wma").size());

    EXPECT_EQ(reader->Close(), S_OK);
    EXPECT_EQ(callback->Refs(), refsBefore);
}

// Releasing the last reference on the delivery thread never returns on the
// platform; here it returns, says so, and leaves the reader undestroyed.
TEST_F(SdkReader, LastReleaseInsideACallbackIsReportedAndLeaksTheReader) {
    wm::ComPtr<Recorder> callback(Recorder::Create());
    wm::ComPtr<wm::IWMReader> reader = NewReader();
    ASSERT_EQ(OpenAndWait(reader.Get(), callback.Get(), "short.wma"), S_OK);
    wm::IWMReader* leaked = reader.Get();
    callback->releaseOnEnd = std::move(reader);  // from here the only reference
    testing::internal::CaptureStderr();
    ASSERT_EQ(leaked->Start(0, 0, 1.0f, nullptr), S_OK);
    const bool released = callback->WaitUntil([](const std::vector<Event>& events) {
        return !events.empty() && events.back().kind == Event::kReleased;
    });
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(released);
    EXPECT_NE(log.find("IUnknown::Release of the reader's last reference called on the reader's "
                       "own delivery thread"),
              std::string::npos)
        << log;
#ifdef SDK_TEST_LSAN
    __lsan_ignore_object(leaked);  // the leak is the point here
#endif
}

TEST_F(SdkReader, NoCallbackArrivesAfterClose) {
    // Close at different moments: during the open, right after Start, and
    // while samples flow in real time and with the user clock.
    for (int moment = 0; moment < 4; ++moment) {
        SCOPED_TRACE(moment);
        wm::ComPtr<wm::IWMReader> reader = NewReader();
        wm::ComPtr<Recorder> callback(Recorder::Create());
        const ULONG refsBefore = callback->Refs();
        std::atomic<bool> closed{false};
        std::atomic<int> late{0};
        callback->onEvent = [&](const Event&) { late += closed.load() ? 1 : 0; };
        if (moment == 3) {
            ASSERT_EQ(reader.As(callback->clock), S_OK);
            ASSERT_EQ(callback->clock->SetUserProvidedClock(TRUE), S_OK);
        }
        const std::u16string path = ScratchMedia::Wide(Path("stereo.wma"));
        ASSERT_EQ(reader->Open(path.c_str(), callback.Get(), nullptr), S_OK);
        if (moment > 0) {
            ASSERT_TRUE(callback->WaitForStatus(wm::WMT_OPENED));
            ASSERT_EQ(reader->Start(0, 0, 1.0f, nullptr), S_OK);
        }
        if (moment >= 2) {
            ASSERT_TRUE(callback->WaitUntil(
                [](const std::vector<Event>& events) { return events.size() > 4; }));
        }
        EXPECT_EQ(reader->Close(), S_OK);
        closed = true;
        EXPECT_EQ(callback->Refs(), refsBefore);  // released by Close itself
        callback->clock.Reset();
        reader.Reset();
        EXPECT_EQ(late.load(), 0);
    }
}

}  // namespace sdkreader
