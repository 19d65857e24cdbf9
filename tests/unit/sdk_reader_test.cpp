// Tests of the Linux Format SDK stand-in's reader on files made at test time
// by the ffmpeg command-line tool: the open handshake, the output format, the
// user clock, positioning, Stop, and the calls the platform deadlocks on when
// made from inside a callback.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

#include "com_ptr.h"
#include "common/com_object.h"
#include "sdk_scratch_media.h"
#include "wmsdk_factories.h"

namespace {

using mervane::ComPtr;
using wm::QWORD;

constexpr QWORD kSecond = 10000000;  // 100 ns units
constexpr auto kPatience = std::chrono::seconds(60);

std::vector<int16_t> ToSamples(const std::vector<BYTE>& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

// A host callback that records what the reader calls, in order, and can drive
// the user clock one second ahead at a time the way the library does.
class Recorder final
    : public ffsdk::ComObject<wm::IWMReaderCallback, wm::IWMReaderCallbackAdvanced> {
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
        Record(e, [&] { pcm_.insert(pcm_.end(), data, data + length); });
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
    QWORD clock_ = 0;
};

using Event = Recorder::Event;

int CountStatus(const std::vector<Event>& events, int status) {
    int n = 0;
    for (const Event& e : events) n += e.kind == Event::kStatus && e.status == status;
    return n;
}

class SdkReader : public ::testing::Test {
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

TEST_F(SdkReader, OpenReportsOnItsOwnThreadAndDescribesPcmOutput) {
    ComPtr<wm::IWMReader> reader = NewReader();
    ComPtr<Recorder> callback(Recorder::Create());
    const ULONG refsBefore = callback->Refs();
    ASSERT_EQ(OpenAndWait(reader.Get(), callback.Get(), "stereo.wma"), S_OK);
    EXPECT_NE(callback->threads().at(0), std::this_thread::get_id());
    EXPECT_GT(callback->Refs(), refsBefore);  // the reader holds the callback

    const std::u16string again = ScratchMedia::Wide(Path("mono.wma"));
    EXPECT_LT(reader->Open(again.c_str(), callback.Get(), nullptr), 0);

    ComPtr<wm::IWMOutputMediaProps> props;
    ASSERT_EQ(reader->GetOutputProps(0, props.Put()), S_OK);
    ComPtr<wm::IWMMediaProps> base;
    EXPECT_EQ(props.As(base), S_OK);
    DWORD size = 0;
    ASSERT_EQ(props->GetMediaType(nullptr, &size), S_OK);
    ASSERT_EQ(size, sizeof(wm::WM_MEDIA_TYPE) + sizeof(wm::WAVEFORMATEX));
    std::vector<uint64_t> storage(size / 8 + 1);
    auto* type = reinterpret_cast<wm::WM_MEDIA_TYPE*>(storage.data());
    DWORD small = size - 1;
    EXPECT_LT(props->GetMediaType(type, &small), 0);
    EXPECT_EQ(small, size);
    ASSERT_EQ(base->GetMediaType(type, &size), S_OK);
    EXPECT_TRUE(type->majortype == wm::WMMEDIATYPE_Audio);
    EXPECT_TRUE(type->subtype == wm::AudioSubtype(wm::WAVE_FORMAT_PCM));
    EXPECT_TRUE(type->formattype == wm::WMFORMAT_WaveFormatEx);
    EXPECT_TRUE(type->bFixedSizeSamples);
    EXPECT_EQ(type->lSampleSize, 4u);
    EXPECT_EQ(type->cbFormat, 18u);
    ASSERT_EQ(type->pbFormat, reinterpret_cast<BYTE*>(type) + sizeof(wm::WM_MEDIA_TYPE));
    wm::WAVEFORMATEX wave;
    std::memcpy(&wave, type->pbFormat, sizeof wave);
    EXPECT_EQ(wave.wFormatTag, wm::WAVE_FORMAT_PCM);
    EXPECT_EQ(wave.nChannels, 2);
    EXPECT_EQ(wave.nSamplesPerSec, 44100u);
    EXPECT_EQ(wave.nBlockAlign, 4);
    EXPECT_EQ(wave.nAvgBytesPerSec, 44100u * 4);
    EXPECT_EQ(wave.wBitsPerSample, 16);
    EXPECT_EQ(wave.cbSize, 0);
    EXPECT_LT(reader->GetOutputProps(1, props.Put()), 0);

    // The header of the open file answers through the reader.
    ComPtr<wm::IWMHeaderInfo> info;
    ASSERT_EQ(reader.As(info), S_OK);
    WORD stream = 0;
    wm::WMT_ATTR_DATATYPE attrType;
    QWORD duration = 0;
    WORD length = sizeof duration;
    ASSERT_EQ(info->GetAttributeByName(&stream, u"Duration", &attrType,
                                       reinterpret_cast<BYTE*>(&duration), &length),
              S_OK);
    EXPECT_NEAR(static_cast<double>(duration), 3.5 * kSecond, 0.1 * kSecond);

    EXPECT_EQ(reader->Close(), S_OK);
    EXPECT_EQ(callback->Refs(), refsBefore);  // released at Close
    EXPECT_EQ(reader->Close(), wm::NS_E_INVALID_REQUEST);
    EXPECT_LT(reader->GetOutputProps(0, props.Put()), 0);

    // A closed reader opens another file.
    ComPtr<Recorder> second(Recorder::Create());
    EXPECT_EQ(OpenAndWait(reader.Get(), second.Get(), "mono.wma"), S_OK);
}

TEST_F(SdkReader, BadFilesFailTheOpenWithoutCrashing) {
    for (const char* name :
         {"missing.wma", "folder.wma", "empty.wma", "random.wma", "a.wav", "head.wma"}) {
        SCOPED_TRACE(name);
        ComPtr<wm::IWMReader> reader = NewReader();
        ComPtr<Recorder> callback(Recorder::Create());
        EXPECT_LT(OpenAndWait(reader.Get(), callback.Get(), name), 0);
        EXPECT_EQ(reader->Start(0, 0, 1.0f, nullptr), wm::NS_E_INVALID_REQUEST);
        ComPtr<wm::IWMOutputMediaProps> props;
        EXPECT_LT(reader->GetOutputProps(0, props.Put()), 0);
        reader->Close();
        EXPECT_EQ(CountStatus(callback->events(), wm::WMT_OPENED), 1);
    }
    ComPtr<wm::IWMReader> reader = NewReader();
    ComPtr<Recorder> callback(Recorder::Create());
    EXPECT_LT(reader->Open(nullptr, callback.Get(), nullptr), 0);
    EXPECT_LT(reader->Open(u"x.wma", nullptr, nullptr), 0);
    EXPECT_EQ(reader->Stop(), wm::NS_E_INVALID_REQUEST);
}

TEST_F(SdkReader, TruncatedDataEndsTheDecodeWithEndOfFile) {
    ComPtr<wm::IWMReader> reader = NewReader();
    ComPtr<Recorder> callback(Recorder::Create());
    ASSERT_EQ(reader.As(callback->clock), S_OK);
    ASSERT_EQ(callback->clock->SetUserProvidedClock(TRUE), S_OK);
    ASSERT_EQ(OpenAndWait(reader.Get(), callback.Get(), "half.wma"), S_OK);
    ASSERT_EQ(reader->Start(0, 0, 1.0f, nullptr), S_OK);
    ASSERT_TRUE(callback->WaitForStatus(wm::WMT_EOF));
    EXPECT_EQ(reader->Close(), S_OK);
    EXPECT_GT(callback->pcm().size(), 0u);
}

// Decodes `name` with the user clock from `start` and checks the clock's
// protocol on the way; returns the recorder.
ComPtr<Recorder> DecodeWithUserClock(const std::string& path, QWORD start) {
    ComPtr<wm::IWMReader> reader;
    EXPECT_EQ(WMCreateReaderPriv(reader.Put()), S_OK);
    ComPtr<Recorder> callback(Recorder::Create());
    EXPECT_EQ(reader.As(callback->clock), S_OK);
    EXPECT_EQ(callback->clock->SetUserProvidedClock(TRUE), S_OK);
    callback->start = start;
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
        ComPtr<Recorder> callback = DecodeWithUserClock(Path(name), 0);
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

TEST_F(SdkReader, StartAtAPositionDeliversFromThere) {
    constexpr QWORD kStart = kSecond;
    ComPtr<Recorder> callback = DecodeWithUserClock(Path("stereo.wma"), kStart);
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
        ComPtr<wm::IWMReader> reader = NewReader();
        ComPtr<Recorder> callback(Recorder::Create());
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

// Close on the delivery thread never returns on the platform; here it fails,
// says so, and the decode goes on to its end.
TEST_F(SdkReader, CloseInsideACallbackFailsAndChangesNothing) {
    ComPtr<wm::IWMReader> reader = NewReader();
    ComPtr<Recorder> callback(Recorder::Create());
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
    ComPtr<Recorder> callback(Recorder::Create());
    ComPtr<wm::IWMReader> reader = NewReader();
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
        ComPtr<wm::IWMReader> reader = NewReader();
        ComPtr<Recorder> callback(Recorder::Create());
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

TEST_F(SdkReader, RealTimeDecodeDeliversTheWholeFile) {
    ComPtr<wm::IWMReader> reader = NewReader();
    ComPtr<Recorder> callback(Recorder::Create());
    ASSERT_EQ(OpenAndWait(reader.Get(), callback.Get(), "short.wma"), S_OK);
    ASSERT_EQ(reader->Start(0, 0, 1.0f, nullptr), S_OK);
    ASSERT_TRUE(callback->WaitForStatus(wm::WMT_EOF));
    const std::vector<int16_t> ours = ToSamples(callback->pcm());
    const std::vector<int16_t> reference = Reference("short.wma");
    EXPECT_EQ(ours.size(), reference.size());

    // The same reader starts over after the end of the file.
    const size_t firstRun = callback->pcm().size();
    ASSERT_EQ(reader->Start(0, 0, 1.0f, nullptr), S_OK);
    ASSERT_TRUE(callback->WaitUntil(
        [](const std::vector<Event>& events) { return CountStatus(events, wm::WMT_EOF) == 2; }));
    EXPECT_EQ(callback->pcm().size(), 2 * firstRun);
    EXPECT_EQ(reader->Close(), S_OK);
}

}  // namespace
