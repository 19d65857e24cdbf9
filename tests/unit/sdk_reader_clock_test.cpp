// SPDX-License-Identifier: MIT
// The stand-in reader's delivery against ffmpeg's decode: with the user
// clock, from a position, and ended by Stop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sdk_reader_fixture.h"

namespace sdkreader {
namespace {

// Decodes `name` with the user clock from `start` and checks the clock's
// protocol on the way; returns the recorder.
wm::ComPtr<Recorder> DecodeWithUserClock(const std::string& path, QWORD start,
                                         bool keepSamples = false) {
    wm::ComPtr<wm::IWMReader> reader;
    EXPECT_EQ(WMCreateReaderPriv(reader.Put()), S_OK);
    wm::ComPtr<Recorder> callback(Recorder::Create());
    EXPECT_EQ(reader.As(callback->clock), S_OK);
    EXPECT_EQ(callback->clock->SetUserProvidedClock(TRUE), S_OK);
    callback->start = start;
    callback->keepSamples = keepSamples;
    const std::u16string wide = ScratchMedia::Wide(path);
    EXPECT_EQ(reader->Open(wide.c_str(), callback.Get(), nullptr), S_OK);
    EXPECT_TRUE(callback->WaitForStatus(wm::WMT_OPENED));
    EXPECT_EQ(reader->Start(start, 0, 1.0f, nullptr), S_OK);
    EXPECT_TRUE(callback->WaitForStatus(wm::WMT_EOF));
    EXPECT_EQ(reader->Close(), S_OK);
    callback->clock.Reset();
    return callback;
}

// The offset (in samples) at which `ours` best matches `reference`.
long BestOffset(const std::vector<int16_t>& ours, const std::vector<int16_t>& reference, long first,
                long range, int channels) {
    long best = 0;
    long bestError = -1;
    for (long offset = -range; offset <= range; offset += channels) {
        long error = 0;
        for (long i = 0; i < 4000; ++i) {
            const long j = first + offset + i;
            if (i >= static_cast<long>(ours.size()) || j < 0 ||
                j >= static_cast<long>(reference.size())) {
                error += 1000;
                continue;
            }
            error += std::abs(ours[i] - reference[j]);
        }
        if (bestError < 0 || error < bestError) {
            bestError = error;
            best = offset;
        }
    }
    return best;
}

TEST_F(SdkReader, UserClockDecodeEqualsFfmpegAndFollowsTheClock) {
    for (const char* name : {"stereo.wma", "mono.wma"}) {
        SCOPED_TRACE(name);
        wm::ComPtr<Recorder> callback = DecodeWithUserClock(Path(name), 0);
        const std::vector<Event> events = callback->events();
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events[0].status, wm::WMT_OPENED);
        EXPECT_EQ(events[1].status, wm::WMT_STARTED);
        EXPECT_EQ(CountStatus(events, wm::WMT_EOF), 1);
        EXPECT_EQ(events.back().status, wm::WMT_EOF);

        // Samples come before the clock; OnTime reports the clock reached, and
        // block times run on without gaps from 0.
        QWORD nextTime = 0;
        std::vector<QWORD> onTime;
        for (const Event& e : events) {
            if (e.kind == Event::kTime) onTime.push_back(e.time);
            if (e.kind != Event::kSample) continue;
            EXPECT_EQ(e.output, 0u);
            EXPECT_LT(e.time, e.clock);
            EXPECT_NEAR(static_cast<double>(e.time), static_cast<double>(nextTime), 20.0);
            nextTime = e.time + e.duration;
        }
        ASSERT_FALSE(onTime.empty());
        for (size_t i = 0; i < onTime.size(); ++i) EXPECT_EQ(onTime[i], (i + 1) * kSecond);

        const std::vector<int16_t> ours = ToSamples(callback->pcm());
        const std::vector<int16_t> reference = Reference(name);
        ASSERT_FALSE(reference.empty());
        const long offset = BestOffset(ours, reference, 0, 4096, 2);
        ASSERT_GE(offset, 0);
        ASSERT_EQ(ours.size() + offset, reference.size());
        size_t offByMore = 0;
        for (size_t i = 0; i < ours.size(); ++i) {
            offByMore += std::abs(ours[i] - reference[i + offset]) > 1;
        }
        EXPECT_EQ(offByMore, 0u);
    }
}

TEST_F(SdkReader, SampleBuffersTheHostKeepsHoldWhatTheyDelivered) {
    wm::ComPtr<Recorder> callback = DecodeWithUserClock(Path("stereo.wma"), 0, true);
    const std::vector<Recorder::Kept> kept = callback->takeKept();
    ASSERT_GT(kept.size(), 10u);
    for (const Recorder::Kept& sample : kept) {
        BYTE* data = nullptr;
        DWORD length = 0;
        ASSERT_EQ(sample.buffer->GetBufferAndLength(&data, &length), S_OK);
        ASSERT_TRUE(std::vector<BYTE>(data, data + length) == sample.bytes);
    }
}

TEST_F(SdkReader, StartAtAPositionDeliversFromThere) {
    constexpr QWORD kStart = kSecond;
    wm::ComPtr<Recorder> callback = DecodeWithUserClock(Path("stereo.wma"), kStart);
    const std::vector<Event> events = callback->events();
    QWORD first = 0;
    bool found = false;
    for (const Event& e : events) {
        if (e.kind == Event::kSample && !found) {
            first = e.time;
            found = true;
        }
        if (e.kind == Event::kTime) {
            EXPECT_GT(e.time, kStart);
        }
    }
    ASSERT_TRUE(found);
    EXPECT_NEAR(static_cast<double>(first), static_cast<double>(kStart), 0.1 * kSecond);
    EXPECT_EQ(CountStatus(events, wm::WMT_EOF), 1);

    // Past the first decoded frames the audio is the file's audio at that time.
    const std::vector<int16_t> ours = ToSamples(callback->pcm());
    const std::vector<int16_t> reference = Reference("stereo.wma");
    const long at = static_cast<long>(first * 44100 / kSecond) * 2;
    const long skip = 44100 / 5 * 2;  // 200 ms
    ASSERT_GT(ours.size(), static_cast<size_t>(skip + 4000));
    const std::vector<int16_t> tail(ours.begin() + skip, ours.end());
    // Packet times are whole milliseconds, so after a seek the block times
    // may be off by up to one millisecond.
    const long offset = BestOffset(tail, reference, at + skip, 2 * 45, 2);
    const size_t from = static_cast<size_t>(at + skip + offset);
    size_t offByMore = 0;
    for (size_t i = 0; i < tail.size() && from + i < reference.size(); ++i) {
        offByMore += std::abs(tail[i] - reference[from + i]) > 1;
    }
    EXPECT_EQ(offByMore, 0u);
    EXPECT_NEAR(static_cast<double>(ours.size() + at), static_cast<double>(reference.size()),
                2.0 * 44100 / 10);
}

TEST_F(SdkReader, StopEndsDeliveryWithStatus12) {
    for (bool userClock : {true, false}) {
        SCOPED_TRACE(userClock ? "user clock" : "real time");
        wm::ComPtr<wm::IWMReader> reader = NewReader();
        wm::ComPtr<Recorder> callback(Recorder::Create());
        EXPECT_EQ(reader->Stop(), wm::NS_E_INVALID_REQUEST);
        if (userClock) {
            ASSERT_EQ(reader.As(callback->clock), S_OK);
            ASSERT_EQ(callback->clock->SetUserProvidedClock(TRUE), S_OK);
            callback->advancesLeft = 1;  // the clock stops at 1 s
        }
        ASSERT_EQ(OpenAndWait(reader.Get(), callback.Get(), "stereo.wma"), S_OK);
        EXPECT_EQ(reader->Stop(), wm::NS_E_INVALID_REQUEST);
        ASSERT_EQ(reader->Start(0, 0, 1.0f, nullptr), S_OK);
        ASSERT_TRUE(callback->WaitUntil([&](const std::vector<Event>& events) {
            return userClock ? !events.empty() && events.back().kind == Event::kTime
                             : events.size() > 3;
        }));
        ASSERT_EQ(reader->Stop(), S_OK);
        EXPECT_EQ(reader->Stop(), wm::NS_E_INVALID_REQUEST);
        ASSERT_TRUE(callback->WaitForStatus(wm::WMT_STOPPED));
        EXPECT_EQ(reader->Close(), S_OK);
        EXPECT_EQ(reader->Stop(), wm::NS_E_INVALID_REQUEST);
        callback->clock.Reset();

        const std::vector<Event> events = callback->events();
        EXPECT_EQ(events.back().status, wm::WMT_STOPPED);
        EXPECT_EQ(CountStatus(events, wm::WMT_STOPPED), 1);
        EXPECT_EQ(CountStatus(events, wm::WMT_EOF), 0);
    }
}

}  // namespace
}  // namespace sdkreader
