// SPDX-License-Identifier: MIT
// A one-stream audio profile built at run time from the codec formats the
// platform offers.
#pragma once

#include "wmsdk.h"

namespace mervane {

// What the encoder asks for.
struct AudioRequest {
    DWORD bitrate;  // bit/s
    DWORD formatTag;
    DWORD sampleRate;  // Hz
    DWORD channels;
};

// A format's bitrate matches the request when it is within this many bit/s.
constexpr int kBitrateTolerance = 249;

// Builds the "Custom Profile" with one audio stream for `request`. On success
// `*profile` holds one reference the caller owns; on failure it is null.
HRESULT BuildAudioProfile(const AudioRequest* request, wm::IWMProfile** profile);

// Searches every format of every audio codec of `manager` for the best match to
// `request` and adds it to `profile` as stream 1.
HRESULT FindAudioFormat(const AudioRequest& request, wm::IWMProfile* profile,
                        wm::IWMProfileManager* manager);

// Sets up a stream configuration, stopping at the first failure.
HRESULT ConfigureStream(wm::IWMStreamConfig* config, WORD streamNumber, const WCHAR* streamName,
                        const WCHAR* connectionName, DWORD bitrate, wm::WM_MEDIA_TYPE* mediaType);

}  // namespace mervane
