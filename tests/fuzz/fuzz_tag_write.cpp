// SPDX-License-Identifier: MIT
// SetWmaSongInfo on any bytes: never a crash; a write reported as done reads
// back as written and leaves the format alone; nothing is left beside the file.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "mervane.h"

namespace {

void Put(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), text.size() < size ? text.size() : size - 1);
}

// Three tag sets: plain, empty, and every field full with non-ASCII text.
SongInfo Tags(size_t variant) {
    SongInfo info;
    std::memset(&info, 0, sizeof info);
    if (variant == 1) return info;
    if (variant == 0) {
        Put(info.title, sizeof info.title, "Fuzzed title");
        Put(info.author, sizeof info.author, "Someone");
        Put(info.album, sizeof info.album, "Album");
        Put(info.year, sizeof info.year, "1999");
        Put(info.track, sizeof info.track, "7");
        Put(info.genreId, sizeof info.genreId, "12");
        return info;
    }
    std::string wide;
    for (int i = 0; i < 127; ++i) wide += "\xC3\xA9";  // e-acute, 2 bytes each
    Put(info.title, sizeof info.title, wide + "T");
    Put(info.author, sizeof info.author, wide + "A");
    Put(info.album, sizeof info.album, wide + "B");
    Put(info.year, sizeof info.year,
        "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9Y");
    Put(info.track, sizeof info.track, "0000000000000000001");
    Put(info.genreId, sizeof info.genreId, "4294967296");
    return info;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = fuzz::WriteScratch(data, size);
    AudioFormatInfo formatBefore;
    std::memset(&formatBefore, 0, sizeof formatBefore);
    const int32_t hadFormat = GetWmaFileInfo(path, &formatBefore);

    const SongInfo tags = Tags(size % 3);
    const int32_t written = SetWmaSongInfo(path, &tags);
    if (fuzz::ScratchHasStrays()) fuzz::Fail("a tag write left a file beside the target");
    if (written != 1) return 0;

    SongInfo back;
    std::memset(&back, 0, sizeof back);
    if (GetWmaSongInfo(path, &back) != 1) fuzz::Fail("tags written but the file cannot be read");
    if (std::strcmp(back.title, tags.title) != 0 || std::strcmp(back.author, tags.author) != 0 ||
        std::strcmp(back.album, tags.album) != 0 || std::strcmp(back.year, tags.year) != 0 ||
        std::strcmp(back.track, tags.track) != 0 || std::strcmp(back.genreId, tags.genreId) != 0)
        fuzz::Fail("tags read back differ from the tags written");

    AudioFormatInfo formatAfter;
    std::memset(&formatAfter, 0, sizeof formatAfter);
    const int32_t hasFormat = GetWmaFileInfo(path, &formatAfter);
    if (hadFormat == 1 && (hasFormat != 1 || formatAfter.sampleRate != formatBefore.sampleRate ||
                           formatAfter.channels != formatBefore.channels ||
                           formatAfter.durationMs != formatBefore.durationMs))
        fuzz::Fail("a tag write changed the file's format");
    return 0;
}
