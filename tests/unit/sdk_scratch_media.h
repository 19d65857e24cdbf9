// SPDX-License-Identifier: MIT
// A scratch folder of test media for the stand-in's tests: files made with the
// ffmpeg command-line tool, byte-level copies and cuts, and the bad files that
// every opener must refuse.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform.h"

class ScratchMedia {
  public:
    static bool HaveFfmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

    // Makes the folder (/tmp/<prefix>_XXXXXX); false if it could not be made.
    bool Create(const std::string& prefix) {
        std::string pattern = "/tmp/" + prefix + "_XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) return false;
        dir_ = pattern;
        return true;
    }
    void Remove() {
        if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
        dir_.clear();
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // Runs "ffmpeg -y ARGS <folder>/NAME"; false if ffmpeg failed.
    bool Make(const std::string& name, const std::string& args) const {
        return std::system(
                   ("ffmpeg -v error -y " + args + " '" + Path(name) + "' </dev/null").c_str()) ==
               0;
    }

    static std::vector<char> Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), {});
    }
    void Spit(const std::string& name, const std::vector<char>& bytes) const {
        std::ofstream(Path(name), std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // empty.wma, head.wma (the first `headBytes` of `source`), random.wma
    // (`noiseBytes` of seeded noise) and folder.wma (a directory).
    bool MakeBadFiles(const std::string& source, size_t headBytes, unsigned seed,
                      size_t noiseBytes) const {
        std::ofstream(Path("empty.wma"));
        const std::vector<char> bytes = Slurp(Path(source));
        if (bytes.size() < headBytes) return false;
        Spit("head.wma", std::vector<char>(bytes.begin(), bytes.begin() + long(headBytes)));
        std::mt19937 random(seed);
        std::vector<char> noise(noiseBytes);
        for (char& c : noise) c = static_cast<char>(random());
        Spit("random.wma", noise);
        return mkdir(Path("folder.wma").c_str(), 0700) == 0;
    }

    // A UTF-8 path as the SDK's wide string.
    static std::u16string Wide(const std::string& utf8) {
        const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
        std::u16string out(static_cast<size_t>(n > 0 ? n : 1), u'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], n);
        out.resize(out.size() - 1);
        return out;
    }

  private:
    std::string dir_;
};
