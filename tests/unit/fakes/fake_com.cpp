// SPDX-License-Identifier: MIT
#include "fake_com.h"

#include <algorithm>
#include <cstring>

namespace fakes {

CallLog& CallLog::Instance() {
    static CallLog log;
    return log;
}

void CallLog::Add(std::string entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
}

std::vector<std::string> CallLog::Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

std::vector<std::string> CallLog::Matching(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& e : entries_)
        if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
}

void CallLog::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

std::atomic<long>& LiveObjects() {
    static std::atomic<long> live{0};
    return live;
}

Factories& ScriptedFactories() {
    static Factories factories;
    return factories;
}

void ResetFakes() {
    ScriptedFactories() = Factories{};
    CallLog::Instance().Clear();
}

std::u16string Str(const WCHAR* text) {
    return text == nullptr ? u"" : std::u16string(text);
}

HRESULT ServeMediaType(const std::vector<BYTE>& stored, HRESULT sizeResult, HRESULT fetchResult,
                       wm::WM_MEDIA_TYPE* type, DWORD* size) {
    if (size == nullptr) return E_POINTER;
    if (type == nullptr) {
        if (FAILED(sizeResult)) return sizeResult;
        *size = static_cast<DWORD>(stored.size());
        return S_OK;
    }
    if (FAILED(fetchResult)) return fetchResult;
    if (*size < stored.size()) return E_INVALIDARG;
    std::memcpy(type, stored.data(), stored.size());
    if (stored.size() >= sizeof(wm::WM_MEDIA_TYPE))
        type->pbFormat = reinterpret_cast<BYTE*>(type) + sizeof(wm::WM_MEDIA_TYPE);
    *size = static_cast<DWORD>(stored.size());
    return S_OK;
}

// ---- FakeBuffer --------------------------------------------------------------------

HRESULT FakeBuffer::GetLength(DWORD* length) {
    *length = static_cast<DWORD>(data.size());
    return S_OK;
}
HRESULT FakeBuffer::SetLength(DWORD length) {
    data.resize(length);
    return S_OK;
}
HRESULT FakeBuffer::GetMaxLength(DWORD* length) {
    return GetLength(length);
}
HRESULT FakeBuffer::GetBuffer(BYTE** buffer) {
    *buffer = data.data();
    return S_OK;
}
HRESULT FakeBuffer::GetBufferAndLength(BYTE** buffer, DWORD* length) {
    Log("Buffer.GetBufferAndLength");
    if (FAILED(bufferResult)) return bufferResult;
    *buffer = data.data();
    *length = static_cast<DWORD>(data.size());
    return S_OK;
}

// ---- Media types -------------------------------------------------------------------

std::vector<BYTE> MakeMediaType(const GUID& major, const GUID& formatType,
                                const std::vector<BYTE>& format) {
    wm::WM_MEDIA_TYPE header{};
    header.majortype = major;
    header.subtype = wm::AudioSubtype(format.size() >= 2 ? format[0] | (format[1] << 8) : 0);
    header.bFixedSizeSamples = TRUE;
    header.formattype = formatType;
    header.cbFormat = static_cast<ULONG>(format.size());
    std::vector<BYTE> out(sizeof header + format.size());
    std::memcpy(out.data(), &header, sizeof header);
    std::copy(format.begin(), format.end(), out.begin() + sizeof header);
    return out;
}

std::vector<BYTE> MakeWaveFormat(WORD tag, WORD channels, DWORD rate, DWORD avgBytesPerSec,
                                 WORD blockAlign, std::vector<BYTE> extra, WORD bitsPerSample) {
    wm::WAVEFORMATEX wfx{tag,
                         channels,
                         rate,
                         avgBytesPerSec,
                         blockAlign,
                         bitsPerSample,
                         static_cast<WORD>(extra.size())};
    std::vector<BYTE> out(sizeof wfx + extra.size());
    std::memcpy(out.data(), &wfx, sizeof wfx);
    if (!extra.empty()) std::memcpy(out.data() + sizeof wfx, extra.data(), extra.size());
    return out;
}

std::vector<BYTE> MakeAudioType(WORD tag, WORD channels, DWORD rate, DWORD avgBytesPerSec,
                                WORD blockAlign, std::vector<BYTE> extra, WORD bitsPerSample) {
    return MakeMediaType(wm::WMMEDIATYPE_Audio, wm::WMFORMAT_WaveFormatEx,
                         MakeWaveFormat(tag, channels, rate, avgBytesPerSec, blockAlign,
                                        std::move(extra), bitsPerSample));
}

// ---- FakeMediaProps ------------------------------------------------------------------

HRESULT FakeMediaProps::GetType(GUID* type) {
    if (mediaType.size() < sizeof(wm::WM_MEDIA_TYPE)) return E_FAIL;
    std::memcpy(type, mediaType.data(), sizeof(GUID));
    return S_OK;
}
HRESULT FakeMediaProps::GetMediaType(wm::WM_MEDIA_TYPE* type, DWORD* size) {
    Log(type == nullptr ? "MediaProps.GetMediaType(size)" : "MediaProps.GetMediaType");
    ++getMediaTypeCalls;
    return ServeMediaType(mediaType, sizeQueryResult, fetchResult, type, size);
}
bool FakeMediaProps::QueryBase(REFIID iid, void** out) {
    if (iid == wm::IID_IWMMediaProps) {
        *out = static_cast<wm::IWMMediaProps*>(this);
        return true;
    }
    return false;
}

// ---- FakeHeaderInfo ------------------------------------------------------------------

