// SPDX-License-Identifier: MIT
#include "version.h"

#include <link.h>
#include <sndfile.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli.h"

extern "C" {
#include <libavutil/avutil.h>
}

namespace tool {
namespace {

const char kLibraryName[] = "libmervane.so.";

int FindLibrary(struct dl_phdr_info* info, size_t, void* found) {
    const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
    if (name.find(kLibraryName) == std::string::npos &&
        name.find("libmervane.so") == std::string::npos)
        return 0;
    *static_cast<std::string*>(found) = name;
    return 1;
}

// The library has no export that says its version; its file name does: the
// loader found libmervane.so.0, a link to libmervane.so.MAJOR.MINOR.PATCH.
std::string LibraryVersion() {
    std::string loaded;
    dl_iterate_phdr(FindLibrary, &loaded);
    if (loaded.empty()) return "unknown (not found among the loaded libraries)";
    char real[PATH_MAX];
    const std::string file = realpath(loaded.c_str(), real) != nullptr ? real : loaded;
    const size_t at = file.rfind(kLibraryName);
    if (at == std::string::npos) return "unknown (" + file + ")";
    const std::string version = file.substr(at + sizeof kLibraryName - 1);
    return version.find('.') == std::string::npos ? "unknown (" + file + ")" : version;
}

}  // namespace

int Version() {
    std::printf("mervane %s\n", MERVANE_TOOL_VERSION);
    std::printf("libmervane %s\n", LibraryVersion().c_str());
    std::printf("FFmpeg %s (libavutil %u.%u.%u)\n", av_version_info(),
                AV_VERSION_MAJOR(avutil_version()), AV_VERSION_MINOR(avutil_version()),
                AV_VERSION_MICRO(avutil_version()));
    std::printf("%s\n", sf_version_string());
    return kOk;
}

}  // namespace tool
