// SPDX-License-Identifier: MIT
// Minimal RIFF/WAVE reading and writing of 16-bit PCM for the command-line host.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct WavFormat {
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;
};

// Reads a WAV file's format and positions `file` at the start of its PCM data;
// `dataBytes` is the size of the data chunk (clipped to the file).
bool OpenWavForReading(FILE* file, WavFormat& format, uint64_t& dataBytes, std::string& error);

// Writes a WAV header for 16-bit PCM; call FinishWav when the data is written.
bool BeginWav(FILE* file, const WavFormat& format);
bool FinishWav(FILE* file, uint64_t dataBytes);
