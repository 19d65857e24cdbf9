// SPDX-License-Identifier: MIT
// Reading a media type from the SDK: a size query, a heap buffer of that size,
// and a second call that fills it.
#pragma once

#include "heap_buffer.h"
#include "wave_format.h"
#include "wmsdk.h"

namespace mervane {

// Reads the media type of `props` into `buffer` (replacing what it held).
// Fails with the SDK's result, or E_OUTOFMEMORY when the buffer cannot be had.
HRESULT ReadMediaType(wm::IWMMediaProps* props, HeapBuffer& buffer);

// Decodes the WAVEFORMATEX a media type read by ReadMediaType carries; false
// when the type is not a WAVEFORMATEX one: a foreign format type, a type shorter
// than its header, or a format block that is too short or does not lie inside
// the buffer.
bool WaveFormatOf(const HeapBuffer& buffer, wm::WaveFormat* wave);

}  // namespace mervane
