// SPDX-License-Identifier: MIT
// A scriptable fake Format SDK reader: IWMReader and IWMReaderAdvanced on one
// object, answering IWMHeaderInfo queries with its own FakeHeaderInfo.
//
// Like the platform's reader it keeps the callback it was opened with and calls
// it back with statuses, samples and clock ticks, either on the caller's thread
// (Report, Sample, Tick) or on a thread of its own (RunAsync). Results of every
// operation can be forced, and calls are recorded in the shared CallLog.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_com.h"
#include "mervane.h"

namespace fakes {

// Every IWMReader and IWMReaderAdvanced method the library does not use
// answers E_NOTIMPL, as an unimplemented call would.
class ReaderDefaults : public FakeCom<wm::IWMReader, wm::IWMReaderAdvanced> {
  public:
    FAKE_NOT_USED(SetOutputProps, DWORD, wm::IWMOutputMediaProps*)
    FAKE_NOT_USED(GetOutputFormatCount, DWORD, DWORD*)
    FAKE_NOT_USED(GetOutputFormat, DWORD, DWORD, wm::IWMOutputMediaProps**)
    FAKE_NOT_USED(Pause, void)
    FAKE_NOT_USED(Resume, void)
    FAKE_NOT_USED(GetUserProvidedClock, BOOL*)
    FAKE_NOT_USED(SetManualStreamSelection, BOOL)
    FAKE_NOT_USED(GetManualStreamSelection, BOOL*)
    FAKE_NOT_USED(SetStreamsSelected, WORD, WORD*, wm::WMT_STREAM_SELECTION*)
    FAKE_NOT_USED(GetStreamSelected, WORD, wm::WMT_STREAM_SELECTION*)
    FAKE_NOT_USED(SetReceiveSelectionCallbacks, BOOL)
    FAKE_NOT_USED(GetReceiveSelectionCallbacks, BOOL*)
    FAKE_NOT_USED(SetReceiveStreamSamples, WORD, BOOL)
    FAKE_NOT_USED(GetReceiveStreamSamples, WORD, BOOL*)
    FAKE_NOT_USED(SetAllocateForOutput, DWORD, BOOL)
    FAKE_NOT_USED(GetAllocateForOutput, DWORD, BOOL*)
    FAKE_NOT_USED(SetAllocateForStream, WORD, BOOL)
    FAKE_NOT_USED(GetAllocateForStream, WORD, BOOL*)
    FAKE_NOT_USED(GetStatistics, wm::WM_READER_STATISTICS*)
    FAKE_NOT_USED(SetClientInfo, wm::WM_READER_CLIENTINFO*)
    FAKE_NOT_USED(GetMaxOutputSampleSize, DWORD, DWORD*)
    FAKE_NOT_USED(GetMaxStreamSampleSize, WORD, DWORD*)
    FAKE_NOT_USED(NotifyLateDelivery, wm::QWORD)

  protected:
    ~ReaderDefaults() override = default;
};

class FakeReader : public ReaderDefaults {
  public:
    FakeReader();

    ULONG STDMETHODCALLTYPE Release() override;

    // IWMReader and IWMReaderAdvanced, as far as the library uses them.
    HRESULT STDMETHODCALLTYPE Open(const WCHAR* url, wm::IWMReaderCallback* callback,
                                   void* context) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE GetOutputCount(DWORD* outputs) override;
    HRESULT STDMETHODCALLTYPE GetOutputProps(DWORD outputNum,
                                             wm::IWMOutputMediaProps** output) override;
    HRESULT STDMETHODCALLTYPE Start(wm::QWORD start, wm::QWORD duration, float rate,
                                    void* context) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE SetUserProvidedClock(BOOL userClock) override;
    HRESULT STDMETHODCALLTYPE DeliverTime(wm::QWORD time) override;

    // ---- Script ----

    // What Open does after recording its arguments. Unset: reports status 1 with
    // S_OK on the caller's thread and returns S_OK.
    std::function<HRESULT(FakeReader&)> onOpen;
    // What Start does after recording its arguments. Unset: returns S_OK.
    std::function<HRESULT(FakeReader&)> onStart;
    // What Stop does. Unset: fails with NS_E_INVALID_REQUEST once the reader is
    // closed, otherwise reports status 12 on the caller's thread and succeeds.
    std::function<HRESULT(FakeReader&)> onStop;
    HRESULT closeResult = S_OK;
    HRESULT outputPropsResult = S_OK;
    HRESULT userClockResult = S_OK;
    HRESULT deliverTimeResult = S_OK;

