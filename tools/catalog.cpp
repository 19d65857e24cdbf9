// SPDX-License-Identifier: MIT
#include "catalog.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "cli.h"
#include "json.h"
#include "mervane.h"

namespace tool {
namespace {

// EnumWMAFormat calls back on the calling thread, so one list at a time suffices.
std::vector<Format>* g_formats = nullptr;

int32_t MERVANE_CALL CollectFormat(uint32_t bitrate, uint32_t channels, uint32_t sampleRate) {
    g_formats->push_back({bitrate, channels, sampleRate});
    return 0;
}

std::string Shape(uint32_t sampleRate, uint32_t channels) {
    return std::to_string(sampleRate) + " Hz with " + std::to_string(channels) + " channel" +
           (channels == 1 ? "" : "s");
}

// The rate and channel pairs on offer nearest to the one asked for: the same
// channel count first, then the closest rates.
std::string NearestShapes(const std::vector<Format>& formats, uint32_t sampleRate,
                          uint32_t channels) {
    std::vector<std::pair<uint32_t, uint32_t>> shapes;  // channels, rate
    for (const Format& f : formats)
        if (std::find(shapes.begin(), shapes.end(), std::make_pair(f.channels, f.sampleRate)) ==
            shapes.end())
            shapes.emplace_back(f.channels, f.sampleRate);
    const auto distance = [&](const std::pair<uint32_t, uint32_t>& s) {
        return std::make_pair(std::labs(long(s.first) - long(channels)),
                              std::labs(long(s.second) - long(sampleRate)));
    };
    std::stable_sort(shapes.begin(), shapes.end(),
                     [&](const auto& a, const auto& b) { return distance(a) < distance(b); });
    std::string text;
    for (size_t i = 0; i < shapes.size() && i < 3; ++i)
        text += (i == 0 ? "" : "; ") + Shape(shapes[i].second, shapes[i].first);
    return text;
}

}  // namespace

std::vector<Format> ListFormats() {
    std::vector<Format> formats;
    g_formats = &formats;
    EnumWMAFormat(CollectFormat);
    g_formats = nullptr;
    return formats;
}

int CheckEncodable(uint32_t sampleRate, uint32_t channels, uint32_t kbps) {
    const std::vector<Format> formats = ListFormats();
    if (formats.empty()) return Fail(kFailed, "no codec formats are offered");
    std::string offered;
    for (const Format& f : formats) {
        if (f.sampleRate != sampleRate || f.channels != channels) continue;
        // The library matches a bitrate within 249 bit/s.
        const long diff = long(f.bitrate) - long(kbps) * 1000;
        if (diff > -250 && diff < 250) return kOk;
        offered += " " + std::to_string((f.bitrate + 500) / 1000);
    }
    if (!offered.empty())
        return Fail(kUnsupported, "no codec format at " + std::to_string(kbps) + " kbit/s for " +
                                      Shape(sampleRate, channels) +
                                      "; offered (kbit/s):" + offered);
    // The tool neither resamples nor remixes: that is for a tool made for it.
    return Fail(kUnsupported, "no codec format for " + Shape(sampleRate, channels) +
                                  ", and mervane does not resample or remix; nearest: " +
                                  NearestShapes(formats, sampleRate, channels) +
                                  " (see 'mervane formats')");
}

int Formats(bool json) {
    const std::vector<Format> formats = ListFormats();
    if (formats.empty()) return Fail(kFailed, "no codec formats are offered");
    if (json) {
        std::vector<JsonObject> items;
        for (const Format& f : formats)
            items.push_back(JsonObject()
                                .Add("bitrate", f.bitrate)
                                .Add("channels", f.channels)
                                .Add("sampleRate", f.sampleRate));
        std::fputs(JsonObject().Add("formats", items).Render().c_str(), stdout);
        return kOk;
    }
    std::printf("%-10s %-9s %s\n", "kbit/s", "channels", "rate (Hz)");
    for (const Format& f : formats)
        std::printf("%-10.3g %-9u %u\n", f.bitrate / 1000.0, f.channels, f.sampleRate);
    return kOk;
}

}  // namespace tool
