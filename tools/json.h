// SPDX-License-Identifier: MIT
// JSON for scripts, as ffprobe's "-of json" gives it: one object, a member per
// line, objects inside an array on a line each.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tool {

class JsonObject {
  public:
    // Text is UTF-8; bytes that are not are replaced by U+FFFD, so the output
    // always parses.
    JsonObject& Add(const std::string& name, const std::string& text);
    JsonObject& Add(const std::string& name, uint64_t number);
    JsonObject& Add(const std::string& name, const std::vector<JsonObject>& objects);

    // The object over several lines, ending in a newline.
    std::string Render() const;
    // The object on one line, ending in a newline (JSON Lines).
    std::string Line() const { return Inline() + "\n"; }

  private:
    std::string Inline() const;
    std::vector<std::pair<std::string, std::string>> members_;  // quoted name, value
};

// `text` as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& text);

}  // namespace tool
