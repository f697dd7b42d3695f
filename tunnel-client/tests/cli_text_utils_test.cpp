#include "cli/text_utils.h"

#include <gtest/gtest.h>

using namespace ostrel;

TEST(Jaro, KnownValues)
{
    EXPECT_DOUBLE_EQ(jaroSimilarity("", ""), 1.0);
    EXPECT_DOUBLE_EQ(jaroSimilarity("", "a"), 0.0);
    EXPECT_DOUBLE_EQ(jaroSimilarity("abc", "abc"), 1.0);
    EXPECT_DOUBLE_EQ(jaroSimilarity("abc", "xyz"), 0.0);
    EXPECT_NEAR(jaroSimilarity("martha", "marhta"), 0.944444, 1e-5);
    EXPECT_NEAR(jaroSimilarity("dixon", "dicksonx"), 0.766667, 1e-5);
    EXPECT_NEAR(jaroSimilarity("jellyfish", "smellyfish"), 0.896296, 1e-5);
    // Matches only count within the window: "l3" vs "L3" lands below the tip threshold.
    EXPECT_NEAR(jaroSimilarity("L3", "l3"), 2.0 / 3.0, 1e-9);
    // Multi-byte letters count once each.
    EXPECT_DOUBLE_EQ(jaroSimilarity("é", "é"), 1.0);
    EXPECT_NEAR(jaroSimilarity("sérver", "server"), jaroSimilarity("sxrver", "server"), 1e-12);
}

TEST(Utf8, ValidationAndLossy)
{
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain"));
    EXPECT_TRUE(isValidUtf8("\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xae"));
    EXPECT_TRUE(isValidUtf8("\xf4\x8f\xbf\xbf"));
    EXPECT_FALSE(isValidUtf8("\xff"));
    EXPECT_FALSE(isValidUtf8("\xc0\xaf"));          // overlong
    EXPECT_FALSE(isValidUtf8("\xe0\x80\xaf"));      // overlong
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xf4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xe2\x82"));          // truncated
    EXPECT_EQ(lossyUtf8("a\xffz"), "a\xEF\xBF\xBDz");
    // A truncated sequence is one replacement; a bad lead byte is one each.
    EXPECT_EQ(lossyUtf8("\xe2\x82z"), "\xEF\xBF\xBDz");
    EXPECT_EQ(lossyUtf8("\xc0\xaf"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(lossyUtf8("ok\xc3\xa9"), "ok\xc3\xa9");
}
