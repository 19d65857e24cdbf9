// SPDX-License-Identifier: MIT
// Lists every format of every audio codec the platform offers, in the platform's
// order, to the host's FormatCallback.
#include "com_ptr.h"
#include "export_guard.h"
#include "heap_buffer.h"
#include "media_type.h"
#include "mervane.h"
#include "wmsdk_factories.h"

namespace {

using mervane::HeapBuffer;
using wm::ComPtr;

void ReportFormats(FormatCallback callback) {
    // Declared so that the references go in this order at the end: the last media
    // type buffer, the codec info, the media properties, and the profile
    // manager.
    ComPtr<wm::IWMProfileManager> manager;
    ComPtr<wm::IWMMediaProps> props;
    ComPtr<wm::IWMCodecInfo> codecInfo;
    HeapBuffer mediaType;

    if (FAILED(WMCreateProfileManager(manager.Put()))) return;
    if (FAILED(manager.As(codecInfo))) return;
    // A failure ends the list where it is: the host has what came before.
    (void)mervane::ForEachAudioFormat(codecInfo.Get(), props, mediaType,
                                      [&](const wm::MediaTypeView&, const wm::WaveFormat& wave) {
                                          callback(wave.avgBytesPerSec * 8, wave.channels,
                                                   wave.samplesPerSec);
                                          return S_OK;
                                      });
}

}  // namespace

extern "C" MERVANE_API void MERVANE_CALL EnumWMAFormat(FormatCallback callback) {
    mervane::GuardExport([&] {
        if (callback != nullptr) ReportFormats(callback);
    });
}
