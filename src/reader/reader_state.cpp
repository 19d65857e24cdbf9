// SPDX-License-Identifier: MIT
#include "reader_state.h"

#include <utility>

namespace mervane {

void ReaderState::SetReader(wm::ComPtr<wm::IWMReader> opened) {
    {
        SlotGuard guard(lock);
        std::swap(reader, opened);
    }
    // `opened` now holds the replaced one, released here outside the lock.
}

wm::ComPtr<wm::IWMReader> ReaderState::ShareReader() {
    SlotGuard guard(lock);
    return wm::ComPtr<wm::IWMReader>::CopyFrom(reader.Get());
}

void ReaderState::TakeReaders(wm::ComPtr<wm::IWMReader>& taken,
                              wm::ComPtr<wm::IWMReaderAdvanced>& advanced) {
    // The caller's holders are expected empty: nothing is released under the lock.
    SlotGuard guard(lock);
    if (!reader) return;
    std::swap(taken, reader);
    std::swap(advanced, advancedReader);
}

void ReaderState::StartClock(wm::ComPtr<wm::IWMReaderAdvanced> advanced, uint64_t startTime) {
    {
        SlotGuard guard(lock);
        std::swap(advancedReader, advanced);
        clockTime = startTime;
    }
}

void ReaderState::AdvanceClock() {
    uint64_t time = 0;
    wm::ComPtr<wm::IWMReaderAdvanced> advanced;
    {
        SlotGuard guard(lock);
        clockTime += wm::kUnitsPerSecond;
        time = clockTime;
        advanced = wm::ComPtr<wm::IWMReaderAdvanced>::CopyFrom(advancedReader.Get());
    }
    // After the end of the decode there is no reader left to drive.
    if (advanced) advanced->DeliverTime(time);
}

bool ReaderState::TakeForEnd() {
    SlotGuard guard(lock);
    if (!reader) return false;
    std::swap(endingReader, reader);
    std::swap(endingAdvancedReader, advancedReader);
    return true;
}

void ReaderState::TakeEnding(wm::ComPtr<wm::IWMReader>& taken,
                             wm::ComPtr<wm::IWMReaderAdvanced>& advanced) {
    SlotGuard guard(lock);
    std::swap(taken, endingReader);
    std::swap(advanced, endingAdvancedReader);
}

void ReaderState::ReleaseDecode() {
    endWork.Release();
    watch.Dismiss();
    decoding.store(false);
}

}  // namespace mervane
