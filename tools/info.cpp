// SPDX-License-Identifier: MIT
#include "info.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>

#include "cli.h"
#include "json.h"
#include "mervane.h"
#include "protection.h"

namespace tool {
namespace {

// One file's answer: its JSON members, or its lines of text.
struct Answer {
    JsonObject json;
    std::string text;
};
using PerFile = std::function<int(const std::string& path, Answer& answer)>;

// Runs `each` on every file, however many fail. One file prints as it always
// did; several print a block each, headed by the file's name, or with --json a
// line each (JSON Lines), a failed file's saying {"path", "error"}. The exit
// status is the first failure's.
int ForEachFile(const std::vector<std::string>& paths, bool json, const PerFile& each) {
    const bool several = paths.size() > 1;
    int status = kOk;
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        Answer answer;
        answer.json.Add("path", path);
        const int result = each(path, answer);
        if (result != kOk) {
            if (status == kOk) status = result;
            if (json && several)
                std::fputs(
                    JsonObject().Add("path", path).Add("error", LastFailure()).Line().c_str(),
                    stdout);
            continue;
        }
        if (json)
            std::fputs((several ? answer.json.Line() : answer.json.Render()).c_str(), stdout);
        else if (several)
            std::printf("%s%s:\n%s", i == 0 ? "" : "\n", path.c_str(), answer.text.c_str());
        else
            std::fputs(answer.text.c_str(), stdout);
    }
    return status;
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

struct Field {
    const char* option;
    const char* label;
    const char* member;  // the record's field name, for JSON
    size_t offset;
    size_t size;
};
const Field kFields[] = {
    {"title", "title", "title", offsetof(SongInfo, title), sizeof SongInfo::title},
    {"author", "author", "author", offsetof(SongInfo, author), sizeof SongInfo::author},
    {"album", "album", "album", offsetof(SongInfo, album), sizeof SongInfo::album},
    {"year", "year", "year", offsetof(SongInfo, year), sizeof SongInfo::year},
    {"track", "track", "track", offsetof(SongInfo, track), sizeof SongInfo::track},
    {"genre", "genre id", "genreId", offsetof(SongInfo, genreId), sizeof SongInfo::genreId},
};

char* TextOf(SongInfo& song, const Field& f) {
    return reinterpret_cast<char*>(&song) + f.offset;
}

}  // namespace

int Info(const std::vector<std::string>& paths, bool json) {
    return ForEachFile(paths, json, [](const std::string& path, Answer& answer) {
        if (!IsReadableFile(path)) return Fail(kNoFile, "cannot read " + path);
        AudioFormatInfo info{};
        if (GetWmaFileInfo(path.c_str(), &info) != 1) return Unreadable(path);
        answer.json.Add("formatKind", info.formatKind)
            .Add("sampleRate", info.sampleRate)
            .Add("channels", info.channels)
            .Add("bitrateKbps", info.bitrateKbps)
            .Add("durationMs", info.durationMs);
        answer.text = Printf(
            "sample rate: %u Hz\nchannels:    %u\nbitrate:     %u kbit/s\nduration:    %s s\n",
            info.sampleRate, info.channels, info.bitrateKbps, Seconds(info.durationMs).c_str());
        return int(kOk);
    });
}

int Tags(const std::vector<std::string>& paths, const std::map<std::string, std::string>& options,
         bool json) {
    // The tags to set, checked before any file is touched.
    SongInfo wanted;
    std::memset(&wanted, 0, sizeof wanted);
    std::vector<const Field*> setting;
    for (const auto& [name, value] : options) {
        const Field* field = nullptr;
        for (const Field& f : kFields)
            if (name == f.option) field = &f;
        if (field == nullptr) return Fail(kUsage, "unknown option --" + name);
        if (value.size() >= field->size)
            return Fail(kUsage, std::string(field->option) + " is longer than " +
                                    std::to_string(field->size - 1) + " bytes");
        std::memcpy(TextOf(wanted, *field), value.data(), value.size());
        setting.push_back(field);
    }
    return ForEachFile(paths, json, [&](const std::string& path, Answer& answer) {
        if (!IsReadableFile(path)) return Fail(kNoFile, "cannot read " + path);
        SongInfo song;
        std::memset(&song, 0, sizeof song);
        if (GetWmaSongInfo(path.c_str(), &song) != 1)
            return Fail(kFailed, "cannot read the tags of " + path);
        for (const Field* f : setting) std::memcpy(TextOf(song, *f), TextOf(wanted, *f), f->size);
        if (!setting.empty() && SetWmaSongInfo(path.c_str(), &song) != 1)
            return Fail(kFailed, "cannot write the tags of " + path);
        for (const Field& f : kFields) {
            // Never read past a field, whatever the library left in it.
            const char* text = TextOf(song, f);
            const std::string value(text, strnlen(text, f.size));
            answer.json.Add(f.member, value);
            answer.text += Printf("%-9s %s\n", (std::string(f.label) + ":").c_str(), value.c_str());
        }
        return int(kOk);
    });
}

}  // namespace tool
