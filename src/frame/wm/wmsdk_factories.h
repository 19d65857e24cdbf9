// SPDX-License-Identifier: MIT
// The Format SDK's object factories. On Windows they come from WMVCore.DLL; on
// Linux from the FFmpeg-backed stand-in (or from the unit tests' fakes).
#pragma once

#include "wmsdk.h"

extern "C" {
HRESULT STDMETHODCALLTYPE WMCreateReaderPriv(wm::IWMReader** reader);
HRESULT STDMETHODCALLTYPE WMCreateWriterPriv(wm::IWMWriter** writer);
HRESULT STDMETHODCALLTYPE WMCreateProfileManager(wm::IWMProfileManager** manager);
HRESULT STDMETHODCALLTYPE WMCreateEditor(wm::IWMMetadataEditor** editor);
HRESULT STDMETHODCALLTYPE WMCreateWriterFileSink(wm::IWMWriterFileSink** sink);
}
