/* SPDX-License-Identifier: MIT */
/*
 * The floor a decode through the exports is measured against: the codec alone.
 * Reads the packets of a file's first audio stream with libavformat, decodes
 * them with libavcodec and interleaves each frame to 16-bit PCM with
 * libswresample, in one thread, and throws the PCM away.
 *
 *   bench_floor FILE
 *
 * Prints the number of PCM bytes made; exit code 0 on success.
 */
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static int64_t Drain(AVCodecContext* codec, AVFrame* frame, SwrContext* swr, uint8_t** pcm,
                     int* capacity) {
    int64_t bytes = 0;
    while (avcodec_receive_frame(codec, frame) == 0) {
        const int wanted = swr_get_out_samples(swr, frame->nb_samples);
        if (wanted > *capacity) {
            av_freep(pcm);
            if (av_samples_alloc(pcm, NULL, codec->ch_layout.nb_channels, wanted, AV_SAMPLE_FMT_S16,
                                 0) < 0) {
                return -1;
            }
            *capacity = wanted;
        }
        const int got = swr_convert(swr, pcm, *capacity, (const uint8_t**)frame->extended_data,
                                    frame->nb_samples);
        if (got > 0) bytes += (int64_t)got * codec->ch_layout.nb_channels * 2;
        av_frame_unref(frame);
    }
    return bytes;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: bench_floor FILE\n");
        return 2;
    }
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* format = NULL;
    if (avformat_open_input(&format, argv[1], NULL, NULL) != 0) return 1;
    const AVCodec* decoder = NULL;
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (stream < 0 || decoder == NULL) return 1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if ((int)i != stream) format->streams[i]->discard = AVDISCARD_ALL;
    }
    AVCodecContext* codec = avcodec_alloc_context3(decoder);
    if (codec == NULL ||
        avcodec_parameters_to_context(codec, format->streams[stream]->codecpar) < 0) {
        return 1;
    }
    codec->thread_count = 1;
    if (avcodec_open2(codec, decoder, NULL) != 0) return 1;
    SwrContext* swr = NULL;
    if (swr_alloc_set_opts2(&swr, &codec->ch_layout, AV_SAMPLE_FMT_S16, codec->sample_rate,
                            &codec->ch_layout, codec->sample_fmt, codec->sample_rate, 0,
                            NULL) != 0 ||
        swr_init(swr) != 0) {
        return 1;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    uint8_t* pcm = NULL;
    int capacity = 0;
    int64_t bytes = 0;
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream) {
            (void)avcodec_send_packet(codec, packet);
            const int64_t made = Drain(codec, frame, swr, &pcm, &capacity);
            if (made < 0) return 1;
            bytes += made;
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(codec, NULL);
    const int64_t made = Drain(codec, frame, swr, &pcm, &capacity);
    if (made < 0) return 1;
    bytes += made;
    printf("%lld\n", (long long)bytes);
    av_freep(&pcm);
    av_frame_free(&frame);
    av_packet_free(&packet);
    swr_free(&swr);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return 0;
}
