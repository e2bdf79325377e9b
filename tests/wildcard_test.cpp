// The wildcard matcher against a straightforward recursive definition of the
// pattern language, on fixed cases and on random inputs.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "filters/wildcard.h"

namespace quibex {
namespace {

bool referenceSeparator(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return !((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
           (u >= '0' && u <= '9') || u == '-' || u == '.' || u == '%');
}

// "*" any run, "^" one separator or the end of the text, else itself.
bool referenceMatch(const std::string& t, size_t i, const std::string& p,
                    size_t j) {
  if (j == p.size()) return i == t.size();
  if (p[j] == '*') {
    for (size_t k = i; k <= t.size(); ++k) {
      if (referenceMatch(t, k, p, j + 1)) return true;
    }
    return false;
  }
  if (p[j] == '^') {
    if (i == t.size()) return referenceMatch(t, i, p, j + 1);
    return referenceSeparator(t[i]) && referenceMatch(t, i + 1, p, j + 1);
  }
  return i < t.size() && t[i] == p[j] && referenceMatch(t, i + 1, p, j + 1);
}

struct WildcardCase {
  std::string text;
  std::string pattern;
  bool expected;
};

class WildcardTest : public ::testing::TestWithParam<WildcardCase> {};

TEST_P(WildcardTest, MatchesDefinition) {
  const WildcardCase& c = GetParam();
  EXPECT_EQ(wildcardMatch(c.text, c.pattern), c.expected)
      << c.text << " ~ " << c.pattern;
  EXPECT_EQ(referenceMatch(c.text, 0, c.pattern, 0), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WildcardTest,
    ::testing::Values(
        WildcardCase{"", "", true}, WildcardCase{"", "*", true},
        WildcardCase{"", "^", true}, WildcardCase{"", "^^*^", true},
        WildcardCase{"a", "", false}, WildcardCase{"abc", "abc", true},
        WildcardCase{"abc", "ab", false}, WildcardCase{"abc", "*b*", true},
        WildcardCase{"abc", "*c", true}, WildcardCase{"abc", "a*", true},
        WildcardCase{"abc", "*d*", false},
        WildcardCase{"a/b", "a^b", true}, WildcardCase{"a-b", "a^b", false},
        WildcardCase{"a.b", "a^b", false}, WildcardCase{"a%b", "a^b", false},
        WildcardCase{"a_b", "a^b", true}, WildcardCase{"a", "a^", true},
        WildcardCase{"a", "a^^", true}, WildcardCase{"a/", "a^", true},
        WildcardCase{"a/x", "a^", false}, WildcardCase{"a/x", "*a^*", true},
        WildcardCase{"ab", "a^b", false}, WildcardCase{"a", "a^b", false},
        WildcardCase{"xa.b", "*a.b^*", true},
        WildcardCase{"aaab", "*a*a*b", true},
        WildcardCase{"abab", "*ab^", true}, WildcardCase{"abac", "*ab^", false},
        WildcardCase{"ab/ab", "*ab^", true},
        WildcardCase{"ab/ab", "*ab^ab", true},
        WildcardCase{"ab/abx", "*ab^ab", false},
        WildcardCase{"x|y", "x|y", true}, WildcardCase{"\x80", "^", true},
        WildcardCase{"aXbXc", "a*b*c", true},
        WildcardCase{"aXbXcX", "a*b*c", false},
        WildcardCase{"abcabd", "*abd", true},
        WildcardCase{"abcab", "*ab^", true}));

// Random texts and patterns over a small alphabet so that matches happen.
TEST(WildcardRandomTest, AgreesWithDefinition) {
  std::mt19937 rng(12345);
  const std::string textBytes = "ab/.-_";
  const std::string patternBytes = "ab/.-_*^|";
  int matched = 0;
  for (int round = 0; round < 60000; ++round) {
    std::string text(rng() % 12, ' ');
    for (char& c : text) c = textBytes[rng() % textBytes.size()];
    std::string pattern(rng() % 8, ' ');
    for (char& c : pattern) c = patternBytes[rng() % patternBytes.size()];
    const bool expected = referenceMatch(text, 0, pattern, 0);
    matched += expected ? 1 : 0;
    ASSERT_EQ(wildcardMatch(text, pattern), expected)
        << "text '" << text << "' pattern '" << pattern << "'";
  }
  EXPECT_GT(matched, 1000);  // the inputs did exercise matching paths
}

TEST(WildcardSeparatorTest, ClassOfEveryByte) {
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(isSeparator(static_cast<unsigned char>(c)),
              referenceSeparator(static_cast<char>(c)))
        << c;
  }
}

}  // namespace
}  // namespace quibex
