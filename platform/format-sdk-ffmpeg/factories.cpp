// Entry points of the FFmpeg-backed Format SDK. Each factory hands out one
// reference to a new object.
#include "wmsdk_factories.h"

extern "C" {
HRESULT WMCreateReaderPriv(wm::IWMReader** reader) {
    if (reader == nullptr) return E_POINTER;
    *reader = nullptr;
    return E_NOTIMPL;
}
HRESULT WMCreateWriterPriv(wm::IWMWriter** writer) {
    if (writer == nullptr) return E_POINTER;
    *writer = nullptr;
    return E_NOTIMPL;
}
HRESULT WMCreateProfileManager(wm::IWMProfileManager** manager) {
    if (manager == nullptr) return E_POINTER;
    *manager = nullptr;
    return E_NOTIMPL;
}
HRESULT WMCreateEditor(wm::IWMMetadataEditor** editor) {
    if (editor == nullptr) return E_POINTER;
    *editor = nullptr;
    return E_NOTIMPL;
}
HRESULT WMCreateWriterFileSink(wm::IWMWriterFileSink** sink) {
    if (sink == nullptr) return E_POINTER;
    *sink = nullptr;
    return E_NOTIMPL;
}
}
