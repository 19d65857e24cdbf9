// SPDX-License-Identifier: MIT
#include "audio_stream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <vector>

#include "little_endian.h"
#include "wave_format.h"

namespace ffsdk {

namespace {

constexpr uint16_t kWaveFormatExtensible = 0xFFFE;
// WAVEFORMATEXTENSIBLE: the sub-format GUID follows the valid bits (WORD) and
// the channel mask (DWORD) in the extra bytes; its first WORD is the codec's tag.
constexpr size_t kSubFormatAt = 6;

// Whether FFmpeg has a decoder for `codec`. Its codec list is fixed for the
// life of the process, so it is gathered once: looking one up walks them all.
bool HaveDecoder(AVCodecID codec) {
    static const std::vector<AVCodecID> decodable = [] {
        std::vector<AVCodecID> ids;
        void* walk = nullptr;
        while (const AVCodec* c = av_codec_iterate(&walk)) {
            if (av_codec_is_decoder(c)) ids.push_back(c->id);
        }
        std::sort(ids.begin(), ids.end());
        return ids;
    }();
    return std::binary_search(decodable.begin(), decodable.end(), codec);
}

}  // namespace

HRESULT DescribeAudioStream(const asf::Stream& stream, AudioStreamFormat* format) {
    wm::WaveFormat wave;
    if (!wm::ReadWaveFormat(stream.typeSpecific.data(), stream.typeSpecific.size(), &wave,
                            wm::kPcmWaveFormatSize) ||
        wave.samplesPerSec == 0 || wave.channels == 0 || wave.channels > kMaxChannels) {
        return wm::NS_E_INVALID_INPUT_FORMAT;
    }
    uint16_t tag = wave.formatTag;
    if (tag == kWaveFormatExtensible) {
        if (wave.extra == nullptr || wave.cbSize < kSubFormatAt + 2)
            return wm::NS_E_INVALID_INPUT_FORMAT;
        tag = wm::ReadLe16(wave.extra + kSubFormatAt);
    }
    // The table FFmpeg's own ASF demuxer maps WAVEFORMATEX tags with.
    const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
    const AVCodecID codec = av_codec_get_id(tables, tag);
    if (codec == AV_CODEC_ID_NONE || !HaveDecoder(codec)) return wm::NS_E_AUDIO_CODEC_NOT_INSTALLED;
    format->rate = wave.samplesPerSec;
    format->channels = wave.channels;
    return S_OK;
}

std::vector<const asf::Stream*> OutputStreams(const asf::Header& header) {
    const std::vector<asf::Stream>& streams = header.streams();
    // Which set each stream belongs to: sets that share a stream are one (a
    // file may exclude by language and by bitrate across the same streams).
    std::vector<size_t> set(streams.size());
    for (size_t i = 0; i < set.size(); ++i) set[i] = i;
    const auto root = [&](size_t i) {
        while (set[i] != i) i = set[i];
        return i;
    };
    const auto indexOf = [&](uint16_t number) {
        for (size_t i = 0; i < streams.size(); ++i) {
            if (streams[i].number == number) return i;
        }
        return streams.size();
    };
    for (const std::vector<uint16_t>& exclusion : header.exclusions()) {
        size_t first = streams.size();
        for (uint16_t number : exclusion) {
            const size_t i = indexOf(number);
            if (i == streams.size()) continue;  // names a stream the file lacks
            if (first == streams.size()) {
                first = root(i);
            } else {
                const size_t other = root(i);
                set[std::max(first, other)] = std::min(first, other);
                first = std::min(first, other);
            }
        }
    }
    std::vector<const asf::Stream*> outputs;
    std::vector<size_t> served;  // the sets that have their output
    for (size_t i = 0; i < streams.size(); ++i) {
        if (streams[i].kind == asf::StreamKind::Other) continue;
        const size_t r = root(i);
        if (std::find(served.begin(), served.end(), r) != served.end()) continue;
        served.push_back(r);
        const asf::Stream* best = &streams[i];
        for (size_t j = i + 1; j < streams.size(); ++j) {
            if (root(j) == r && streams[j].kind == best->kind && streams[j].bitrate > best->bitrate)
                best = &streams[j];
        }
        outputs.push_back(best);
    }
    return outputs;
}

}  // namespace ffsdk
