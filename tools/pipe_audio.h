// SPDX-License-Identifier: MIT
// Audio through standard input and output ("-"), where nothing can seek: a
// libsndfile reader over stdin that can go back over what it has read, and
// WAV or FLAC writers for stdout that never go back.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tool {

// libsndfile's virtual IO over stdin. libsndfile reads a file's first bytes to
// tell its format, then seeks back to read it again, which a pipe cannot do
// (FLAC then fails with "lost sync"); this keeps the first bytes read, so that
// seeks within them, and forward seeks, work.
class StdinSource {
  public:
    static SF_VIRTUAL_IO Callbacks();

  private:
    static sf_count_t Length(void* self);
    static sf_count_t Seek(sf_count_t offset, int whence, void* self);
    static sf_count_t Read(void* data, sf_count_t count, void* self);
    static sf_count_t Tell(void* self);
    // Reads from stdin into `data` (may be null: discard); returns the bytes read.
    size_t Pull(char* data, size_t count);

    std::vector<char> head_;  // the first bytes of the stream, kept for seeks back
    uint64_t position_ = 0;   // where the reader is
    uint64_t pulled_ = 0;     // how much of stdin has been read
    bool ended_ = false;
};

// A 16-bit PCM stream on stdout.
class PipeWriter {
  public:
    virtual ~PipeWriter() = default;
    virtual bool Write(const int16_t* samples, size_t count) = 0;
    virtual bool Close() = 0;
};

// WAV as ffmpeg writes it to a pipe: the RIFF and data sizes are 0xFFFFFFFF,
// which readers (ffmpeg, libsndfile) take as "until the stream ends".
// FLAC, with `flac`: the stream info's length is left unknown.
std::unique_ptr<PipeWriter> MakePipeWriter(bool flac, uint32_t sampleRate, uint32_t channels,
                                           std::string& error);

}  // namespace tool
