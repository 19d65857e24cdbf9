// SPDX-License-Identifier: MIT
// Decoding to the host, from start to end. GoGoGoReader claims the reader side,
// reserves the pool thread that will end the decode, opens the file and starts
// the reader; the PCM then flows through ReaderCallback on the SDK's threads.
// The end (a status that ends the stream, or the reader's silence) is ended on
// that pool thread: the reader closed and released, then the one end call.
// CancelReader asks a running decode to stop.
#include <utility>

#include "audio_output.h"
#include "export_guard.h"
#include "mervane.h"
#include "open_handshake.h"
#include "reader_callback.h"

namespace {

using mervane::ReaderState;
using wm::ComPtr;

ReaderState& State() {
    return mervane::TheReaderCallback().State();
}

// ---- The end ------------------------------------------------------------------------------

// Closes the reader of a decode that ended and releases it, then makes the
// end call; on the pool thread, never on the reader's own.
void FinishDecode(ReaderState& state) {
    ComPtr<wm::IWMReader> reader;
    ComPtr<wm::IWMReaderAdvanced> advanced;
    state.TakeEnding(reader, advanced);
    // The teardown order of the end of a stream: Close, the advanced reader,
    // the reader, then the end call.
    if (reader) reader->Close();
    advanced.Reset();
    reader.Reset();
    const SampleCallback callback = state.sampleCallback.load();
    // The host may start its next decode from inside the end call.
    state.decoding.store(false);
    if (callback != nullptr) callback(nullptr, 0, 0);
}

// The reserved pool thread: waits from the start on for the decode's end.
void WatchAndFinish(void*) {
    ReaderState& state = State();
    switch (state.watch.Wait()) {
        case mervane::DecodeWatch::Outcome::kDismissed:
            return;
        case mervane::DecodeWatch::Outcome::kSilent:
            // The reader may still report its end while it is closed here:
            // that status finds the slot empty.
            state.TakeForEnd();
            break;
        case mervane::DecodeWatch::Outcome::kEnded:
            break;
    }
    FinishDecode(state);
}

// ---- The start ----------------------------------------------------------------------------

// Claims the reader side; fails while another decode holds it.
HRESULT ClaimReaderSide(ReaderState& state) {
    bool idle = false;
    return state.decoding.compare_exchange_strong(idle, true) ? S_OK : wm::NS_E_INVALID_REQUEST;
}

// Reserves the pool thread that will end the decode.
HRESULT ReserveEnd(ReaderState& state) {
    if (!state.watch.Valid()) return E_FAIL;
    state.watch.Arm();
    return state.endWork.Reserve(&WatchAndFinish, nullptr);
}

// The reader enters its slot once it is open; a failed one never does.
HRESULT OpenIntoSlot(ReaderState& state, const char* path) {
    ComPtr<wm::IWMReader> reader;
    const HRESULT hr = mervane::OpenAndWait(
        path, state.pathBuffer, mervane::TheReaderCallback().Primary(), state.open, reader);
    if (SUCCEEDED(hr)) state.SetReader(std::move(reader));
    return hr;
}

HRESULT StartReader(ReaderState& state, uint32_t startMs, bool userClock) {
    // The end of the file may release the slot's reference while Start is still
    // returning; this call keeps its own.
    ComPtr<wm::IWMReader> reader = state.ShareReader();
    if (!reader) return E_UNEXPECTED;
    // The host receives the audio file information describes, output 0, or
    // nothing: a file whose output 0 is video is refused, as its query is.
    HRESULT hr = mervane::CheckOutputZeroIsAudio(reader.Get());
    if (FAILED(hr)) return hr;

    ComPtr<wm::IWMReaderAdvanced> advanced;
    hr = reader.As(advanced);
    if (FAILED(hr)) return hr;
    mervane::SwitchOffOtherStreams(reader.Get(), advanced.Get());
    if (userClock) {
        hr = advanced->SetUserProvidedClock(TRUE);
        if (FAILED(hr)) return hr;
    }
    const uint64_t start = static_cast<uint64_t>(startMs) * wm::kUnitsPerMs;
    state.StartClock(ComPtr<wm::IWMReaderAdvanced>::CopyFrom(advanced.Get()), start);
    return reader->Start(start, 0, 1.0f, nullptr);
}

// Holds the claimed reader side until the decode has started; a decode that
// fails before, however it fails (an exception included), closes its reader
// (nothing was started, so no status will come to end it) and gives back the
// slots, the end's reservation and the claim.
class StartingDecode {
  public:
    explicit StartingDecode(ReaderState& state) : state_(state) {}
    ~StartingDecode() {
        if (started_) return;
        ComPtr<wm::IWMReader> reader;
        ComPtr<wm::IWMReaderAdvanced> advanced;
        state_.TakeReaders(reader, advanced);
        if (reader) reader->Close();
        state_.ReleaseDecode();
    }
    StartingDecode(const StartingDecode&) = delete;
    StartingDecode& operator=(const StartingDecode&) = delete;

    // What the end of the decode needs is had before it starts, or it does not
    // start; once started, the reserved thread watches it to its end.
    HRESULT Start(const char* path, uint32_t startMs, bool userClock) {
        HRESULT hr = ReserveEnd(state_);
        if (FAILED(hr)) return hr;
        hr = OpenIntoSlot(state_, path);
        if (FAILED(hr)) return hr;
        hr = StartReader(state_, startMs, userClock);
        if (FAILED(hr)) return hr;
        started_ = true;
        state_.watch.Begin();
        state_.endWork.Submit();
        return S_OK;
    }

  private:
    ReaderState& state_;
    bool started_ = false;
};

HRESULT Decode(const char* path, uint32_t startMs, int32_t userClock, SampleCallback callback) {
    if (path == nullptr || callback == nullptr) return E_INVALIDARG;
    ReaderState& state = State();
    // A decode that runs keeps its reader, its callback and its one end call.
    const HRESULT hr = ClaimReaderSide(state);
    if (FAILED(hr)) return hr;
    StartingDecode starting(state);
    // Stored before the open: a call that fails later leaves it in place.
    state.sampleCallback.store(callback);
    return starting.Start(path, startMs, userClock != 0);
}

HRESULT Cancel() {
    // Taken under the slot lock: the end of the file may empty the slot and
    // release its reference at any moment, but not this one.
    ComPtr<wm::IWMReader> reader = State().ShareReader();
    if (!reader) return E_UNEXPECTED;
    // The teardown and the end call follow when the reader reports the stop.
    return reader->Stop();
}

}  // namespace

extern "C" MERVANE_API int32_t MERVANE_CALL GoGoGoReader(const char* path, uint32_t startMs,
                                                         int32_t userClock,
                                                         SampleCallback callback) {
    return mervane::GuardExport(
        0, [&] { return SUCCEEDED(Decode(path, startMs, userClock, callback)) ? 1 : 0; });
}

extern "C" MERVANE_API int32_t MERVANE_CALL CancelReader(void) {
    return mervane::GuardExport(0, [] { return SUCCEEDED(Cancel()) ? 1 : 0; });
}