    // The reader's header attributes and outputs, owned by the reader.
    FakeHeaderInfo* header;
    std::vector<FakeMediaProps*> outputs;
    void AddOutput(std::vector<BYTE> mediaType);

    // ---- What the library did ----

    std::u16string openedPath;
    void* openContext = nullptr;  // handed back with every status, as the platform does
    wm::QWORD startTime = 0;
    wm::QWORD startDuration = 0;
    float startRate = 0;
    std::atomic<bool> closed{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<int> closeCalls{0};
    std::atomic<std::thread::id> closedOn{};
    std::atomic<int> userClockCalls{0};
    std::atomic<BOOL> userClock{FALSE};  // as last set
    // The reader's references when Close came (the library's included).
    std::atomic<long> refsAtClose{0};
    // Calls the platform's reader never returns from: Close, or the release of
    // the last reference besides the test's, made on a thread while it is
    // inside one of this reader's callbacks (its delivery thread).
    std::atomic<int> callsThatWouldHang{0};
    std::vector<wm::QWORD> DeliveredTimes() const;

    // ---- Calling the library back, as the reader does ----

    // The callback given to Open (with one reference held until Close) and its
    // advanced interface, queried at Open as the platform's reader does.
    wm::IWMReaderCallback* callback = nullptr;
    wm::IWMReaderCallbackAdvanced* advancedCallback = nullptr;

    void Report(wm::WMT_STATUS status, HRESULT hr = S_OK);
    HRESULT Sample(DWORD output, wm::QWORD time, std::vector<BYTE> bytes,
                   HRESULT bufferResult = S_OK);
    HRESULT Tick(wm::QWORD currentTime = 0);

    // Runs `body` on the reader's own thread (after the previous one finished).
    void RunAsync(std::function<void(FakeReader&)> body);
    // Waits for the reader's thread; a no-op on that thread itself.
    void Join();
    // Lets go of the callback's references, as Close does (once).
    void ReleaseCallbacks();

  protected:
    ~FakeReader() override;

  private:
    mutable std::mutex mutex_;
    std::vector<wm::QWORD> delivered_;
    std::atomic<bool> callbacksReleased_{false};
    std::thread worker_;

  protected:
    IUnknown* Part(REFIID iid) override;
};

// A fault to inject into a reader before the library uses it, by name.
struct ReaderFault {
    const char* what;
    std::function<void(FakeReader&)> inject;
};
// Makes the reader's QueryInterface refuse `iid`.
void RefuseQuery(FakeReader& reader, const IID& iid);

// ---- The host's side of a decode ---------------------------------------------------------

// Records what the library hands the host's SampleCallback, from any thread.
class FakeHost {
  public:
    struct Block {
        std::vector<BYTE> bytes;
        uint32_t timeMs;
        const void* data;  // the pointer the library passed
    };
    static FakeHost& Instance();
    // The SampleCallback that records into Instance().
    static SampleCallback Callback();
    // A second callback, to tell which one the library kept: counts its calls.
    static SampleCallback OtherCallback();
    static int OtherCalls();

    void Reset();
    std::vector<Block> Blocks() const;
    int EndCalls() const;
    // Waits (at most `limit`) until `count` end calls have been made.
    bool WaitForEndCalls(int count, std::chrono::milliseconds limit) const;
    // Runs on the end call before it is counted; set only while no decode runs.
    std::function<void()> onEnd;

    void Record(const void* data, uint32_t byteCount, uint32_t timeMs);

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable ended_;
    std::vector<Block> blocks_;
    int endCalls_ = 0;
};

// ---- The library's reader side, seen from the tests ------------------------------------------

// Makes WMCreateReaderPriv hand out a new reference to `reader`.
void ServeReader(FakeReader* reader);
// The reference count of the library's ReaderCallback (1: only its own).
long CallbackRefs();
// Empties the reader-side slots (releasing what they hold).
void ClearReaderSlots();
// The clock of the decode watch, run by the test: the watch's waits end when
// it is woken, as usual, and run out only when the test says so.
class WatchClock {
  public:
    // Takes the watch's waits, with `limitMs` as the silence limit; until
    // ClearReaderSlots gives them back.
    static void Install(DWORD limitMs = 30000);
    // Lets the watch's wait run out once, and waits until the watch has acted
    // on it (waits again or has left). False if that did not happen in 20 s.
    static bool RunOut();
};

}  // namespace fakes
