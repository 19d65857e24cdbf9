// SPDX-License-Identifier: MIT
// Maps an SDK interface type to its IID, so that generic code (ComPtr queries,
// QueryInterface tables) names the interface once.
#pragma once

#include "wmsdk.h"

namespace wm {

template <typename T>
struct IidOf;

#define WM_IID_OF(Interface)                                 \
    template <>                                              \
    struct IidOf<Interface> {                                \
        static constexpr const IID& value = IID_##Interface; \
    }

WM_IID_OF(IWMStatusCallback);
WM_IID_OF(IWMReaderCallback);
WM_IID_OF(IWMReaderCallbackAdvanced);
WM_IID_OF(IWMReader);
WM_IID_OF(IWMReaderAdvanced);
WM_IID_OF(IWMHeaderInfo);
WM_IID_OF(IWMMetadataEditor);
WM_IID_OF(IWMProfileManager);
WM_IID_OF(IWMProfile);
WM_IID_OF(IWMStreamConfig);
WM_IID_OF(IWMMediaProps);
WM_IID_OF(IWMOutputMediaProps);
WM_IID_OF(IWMInputMediaProps);
WM_IID_OF(IWMCodecInfo);
WM_IID_OF(IWMWriter);
WM_IID_OF(IWMWriterAdvanced);
WM_IID_OF(IWMWriterSink);
WM_IID_OF(IWMWriterFileSink);
WM_IID_OF(IWMWriterFileSink2);
WM_IID_OF(INSSBuffer);

#undef WM_IID_OF

}  // namespace wm
