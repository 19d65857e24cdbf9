// SPDX-License-Identifier: MIT
#include "encode.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "audio_profile.h"
#include "export_guard.h"
#include "mervane.h"
#include "never_destroyed.h"
#include "wide_text.h"
#include "wmsdk_factories.h"

namespace mervane {

namespace {

HRESULT Begin(WriterState& s, const char* path, const AudioFormatInfo& info) {
    // A bitrate whose bit/s do not fit 32 bits would wrap to a small one that
    // may well be on offer.
    if (info.bitrateKbps > UINT32_MAX / 1000) return E_INVALIDARG;
    HRESULT hr = WMCreateWriterPriv(s.writer.Put());
    if (FAILED(hr)) return hr;
    if (!s.writer) return E_POINTER;
    hr = WMCreateWriterFileSink(s.fileSink.Put());
    if (FAILED(hr)) return hr;
    if (!s.fileSink) return E_POINTER;
    hr = s.writer.As(s.advancedWriter);
    if (FAILED(hr)) return hr;
    hr = s.fileSink.As(s.fileSink2);
    if (FAILED(hr)) return hr;
    hr = s.advancedWriter->AddSink(s.fileSink2.Get());
    if (FAILED(hr)) return hr;

    s.bytesPerSecond = info.sampleRate * info.channels * 2;
    const AudioRequest request{info.bitrateKbps * 1000, wm::WAVE_FORMAT_WMAUDIO2, info.sampleRate,
                               info.channels};
    hr = BuildAudioProfile(&request, s.profile.Put());
    if (FAILED(hr)) return hr;
    hr = s.writer->SetProfile(s.profile.Get());
    if (FAILED(hr)) return hr;

    // The sink writes a new file beside the destination, which stays as it is
    // until the encode has succeeded.
    WCHAR sinkPath[kMaxWidePath];
    hr = s.output.Begin(path, sinkPath);
    if (FAILED(hr)) return hr;
    hr = s.fileSink->Open(sinkPath);
    if (FAILED(hr)) return hr;
    s.sampleTime = 0;
    s.failure = S_OK;
    return s.writer->BeginWriting();
}

// Empties the writer side when it goes out of scope, however that happens,
// unless told to keep it.
struct ClearUnlessKept {
    WriterState& state;
    bool keep = false;
    ~ClearUnlessKept() {
        if (!keep) state.Clear();
    }
};

HRESULT Init(const char* path, const AudioFormatInfo* info) {
    if (path == nullptr || info == nullptr) return E_INVALIDARG;
    WriterState& s = TheWriterState();
    // One encode at a time: an open one is left alone.
    if (s.writer) return wm::NS_E_INVALID_REQUEST;
    ClearUnlessKept undo{s};
    const HRESULT hr = Begin(s, path, *info);
    undo.keep = SUCCEEDED(hr);
    return hr;
}

HRESULT WriteBlock(WriterState& s, const void* pcm, uint32_t byteCount) {
    wm::ComPtr<wm::INSSBuffer> sample;
    HRESULT hr = s.writer->AllocateSample(byteCount, sample.Put());
    if (FAILED(hr)) return hr;
    if (!sample) return E_POINTER;
    BYTE* buffer = nullptr;
    DWORD length = 0;
    hr = sample->GetBufferAndLength(&buffer, &length);
    if (FAILED(hr)) return hr;
    // The sample reports the size asked for; never copy more than either
    // side has.
    length = std::min<DWORD>(length, byteCount);
    if (length > 0) {
        if (buffer == nullptr) return E_POINTER;
        std::memcpy(buffer, pcm, length);
    }
    hr = s.writer->WriteSample(0, s.sampleTime, 0, sample.Get());
    if (FAILED(hr)) return hr;
    s.sampleTime += static_cast<wm::QWORD>(BlockDuration(length, s.bytesPerSecond));
    return S_OK;
}

// A block that fails is remembered: the encode can no longer succeed.
HRESULT Write(const void* pcm, uint32_t byteCount) {
    WriterState& s = TheWriterState();
    if (pcm == nullptr) return E_INVALIDARG;
    if (!s.writer) return E_UNEXPECTED;
    const HRESULT hr = WriteBlock(s, pcm, byteCount);
    if (FAILED(hr) && SUCCEEDED(s.failure)) s.failure = hr;
    return hr;
}

HRESULT EndWriting(WriterState& s) {
    const HRESULT hr = s.writer->EndWriting();
    if (FAILED(hr)) return hr;
    return s.fileSink2->Close();
}

// Ends the encode whatever happens: the new file takes the destination's
// place only when every step of the encode succeeded.
HRESULT Close() {
    WriterState& s = TheWriterState();
    if (!s.writer || !s.fileSink2) return E_UNEXPECTED;
    const ClearUnlessKept end{s};
    const HRESULT ended = EndWriting(s);
    // A block refused earlier is the encode's first failure.
    if (FAILED(s.failure)) return s.failure;
    if (FAILED(ended)) return ended;
    return s.output.Commit();
}

}  // namespace

void WriterState::Clear() {
    writer.Reset();
    advancedWriter.Reset();
    fileSink.Reset();
    fileSink2.Reset();
    profile.Reset();
    sampleTime = 0;
    bytesPerSecond = 0;
    output.Discard();
    failure = S_OK;
}

WriterState& TheWriterState() {
    static NeverDestroyed<WriterState> state;
    return state.Get();
}

int64_t BlockDuration(DWORD length, DWORD bytesPerSecond) {
    if (bytesPerSecond == 0) return 0;
    // At most 2^32 x 10^7, well inside 64 bits, so blocks of any length get
    // their true duration.
    const uint64_t units = static_cast<uint64_t>(length) * wm::kUnitsPerSecond;
    return static_cast<int64_t>((units + bytesPerSecond / 2) / bytesPerSecond);
}

}  // namespace mervane

extern "C" MERVANE_API int32_t MERVANE_CALL InitWMAWriteFile(const char* path,
                                                             const AudioFormatInfo* info) {
    return mervane::GuardExport(0, [&] { return SUCCEEDED(mervane::Init(path, info)) ? 1 : 0; });
}

extern "C" MERVANE_API int32_t MERVANE_CALL WriteWMAFile(const void* pcm, uint32_t byteCount) {
    return mervane::GuardExport(0,
                                [&] { return SUCCEEDED(mervane::Write(pcm, byteCount)) ? 1 : 0; });
}

extern "C" MERVANE_API int32_t MERVANE_CALL CloseWMAWriteFile(void) {
    return mervane::GuardExport(static_cast<int32_t>(E_UNEXPECTED),
                                [] { return static_cast<int32_t>(mervane::Close()); });
}
