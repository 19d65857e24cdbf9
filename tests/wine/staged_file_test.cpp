// SPDX-License-Identifier: MIT
// The Windows build's staged encode output (src/writer/staged_file.cpp) under
// Wine, on its own: the platform's file sink cannot run there, so the file
// the sink would write is written here.
//
//   staged_file_test FOLDER
//
// Prints one line per failed check; exits with 1 if any failed.
#include "writer/staged_file.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::printf("FAIL: %s\n", what);
        ++failures;
    }
}

std::string Read(const WCHAR* path) {
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(none)";
    char buffer[64];
    DWORD got = 0;
    ReadFile(file, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(file);
    return std::string(buffer, got);
}

bool Write(const WCHAR* path, const char* text) {
    const HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool ok = WriteFile(file, text, DWORD(std::strlen(text)), &put, nullptr) != 0;
    CloseHandle(file);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string folder = argv[1];
    const std::string song = folder + "\\staged.wma";
    WCHAR dest[mervane::kMaxWidePath];
    mervane::ToWidePath(song.c_str(), dest);
    WCHAR sink[mervane::kMaxWidePath];
    DeleteFileW(dest);

    // Nothing there yet: the file appears at the commit.
    {
        mervane::StagedFile staged;
        Check(SUCCEEDED(staged.Begin(song.c_str(), sink)), "begin on a new name");
        Check(lstrcmpiW(sink, dest) != 0, "the sink writes the destination itself");
        Check(Write(sink, "first") && Read(dest) == "(none)", "the destination appeared early");
        Check(SUCCEEDED(staged.Commit()) && Read(dest) == "first", "commit to a new name");
        Check(Read(sink) == "(none)", "the staged file is left after the commit");
    }
    // An encode given up leaves the old file, and nothing beside it.
    {
        mervane::StagedFile staged;
        Check(SUCCEEDED(staged.Begin(song.c_str(), sink)), "begin over a file");
        Check(Write(sink, "second"), "writing the staged file");
        staged.Discard();
        Check(Read(dest) == "first" && Read(sink) == "(none)", "a discarded encode");
    }
    // A finished one replaces it.
    {
        mervane::StagedFile staged;
        Check(SUCCEEDED(staged.Begin(song.c_str(), sink)) && Write(sink, "third") &&
                  SUCCEEDED(staged.Commit()),
              "replacing a file");
        Check(Read(dest) == "third", "the file was not replaced");
    }
    // A file held open without leave to delete it (a decode reading it) is
    // left to its reader; so are read-only files and folders.
    {
        const HANDLE reader = CreateFileW(dest, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        mervane::StagedFile staged;
        Check(FAILED(staged.Begin(song.c_str(), sink)), "a file being read was taken");
        CloseHandle(reader);
        SetFileAttributesW(dest, FILE_ATTRIBUTE_READONLY);
        Check(FAILED(staged.Begin(song.c_str(), sink)), "a read-only file was taken");
        SetFileAttributesW(dest, FILE_ATTRIBUTE_NORMAL);
        Check(FAILED(staged.Begin(folder.c_str(), sink)), "a folder was taken");
        Check(Read(dest) == "third", "a refused encode changed the file");
    }
    DeleteFileW(dest);
    return failures == 0 ? 0 : 1;
}
