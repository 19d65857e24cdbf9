// SPDX-License-Identifier: MIT
// The audio files people have, through libsndfile: read as 16-bit PCM for the
// encoder, and written as 16-bit WAV or FLAC from a decode.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pipe_audio.h"

namespace tool {

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfileOwner = std::unique_ptr<SNDFILE, SndfileCloser>;

// Any file libsndfile reads (WAV of any sample format, extensible WAV, AIFF,
// FLAC, Ogg Vorbis, ...), delivered as interleaved 16-bit samples. Samples of
// more bits, and floating-point ones, are rounded to the nearest 16-bit value
// without dither, and clipped.
class AudioInput {
  public:
    // False, with libsndfile's reason in `error`, when libsndfile cannot read it.
    // "-" is standard input.
    bool Open(const std::string& path, std::string& error);
    uint32_t SampleRate() const { return static_cast<uint32_t>(info_.samplerate); }
    uint32_t Channels() const { return static_cast<uint32_t>(info_.channels); }
    // The length the file declares; 0 when it declares none.
    uint64_t Frames() const;
    // Reads up to `frames` frames into `out`; returns the frames read, 0 at the end.
    size_t Read(int16_t* out, size_t frames);

  private:
    SF_INFO info_{};
    bool fromPipe_ = false;
    std::unique_ptr<StdinSource> stdin_;
    SF_VIRTUAL_IO io_{};
    SndfileOwner file_;  // after stdin_, so that it is closed first
    std::vector<double> buffer_;
};

// A new 16-bit file: FLAC when asked or when the name ends in ".flac" (any
// case), otherwise WAV (extensible when there are more than two channels).
// "-" is standard output.
class AudioOutput {
  public:
    bool Create(const std::string& path, uint32_t sampleRate, uint32_t channels, bool flac,
                std::string& error);
    bool Write(const int16_t* samples, size_t count);
    // Finishes the file; false if it could not be written whole.
    bool Close();

  private:
    SndfileOwner file_;
    std::unique_ptr<PipeWriter> pipe_;
};

}  // namespace tool
