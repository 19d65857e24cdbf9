#include "reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <new>
#include <string>
#include <utility>

#include "asf/asf_header.h"
#include "com_ptr.h"
#include "common/com_call.h"
#include "common/header_attributes.h"
#include "common/memory_buffer.h"
#include "output_props.h"
#include "pcm_decoder.h"

namespace ffsdk {

using mervane::ComPtr;

namespace {

// Names a call the platform never returns from, made on the reader's own
// delivery thread.
void ReportDeadlockingCall(const char* call) {
    std::fprintf(stderr,
                 "format-sdk stand-in: %s called on the reader's own delivery thread "
                 "(the platform deadlocks here)\n",
                 call);
}

HRESULT CheckRegularFile(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        switch (errno) {
            case ENOENT:
                return wm::E_FILE_NOT_FOUND;
            case ENOTDIR:
                return wm::E_PATH_NOT_FOUND;
            case EACCES:
                return wm::E_ACCESS_DENIED;
            default:
                return E_FAIL;
        }
    }
    return S_ISREG(st.st_mode) ? S_OK : wm::E_ACCESS_DENIED;
}

}  // namespace

// What the reader object and its worker thread share. Everything below the
// mutex is guarded by it, except the decoder, which only the worker touches.
struct ReaderSession {
    struct Command {
        enum Kind { kStart, kStop } kind = kStart;
        wm::QWORD start = 0;
        wm::QWORD duration = 0;  // 0: to the end
        bool user_clock = false;
        void* context = nullptr;
    };

    // Set before the worker starts, then only read.
    std::string path;
    void* open_context = nullptr;

    std::mutex mutex;
    std::condition_variable changed;
    std::thread::id worker_id;
    ComPtr<wm::IWMReaderCallback> callback;
    ComPtr<wm::IWMReaderCallbackAdvanced> advanced;
    bool closed = false;
    bool in_callback = false;
    bool opened = false;   // the open succeeded and the fields below are set
    bool started = false;  // between an accepted Start and its end (EOF or Stop)
    wm::WAVEFORMATEX format{};
    asf::Header header;
    std::deque<Command> commands;
    void* start_context = nullptr;
    wm::QWORD deliver_time = 0;    // the user clock, as last given by DeliverTime
    bool deliver_pending = false;  // DeliverTime called since the last OnTime

    PcmDecoder decoder;  // worker only
};

