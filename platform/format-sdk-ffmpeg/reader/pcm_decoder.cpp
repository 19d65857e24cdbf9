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
#include <mutex>
#include <new>

namespace ffsdk {

namespace {

using wm::kUnitsPerSecond;
constexpr AVRational kUnitBase = {1, static_cast<int>(kUnitsPerSecond)};

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
    std::vector<BYTE>().swap(silence_);
    stream_ = -1;
}

HRESULT PcmDecoder::Open(const std::string& path, uint16_t streamNumber, uint32_t rate,
                         uint16_t channels, uint64_t end) {
    Close();
    if (rate == 0 || channels == 0) return wm::NS_E_INVALID_INPUT_FORMAT;
    path_ = path;
    streamNumber_ = streamNumber;
    rate_ = rate;
    channels_ = channels;
    timeline_.Reset(
        rate, static_cast<uint64_t>(av_rescale(static_cast<int64_t>(end), rate, kUnitsPerSecond)));
    target_ = 0;
    error_ = S_OK;
    const HRESULT hr = OpenInput();
    if (FAILED(hr)) Close();
    return hr;
}

HRESULT PcmDecoder::OpenInput() {
    QuietLogging();
    swr_.reset();
    codec_.reset();
    format_.reset();
    const AVInputFormat* asf = av_find_input_format("asf");
    if (asf == nullptr) return E_FAIL;
    AVFormatContext* input = nullptr;
    const int opened = avformat_open_input(&input, path_.c_str(), asf, nullptr);
    if (opened != 0)
        return FAILED(Failure(opened)) ? Failure(opened) : wm::NS_E_INVALID_INPUT_FORMAT;
    format_.reset(input);
    // FFmpeg's ASF demuxer makes one stream per Stream Properties object, its
    // id the stream number.
    stream_ = -1;
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        AVStream* st = format_->streams[i];
        if (stream_ < 0 && st->id == streamNumber_ &&
            st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            stream_ = static_cast<int>(i);
        } else {
            st->discard = AVDISCARD_ALL;
        }
    }
    if (stream_ < 0) return wm::NS_E_INVALID_INPUT_FORMAT;
    AVStream* st = format_->streams[stream_];
    const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
    if (decoder == nullptr) return wm::NS_E_AUDIO_CODEC_NOT_INSTALLED;
    codec_.reset(avcodec_alloc_context3(decoder));
    if (!packet_) packet_.reset(av_packet_alloc());
    if (!frame_) frame_.reset(av_frame_alloc());
    if (codec_ == nullptr || packet_ == nullptr || frame_ == nullptr) return E_OUTOFMEMORY;
    const int copied = avcodec_parameters_to_context(codec_.get(), st->codecpar);
    if (copied < 0)
        return FAILED(Failure(copied)) ? Failure(copied) : wm::NS_E_INVALID_INPUT_FORMAT;
    codec_->thread_count = 1;
    codec_->pkt_timebase = st->time_base;
    const int ready = avcodec_open2(codec_.get(), decoder, nullptr);
    if (ready != 0) return FAILED(Failure(ready)) ? Failure(ready) : wm::NS_E_INVALID_INPUT_FORMAT;
    fresh_ = true;
    draining_ = false;
    ended_ = false;
    framePending_ = false;
    silenceLeft_ = 0;
    return S_OK;
}

bool PcmDecoder::Restart() {
    if (!fresh_) {
        const HRESULT hr = OpenInput();
        if (FAILED(hr)) {
            Close();
            return Fail(hr);
        }
    }
    timeline_.Restart();
    return true;
}

bool PcmDecoder::Jump() {
    AVStream* st = format_->streams[stream_];
    const int64_t at = av_rescale_q(timeline_.JumpTime(target_), kUnitBase, st->time_base);
    if (av_seek_frame(format_.get(), stream_, at, AVSEEK_FLAG_BACKWARD) < 0) return false;
    avcodec_flush_buffers(codec_.get());
    swr_.reset();  // made anew for the next frame, without what it held
    timeline_.Jumped(target_);
    fresh_ = false;
    draining_ = false;
    ended_ = false;
    framePending_ = false;
    silenceLeft_ = 0;
    return true;
}

bool PcmDecoder::Seek(uint64_t start) {
    if (format_ == nullptr) return false;
    // The first sample at or after `start`.
    target_ = static_cast<uint64_t>(
        av_rescale_rnd(static_cast<int64_t>(start), rate_, kUnitsPerSecond, AV_ROUND_UP));
    framePending_ = false;
    silenceLeft_ = 0;
    if (target_ > 0 && timeline_.WorthJumping(target_) && Jump()) return true;
    return Restart();
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
            const int received = avcodec_receive_frame(codec_.get(), frame_.get());
            if (received == 0) {
                const int64_t time = timeOf(frame_->best_effort_timestamp);
                const bool converted = Convert();
                av_frame_unref(frame_.get());
                if (!converted) {
                    if (ended_) break;               // no fault of the frame
                    timeline_.PacketRejected(time);  // audio that cannot be delivered
                    continue;
                }
                if (pcmSamples_ == 0) continue;  // the converter holds it for now
                placed_ = timeline_.Frame(time, pcmSamples_);
                return true;
            }
            if (received == AVERROR_EOF || draining_) {
                ended_ = true;
                break;
            }
            if (FAILED(Failure(received))) return Fail(Failure(received));
            if (received != AVERROR(EAGAIN)) {
                // The decoder failed on what it had: that audio is lost.
                timeline_.PacketRejected(Timeline::kNoTime);
                wantInput = true;
                continue;
            }
        }
        wantInput = false;
        fresh_ = false;
        const int read = av_read_frame(format_.get(), packet_.get());
        if (FAILED(Failure(read))) return Fail(Failure(read));
        if (read < 0) {
            // End of file, or a truncated file: flush the decoder.
            draining_ = true;
            if (avcodec_send_packet(codec_.get(), nullptr) < 0) ended_ = true;
            continue;
        }
        if (packet_->stream_index == stream_) {
            const int64_t time =
                timeOf(packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts);
            timeline_.PacketRead(time);
            const int sent = avcodec_send_packet(codec_.get(), packet_.get());
            // A packet the decoder had no memory for is no fault of the file:
            // silence in its place would be a lie.
            if (FAILED(Failure(sent))) {
                av_packet_unref(packet_.get());
                return Fail(Failure(sent));
            }
            if (sent < 0 && sent != AVERROR(EAGAIN)) timeline_.PacketRejected(time);
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
            if (silence_.size() < chunk * frameBytes) {
                try {
                    silence_.assign(static_cast<size_t>(chunk) * frameBytes, 0);
                } catch (const std::bad_alloc&) {
                    return Fail(E_OUTOFMEMORY);
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
        // Far from the target: a jump, where it lands exactly, beats decoding
        // the way there.
        if (target_ > timeline_.position() && timeline_.WorthJumping(target_) && !Jump() &&
            !Restart()) {
            return false;
        }
        if (!Decode()) {
            if (FAILED(error_)) return false;  // cut short: no silence to the end
            silenceAt_ = timeline_.position();
            silenceLeft_ = timeline_.Ended();
            if (silenceLeft_ > 0) continue;
            return false;
        }
        if (placed_.lost) {
            // The times did not hold after the jump: count from the start.
            timeline_.Unstamped();
            if (!Restart()) return false;
            continue;
        }
        if (!placed_.keep) continue;
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
