// SPDX-License-Identifier: MIT
#include "reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "com_ptr.h"
#include "common/com_call.h"
#include "open_thread.h"
#include "output_props.h"
#include "profile/stream_config.h"
#include "reader_session.h"

namespace ffsdk {

namespace {

using Lock = std::unique_lock<std::mutex>;

// Names a call the platform never returns from, made on the reader's own
// delivery thread.
void ReportDeadlockingCall(const char* call) {
    std::fprintf(stderr,
                 "format-sdk stand-in: %s called on the reader's own delivery thread "
                 "(the platform deadlocks here)\n",
                 call);
}

}  // namespace

Reader* Reader::Create() {
    return new (std::nothrow) Reader;
}

// Never runs on the session's worker: LastReleased sees to that.
Reader::~Reader() {
    std::shared_ptr<ReaderSession> session = std::move(session_);
    if (session) {
        SessionCallbacks callbacks;
        Lock lock(session->mutex);
        EndSession(*session);
        callbacks = TakeCallbacks(*session, lock);
    }
    LetGo(worker_);
}

void Reader::LastReleased() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (session_) {
            std::lock_guard<std::mutex> inner(session_->mutex);
            if (OnCallbackThread(*session_)) {
                // The platform hangs here for good. Instead: no callback after
                // this one, and the object, its session and the callback's
                // references stay as they are, never destroyed. The worker
                // ends by itself once the callback returns.
                EndSession(*session_);
                if (worker_.get_id() == std::this_thread::get_id()) worker_.detach();
                ReportDeadlockingCall("IUnknown::Release of the reader's last reference");
                return;
            }
        }
    }
    delete this;
}

void Reader::LetGo(std::thread& worker) {
    if (!worker.joinable()) return;
    if (worker.get_id() == std::this_thread::get_id()) {
        worker.detach();
    } else {
        worker.join();
    }
}

std::shared_ptr<ReaderSession> Reader::CurrentSession() {
    std::lock_guard<std::mutex> lock(mutex_);
    return session_;
}

template <typename Body>
HRESULT Reader::WithOpenSession(Body&& body) {
    return Guarded([&]() -> HRESULT {
        std::shared_ptr<ReaderSession> s = CurrentSession();
        if (!s) return wm::NS_E_INVALID_REQUEST;
        Lock lock(s->mutex);
        if (!s->opened || s->closed) return wm::NS_E_INVALID_REQUEST;
        return body(*s, lock);
    });
}

HRESULT Reader::Open(const WCHAR* url, wm::IWMReaderCallback* callback, void* context) {
    return Guarded([&]() -> HRESULT {
        if (url == nullptr || callback == nullptr) return E_INVALIDARG;
        std::string path;
        if (!ToUtf8(url, &path)) return E_INVALIDARG;
        auto session = std::make_shared<ReaderSession>();
        session->path = std::move(path);
        session->openContext = context;
        SessionCallbacks& callbacks = session->callbacks;
        callbacks.callback = wm::ComPtr<wm::IWMReaderCallback>::CopyFrom(callback);
        if (FAILED(callbacks.callback.As(callbacks.advanced))) callbacks.advanced.Reset();

        std::thread previous;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (session_) {
                std::lock_guard<std::mutex> inner(session_->mutex);
                if (!session_->closed) return wm::NS_E_INVALID_REQUEST;
            }
            RunOnOpenThread([session] { OpenSession(session); });
            previous = std::move(worker_);
            session_ = std::move(session);
        }
        LetGo(previous);
        return S_OK;
    });
}

HRESULT Reader::Close() {
    return Guarded([&]() -> HRESULT {
        std::shared_ptr<ReaderSession> s = CurrentSession();
        if (!s) return wm::NS_E_INVALID_REQUEST;
        SessionCallbacks callbacks;
        {
            Lock lock(s->mutex);
            if (OnCallbackThread(*s)) {
                // A defect of the caller, refused without touching the session.
                ReportDeadlockingCall("IWMReader::Close");
                // "A potential deadlock condition has been detected": names the
                // calling thread as the fault, not the reader's state.
                return wm::E_POSSIBLE_DEADLOCK;
            }
            if (s->closed) return wm::NS_E_INVALID_REQUEST;
            EndSession(*s);
            callbacks = TakeCallbacks(*s, lock);
        }
        std::thread worker;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (session_ == s) worker = std::move(worker_);
        }
        LetGo(worker);
        // The file goes with the worker; without one, here.
        std::lock_guard<std::mutex> lock(s->mutex);
        s->file.reset();
        return S_OK;
    });
}

HRESULT Reader::GetOutputCount(DWORD* outputs) {
    if (outputs == nullptr) return E_POINTER;
    return WithOpenSession([&](ReaderSession& s, Lock&) -> HRESULT {
        *outputs = static_cast<DWORD>(s.outputs.size());
        return S_OK;
    });
}

