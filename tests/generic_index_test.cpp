// The token index over the generic sequences: which tokens of a pattern are
// safe to index by, and that the accelerated engine answers exactly as the
// plain one on generated rule sets and requests.
#include <gtest/gtest.h>

#include <random>

#include "engine/generic_index.h"
#include "tests/test_support.h"

namespace quibex {
namespace {

using Strings = std::vector<std::string>;

Strings tokensOf(std::string_view pattern) {
  Strings out;
  for (std::string_view t : safeTokens(pattern)) out.emplace_back(t);
  return out;
}

TEST(SafeTokensTest, OnlyTokensBoundedByLiteralsOrAnchors) {
  EXPECT_EQ(tokensOf("*/ads/banner.*"), (Strings{"ads", "banner"}));
  EXPECT_EQ(tokensOf("*/ads/banner*"), (Strings{"ads"}));
  EXPECT_EQ(tokensOf("*/ads/banner.gif*"), (Strings{"ads", "banner"}));
  EXPECT_EQ(tokensOf("*ads*"), Strings{});
  EXPECT_EQ(tokensOf("http://a.b/|"), (Strings{"http", "a", "b"}));
  EXPECT_EQ(tokensOf("*-ad-manager/*"), (Strings{"ad", "manager"}));
  EXPECT_EQ(tokensOf("*^ads^*"), (Strings{"ads"}));
  EXPECT_EQ(tokensOf("ads"), (Strings{"ads"}));
  EXPECT_EQ(tokensOf("*a*b*"), Strings{});
  EXPECT_EQ(tokensOf(""), Strings{});
  EXPECT_EQ(tokensOf("*\xc3\xa9x\xc3\xa9*"), (Strings{"x"}));
}

// A random rule set and requests drawn from the same small vocabulary, so
// that rules and requests actually meet.
class RuleGenerator {
 public:
  explicit RuleGenerator(uint32_t seed) : rng_(seed) {}

  std::string piece() {
    static const char* const kPieces[] = {
        "ads", "a.b", "c.d", "x.a.b", "/",   "-",   ".", "banner", "js",
        "?",   "=",   "_",   "track", "img", "%2f", "1", "com",    "q"};
    return kPieces[rng_() % (sizeof(kPieces) / sizeof(kPieces[0]))];
  }

  std::string rule() {
    std::string r;
    if (rng_() % 4 == 0) r += "@@";
    switch (rng_() % 4) {
      case 0:
        r += "||";
        break;
      case 1:
        r += "|";
        break;
      default:
        break;
    }
    const int pieces = 1 + rng_() % 4;
    for (int i = 0; i < pieces; ++i) {
      r += piece();
      const uint32_t w = rng_() % 6;
      if (w == 0) r += "*";
      if (w == 1) r += "^";
    }
    if (rng_() % 6 == 0) r += "|";
    std::string options;
    auto add = [&](const std::string& o) {
      options += options.empty() ? "$" : ",";
      options += o;
    };
    if (rng_() % 5 == 0) add(rng_() % 2 ? "script" : "~image");
    if (rng_() % 6 == 0) add(rng_() % 2 ? "third-party" : "~third-party");
    if (rng_() % 6 == 0) add(rng_() % 2 ? "domain=a.b|~x.a.b" : "domain=c.d");
    if (rng_() % 12 == 0) add("elemhide");
    return r + options;
  }

  std::string url() {
    std::string u = rng_() % 8 == 0 ? "" : "http://";
    const int pieces = rng_() % 7;
    for (int i = 0; i < pieces; ++i) u += piece();
    if (rng_() % 3 == 0) u += rng_() % 2 ? ".js" : ".png";
    return u;
  }

  std::string page() {
    static const char* const kPages[] = {"", "http://a.b/", "http://x.a.b/p",
                                         "http://c.d/", "http://h/"};
    return kPages[rng_() % 5];
  }

