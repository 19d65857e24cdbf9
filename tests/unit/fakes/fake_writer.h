// SPDX-License-Identifier: MIT
// Scriptable fake writer and file sink. The advanced writer and the second file
// sink interface are separate objects handed out by QueryInterface, so tests can
// tell apart which reference went when: each of these fakes logs its Release.
#pragma once

#include <string>
#include <vector>

#include "fake_com.h"

namespace fakes {

class FakeWriterAdvanced : public FakeCom<wm::IWMWriterAdvanced> {
  public:
    FakeWriterAdvanced() { this->releaseLog_ = "WriterAdvanced.Release"; }
    FAKE_NOT_USED(GetSinkCount, DWORD*)
    FAKE_NOT_USED(GetSink, DWORD, wm::IWMWriterSink**)
    HRESULT STDMETHODCALLTYPE AddSink(wm::IWMWriterSink* sink) override;
    FAKE_NOT_USED(RemoveSink, wm::IWMWriterSink*)
    FAKE_NOT_USED(WriteStreamSample, WORD, wm::QWORD, DWORD, wm::QWORD, DWORD, wm::INSSBuffer*)
    FAKE_NOT_USED(SetLiveSource, BOOL)
    FAKE_NOT_USED(IsRealTime, BOOL*)
    FAKE_NOT_USED(GetWriterTime, wm::QWORD*)
    FAKE_NOT_USED(GetStatistics, WORD, wm::WM_WRITER_STATISTICS*)
    FAKE_NOT_USED(SetSyncTolerance, DWORD)
    FAKE_NOT_USED(GetSyncTolerance, DWORD*)

    HRESULT addSinkResult = S_OK;
    std::vector<wm::IWMWriterSink*> sinks;  // not owned: compare only
};

struct WrittenSample {
    DWORD input;
    wm::QWORD time;
    DWORD flags;
    std::vector<BYTE> bytes;
};

class FakeWriter : public FakeCom<wm::IWMWriter> {
  public:
    FakeWriter();
    ~FakeWriter() override;
    FAKE_NOT_USED(SetProfileByID, REFGUID)
    HRESULT STDMETHODCALLTYPE SetProfile(wm::IWMProfile* profile) override;
    FAKE_NOT_USED(SetOutputFilename, const WCHAR*)
    FAKE_NOT_USED(GetInputCount, DWORD*)
    FAKE_NOT_USED(GetInputProps, DWORD, wm::IWMInputMediaProps**)
    FAKE_NOT_USED(SetInputProps, DWORD, wm::IWMInputMediaProps*)
    FAKE_NOT_USED(GetInputFormatCount, DWORD, DWORD*)
    FAKE_NOT_USED(GetInputFormat, DWORD, DWORD, wm::IWMInputMediaProps**)
    HRESULT STDMETHODCALLTYPE BeginWriting() override;
    HRESULT STDMETHODCALLTYPE EndWriting() override;
    HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, wm::INSSBuffer** sample) override;
    HRESULT STDMETHODCALLTYPE WriteSample(DWORD input, wm::QWORD time, DWORD flags,
                                          wm::INSSBuffer* sample) override;
    FAKE_NOT_USED(Flush, void)

    FakeWriterAdvanced* advanced;  // the writer's own reference
    HRESULT setProfileResult = S_OK;
    HRESULT beginResult = S_OK;
    HRESULT endResult = S_OK;
    HRESULT allocateResult = S_OK;
    std::function<void(FakeBuffer&)> adjustSample;  // applied to each new sample
    // Result of the n-th WriteSample call (from 0); S_OK when unset.
    std::function<HRESULT(size_t call)> writeResult;
    wm::IWMProfile* profile = nullptr;  // not owned: compare only
    // Every sample handed out; the writer keeps one reference to each so tests
    // can check that the library released its own.
    std::vector<FakeBuffer*> samples;
    std::vector<WrittenSample> written;
    size_t writeCalls = 0;

  protected:
    IUnknown* Part(REFIID iid) override;
};

// The IWMWriterSink methods neither sink fake expects the library to call;
// like the fakes' other unused methods they answer E_NOTIMPL.
template <typename Iface>
class FakeSinkStubs : public FakeCom<Iface> {
  public:
    FAKE_NOT_USED(OnHeader, wm::INSSBuffer*)
    FAKE_NOT_USED(IsRealTime, BOOL*)
    FAKE_NOT_USED(AllocateDataUnit, DWORD, wm::INSSBuffer**)
    FAKE_NOT_USED(OnDataUnit, wm::INSSBuffer*)
    FAKE_NOT_USED(OnEndWriting, void)
};

class FakeFileSink2 : public FakeSinkStubs<wm::IWMWriterFileSink2> {
  public:
    FakeFileSink2() { this->releaseLog_ = "FileSink2.Release"; }
    FAKE_NOT_USED(Open, const WCHAR*)
    FAKE_NOT_USED(Start, wm::QWORD)
    FAKE_NOT_USED(Stop, wm::QWORD)
    FAKE_NOT_USED(IsStopped, BOOL*)
    FAKE_NOT_USED(GetFileDuration, wm::QWORD*)
    FAKE_NOT_USED(GetFileSize, wm::QWORD*)
    HRESULT STDMETHODCALLTYPE Close() override;
    FAKE_NOT_USED(IsClosed, BOOL*)

    HRESULT closeResult = S_OK;

  protected:
    bool QueryBase(REFIID iid, void** out) override;
};

class FakeFileSink : public FakeSinkStubs<wm::IWMWriterFileSink> {
  public:
    FakeFileSink();
    ~FakeFileSink() override;
    HRESULT STDMETHODCALLTYPE Open(const WCHAR* name) override;

    FakeFileSink2* sink2;  // the sink's own reference
    HRESULT openResult = S_OK;
    std::u16string path;

  protected:
    bool QueryBase(REFIID iid, void** out) override;

  protected:
    IUnknown* Part(REFIID iid) override;
};

}  // namespace fakes
