// SPDX-License-Identifier: MIT
#include "fake_writer.h"

namespace fakes {

// ---- FakeWriterAdvanced ----------------------------------------------------------------

HRESULT FakeWriterAdvanced::AddSink(wm::IWMWriterSink* sink) {
    Log("WriterAdvanced.AddSink");
    if (FAILED(addSinkResult)) return addSinkResult;
    sinks.push_back(sink);
    return S_OK;
}

// ---- FakeWriter ---------------------------------------------------------------------------

FakeWriter::FakeWriter() : advanced(new FakeWriterAdvanced) {
    releaseLog_ = "Writer.Release";
}

FakeWriter::~FakeWriter() {
    advanced->Release();
    for (auto* sample : samples) sample->Release();
}

IUnknown* FakeWriter::Part(REFIID iid) {
    return iid == wm::IID_IWMWriterAdvanced ? static_cast<wm::IWMWriterAdvanced*>(advanced)
                                            : nullptr;
}
HRESULT FakeWriter::SetProfile(wm::IWMProfile* value) {
    Log("Writer.SetProfile");
    if (FAILED(setProfileResult)) return setProfileResult;
    profile = value;
    return S_OK;
}
HRESULT FakeWriter::BeginWriting() {
    Log("Writer.BeginWriting");
    return beginResult;
}
HRESULT FakeWriter::EndWriting() {
    Log("Writer.EndWriting");
    return endResult;
}
HRESULT FakeWriter::AllocateSample(DWORD size, wm::INSSBuffer** sample) {
    Log("Writer.AllocateSample(" + std::to_string(size) + ")");
    if (FAILED(allocateResult)) return allocateResult;
    auto* made = new FakeBuffer(std::vector<BYTE>(size, 0xEE));
    if (adjustSample) adjustSample(*made);
    made->AddRef();
    samples.push_back(made);
    *sample = made;
    return S_OK;
}
HRESULT FakeWriter::WriteSample(DWORD input, wm::QWORD time, DWORD flags, wm::INSSBuffer* sample) {
    Log("Writer.WriteSample");
    const size_t call = writeCalls++;
    if (writeResult) {
        const HRESULT hr = writeResult(call);
        if (FAILED(hr)) return hr;
    }
    BYTE* bytes = nullptr;
    DWORD length = 0;
    // Read without GetBufferAndLength, which logs: the log is the library's calls.
    if (FAILED(sample->GetBuffer(&bytes)) || FAILED(sample->GetLength(&length))) return E_FAIL;
    written.push_back({input, time, flags, std::vector<BYTE>(bytes, bytes + length)});
    return S_OK;
}

// ---- FakeFileSink2 --------------------------------------------------------------------------

HRESULT FakeFileSink2::Close() {
    Log("FileSink2.Close");
    return closeResult;
}
bool FakeFileSink2::QueryBase(REFIID iid, void** out) {
    if (iid == wm::IID_IWMWriterFileSink || iid == wm::IID_IWMWriterSink) {
        *out = static_cast<wm::IWMWriterFileSink2*>(this);
        return true;
    }
    return false;
}

// ---- FakeFileSink ---------------------------------------------------------------------------

FakeFileSink::FakeFileSink() : sink2(new FakeFileSink2) {
    releaseLog_ = "FileSink.Release";
}

FakeFileSink::~FakeFileSink() {
    sink2->Release();
}

IUnknown* FakeFileSink::Part(REFIID iid) {
    return iid == wm::IID_IWMWriterFileSink2 ? static_cast<wm::IWMWriterFileSink2*>(sink2)
                                             : nullptr;
}
HRESULT FakeFileSink::Open(const WCHAR* name) {
    Log("FileSink.Open");
    if (FAILED(openResult)) return openResult;
    path = name == nullptr ? u"" : std::u16string(name);
    return S_OK;
}
bool FakeFileSink::QueryBase(REFIID iid, void** out) {
    if (iid == wm::IID_IWMWriterSink) {
        *out = static_cast<wm::IWMWriterFileSink*>(this);
        return true;
    }
    return false;
}

}  // namespace fakes