 private:
  std::mt19937 rng_;
};

TEST(GenericIndexDifferentialTest, AcceleratedAnswersEqualPlainAnswers) {
  int blocked = 0;
  int total = 0;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    RuleGenerator gen(seed);
    std::string first, second;
    for (int i = 0; i < 150; ++i) (i % 2 ? first : second) += gen.rule() + "\n";
    testing::LoadedEngine fast(first, second, MatchMode::kAccelerated);
    testing::LoadedEngine plain(first, second, MatchMode::kPlain);
    for (int i = 0; i < 400; ++i) {
      const std::string url = gen.url();
      const std::string page = gen.page();
      const BlockExplanation a = fast->explainBlock(url, page);
      const BlockExplanation b = plain->explainBlock(url, page);
      ASSERT_EQ(a.blocked, b.blocked)
          << "seed " << seed << " url " << url << " page " << page;
      ASSERT_EQ(a.step, b.step) << "seed " << seed << " url " << url;
      ASSERT_EQ(fast.block(url, page), a.blocked);
      blocked += a.blocked;
      ++total;
    }
  }
  // The generated requests must exercise both answers.
  EXPECT_GT(blocked, total / 20);
  EXPECT_LT(blocked, total - total / 20);
}

// A request on a page and the answer every mode must give.
struct PageCase {
  const char* url;
  const char* page;
  int blocked;
};

// Expects each case's answer from the rules (and the second list's) in
// both modes.
template <size_t N>
void expectAnswers(const std::string& rules, const PageCase (&cases)[N],
                   const std::string& secondRules = "") {
  for (const MatchMode mode : {MatchMode::kAccelerated, MatchMode::kPlain}) {
    testing::LoadedEngine engine(rules, secondRules, mode);
    for (const PageCase& c : cases) {
      EXPECT_EQ(engine.block(c.url, c.page), c.blocked)
          << c.url << " on " << c.page << ", "
          << (mode == MatchMode::kPlain ? "plain" : "accelerated");
    }
  }
}

// Rules without a key and with only included page domains wait behind one
// gate on the page's key: asked page after page, it opens for exactly the
// pages whose key holds one of the names, whatever page came before.
TEST(GenericIndexGateTest, OpensForThePagesHoldingAName) {
  const std::string rules =
      "/$domain=example.com|news.example.org\n"
      "$script,domain=tracker-site.net\n";
  const PageCase cases[] = {
      {"http://x.y/", "http://example.com/", 1},
      {"http://x.y/", "http://other.com/", 0},
      {"http://x.y/", "http://www.example.com/a", 1},
      {"http://x.y/", "http://example.co/", 0},
      {"http://x.y/", "http://news.example.org/", 1},
      {"http://x.y/a.js", "http://tracker-site.net/", 1},
      {"http://x.y/a.png", "http://tracker-site.net/", 0},
      {"http://x.y/", "", 0},
      {"http://x.y/", "http://example.com/", 1},
  };
  expectAnswers(rules, cases);
}

// A gate the second list's blocking rules find closed shuts only the rules
// behind it: the first list's rules of the request's keys and its rules
// without a key outside the gate still answer, exceptions first.
TEST(GenericIndexGateTest, ClosedGateLeavesLaterListsRules) {
  const std::string second = "/$domain=gate.example\n";
  const std::string first =
      "/banner/\n"
      "@@/banner/ok\n"
      "$image,third-party\n"
      "@@$image,domain=allowed.example\n";
  const PageCase cases[] = {
      {"http://x.y/banner/a", "http://other.example/", 1},
      {"http://x.y/banner/ok", "http://other.example/", 0},
      {"http://x.y/a.png", "http://other.example/", 1},
      {"http://x.y/a.png", "http://allowed.example/", 0},
      {"http://x.y/a.htm", "http://other.example/", 0},
      {"http://x.y/a.htm", "http://gate.example/", 1},
      {"http://x.y/banner/ok", "http://gate.example/", 1},
  };
  expectAnswers(first, cases, second);
}

// Rules without a key and without a gate are passed over together when the
// request fails a fact all of them need: only the facts every one of them
// needs may turn them all away.
TEST(GenericIndexKeylessTest, OnlySharedNeedsTurnAllAway) {
  const std::string rules =
      "-^$third-party\n"
      "?=$~third-party\n";
  const PageCase cases[] = {
      {"http://x.y/-/", "http://a.b/", 1},
      {"http://x.y/?=", "http://a.b/", 0},
      {"http://a.b/?=", "http://a.b/", 1},
      {"http://a.b/-/", "http://a.b/", 0},
      {"http://x.y/-/?=", "", 0},
      {"http://x.y/?=-/", "http://x.y/", 1},
  };
  expectAnswers(rules, cases);
}

// Where a key occurs once, the piece's bytes next to it are compared in one
// word, read past the URL's end as no byte, up to a "^"; a key met twice or
// in the URL's first bytes is checked place by place.
TEST(GenericIndexWindowTest, PieceBytesNextToTheKey) {
  const std::string rules =
      "/banner/ad-\n"
      "-ads^q\n"
      "/track.j\n";
  const PageCase cases[] = {
      {"http://x.y/banner/ad-", "", 1},
      {"http://x.y/banner/ad-x", "", 1},
      {"http://x.y/banner/ad", "", 0},
      {"http://x.y/banner/", "", 0},
      {"http://x.y/banner", "", 0},
      {"http://x.y/banner/ab-", "", 0},
      {"http://x.y/xbanner/ad-", "", 0},
      {"http://x.y/banner/ad/banner/ad-", "", 1},
      {"/banner/ad-", "", 1},
      {"banner/ad-", "", 0},
      {"http://x.y/-ads/q", "", 1},
      {"http://x.y/-ads.q", "", 0},
      {"http://x.y/-ads/", "", 0},
      {"http://x.y/-ads", "", 0},
      {"http://x.y/track.j", "", 1},
      {"http://x.y/track.", "", 0},
  };
  expectAnswers(rules, cases);
}

// A pattern that is one piece between two "*" is settled by its piece at
// the key's only place and by the rule's options, without a search of the
// URL: the piece must stand in the URL whole, and the options still decide.
TEST(GenericIndexWindowTest, WholePatternAtTheKeysPlace) {
  const std::string rules =
      "/adx-$third-party\n"
      "/pix.$domain=a.b\n"
      "/tk.$script\n"
      "/ad-unit-top.$third-party\n";
  const PageCase cases[] = {
      {"http://x.y/ad-unit-top.", "http://a.b/", 1},
      {"http://x.y/ad-unit-top.", "http://x.y/", 0},
      {"http://x.y/ad-unit-top-", "http://a.b/", 0},
      {"http://x.y/adx-", "http://a.b/", 1},
      {"http://x.y/adx-/adx-", "http://a.b/", 1},
      {"http://x.y/adx", "http://a.b/", 0},
      {"http://x.y/adx-", "http://x.y/", 0},
      {"http://x.y/adx-", "", 0},
      {"http://x.y/pix.", "http://a.b/", 1},
      {"http://x.y/pix.", "http://c.d/", 0},
      {"http://x.y/tk.js", "", 1},
      {"http://x.y/tk.png", "", 0},
  };
  expectAnswers(rules, cases);
}

// The gate's filter tests a page key only at every few places, as far
// apart as its shortest name allows: a name must open the gate wherever it
// stands in the key, whatever its length.
TEST(GenericIndexGateTest, NameFoundAtEveryPlace) {
  const std::string full = "gatekeep";
  for (size_t length = 3; length <= full.size(); ++length) {
    const std::string name = full.substr(0, length);
    testing::LoadedEngine engine("/$domain=" + name + "\n", "",
                                 MatchMode::kAccelerated);
    for (size_t shift = 0; shift < 6; ++shift) {
      const std::string lead(shift, 'q');
      EXPECT_EQ(engine.block("http://x.y/", "http://" + lead + name + ".zz/"),
                1)
          << name << " after " << shift;
      EXPECT_EQ(
          engine.block("http://x.y/",
                       "http://" + lead + name.substr(0, length - 1) + ".zz/"),
          0)
          << name << " cut, after " << shift;
    }
  }
}

// A rule whose tokens are all short is filed under the two grams of a
// five-byte span, and the URL scan probes only the windows at even
// positions, eight at a time where it can: the span must be found at
// either parity, and wherever it stands in the URL (the last window of the
// URL included).
TEST(GenericIndexGramSpanTest, SpanFoundAtEveryPlace) {
  struct Case {
    std::string tail;  // after "http://h/" and 0 to 39 filler bytes
    int blocked;
  };
  const Case cases[] = {
      {"-ab-cd-/z", 1}, {"-ab-cd-", 1},         {"-ab-cd", 0},
      {"ab-cd-", 0},    {"-ab-cd-x-ab-cd-", 1}, {"-ab-ab-cd-", 1},
  };
  for (const MatchMode mode : {MatchMode::kAccelerated, MatchMode::kPlain}) {
    testing::LoadedEngine engine("-ab-cd-\n", "", mode);
    for (const Case& c : cases) {
      for (size_t filler = 0; filler < 40; ++filler) {
        const std::string url = "http://h/" + std::string(filler, 'x') + c.tail;
        EXPECT_EQ(engine.block(url, ""), c.blocked)
            << url << (mode == MatchMode::kPlain ? " plain" : " accelerated");
      }
    }
  }
}

// Grams that hold two bytes of the "://" after the scheme are never a
// rule's key: a rule whose short tokens send it to a span is filed under a
// span after them, and found there at either parity.
TEST(GenericIndexGramSpanTest, SpanAfterTheSchemeSeparator) {
  const PageCase cases[] = {
      {"http://ab-c.x/", "", 1},
      {"https://ab-c.x/", "", 1},
      {"http://x.y/ab-c", "", 0},
      {"http://x.y//ab-c", "", 0},
      {"http://x.y/?u=http://ab-c", "", 1},
  };
  expectAnswers("://ab-c\n", cases);
}

// The scan passes over the scheme of "http://" and "https://" only while no
// token or window there is a key: a rule keyed by the scheme's token or by
// a window within it is still found, and so is a key right after it.
TEST(GenericIndexSchemeTest, KeysInAndRightAfterTheScheme) {
  const PageCase schemeTokens[] = {
      {"https://a.b/", "", 1}, {"http://a.b/", "", 1}, {"https:x", "", 1},
      {"http://", "", 1},      {"ftp://a.b/", "", 0},  {"https//a", "", 0},
  };
  expectAnswers("|https:\n|http:\n", schemeTokens);
  const PageCase schemeWindows[] = {
      {"https://a.b/", "", 1},
      {"http://a.b/", "", 0},
      {"http://a.b/?u=https://c", "", 1},
  };
  expectAnswers("tps:/\n", schemeWindows);
  const PageCase hostAfterScheme[] = {
      {"https://ab.x/", "", 1},    {"http://ab.x/", "", 1},
      {"http://xab.x/", "", 0},    {"https://abc.x/", "", 0},
      {"https://ab-cd.x/", "", 1},
  };
  expectAnswers("/ab.\n://ab-c\n", hostAfterScheme);
}

// The vector scan (SSE2 on x86, NEON on arm64) classifies the URL sixteen
// and 64 bytes at a time, takes the tokens of up to three bytes apart by
// their length, and hashes a longer token by words of eight bytes: a rule's
// token must be found whatever its length, across those edges, at the URL's
// end and in a URL shorter than a word, between the bytes that border the
// digits and letters, and a longer run must not pass for it.
TEST(GenericIndexTokenScanTest, TokenFoundAtEveryPlace) {
  const std::string letters = "k7QzWp3xRb9mTn2vLc8dHs4fJg6yBq5wNe0rDu1t";
  for (const size_t length : {1, 2, 3, 4, 7, 8, 9, 16, 17, 70}) {
    std::string token;
    while (token.size() < length) token += letters;
    token.resize(length);
    testing::LoadedEngine engine(
        "/" + token + "/\n=" + token + "|\n|" + token + "|\n^" + token + "^\n",
        "", MatchMode::kAccelerated);
    for (size_t filler = 0; filler < 140; ++filler) {
      const std::string lead = "http://h/" + std::string(filler, '-');
      const struct {
        std::string url;
        int blocked;
      } cases[] = {
          {lead + "/" + token + "/z", 1}, {lead + "=" + token, 1},
          {lead + "/" + token + "9/", 0}, {lead + "=" + token + "a", 0},
          {lead + "@" + token + "[", 1},  {lead + "`" + token + "{", 1},
      };
      for (const auto& c : cases) {
        EXPECT_EQ(engine.block(c.url, ""), c.blocked)
            << length << "-byte token in " << c.url;
      }
    }
    EXPECT_EQ(engine.block(token, ""), 1) << token;
    EXPECT_EQ(engine.block(token + "0", ""), 0) << token;
  }
}

// Past its first 64 bytes the vector scan drops the tokens right after a
// "%" (an escape's): a rule whose only token follows a "%" must still be
// found, a token that a "%" escape runs into is no token of its own, and
// a dropped token that runs on past a block's end must not hide the token
// after it.
TEST(GenericIndexTokenScanTest, TokensAfterAPercentSign) {
  const std::string run(70, 'a');
  const struct {
    std::string tail;  // after "http://h/" and 0 to 139 filler bytes
    int blocked;
  } cases[] = {
      {"%2Fevent%3F", 1},
      {"%2Fevents%3F", 0},
      {"=track&", 1},
      {"%3Dtrack&", 0},
      {"/beacon/", 1},
      {"%beacon/", 0},
      {"%" + run + "/track/", 1},
      {"%" + run + "%2Fevent%3F", 1},
  };
  for (const MatchMode mode : {MatchMode::kAccelerated, MatchMode::kPlain}) {
    testing::LoadedEngine engine("%2Fevent%3F\n=track&\n/track/\n^beacon^\n",
                                 "", mode);
    for (const auto& c : cases) {
      for (size_t filler = 0; filler < 140; ++filler) {
        const std::string url = "http://h/" + std::string(filler, '-') + c.tail;
        EXPECT_EQ(engine.block(url, ""), c.blocked)
            << url << (mode == MatchMode::kPlain ? " plain" : " accelerated");
      }
    }
  }
}

// Long literal rules whose key repeats densely in a long URL: both modes
// must still answer, and answer alike (each candidate check is linear in
// the URL's length, so these decide in milliseconds).
TEST(GenericIndexLongPieceTest, DenseKeysInLongUrls) {
  struct Case {
    std::string rule;
    std::string url;
    int blocked;
  };
  const std::string host = "http://a.b/";
  const Case cases[] = {
      {std::string(65530, 'z'), host + std::string(70000, 'z'), 1},
      {std::string(65529, 'q') + "y", host + std::string(140000, 'q'), 0},
      {std::string(65529, 'q') + "y", host + std::string(140000, 'q') + "y", 1},
      {std::string(199, 'q') + "y", host + std::string(size_t{1} << 20, 'q'),
       0},
      {std::string(99, 'q') + "^" + std::string(99, 'q') + "y",
       host + std::string(size_t{1} << 20, 'q') + "/", 0},
      {"|http://a.b^" + std::string(300, 'q') + "^*",
       host + std::string(300, 'q') + "/x", 1},
      // A piece or a key longer than an entry's 16-bit sizes.
      {std::string(70000, 'q') + "y", host + std::string(70001, 'q') + "y", 1},
      {std::string(70000, 'q') + "y", host + std::string(70001, 'q'), 0},
      {"/" + std::string(70000, 'z') + "/",
       host + std::string(70000, 'z') + "/", 1},
      {"/" + std::string(70000, 'z') + "/",
       host + std::string(70000, 'z') + "x/", 0},
  };
  for (const Case& c : cases) {
    for (const MatchMode mode : {MatchMode::kAccelerated, MatchMode::kPlain}) {
      testing::LoadedEngine engine(c.rule + "\n", "", mode);
      EXPECT_EQ(engine.block(c.url, "http://a.b/"), c.blocked)
          << c.rule.substr(0, 12) << "... of " << c.rule.size() << " bytes, "
          << (mode == MatchMode::kPlain ? "plain" : "accelerated");
    }
  }
}

// One engine asked in turn: a request's keys and their places (a dense
// key's among them, and the room a huge URL grows) must not outlive it.
TEST(GenericIndexLongPieceTest, NoPlaceOutlivesItsRequest) {
  std::string dense = "http://a.b/";
  for (int i = 0; i < 300000; ++i) dense += "zork/";
  const std::string denseLast = dense + "=zork";
  const PageCase cases[] = {
      {"http://a.b/?x=zork", "", 1},   {dense.c_str(), "", 0},
      {"http://a.b/zork", "", 0},      {"http://a.b/?=zork", "", 1},
      {"http://a.b/", "", 0},          {denseLast.c_str(), "", 1},
      {"http://a.b/zork/=zor", "", 0},
  };
  expectAnswers("=zork|\n", cases);
}

// A request may hit more buckets than the scratch list first holds: it
// grows, and the next request starts from the buckets it finds itself.
TEST(GenericIndexHitListTest, ManyBucketsInOneRequest) {
  std::string rules;
  std::string path = "http://h/";
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(i);
    rules += "/tok" + n + "/end" + n + "/\n";
    path += "tok" + n + "/";
  }
  const std::string last = path + "end39/";
  const std::string other = path + "end38/";
  const PageCase cases[] = {
      {last.c_str(), "", 1},          {other.c_str(), "", 0},
      {"http://h/tok5/end5/", "", 1}, {"http://h/end5/", "", 0},
      {last.c_str(), "", 1},
  };
  expectAnswers(rules, cases);
}

}  // namespace
}  // namespace quibex
