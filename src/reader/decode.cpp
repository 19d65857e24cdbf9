// SPDX-License-Identifier: MIT
// Decoding to the host: GoGoGoReader opens a file and starts the reader; the
// PCM then flows through ReaderCallback on the SDK's threads until the end call.
// CancelReader asks a running decode to stop.
#include "audio_output.h"
#include "export_guard.h"
#include "mervane.h"
#include "reader_callback.h"

namespace {

using mervane::ReaderCallback;
using wm::ComPtr;

// Undoes a decode that failed before it started: nothing was started, so no
// status will come to end it; the reader is closed (on the host's thread) and
// both slots emptied.
void AbandonDecode(ReaderCallback& callback) {
    ComPtr<wm::IWMReader> reader;
    ComPtr<wm::IWMReaderAdvanced> advanced;
    callback.TakeReaders(reader, advanced);
    if (reader) reader->Close();
}

bool StartDecode(uint32_t startMs, bool userClock) {
    ReaderCallback& callback = mervane::TheReaderCallback();
    // The end of the file may release the slot's reference while Start is still
    // returning; this call keeps its own.
    ComPtr<wm::IWMReader> reader = callback.ShareReader();
    if (!reader) return false;
    // The host receives the audio file information describes, output 0, or
    // nothing: a file whose output 0 is video is refused, as its query is.
    if (!mervane::OutputZeroIsAudio(reader.Get())) return false;

    ComPtr<wm::IWMReaderAdvanced> advanced;
    if (FAILED(reader.As(advanced))) return false;
    mervane::SwitchOffOtherStreams(reader.Get(), advanced.Get());
    if (userClock && FAILED(advanced->SetUserProvidedClock(TRUE))) return false;

    const uint64_t start = static_cast<uint64_t>(startMs) * wm::kUnitsPerMs;
    callback.BeginDecode(ComPtr<wm::IWMReaderAdvanced>::CopyFrom(advanced.Get()), start);
    return SUCCEEDED(reader->Start(start, 0, 1.0f, nullptr));
}

// Holds the claimed reader side until the decode has started; a decode that
// fails before, however it fails (an exception included), gives back its
// reader, the end's reservation and the claim.
class StartingDecode {
  public:
    explicit StartingDecode(ReaderCallback& callback) : callback_(callback) {}
    ~StartingDecode() {
        if (started_) return;
        AbandonDecode(callback_);
        callback_.ReleaseDecode();
    }
    StartingDecode(const StartingDecode&) = delete;
    StartingDecode& operator=(const StartingDecode&) = delete;
    void Started() { started_ = true; }

  private:
    ReaderCallback& callback_;
    bool started_ = false;
};

int32_t Decode(const char* path, uint32_t startMs, int32_t userClock, SampleCallback callback) {
    if (path == nullptr || callback == nullptr) return 0;
    ReaderCallback& readerCallback = mervane::TheReaderCallback();
    // A decode that runs keeps its reader, its callback and its one end call.
    if (!readerCallback.ClaimDecode()) return 0;
    StartingDecode starting(readerCallback);
    // Stored first: a call that fails later leaves it in place.
    readerCallback.SetSampleCallback(callback);
    // What the end of the decode needs is had before it starts, or it does
    // not start.
    if (!readerCallback.ReserveEnd() || FAILED(mervane::OpenAndWait(path)) ||
        !StartDecode(startMs, userClock != 0))
        return 0;
    starting.Started();
    readerCallback.WatchDecode();
    return 1;
}

int32_t Cancel() {
    // Taken under the slot lock: the end of the file may empty the slot and
    // release its reference at any moment, but not this one.
    ComPtr<wm::IWMReader> reader = mervane::TheReaderCallback().ShareReader();
    if (!reader) return 0;
    // The teardown and the end call follow when the reader reports the stop.
    return SUCCEEDED(reader->Stop()) ? 1 : 0;
}

}  // namespace

extern "C" MERVANE_API int32_t MERVANE_CALL GoGoGoReader(const char* path, uint32_t startMs,
                                                         int32_t userClock,
                                                         SampleCallback callback) {
    return mervane::GuardExport(0, [&] { return Decode(path, startMs, userClock, callback); });
}

extern "C" MERVANE_API int32_t MERVANE_CALL CancelReader(void) {
    return mervane::GuardExport(0, [] { return Cancel(); });
}
