// SPDX-License-Identifier: MIT
#include "reader_session.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <utility>

#include "audio_stream.h"
#include "common/memory_buffer.h"
#include "output_props.h"

namespace ffsdk {

using wm::ComPtr;

namespace {

using Lock = std::unique_lock<std::mutex>;

HRESULT CheckRegularFile(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        // The platform's reader reports a missing file as a file not found.
        return errno == ENOENT ? wm::E_FILE_NOT_FOUND : wm::ResultFromErrno(errno);
    }
    return S_ISREG(st.st_mode) ? S_OK : wm::E_ACCESS_DENIED;
}

// Whether `path` still names the file open as `fd`.
bool SameFile(int fd, const std::string& path) {
    struct stat open {};
    struct stat named {};
    return fstat(fd, &open) == 0 && stat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
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

// Answers the open from the header alone: the outputs, the decoded stream's
// format, and whether the file can be played at all.
HRESULT OpenFile(ReaderSession& s) {
    HRESULT hr = CheckRegularFile(s.path);
    if (FAILED(hr)) return hr;
    // The file is opened once, here, and kept: the header read below must be
    // this file's, so it is read again should the path have moved meanwhile.
    Fd file(::open(s.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.ok()) return errno == ENOENT ? wm::E_FILE_NOT_FOUND : wm::ResultFromErrno(errno);
    asf::Header header;
    for (int tries = 0;; ++tries) {
        // The header's own reason: NS_E_INVALID_INPUT_FORMAT for a file that is
        // no ASF one, a file failure for one that cannot be read.
        const Result read = header.ReadFile(s.path);
        if (!read) return read.code();
        if (SameFile(file.get(), s.path)) break;
        if (tries == 2) return wm::NS_E_FILE_READ;
        file = Fd(::open(s.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!file.ok()) return wm::ResultFromErrno(errno);
    }
    std::vector<ReaderOutput> outputs;
    DWORD decodedOutput = 0;
    const asf::Stream* decoded = nullptr;
    for (const asf::Stream* stream : OutputStreams(header)) {
        ReaderOutput output;
        output.stream = stream->number;
        output.audio = stream->kind == asf::StreamKind::Audio;
        if (output.audio && decoded == nullptr) {
            decoded = stream;
            decodedOutput = static_cast<DWORD>(outputs.size());
        }
        outputs.push_back(output);
    }
    if (decoded == nullptr) return wm::NS_E_INVALID_INPUT_FORMAT;
    // The data of a protected file is encrypted; without a licence the
    // platform's reader refuses to open it.
    if (header.contentEncrypted() || decoded->encrypted) return wm::NS_E_PROTECTED_CONTENT;
    for (ReaderOutput& output : outputs) {
        if (!output.audio) continue;
        AudioStreamFormat format;
        hr = DescribeAudioStream(*header.StreamByNumber(output.stream), &format);
        // Only the decoded stream must be playable; another one's output
        // merely describes what its header says.
        if (FAILED(hr) && output.stream == decoded->number) return hr;
        if (SUCCEEDED(hr)) output.format = PcmWaveFormat(format.rate, format.channels);
    }
    Lock lock(s.mutex);
    if (s.closed) return S_OK;  // ended meanwhile: nothing is kept
    s.file = std::move(file);
    s.header = std::move(header);
    s.outputs = std::move(outputs);
    s.decodedOutput = decodedOutput;
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

// Whether SetStreamsSelected switched the stream off. Called with the lock held.
bool Deselected(const ReaderSession& s, uint16_t stream) {
    return std::find(s.deselected.begin(), s.deselected.end(), stream) != s.deselected.end();
}

// Opens the decoder if it is not yet, and positions it; the result says why
// not. Only the worker uses the decoder.
HRESULT Position(ReaderSession& s, const ReaderOutput& output, uint64_t fileEnd, uint64_t start) {
    HRESULT hr = S_OK;
    if (!s.decoder.isOpen()) {
        try {
            hr = s.decoder.Open(s.file.get(), output.stream, output.format.nSamplesPerSec,
                                output.format.nChannels, fileEnd);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
    }
    if (SUCCEEDED(hr) && !s.decoder.Seek(start))
        hr = FAILED(s.decoder.error()) ? s.decoder.error() : E_FAIL;
    return hr;
}

// Delivers the file from command.start until its end, the end of the
// requested duration, Close or the next request.
void Play(ReaderSession& s, const PlaybackCommand& command) {
    Lock lock(s.mutex);
    const DWORD outputNum = s.decodedOutput;
    const ReaderOutput output = s.outputs[outputNum];
    const bool selected = !Deselected(s, output.stream);
    // The file's playing duration ends the audio: what a decoder yields past it
    // is the encoder's padding of the last frame, not content.
    const wm::QWORD fileEnd = s.header.duration();
    ReportStatus(s, lock, wm::WMT_STARTED, S_OK, command.context);
    lock.unlock();
    // A start at or past the end, or a stream switched off, delivers nothing.
    // A decoder that cannot be made ends the decode at once, with its reason.
    HRESULT ended = S_OK;
    bool positioned = false;
    if (selected && (fileEnd == 0 || command.start < fileEnd)) {
        ended = Position(s, output, fileEnd, command.start);
        positioned = SUCCEEDED(ended);
    }
    const auto began = std::chrono::steady_clock::now();
    const wm::QWORD stopAt =
        command.duration == 0 ? ~wm::QWORD{0} : command.start + command.duration;
    const uint64_t frameBytes = uint64_t{output.format.nChannels} * 2;
    // One buffer serves block after block while the callback keeps no
    // reference to it: no allocation per block.
    ComPtr<MemoryBuffer> sample;
    for (;;) {
        PcmBlock block;
        bool have = positioned && s.decoder.Next(&block) && block.time < stopAt;
        if (have && fileEnd > 0) {
            if (block.time >= fileEnd) {
                have = false;
            } else if (block.time + block.duration > fileEnd) {
                const uint64_t frames = ((fileEnd - block.time) * output.format.nSamplesPerSec +
                                         wm::kUnitsPerSecond - 1) /
                                        wm::kUnitsPerSecond;
                block.size =
                    static_cast<size_t>(std::min<uint64_t>(block.size, frames * frameBytes));
                block.duration = fileEnd - block.time;
            }
        }
        if (have) {
            const DWORD size = static_cast<DWORD>(block.size);
            if (!sample || !sample->Unshared() || !sample->Refill(block.data, size)) {
                // Tried again when memory is short; a block that still finds
                // none is skipped, and the next one's time shows the gap.
                for (int tries = 0; tries < 4 && (tries == 0 || !sample); ++tries)
                    sample.Reset(MemoryBuffer::Copy(block.data, size));
            }
        }
        lock.lock();
        if (Interrupted(s)) return;
        if (have && !sample) {
            lock.unlock();
            continue;
        }
        if (!have) {
            // A decoder that could not be made, or a stream that stopped short
            // of its end, is an error, not the end of the file.
            const HRESULT failure = FAILED(ended) ? ended : s.decoder.error();
            s.started = false;
            ReportStatus(s, lock, FAILED(failure) ? wm::WMT_ERROR : wm::WMT_EOF, failure,
                         command.context);
            return;
        }
        if (!AwaitDue(s, lock, command, block.time, began)) return;
        if (Interrupted(s) || !Enter(s)) return;
        wm::IWMReaderCallback* callback = s.callbacks.callback.Get();
        lock.unlock();
        callback->OnSample(outputNum, block.time, block.duration, 0, sample.Get(), command.context);
        Leave(s);
    }
}

}  // namespace

void OpenSession(const std::shared_ptr<ReaderSession>& session) {
    ReaderSession& s = *session;
    {
        Lock lock(s.mutex);
        if (s.closed) return;  // closed before its turn came
        s.openerId = std::this_thread::get_id();
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
    s.openerId = std::thread::id();
}

bool OnCallbackThread(const ReaderSession& s) {
    const std::thread::id me = std::this_thread::get_id();
    return s.workerId == me || s.openerId == me;
}

void RunSession(std::shared_ptr<ReaderSession> session) {
    ReaderSession& s = *session;
    Lock lock(s.mutex);
    s.workerId = std::this_thread::get_id();
    for (;;) {
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
    lock.lock();
    s.file.reset();
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
