// SPDX-License-Identifier: MIT
#include "pcm_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <new>

namespace ffsdk {

namespace {

using wm::kUnitsPerSecond;
constexpr AVRational kUnitBase = {1, static_cast<int>(kUnitsPerSecond)};
// No codec of these files codes audio in fewer bits per second: what a packet
// can hold is reckoned at this rate when the stream claims less.
constexpr int64_t kMinBitrate = 2000;

}  // namespace

bool PcmDecoder::Resume() {
    const uint64_t done = packetsRead_;
    // The demuxer that stopped stays until a new one is where it was.
    AvOwner<AVIOContext> io = std::move(io_);
    AvOwner<AVFormatContext> format = std::move(format_);
    const int stream = stream_;
    const int64_t offset = cursor_.offset;
    bool resumed = SUCCEEDED(OpenDemuxer()) && stream_ == stream;
    while (resumed && packetsRead_ < done) {
        resumed = av_read_frame(format_.get(), packet_.get()) >= 0;
        packetsRead_ += resumed && packet_->stream_index == stream_;
        av_packet_unref(packet_.get());
    }
    if (resumed) return true;
    format_ = std::move(format);
    io_ = std::move(io);
    stream_ = stream;
    cursor_.offset = offset;
    packetsRead_ = done;
    return false;
}

bool PcmDecoder::Restart() {
    if (!fresh_) {
        HRESULT hr = E_FAIL;
        for (int i = 0; i < kTries && FAILED(hr); ++i) hr = OpenInput();
        if (FAILED(hr)) {
            Close();
            return Fail(hr);
        }
    }
    timeline_.Restart();
    placing_ = false;
    return true;
}

bool PcmDecoder::Jump() {
    AVStream* st = format_->streams[stream_];
    const int64_t at = av_rescale_q(timeline_.JumpTime(target_), kUnitBase, st->time_base);
    if (av_seek_frame(format_.get(), stream_, at, AVSEEK_FLAG_BACKWARD) < 0) return false;
    Moved();
    timeline_.Jumped(target_);
    placing_ = false;
    pending_ = false;
    return true;
}

void PcmDecoder::Moved() {
    avcodec_flush_buffers(codec_.get());
    swr_.reset();         // made anew for the next frame, without what it held
    replayable_ = false;  // packets are counted from the start only
    fresh_ = false;
    draining_ = false;
    ended_ = false;
    framePending_ = false;
    skipping_ = false;
    silenceLeft_ = 0;
}

bool PcmDecoder::Seek(uint64_t start) {
    if (format_ == nullptr) return false;
    // The first sample at or after `start`.
    target_ = static_cast<uint64_t>(
        av_rescale_rnd(static_cast<int64_t>(start), rate_, kUnitsPerSecond, AV_ROUND_UP));
    tailLost_ = false;
    tailRedone_ = false;
    framePending_ = false;
    silenceLeft_ = 0;
    // A count made for an earlier start serves this one; a first one waits
    // until the times prove not to hold, as a jump by them costs less.
    counted_ = indexed_ == Indexed::kReady;
    if (target_ > 0 && counted_ && IndexJump()) return true;
    if (target_ > 0 && timeline_.WorthJumping(target_) && Jump()) return true;
    return Restart();
}

uint64_t PcmDecoder::PacketSamples(int bytes) const {
    const int64_t bitrate = std::max<int64_t>(codec_ ? codec_->bit_rate : 0, kMinBitrate);
    return static_cast<uint64_t>(av_rescale(std::max(bytes, 0), int64_t{8} * rate_, bitrate));
}

void PcmDecoder::Lost() {
    // What is skipped is never delivered: the times alone say how much.
    timeline_.PacketRejected(Timeline::kNoTime,
                             std::max<uint64_t>(lastPacketSamples_, uint64_t{rate_} * 10));
    skipping_ = true;
}

uint64_t PcmDecoder::ToTime(uint64_t samples) const {
    return static_cast<uint64_t>(av_rescale(static_cast<int64_t>(samples), kUnitsPerSecond, rate_));
}

bool PcmDecoder::Fail(HRESULT failure) {
    error_ = failure;
    ended_ = true;
    return false;
}

bool PcmDecoder::Convert() {
    pcmSamples_ = 0;
    const int channels = frame_->ch_layout.nb_channels;
    if (frame_->nb_samples <= 0 || channels <= 0 || frame_->sample_rate <= 0) return false;
    if (!swr_) {
        // The same layout on both sides when the channel count agrees: a sample
        // format conversion only, never a remix.
        AVChannelLayout in;
        AVChannelLayout out;
        av_channel_layout_default(&out, channels_);
        if (channels == channels_ || av_channel_layout_copy(&in, &frame_->ch_layout) < 0 ||
            in.order == AV_CHANNEL_ORDER_UNSPEC) {
            av_channel_layout_default(&in, channels);
        }
        SwrContext* swr = nullptr;
        const bool made =
            swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_S16, static_cast<int>(rate_), &in,
                                static_cast<AVSampleFormat>(frame_->format), frame_->sample_rate, 0,
                                nullptr) == 0;
        av_channel_layout_uninit(&in);
        av_channel_layout_uninit(&out);
        swr_.reset(swr);
        const int initialised = made ? swr_init(swr_.get()) : AVERROR(ENOMEM);
        if (initialised < 0) {
            swr_.reset();
            if (FAILED(Failure(initialised))) Fail(Failure(initialised));
            return false;
        }
    }
    const int capacity = swr_get_out_samples(swr_.get(), frame_->nb_samples);
    if (capacity <= 0) return false;
    const size_t frameBytes = size_t{channels_} * 2;
    try {
        pcm_.resize(static_cast<size_t>(capacity) * frameBytes);
    } catch (const std::bad_alloc&) {
        return Fail(E_OUTOFMEMORY);
    }
    uint8_t* out = pcm_.data();
    const int got =
        swr_convert(swr_.get(), &out, capacity, const_cast<const uint8_t**>(frame_->extended_data),
                    frame_->nb_samples);
    if (got < 0) {
        if (FAILED(Failure(got))) Fail(Failure(got));
        return false;
    }
    pcmSamples_ = static_cast<uint64_t>(got);
    return true;
}

