// Entry points of the FFmpeg-backed Format SDK. Each factory hands out one
// reference to a new object.
#include "editor/editor.h"
#include "profile/profile_manager.h"
#include "reader/reader.h"
#include "wmsdk_factories.h"
#include "writer/file_sink.h"
#include "writer/writer.h"

extern "C" {
HRESULT WMCreateReaderPriv(wm::IWMReader** reader) {
    if (reader == nullptr) return E_POINTER;
    *reader = ffsdk::Reader::Create();
    return *reader != nullptr ? S_OK : E_OUTOFMEMORY;
}
HRESULT WMCreateWriterPriv(wm::IWMWriter** writer) {
    if (writer == nullptr) return E_POINTER;
    *writer = ffsdk::Writer::Create();
    return *writer != nullptr ? S_OK : E_OUTOFMEMORY;
}
HRESULT WMCreateProfileManager(wm::IWMProfileManager** manager) {
    if (manager == nullptr) return E_POINTER;
    *manager = ffsdk::ProfileManager::Create();
    return *manager != nullptr ? S_OK : E_OUTOFMEMORY;
}
HRESULT WMCreateEditor(wm::IWMMetadataEditor** editor) {
    if (editor == nullptr) return E_POINTER;
    *editor = ffsdk::Editor::Create();
    return *editor != nullptr ? S_OK : E_OUTOFMEMORY;
}
HRESULT WMCreateWriterFileSink(wm::IWMWriterFileSink** sink) {
    if (sink == nullptr) return E_POINTER;
    *sink = ffsdk::FileSink::Create();
    return *sink != nullptr ? S_OK : E_OUTOFMEMORY;
}
}
