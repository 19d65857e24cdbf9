// SPDX-License-Identifier: MIT
#include "media_type.h"

namespace mervane {

HRESULT ReadMediaType(wm::IWMMediaProps* props, HeapBuffer& buffer, wm::MediaTypeView* type) {
    buffer = HeapBuffer();
    return wm::ReadMediaType(
        props,
        [&](DWORD size) {
            buffer = HeapBuffer(size);
            return buffer.as<wm::WM_MEDIA_TYPE>();
        },
        type, E_FAIL);
}

}  // namespace mervane
