// SPDX-License-Identifier: MIT
// GetWmaFileInfo: opens a file, reads its "Bitrate" and "Duration" header
// attributes and the format of output 0, and closes it again. A query works on
// objects of its own (reader, callback, open signal), so it neither disturbs a
// decode that runs meanwhile nor another query on another thread.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "com_object.h"
#include "export_guard.h"
#include "heap_buffer.h"
#include "media_type.h"
#include "mervane.h"
#include "open_handshake.h"

namespace {

using mervane::HeapBuffer;
using wm::ComPtr;

// The callback a query's reader reports its open to. It lives on the heap for
// as long as the reader holds a reference to it.
class QueryCallback final : public wm::ComObject<wm::IWMReaderCallback> {
  public:
    static ComPtr<QueryCallback> Create() {
        return ComPtr<QueryCallback>(new (std::nothrow) QueryCallback);
    }

    HRESULT STDMETHODCALLTYPE OnStatus(wm::WMT_STATUS status, HRESULT hr, wm::WMT_ATTR_DATATYPE,
                                       BYTE*, void* context) override {
        if (status == wm::WMT_OPENED || status == wm::WMT_SOURCE_SWITCH) open_.Signal(hr, context);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnSample(DWORD, wm::QWORD, wm::QWORD, DWORD, wm::INSSBuffer*,
                                       void*) override {
        return S_OK;
    }

    mervane::OpenSignal& Signal() { return open_; }
    WCHAR (&PathBuffer())[mervane::kMaxWidePath] { return pathBuffer_; }

  private:
    QueryCallback() = default;
    ~QueryCallback() override = default;

    mervane::OpenSignal open_;
    WCHAR pathBuffer_[mervane::kMaxWidePath] = {};
};

// Holds the reader a query opened and, however the query ends, closes it and
// releases the header info and the reader, in that order.
class OpenedFile {
  public:
    OpenedFile() = default;
    ~OpenedFile() {
        if (reader) reader->Close();
        header.Reset();
        reader.Reset();
    }
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    ComPtr<wm::IWMReader> reader;
    ComPtr<wm::IWMHeaderInfo> header;
};

// Exact, case-sensitive comparison of an attribute name of at most `capacity`
// characters (terminated within them or not) with an ASCII name.
bool NameIs(const WCHAR* name, size_t capacity, const char* expected) {
    for (size_t i = 0;; ++i) {
        const WCHAR want = static_cast<WCHAR>(static_cast<unsigned char>(expected[i]));
        if (i == capacity) return want == 0;
        if (name[i] != want) return false;
        if (want == 0) return true;
    }
}

uint32_t ReadDword(const BYTE* value) {
    uint32_t word = 0;
    std::memcpy(&word, value, sizeof word);
    return word;
}

bool IsReadAttribute(const WCHAR* name, size_t capacity) {
    return NameIs(name, capacity, "Bitrate") || NameIs(name, capacity, "Duration");
}

// Fills bitrateKbps and durationMs from the attributes of stream 0 that carry
// them. Fails when one of those two could not be read: the fields may then not
// be what the file holds. Any other attribute that cannot be read (a picture
// too large for the 16-bit value length) is passed over.
HRESULT ReadAttributes(wm::IWMHeaderInfo* header, WORD count, AudioFormatInfo* info) {
    for (WORD i = 0; i < count; ++i) {
        WORD stream = 0;
        WORD nameLength = 0;
        WORD valueLength = 0;
        wm::WMT_ATTR_DATATYPE type{};
        HRESULT hr = header->GetAttributeByIndex(i, &stream, nullptr, &nameLength, &type, nullptr,
                                                 &valueLength);
        if (FAILED(hr)) return hr;

        HeapBuffer name(static_cast<size_t>(nameLength) * sizeof(WCHAR));
        HeapBuffer value(valueLength);
        if (!name || !value) return E_OUTOFMEMORY;
        stream = 0;
        hr = header->GetAttributeByIndex(i, &stream, name.as<WCHAR>(), &nameLength, &type,
                                         value.as<BYTE>(), &valueLength);
        if (FAILED(hr)) {
            // Its name alone says whether it mattered.
            WORD length = static_cast<WORD>(name.size() / sizeof(WCHAR));
            stream = 0;
            const HRESULT named = header->GetAttributeByIndex(i, &stream, name.as<WCHAR>(), &length,
                                                              &type, nullptr, &valueLength);
            if (FAILED(named)) return named;
            if (IsReadAttribute(name.as<WCHAR>(),
                                std::min<size_t>(length, name.size() / sizeof(WCHAR))))
                return hr;
            continue;
        }

        // Only what the reader stored is read, and never beyond the buffers.
        const size_t nameChars = std::min<size_t>(nameLength, name.size() / sizeof(WCHAR));
        const size_t valueBytes = std::min<size_t>(valueLength, value.size());
        const BYTE* bytes = value.as<BYTE>();
        if (NameIs(name.as<WCHAR>(), nameChars, "Bitrate")) {
            if (valueBytes >= 4) info->bitrateKbps = ReadDword(bytes) / 1000;
        }
        if (NameIs(name.as<WCHAR>(), nameChars, "Duration")) {
            if (valueBytes == 8) {
                int64_t duration = 0;
                std::memcpy(&duration, bytes, sizeof duration);
                info->durationMs = static_cast<uint32_t>(duration / wm::kUnitsPerMs);
            } else if (valueBytes >= 4) {
                info->durationMs = ReadDword(bytes) / static_cast<uint32_t>(wm::kUnitsPerMs);
            }
        }
    }
    return S_OK;
}

// Fills the format fields from output 0, which must be audio.
HRESULT ReadFormat(wm::IWMReader* reader, AudioFormatInfo* info) {
    HeapBuffer buffer;
    wm::MediaTypeView type;
    {
        ComPtr<wm::IWMOutputMediaProps> props;
        HRESULT hr = reader->GetOutputProps(0, props.Put());
        if (FAILED(hr)) return hr;
        if (!props) return E_POINTER;
        hr = mervane::ReadMediaType(props.Get(), buffer, &type);
        if (FAILED(hr)) return hr;
    }
    if (type.type->majortype != wm::WMMEDIATYPE_Audio) return wm::NS_E_INVALID_INPUT_FORMAT;
    // The format block of every audio type is read as a WAVEFORMATEX, whatever
    // its format type says; it must at least reach the channel count and rate.
    wm::WaveFormat wave;
    if (!wm::ReadWaveFormat(type.format, type.formatSize, &wave, wm::kWaveFormatRateSize))
        return wm::NS_E_INVALID_INPUT_FORMAT;
    info->formatKind = 3;
    info->sampleRate = wave.samplesPerSec;
    info->channels = wave.channels;
    info->reserved0 = 0;
    info->reserved1 = 0;
    info->reserved2 = 0;
    return S_OK;
}

HRESULT QueryFileInfo(const char* path, AudioFormatInfo* info) {
    if (path == nullptr || info == nullptr) return E_INVALIDARG;
    ComPtr<QueryCallback> callback = QueryCallback::Create();
    if (!callback) return E_OUTOFMEMORY;
    OpenedFile file;
    HRESULT hr = mervane::OpenAndWait(path, callback->PathBuffer(), callback.Get(),
                                      callback->Signal(), file.reader);
    if (FAILED(hr)) return hr;
    hr = file.reader.As(file.header);
    if (FAILED(hr)) return hr;
    WORD count = 0;
    hr = file.header->GetAttributeCount(0, &count);
    if (FAILED(hr)) return hr;
    hr = ReadAttributes(file.header.Get(), count, info);
    if (FAILED(hr)) return hr;
    return ReadFormat(file.reader.Get(), info);
}

}  // namespace

extern "C" MERVANE_API int32_t MERVANE_CALL GetWmaFileInfo(const char* path,
                                                           AudioFormatInfo* info) {
    return mervane::GuardExport(0, [&] { return SUCCEEDED(QueryFileInfo(path, info)) ? 1 : 0; });
}
