// The modified UTF-8 check that guards every line handed to NewStringUTF:
// what the VM accepts passes, everything else (stray bytes, four-byte
// sequences, overlong forms, cut sequences, NUL) is refused.
#include <gtest/gtest.h>

#include <string>

#include "jni/modified_utf8.h"

namespace quibex {
namespace {

struct Utf8Case {
  const char* name;
  std::string text;
  bool valid;
};

class ModifiedUtf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(ModifiedUtf8Test, Classifies) {
  EXPECT_EQ(isModifiedUtf8(GetParam().text), GetParam().valid);
}

const Utf8Case kCases[] = {
    {"Empty", "", true},
    {"Ascii", "||ads.example^$script", true},
    {"LowestAndHighestOneByte", "\x01\x7f", true},
    {"Nul", std::string("a\0b", 3), false},
    {"EncodedNul",
     "a\xC0\x80"
     "b",
     true},
    {"TwoByteLowest", "\xC2\x80", true},
    {"TwoByteHighest", "\xDF\xBF", true},
    {"TwoByteLatin", "caf\xC3\xA9", true},
    {"OverlongTwoByteC0", "\xC0\x81", false},
    {"OverlongTwoByteC1", "\xC1\xBF", false},
    {"TwoByteCutByEnd", "ok\xC3", false},
    {"TwoByteBadContinuation", "\xC3\x41", false},
    {"ThreeByteLowest", "\xE0\xA0\x80", true},
    {"ThreeByteCheckMark", "\xE2\x9C\x93", true},
    {"ThreeByteHighest", "\xEF\xBF\xBF", true},
    {"OverlongThreeByte", "\xE0\x9F\xBF", false},
    {"SurrogatePair", "\xED\xA0\xBD\xED\xB8\x80", true},
    {"LoneSurrogate", "\xED\xB0\x80", true},
    {"ThreeByteCutByEnd", "ok\xE2\x9C", false},
    {"ThreeByteBadSecond", "\xE2\x41\x93", false},
    {"ThreeByteBadThird", "\xE2\x9C\x41", false},
    {"FourByteSequence", "\xF0\x9F\x98\x80", false},
    {"FiveByteLead", "\xF8\x88\x80\x80\x80", false},
    {"ByteFF", "\xFF", false},
    {"StrayContinuation", "\x80", false},
    {"StrayContinuationInText",
     "A\x80"
     "BC",
     false},
    {"LastContinuationByte", "\xBF", false},
    // Runs of eight one-byte characters are tested a word at a time.
    {"OneByteExtremesInWords", "\x01\x7f\x01\x7f\x01\x7f\x01\x7f\x01", true},
    {"NulInsideAWord", std::string("abcdefg\0hijklmno", 16), false},
    {"NulEndingAWord", std::string("abcdefghijklmno\0", 16), false},
    {"HighByteEndingAWord",
     "abcdefg\xFF"
     "abcdefgh",
     false},
    {"StrayContinuationAfterAWord",
     "abcdefgh\x80"
     "ijklmnop",
     false},
    {"LatinBetweenWords",
     "abcdefghcaf\xC3\xA9"
     "abcdefgh",
     true},
    {"ThreeByteCutAfterAWord", "abcdefgh\xE2\x9C", false},
};

INSTANTIATE_TEST_SUITE_P(Lines, ModifiedUtf8Test, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Utf8Case>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
}  // namespace quibex