std::vector<BYTE> StringValue(const std::u16string& text) {
    std::vector<BYTE> out((text.size() + 1) * 2, 0);
    std::memcpy(out.data(), text.data(), text.size() * 2);
    return out;
}
std::vector<BYTE> DwordValue(DWORD value) {
    std::vector<BYTE> out(4);
    std::memcpy(out.data(), &value, 4);
    return out;
}
std::vector<BYTE> QwordValue(uint64_t value) {
    std::vector<BYTE> out(8);
    std::memcpy(out.data(), &value, 8);
    return out;
}

const FakeAttribute* FakeHeaderInfo::Find(const std::u16string& name) const {
    for (const auto& a : attributes)
        if (a.name == name) return &a;
    return nullptr;
}

HRESULT FakeHeaderInfo::GetAttributeCount(WORD stream, WORD* count) {
    Log("HeaderInfo.GetAttributeCount");
    if (FAILED(countResult)) return countResult;
    *count = stream == 0 ? static_cast<WORD>(attributes.size()) : 0;
    return S_OK;
}

HRESULT FakeHeaderInfo::GetAttributeByIndex(WORD index, WORD* stream, WCHAR* name, WORD* nameLength,
                                            wm::WMT_ATTR_DATATYPE* type, BYTE* value,
                                            WORD* valueLength) {
    const bool fetching = name != nullptr || value != nullptr;
    Log("HeaderInfo.GetAttributeByIndex(" + std::to_string(index) + (fetching ? ")" : ",size)"));
    if (byIndexResult) {
        const HRESULT hr = byIndexResult(index, fetching);
        if (FAILED(hr)) return hr;
    }
    if (stream == nullptr || nameLength == nullptr || type == nullptr || valueLength == nullptr)
        return E_POINTER;
    if (*stream != 0 || index >= attributes.size()) return E_INVALIDARG;
    const FakeAttribute& a = attributes[index];
    const WORD needName = static_cast<WORD>(a.name.size() + 1);
    const WORD needValue = static_cast<WORD>(a.value.size());
    if (name != nullptr) {
        if (*nameLength < needName) return E_INVALIDARG;
        std::memcpy(name, a.name.c_str(), needName * sizeof(WCHAR));
    }
    if (value != nullptr) {
        if (*valueLength < needValue) return E_INVALIDARG;
        if (needValue > 0) std::memcpy(value, a.value.data(), needValue);
    }
    *nameLength = needName;
    *valueLength = needValue;
    *type = a.type;
    return S_OK;
}

HRESULT FakeHeaderInfo::GetAttributeByName(WORD* stream, const WCHAR* name,
                                           wm::WMT_ATTR_DATATYPE* type, BYTE* value,
                                           WORD* valueLength) {
    const std::u16string key = Str(name);
    const bool fetching = value != nullptr;
    Log("HeaderInfo.GetAttributeByName(" + std::string(key.begin(), key.end()) +
        (fetching ? ")" : ",size)"));
    if (byNameResult) {
        const HRESULT hr = byNameResult(key, fetching);
        if (hr != S_OK) {
            if (valueLength != nullptr && hr == wm::ASF_E_NOTFOUND) *valueLength = 0;
            return hr;
        }
    }
    if (stream == nullptr || type == nullptr || valueLength == nullptr) return E_POINTER;
    const FakeAttribute* a = *stream == 0 ? Find(key) : nullptr;
    if (a == nullptr) {
        *valueLength = 0;
        return wm::ASF_E_NOTFOUND;
    }
    const WORD need = static_cast<WORD>(a->value.size());
    if (value != nullptr) {
        if (*valueLength < need) return wm::ASF_E_NOTFOUND;
        if (need > 0) std::memcpy(value, a->value.data(), need);
    }
    *valueLength = need;
    *type = a->type;
    return S_OK;
}

HRESULT FakeHeaderInfo::SetAttribute(WORD stream, const WCHAR* name, wm::WMT_ATTR_DATATYPE type,
                                     const BYTE* value, WORD valueLength) {
    const std::u16string key = Str(name);
    Log("HeaderInfo.SetAttribute(" + std::string(key.begin(), key.end()) + ")");
    set.push_back({key, type, std::vector<BYTE>(value, value + valueLength)});
    if (setResult) {
        const HRESULT hr = setResult(key);
        if (FAILED(hr)) return hr;
    }
    if (stream != 0) return E_INVALIDARG;
    for (auto& a : attributes)
        if (a.name == key) {
            a.type = type;
            a.value.assign(value, value + valueLength);
            return S_OK;
        }
    attributes.push_back(set.back());
    return S_OK;
}

}  // namespace fakes

// ---- The factories the library calls, answered by the scripted hooks ----------------

namespace {
template <typename Fn, typename Out>
HRESULT Call(const Fn& fn, const char* name, Out** out) {
    fakes::Log(name);
    if (!fn) return E_NOTIMPL;
    return fn(out);
}
}  // namespace

extern "C" {
HRESULT WMCreateReaderPriv(wm::IWMReader** reader) {
    return Call(fakes::ScriptedFactories().reader, "WMCreateReaderPriv", reader);
}
HRESULT WMCreateWriterPriv(wm::IWMWriter** writer) {
    return Call(fakes::ScriptedFactories().writer, "WMCreateWriterPriv", writer);
}
HRESULT WMCreateProfileManager(wm::IWMProfileManager** manager) {
    return Call(fakes::ScriptedFactories().profileManager, "WMCreateProfileManager", manager);
}
HRESULT WMCreateEditor(wm::IWMMetadataEditor** editor) {
    return Call(fakes::ScriptedFactories().editor, "WMCreateEditor", editor);
}
HRESULT WMCreateWriterFileSink(wm::IWMWriterFileSink** sink) {
    return Call(fakes::ScriptedFactories().fileSink, "WMCreateWriterFileSink", sink);
}
}
