// SPDX-License-Identifier: MIT
// The writer's file sink: IWMWriterFileSink2, also answering for
// IWMWriterSink and IWMWriterFileSink. It records the path the file goes to;
// the writer it is attached to does the encoding and the file work, and tells
// the sink when writing starts and ends.
//
// States: new -> opened (Open) -> writing (the writer's BeginWriting) ->
// finished (EndWriting, successful or not) -> closed (Close). Open may be
// called again on an opened, finished or closed sink to choose another file.
#pragma once

#include <mutex>
#include <string>

#include "com_object.h"
#include "wmsdk.h"

namespace ffsdk {

// Answered only by our own file sink, so that a writer can tell it apart
// from any other IWMWriterSink: {6B3F0C52-8E0A-4C3B-9D5E-3A4F1B2C7D61}.
inline constexpr IID kIidFileSinkImpl = {
    0x6B3F0C52, 0x8E0A, 0x4C3B, {0x9D, 0x5E, 0x3A, 0x4F, 0x1B, 0x2C, 0x7D, 0x61}};

class FileSink final : public wm::ComObject<wm::IWMWriterFileSink2> {
  public:
    // Null when out of memory.
    static FileSink* Create();
    // Our sink behind any interface pointer, with one added reference; null
    // (and no reference) for anything else.
    static FileSink* From(IUnknown* unknown);

    // IWMWriterSink: the writer does not push ASF units to its sink.
    HRESULT STDMETHODCALLTYPE OnHeader(wm::INSSBuffer* header) override;
    HRESULT STDMETHODCALLTYPE IsRealTime(BOOL* realTime) override;
    HRESULT STDMETHODCALLTYPE AllocateDataUnit(DWORD size, wm::INSSBuffer** dataUnit) override;
    HRESULT STDMETHODCALLTYPE OnDataUnit(wm::INSSBuffer* dataUnit) override;
    HRESULT STDMETHODCALLTYPE OnEndWriting() override;
    // IWMWriterFileSink
    HRESULT STDMETHODCALLTYPE Open(const WCHAR* filename) override;
    // IWMWriterFileSink2
    HRESULT STDMETHODCALLTYPE Start(wm::QWORD startTime) override;
    HRESULT STDMETHODCALLTYPE Stop(wm::QWORD stopTime) override;
    HRESULT STDMETHODCALLTYPE IsStopped(BOOL* stopped) override;
    // 100 ns units; the duration of the PCM written, once writing has ended.
    HRESULT STDMETHODCALLTYPE GetFileDuration(wm::QWORD* duration) override;
    HRESULT STDMETHODCALLTYPE GetFileSize(wm::QWORD* size) override;
    // Fails while the writer is still writing to the file.
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE IsClosed(BOOL* closed) override;

    // For the writer. BeginFile hands out the path to write to and marks the
    // sink busy; it fails unless the sink is opened or finished with a path.
    HRESULT BeginFile(std::string* path);
    // Writing has ended; `duration` in 100 ns units.
    void EndFile(wm::QWORD duration);

  protected:
    bool QueryBase(REFIID iid, void** out) override;

  private:
    enum class State { kNew, kOpened, kWriting, kFinished, kClosed };

    FileSink() = default;
    ~FileSink() override = default;

    std::mutex mutex_;
    State state_ = State::kNew;
    std::string path_;
    wm::QWORD duration_ = 0;
};

}  // namespace ffsdk
