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
    HRESULT STDMETHODCALLTYPE GetSinkCount(DWORD* sinks) override;
    HRESULT STDMETHODCALLTYPE GetSink(DWORD index, wm::IWMWriterSink** sink) override;
    HRESULT STDMETHODCALLTYPE AddSink(wm::IWMWriterSink* sink) override;
    HRESULT STDMETHODCALLTYPE RemoveSink(wm::IWMWriterSink* sink) override;
    HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD stream, wm::QWORD time, DWORD sendTime,
                                                wm::QWORD duration, DWORD flags,
                                                wm::INSSBuffer* sample) override;
    HRESULT STDMETHODCALLTYPE SetLiveSource(BOOL live) override;
    HRESULT STDMETHODCALLTYPE IsRealTime(BOOL* realTime) override;
    HRESULT STDMETHODCALLTYPE GetWriterTime(wm::QWORD* time) override;
    HRESULT STDMETHODCALLTYPE GetStatistics(WORD stream, wm::WM_WRITER_STATISTICS* stats) override;
    HRESULT STDMETHODCALLTYPE SetSyncTolerance(DWORD window) override;
    HRESULT STDMETHODCALLTYPE GetSyncTolerance(DWORD* window) override;

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
    HRESULT STDMETHODCALLTYPE SetProfileByID(REFGUID id) override;
    HRESULT STDMETHODCALLTYPE SetProfile(wm::IWMProfile* profile) override;
    HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* name) override;
    HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* inputs) override;
    HRESULT STDMETHODCALLTYPE GetInputProps(DWORD input, wm::IWMInputMediaProps** props) override;
    HRESULT STDMETHODCALLTYPE SetInputProps(DWORD input, wm::IWMInputMediaProps* props) override;
    HRESULT STDMETHODCALLTYPE GetInputFormatCount(DWORD input, DWORD* formats) override;
    HRESULT STDMETHODCALLTYPE GetInputFormat(DWORD input, DWORD format,
                                             wm::IWMInputMediaProps** props) override;
    HRESULT STDMETHODCALLTYPE BeginWriting() override;
    HRESULT STDMETHODCALLTYPE EndWriting() override;
    HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, wm::INSSBuffer** sample) override;
    HRESULT STDMETHODCALLTYPE WriteSample(DWORD input, wm::QWORD time, DWORD flags,
                                          wm::INSSBuffer* sample) override;
    HRESULT STDMETHODCALLTYPE Flush() override;

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
    HRESULT STDMETHODCALLTYPE OnHeader(wm::INSSBuffer*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsRealTime(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AllocateDataUnit(DWORD, wm::INSSBuffer**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OnDataUnit(wm::INSSBuffer*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnEndWriting() override { return E_NOTIMPL; }
};

class FakeFileSink2 : public FakeSinkStubs<wm::IWMWriterFileSink2> {
  public:
    FakeFileSink2() { this->releaseLog_ = "FileSink2.Release"; }
    HRESULT STDMETHODCALLTYPE Open(const WCHAR* name) override;
    HRESULT STDMETHODCALLTYPE Start(wm::QWORD time) override;
    HRESULT STDMETHODCALLTYPE Stop(wm::QWORD time) override;
    HRESULT STDMETHODCALLTYPE IsStopped(BOOL* stopped) override;
    HRESULT STDMETHODCALLTYPE GetFileDuration(wm::QWORD* duration) override;
    HRESULT STDMETHODCALLTYPE GetFileSize(wm::QWORD* size) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE IsClosed(BOOL* closed) override;

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
