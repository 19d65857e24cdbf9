// SPDX-License-Identifier: MIT
#include "writer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/com_call.h"
#include "common/memory_buffer.h"
#include "encode/codec_catalog.h"
#include "profile/stream_config.h"

namespace ffsdk {

using wm::ComPtr;

namespace {

// PCM goes to the encoder through an aligned scratch buffer of at most this
// many frames: the host's bytes need not be aligned for int16_t.
constexpr size_t kChunkFrames = 4096;

// The WAVEFORMATEX of a one-stream audio profile, as a catalogue index.
HRESULT ProfileFormat(wm::IWMProfile* profile, int* index) {
    DWORD streams = 0;
    HRESULT hr = profile->GetStreamCount(&streams);
    if (FAILED(hr)) return hr;
    if (streams != 1) return wm::NS_E_INVALID_REQUEST;
    ComPtr<wm::IWMStreamConfig> config;
    if (FAILED(hr = profile->GetStream(0, config.Put()))) return hr;
    GUID type{};
    if (FAILED(hr = config->GetStreamType(&type))) return hr;
    if (type != wm::WMMEDIATYPE_Audio) return wm::NS_E_INVALID_REQUEST;
    ComPtr<wm::IWMMediaProps> props;
    if (FAILED(hr = config.As(props))) return hr;
    std::vector<uint64_t> storage;
    wm::MediaTypeView mediaType;
    hr = ReadMediaType(props.Get(), storage, &mediaType, wm::NS_E_INVALID_INPUT_FORMAT);
    if (FAILED(hr)) return hr;
    wm::WaveFormat wave;
    if (mediaType.type->majortype != wm::WMMEDIATYPE_Audio || !wm::WaveFormatOf(mediaType, &wave))
        return wm::NS_E_INVALID_INPUT_FORMAT;
    *index = WmaCatalogFind(mediaType.format, mediaType.formatSize);
    return *index >= 0 ? S_OK : wm::NS_E_INVALID_INPUT_FORMAT;
}

}  // namespace

Writer* Writer::Create() {
    return new (std::nothrow) Writer();
}

Writer::~Writer() {
    if (state_ == State::kWriting || state_ == State::kFailed) {
        encoder_.Abort();
        if (sink_) sink_->EndFile(0);
    }
}

HRESULT Writer::SetProfileByID(REFGUID) {
    return E_NOTIMPL;
}

HRESULT Writer::SetProfile(wm::IWMProfile* profile) {
    if (profile == nullptr) return E_POINTER;
    return Guarded([&]() -> HRESULT {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ == State::kWriting || state_ == State::kFailed) {
            return wm::NS_E_INVALID_REQUEST;
        }
        int index = -1;
        const HRESULT hr = ProfileFormat(profile, &index);
        if (FAILED(hr)) return hr;
        const WmaCatalogEntry* entry = WmaCatalogAt(static_cast<size_t>(index));
        format_.assign(entry->format, entry->format + kWmaV2FormatSize);
        rate_ = entry->sampleRate;
        channels_ = entry->channels;
        state_ = State::kReady;
        return S_OK;
    });
}

HRESULT Writer::SetOutputFilename(const WCHAR*) {
    return E_NOTIMPL;
}

HRESULT Writer::GetInputCount(DWORD* inputs) {
    if (inputs == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *inputs = 0;
    if (state_ == State::kIdle) return wm::NS_E_INVALID_REQUEST;
    *inputs = 1;
    return S_OK;
}

HRESULT Writer::GetInputProps(DWORD, wm::IWMInputMediaProps** input) {
    if (input != nullptr) *input = nullptr;
    return E_NOTIMPL;
}

HRESULT Writer::SetInputProps(DWORD, wm::IWMInputMediaProps*) {
    return E_NOTIMPL;
}

HRESULT Writer::GetInputFormatCount(DWORD, DWORD*) {
    return E_NOTIMPL;
}

HRESULT Writer::GetInputFormat(DWORD, DWORD, wm::IWMInputMediaProps** props) {
    if (props != nullptr) *props = nullptr;
    return E_NOTIMPL;
}

HRESULT Writer::BeginWriting() {
    return Guarded([&]() -> HRESULT {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ != State::kReady || !sink_) return wm::NS_E_INVALID_REQUEST;
        const size_t frameBytes = size_t{channels_} * 2;
        pending_.clear();
        pending_.reserve(frameBytes);
        scratch_.resize(kChunkFrames * channels_);
        std::string path;
        HRESULT hr = sink_->BeginFile(&path);
        if (FAILED(hr)) return hr;
        const Result opened = encoder_.Open(path.c_str(), format_.data(), format_.size());
        if (!opened) {
            sink_->EndFile(0);
            return opened.code();
        }
        failure_ = S_OK;
        writerTime_ = 0;
        state_ = State::kWriting;
        return S_OK;
    });
}

wm::QWORD Writer::Duration() const {
    if (rate_ == 0) return 0;
    // Rounded up, so that the reported duration covers every frame written.
    const wm::QWORD frames = encoder_.framesWritten();
    return (frames * wm::kUnitsPerSecond + rate_ - 1) / rate_;
}

HRESULT Writer::Fail(HRESULT hr) {
    if (encoder_.IsOpen()) encoder_.Abort();
    failure_ = FAILED(hr) ? hr : E_FAIL;
    state_ = State::kFailed;
    return failure_;
}

