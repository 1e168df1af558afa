#include "common/Utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

std::string Replaced(int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += "\xEF\xBF\xBD";
    return out;
}

}  // namespace

// One U+FFFD stands for each maximal ill-formed part: a sequence cut short (by the next
// character or the end) is one, while stray continuation bytes, leads that never start a
// sequence, overlong forms, surrogates and code points above U+10FFFF are one a byte.
// Well-formed characters of every length pass unchanged beside them.
TEST(Utf8, EachIllFormedPartBecomesOneReplacement) {
    const std::string_view wellFormed = "a \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF";
    EXPECT_EQ(vorn::ValidUtf8(wellFormed), wellFormed);
    // The Unicode standard's own example of the practice.
    EXPECT_EQ(vorn::ValidUtf8("a\xF1\x80\x80\xE1\x80\xC2"
                              "b\x80"
                              "c\x80\xBF"
                              "d"),
              "a" + Replaced(3) + "b" + Replaced(1) + "c" + Replaced(2) + "d");
    EXPECT_EQ(vorn::ValidUtf8("\xC0\xAF\xC1\xBF"), Replaced(4));
    EXPECT_EQ(vorn::ValidUtf8("\xE0\x80\xAF"), Replaced(3));
    EXPECT_EQ(vorn::ValidUtf8("\xED\xA0\x80"), Replaced(3));
    EXPECT_EQ(vorn::ValidUtf8("\xF4\x90\x80\x80\xF5\xFF"), Replaced(6));
    EXPECT_EQ(vorn::ValidUtf8("\xF0\x9F\xE2\x82\xAC"), Replaced(1) + "\xE2\x82\xAC");
    EXPECT_EQ(vorn::ValidUtf8("x\xF0\x9F\x98"), "x" + Replaced(1));
}

// A sequence has a length only as one whole well-formed character, even where its first bytes
// are right.
TEST(Utf8, SequenceLength) {
    EXPECT_EQ(vorn::Utf8SequenceLength("a\xC3"), 1u);
    EXPECT_EQ(vorn::Utf8SequenceLength("\xC3\xA9z"), 2u);
    EXPECT_EQ(vorn::Utf8SequenceLength("\xE2\x82\xAC"), 3u);
    EXPECT_EQ(vorn::Utf8SequenceLength("\xF0\x9F\x98\x80"), 4u);
    EXPECT_EQ(vorn::Utf8SequenceLength("\xF0\x9F\x98"), 0u);
    EXPECT_EQ(vorn::Utf8SequenceLength("\xE0\x9F\x80"), 0u);
    EXPECT_EQ(vorn::Utf8SequenceLength(""), 0u);
}
