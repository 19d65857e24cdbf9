// SPDX-License-Identifier: MIT
// One attribute as the platform's IWMHeaderInfo hands it out, with its type
// rules: reading a stored record's value, checking a value a caller sets, and
// the bytes each object stores. Types are the SDK's WMT_ATTR_DATATYPE; the
// file numbers them differently, and only this piece knows that numbering.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "wmsdk.h"

namespace asf {

// Value bytes as handed out: a string is UTF-16LE ending in a 0 character, a
// BOOL 4 bytes (widened from the 2 the Metadata objects store), the other
// fixed-length types their wm::FixedValueLength, little-endian.
class Attribute {
  public:
    // A stored record's value. One whose length does not fit its stored type,
    // or of a type the file format does not define, shows as BINARY with the
    // stored bytes, so callers can rely on the lengths above.
    static Attribute FromStored(std::u16string_view name, uint16_t storedType,
                                const std::vector<uint8_t>& bytes);
    // A number the header computes (Duration, Bitrate, ...).
    static Attribute Number(std::u16string_view name, wm::WMT_ATTR_DATATYPE type, uint64_t value);
    // A value a caller sets, which may omit a string's terminating 0 (one is
    // added). E_INVALIDARG for a type the SDK does not define or a length that
    // does not fit the type (wm::IsValueLength).
    static ffsdk::Result Make(std::u16string_view name, wm::WMT_ATTR_DATATYPE type,
                              const uint8_t* data, size_t len, Attribute* out);

    const std::u16string& name() const { return name_; }
    wm::WMT_ATTR_DATATYPE type() const { return type_; }
    const std::vector<uint8_t>& value() const { return value_; }

    // The type number the file stores.
    uint16_t storedType() const { return StoredType(type_); }
    static uint16_t StoredType(wm::WMT_ATTR_DATATYPE type);
    // The value as an object stores it: in the Metadata objects (`shortBool`)
    // a BOOL takes 2 bytes, holding 1 for any non-zero value.
    std::vector<uint8_t> StoredValue(bool shortBool) const;

  private:
    std::u16string name_;
    wm::WMT_ATTR_DATATYPE type_ = wm::WMT_TYPE_BINARY;
    std::vector<uint8_t> value_;
};

}  // namespace asf