namespace {

using Session = ReaderSession;
using Lock = std::unique_lock<std::mutex>;

// Marks the worker as inside a callback, unless the session is closed.
// Called with the lock held.
bool Enter(Session& s) {
    if (s.closed || !s.callback) return false;
    s.in_callback = true;
    return true;
}

// Leaves a callback.
void Leave(Session& s) {
    {
        Lock lock(s.mutex);
        s.in_callback = false;
    }
    s.changed.notify_all();
}

void ReportStatus(Session& s, Lock& lock, wm::WMT_STATUS status, HRESULT hr, void* context) {
    if (!Enter(s)) return;
    wm::IWMReaderCallback* callback = s.callback.Get();
    lock.unlock();
    callback->OnStatus(status, hr, wm::WMT_TYPE_DWORD, nullptr, context);
    Leave(s);
    lock.lock();
}

// Whether the run in progress must end: the session closed or another
// request is waiting.
bool Interrupted(const Session& s) {
    return s.closed || !s.commands.empty();
}

HRESULT OpenFile(Session& s) {
    HRESULT hr = CheckRegularFile(s.path);
    if (FAILED(hr)) return hr;
    asf::Header header;
    if (!header.readFile(s.path)) return wm::NS_E_INVALID_INPUT_FORMAT;
    bool audio = false;
    for (const asf::Stream& stream : header.streams()) {
        audio = audio || stream.kind == asf::StreamKind::Audio;
    }
    if (!audio) return wm::NS_E_INVALID_INPUT_FORMAT;
    hr = s.decoder.Open(s.path);
    if (FAILED(hr)) return hr;
    Lock lock(s.mutex);
    s.header = std::move(header);
    s.format = PcmWaveFormat(s.decoder.sampleRate(), s.decoder.channels());
    s.opened = true;
    return S_OK;
}

// Delivers the file from command.start until its end, the end of the
// requested duration, Close or the next request.
void Play(Session& s, const Session::Command& command) {
    Lock lock(s.mutex);
    ReportStatus(s, lock, wm::WMT_STARTED, S_OK, command.context);
    lock.unlock();
    const bool positioned = s.decoder.Seek(command.start);
    const auto began = std::chrono::steady_clock::now();
    const wm::QWORD stop_at =
        command.duration == 0 ? ~wm::QWORD{0} : command.start + command.duration;
    // The file's playing duration ends the audio: what a decoder yields past it
    // is the encoder's padding of the last frame, not content.
    const wm::QWORD file_end = s.header.duration();
    const uint64_t frame_bytes = uint64_t{s.decoder.channels()} * 2;
    for (;;) {
        PcmBlock block;
        bool have = positioned && s.decoder.Next(&block) && block.time < stop_at;
        if (have && file_end > 0) {
            if (block.time >= file_end) {
                have = false;
            } else if (block.time + block.duration > file_end) {
                const uint64_t frames =
                    ((file_end - block.time) * s.decoder.sampleRate() + 9'999'999) / 10'000'000;
                block.size =
                    static_cast<size_t>(std::min<uint64_t>(block.size, frames * frame_bytes));
                block.duration = file_end - block.time;
            }
        }
        ComPtr<MemoryBuffer> sample;
        if (have) {
            sample.Reset(MemoryBuffer::Copy(block.data, static_cast<DWORD>(block.size)));
            if (!sample) continue;  // out of memory: this block is lost
        }
        lock.lock();
        if (Interrupted(s)) return;
        if (!have) {
            s.started = false;
            ReportStatus(s, lock, wm::WMT_EOF, S_OK, command.context);
            return;
        }
        if (command.user_clock) {
            // Deliver what lies before the host's clock; at the clock, say so
            // with OnTime and wait for the host to move it on.
            while (!Interrupted(s) && block.time >= s.deliver_time) {
                if (s.deliver_pending && s.advanced) {
                    s.deliver_pending = false;
                    const wm::QWORD reached = s.deliver_time;
                    if (!Enter(s)) return;
                    wm::IWMReaderCallbackAdvanced* advanced = s.advanced.Get();
                    lock.unlock();
                    advanced->OnTime(reached, command.context);
                    Leave(s);
                    lock.lock();
                } else {
                    s.changed.wait(lock);
                }
            }
        } else {
            const wm::QWORD offset = block.time > command.start ? block.time - command.start : 0;
            const auto due = began + std::chrono::microseconds(offset / 10);
            s.changed.wait_until(lock, due, [&] { return Interrupted(s); });
        }
        if (Interrupted(s) || !Enter(s)) return;
        wm::IWMReaderCallback* callback = s.callback.Get();
        lock.unlock();
        callback->OnSample(0, block.time, block.duration, 0, sample.Get(), command.context);
        Leave(s);
    }
}

void RunWorker(std::shared_ptr<Session> session) {
    Session& s = *session;
    {
        Lock lock(s.mutex);
        s.worker_id = std::this_thread::get_id();
    }
    HRESULT hr;
    try {
        hr = OpenFile(s);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    } catch (...) {
        hr = E_FAIL;
    }
    Lock lock(s.mutex);
    ReportStatus(s, lock, wm::WMT_OPENED, hr, s.open_context);
    while (SUCCEEDED(hr)) {
        s.changed.wait(lock, [&] { return Interrupted(s); });
        if (s.closed) break;
        const Session::Command command = s.commands.front();
        s.commands.pop_front();
        if (command.kind == Session::Command::kStop) {
            ReportStatus(s, lock, wm::WMT_STOPPED, S_OK, command.context);
            continue;
        }
        lock.unlock();
        Play(s, command);
        lock.lock();
    }
    lock.unlock();
    s.decoder.Close();
}

}  // namespace

Reader* Reader::Create() {
    return new (std::nothrow) Reader;
}

