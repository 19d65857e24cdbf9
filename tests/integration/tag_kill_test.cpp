// SPDX-License-Identifier: MIT
// Tag writes killed at random instants. After every SIGKILL other programs
// (ffprobe) see a whole header before our library opens the file again; then
// our library reads one whole set of tags, no file is left beside it, and the
// audio is the same.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "decode_collector.h"
#include "helpers/tag_sets.h"
#include "media.h"
#include "mervane.h"

extern char** environ;

namespace {

#define REQUIRE_FFMPEG() \
    if (!media::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed"

constexpr int kKills = 100;
constexpr int kLatestKillUs = 30000;

const tag_sets::Set* const kSets[] = {&tag_sets::kFirst, &tag_sets::kA, &tag_sets::kB};

// The bytes from the end of the header to the end of the file.
std::vector<uint8_t> AfterHeader(const std::vector<uint8_t>& file) {
    if (file.size() < 24) return {};
    uint64_t size = 0;
    for (int i = 7; i >= 0; --i) size = (size << 8) | file[16 + size_t(i)];
    return size <= file.size() ? std::vector<uint8_t>(file.begin() + long(size), file.end())
                               : std::vector<uint8_t>{};
}

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
    }
    return names;
}

std::vector<int16_t> DecodeWithUs(const std::string& path) {
    DecodeCollector& collector = DecodeCollector::Instance();
    collector.Reset();
    if (GoGoGoReader(path.c_str(), 0, 1, DecodeCollector::Callback) != 1) return {};
    if (!collector.WaitForEnd()) return {};
    return collector.Snapshot().pcm;
}

// Starts the tag writer on `path` and waits (bounded) until it is about to
// write; returns its pid, or -1.
pid_t StartWriter(const std::string& path) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ready[1], STDOUT_FILENO);
    const char* argv[] = {TAG_WRITER, path.c_str(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, TAG_WRITER, &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(ready[1]);
    pollfd wait = {ready[0], POLLIN, 0};
    char byte = 0;
    if (pid > 0 && (poll(&wait, 1, 20000) != 1 || read(ready[0], &byte, 1) != 1)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    close(ready[0]);
    return pid;
}

TEST(TagKill, KilledWritesLeaveOneWholeSetOfTagsAndTheSameAudio) {
    REQUIRE_FFMPEG();
    const std::string source = media::MakeWma("kill-source.wma", "sine=frequency=330:duration=3",
                                              "-ar 44100 -ac 2 -b:a 128k");
    ASSERT_FALSE(source.empty());
    const std::string dir = media::Dir() + "/kill";
    const std::string path = dir + "/killed.wma";
    ASSERT_EQ(media::Run("rm -rf '" + dir + "' && mkdir '" + dir + "' && cp '" + source + "' '" +
                         path + "'"),
              0);

    // ffmpeg's header has no room to spare: the first write makes a new file
    // with room; the writes after it go into that header in place.
    SongInfo first;
    tag_sets::Fill(&first, tag_sets::kFirst);
    ASSERT_EQ(SetWmaSongInfo(path.c_str(), &first), 1);
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ASSERT_EQ(SetWmaSongInfo(path.c_str(), &first), 1);
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "the second write was not made in place";

    const std::vector<uint8_t> audio = AfterHeader(media::ReadFile(path));
    ASSERT_FALSE(audio.empty());
    const double duration = media::ProbeFile(path).durationS;
    ASSERT_GT(duration, 2.9);
    const std::vector<int16_t> pcm = DecodeWithUs(path);
    ASSERT_FALSE(pcm.empty());

    std::mt19937 random(14);
    std::uniform_int_distribution<int> delayUs(0, kLatestKillUs);
    int seen[3] = {0, 0, 0};
    int journals = 0;  // kills that came between a journal and its removal
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        const pid_t writer = StartWriter(path);
        ASSERT_GT(writer, 0) << "the tag writer did not start";
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        ::kill(writer, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(writer, &status, 0), writer);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the tag writer ended by itself: a write failed";

        struct stat journal {};
        journals += stat((path + ".header-journal").c_str(), &journal) == 0;

        // Another program, before our library opens the file: a whole header.
        const media::Probe probe = media::ProbeFile(path);
        EXPECT_NEAR(probe.durationS, duration, 0.001);
        bool whole = false;
        for (const tag_sets::Set* set : kSets) {
            whole = whole || (probe.title == set->title && probe.artist == set->author &&
                              probe.album == set->album);
        }
        EXPECT_TRUE(whole) << "ffprobe sees title '" << probe.title << "', artist '" << probe.artist
                           << "', album '" << probe.album << "'";

        // Our library: one whole set (a journal left is read as it will be
        // finished, and stays for the next write), same audio.
        SongInfo tags;
        ASSERT_EQ(GetWmaSongInfo(path.c_str(), &tags), 1);
        int which = -1;
        for (int i = 0; i < 3; ++i) {
            if (tag_sets::Holds(tags, *kSets[i])) which = i;
        }
        ASSERT_GE(which, 0) << "mixed tags, title '" << tags.title << "'";
        ++seen[which];
        EXPECT_EQ(Listing(dir).size(),
                  1u + (stat((path + ".header-journal").c_str(), &journal) == 0));
        ASSERT_TRUE(AfterHeader(media::ReadFile(path)) == audio) << "the audio bytes changed";
    }
    std::printf("tags after the kills: first %d, A %d, B %d; journals left: %d\n", seen[0], seen[1],
                seen[2], journals);

    EXPECT_TRUE(DecodeWithUs(path) == pcm);
    // Nothing a kill left trips the next write.
    ASSERT_EQ(SetWmaSongInfo(path.c_str(), &first), 1);
    SongInfo tags;
    ASSERT_EQ(GetWmaSongInfo(path.c_str(), &tags), 1);
    EXPECT_TRUE(tag_sets::Holds(tags, tag_sets::kFirst));
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"killed.wma"});
}

}  // namespace
