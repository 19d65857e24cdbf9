// SPDX-License-Identifier: MIT
#include "pipe_audio.h"

#include <FLAC/stream_encoder.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tool {
namespace {

// Enough for any header libsndfile looks at before it reads samples.
constexpr size_t kKeptBytes = 1 << 20;
// A pipe has no length; libsndfile clamps a header's sizes to the length it is
// given, so it is told one no stream reaches.
constexpr sf_count_t kNoLength = sf_count_t(1) << 62;

StdinSource& Self(void* self) {
    return *static_cast<StdinSource*>(self);
}

}  // namespace

SF_VIRTUAL_IO StdinSource::Callbacks() {
    SF_VIRTUAL_IO io{};
    io.get_filelen = Length;
    io.seek = Seek;
    io.read = Read;
    io.tell = Tell;
    return io;
}

sf_count_t StdinSource::Length(void*) {
    return kNoLength;
}

size_t StdinSource::Pull(char* data, size_t count) {
    size_t got = 0;
    std::vector<char> scratch(data == nullptr ? std::min<size_t>(count, 65536) : 0);
    while (got < count && !ended_) {
        char* into = data != nullptr ? data + got : scratch.data();
        const size_t want = data != nullptr ? count - got : std::min(count - got, scratch.size());
        const ssize_t n = read(STDIN_FILENO, into, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ended_ = true;
            break;
        }
        const size_t keep =
            pulled_ < kKeptBytes ? std::min<size_t>(size_t(n), kKeptBytes - pulled_) : 0;
        head_.insert(head_.end(), into, into + keep);
        pulled_ += uint64_t(n);
        got += size_t(n);
    }
    return got;
}

sf_count_t StdinSource::Read(void* data, sf_count_t count, void* self) {
    StdinSource& s = Self(self);
    char* out = static_cast<char*>(data);
    size_t done = 0;
    const size_t wanted = size_t(count);
    if (s.position_ < s.pulled_) {
        if (s.position_ >= s.head_.size()) return 0;  // a gap: only a seek back could make one
        done = std::min(wanted, size_t(s.head_.size() - s.position_));
        std::memcpy(out, s.head_.data() + s.position_, done);
        s.position_ += done;
        if (s.position_ < s.pulled_) return sf_count_t(done);
    }
    const size_t got = s.Pull(out + done, wanted - done);
    s.position_ += got;
    return sf_count_t(done + got);
}

sf_count_t StdinSource::Seek(sf_count_t offset, int whence, void* self) {
    StdinSource& s = Self(self);
    sf_count_t target = offset;
    if (whence == SEEK_CUR) target += sf_count_t(s.position_);
    if (whence == SEEK_END || target < 0) return -1;
    const uint64_t to = uint64_t(target);
    if (to < s.pulled_) {
        if (to > s.head_.size()) return -1;
        s.position_ = to;
    } else {
        s.Pull(nullptr, size_t(to - s.pulled_));
        s.position_ = s.pulled_;
    }
    return sf_count_t(s.position_);
}

sf_count_t StdinSource::Tell(void* self) {
    return sf_count_t(Self(self).position_);
}

namespace {

bool PutBytes(const void* data, size_t size) {
    return std::fwrite(data, 1, size, stdout) == size;
}

void PutLe(std::vector<unsigned char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

class PipeWav : public PipeWriter {
  public:
    bool Open(uint32_t sampleRate, uint32_t channels) {
        // Extensible past two channels, as the file writer does; channel mask 0
        // (not stated), as the decode says nothing of speaker positions.
        const bool extensible = channels > 2;
        std::vector<unsigned char> h;
        h.insert(h.end(), {'R', 'I', 'F', 'F'});
        PutLe(h, 0xFFFFFFFF, 4);
        h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
        PutLe(h, extensible ? 40 : 16, 4);
        PutLe(h, extensible ? 0xFFFE : 1, 2);
        PutLe(h, channels, 2);
        PutLe(h, sampleRate, 4);
        PutLe(h, sampleRate * channels * 2, 4);
        PutLe(h, channels * 2, 2);
        PutLe(h, 16, 2);
        if (extensible) {
            PutLe(h, 22, 2);  // the extension's size
            PutLe(h, 16, 2);  // valid bits
            PutLe(h, 0, 4);   // channel mask
            // KSDATAFORMAT_SUBTYPE_PCM
            h.insert(h.end(), {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00,
                               0xAA, 0x00, 0x38, 0x9B, 0x71});
        }
        h.insert(h.end(), {'d', 'a', 't', 'a'});
        PutLe(h, 0xFFFFFFFF, 4);
        return PutBytes(h.data(), h.size());
    }
    bool Write(const int16_t* samples, size_t count) override {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        std::vector<int16_t> swapped(samples, samples + count);
        for (int16_t& s : swapped) s = int16_t(__builtin_bswap16(uint16_t(s)));
        samples = swapped.data();
#endif
        return PutBytes(samples, count * 2);
    }
    bool Close() override {
        return std::fflush(stdout) == 0 && !std::ferror(stdout);
    }
};

struct FlacDeleter {
    void operator()(FLAC__StreamEncoder* e) const { FLAC__stream_encoder_delete(e); }
};

class PipeFlac : public PipeWriter {
  public:
    bool Open(uint32_t sampleRate, uint32_t channels, std::string& error) {
        channels_ = channels;
        encoder_.reset(FLAC__stream_encoder_new());
        FLAC__StreamEncoder* e = encoder_.get();
        if (e == nullptr || !FLAC__stream_encoder_set_channels(e, channels) ||
            !FLAC__stream_encoder_set_bits_per_sample(e, 16) ||
            !FLAC__stream_encoder_set_sample_rate(e, sampleRate) ||
            !FLAC__stream_encoder_set_compression_level(e, 5)) {
            error = "the FLAC encoder refuses this format";
            return false;
        }
        // No seek callback: the encoder then leaves the stream info as it first
        // wrote it, length unknown.
        if (FLAC__stream_encoder_init_stream(e, Put, nullptr, nullptr, nullptr, nullptr) !=
            FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
            error = FLAC__StreamEncoderStateString[FLAC__stream_encoder_get_state(e)];
            return false;
        }
        return true;
    }
    bool Write(const int16_t* samples, size_t count) override {
        wide_.assign(samples, samples + count);
        return FLAC__stream_encoder_process_interleaved(encoder_.get(), wide_.data(),
                                                        unsigned(count / channels_)) != 0;
    }
    bool Close() override {
        const bool finished = FLAC__stream_encoder_finish(encoder_.get()) != 0;
        return finished && std::fflush(stdout) == 0 && !std::ferror(stdout);
    }

  private:
    static FLAC__StreamEncoderWriteStatus Put(const FLAC__StreamEncoder*, const FLAC__byte* data,
                                              size_t bytes, uint32_t, uint32_t, void*) {
        return PutBytes(data, bytes) ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK
                                     : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    std::unique_ptr<FLAC__StreamEncoder, FlacDeleter> encoder_;
    std::vector<FLAC__int32> wide_;
    uint32_t channels_ = 1;
};

}  // namespace

std::unique_ptr<PipeWriter> MakePipeWriter(bool flac, uint32_t sampleRate, uint32_t channels,
                                           std::string& error) {
    if (flac) {
        auto writer = std::make_unique<PipeFlac>();
        if (!writer->Open(sampleRate, channels, error)) return nullptr;
        return writer;
    }
    auto writer = std::make_unique<PipeWav>();
    if (!writer->Open(sampleRate, channels)) {
        error = std::strerror(errno);
        return nullptr;
    }
    return writer;
}

}  // namespace tool
