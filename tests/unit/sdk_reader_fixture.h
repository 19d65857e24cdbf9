// SPDX-License-Identifier: MIT
// Shared by the tests of the Linux Format SDK stand-in's reader: a recording
// host callback that can drive the user clock, and a fixture with files made
// at test time by the ffmpeg command-line tool.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "com_object.h"
#include "com_ptr.h"
#include "sdk_scratch_media.h"
#include "wmsdk_factories.h"

namespace sdkreader {

using wm::ComPtr;
using wm::QWORD;

constexpr QWORD kSecond = wm::kUnitsPerSecond;
constexpr auto kPatience = std::chrono::seconds(60);

inline std::vector<int16_t> ToSamples(const std::vector<BYTE>& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

// A host callback that records what the reader calls, in order, and can drive
// the user clock one second ahead at a time the way the library does.
class Recorder final : public wm::ComObject<wm::IWMReaderCallback, wm::IWMReaderCallbackAdvanced> {
  public:
    struct Event {
        enum Kind { kStatus, kSample, kTime, kReleased } kind;
        int status = 0;
        HRESULT hr = S_OK;
        QWORD time = 0;
        QWORD duration = 0;
        DWORD output = 0;
        size_t bytes = 0;
        QWORD clock = 0;  // the clock given to DeliverTime before this event
    };

    static Recorder* Create() { return new Recorder; }

    // Settings, made before Open.
    ComPtr<wm::IWMReaderAdvanced> clock;  // drives DeliverTime when set
    QWORD start = 0;
    int advancesLeft = -1;               // DeliverTime calls still allowed (-1: no limit)
    ComPtr<wm::IWMReader> releaseOnEnd;  // released on status 4, then kReleased recorded
    std::function<void(const Event&)> onEvent;
    bool keepSamples = false;  // keeps a reference to every sample buffer, see kept()

    HRESULT STDMETHODCALLTYPE OnStatus(wm::WMT_STATUS status, HRESULT hr, wm::WMT_ATTR_DATATYPE,
                                       BYTE*, void*) override {
        Event e{Event::kStatus};
        e.status = status;
        e.hr = hr;
        Record(e, nullptr);
        if (status == wm::WMT_STARTED) Advance(start + kSecond);
        if (status == wm::WMT_EOF && releaseOnEnd) {
            releaseOnEnd.Reset();
            Record(Event{Event::kReleased}, nullptr);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnSample(DWORD output, QWORD time, QWORD duration, DWORD,
                                       wm::INSSBuffer* sample, void*) override {
        BYTE* data = nullptr;
        DWORD length = 0;
        if (FAILED(sample->GetBufferAndLength(&data, &length))) return E_UNEXPECTED;
        Event e{Event::kSample};
        e.time = time;
        e.duration = duration;
        e.output = output;
        e.bytes = length;
        Record(e, [&] {
            pcm_.insert(pcm_.end(), data, data + length);
            if (keepSamples) {
                kept_.push_back({ComPtr<wm::INSSBuffer>::CopyFrom(sample),
                                 std::vector<BYTE>(data, data + length)});
            }
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStreamSample(WORD, QWORD, QWORD, DWORD, wm::INSSBuffer*,
                                             void*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnTime(QWORD time, void*) override {
        Event e{Event::kTime};
        e.time = time;
        Record(e, nullptr);
        Advance(time + kSecond);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStreamSelection(WORD, WORD*, wm::WMT_STREAM_SELECTION*,
                                                void*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnOutputPropsChanged(DWORD, wm::WM_MEDIA_TYPE*, void*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AllocateForStream(WORD, DWORD, wm::INSSBuffer**, void*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AllocateForOutput(DWORD, DWORD, wm::INSSBuffer**, void*) override {
        return E_NOTIMPL;
    }

    ULONG Refs() {
        AddRef();
        return Release();
    }

    // Waits (bounded) until `done` holds for the events so far.
    bool WaitUntil(const std::function<bool(const std::vector<Event>&)>& done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return done(events_); });
    }
    bool WaitForStatus(int status) {
        return WaitUntil([&](const std::vector<Event>& events) {
            for (const Event& e : events) {
                if (e.kind == Event::kStatus && e.status == status) return true;
            }
            return false;
        });
    }
    std::vector<Event> events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::vector<BYTE> pcm() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pcm_;
    }
    // Hands over the sample buffers kept (keepSamples), each with the bytes it
    // held when it was delivered.
    struct Kept {
        ComPtr<wm::INSSBuffer> buffer;
        std::vector<BYTE> bytes;
    };
    std::vector<Kept> takeKept() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(kept_);
    }
    std::vector<std::thread::id> threads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

  private:
    Recorder() = default;

    void Record(Event e, const std::function<void()>& extra) {
        if (onEvent) onEvent(e);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            e.clock = clock_;
            events_.push_back(e);
            threads_.push_back(std::this_thread::get_id());
            if (extra) extra();
        }
        changed_.notify_all();
    }
    void Advance(QWORD to) {
        if (!clock || advancesLeft == 0) return;
        if (advancesLeft > 0) --advancesLeft;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            clock_ = to;
        }
        clock->DeliverTime(to);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
    std::vector<std::thread::id> threads_;
    std::vector<BYTE> pcm_;
    std::vector<Kept> kept_;
    QWORD clock_ = 0;
};

using Event = Recorder::Event;

inline int CountStatus(const std::vector<Event>& events, int status) {
    int n = 0;
    for (const Event& e : events) n += e.kind == Event::kStatus && e.status == status;
    return n;
}

class SdkReader : public ::testing::Test {
  public:
    static std::string PathOf(const std::string& name) { return media_.Path(name); }
    static void Save(const std::string& name, const std::vector<char>& bytes) {
        media_.Spit(name, bytes);
    }

  protected:
    static void SetUpTestSuite() {
        haveFfmpeg_ = ScratchMedia::HaveFfmpeg();
        if (!haveFfmpeg_) return;
        ASSERT_TRUE(media_.Create("sdk_reader"));
        // Stereo with different content per channel, so a channel swap shows.
        ASSERT_TRUE(media_.Make(
            "stereo.wma",
            "-f lavfi -i 'aevalsrc=0.6*sin(440*2*PI*t)|0.3*sin(1250*2*PI*t):s=44100:d=3.5' "
            "-c:a wmav2 -b:a 128k"));
        ASSERT_TRUE(media_.Make(
            "mono.wma",
            "-f lavfi -i 'sine=f=300:sample_rate=22050:d=2' -ac 1 -c:a wmav2 -b:a 32k"));
        ASSERT_TRUE(media_.Make(
            "short.wma", "-f lavfi -i 'sine=f=500:sample_rate=32000:d=0.6' -c:a wmav2 -b:a 48k"));
        ASSERT_TRUE(media_.Make("a.wav", "-f lavfi -i 'sine=d=0.5' -f wav"));
        ASSERT_TRUE(media_.MakeBadFiles("stereo.wma", 300, 7, 64 * 1024));
        const std::vector<char> bytes = ScratchMedia::Slurp(Path("stereo.wma"));
        media_.Spit("half.wma",
                    std::vector<char>(bytes.begin(), bytes.begin() + long(bytes.size() / 2)));
    }
    static void TearDownTestSuite() { media_.Remove(); }
    void SetUp() override {
        if (!haveFfmpeg_) GTEST_SKIP() << "ffmpeg not on PATH";
    }

    static std::string Path(const std::string& name) { return media_.Path(name); }

    // What ffmpeg's own decode of a file gives as 16-bit PCM.
    static std::vector<int16_t> Reference(const std::string& name) {
        FILE* p =
            popen(("ffmpeg -v error -i '" + Path(name) + "' -f s16le - </dev/null").c_str(), "r");
        std::vector<BYTE> bytes;
        if (p == nullptr) return {};
        BYTE chunk[65536];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, p)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
        pclose(p);
        return ToSamples(bytes);
    }

    static ComPtr<wm::IWMReader> NewReader() {
        ComPtr<wm::IWMReader> reader;
        EXPECT_EQ(WMCreateReaderPriv(reader.Put()), S_OK);
        return reader;
    }

    // Opens `name` and waits for its status 1; returns the reported result.
    static HRESULT OpenAndWait(wm::IWMReader* reader, Recorder* callback, const std::string& name) {
        const std::u16string path = ScratchMedia::Wide(Path(name));
        const HRESULT hr = reader->Open(path.c_str(), callback, nullptr);
        if (FAILED(hr)) return hr;
        if (!callback->WaitForStatus(wm::WMT_OPENED)) return E_ABORT_WAIT;
        for (const Event& e : callback->events()) {
            if (e.kind == Event::kStatus && e.status == wm::WMT_OPENED) return e.hr;
        }
        return E_FAIL;
    }

    static constexpr HRESULT E_ABORT_WAIT = static_cast<HRESULT>(0x80004004u);
    static inline bool haveFfmpeg_ = false;
    static inline ScratchMedia media_;
};
}  // namespace sdkreader
