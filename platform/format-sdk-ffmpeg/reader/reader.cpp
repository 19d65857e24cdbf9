// SPDX-License-Identifier: MIT
#include "reader.h"

#include <cstdio>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "com_ptr.h"
#include "common/com_call.h"
#include "output_props.h"
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
            if (session_->workerId == std::this_thread::get_id()) {
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
        callbacks.callback = mervane::ComPtr<wm::IWMReaderCallback>::CopyFrom(callback);
        if (FAILED(callbacks.callback.As(callbacks.advanced))) callbacks.advanced.Reset();

        std::thread previous;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (session_) {
                std::lock_guard<std::mutex> inner(session_->mutex);
                if (!session_->closed) return wm::NS_E_INVALID_REQUEST;
            }
            std::thread worker(RunSession, session);
            previous = std::move(worker_);
            worker_ = std::move(worker);
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
            if (s->workerId == std::this_thread::get_id()) {
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
        return S_OK;
    });
}

HRESULT Reader::GetOutputCount(DWORD* outputs) {
    if (outputs == nullptr) return E_POINTER;
    return WithOpenSession([&](ReaderSession&, Lock&) -> HRESULT {
        *outputs = 1;
        return S_OK;
    });
}

HRESULT Reader::GetOutputProps(DWORD outputNum, wm::IWMOutputMediaProps** output) {
    if (output == nullptr) return E_POINTER;
    *output = nullptr;
    return WithOpenSession([&](ReaderSession& s, Lock& lock) -> HRESULT {
        const wm::WAVEFORMATEX format = s.format;
        lock.unlock();
        if (outputNum != 0) return E_INVALIDARG;
        OutputMediaProps* props = OutputMediaProps::Create(format);
        if (props == nullptr) return E_OUTOFMEMORY;
        *output = props;
        return S_OK;
    });
}

HRESULT Reader::SetOutputProps(DWORD outputNum, wm::IWMOutputMediaProps* output) {
    if (output == nullptr) return E_POINTER;
    return WithOpenSession([&](ReaderSession& s, Lock& lock) -> HRESULT {
        const wm::WAVEFORMATEX format = s.format;
        lock.unlock();  // the host's object is not called under the session's lock
        if (outputNum != 0) return E_INVALIDARG;
        // Only the output's own format is taken: the reader does not convert.
        DWORD size = 0;
        HRESULT hr = output->GetMediaType(nullptr, &size);
        if (FAILED(hr)) return hr;
        if (size < sizeof(wm::WM_MEDIA_TYPE)) return E_INVALIDARG;
        std::vector<uint64_t> storage((size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
        auto* type = reinterpret_cast<wm::WM_MEDIA_TYPE*>(storage.data());
        hr = output->GetMediaType(type, &size);
        if (FAILED(hr)) return hr;
        return IsPcmMediaType(*type, format) ? S_OK : E_INVALIDARG;
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
    return WithOpenSession([&](ReaderSession& s, Lock& lock) -> HRESULT {
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

HRESULT Reader::WithHeader(const HeaderUse& use) {
    return WithOpenSession([&](ReaderSession& s, Lock&) { return use(s.header); });
}

}  // namespace ffsdk
