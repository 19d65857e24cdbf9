// SPDX-License-Identifier: MIT
// The progress line of decode, encode and transcode on stderr, shown where
// ShowProgress() says: position / duration, percent, speed as a multiple of
// real time and time left, redrawn at most ten times a second, then a last
// line with the totals.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tool {

class ProgressLine {
  public:
    // `durationMs` 0: not known (a pipe), so no percent and no time left.
    explicit ProgressLine(uint64_t durationMs);
    // Redraws for `positionMs` of audio done, unless the last redraw was less
    // than a tenth of a second ago.
    void Update(uint64_t positionMs);
    // The totals, on a line of their own.
    void Finish(uint64_t positionMs);

  private:
    using Clock = std::chrono::steady_clock;
    void Draw(const std::string& text, const char* end);

    bool shown_;
    uint64_t durationMs_;
    Clock::time_point start_, lastDraw_;
    bool drawn_ = false;
    size_t width_ = 0;  // of the last line, to blank what a shorter one leaves
};

}  // namespace tool
