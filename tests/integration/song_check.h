// SPDX-License-Identifier: MIT
// Comparing the six song tags a round trip through the exports gave back.
#pragma once

#include <gtest/gtest.h>

#include "mervane.h"

inline void ExpectSameSong(const SongInfo& expected, const SongInfo& actual) {
    EXPECT_STREQ(actual.title, expected.title);
    EXPECT_STREQ(actual.author, expected.author);
    EXPECT_STREQ(actual.album, expected.album);
    EXPECT_STREQ(actual.year, expected.year);
    EXPECT_STREQ(actual.track, expected.track);
    EXPECT_STREQ(actual.genreId, expected.genreId);
}
