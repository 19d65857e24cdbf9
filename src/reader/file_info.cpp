// GetWmaFileInfo: opens a file, reads its "Bitrate" and "Duration" header
// attributes and the format of output 0, and closes it again.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "heap_buffer.h"
#include "media_type.h"
#include "mervane.h"
#include "reader_callback.h"

namespace {

using mervane::ComPtr;
using mervane::HeapBuffer;
using mervane::ReaderCallback;

constexpr uint64_t kUnitsPerMs = 10'000;

// Holds the reader a query opened and, however the query ends, closes it and
// releases the header info and the reader, in that order.
class OpenedFile {
  public:
    explicit OpenedFile(ReaderCallback& callback)
        : callback_(callback), reader_(callback.TakeReader()) {}
    ~OpenedFile() {
        if (reader_) reader_->Close();
        callback_.HeaderInfo().Reset();
        reader_.Reset();
    }
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    const ComPtr<wm::IWMReader>& Reader() const { return reader_; }

  private:
    ReaderCallback& callback_;
    ComPtr<wm::IWMReader> reader_;
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

// Fills bitrateKbps and durationMs from the attributes of stream 0 that carry
// them. A failing attribute read ends the scan without failing the query.
void ReadAttributes(wm::IWMHeaderInfo* header, WORD count, AudioFormatInfo* info) {
    for (WORD i = 0; i < count; ++i) {
        WORD stream = 0;
        WORD nameLength = 0;
        WORD valueLength = 0;
        wm::WMT_ATTR_DATATYPE type{};
        if (FAILED(header->GetAttributeByIndex(i, &stream, nullptr, &nameLength, &type, nullptr,
                                               &valueLength)))
            return;

        HeapBuffer name(static_cast<size_t>(nameLength) * sizeof(WCHAR));
        HeapBuffer value(valueLength);
        if (!name || !value) return;
        stream = 0;
        if (FAILED(header->GetAttributeByIndex(i, &stream, name.as<WCHAR>(), &nameLength, &type,
                                               value.as<BYTE>(), &valueLength)))
            return;

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
                info->durationMs =
                    static_cast<uint32_t>(duration / static_cast<int64_t>(kUnitsPerMs));
            } else if (valueBytes >= 4) {
                info->durationMs = ReadDword(bytes) / static_cast<uint32_t>(kUnitsPerMs);
            }
        }
    }
}

// Fills the format fields from output 0, which must be audio.
bool ReadFormat(wm::IWMReader* reader, AudioFormatInfo* info) {
    HeapBuffer buffer;
    {
        ComPtr<wm::IWMOutputMediaProps> props;
        if (FAILED(reader->GetOutputProps(0, props.Put())) || !props) return false;
        if (FAILED(mervane::ReadMediaType(props.Get(), buffer))) return false;
    }
    // Too short to hold the media type's own fields: nothing can be read from it.
    if (buffer.size() < sizeof(wm::WM_MEDIA_TYPE)) return false;
    const auto* type = buffer.as<wm::WM_MEDIA_TYPE>();
    if (type->majortype != wm::WMMEDIATYPE_Audio) return false;

    // The format block of every audio type is read as a WAVEFORMATEX, whatever
    // its format type and size say; but never beyond the buffer the SDK filled,
    // and it must at least reach the channel count and sample rate.
    const auto begin = reinterpret_cast<uintptr_t>(buffer.get());
    const auto format = reinterpret_cast<uintptr_t>(type->pbFormat);
    if (format < begin || format >= begin + buffer.size()) return false;
    const size_t available = begin + buffer.size() - format;
    if (available < offsetof(wm::WAVEFORMATEX, nAvgBytesPerSec)) return false;
    wm::WAVEFORMATEX wave{};
    std::memcpy(&wave, type->pbFormat, std::min(available, sizeof wave));
    info->formatKind = 3;
    info->sampleRate = wave.nSamplesPerSec;
    info->channels = wave.nChannels;
    info->reserved0 = 0;
    info->reserved1 = 0;
    info->reserved2 = 0;
    return true;
}

bool QueryFileInfo(const char* path, AudioFormatInfo* info) {
    ReaderCallback& callback = mervane::TheReaderCallback();
    if (FAILED(mervane::OpenAndWait(path))) return false;
    OpenedFile file(callback);
    if (!file.Reader()) return false;

    ComPtr<wm::IWMHeaderInfo>& header = callback.HeaderInfo();
    if (FAILED(file.Reader().As(header))) return false;
    WORD count = 0;
    if (FAILED(header->GetAttributeCount(0, &count))) return false;
    ReadAttributes(header.Get(), count, info);
    return ReadFormat(file.Reader().Get(), info);
}

}  // namespace

extern "C" MERVANE_API int32_t MERVANE_CALL GetWmaFileInfo(const char* path,
                                                           AudioFormatInfo* info) {
    if (path == nullptr || info == nullptr) return 0;
    return QueryFileInfo(path, info) ? 1 : 0;
}