HRESULT Writer::EncodeFrames(const BYTE* bytes, size_t frames) {
    const size_t frameBytes = size_t{channels_} * 2;
    while (frames > 0) {
        const size_t n = std::min(frames, kChunkFrames);
        std::memcpy(scratch_.data(), bytes, n * frameBytes);
        const Result written = encoder_.Write(scratch_.data(), n);
        if (!written) return Fail(written.code());
        bytes += n * frameBytes;
        frames -= n;
    }
    return S_OK;
}

HRESULT Writer::Feed(const BYTE* bytes, size_t count) {
    const size_t frameBytes = size_t{channels_} * 2;
    if (!pending_.empty()) {
        const size_t take = std::min(frameBytes - pending_.size(), count);
        pending_.insert(pending_.end(), bytes, bytes + take);
        bytes += take;
        count -= take;
        if (pending_.size() < frameBytes) return S_OK;
        const HRESULT hr = EncodeFrames(pending_.data(), 1);
        pending_.clear();
        if (FAILED(hr)) return hr;
    }
    const size_t frames = count / frameBytes;
    const HRESULT hr = EncodeFrames(bytes, frames);
    if (FAILED(hr)) return hr;
    pending_.assign(bytes + frames * frameBytes, bytes + count);
    return S_OK;
}

HRESULT Writer::EndWriting() {
    return Guarded([&]() -> HRESULT {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ == State::kFailed) {
            sink_->EndFile(Duration());
            state_ = State::kReady;
            return failure_;
        }
        if (state_ != State::kWriting) return wm::NS_E_INVALID_REQUEST;
        HRESULT hr = S_OK;
        if (!pending_.empty()) {
            // The host's last frame was cut short: complete it with silence
            // rather than drop the samples it does hold.
            pending_.resize(size_t{channels_} * 2, 0);
            hr = EncodeFrames(pending_.data(), 1);
            pending_.clear();
        }
        if (SUCCEEDED(hr)) hr = encoder_.Finish().code();
        if (encoder_.IsOpen()) encoder_.Abort();
        sink_->EndFile(Duration());
        state_ = State::kReady;
        return hr;
    });
}

HRESULT Writer::AllocateSample(DWORD size, wm::INSSBuffer** sample) {
    if (sample == nullptr) return E_POINTER;
    *sample = MemoryBuffer::Create(size);
    return *sample != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT Writer::WriteSample(DWORD inputNum, wm::QWORD sampleTime, DWORD, wm::INSSBuffer* sample) {
    if (sample == nullptr) return E_POINTER;
    if (inputNum != 0) return E_INVALIDARG;
    return Guarded([&]() -> HRESULT {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ != State::kWriting) return wm::NS_E_INVALID_REQUEST;
        BYTE* bytes = nullptr;
        DWORD length = 0;
        const HRESULT hr = sample->GetBufferAndLength(&bytes, &length);
        if (FAILED(hr)) return hr;
        if (length == 0) return S_OK;
        if (bytes == nullptr) return E_POINTER;
        writerTime_ = sampleTime;
        return Feed(bytes, length);
    });
}

HRESULT Writer::Flush() {
    return E_NOTIMPL;
}

HRESULT Writer::GetSinkCount(DWORD* sinks) {
    if (sinks == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *sinks = sink_ ? 1 : 0;
    return S_OK;
}

HRESULT Writer::GetSink(DWORD sinkNum, wm::IWMWriterSink** sink) {
    if (sink == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *sink = nullptr;
    if (!sink_ || sinkNum != 0) return E_INVALIDARG;
    sink_->AddRef();
    *sink = sink_.Get();
    return S_OK;
}

HRESULT Writer::AddSink(wm::IWMWriterSink* sink) {
    if (sink == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::kWriting || state_ == State::kFailed || sink_) {
        return wm::NS_E_INVALID_REQUEST;
    }
    ComPtr<FileSink> ours(FileSink::From(sink));
    if (!ours) return E_INVALIDARG;
    sink_ = std::move(ours);
    return S_OK;
}

HRESULT Writer::RemoveSink(wm::IWMWriterSink* sink) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::kWriting || state_ == State::kFailed) return wm::NS_E_INVALID_REQUEST;
    if (!sink_) return E_INVALIDARG;
    if (sink != nullptr) {
        ComPtr<FileSink> ours(FileSink::From(sink));
        if (ours.Get() != sink_.Get()) return E_INVALIDARG;
    }
    sink_.Reset();
    return S_OK;
}

HRESULT Writer::WriteStreamSample(WORD, wm::QWORD, DWORD, wm::QWORD, DWORD, wm::INSSBuffer*) {
    return E_NOTIMPL;
}

HRESULT Writer::SetLiveSource(BOOL) {
    return E_NOTIMPL;
}

HRESULT Writer::IsRealTime(BOOL* realTime) {
    return CopyOut(FALSE, realTime);
}

HRESULT Writer::GetWriterTime(wm::QWORD* currentTime) {
    if (currentTime == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *currentTime = writerTime_;
    return S_OK;
}

HRESULT Writer::GetStatistics(WORD, wm::WM_WRITER_STATISTICS*) {
    return E_NOTIMPL;
}

HRESULT Writer::SetSyncTolerance(DWORD) {
    return E_NOTIMPL;
}

HRESULT Writer::GetSyncTolerance(DWORD*) {
    return E_NOTIMPL;
}

}  // namespace ffsdk
