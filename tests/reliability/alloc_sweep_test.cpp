// SPDX-License-Identifier: MIT
// Every export under allocation failure (alloc_sweep_child): for every N, the
// N-th allocation of the call fails; each run must end without a crash of
// ours, with a true result and whole files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media.h"
#include "mervane.h"
#include "scratch.h"

namespace reliability {
namespace {

struct Sweep {
    const char* scenario;
    bool roomy;  // a file whose header has room for the tags (written in place)
};

void PrintTo(const Sweep& sweep, std::ostream* out) {
    *out << sweep.scenario << (sweep.roomy ? " in place" : "");
}

class AllocationFailure : public ::testing::TestWithParam<Sweep> {};

TEST_P(AllocationFailure, EveryRunEndsWithATrueResultAndWholeFiles) {
    if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    const std::string tone = media::MakeWma(
        "sweep.wma", "sine=frequency=440:duration=0.3",
        "-ar 44100 -ac 2 -b:a 128k -metadata title=Sweep -metadata artist=Tone -metadata "
        "album=Test -metadata date=2020 -metadata track=3");
    ASSERT_FALSE(tone.empty());
    Scratch scratch;
    std::string file = scratch.Copy(tone, "tone.wma");
    if (GetParam().roomy) {
        SongInfo tags{};
        ASSERT_EQ(GetWmaSongInfo(file.c_str(), &tags), 1);
        ASSERT_EQ(SetWmaSongInfo(file.c_str(), &tags), 1);
    }
    std::string out;
    // The sanitizers' leak check is off in the child: the dynamic loader's own
    // blocks, allocated through the child's allocator, look lost to it.
    const int status = media::Run("ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" " +
                                      std::string(ALLOC_SWEEP_CHILD) + " " + GetParam().scenario +
                                      " '" + file + "' '" + scratch.dir() + "' 2>&1",
                                  &out);
    std::printf("%s", out.c_str());
    EXPECT_EQ(status, 0) << out;
}

std::vector<Sweep> Sweeps() {
    std::vector<Sweep> sweeps = {{"info", false},   {"tags-read", false}, {"decode", false},
                                 {"cancel", false}, {"encode", false},    {"formats", false}};
    // Tag writes run on the calling thread alone: under ThreadSanitizer their
    // sweeps (a thousand runs each, several times slower) would show nothing
    // that the other builds do not.
#if !defined(__SANITIZE_THREAD__)
    sweeps.push_back({"tags-write", false});
    sweeps.push_back({"tags-write", true});
#endif
    return sweeps;
}

INSTANTIATE_TEST_SUITE_P(Exports, AllocationFailure, ::testing::ValuesIn(Sweeps()),
                         [](const ::testing::TestParamInfo<Sweep>& sweep) {
                             std::string name = std::string(sweep.param.scenario) +
                                                (sweep.param.roomy ? "_in_place" : "");
                             for (char& c : name) c = c == '-' ? '_' : c;
                             return name;
                         });

}  // namespace
}  // namespace reliability
