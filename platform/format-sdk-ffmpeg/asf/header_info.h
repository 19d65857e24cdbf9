// SPDX-License-Identifier: MIT
// IWMHeaderInfo over a parsed ASF header, the one implementation the reader
// and the metadata editor share: it lives with the header it shows, below
// both of them. Only stream 0 (file level) has attributes.
// Length conventions as the platform's: names in WCHARs including the
// terminator, values in bytes; a call without buffers reports both lengths; an
// absent attribute is ASF_E_NOTFOUND with length 0; a buffer that is too small
// fails and reports the length needed. Markers and scripts are not supported:
// those calls answer E_NOTIMPL, as unimplemented calls do across the stand-in.
#pragma once

#include <type_traits>

#include "asf/asf_header.h"
#include "iid_of.h"
#include "wmsdk.h"

namespace ffsdk {

// Listed in a ComObject's interfaces in place of wm::IWMHeaderInfo.
class HeaderInfo : public wm::IWMHeaderInfo {
  public:
    HRESULT STDMETHODCALLTYPE GetAttributeCount(WORD streamNum, WORD* attributes) final;
    HRESULT STDMETHODCALLTYPE GetAttributeByIndex(WORD index, WORD* streamNum, WCHAR* name,
                                                  WORD* nameLength, wm::WMT_ATTR_DATATYPE* type,
                                                  BYTE* value, WORD* valueLength) final;
    HRESULT STDMETHODCALLTYPE GetAttributeByName(WORD* streamNum, const WCHAR* name,
                                                 wm::WMT_ATTR_DATATYPE* type, BYTE* value,
                                                 WORD* valueLength) final;
    // Changes the owner's parsed copy; whether that reaches the file is the
    // owner's business (the editor's Flush).
    HRESULT STDMETHODCALLTYPE SetAttribute(WORD streamNum, const WCHAR* name,
                                           wm::WMT_ATTR_DATATYPE type, const BYTE* value,
                                           WORD valueLength) final;
    HRESULT STDMETHODCALLTYPE GetMarkerCount(WORD* markers) final;
    HRESULT STDMETHODCALLTYPE GetMarker(WORD index, WCHAR* markerName, WORD* markerNameLength,
                                        wm::QWORD* markerTime) final;
    HRESULT STDMETHODCALLTYPE AddMarker(const WCHAR* markerName, wm::QWORD markerTime) final;
    HRESULT STDMETHODCALLTYPE RemoveMarker(WORD index) final;
    HRESULT STDMETHODCALLTYPE GetScriptCount(WORD* scripts) final;
    HRESULT STDMETHODCALLTYPE GetScript(WORD index, WCHAR* type, WORD* typeLength, WCHAR* command,
                                        WORD* commandLength, wm::QWORD* scriptTime) final;
    HRESULT STDMETHODCALLTYPE AddScript(const WCHAR* type, const WCHAR* command,
                                        wm::QWORD scriptTime) final;
    HRESULT STDMETHODCALLTYPE RemoveScript(WORD index) final;

  protected:
    // What WithHeader runs: a reference to the caller's callable for the
    // length of the call, never a copy, so making one allocates nothing and
    // cannot throw.
    class HeaderUse {
      public:
        template <typename Use,
                  typename = std::enable_if_t<!std::is_same_v<std::decay_t<Use>, HeaderUse>>>
        HeaderUse(Use&& use) noexcept
            : target_(const_cast<void*>(static_cast<const void*>(&use))),
              call_([](void* target, asf::Header& header) -> HRESULT {
                  return (*static_cast<std::remove_reference_t<Use>*>(target))(header);
              }) {}
        HRESULT operator()(asf::Header& header) const { return call_(target_, header); }

      private:
        void* target_;
        HRESULT (*call_)(void*, asf::Header&);
    };
    // Runs `use` on the open file's header under the owner's lock and returns
    // its result; NS_E_INVALID_REQUEST while no file is open. It is the
    // calls' COM guard (Guarded): what `use` throws ends there.
    virtual HRESULT WithHeader(const HeaderUse& use) = 0;
    ~HeaderInfo() = default;
};

}  // namespace ffsdk

namespace wm {
template <>
struct IidOf<ffsdk::HeaderInfo> : IidOf<IWMHeaderInfo> {};
}  // namespace wm
