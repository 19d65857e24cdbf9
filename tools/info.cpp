// SPDX-License-Identifier: MIT
#include "info.h"

#include <cstdio>
#include <cstring>

#include "cli.h"
#include "json.h"
#include "mervane.h"
#include "protection.h"

namespace tool {

int Info(const std::string& path, bool json) {
    if (!IsReadableFile(path)) return Fail(kNoFile, "cannot read " + path);
    AudioFormatInfo info{};
    if (GetWmaFileInfo(path.c_str(), &info) != 1) return Unreadable(path);
    if (json) {
        std::fputs(JsonObject()
                       .Add("path", path)
                       .Add("formatKind", info.formatKind)
                       .Add("sampleRate", info.sampleRate)
                       .Add("channels", info.channels)
                       .Add("bitrateKbps", info.bitrateKbps)
                       .Add("durationMs", info.durationMs)
                       .Render()
                       .c_str(),
                   stdout);
        return kOk;
    }
    std::printf("sample rate: %u Hz\nchannels:    %u\nbitrate:     %u kbit/s\nduration:    %s s\n",
                info.sampleRate, info.channels, info.bitrateKbps, Seconds(info.durationMs).c_str());
    return kOk;
}

int Tags(const std::string& path, const std::map<std::string, std::string>& options, bool json) {
    if (!IsReadableFile(path)) return Fail(kNoFile, "cannot read " + path);
    SongInfo song;
    std::memset(&song, 0, sizeof song);
    if (GetWmaSongInfo(path.c_str(), &song) != 1)
        return Fail(kFailed, "cannot read the tags of " + path);
    struct Field {
        const char* option;
        const char* label;
        const char* member;  // the record's field name, for JSON
        char* text;
        size_t size;
    } fields[] = {
        {"title", "title", "title", song.title, sizeof song.title},
        {"author", "author", "author", song.author, sizeof song.author},
        {"album", "album", "album", song.album, sizeof song.album},
        {"year", "year", "year", song.year, sizeof song.year},
        {"track", "track", "track", song.track, sizeof song.track},
        {"genre", "genre id", "genreId", song.genreId, sizeof song.genreId},
    };
    bool changing = false;
    for (const auto& [name, value] : options) {
        bool known = false;
        for (Field& f : fields) {
            if (name != f.option) continue;
            known = true;
            if (value.size() >= f.size)
                return Fail(kUsage, std::string(f.option) + " is longer than " +
                                        std::to_string(f.size - 1) + " bytes");
            std::memset(f.text, 0, f.size);
            std::memcpy(f.text, value.data(), value.size());
            changing = true;
        }
        if (!known) return Fail(kUsage, "unknown option --" + name);
    }
    if (changing && SetWmaSongInfo(path.c_str(), &song) != 1)
        return Fail(kFailed, "cannot write the tags of " + path);
    if (json) {
        JsonObject object;
        object.Add("path", path);
        // Never read past a field, whatever the library left in it.
        for (const Field& f : fields)
            object.Add(f.member, std::string(f.text, strnlen(f.text, f.size)));
        std::fputs(object.Render().c_str(), stdout);
        return kOk;
    }
    for (const Field& f : fields)
        std::printf("%-9s %.*s\n", (std::string(f.label) + ":").c_str(), int(f.size), f.text);
    return kOk;
}

}  // namespace tool
