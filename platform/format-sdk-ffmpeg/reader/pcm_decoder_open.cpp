// SPDX-License-Identifier: MIT
// Opening the decoder: FFmpeg's ASF demuxer over the descriptor the reader
// holds, then the stream's decoder, each step tried again when memory ran out.
#include "pcm_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include <mutex>

namespace ffsdk {

namespace {

using wm::kUnitsPerSecond;

void QuietLogging() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

}  // namespace

HRESULT PcmDecoder::Failure(int error) {
    if (error == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
    if (error == AVERROR(EIO)) return wm::NS_E_FILE_READ;
    return S_OK;
}

PcmDecoder::~PcmDecoder() {
    Close();
}

void PcmDecoder::Close() {
    frame_.reset();
    packet_.reset();
    swr_.reset();
    codec_.reset();
    format_.reset();
    io_.reset();
    std::vector<BYTE>().swap(pcm_);
    std::vector<BYTE>().swap(silence_);
    stream_ = -1;
}

HRESULT PcmDecoder::Open(int file, uint16_t streamNumber, uint32_t rate, uint16_t channels,
                         uint64_t end) {
    Close();
    if (rate == 0 || channels == 0 || file < 0) return wm::NS_E_INVALID_INPUT_FORMAT;
    cursor_.fd = file;
    streamNumber_ = streamNumber;
    rate_ = rate;
    channels_ = channels;
    end_ = static_cast<uint64_t>(av_rescale(static_cast<int64_t>(end), rate, kUnitsPerSecond));
    timeline_.Reset(rate, end_);
    target_ = 0;
    error_ = S_OK;
    indexed_ = Indexed::kNotYet;
    placing_ = false;
    // FFmpeg reports some allocation failures while opening as damaged data:
    // a file whose header was read already gets every try.
    HRESULT hr = E_FAIL;
    for (int i = 0; i < kTries && FAILED(hr); ++i) hr = OpenInput();
    if (FAILED(hr)) Close();
    return hr;
}

HRESULT PcmDecoder::OpenInput() {
    QuietLogging();
    swr_.reset();
    codec_.reset();
    const HRESULT hr = OpenDemuxer();
    if (FAILED(hr)) return hr;
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
    pending_ = false;
    return S_OK;
}

HRESULT PcmDecoder::OpenDemuxer() {
    format_.reset();
    io_.reset();
    const AVInputFormat* asf = av_find_input_format("asf");
    if (asf == nullptr) return E_FAIL;
    // The demuxer reads the descriptor the reader opened, never the path
    // again: what lies at the path now may be another file.
    cursor_.offset = 0;
    io_.reset(MakeFdInput(&cursor_));
    if (!io_) return E_OUTOFMEMORY;
    AVFormatContext* input = avformat_alloc_context();
    if (input == nullptr) return E_OUTOFMEMORY;
    input->pb = io_.get();
    // On failure avformat_open_input frees the context it was given.
    const int opened = avformat_open_input(&input, "", asf, nullptr);
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
    packetsRead_ = 0;
    replayable_ = true;
    return S_OK;
}

}  // namespace ffsdk
