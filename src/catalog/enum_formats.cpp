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
    // type buffer, the codec info, the configuration, the media properties, and
    // the profile manager.
    ComPtr<wm::IWMProfileManager> manager;
    ComPtr<wm::IWMMediaProps> props;
    ComPtr<wm::IWMStreamConfig> config;
    ComPtr<wm::IWMCodecInfo> codecInfo;
    HeapBuffer mediaType;

    if (FAILED(WMCreateProfileManager(manager.Put()))) return;
    if (FAILED(manager.As(codecInfo))) return;
    DWORD codecCount = 0;
    if (FAILED(codecInfo->GetCodecInfoCount(wm::WMMEDIATYPE_Audio, &codecCount))) return;

    for (DWORD codec = 0; codec < codecCount; ++codec) {
        DWORD formatCount = 0;
        if (FAILED(codecInfo->GetCodecFormatCount(wm::WMMEDIATYPE_Audio, codec, &formatCount)))
            return;
        for (DWORD format = 0; format < formatCount; ++format) {
            mediaType = HeapBuffer();
            if (FAILED(
                    codecInfo->GetCodecFormat(wm::WMMEDIATYPE_Audio, codec, format, config.Put())))
                return;
            props.Reset();
            if (FAILED(config.As(props))) return;
            config.Reset();

            if (FAILED(mervane::ReadMediaType(props.Get(), mediaType))) return;
            wm::WaveFormat wave;
            if (!mervane::WaveFormatOf(mediaType, &wave)) return;
            callback(wave.avgBytesPerSec * 8, wave.channels, wave.samplesPerSec);
        }
    }
}

}  // namespace

extern "C" MERVANE_API void MERVANE_CALL EnumWMAFormat(FormatCallback callback) {
    mervane::GuardExport([&] {
        if (callback != nullptr) ReportFormats(callback);
    });
}
