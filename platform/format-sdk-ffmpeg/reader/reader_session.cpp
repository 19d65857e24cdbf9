// SPDX-License-Identifier: MIT
#include "reader_session.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <utility>

#include "common/memory_buffer.h"
#include "output_props.h"

namespace ffsdk {

using mervane::ComPtr;

namespace {

using Lock = std::unique_lock<std::mutex>;

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

// Marks the worker as inside a callback, unless the session is closed.
// Called with the lock held.
bool Enter(ReaderSession& s) {
    if (s.closed || !s.callbacks.callback) return false;
    s.inCallback = true;
    return true;
}

// Leaves a callback.
void Leave(ReaderSession& s) {
    {
        Lock lock(s.mutex);
        s.inCallback = false;
    }
    s.changed.notify_all();
}

void ReportStatus(ReaderSession& s, Lock& lock, wm::WMT_STATUS status, HRESULT hr, void* context) {
    if (!Enter(s)) return;
    wm::IWMReaderCallback* callback = s.callbacks.callback.Get();
    lock.unlock();
    callback->OnStatus(status, hr, wm::WMT_TYPE_DWORD, nullptr, context);
    Leave(s);
    lock.lock();
}

// Whether the run in progress must end: the session closed or another
// request is waiting.
bool Interrupted(const ReaderSession& s) {
    return s.closed || !s.commands.empty();
}

HRESULT OpenFile(ReaderSession& s) {
    HRESULT hr = CheckRegularFile(s.path);
    if (FAILED(hr)) return hr;
    asf::Header header;
    // A regular file whose header cannot be read is not a file this reader plays.
    if (!header.readFile(s.path).ok()) return wm::NS_E_INVALID_INPUT_FORMAT;
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

// Waits, with the lock held, until the block at `time` is due. With the
// host's clock: delivers what lies before it; at the clock, says so with
// OnTime and waits for the host to move it on. False when the session ended
// meanwhile.
bool AwaitDue(ReaderSession& s, Lock& lock, const PlaybackCommand& command, wm::QWORD time,
              std::chrono::steady_clock::time_point began) {
    if (!command.userClock) {
        const wm::QWORD offset = time > command.start ? time - command.start : 0;
        const auto due = began + std::chrono::microseconds(offset / 10);
        s.changed.wait_until(lock, due, [&] { return Interrupted(s); });
        return true;
    }
    while (!Interrupted(s) && time >= s.deliverTime) {
        if (s.deliverPending && s.callbacks.advanced) {
            s.deliverPending = false;
            const wm::QWORD reached = s.deliverTime;
            if (!Enter(s)) return false;
            wm::IWMReaderCallbackAdvanced* advanced = s.callbacks.advanced.Get();
            lock.unlock();
            advanced->OnTime(reached, command.context);
            Leave(s);
            lock.lock();
        } else {
            s.changed.wait(lock);
        }
    }
    return true;
}

// Delivers the file from command.start until its end, the end of the
// requested duration, Close or the next request.
void Play(ReaderSession& s, const PlaybackCommand& command) {
    Lock lock(s.mutex);
    ReportStatus(s, lock, wm::WMT_STARTED, S_OK, command.context);
    lock.unlock();
    const bool positioned = s.decoder.Seek(command.start);
    const auto began = std::chrono::steady_clock::now();
    const wm::QWORD stopAt =
        command.duration == 0 ? ~wm::QWORD{0} : command.start + command.duration;
    // The file's playing duration ends the audio: what a decoder yields past it
    // is the encoder's padding of the last frame, not content.
    const wm::QWORD fileEnd = s.header.duration();
    const uint64_t frameBytes = uint64_t{s.decoder.channels()} * 2;
    // One buffer serves block after block while the callback keeps no
    // reference to it: no allocation per block.
    ComPtr<MemoryBuffer> sample;
    HRESULT failure = S_OK;
    for (;;) {
        PcmBlock block;
        bool have = positioned && s.decoder.Next(&block) && block.time < stopAt;
        if (have && fileEnd > 0) {
            if (block.time >= fileEnd) {
                have = false;
            } else if (block.time + block.duration > fileEnd) {
                const uint64_t frames =
                    ((fileEnd - block.time) * s.decoder.sampleRate() + 9'999'999) / 10'000'000;
                block.size =
                    static_cast<size_t>(std::min<uint64_t>(block.size, frames * frameBytes));
                block.duration = fileEnd - block.time;
            }
        }
        if (have) {
            const DWORD size = static_cast<DWORD>(block.size);
            if (!sample || !sample->Unshared() || !sample->Refill(block.data, size)) {
                sample.Reset(MemoryBuffer::Copy(block.data, size));
            }
            if (!sample) {
                have = false;
                failure = E_OUTOFMEMORY;
            }
        }
        lock.lock();
        if (Interrupted(s)) return;
        if (!have) {
            // A stream that stopped short of its end is an error, not its end.
            if (SUCCEEDED(failure)) failure = s.decoder.error();
            s.started = false;
            ReportStatus(s, lock, FAILED(failure) ? wm::WMT_ERROR : wm::WMT_EOF, failure,
                         command.context);
            return;
        }
        if (!AwaitDue(s, lock, command, block.time, began)) return;
        if (Interrupted(s) || !Enter(s)) return;
        wm::IWMReaderCallback* callback = s.callbacks.callback.Get();
        lock.unlock();
        callback->OnSample(0, block.time, block.duration, 0, sample.Get(), command.context);
        Leave(s);
    }
}

}  // namespace

void RunSession(std::shared_ptr<ReaderSession> session) {
    ReaderSession& s = *session;
    {
        Lock lock(s.mutex);
        s.workerId = std::this_thread::get_id();
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
    ReportStatus(s, lock, wm::WMT_OPENED, hr, s.openContext);
    while (SUCCEEDED(hr)) {
        s.changed.wait(lock, [&] { return Interrupted(s); });
        if (s.closed) break;
        const PlaybackCommand command = s.commands.front();
        s.commands.pop_front();
        if (command.kind == PlaybackCommand::kStop) {
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

void EndSession(ReaderSession& session) {
    session.closed = true;
    session.started = false;
    session.commands.clear();
    session.changed.notify_all();
}

SessionCallbacks TakeCallbacks(ReaderSession& session, std::unique_lock<std::mutex>& lock) {
    session.changed.wait(lock, [&] { return !session.inCallback; });
    return std::move(session.callbacks);
}

}  // namespace ffsdk
