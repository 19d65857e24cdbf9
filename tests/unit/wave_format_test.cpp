// SPDX-License-Identifier: MIT
#include "wave_format.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// 44.1 kHz stereo, 16 bytes/s, block 4, 16 bits, cbSize 2, extra bytes AA BB.
const std::vector<uint8_t> kBlock = {0x61, 0x01, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0x00,
                                     0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x02, 0x00, 0xAA, 0xBB};

TEST(WaveFormat, ReadsEveryFieldLittleEndian) {
    wm::WaveFormat f;
    ASSERT_TRUE(wm::ReadWholeWaveFormat(kBlock.data(), kBlock.size(), &f));
    EXPECT_EQ(f.formatTag, 0x0161);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.samplesPerSec, 44100u);
    EXPECT_EQ(f.avgBytesPerSec, 16u);
    EXPECT_EQ(f.blockAlign, 4);
    EXPECT_EQ(f.bitsPerSample, 16);
    ASSERT_EQ(f.cbSize, 2);
    EXPECT_EQ(f.extra, kBlock.data() + 18);
}

TEST(WaveFormat, KeepsWithinTheBlock) {
    wm::WaveFormat f;
    // Extra bytes cut short: the fields still read, the extra bytes do not.
    ASSERT_TRUE(wm::ReadWaveFormat(kBlock.data(), kBlock.size() - 1, &f));
    EXPECT_EQ(f.extra, nullptr);
    EXPECT_FALSE(wm::ReadWholeWaveFormat(kBlock.data(), kBlock.size() - 1, &f));
    // A block that only reaches the sample rate: the rest reads as 0.
    ASSERT_TRUE(wm::ReadWaveFormat(kBlock.data(), 10, &f, wm::kWaveFormatRateSize));
    EXPECT_EQ(f.samplesPerSec, 44100u);
    EXPECT_EQ(f.avgBytesPerSec, 0u);
    EXPECT_EQ(f.cbSize, 0);
    EXPECT_FALSE(wm::ReadWaveFormat(kBlock.data(), 17, &f));
    EXPECT_FALSE(wm::ReadWaveFormat(nullptr, 18, &f));
}

}  // namespace
