// SPDX-License-Identifier: MIT
// Owning pointers for FFmpeg objects, so that every object has exactly one
// owner and is freed with FFmpeg's own function for it, on every path.
#pragma once

#include <memory>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;
struct AVIOContext;

namespace ffsdk {

struct AvFree {
    // A demuxer's context, as avformat_open_input made it.
    void operator()(AVFormatContext* input) const;
    void operator()(AVCodecContext* codec) const;
    void operator()(AVPacket* packet) const;
    void operator()(AVFrame* frame) const;
    void operator()(SwrContext* resampler) const;
    // A reader's own I/O context, with its buffer.
    void operator()(AVIOContext* io) const;
};

template <typename T>
using AvOwner = std::unique_ptr<T, AvFree>;

}  // namespace ffsdk
