// SPDX-License-Identifier: MIT
// Entry points of the FFmpeg-backed Format SDK. Each factory hands out one
// reference to a new object.
#include "editor/editor.h"
#include "profile/profile_manager.h"
#include "reader/reader.h"
#include "wmsdk_factories.h"
#include "writer/file_sink.h"
#include "writer/writer.h"

namespace {

// Hands out one reference to a new Object through `out`.
template <typename Object, typename Iface>
HRESULT CreateInto(Iface** out) {
    if (out == nullptr) return E_POINTER;
    *out = Object::Create();
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

extern "C" {
HRESULT WMCreateReaderPriv(wm::IWMReader** reader) {
    return CreateInto<ffsdk::Reader>(reader);
}
HRESULT WMCreateWriterPriv(wm::IWMWriter** writer) {
    return CreateInto<ffsdk::Writer>(writer);
}
HRESULT WMCreateProfileManager(wm::IWMProfileManager** manager) {
    return CreateInto<ffsdk::ProfileManager>(manager);
}
HRESULT WMCreateEditor(wm::IWMMetadataEditor** editor) {
    return CreateInto<ffsdk::Editor>(editor);
}
HRESULT WMCreateWriterFileSink(wm::IWMWriterFileSink** sink) {
    return CreateInto<ffsdk::FileSink>(sink);
}
}
