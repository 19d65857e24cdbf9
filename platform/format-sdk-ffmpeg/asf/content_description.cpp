#include "asf/content_description.h"

#include "asf/object_io.h"

namespace asf {

bool ContentDescription::parse(const uint8_t* body, size_t n) {
    if (n < 10) return false;
    size_t total = 0;
    size_t lengths[5];
    for (size_t i = 0; i < 5; ++i) {
        lengths[i] = ReadLe16(body + 2 * i);
        total += lengths[i];
    }
    if (total > n - 10) return false;
    const uint8_t* s = body + 10;
    for (size_t i = 0; i < 5; ++i) {
        fields[i].assign(s, s + lengths[i]);
        s += lengths[i];
    }
    present = true;
    return true;
}

uint64_t ContentDescription::size() const {
    uint64_t n = kObjectHeaderSize + 10;
    for (const auto& f : fields) n += f.size();
    return n;
}

void ContentDescription::encode(std::vector<uint8_t>* out) const {
    const size_t start = BeginObject(out, kContentDescGuid);
    for (const auto& f : fields) AppendLe16(out, static_cast<uint32_t>(f.size()));
    for (const auto& f : fields) AppendBytes(out, f);
    EndObject(out, start);
}

}  // namespace asf
