// SPDX-License-Identifier: MIT
#include "encode/wma_encoder.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "encode/asf_index.h"
#include "encode/codec_catalog.h"
#include "encode/output_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace ffsdk {
namespace {

// The ASF muxer's fixed preroll and the data packet size we ask it for (its
// default); the seek index is computed with both.
constexpr uint64_t kPrerollMs = 3100;
constexpr uint32_t kPacketSize = 3200;
constexpr uint16_t kStreamNumber = 1;  // the muxer numbers streams from 1
constexpr uint32_t kMaxSampleRate = 48000;
constexpr uint32_t kMinBitrate = 24000;
// Packets before the one that completes written sample 0.
constexpr uint64_t kLeadPackets = 2;

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FormatDeleter {
    void operator()(AVFormatContext* f) const {
        f->pb = nullptr;  // the OutputFile's
        avformat_free_context(f);
    }
};

// Library code prints nothing; FFmpeg would log to stderr by default.
void QuietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

Result ResultFromAv(int err) {
    if (err == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
    if (err < 0 && err > -4096) return wm::ResultFromErrno(-err);  // AVERROR(errno)
    return E_FAIL;
}

bool FormatIsPlausible(const wm::WaveFormat& f) {
    return f.formatTag == kWmaV2FormatTag && (f.channels == 1 || f.channels == 2) &&
           f.samplesPerSec > 0 && f.samplesPerSec <= kMaxSampleRate &&
           uint64_t{f.avgBytesPerSec} * 8 >= kMinBitrate && f.bitsPerSample == 16;
}

}  // namespace

struct WmaFileEncoder::State {
    std::string path;
    std::unique_ptr<AVCodecContext, CodecDeleter> codec;
    std::unique_ptr<AVFrame, FrameDeleter> frame;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    OutputFile output;  // outlives the muxer writing to it
    std::unique_ptr<AVFormatContext, FormatDeleter> format;
    uint32_t frameLength = 0;
    uint32_t channels = 0;
    uint32_t rate = 0;
    uint32_t filled = 0;               // samples per channel in `frame`
    uint64_t framesSent = 0;           // codec frames sent, priming included
    uint64_t packetsMuxed = 0;         // packets taken from the encoder
    uint64_t lastPacket = UINT64_MAX;  // known once finishing
    uint64_t endMs = 0;                // play duration, known once finishing
    int64_t firstPacketOffset = 0;
    AsfIndexBuilder index;
};

uint64_t WmaFileEncoder::PacketTimeMs(uint64_t k) const {
    if (k < kLeadPackets) return k;
    const uint64_t samples = (k - kLeadPackets) * state_->frameLength;
    return std::max<uint64_t>(kLeadPackets, (samples * 1000 + state_->rate / 2) / state_->rate);
}

Result WmaFileEncoder::SendFrame(bool flush) {
    State& s = *state_;
    if (!flush) {
        s.frame->pts = static_cast<int64_t>(s.framesSent * s.frameLength);
        ++s.framesSent;
    }
    int ret = avcodec_send_frame(s.codec.get(), flush ? nullptr : s.frame.get());
    if (ret < 0) return ResultFromAv(ret);
    while ((ret = avcodec_receive_packet(s.codec.get(), s.packet.get())) == 0) {
        const Result muxed = MuxPacket();
        av_packet_unref(s.packet.get());
        if (!muxed) return muxed;
    }
    return ret == AVERROR(EAGAIN) || ret == AVERROR_EOF ? S_OK : ResultFromAv(ret);
}

Result WmaFileEncoder::MuxPacket() {
    State& s = *state_;
    const uint64_t k = s.packetsMuxed++;
    // Anything after the packet that completes the last written sample holds
    // only the padding.
    if (k > s.lastPacket) return S_OK;
    const uint64_t startMs = PacketTimeMs(k);
    // A zero duration would make the muxer substitute a whole frame's.
    const uint64_t stopMs =
        k == s.lastPacket ? std::max(s.endMs, startMs + 1) : PacketTimeMs(k + 1);

    AVStream* stream = s.format->streams[0];
    const AVRational ms{1, 1000};
    s.packet->stream_index = 0;
    s.packet->pts = av_rescale_q(static_cast<int64_t>(startMs), ms, stream->time_base);
    s.packet->dts = s.packet->pts;
    s.packet->duration =
        av_rescale_q(static_cast<int64_t>(stopMs - startMs), ms, stream->time_base);

    const int64_t at = avio_tell(s.format->pb) - s.firstPacketOffset;
    if (at < 0) return E_UNEXPECTED;
    const uint64_t dataPacket = static_cast<uint64_t>(at) / kPacketSize;
    if (dataPacket > UINT32_MAX) return wm::E_DISK_FULL;  // beyond what ASF addresses
    if (!s.index.AddPayload(startMs + kPrerollMs, static_cast<uint32_t>(dataPacket))) {
        return E_OUTOFMEMORY;
    }
    const int ret = av_write_frame(s.format.get(), s.packet.get());
    return ret < 0 ? ResultFromAv(ret) : S_OK;
}

WmaFileEncoder::WmaFileEncoder() = default;
WmaFileEncoder::~WmaFileEncoder() = default;

bool WmaFileEncoder::IsOpen() const {
    return state_ != nullptr;
}

uint32_t WmaFileEncoder::CodecFrameLength() const {
    return state_ ? state_->frameLength : 0;
}

Result WmaFileEncoder::Fail(Result result) {
    state_.reset();
    return result;
}

void WmaFileEncoder::Abort() {
    state_.reset();
}

Result WmaFileEncoder::Open(const char* path, const uint8_t* waveFormatEx, size_t len) {
    if (state_) return wm::NS_E_INVALID_REQUEST;
    framesWritten_ = 0;
    if (path == nullptr || waveFormatEx == nullptr) return Fail(E_POINTER);
    wm::WaveFormat wf;
    if (!wm::ReadWholeWaveFormat(waveFormatEx, len, &wf) || !FormatIsPlausible(wf)) {
        return Fail(wm::NS_E_INVALID_INPUT_FORMAT);
    }
    QuietFfmpegLog();

    std::unique_ptr<State> s(new (std::nothrow) State);
    if (!s) return Fail(E_OUTOFMEMORY);
    try {
        s->path = path;
    } catch (const std::bad_alloc&) {
        return Fail(E_OUTOFMEMORY);
    }
    s->channels = wf.channels;
    s->rate = wf.samplesPerSec;

    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (encoder == nullptr) return Fail(wm::NS_E_AUDIO_CODEC_NOT_INSTALLED);
    s->codec.reset(avcodec_alloc_context3(encoder));
    s->frame.reset(av_frame_alloc());
    s->packet.reset(av_packet_alloc());
    if (!s->codec || !s->frame || !s->packet) return Fail(E_OUTOFMEMORY);
    AVCodecContext* c = s->codec.get();
    c->sample_rate = static_cast<int>(wf.samplesPerSec);
    av_channel_layout_default(&c->ch_layout, wf.channels);
    c->bit_rate = int64_t{wf.avgBytesPerSec} * 8;
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->time_base = AVRational{1, c->sample_rate};
    if (avcodec_open2(c, encoder, nullptr) < 0) return Fail(wm::NS_E_INVALID_INPUT_FORMAT);
    // The muxer stores the encoder's block size and codec data; a format the
    // encoder would not reproduce exactly must not be accepted.
    if (c->block_align != wf.blockAlign || c->extradata_size != wf.cbSize ||
        (wf.cbSize != 0 && std::memcmp(c->extradata, wf.extra, wf.cbSize) != 0) ||
        c->frame_size <= 0) {
        return Fail(wm::NS_E_INVALID_INPUT_FORMAT);
    }
    s->frameLength = static_cast<uint32_t>(c->frame_size);

    AVFrame* f = s->frame.get();
    f->nb_samples = c->frame_size;
    f->format = c->sample_fmt;
    f->sample_rate = c->sample_rate;
    if (av_channel_layout_copy(&f->ch_layout, &c->ch_layout) < 0 || av_frame_get_buffer(f, 0) < 0) {
        return Fail(E_OUTOFMEMORY);
    }

    AVFormatContext* fmt = nullptr;
    int ret = avformat_alloc_output_context2(&fmt, nullptr, "asf", nullptr);
    if (ret < 0 || fmt == nullptr) return Fail(ResultFromAv(ret));
    s->format.reset(fmt);
    if (av_opt_set_int(fmt->priv_data, "packet_size", kPacketSize, 0) < 0) return Fail(E_FAIL);
    AVStream* stream = avformat_new_stream(fmt, nullptr);
    if (stream == nullptr) return Fail(E_OUTOFMEMORY);
    if (avcodec_parameters_from_context(stream->codecpar, c) < 0) return Fail(E_OUTOFMEMORY);
    stream->time_base = AVRational{1, 1000};

    std::string room;
    try {
        room.assign(kTagRoomChars, ' ');
    } catch (const std::bad_alloc&) {
        return Fail(E_OUTOFMEMORY);
    }
    // Header room for the tags written later (see kTagRoomName).
    if (av_dict_set(&fmt->metadata, kTagRoomName, room.c_str(), 0) < 0) return Fail(E_OUTOFMEMORY);
    const Result opened = s->output.Open(s->path);
    if (!opened) return Fail(opened);
    fmt->pb = s->output.io();
    fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    ret = avformat_write_header(fmt, nullptr);
    if (ret < 0) return Fail(ResultFromAv(ret));
    s->firstPacketOffset = avio_tell(fmt->pb);

    // The priming frame: silence the encoder transforms ahead of sample 0.
    for (int ch = 0; ch < c->ch_layout.nb_channels; ++ch) {
        std::memset(f->data[ch], 0, sizeof(float) * s->frameLength);
    }
    state_ = std::move(s);
    const Result primed = SendFrame();
    if (!primed) return Fail(primed);
    return S_OK;
}

Result WmaFileEncoder::Write(const int16_t* interleaved, size_t frames) {
    if (!state_) return wm::NS_E_INVALID_REQUEST;
    if (frames == 0) return S_OK;
    if (interleaved == nullptr) return Fail(E_POINTER);
    State& s = *state_;
    AVFrame* f = s.frame.get();
    constexpr float kScale = 1.0f / 32768.0f;
    while (frames > 0) {
        if (s.filled == 0 && av_frame_make_writable(f) < 0) return Fail(E_OUTOFMEMORY);
        const size_t n = std::min<size_t>(s.frameLength - s.filled, frames);
        for (uint32_t ch = 0; ch < s.channels; ++ch) {
            float* dst = reinterpret_cast<float*>(f->data[ch]) + s.filled;
            const int16_t* src = interleaved + ch;
            for (size_t i = 0; i < n; ++i) dst[i] = src[i * s.channels] * kScale;
        }
        interleaved += n * s.channels;
        frames -= n;
        s.filled += static_cast<uint32_t>(n);
        framesWritten_ += n;
        if (s.filled == s.frameLength) {
            s.filled = 0;
            const Result sent = SendFrame();
            if (!sent) return Fail(sent);
        }
    }
    // What these samples completed is in the file, or the write fails here.
    const Result stored = s.output.Flush();
    if (!stored) return Fail(stored);
    return S_OK;
}

Result WmaFileEncoder::Finish() {
    if (!state_) return wm::NS_E_INVALID_REQUEST;
    State& s = *state_;
    AVFrame* f = s.frame.get();
    // Frames holding written samples, the partial one included; packet
    // (frames + 1) completes the last of them.
    const uint64_t dataFrames = (framesWritten_ + s.frameLength - 1) / s.frameLength;
    s.lastPacket = dataFrames + kLeadPackets - 1;
    s.endMs = (framesWritten_ * 1000 + s.rate - 1) / s.rate;

    // Pad the partial frame with silence, then one frame of silence so a
    // packet completes the last written frame.
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1 || s.filled > 0) {
            if (s.filled == 0 && av_frame_make_writable(f) < 0) return Fail(E_OUTOFMEMORY);
            for (uint32_t ch = 0; ch < s.channels; ++ch) {
                float* dst = reinterpret_cast<float*>(f->data[ch]);
                std::fill(dst + s.filled, dst + s.frameLength, 0.0f);
            }
            s.filled = 0;
            const Result sent = SendFrame();
            if (!sent) return Fail(sent);
        }
    }
    const Result flushed = SendFrame(true);
    if (!flushed) return Fail(flushed);
    if (s.packetsMuxed <= s.lastPacket) return Fail(E_UNEXPECTED);

    int ret = av_write_trailer(s.format.get());
    if (ret < 0) return Fail(ResultFromAv(ret));
    s.format->pb = nullptr;
    const Result closed = s.output.Close();
    if (!closed) return Fail(closed);
    if (!s.index.Finish(s.endMs + kPrerollMs)) return Fail(E_OUTOFMEMORY);
    // The play duration to the 100 ns, rounded up: it ends within the last
    // written sample, so a reader cuts the padding after it and nothing more.
    const uint64_t played =
        (framesWritten_ * wm::kUnitsPerSecond + s.rate - 1) / s.rate + kPrerollMs * 10000;
    const Result indexed =
        AppendAsfIndex(s.path.c_str(), s.index, kStreamNumber,
                       static_cast<uint64_t>(s.firstPacketOffset), kPacketSize, kPrerollMs, played);
    if (!indexed) return Fail(indexed);
    state_.reset();
    return S_OK;
}

}  // namespace ffsdk
