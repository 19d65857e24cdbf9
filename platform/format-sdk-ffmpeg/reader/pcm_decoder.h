// SPDX-License-Identifier: MIT
// Demuxes one audio stream of an ASF file with FFmpeg and decodes it to 16-bit
// interleaved PCM in the format the stream's header announced, one block per
// decoded frame. Block times come from the timeline (pcm_timeline.h): a
// block's time is the time of its first sample in a decode of the whole file,
// wherever the decode started, and what the decoder refuses becomes silence.
// Memory stays bounded: one packet is read and decoded at a time.
// Not thread-safe: the reader's worker thread is its only user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/av_owner.h"
#include "fd_input.h"
#include "frame_index.h"
#include "pcm_timeline.h"
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

    // Opens the stream numbered `streamNumber` of the ASF file open as `file`
    // (read with pread only; the caller keeps it open until Close) with
    // FFmpeg's demuxer and decoder, delivering `rate` Hz and `channels`
    // channels whatever the decoder gives. `end` is the file's playing
    // duration (100 ns, 0 when unknown). Returns S_OK or a failing HRESULT; on
    // failure nothing stays open. A step that failed for want of memory is
    // tried again a few times before it counts.
    HRESULT Open(int file, uint16_t streamNumber, uint32_t rate, uint16_t channels, uint64_t end);
    void Close();
    bool isOpen() const { return format_ != nullptr; }

    // Positions the stream so that the next block starts with the sample at
    // `start` (100 ns) or the first one after it. False if the stream cannot
    // be positioned.
    bool Seek(uint64_t start);

    // Decodes the next block. False at the end of the stream, or when the
    // stream cannot go on (error() then says why: a failed read, no memory for
    // a restart). What the decoder rejects as damaged becomes silence; audio
    // lost for want of memory, after the retries, is skipped: the next
    // block's time lies past it.
    bool Next(PcmBlock* block);
    // S_OK, or why the stream stopped short of its end.
    HRESULT error() const { return error_; }

  private:
    // A step that failed for want of memory is tried this many times in all:
    // memory a moment ago taken is often free again.
    static constexpr int kTries = 4;
    // Why FFmpeg could not go on, for failures that are no fault of the file;
    // S_OK for the others (the end of the file, damaged data).
    static HRESULT Failure(int error);
    // Demuxer, decoder and converter, all fresh, at the file's start.
    HRESULT OpenInput();
    // A fresh demuxer at the file's start.
    HRESULT OpenDemuxer();
    // A fresh demuxer just after the packets read so far, for a demuxer that
    // stopped short; false if it cannot be had.
    bool Resume();
    // Back to the file's start with a fresh decoder, counting from 0.
    bool Restart();
    // Moves the demuxer to just before target_.
    bool Jump();
    // Counts the file's frames (once) and moves the demuxer to a packet
    // shortly before target_, placing what follows by the count; false where
    // the count is of no use or the packet cannot be reached.
    bool IndexJump();
    // Reads the whole stream into index_, from the file's start.
    bool BuildIndex();
    // Reads on up to packet `which` of the index and keeps it for Decode.
    bool SkipTo(size_t which);
    // The frames after an index jump are not where the count says: the start
    // falls back to a decode from the file's start. Returns true for Decode.
    bool Misplaced();
    // The demuxer was moved: what the decoder, the converter and the delivery
    // held of the old place is dropped.
    void Moved();
    // Decodes the next frame into pcm_ and places it; false when the stream
    // is over.
    bool Decode();
    // Converts frame_ into pcm_; false (with error_ set when it was no fault
    // of the frame) if it cannot.
    bool Convert();
    // Ends the stream with `failure`; returns false.
    bool Fail(HRESULT failure);
    // Hands out `count` samples at `position` (from pcm_ or silence), less
    // what lies before target_; false if nothing is left.
    bool Deliver(uint64_t position, uint64_t count, const BYTE* samples, PcmBlock* block);
    uint64_t ToTime(uint64_t samples) const;
    // The most audio (samples at rate_) a packet of `bytes` bytes can hold.
    uint64_t PacketSamples(int bytes) const;
    // Audio lost for want of memory: what was last read is given up, and
    // the time of what follows shows the loss.
    void Lost();

    FdCursor cursor_;  // the file, and where the demuxer reads next
    uint16_t streamNumber_ = 0;
    uint32_t rate_ = 0;
    uint16_t channels_ = 0;

    AvOwner<AVIOContext> io_;  // outlives format_, which reads through it
    AvOwner<AVFormatContext> format_;
    AvOwner<AVCodecContext> codec_;
    AvOwner<SwrContext> swr_;
    AvOwner<AVPacket> packet_;
    AvOwner<AVFrame> frame_;
    int stream_ = -1;

    Timeline timeline_;
    // The file's frames counted from its packets, once, at the first start
    // far from the beginning.
    enum class Indexed { kNotYet, kReady, kUnusable } indexed_ = Indexed::kNotYet;
    FrameIndex index_;
    IndexedPlacement placement_;
    bool placing_ = false;  // frames are placed by the count, not the timeline
    bool pending_ = false;  // packet_ holds a packet Decode sends before reading
    bool counted_ = false;  // an index jump was tried for this start
    uint64_t target_ = 0;   // samples before this position are dropped
    bool fresh_ = false;    // opened and nothing read yet
    bool draining_ = false;
    bool ended_ = false;
    HRESULT error_ = S_OK;

    std::vector<BYTE> pcm_;      // the converted frame
    uint64_t pcmSamples_ = 0;    // samples in pcm_
    std::vector<BYTE> silence_;  // zeros, one chunk
    Timeline::Placement placed_;
    bool framePending_ = false;       // pcm_ waits behind the silence before it
    bool skipping_ = false;           // the silence before it stands for lost audio: skipped
    uint64_t lastPacketSamples_ = 0;  // PacketSamples of the last packet sent
    uint64_t packetsRead_ = 0;        // of the stream, by this demuxer from the start
    bool replayable_ = false;         // Resume may run
    bool tailLost_ = false;           // memory failed while the decoder was flushed
    bool tailRedone_ = false;         // the end was decoded again once
    uint64_t end_ = 0;                // the file's duration in samples, 0 when unknown
    uint64_t silenceLeft_ = 0;
    uint64_t silenceAt_ = 0;
};

}  // namespace ffsdk