bool PcmDecoder::Decode() {
    AVStream* st = format_->streams[stream_];
    const auto timeOf = [&](int64_t stamp) {
        return stamp == AV_NOPTS_VALUE ? Timeline::kNoTime
                                       : av_rescale_q(stamp, st->time_base, kUnitBase);
    };
    bool wantInput = false;
    while (!ended_) {
        if (!wantInput) {
            int received = avcodec_receive_frame(codec_.get(), frame_.get());
            // A frame the decoder had no memory for is lost to it: its time
            // after the next frame's shows it.
            for (int i = 1; received == AVERROR(ENOMEM) && i < kTries; ++i) {
                if (placing_) return Misplaced();
                Lost();
                tailLost_ = tailLost_ || draining_;
                received = avcodec_receive_frame(codec_.get(), frame_.get());
            }
            if (received == 0) {
                const int64_t time = timeOf(frame_->best_effort_timestamp);
                const uint64_t length = frame_->sample_rate > 0
                                            ? static_cast<uint64_t>(av_rescale(
                                                  frame_->nb_samples, rate_, frame_->sample_rate))
                                            : 0;
                bool converted = Convert();
                for (int i = 1; !converted && error_ == E_OUTOFMEMORY && i < kTries; ++i) {
                    error_ = S_OK;
                    ended_ = false;
                    swr_.reset();
                    converted = Convert();
                }
                av_frame_unref(frame_.get());
                if (!converted && error_ == E_OUTOFMEMORY) {
                    // Lost for good: skipped, and the decode goes on.
                    error_ = S_OK;
                    ended_ = false;
                    swr_.reset();
                    lastPacketSamples_ = length;
                    if (placing_) return Misplaced();
                    Lost();
                    continue;
                }
                if (!converted) {
                    if (ended_) break;  // no fault of the frame
                    if (placing_) return Misplaced();
                    timeline_.PacketRejected(time, length);  // audio that cannot be delivered
                    continue;
                }
                if (pcmSamples_ == 0) continue;  // the converter holds it for now
                placed_ =
                    placing_ ? placement_.Frame(pcmSamples_) : timeline_.Frame(time, pcmSamples_);
                return true;
            }
            if (received == AVERROR_EOF || draining_) {
                ended_ = true;
                break;
            }
            if (received == AVERROR(ENOMEM)) {
                if (placing_) return Misplaced();
                Lost();
                wantInput = true;
                continue;
            }
            if (FAILED(Failure(received))) return Fail(Failure(received));
            if (received != AVERROR(EAGAIN)) {
                // The decoder failed on what it had: that audio is lost.
                if (placing_) return Misplaced();
                timeline_.PacketRejected(Timeline::kNoTime, lastPacketSamples_);
                wantInput = true;
                continue;
            }
        }
        wantInput = false;
        fresh_ = false;
        int read = pending_ ? 0 : av_read_frame(format_.get(), packet_.get());
        pending_ = false;
        // The demuxer may have given up the packet it had no memory for.
        for (int i = 1; read == AVERROR(ENOMEM) && i < kTries; ++i) {
            if (placing_) return Misplaced();
            Lost();
            read = av_read_frame(format_.get(), packet_.get());
        }
        // The demuxer reports some allocation failures as the end of the
        // file, and stays there. An end well short of the file's duration is
        // read again once by a new demuxer, from the packet after the last
        // one read: the decoder goes on as if nothing happened.
        if (read == AVERROR_EOF && replayable_ && timeline_.position() + rate_ / 100 < end_) {
            if (Resume()) {
                st = format_->streams[stream_];
                read = av_read_frame(format_.get(), packet_.get());
            }
            replayable_ = false;
        }
        if (FAILED(Failure(read))) return Fail(Failure(read));
        if (read < 0) {
            // End of file, or a truncated file: flush the decoder.
            draining_ = true;
            int flushed = avcodec_send_packet(codec_.get(), nullptr);
            for (int i = 1; flushed == AVERROR(ENOMEM) && i < kTries; ++i)
                flushed = avcodec_send_packet(codec_.get(), nullptr);
            // A flush refused means what the decoder held is lost.
            tailLost_ = tailLost_ || flushed < 0;
            if (flushed < 0) ended_ = true;
            continue;
        }
        if (packet_->stream_index == stream_) {
            const auto verdict =
                placing_ ? placement_.Packet(*packet_) : IndexedPlacement::Verdict::kSend;
            if (verdict != IndexedPlacement::Verdict::kSend) {
                av_packet_unref(packet_.get());
                if (verdict == IndexedPlacement::Verdict::kSkip) continue;
                return Misplaced();
            }
            ++packetsRead_;
            const int64_t time =
                timeOf(packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts);
            if (!placing_) timeline_.PacketRead(time);
            lastPacketSamples_ = PacketSamples(packet_->size);
            int sent = avcodec_send_packet(codec_.get(), packet_.get());
            for (int i = 1; sent == AVERROR(ENOMEM) && i < kTries; ++i)
                sent = avcodec_send_packet(codec_.get(), packet_.get());
            // A packet the decoder had no memory for is no fault of the file:
            // silence in its place would be a lie; it is skipped.
            if (FAILED(Failure(sent)) && sent != AVERROR(ENOMEM)) {
                av_packet_unref(packet_.get());
                return Fail(Failure(sent));
            }
            if (sent < 0 && sent != AVERROR(EAGAIN) && placing_) {
                // An indexed start meets a packet it cannot count on.
                av_packet_unref(packet_.get());
                return Misplaced();
            }
            if (sent == AVERROR(ENOMEM)) {
                Lost();
            } else if (sent < 0 && sent != AVERROR(EAGAIN)) {
                timeline_.PacketRejected(time, lastPacketSamples_);
            }
        }
        av_packet_unref(packet_.get());
    }
    return false;
}

