// IWMHeaderInfo's attribute calls over a parsed ASF header, shared by the
// reader and the metadata editor. Only stream 0 (file level) has attributes.
// Length conventions as the platform's: names in WCHARs including the
// terminator, values in bytes; a call without buffers reports both lengths; an
// absent attribute is ASF_E_NOTFOUND with length 0; a buffer that is too small
// fails and reports the length needed.
#pragma once

#include "asf/asf_header.h"
#include "wmsdk.h"

namespace ffsdk {

HRESULT HeaderGetAttributeCount(const asf::Header& header, WORD stream, WORD* count);
HRESULT HeaderGetAttributeByIndex(const asf::Header& header, WORD index, WORD* stream, WCHAR* name,
                                  WORD* nameLength, wm::WMT_ATTR_DATATYPE* type, BYTE* value,
                                  WORD* valueLength);
HRESULT HeaderGetAttributeByName(const asf::Header& header, WORD* stream, const WCHAR* name,
                                 wm::WMT_ATTR_DATATYPE* type, BYTE* value, WORD* valueLength);
HRESULT HeaderSetAttribute(asf::Header& header, WORD stream, const WCHAR* name,
                           wm::WMT_ATTR_DATATYPE type, const BYTE* value, WORD valueLength);

}  // namespace ffsdk