HRESULT Reader::GetOutputProps(DWORD outputNum, wm::IWMOutputMediaProps** output) {
    if (output == nullptr) return E_POINTER;
    *output = nullptr;
    return WithOpenSession([&](ReaderSession& s, Lock& lock) -> HRESULT {
        if (outputNum >= s.outputs.size()) return E_INVALIDARG;
        const ReaderOutput described = s.outputs[outputNum];
        lock.unlock();
        OutputMediaProps* props = described.audio ? OutputMediaProps::Create(described.format)
                                                  : OutputMediaProps::CreateVideo();
        if (props == nullptr) return E_OUTOFMEMORY;
        *output = props;
        return S_OK;
    });
}

HRESULT Reader::SetOutputProps(DWORD outputNum, wm::IWMOutputMediaProps* output) {
    if (output == nullptr) return E_POINTER;
    return WithOpenSession([&](ReaderSession& s, Lock& lock) -> HRESULT {
        if (outputNum >= s.outputs.size()) return E_INVALIDARG;
        const ReaderOutput described = s.outputs[outputNum];
        lock.unlock();  // the host's object is not called under the session's lock
        if (!described.audio) return E_INVALIDARG;
        // Only the output's own format is taken: the reader does not convert.
        std::vector<uint64_t> storage;
        wm::MediaTypeView type;
        const HRESULT hr = ReadMediaType(output, storage, &type, E_INVALIDARG);
        if (FAILED(hr)) return hr;
        return IsPcmMediaType(*type.type, described.format) ? S_OK : E_INVALIDARG;
    });
}

HRESULT Reader::GetOutputFormatCount(DWORD outputNum, DWORD* formats) {
    if (formats == nullptr) return E_POINTER;
    DWORD outputs = 0;
    const HRESULT hr = GetOutputCount(&outputs);
    if (FAILED(hr)) return hr;
    if (outputNum >= outputs) return E_INVALIDARG;
    *formats = 1;
    return S_OK;
}

HRESULT Reader::GetOutputFormat(DWORD outputNum, DWORD formatNum, wm::IWMOutputMediaProps** props) {
    if (props == nullptr) return E_POINTER;
    *props = nullptr;
    if (formatNum != 0) return E_INVALIDARG;
    return GetOutputProps(outputNum, props);
}

HRESULT Reader::Start(wm::QWORD start, wm::QWORD duration, float rate, void* context) {
    (void)rate;  // delivery speed is set by the clock, not by a rate
    const HRESULT hr = WithOpenSession([&](ReaderSession& s, Lock& lock) -> HRESULT {
        PlaybackCommand command;
        command.kind = PlaybackCommand::kStart;
        command.start = start;
        command.duration = duration;
        command.userClock = userClock_.load();
        command.context = context;
        s.commands.push_back(command);
        s.started = true;
        s.startContext = context;
        // The clock starts over; the host moves it on after WMT_STARTED.
        s.deliverTime = 0;
        s.deliverPending = false;
        lock.unlock();
        s.changed.notify_all();
        return S_OK;
    });
    if (FAILED(hr)) return hr;
    // The session's worker, made at its first Start.
    return Guarded([&]() -> HRESULT {
        std::lock_guard<std::mutex> lock(mutex_);
        if (session_ && !worker_.joinable()) worker_ = std::thread(RunSession, session_);
        return S_OK;
    });
}

HRESULT Reader::Stop() {
    return WithOpenSession([&](ReaderSession& s, Lock& lock) -> HRESULT {
        if (!s.started) return wm::NS_E_INVALID_REQUEST;
        PlaybackCommand command;
        command.kind = PlaybackCommand::kStop;
        command.context = s.startContext;
        s.commands.push_back(command);
        s.started = false;
        lock.unlock();
        s.changed.notify_all();
        return S_OK;
    });
}

HRESULT Reader::SetUserProvidedClock(BOOL userClock) {
    userClock_.store(userClock != FALSE);
    return S_OK;
}

HRESULT Reader::GetUserProvidedClock(BOOL* userClock) {
    if (userClock == nullptr) return E_POINTER;
    *userClock = userClock_.load() ? TRUE : FALSE;
    return S_OK;
}

HRESULT Reader::DeliverTime(wm::QWORD time) {
    return WithOpenSession([&](ReaderSession& s, Lock& lock) -> HRESULT {
        s.deliverTime = time;
        s.deliverPending = true;
        lock.unlock();
        s.changed.notify_all();
        return S_OK;
    });
}

HRESULT Reader::SetManualStreamSelection(BOOL selection) {
    return WithOpenSession([&](ReaderSession& s, Lock&) -> HRESULT {
        // Turning manual selection on selects every stream.
        s.manualSelection = selection != FALSE;
        s.deselected.clear();
        return S_OK;
    });
}

