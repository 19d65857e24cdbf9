// SPDX-License-Identifier: MIT
#include "progress.h"

#include <cstdio>

#include "cli.h"

namespace tool {
namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

// "1:02.3" (minutes, seconds and tenths), "1:02:03.4" past an hour.
std::string Hms(uint64_t ms) {
    const uint64_t tenths = ms / 100, s = tenths / 10, m = s / 60, h = m / 60;
    char text[32];
    if (h > 0)
        std::snprintf(text, sizeof text, "%llu:%02u:%02u.%u", (unsigned long long)h,
                      unsigned(m % 60), unsigned(s % 60), unsigned(tenths % 10));
    else
        std::snprintf(text, sizeof text, "%u:%02u.%u", unsigned(m), unsigned(s % 60),
                      unsigned(tenths % 10));
    return text;
}

std::string Speed(uint64_t audioMs, double wallMs) {
    char text[32];
    if (wallMs <= 0)
        std::snprintf(text, sizeof text, "--x");
    else
        std::snprintf(text, sizeof text, "%.1fx", double(audioMs) / wallMs);
    return text;
}

}  // namespace

ProgressLine::ProgressLine(uint64_t durationMs)
    : shown_(ShowProgress()), durationMs_(durationMs), start_(Clock::now()) {}

void ProgressLine::Update(uint64_t positionMs) {
    if (!shown_) return;
    const Clock::time_point now = Clock::now();
    if (drawn_ && now - lastDraw_ < kRedrawEvery) return;
    drawn_ = true;
    lastDraw_ = now;
    const double wallMs = std::chrono::duration<double, std::milli>(now - start_).count();
    std::string text = Hms(positionMs);
    if (durationMs_ > 0 && positionMs <= durationMs_) {
        text +=
            " / " + Hms(durationMs_) + "  " + std::to_string(positionMs * 100 / durationMs_) + "%";
    }
    text += "  " + Speed(positionMs, wallMs);
    if (durationMs_ > 0 && positionMs <= durationMs_) {
        // What is left at the speed so far.
        text += positionMs == 0 ? "  --:-- left"
                                : "  " +
                                      Hms(uint64_t(wallMs * double(durationMs_ - positionMs) /
                                                   double(positionMs))) +
                                      " left";
    }
    Draw(text, "");
}

void ProgressLine::Finish(uint64_t positionMs) {
    if (!shown_) return;
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
    char took[32];
    std::snprintf(took, sizeof took, "%.1f s", wallMs / 1000);
    Draw(Hms(positionMs) + " of audio in " + took + ", " + Speed(positionMs, wallMs) + " real time",
         "\n");
}

void ProgressLine::Draw(const std::string& text, const char* end) {
    const size_t pad = width_ > text.size() ? width_ - text.size() : 0;
    std::fprintf(stderr, "\r%s%*s%s", text.c_str(), int(pad), "", end);
    std::fflush(stderr);
    width_ = text.size();
}

}  // namespace tool
