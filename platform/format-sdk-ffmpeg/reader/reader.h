// SPDX-License-Identifier: MIT
// The reader object WMCreateReaderPriv hands out: IWMReader, IWMReaderAdvanced,
// IWMHeaderInfo and the file's profile (IWMProfile) over one ASF file. This is
// the COM face; the playback itself (worker thread, requests, pacing,
// delivery) is reader_session.h.
//
// Threads: every Open starts a session, opened on the shared open thread,
// which reports the open from there; the first Start gives the session a
// worker thread of its own, which makes every later callback (status,
// samples, OnTime) from that thread only. Both share the session's state with
// this object through a shared_ptr.
//
// Close waits until the session's threads are out of any callback and the
// worker has ended, so no callback starts after Close has returned; the
// callback's references are released by Close. The platform's reader
// deadlocks when Close or the release of its last reference happens on its
// own delivery thread (it waits for that thread to end, i.e. for itself). This reader refuses both
// visibly instead of hanging, and never more kindly than the platform: such a Close fails with
// HRESULT_FROM_WIN32(ERROR_POSSIBLE_DEADLOCK) and changes nothing; such a last
// Release closes the session (no further callback arrives) and leaves the
// object and all it holds undestroyed, so leak checkers report it. Each writes
// one line naming the call on stderr.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "asf/header_info.h"
#include "com_object.h"
#include "wmsdk.h"

namespace ffsdk {

struct ReaderSession;

class Reader final
    : public wm::ComObject<wm::IWMReader, wm::IWMReaderAdvanced, HeaderInfo, wm::IWMProfile> {
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
    HRESULT STDMETHODCALLTYPE Pause() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resume() override { return E_NOTIMPL; }

    // IWMReaderAdvanced: the user clock and stream selection; everything else
    // is off or unsupported. A stream switched off delivers nothing; only the
    // decoded stream delivers anything at all.
    HRESULT STDMETHODCALLTYPE SetUserProvidedClock(BOOL userClock) override;
    HRESULT STDMETHODCALLTYPE GetUserProvidedClock(BOOL* userClock) override;
    HRESULT STDMETHODCALLTYPE DeliverTime(wm::QWORD time) override;
    HRESULT STDMETHODCALLTYPE SetManualStreamSelection(BOOL selection) override;
    HRESULT STDMETHODCALLTYPE GetManualStreamSelection(BOOL* selection) override;
    // Only with manual selection on, and for streams of the file.
    HRESULT STDMETHODCALLTYPE SetStreamsSelected(WORD count, WORD* streams,
                                                 wm::WMT_STREAM_SELECTION* selections) override;
    HRESULT STDMETHODCALLTYPE GetStreamSelected(WORD stream,
                                                wm::WMT_STREAM_SELECTION* selection) override;
    HRESULT STDMETHODCALLTYPE SetReceiveSelectionCallbacks(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetReceiveSelectionCallbacks(BOOL* getCallbacks) override {
        return AnswerFalse(getCallbacks);
    }
    HRESULT STDMETHODCALLTYPE SetReceiveStreamSamples(WORD, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetReceiveStreamSamples(WORD, BOOL* receive) override {
        return AnswerFalse(receive);
    }
    HRESULT STDMETHODCALLTYPE SetAllocateForOutput(DWORD, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAllocateForOutput(DWORD, BOOL* allocate) override {
        return AnswerFalse(allocate);
    }
    HRESULT STDMETHODCALLTYPE SetAllocateForStream(WORD, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAllocateForStream(WORD, BOOL* allocate) override {
        return AnswerFalse(allocate);
    }
    HRESULT STDMETHODCALLTYPE GetStatistics(wm::WM_READER_STATISTICS*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetClientInfo(wm::WM_READER_CLIENTINFO*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMaxOutputSampleSize(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMaxStreamSampleSize(WORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NotifyLateDelivery(wm::QWORD) override { return S_OK; }

    // IWMProfile: the open file's streams, read-only.
    HRESULT STDMETHODCALLTYPE GetVersion(wm::WMT_VERSION* version) override;
    HRESULT STDMETHODCALLTYPE GetName(WCHAR*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetName(const WCHAR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDescription(WCHAR*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDescription(const WCHAR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* streams) override;
    HRESULT STDMETHODCALLTYPE GetStream(DWORD streamIndex, wm::IWMStreamConfig** config) override;
    HRESULT STDMETHODCALLTYPE GetStreamByNumber(WORD streamNum,
                                                wm::IWMStreamConfig** config) override;
    HRESULT STDMETHODCALLTYPE RemoveStream(wm::IWMStreamConfig*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveStreamByNumber(WORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddStream(wm::IWMStreamConfig*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReconfigStream(wm::IWMStreamConfig*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID, wm::IWMStreamConfig**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMutualExclusionCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetMutualExclusion(DWORD, wm::IWMMutualExclusion**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RemoveMutualExclusion(wm::IWMMutualExclusion*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AddMutualExclusion(wm::IWMMutualExclusion*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateNewMutualExclusion(wm::IWMMutualExclusion**) override {
        return E_NOTIMPL;
    }

  private:
    // The answer for the options this reader never turns on.
    static HRESULT AnswerFalse(BOOL* setting) {
        if (setting == nullptr) return E_POINTER;
        *setting = FALSE;
        return S_OK;
    }

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
    // The stream settings of the open file's stream at `index` in header
    // order, or numbered `number` (index ignored) when that is not 0.
    HRESULT StreamConfigOf(size_t index, WORD number, wm::IWMStreamConfig** config);
    // Lets go of a finished worker thread: joins it, or detaches it when the
    // caller is that thread.
    static void LetGo(std::thread& worker);

    std::mutex mutex_;  // guards session_ and worker_
    std::shared_ptr<ReaderSession> session_;
    std::thread worker_;
    std::atomic<bool> userClock_{false};
};

}  // namespace ffsdk
