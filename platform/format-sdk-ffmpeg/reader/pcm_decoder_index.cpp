// SPDX-License-Identifier: MIT
// The decoder's jumps by the frame count (frame_index.h): the count is made
// once per open file, at the first start far from the beginning.
#include "packet_walk.h"
#include "pcm_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include <vector>

namespace ffsdk {

namespace {

// Packets decoded to check the count where the decoder starts.
constexpr size_t kCheckedPackets = 3;

}  // namespace

bool PcmDecoder::BuildIndex() {
    if (!fresh_ && FAILED(OpenInput())) return false;
    const AVCodecParameters* codec = format_->streams[stream_]->codecpar;
    // Counted samples are the delivered ones only without resampling.
    if (codec->sample_rate != static_cast<int>(rate_) || !index_.Prepare(*codec)) return false;
    fresh_ = false;
    // What the decoder gives for the first packets, which it treats as no
    // others, is checked against the count before the count is trusted.
    std::vector<uint64_t> given;
    while (given.size() < kCheckedPackets && av_read_frame(format_.get(), packet_.get()) >= 0) {
        if (packet_->stream_index == stream_) {
            uint64_t samples = 0;
            if (avcodec_send_packet(codec_.get(), packet_.get()) == 0) {
                while (avcodec_receive_frame(codec_.get(), frame_.get()) == 0) {
                    samples += static_cast<uint64_t>(frame_->nb_samples);
                    av_frame_unref(frame_.get());
                }
            }
            given.push_back(samples);
        }
        av_packet_unref(packet_.get());
    }
    avcodec_flush_buffers(codec_.get());
    const bool walked =
        WalkMediaObjects(format_->pb, streamNumber_,
                         [this](int64_t pos, int64_t pts, const uint8_t* data, int size) {
                             return index_.Add(pos, pts, data, size);
                         });
    if (!walked || index_.size() <= given.size()) return false;
    for (size_t i = 0; i < given.size(); ++i) {
        if (given[i] != index_.Samples(i)) return false;
    }
    return true;
}

bool PcmDecoder::SkipTo(size_t which) {
    fresh_ = false;
    while (av_read_frame(format_.get(), packet_.get()) >= 0) {
        if (packet_->stream_index == stream_) {
            const size_t read = index_.Locate(*packet_);
            if (read == which) {
                pending_ = true;
                return true;
            }
            // Past it: the demuxer landed too late.
            if (read != FrameIndex::kNone && read > which) break;
        }
        av_packet_unref(packet_.get());
    }
    av_packet_unref(packet_.get());
    return false;
}

bool PcmDecoder::IndexJump() {
    constexpr uint64_t kSettleFrames = 4;
    if (target_ < 2 * uint64_t{rate_}) return false;  // decoding there costs as little
    if (indexed_ == Indexed::kNotYet)
        indexed_ = BuildIndex() ? Indexed::kReady : Indexed::kUnusable;
    if (indexed_ != Indexed::kReady) return false;
    // Delivery starts with the packet holding the target; decoding starts at
    // least two packets and a few frames earlier, so that the frames
    // delivered are whole.
    const size_t settled = index_.Find(target_);
    if (settled == FrameIndex::kNone || settled < 2) return false;
    const uint64_t settle = kSettleFrames * index_.frameLength();
    size_t from = settled - 2;
    while (from > 0 && index_.at(from).first + settle > index_.at(settled).first) --from;
    if (from == 0) return false;
    AVStream* st = format_->streams[stream_];
    // The packets' times are not in order where they jitter: the demuxer is
    // sent a second earlier, and from the file's start if that was not enough.
    const int64_t second = av_rescale_q(1, AVRational{1, 1}, st->time_base);
    bool reached = av_seek_frame(format_.get(), stream_, index_.at(from).pts - second,
                                 AVSEEK_FLAG_BACKWARD) >= 0 &&
                   SkipTo(from);
    if (!reached) reached = SUCCEEDED(OpenInput()) && SkipTo(from);
    if (!reached) {
        indexed_ = Indexed::kUnusable;  // the demuxer does not reach the packets counted
        return false;
    }
    Moved();
    placement_.Begin(&index_, from, settled);
    placing_ = true;
    return true;
}

bool PcmDecoder::Misplaced() {
    placed_ = Timeline::Placement();
    placed_.lost = true;
    return true;
}

}  // namespace ffsdk
