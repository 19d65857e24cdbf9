// SPDX-License-Identifier: MIT
#include "wav.h"

#include <cstring>

namespace {

uint32_t Le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const unsigned char* p) {
    return uint16_t(p[0] | p[1] << 8);
}

void Put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void Put16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

}  // namespace

bool OpenWavForReading(FILE* file, WavFormat& format, uint64_t& dataBytes, std::string& error) {
    unsigned char riff[12];
    if (std::fread(riff, 1, 12, file) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        error = "not a WAV file";
        return false;
    }
    bool haveFormat = false;
    for (;;) {
        unsigned char chunk[8];
        if (std::fread(chunk, 1, 8, file) != 8) {
            error = "WAV file without a data chunk";
            return false;
        }
        const uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char fmt[16];
            if (size < 16 || std::fread(fmt, 1, 16, file) != 16) {
                error = "bad WAV format chunk";
                return false;
            }
            const uint16_t tag = Le16(fmt);
            format.channels = Le16(fmt + 2);
            format.sampleRate = Le32(fmt + 4);
            format.bitsPerSample = Le16(fmt + 14);
            if (tag != 1 && tag != 0xFFFE) {
                error = "WAV file is not PCM";
                return false;
            }
            haveFormat = true;
            if (std::fseek(file, long(size - 16 + (size & 1)), SEEK_CUR) != 0) return false;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                error = "WAV data before its format";
                return false;
            }
            dataBytes = size;
            return true;
        } else if (std::fseek(file, long(size + (size & 1)), SEEK_CUR) != 0) {
            error = "truncated WAV file";
            return false;
        }
    }
}

bool BeginWav(FILE* file, const WavFormat& format) {
    unsigned char header[44] = {};
    std::memcpy(header, "RIFF", 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    Put32(header + 16, 16);
    Put16(header + 20, 1);
    Put16(header + 22, format.channels);
    Put32(header + 24, format.sampleRate);
    Put32(header + 28, format.sampleRate * format.channels * 2);
    Put16(header + 32, static_cast<uint16_t>(format.channels * 2));
    Put16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    return std::fwrite(header, 1, 44, file) == 44;
}

bool FinishWav(FILE* file, uint64_t dataBytes) {
    const uint32_t data = dataBytes > 0xFFFFFFD3u ? 0xFFFFFFD3u : uint32_t(dataBytes);
    unsigned char size[4];
    if (std::fseek(file, 4, SEEK_SET) != 0) return false;
    Put32(size, data + 36);
    if (std::fwrite(size, 1, 4, file) != 4 || std::fseek(file, 40, SEEK_SET) != 0) return false;
    Put32(size, data);
    return std::fwrite(size, 1, 4, file) == 4 && std::fflush(file) == 0;
}
