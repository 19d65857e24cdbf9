// SPDX-License-Identifier: MIT
// The writer: IWMWriter and IWMWriterAdvanced over WmaFileEncoder.
//
// It takes a profile with one audio stream whose format is a codec catalogue
// entry, and one of our own file sinks. Input 0 is 16-bit interleaved PCM at
// the profile's rate and channel count; samples are encoded as they come, so
// memory stays bounded however long the file. Sample times are accepted as
// given: the file's timing follows the PCM byte count.
//
// States: idle (no profile) -> ready (profile set) -> writing (BeginWriting)
// -> ready (EndWriting). A failure inside the encoder ends writing at once;
// EndWriting then reports that failure. Calls that do not fit the state fail
// with NS_E_INVALID_REQUEST.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "com_object.h"
#include "com_ptr.h"
#include "encode/wma_encoder.h"
#include "wmsdk.h"
#include "writer/file_sink.h"

namespace ffsdk {

class Writer final : public wm::ComObject<wm::IWMWriter, wm::IWMWriterAdvanced> {
  public:
    // Null when out of memory.
    static Writer* Create();

    // IWMWriter
    HRESULT STDMETHODCALLTYPE SetProfileByID(REFGUID profileId) override;
    HRESULT STDMETHODCALLTYPE SetProfile(wm::IWMProfile* profile) override;
    HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* filename) override;
    HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* inputs) override;
    HRESULT STDMETHODCALLTYPE GetInputProps(DWORD inputNum,
                                            wm::IWMInputMediaProps** input) override;
    HRESULT STDMETHODCALLTYPE SetInputProps(DWORD inputNum, wm::IWMInputMediaProps* input) override;
    HRESULT STDMETHODCALLTYPE GetInputFormatCount(DWORD inputNum, DWORD* formats) override;
    HRESULT STDMETHODCALLTYPE GetInputFormat(DWORD inputNum, DWORD formatNum,
                                             wm::IWMInputMediaProps** props) override;
    HRESULT STDMETHODCALLTYPE BeginWriting() override;
    HRESULT STDMETHODCALLTYPE EndWriting() override;
    HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, wm::INSSBuffer** sample) override;
    HRESULT STDMETHODCALLTYPE WriteSample(DWORD inputNum, wm::QWORD sampleTime, DWORD flags,
                                          wm::INSSBuffer* sample) override;
    HRESULT STDMETHODCALLTYPE Flush() override;

    // IWMWriterAdvanced
    HRESULT STDMETHODCALLTYPE GetSinkCount(DWORD* sinks) override;
    HRESULT STDMETHODCALLTYPE GetSink(DWORD sinkNum, wm::IWMWriterSink** sink) override;
    // Takes one of our file sinks (WMCreateWriterFileSink), one at a time.
    HRESULT STDMETHODCALLTYPE AddSink(wm::IWMWriterSink* sink) override;
    HRESULT STDMETHODCALLTYPE RemoveSink(wm::IWMWriterSink* sink) override;
    HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD streamNum, wm::QWORD sampleTime,
                                                DWORD sampleSendTimeMs, wm::QWORD sampleDuration,
                                                DWORD flags, wm::INSSBuffer* sample) override;
    HRESULT STDMETHODCALLTYPE SetLiveSource(BOOL isLiveSource) override;
    HRESULT STDMETHODCALLTYPE IsRealTime(BOOL* realTime) override;
    HRESULT STDMETHODCALLTYPE GetWriterTime(wm::QWORD* currentTime) override;
    HRESULT STDMETHODCALLTYPE GetStatistics(WORD streamNum,
                                            wm::WM_WRITER_STATISTICS* statistics) override;
    HRESULT STDMETHODCALLTYPE SetSyncTolerance(DWORD windowMs) override;
    HRESULT STDMETHODCALLTYPE GetSyncTolerance(DWORD* windowMs) override;

  private:
    enum class State { kIdle, kReady, kWriting, kFailed };

    Writer() = default;
    // Abandons an unfinished file.
    ~Writer() override;

    // Encodes whole frames from `bytes`, keeping a trailing partial frame in
    // pending_. Locked by the caller.
    HRESULT Feed(const BYTE* bytes, size_t count);
    HRESULT EncodeFrames(const BYTE* bytes, size_t frames);
    // Ends writing after an encoder failure; returns the failure.
    HRESULT Fail(HRESULT hr);
    wm::QWORD Duration() const;

    std::mutex mutex_;
    State state_ = State::kIdle;
    std::vector<uint8_t> format_;  // the profile's WAVEFORMATEX, a catalogue entry
    uint32_t rate_ = 0;
    uint16_t channels_ = 0;
    wm::ComPtr<FileSink> sink_;
    WmaFileEncoder encoder_;
    std::vector<BYTE> pending_;     // less than one PCM frame carried to the next sample
    std::vector<int16_t> scratch_;  // aligned copy of PCM on its way to the encoder
    HRESULT failure_ = S_OK;
    wm::QWORD writerTime_ = 0;
};

}  // namespace ffsdk