HRESULT Reader::GetManualStreamSelection(BOOL* selection) {
    if (selection == nullptr) return E_POINTER;
    return WithOpenSession([&](ReaderSession& s, Lock&) -> HRESULT {
        *selection = s.manualSelection ? TRUE : FALSE;
        return S_OK;
    });
}

HRESULT Reader::SetStreamsSelected(WORD count, WORD* streams,
                                   wm::WMT_STREAM_SELECTION* selections) {
    if (count == 0 || streams == nullptr || selections == nullptr) return E_INVALIDARG;
    return WithOpenSession([&](ReaderSession& s, Lock&) -> HRESULT {
        if (!s.manualSelection) return wm::NS_E_INVALID_REQUEST;
        for (WORD i = 0; i < count; ++i) {
            if (s.header.StreamByNumber(streams[i]) == nullptr) return wm::NS_E_INVALID_REQUEST;
        }
        for (WORD i = 0; i < count; ++i) {
            auto at = std::find(s.deselected.begin(), s.deselected.end(), streams[i]);
            if (at != s.deselected.end()) s.deselected.erase(at);
            if (selections[i] == wm::WMT_OFF) s.deselected.push_back(streams[i]);
        }
        return S_OK;
    });
}

HRESULT Reader::GetStreamSelected(WORD stream, wm::WMT_STREAM_SELECTION* selection) {
    if (selection == nullptr) return E_INVALIDARG;
    return WithOpenSession([&](ReaderSession& s, Lock&) -> HRESULT {
        if (!s.manualSelection) return wm::NS_E_INVALID_REQUEST;
        if (s.header.StreamByNumber(stream) == nullptr) return E_INVALIDARG;
        const bool off =
            std::find(s.deselected.begin(), s.deselected.end(), stream) != s.deselected.end();
        *selection = off ? wm::WMT_OFF : wm::WMT_ON;
        return S_OK;
    });
}

HRESULT Reader::GetVersion(wm::WMT_VERSION* version) {
    if (version == nullptr) return E_POINTER;
    return WithOpenSession([&](ReaderSession&, Lock&) -> HRESULT {
        *version = wm::WMT_VER_9_0;
        return S_OK;
    });
}

HRESULT Reader::GetStreamCount(DWORD* streams) {
    if (streams == nullptr) return E_POINTER;
    return WithOpenSession([&](ReaderSession& s, Lock&) -> HRESULT {
        *streams = static_cast<DWORD>(s.header.streams().size());
        return S_OK;
    });
}

HRESULT Reader::GetMutualExclusionCount(DWORD* count) {
    if (count == nullptr) return E_POINTER;
    return WithOpenSession([&](ReaderSession&, Lock&) -> HRESULT {
        *count = 0;  // the exclusions shape the outputs, and are not handed out
        return S_OK;
    });
}

HRESULT Reader::GetStream(DWORD streamIndex, wm::IWMStreamConfig** config) {
    return StreamConfigOf(streamIndex, 0, config);
}

HRESULT Reader::GetStreamByNumber(WORD streamNum, wm::IWMStreamConfig** config) {
    if (streamNum == 0) return E_INVALIDARG;
    return StreamConfigOf(0, streamNum, config);
}

HRESULT Reader::StreamConfigOf(size_t index, WORD number, wm::IWMStreamConfig** config) {
    if (config == nullptr) return E_POINTER;
    *config = nullptr;
    return WithOpenSession([&](ReaderSession& s, Lock&) -> HRESULT {
        const std::vector<asf::Stream>& streams = s.header.streams();
        const asf::Stream* stream = nullptr;
        if (number != 0) {
            stream = s.header.StreamByNumber(number);
        } else if (index < streams.size()) {
            stream = &streams[index];
        }
        if (stream == nullptr) return E_INVALIDARG;
        // The stream's media type, as the platform names it: audio and video
        // by their major types, anything else by its ASF stream type.
        GUID type = stream->kind == asf::StreamKind::Audio   ? wm::WMMEDIATYPE_Audio
                    : stream->kind == asf::StreamKind::Video ? wm::WMMEDIATYPE_Video
                                                             : GUID{};
        if (stream->kind == asf::StreamKind::Other) {
            std::memcpy(&type, stream->typeGuid.data(), sizeof type);
        }
        wm::ComPtr<StreamConfig> made(StreamConfig::CreateRead(type, stream->number));
        if (!made) return E_OUTOFMEMORY;
        *config = made.Detach();
        return S_OK;
    });
}

HRESULT Reader::WithHeader(const HeaderUse& use) {
    return WithOpenSession([&](ReaderSession& s, Lock&) { return use(s.header); });
}

}  // namespace ffsdk
