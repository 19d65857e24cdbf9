// SPDX-License-Identifier: MIT
// The metadata editor WMCreateEditor hands out: IWMMetadataEditor and
// IWMHeaderInfo over the header of one ASF file.
//
// Open reads and parses the file's header and lets go of the file again; the
// attribute calls then work on that parsed copy. Flush writes the copy back
// (asf::Header::WriteFile: over the old header in place through a journal when
// it fits there, else a new file in the same folder renamed over the original;
// either way a crash leaves the old or the new header whole) and leaves the
// editor open. Close
// drops the copy without touching the file. The attribute calls, Flush and
// Close fail with NS_E_INVALID_REQUEST while no file is open, as does a second
// Open.
//
// Open's failures:
//   E_POINTER                  no path
//   E_INVALIDARG               an empty path
//   NS_E_FILE_NOT_FOUND        nothing at the path (or a folder on it is missing)
//   NS_E_FILE_OPEN_FAILED      not a regular file (a folder, say), or not readable
//   NS_E_INVALID_INPUT_FORMAT  not an ASF file, or its header is damaged or cut short
// Flush fails with the write's own result when the file could not be written
// (NS_E_FILE_WRITE, or the file system's reason); the edits are then still
// held.
// Markers and scripts are not supported (E_NOTIMPL, see asf/header_info.h).
#pragma once

#include <mutex>
#include <string>

#include "asf/header_info.h"
#include "com_object.h"
#include "wmsdk.h"

namespace ffsdk {

class Editor final : public wm::ComObject<wm::IWMMetadataEditor, HeaderInfo> {
  public:
    // One reference, owned by the caller; null when out of memory.
    static Editor* Create();

    // IWMMetadataEditor
    HRESULT STDMETHODCALLTYPE Open(const WCHAR* filename) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE Flush() override;

  private:
    Editor() = default;
    ~Editor() override = default;

    HRESULT WithHeader(const HeaderUse& use) override;

    std::mutex mutex_;  // guards everything below
    bool open_ = false;
    std::string path_;  // UTF-8
    asf::Header header_;
};

}  // namespace ffsdk
