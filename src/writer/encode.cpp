// SPDX-License-Identifier: MIT
#include "encode.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "audio_profile.h"
#include "mervane.h"
#include "wide_text.h"
#include "wmsdk_factories.h"

namespace mervane {

namespace {

constexpr int64_t kUnitsPerSecond = 10000000;

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

    WCHAR widePath[kMaxWidePath];
    ToWidePath(path, widePath);
    hr = s.fileSink->Open(widePath);
    if (FAILED(hr)) return hr;
    s.sampleTime = 0;
    return s.writer->BeginWriting();
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
}

WriterState& TheWriterState() {
    alignas(WriterState) static unsigned char storage[sizeof(WriterState)];
    static WriterState* const state = new (storage) WriterState();
    return *state;
}

int64_t BlockDuration(DWORD length, DWORD bytesPerSecond) {
    if (bytesPerSecond == 0) return 0;
    // At most 2^32 x 10^7, well inside 64 bits, so blocks of any length get
    // their true duration.
    const uint64_t units = static_cast<uint64_t>(length) * kUnitsPerSecond;
    return static_cast<int64_t>((units + bytesPerSecond / 2) / bytesPerSecond);
}

}  // namespace mervane

using mervane::TheWriterState;
using mervane::WriterState;

extern "C" MERVANE_API int32_t MERVANE_CALL InitWMAWriteFile(const char* path,
                                                             const AudioFormatInfo* info) {
    if (path == nullptr || info == nullptr) return 0;
    WriterState& s = TheWriterState();
    // An encode left open is given up: its objects go before the new ones come.
    s.Clear();
    if (FAILED(mervane::Begin(s, path, *info))) {
        s.Clear();
        return 0;
    }
    return 1;
}

extern "C" MERVANE_API int32_t MERVANE_CALL WriteWMAFile(const void* pcm, uint32_t byteCount) {
    if (pcm == nullptr) return 0;
    WriterState& s = TheWriterState();
    if (!s.writer) return 0;

    mervane::ComPtr<wm::INSSBuffer> sample;
    if (FAILED(s.writer->AllocateSample(byteCount, sample.Put())) || !sample) return 0;
    BYTE* buffer = nullptr;
    DWORD length = 0;
    if (FAILED(sample->GetBufferAndLength(&buffer, &length))) return 0;
    // The sample reports the size asked for; never copy more than either side has.
    length = std::min<DWORD>(length, byteCount);
    if (length > 0) {
        if (buffer == nullptr) return 0;
        std::memcpy(buffer, pcm, length);
    }
    if (FAILED(s.writer->WriteSample(0, s.sampleTime, 0, sample.Get()))) return 0;
    s.sampleTime += static_cast<wm::QWORD>(mervane::BlockDuration(length, s.bytesPerSecond));
    return 1;
}

extern "C" MERVANE_API int32_t MERVANE_CALL CloseWMAWriteFile(void) {
    WriterState& s = TheWriterState();
    if (!s.writer || !s.fileSink2) return E_UNEXPECTED;
    HRESULT hr = s.writer->EndWriting();
    if (FAILED(hr)) return hr;
    hr = s.fileSink2->Close();
    if (FAILED(hr)) return hr;
    s.Clear();
    return S_OK;
}
