// The reader object WMCreateReaderPriv hands out: IWMReader, IWMReaderAdvanced
// and IWMHeaderInfo over one ASF file. This is the COM face; the playback
// itself (worker thread, requests, pacing, delivery) is reader_session.h.
//
// Threads: every Open starts a session with a worker thread of its own, which
// calls the host's callback (status, samples, OnTime) from that thread only.
// The worker shares its state with this object through a shared_ptr.
//
// Close waits until the worker is out of any callback and has ended, so no
// callback starts after Close has returned; the callback's references are
// released by Close. The platform's reader deadlocks when Close or the release
// of its last reference happens on its own delivery thread (it waits for that
// thread to end, i.e. for itself). This reader refuses both visibly instead of
// hanging, and never more kindly than the platform: such a Close fails with
// HRESULT_FROM_WIN32(ERROR_POSSIBLE_DEADLOCK) and changes nothing; such a last
// Release closes the session (no further callback arrives) and leaves the
// object and all it holds undestroyed, so leak checkers report it. Each writes
// one line naming the call on stderr.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "common/com_object.h"
#include "common/header_attributes.h"
#include "wmsdk.h"

namespace ffsdk {

struct ReaderSession;

class Reader final : public ComObject<wm::IWMReader, wm::IWMReaderAdvanced, HeaderInfo> {
  public:
    // One reference, owned by the caller; null when out of memory.
    static Reader* Create();

    // IWMReader
    HRESULT STDMETHODCALLTYPE Open(const WCHAR* url, wm::IWMReaderCallback* callback,
                                   void* context) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE GetOutputCount(DWORD* outputs) override;
    HRESULT STDMETHODCALLTYPE GetOutputProps(DWORD outputNum,
                                             wm::IWMOutputMediaProps** output) override;
    HRESULT STDMETHODCALLTYPE SetOutputProps(DWORD outputNum,
                                             wm::IWMOutputMediaProps* output) override;
    HRESULT STDMETHODCALLTYPE GetOutputFormatCount(DWORD outputNum, DWORD* formats) override;
    HRESULT STDMETHODCALLTYPE GetOutputFormat(DWORD outputNum, DWORD formatNum,
                                              wm::IWMOutputMediaProps** props) override;
    HRESULT STDMETHODCALLTYPE Start(wm::QWORD start, wm::QWORD duration, float rate,
                                    void* context) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Resume() override;

    // IWMReaderAdvanced
    HRESULT STDMETHODCALLTYPE SetUserProvidedClock(BOOL userClock) override;
    HRESULT STDMETHODCALLTYPE GetUserProvidedClock(BOOL* userClock) override;
    HRESULT STDMETHODCALLTYPE DeliverTime(wm::QWORD time) override;
    HRESULT STDMETHODCALLTYPE SetManualStreamSelection(BOOL selection) override;
    HRESULT STDMETHODCALLTYPE GetManualStreamSelection(BOOL* selection) override;
    HRESULT STDMETHODCALLTYPE SetStreamsSelected(WORD streamCount, WORD* streamNumbers,
                                                 wm::WMT_STREAM_SELECTION* selections) override;
    HRESULT STDMETHODCALLTYPE GetStreamSelected(WORD streamNum,
                                                wm::WMT_STREAM_SELECTION* selection) override;
    HRESULT STDMETHODCALLTYPE SetReceiveSelectionCallbacks(BOOL getCallbacks) override;
    HRESULT STDMETHODCALLTYPE GetReceiveSelectionCallbacks(BOOL* getCallbacks) override;
    HRESULT STDMETHODCALLTYPE SetReceiveStreamSamples(WORD streamNum, BOOL receive) override;
    HRESULT STDMETHODCALLTYPE GetReceiveStreamSamples(WORD streamNum, BOOL* receive) override;
    HRESULT STDMETHODCALLTYPE SetAllocateForOutput(DWORD outputNum, BOOL allocate) override;
    HRESULT STDMETHODCALLTYPE GetAllocateForOutput(DWORD outputNum, BOOL* allocate) override;
    HRESULT STDMETHODCALLTYPE SetAllocateForStream(WORD streamNum, BOOL allocate) override;
    HRESULT STDMETHODCALLTYPE GetAllocateForStream(WORD streamNum, BOOL* allocate) override;
    HRESULT STDMETHODCALLTYPE GetStatistics(wm::WM_READER_STATISTICS* statistics) override;
    HRESULT STDMETHODCALLTYPE SetClientInfo(wm::WM_READER_CLIENTINFO* clientInfo) override;
    HRESULT STDMETHODCALLTYPE GetMaxOutputSampleSize(DWORD outputNum, DWORD* maxSize) override;
    HRESULT STDMETHODCALLTYPE GetMaxStreamSampleSize(WORD streamNum, DWORD* maxSize) override;
    HRESULT STDMETHODCALLTYPE NotifyLateDelivery(wm::QWORD lateness) override;

  private:
    Reader() = default;
    ~Reader() override;

    // The open file's attributes; SetAttribute changes only what this reader
    // reports, the file is not written.
    HRESULT WithHeader(const HeaderUse& use) override;

    // Destroys the reader, except on its own worker thread (see above).
    void LastReleased() override;

    std::shared_ptr<ReaderSession> CurrentSession();
    // Runs `body(session, lock)` with the current session locked, if a file
    // is open; NS_E_INVALID_REQUEST otherwise. Nothing thrown gets past it.
    template <typename Body>
    HRESULT WithOpenSession(Body&& body);
    // Lets go of a finished worker thread: joins it, or detaches it when the
    // caller is that thread.
    static void LetGo(std::thread& worker);

    std::mutex mutex_;  // guards session_ and worker_
    std::shared_ptr<ReaderSession> session_;
    std::thread worker_;
    std::atomic<bool> userClock_{false};
};

}  // namespace ffsdk
