// SPDX-License-Identifier: MIT
// Encoding host PCM into a new file: the writer side's process-wide slots.
#pragma once

#include "com_ptr.h"
#include "staged_file.h"
#include "wmsdk.h"

namespace mervane {

struct WriterState {
    wm::ComPtr<wm::IWMWriter> writer;
    wm::ComPtr<wm::IWMWriterAdvanced> advancedWriter;
    wm::ComPtr<wm::IWMWriterFileSink> fileSink;
    wm::ComPtr<wm::IWMWriterFileSink2> fileSink2;
    wm::ComPtr<wm::IWMProfile> profile;
    wm::QWORD sampleTime = 0;  // 100 ns units: the time stamp of the next block
    DWORD bytesPerSecond = 0;  // PCM byte rate: rate x channels x 2
    // The new file, put in the destination's place when the encode succeeds.
    StagedFile output;
    HRESULT failure = S_OK;  // the first failed WriteWMAFile of this encode

    // Releases the writer, the advanced writer, the file sink, the file sink 2
    // and the profile, in that order, empties every slot and removes a new
    // file not put in place.
    void Clear();
};

// The one writer side of the process. It is never destroyed: at unload the SDK
// may already be gone, so nothing is released then.
WriterState& TheWriterState();

// The playing time of `length` PCM bytes at `bytesPerSecond`, in 100 ns units,
// rounded to the nearest unit with halves away from zero. 0 when the byte rate
// is 0.
int64_t BlockDuration(DWORD length, DWORD bytesPerSecond);

}  // namespace mervane
