// SPDX-License-Identifier: MIT
#include "pcm_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

#include <cstring>
#include <mutex>
#include <new>

namespace ffsdk {

namespace {

constexpr int64_t kUnitsPerSecond = 10000000;  // 100 ns units
constexpr AVRational kUnitBase = {1, 10000000};
// A decoded frame whose time is further than this from where the running
// sample count puts it starts a new time base (a gap in the stream).
constexpr int64_t kResyncThreshold = kUnitsPerSecond / 10;
constexpr uint16_t kMaxChannels = 8;
constexpr int64_t kSeekLeadIn = kUnitsPerSecond / 2;

// Why FFmpeg could not go on, for failures that are no fault of the file; S_OK
// for the others (the end of the file, damaged data).
HRESULT Failure(int error) {
    if (error == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
    if (error == AVERROR(EIO)) return wm::NS_E_FILE_READ;
    return S_OK;
}

void QuietLogging() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

}  // namespace

PcmDecoder::~PcmDecoder() {
    Close();
}

void PcmDecoder::Close() {
    frame_.reset();
    packet_.reset();
    swr_.reset();
    codec_.reset();
    format_.reset();
    std::vector<BYTE>().swap(pcm_);
    stream_ = -1;
    rate_ = 0;
    channels_ = 0;
}

HRESULT PcmDecoder::Open(const std::string& path) {
    Close();
    QuietLogging();
    HRESULT hr = wm::NS_E_INVALID_INPUT_FORMAT;
    const AVInputFormat* asf = av_find_input_format("asf");
    if (asf == nullptr) {
        hr = E_FAIL;
    } else if (AVFormatContext* input = nullptr;
               avformat_open_input(&input, path.c_str(), asf, nullptr) == 0) {
        format_.reset(input);
        const AVCodec* decoder = nullptr;
        stream_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (stream_ == AVERROR_DECODER_NOT_FOUND) {
            hr = wm::NS_E_AUDIO_CODEC_NOT_INSTALLED;
        } else if (stream_ >= 0 && decoder != nullptr) {
            for (unsigned i = 0; i < format_->nb_streams; ++i) {
                if (static_cast<int>(i) != stream_) format_->streams[i]->discard = AVDISCARD_ALL;
            }
            hr = E_OUTOFMEMORY;
            AVStream* st = format_->streams[stream_];
            codec_.reset(avcodec_alloc_context3(decoder));
            packet_.reset(av_packet_alloc());
            frame_.reset(av_frame_alloc());
            if (codec_ != nullptr && packet_ != nullptr && frame_ != nullptr) {
                hr = wm::NS_E_INVALID_INPUT_FORMAT;
                if (avcodec_parameters_to_context(codec_.get(), st->codecpar) >= 0) {
                    codec_->thread_count = 1;
                    codec_->pkt_timebase = st->time_base;
                    if (avcodec_open2(codec_.get(), decoder, nullptr) == 0) {
                        const int rate = codec_->sample_rate;
                        const int channels = codec_->ch_layout.nb_channels;
                        if (rate > 0 && channels > 0 && channels <= kMaxChannels) {
                            rate_ = static_cast<uint32_t>(rate);
                            channels_ = static_cast<uint16_t>(channels);
                            // The same layout on both sides: a sample format
                            // conversion only, never a remix.
                            AVChannelLayout layout;
                            av_channel_layout_default(&layout, channels);
                            SwrContext* swr = nullptr;
                            if (swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_S16, rate, &layout,
                                                    codec_->sample_fmt, rate, 0, nullptr) == 0) {
                                swr_.reset(swr);
                                if (swr_init(swr_.get()) == 0) hr = S_OK;
                            }
                            av_channel_layout_uninit(&layout);
                        }
                    }
                }
            }
        }
    }
    if (FAILED(hr)) {
        Close();
        return hr;
    }
    draining_ = false;
    ended_ = false;
    error_ = S_OK;
    dropUntil_ = 0;
    haveBase_ = false;
    origin_ = 0;
    // Decoders may hold back their first packets (WMA's first two frames give
    // no audio), so the decoded audio can begin later than the packets do.
    // Times are counted from the first decoded sample.
    havePending_ = Next(&pending_);
    if (FAILED(error_)) {
        const HRESULT failure = error_;
        Close();
        return failure;
    }
    if (havePending_) {
        origin_ = static_cast<int64_t>(pending_.time);
        base_ -= pending_.time;
        pending_.time = 0;
    }
    untouched_ = true;
    return S_OK;
}

bool PcmDecoder::Seek(uint64_t start) {
    if (format_ == nullptr) return false;
    if (untouched_ && start == 0) return true;  // the first block is still waiting
    havePending_ = false;
    // Land a little early: after a jump the decoder needs a few frames before
    // its output is whole again, and those frames fall before `start`.
    int64_t from = static_cast<int64_t>(start) + origin_ - kSeekLeadIn;
    if (from < 0) from = 0;
    const int64_t target = av_rescale_q(from, kUnitBase, format_->streams[stream_]->time_base);
    if (av_seek_frame(format_.get(), stream_, target, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(format_.get(), stream_, 0, AVSEEK_FLAG_BACKWARD) < 0 &&
        avformat_seek_file(format_.get(), -1, INT64_MIN, 0, 0, AVSEEK_FLAG_BYTE) < 0) {
        ended_ = true;
        return false;
    }
    avcodec_flush_buffers(codec_.get());
    // Drop whatever the converter might still hold.
    if (swr_init(swr_.get()) < 0) {
        ended_ = true;
        return false;
    }
    untouched_ = false;
    draining_ = false;
    ended_ = false;
    dropUntil_ = start;
    haveBase_ = false;
    return true;
}

bool PcmDecoder::Next(PcmBlock* block) {
    if (format_ == nullptr) return false;
    untouched_ = false;
    if (havePending_) {
        havePending_ = false;
        *block = pending_;
        return true;
    }
    while (!ended_) {
        const int received = avcodec_receive_frame(codec_.get(), frame_.get());
        if (received == 0) {
            const bool kept = Convert(block);
            av_frame_unref(frame_.get());
            if (kept) return true;
            if (FAILED(error_)) break;
            continue;
        }
        if (received != AVERROR(EAGAIN) || draining_) {
            ended_ = true;  // AVERROR_EOF after the flush, or a decoder failure
            error_ = Failure(received);
            break;
        }
        const int read = av_read_frame(format_.get(), packet_.get());
        if (FAILED(Failure(read))) {
            error_ = Failure(read);
            ended_ = true;
            break;
        }
        if (read < 0) {
            // End of file, or a truncated file: flush the decoder.
            draining_ = true;
            if (avcodec_send_packet(codec_.get(), nullptr) < 0) ended_ = true;
            continue;
        }
        if (packet_->stream_index == stream_) {
            // A packet the decoder rejects is skipped, as a player would; one
            // it had no memory for is not its fault, and stops the stream.
            error_ = Failure(avcodec_send_packet(codec_.get(), packet_.get()));
            ended_ = FAILED(error_);
        }
        av_packet_unref(packet_.get());
    }
    return false;
}

uint64_t PcmDecoder::SamplesToTime(uint64_t samples) const {
    return static_cast<uint64_t>(
        av_rescale(static_cast<int64_t>(samples), kUnitsPerSecond, static_cast<int64_t>(rate_)));
}

bool PcmDecoder::Convert(PcmBlock* block) {
    if (frame_->nb_samples <= 0 || frame_->ch_layout.nb_channels != channels_ ||
        frame_->sample_rate != static_cast<int>(rate_)) {
        return false;
    }
    const int capacity = swr_get_out_samples(swr_.get(), frame_->nb_samples);
    if (capacity <= 0) return false;
    const size_t frameBytes = static_cast<size_t>(channels_) * 2;
    try {
        pcm_.resize(static_cast<size_t>(capacity) * frameBytes);
    } catch (const std::bad_alloc&) {
        error_ = E_OUTOFMEMORY;
        ended_ = true;
        return false;
    }
    uint8_t* out = pcm_.data();
    const int got =
        swr_convert(swr_.get(), &out, capacity, const_cast<const uint8_t**>(frame_->extended_data),
                    frame_->nb_samples);
    if (got <= 0) {
        error_ = Failure(got);
        ended_ = FAILED(error_);
        return false;
    }

    // Times follow the sample count from the first frame after a start, so
    // they do not pick up the millisecond rounding of the packet times.
    int64_t stamp = frame_->best_effort_timestamp;
    const uint64_t expected = base_ + SamplesToTime(samplesSinceBase_);
    if (stamp != AV_NOPTS_VALUE) {
        stamp = av_rescale_q(stamp, format_->streams[stream_]->time_base, kUnitBase) - origin_;
        if (stamp < 0) stamp = 0;
        const int64_t drift = stamp - static_cast<int64_t>(expected);
        if (!haveBase_ || drift > kResyncThreshold || drift < -kResyncThreshold) {
            base_ = static_cast<uint64_t>(stamp);
            samplesSinceBase_ = 0;
        }
    } else if (!haveBase_) {
        base_ = dropUntil_;
        samplesSinceBase_ = 0;
    }
    haveBase_ = true;
    uint64_t time = base_ + SamplesToTime(samplesSinceBase_);
    samplesSinceBase_ += static_cast<uint64_t>(got);

    size_t first = 0;
    const size_t count = static_cast<size_t>(got);
    if (dropUntil_ > 0) {
        const uint64_t end = time + SamplesToTime(count);
        if (end <= dropUntil_) return false;
        if (time < dropUntil_) {
            first = static_cast<size_t>(av_rescale(static_cast<int64_t>(dropUntil_ - time),
                                                   static_cast<int64_t>(rate_), kUnitsPerSecond));
            if (first >= count) return false;
            time += SamplesToTime(first);
        }
        dropUntil_ = 0;
    }
    block->time = time;
    block->duration = SamplesToTime(count - first);
    block->data = pcm_.data() + first * frameBytes;
    block->size = (count - first) * frameBytes;
    return true;
}

}  // namespace ffsdk