bool PcmDecoder::Deliver(uint64_t position, uint64_t count, const BYTE* samples, PcmBlock* block) {
    // The file's playing duration ends its audio, to the sample: what the last
    // frame holds beyond it is the encoder's padding.
    const uint64_t end = timeline_.end();
    if (end > 0 && position + count > end) count = position < end ? end - position : 0;
    const uint64_t first = target_ > position ? target_ - position : 0;
    if (first >= count) return false;
    const size_t frameBytes = size_t{channels_} * 2;
    block->time = ToTime(position + first);
    block->duration = ToTime(position + count) - block->time;
    block->data = samples + first * frameBytes;
    block->size = static_cast<size_t>(count - first) * frameBytes;
    return true;
}

bool PcmDecoder::Next(PcmBlock* block) {
    if (format_ == nullptr) return false;
    const size_t frameBytes = size_t{channels_} * 2;
    for (;;) {
        if (silenceLeft_ > 0) {
            // Silence goes out in blocks of at most a tenth of a second.
            const uint64_t chunk = std::max<uint64_t>(1, rate_ / 10);
            for (int i = 0; silence_.size() < chunk * frameBytes; ++i) {
                try {
                    silence_.assign(static_cast<size_t>(chunk) * frameBytes, 0);
                } catch (const std::bad_alloc&) {
                    if (i + 1 == kTries) return Fail(E_OUTOFMEMORY);
                }
            }
            const uint64_t count = std::min(silenceLeft_, chunk);
            const uint64_t at = silenceAt_;
            silenceAt_ += count;
            silenceLeft_ -= count;
            if (Deliver(at, count, silence_.data(), block)) return true;
            continue;
        }
        if (framePending_) {
            framePending_ = false;
            if (Deliver(placed_.position, pcmSamples_, pcm_.data(), block)) return true;
            continue;
        }
        // Far from a target in a file whose times do not hold: a jump by the
        // frame count, where one can be made, beats decoding the way there.
        if (!placing_ && !counted_ && indexed_ != Indexed::kUnusable && timeline_.unstamped() &&
            target_ > timeline_.position() + 2 * uint64_t{rate_}) {
            counted_ = true;
            if (IndexJump()) continue;
            if (indexed_ != Indexed::kReady && !Restart()) return false;
        }
        // Far from the target: a jump, where it lands exactly, beats decoding
        // the way there.
        if (!placing_ && target_ > timeline_.position() && timeline_.WorthJumping(target_) &&
            !Jump() && !Restart()) {
            return false;
        }
        if (!Decode()) {
            if (FAILED(error_)) return false;  // cut short: no silence to the end
            if (tailLost_ && !tailRedone_) {
                // What the decoder still held at the end was lost: no later
                // block could show it. Decoded again from the start, once,
                // delivering only what is missing.
                tailLost_ = false;
                tailRedone_ = true;
                skipping_ = false;
                // After a start by the count, the timeline did not follow.
                const uint64_t reached =
                    !placing_ ? timeline_.position()
                              : (placement_.delivering() ? placement_.position() : 0);
                target_ = std::max(target_, reached);
                if (!Restart()) return false;
                continue;
            }
            silenceAt_ = timeline_.position();
            silenceLeft_ = placing_ ? 0 : timeline_.Ended();
            if (skipping_) silenceLeft_ = 0;  // lost audio is not made up
            skipping_ = false;
            if (silenceLeft_ > 0) continue;
            return false;
        }
        if (placed_.lost && placing_) {
            // The count did not hold: decode from the start, on from what
            // was delivered, and count no more.
            indexed_ = Indexed::kUnusable;
            if (placement_.delivering()) target_ = std::max(target_, placement_.position());
            if (!Restart()) return false;
            continue;
        }
        if (placed_.lost) {
            // The times did not hold after the jump: count from the start.
            timeline_.Unstamped();
            if (!Restart()) return false;
            continue;
        }
        if (!placed_.keep) continue;
        // Audio lost for want of memory is skipped: the frame keeps its place.
        if (skipping_) placed_.silence = 0;
        skipping_ = false;
        if (placed_.silence > 0) {
            silenceAt_ = placed_.position - placed_.silence;
            silenceLeft_ = placed_.silence;
            framePending_ = true;
            continue;
        }
        if (Deliver(placed_.position, pcmSamples_, pcm_.data(), block)) return true;
    }
}

}  // namespace ffsdk