// Never runs on the session's worker: LastReleased sees to that.
Reader::~Reader() {
    std::shared_ptr<Session> session = std::move(session_);
    if (session) {
        ComPtr<wm::IWMReaderCallback> callback;
        ComPtr<wm::IWMReaderCallbackAdvanced> advanced;
        Lock lock(session->mutex);
        session->closed = true;
        session->commands.clear();
        session->changed.notify_all();
        session->changed.wait(lock, [&] { return !session->in_callback; });
        callback = std::move(session->callback);
        advanced = std::move(session->advanced);
    }
    LetGo(worker_);
}

void Reader::LastReleased() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (session_) {
            std::lock_guard<std::mutex> inner(session_->mutex);
            if (session_->worker_id == std::this_thread::get_id()) {
                // The platform hangs here for good. Instead: no callback after
                // this one, and the object, its session and the callback's
                // references stay as they are, never destroyed. The worker
                // ends by itself once the callback returns.
                session_->closed = true;
                session_->started = false;
                session_->commands.clear();
                session_->changed.notify_all();
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

HRESULT Reader::Open(const WCHAR* url, wm::IWMReaderCallback* callback, void* context) {
    return Guarded([&]() -> HRESULT {
        if (url == nullptr || callback == nullptr) return E_INVALIDARG;
        std::string path;
        if (!ToUtf8(url, &path)) return E_INVALIDARG;
        auto session = std::make_shared<Session>();
        session->path = std::move(path);
        session->open_context = context;
        session->callback = ComPtr<wm::IWMReaderCallback>::CopyFrom(callback);
        if (FAILED(session->callback.As(session->advanced))) session->advanced.Reset();

        std::thread previous;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (session_) {
                std::lock_guard<std::mutex> inner(session_->mutex);
                if (!session_->closed) return wm::NS_E_INVALID_REQUEST;
            }
            std::thread worker(RunWorker, session);
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
        std::shared_ptr<Session> s = CurrentSession();
        if (!s) return wm::NS_E_INVALID_REQUEST;
        ComPtr<wm::IWMReaderCallback> callback;
        ComPtr<wm::IWMReaderCallbackAdvanced> advanced;
        {
            Lock lock(s->mutex);
            if (s->worker_id == std::this_thread::get_id()) {
                // A defect of the caller, refused without touching the session.
                ReportDeadlockingCall("IWMReader::Close");
                // "A potential deadlock condition has been detected": names the
                // calling thread as the fault, not the reader's state.
                return wm::E_POSSIBLE_DEADLOCK;
            }
            if (s->closed) return wm::NS_E_INVALID_REQUEST;
            s->closed = true;
            s->started = false;
            s->commands.clear();
            s->changed.notify_all();
            s->changed.wait(lock, [&] { return !s->in_callback; });
            callback = std::move(s->callback);
            advanced = std::move(s->advanced);
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
    return Guarded([&]() -> HRESULT {
        std::shared_ptr<Session> s = CurrentSession();
        if (!s) return wm::NS_E_INVALID_REQUEST;
        std::lock_guard<std::mutex> lock(s->mutex);
        if (!s->opened || s->closed) return wm::NS_E_INVALID_REQUEST;
        *outputs = 1;
        return S_OK;
    });
}

HRESULT Reader::GetOutputProps(DWORD outputNum, wm::IWMOutputMediaProps** output) {
    if (output == nullptr) return E_POINTER;
    *output = nullptr;
    return Guarded([&]() -> HRESULT {
        std::shared_ptr<Session> s = CurrentSession();
        if (!s) return wm::NS_E_INVALID_REQUEST;
        wm::WAVEFORMATEX format;
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            if (!s->opened || s->closed) return wm::NS_E_INVALID_REQUEST;
            format = s->format;
        }
        if (outputNum != 0) return E_INVALIDARG;
        OutputMediaProps* props = OutputMediaProps::Create(format);
        if (props == nullptr) return E_OUTOFMEMORY;
        *output = props;
        return S_OK;
    });
}

HRESULT Reader::SetOutputProps(DWORD outputNum, wm::IWMOutputMediaProps* output) {
    if (output == nullptr) return E_POINTER;
    return Guarded([&]() -> HRESULT {
        std::shared_ptr<Session> s = CurrentSession();
        if (!s) return wm::NS_E_INVALID_REQUEST;
        wm::WAVEFORMATEX format;
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            if (!s->opened || s->closed) return wm::NS_E_INVALID_REQUEST;
            format = s->format;
        }
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
    return Guarded([&]() -> HRESULT {
        std::shared_ptr<Session> s = CurrentSession();
        if (!s) return wm::NS_E_INVALID_REQUEST;
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            if (!s->opened || s->closed) return wm::NS_E_INVALID_REQUEST;
            Session::Command command;
            command.kind = Session::Command::kStart;
            command.start = start;
            command.duration = duration;
            command.user_clock = user_clock_.load();
            command.context = context;
            s->commands.push_back(command);
            s->started = true;
            s->start_context = context;
            // The clock starts over; the host moves it on after WMT_STARTED.
            s->deliver_time = 0;
            s->deliver_pending = false;
        }
        s->changed.notify_all();
        return S_OK;
    });
}

HRESULT Reader::Stop() {
    return Guarded([&]() -> HRESULT {
        std::shared_ptr<Session> s = CurrentSession();
        if (!s) return wm::NS_E_INVALID_REQUEST;
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            if (!s->opened || s->closed || !s->started) return wm::NS_E_INVALID_REQUEST;
            Session::Command command;
            command.kind = Session::Command::kStop;
            command.context = s->start_context;
            s->commands.push_back(command);
            s->started = false;
        }
        s->changed.notify_all();
        return S_OK;
    });
}

HRESULT Reader::Pause() {
    return E_NOTIMPL;
}

HRESULT Reader::Resume() {
    return E_NOTIMPL;
}

HRESULT Reader::SetUserProvidedClock(BOOL userClock) {
    user_clock_.store(userClock != FALSE);
    return S_OK;
}

HRESULT Reader::GetUserProvidedClock(BOOL* userClock) {
    if (userClock == nullptr) return E_POINTER;
    *userClock = user_clock_.load() ? TRUE : FALSE;
    return S_OK;
}

HRESULT Reader::DeliverTime(wm::QWORD time) {
    return Guarded([&]() -> HRESULT {
        std::shared_ptr<Session> s = CurrentSession();
        if (!s) return wm::NS_E_INVALID_REQUEST;
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            if (!s->opened || s->closed) return wm::NS_E_INVALID_REQUEST;
            s->deliver_time = time;
            s->deliver_pending = true;
        }
        s->changed.notify_all();
        return S_OK;
    });
}

HRESULT Reader::SetManualStreamSelection(BOOL) {
    return E_NOTIMPL;
}
HRESULT Reader::GetManualStreamSelection(BOOL* selection) {
    if (selection == nullptr) return E_POINTER;
    *selection = FALSE;
    return S_OK;
}
HRESULT Reader::SetStreamsSelected(WORD, WORD*, wm::WMT_STREAM_SELECTION*) {
    return E_NOTIMPL;
}
HRESULT Reader::GetStreamSelected(WORD, wm::WMT_STREAM_SELECTION*) {
    return E_NOTIMPL;
}
HRESULT Reader::SetReceiveSelectionCallbacks(BOOL) {
    return E_NOTIMPL;
}
HRESULT Reader::GetReceiveSelectionCallbacks(BOOL* getCallbacks) {
    if (getCallbacks == nullptr) return E_POINTER;
    *getCallbacks = FALSE;
    return S_OK;
}
HRESULT Reader::SetReceiveStreamSamples(WORD, BOOL) {
    return E_NOTIMPL;
}
HRESULT Reader::GetReceiveStreamSamples(WORD, BOOL* receive) {
    if (receive == nullptr) return E_POINTER;
    *receive = FALSE;
    return S_OK;
}
HRESULT Reader::SetAllocateForOutput(DWORD, BOOL) {
    return E_NOTIMPL;
}
HRESULT Reader::GetAllocateForOutput(DWORD, BOOL* allocate) {
    if (allocate == nullptr) return E_POINTER;
    *allocate = FALSE;
    return S_OK;
}
HRESULT Reader::SetAllocateForStream(WORD, BOOL) {
    return E_NOTIMPL;
}
HRESULT Reader::GetAllocateForStream(WORD, BOOL* allocate) {
    if (allocate == nullptr) return E_POINTER;
    *allocate = FALSE;
    return S_OK;
}
HRESULT Reader::GetStatistics(wm::WM_READER_STATISTICS*) {
    return E_NOTIMPL;
}
HRESULT Reader::SetClientInfo(wm::WM_READER_CLIENTINFO*) {
    return E_NOTIMPL;
}
HRESULT Reader::GetMaxOutputSampleSize(DWORD, DWORD*) {
    return E_NOTIMPL;
}
HRESULT Reader::GetMaxStreamSampleSize(WORD, DWORD*) {
    return E_NOTIMPL;
}
HRESULT Reader::NotifyLateDelivery(wm::QWORD) {
    return S_OK;
}

HRESULT Reader::GetAttributeCount(WORD streamNum, WORD* attributes) {
    return Guarded([&]() -> HRESULT {
        std::shared_ptr<Session> s = CurrentSession();
        if (!s) return wm::NS_E_INVALID_REQUEST;
        std::lock_guard<std::mutex> lock(s->mutex);
        if (!s->opened || s->closed) return wm::NS_E_INVALID_REQUEST;
        return HeaderGetAttributeCount(s->header, streamNum, attributes);
    });
}

HRESULT Reader::GetAttributeByIndex(WORD index, WORD* streamNum, WCHAR* name, WORD* nameLength,
                                    wm::WMT_ATTR_DATATYPE* type, BYTE* value, WORD* valueLength) {
    return Guarded([&]() -> HRESULT {
        std::shared_ptr<Session> s = CurrentSession();
        if (!s) return wm::NS_E_INVALID_REQUEST;
        std::lock_guard<std::mutex> lock(s->mutex);
        if (!s->opened || s->closed) return wm::NS_E_INVALID_REQUEST;
        return HeaderGetAttributeByIndex(s->header, index, streamNum, name, nameLength, type, value,
                                         valueLength);
    });
}

HRESULT Reader::GetAttributeByName(WORD* streamNum, const WCHAR* name, wm::WMT_ATTR_DATATYPE* type,
                                   BYTE* value, WORD* valueLength) {
    return Guarded([&]() -> HRESULT {
        std::shared_ptr<Session> s = CurrentSession();
        if (!s) return wm::NS_E_INVALID_REQUEST;
        std::lock_guard<std::mutex> lock(s->mutex);
        if (!s->opened || s->closed) return wm::NS_E_INVALID_REQUEST;
        return HeaderGetAttributeByName(s->header, streamNum, name, type, value, valueLength);
    });
}

HRESULT Reader::SetAttribute(WORD streamNum, const WCHAR* name, wm::WMT_ATTR_DATATYPE type,
                             const BYTE* value, WORD valueLength) {
    return Guarded([&]() -> HRESULT {
        std::shared_ptr<Session> s = CurrentSession();
        if (!s) return wm::NS_E_INVALID_REQUEST;
        std::lock_guard<std::mutex> lock(s->mutex);
        if (!s->opened || s->closed) return wm::NS_E_INVALID_REQUEST;
        return HeaderSetAttribute(s->header, streamNum, name, type, value, valueLength);
    });
}

HRESULT Reader::GetMarkerCount(WORD* markers) {
    if (markers == nullptr) return E_POINTER;
    *markers = 0;
    return S_OK;
}
HRESULT Reader::GetMarker(WORD, WCHAR*, WORD*, wm::QWORD*) {
    return E_INVALIDARG;
}
HRESULT Reader::AddMarker(const WCHAR*, wm::QWORD) {
    return wm::NS_E_INVALID_REQUEST;
}
HRESULT Reader::RemoveMarker(WORD) {
    return wm::NS_E_INVALID_REQUEST;
}
HRESULT Reader::GetScriptCount(WORD* scripts) {
    if (scripts == nullptr) return E_POINTER;
    *scripts = 0;
    return S_OK;
}
HRESULT Reader::GetScript(WORD, WCHAR*, WORD*, WCHAR*, WORD*, wm::QWORD*) {
    return E_INVALIDARG;
}
HRESULT Reader::AddScript(const WCHAR*, const WCHAR*, wm::QWORD) {
    return wm::NS_E_INVALID_REQUEST;
}
HRESULT Reader::RemoveScript(WORD) {
    return wm::NS_E_INVALID_REQUEST;
}

}  // namespace ffsdk
