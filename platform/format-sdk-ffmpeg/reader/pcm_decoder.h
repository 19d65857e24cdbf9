// SPDX-License-Identifier: MIT
// Demuxes the audio stream of an ASF file with FFmpeg and decodes it to 16-bit
// interleaved PCM at the stream's own rate and channel count, one block per
// decoded frame. Memory stays bounded: one packet is read and decoded at a time.
// Not thread-safe: the reader's worker thread is its only user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/av_owner.h"
#include "wmsdk.h"

namespace ffsdk {

// One block of decoded PCM; `data` stays valid until the next call to Next,
// Seek or Close.
struct PcmBlock {
    uint64_t time = 0;      // 100 ns units, 0 at the first decoded sample
    uint64_t duration = 0;  // 100 ns units
    const BYTE* data = nullptr;
    size_t size = 0;  // bytes, a whole number of sample frames
};

class PcmDecoder {
  public:
    PcmDecoder() = default;
    PcmDecoder(const PcmDecoder&) = delete;
    PcmDecoder& operator=(const PcmDecoder&) = delete;
    ~PcmDecoder();

    // Opens the first audio stream of the ASF file at `path` (UTF-8) and its
    // decoder. Returns S_OK or a failing HRESULT; on failure nothing stays open.
    HRESULT Open(const std::string& path);
    void Close();

    uint32_t sampleRate() const { return rate_; }
    uint16_t channels() const { return channels_; }

    // Positions the stream so that the next block starts at `start` (100 ns):
    // seeks to the packet at or before it and drops the decoded audio that
    // lies before it. False if the stream cannot be positioned.
    bool Seek(uint64_t start);

    // Decodes the next block. False at the end of the stream, or when the
    // stream cannot go on (error() then says why: a failed read, no memory for
    // a packet or a frame). Packets the decoder rejects as damaged are skipped.
    bool Next(PcmBlock* block);
    // S_OK, or why the stream stopped short of its end.
    HRESULT error() const { return error_; }

  private:
    bool Convert(PcmBlock* block);
    uint64_t SamplesToTime(uint64_t samples) const;

    AvOwner<AVFormatContext> format_;
    AvOwner<AVCodecContext> codec_;
    AvOwner<SwrContext> swr_;
    AvOwner<AVPacket> packet_;
    AvOwner<AVFrame> frame_;
    int stream_ = -1;
    uint32_t rate_ = 0;
    uint16_t channels_ = 0;

    std::vector<BYTE> pcm_;
    // The first block is decoded at Open, to learn where the decoded audio
    // begins on the demuxer's clock (origin_); it waits here for the first Next.
    PcmBlock pending_;
    bool havePending_ = false;
    int64_t origin_ = 0;     // demuxer time (100 ns) of the first decoded sample
    bool untouched_ = true;  // nothing delivered since Open: no seek needed for 0
    bool draining_ = false;  // the demuxer is done; the decoder is being flushed
    bool ended_ = false;
    HRESULT error_ = S_OK;
    uint64_t dropUntil_ = 0;  // audio before this time is dropped
    bool haveBase_ = false;   // block times run on from base_ by sample count
    uint64_t base_ = 0;
    uint64_t samplesSinceBase_ = 0;
};

}  // namespace ffsdk
