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
        WildcardCase{"abc", "*d*", false}, WildcardCase{"a/b", "a^b", true},
        WildcardCase{"a-b", "a^b", false}, WildcardCase{"a.b", "a^b", false},
        WildcardCase{"a%b", "a^b", false}, WildcardCase{"a_b", "a^b", true},
        WildcardCase{"a", "a^", true}, WildcardCase{"a", "a^^", true},
        WildcardCase{"a/", "a^", true}, WildcardCase{"a/x", "a^", false},
        WildcardCase{"a/x", "*a^*", true}, WildcardCase{"ab", "a^b", false},
        WildcardCase{"a", "a^b", false}, WildcardCase{"xa.b", "*a.b^*", true},
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

// findPiece against placing the piece at every start, on texts and pieces
// long enough for the two-way search and periodic enough to stress it.
TEST(FindPieceRandomTest, AgreesWithEveryStart) {
  std::mt19937 rng(2024);
  auto naive = [](std::string_view text, size_t from, std::string_view piece) {
    for (size_t start = from; start <= text.size(); ++start) {
      const size_t end = matchPieceAt(text, start, piece);
      if (end != std::string_view::npos) return end;
    }
    return std::string_view::npos;
  };
  int found = 0;
  for (int round = 0; round < 6000; ++round) {
    const std::string bytes = round % 3 == 0 ? "ab" : "ab/c";
    const size_t period = 1 + rng() % 5;
    std::string unit(period, ' ');
    for (char& c : unit) c = bytes[rng() % bytes.size()];
    std::string text;
    const size_t length = 40 + rng() % 700;
    while (text.size() < length) {
      text += rng() % 8 == 0 ? bytes[rng() % bytes.size()]
                             : unit[text.size() % period];
    }
    std::string piece;
    if (rng() % 2 == 0) {  // a stretch of the text, perhaps changed
      const size_t start = rng() % text.size();
      piece = text.substr(start, rng() % 160);
      if (!piece.empty() && rng() % 2 == 0) {
        piece[rng() % piece.size()] = bytes[rng() % bytes.size()];
      }
    } else {
      piece.resize(rng() % 160);
      for (size_t i = 0; i < piece.size(); ++i) piece[i] = unit[i % period];
    }
    if (round % 4 == 1 && !piece.empty()) piece[rng() % piece.size()] = '^';
    const size_t from = rng() % (text.size() + 2);
    const size_t expected = naive(text, from, piece);
    found += expected != std::string_view::npos;
    ASSERT_EQ(findPiece(text, from, piece), expected)
        << "text '" << text << "' from " << from << " piece '" << piece << "'";
    if (piece.find('^') == std::string::npos) {
      ASSERT_EQ(findLiteral(text, from, piece), text.find(piece, from))
          << "text '" << text << "' from " << from << " piece '" << piece
          << "'";
    }
  }
  EXPECT_GT(found, 900);  // both answers are exercised
  EXPECT_LT(found, 5100);
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
