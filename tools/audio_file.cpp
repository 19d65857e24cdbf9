// SPDX-License-Identifier: MIT
#include "audio_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace tool {

bool AudioInput::Open(const std::string& path, std::string& error) {
    info_ = SF_INFO{};
    fromPipe_ = path == "-";
    if (fromPipe_) {
        stdin_ = std::make_unique<StdinSource>();
        io_ = StdinSource::Callbacks();
        file_.reset(sf_open_virtual(&io_, SFM_READ, &info_, stdin_.get()));
    } else {
        file_.reset(sf_open(path.c_str(), SFM_READ, &info_));
    }
    if (!file_) {
        error = sf_strerror(nullptr);
        return false;
    }
    if (info_.channels <= 0 || info_.samplerate <= 0) {
        file_.reset();
        error = "no audio stream";
        return false;
    }
    return true;
}

uint64_t AudioInput::Frames() const {
    if (info_.frames <= 0 || info_.frames == SF_COUNT_MAX) return 0;
    // A stream written to a pipe states the largest size its header holds
    // (ffmpeg's WAV: 0xFFFFFFFF bytes of samples), which is no length at all:
    // at up to 8 bytes a sample, that is more than 2^29 samples. A real stream
    // that long (1.7 hours of 44.1 kHz stereo) only loses its percent.
    if (fromPipe_ && static_cast<uint64_t>(info_.frames) * Channels() >= (uint64_t(1) << 29))
        return 0;
    return static_cast<uint64_t>(info_.frames);
}

size_t AudioInput::Read(int16_t* out, size_t frames) {
    // Read as doubles scaled to [-1, 1): exact for integer samples of up to 32
    // bits, so the one rounding below is the only one.
    const size_t channels = Channels();
    buffer_.resize(frames * channels);
    const sf_count_t got = sf_readf_double(file_.get(), buffer_.data(), sf_count_t(frames));
    if (got <= 0) return 0;
    const size_t count = static_cast<size_t>(got) * channels;
    for (size_t i = 0; i < count; ++i) {
        const double scaled = std::nearbyint(buffer_[i] * 32768.0);
        out[i] = static_cast<int16_t>(std::clamp(scaled, -32768.0, 32767.0));
    }
    return static_cast<size_t>(got);
}

bool AudioOutput::Create(const std::string& path, uint32_t sampleRate, uint32_t channels, bool flac,
                         std::string& error) {
    if (path == "-") {
        pipe_ = MakePipeWriter(flac, sampleRate, channels, error);
        return pipe_ != nullptr;
    }
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    flac = flac || (lower.size() > 5 && lower.compare(lower.size() - 5, 5, ".flac") == 0);
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate);
    info.channels = static_cast<int>(channels);
    info.format = (flac           ? SF_FORMAT_FLAC
                   : channels > 2 ? SF_FORMAT_WAVEX
                                  : SF_FORMAT_WAV) |
                  SF_FORMAT_PCM_16;
    file_.reset(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!file_) error = sf_strerror(nullptr);
    return file_ != nullptr;
}

bool AudioOutput::Write(const int16_t* samples, size_t count) {
    if (pipe_) return pipe_->Write(samples, count);
    return sf_write_short(file_.get(), samples, sf_count_t(count)) == sf_count_t(count);
}

bool AudioOutput::Close() {
    if (pipe_) return pipe_->Close();
    if (!file_) return false;
    // A write that failed earlier stays in the error state; closing writes the
    // rest (FLAC's last frames, the WAV header's sizes) and reports on that.
    const bool ok = sf_error(file_.get()) == SF_ERR_NO_ERROR;
    return sf_close(file_.release()) == 0 && ok;
}

}  // namespace tool
