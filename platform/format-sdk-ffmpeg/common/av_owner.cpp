// SPDX-License-Identifier: MIT
#include "common/av_owner.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

namespace ffsdk {

void AvFree::operator()(AVFormatContext* input) const {
    avformat_close_input(&input);
}
void AvFree::operator()(AVCodecContext* codec) const {
    avcodec_free_context(&codec);
}
void AvFree::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}
void AvFree::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}
void AvFree::operator()(SwrContext* resampler) const {
    swr_free(&resampler);
}
void AvFree::operator()(AVIOContext* io) const {
    if (io != nullptr) av_freep(&io->buffer);
    avio_context_free(&io);
}

}  // namespace ffsdk
