#include "wide_text.h"

#include <cstring>

namespace mervane {

void ToWide(const char* text, WCHAR* dst, int capacity) {
    const size_t length = std::strlen(text);
    int written = 0;
    // An empty source is not a conversion error, just an empty string; Windows
    // would reject a zero source length, so it is not asked.
    if (length > 0 && length <= 0x7FFFFFFF)
        written = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), dst, capacity);
    if (written >= capacity) written = 0;
    dst[written] = 0;
}

}  // namespace mervane
