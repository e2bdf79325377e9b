// Matching one request against one rule: page domains, third-party, content
// type by suffix and the wildcard pattern; the plain matcher and the one
// that shares per-request facts must agree on every case.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "filters/domain_key.h"
#include "filters/request_facts.h"
#include "filters/request_filter.h"
#include "filters/rule_options.h"

namespace quibex {
namespace {

struct MatchCase {
  std::string rule;
  std::string url;
  std::string page;
  bool expected;
};

std::ostream& operator<<(std::ostream& out, const MatchCase& c) {
  return out << c.rule << " / " << c.url << " / " << c.page;
}

class MatchTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchTest, PlainAndSharedFactsAgree) {
  const MatchCase& c = GetParam();
  const std::unique_ptr<RequestFilter> f = parseRequestFilter(c.rule);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->matches(c.url, c.page), c.expected);
  const RequestFacts facts(c.url, c.page);
  EXPECT_EQ(f->matches(facts), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, MatchTest,
    ::testing::Values(
        MatchCase{"||a.b^", "http://x.a.b/p", "", true},
        MatchCase{"||a.b^", "http://x.a.b", "", true},
        MatchCase{"||a.b^", "http://a.b_x/", "", true},
        MatchCase{"||a.b^", "http://x.a.bc/", "", false},
        MatchCase{"||a.b^", "http://a.b.c/", "", false},
        MatchCase{"||a.b^", "http://a.b%2f", "", false},
        MatchCase{"||a.b^", "http://x/?u=a.b/", "", true},
        MatchCase{"||a.b^", "http://a.b\xc3\xa9", "", true},
        MatchCase{"Ads", "http://x/ads", "", false},
        MatchCase{"|http://a.b/|", "http://a.b/", "", true},
        MatchCase{"|http://a.b/|", "http://a.b/x", "", false},
        MatchCase{"|http://a.b/|", "xhttp://a.b/", "", false},
        MatchCase{"a|b", "xa|by", "", true}, MatchCase{"ads", "", "", false},
        MatchCase{"$script", "", "", false}, MatchCase{"|", "", "", true},
        MatchCase{"||||", "", "", true}, MatchCase{"||||", "x", "", false}));

INSTANTIATE_TEST_SUITE_P(
    ContentTypes, MatchTest,
    ::testing::Values(
        MatchCase{"x$script", "http://x/a.js", "", true},
        MatchCase{"x$script", "http://x/a.js?v=1", "", false},
        MatchCase{"x$script", "http://x/A.JS", "", false},
        MatchCase{"x$stylesheet", "http://x/a.css", "", true},
        MatchCase{"x$object", "http://x/a.swf", "", true},
        MatchCase{"x$image", "http://x/a.jpeg", "", true},
        MatchCase{"x$image", "http://x/a.bmp", "", true},
        MatchCase{"x$image", "http://x/a.js", "", false},
        MatchCase{"x$script,image", "http://x/a.gif", "", true},
        MatchCase{"x$xmlhttprequest", "http://x/a.js", "", false},
        MatchCase{"x$subdocument,document,other", "http://x/a.png", "", false},
        MatchCase{"x$~script", "http://x/a.png", "", true},
        MatchCase{"x$~script", "http://x/a.js", "", false},
        MatchCase{"x$~script", "http://x/a.html", "", false},
        MatchCase{"x$~script,~image", "http://x/a.js", "", true}));

INSTANTIATE_TEST_SUITE_P(
    ThirdParty, MatchTest,
    ::testing::Values(
        MatchCase{"x$third-party", "http://cdn.a.b/x.js", "http://s.a.b/",
                  false},
        MatchCase{"x$third-party", "http://c.d/x?ref=a.b", "http://s.a.b/",
                  false},
        MatchCase{"x$third-party", "http://c.d/x", "http://s.a.b/", true},
        MatchCase{"x$third-party", "http://c.d/x", "", false},
        MatchCase{"x$third-party", "http://c.d/x", "http://h/", false},
        MatchCase{"x$~third-party", "http://c.d/x", "http://h/", true},
        MatchCase{"x$~third-party", "http://c.d/x", "http://s.a.b/", false},
        MatchCase{"x$~third-party", "http://a.b/x", "http://s.a.b/", true},
        MatchCase{"x$third-party,~third-party", "http://c.d/x", "http://s.a.b/",
                  true},
        MatchCase{"x$third-party,~third-party", "http://a.b/x", "http://s.a.b/",
                  true},
        MatchCase{"x$third-party", "http://c.d/x", "https://a.b/?u=http://c.d/",
                  true}));

INSTANTIATE_TEST_SUITE_P(
    Domains, MatchTest,
    ::testing::Values(
        MatchCase{"x$domain=a.b", "http://x/", "http://s.a.b/", true},
        MatchCase{"x$domain=a.b", "http://x/", "http://xa.b.c/", true},
        MatchCase{"x$domain=a.b", "http://x/", "http://c.d/", false},
        MatchCase{"x$domain=a.b", "http://x/", "", false},
        MatchCase{"x$domain=~c.a.b", "http://x/", "http://c.a.b/", false},
        MatchCase{"x$domain=~c.a.b", "http://x/", "http://d.e/", true},
        MatchCase{"x$domain=~c.a.b", "http://x/", "http://h/", false},
        MatchCase{"x$domain=a.b|~c.a.b", "http://x/", "http://d.e/", true},
        MatchCase{"x$domain=a.b|~c.a.b", "http://x/", "http://c.a.b/", false},
        MatchCase{"x$domain=a.b", "http://x/", "http://a.b:8080/x", true},
        MatchCase{"x$domain=|a.b", "http://x/", "http://q.r/", true},
        MatchCase{"x$domain=A.b", "http://x/", "http://a.b/", false},
        MatchCase{"x$domain", "http://x/", "", true}));

struct SiteKeyCase {
  std::string url;
  std::string key;
};

class SiteKeyTest : public ::testing::TestWithParam<SiteKeyCase> {};

TEST_P(SiteKeyTest, KeyOfUrl) {
  EXPECT_EQ(siteKey(GetParam().url), GetParam().key) << GetParam().url;
}

INSTANTIATE_TEST_SUITE_P(
    Urls, SiteKeyTest,
    ::testing::Values(SiteKeyCase{"http://s.a.b/", "a.b"},
                      SiteKeyCase{"https://s.a.b/", "a.b"},
                      SiteKeyCase{"http://a.b:8080", "a.b"},
                      SiteKeyCase{"http://a.b:8080/x", "a.b:8080"},
                      SiteKeyCase{"http://h/", ""},
                      SiteKeyCase{"https://a.b/?u=http://c.d/", "a.b"},
                      SiteKeyCase{"http://x.y.a.b/c.d.e", "a.b"},
                      SiteKeyCase{"a.b", "a.b"}, SiteKeyCase{"", ""},
                      SiteKeyCase{"http://.a.b/", "a.b"},
                      SiteKeyCase{"http://a.b./", ""},
                      SiteKeyCase{"**x.a.b", "a.b"}));

// The page's keys, found together in one walk, and the party, tried first
// in the request's host: the same as each fact found on its own.
TEST(RequestFactsTest, AgreeWithFactsFoundAlone) {
  const char* const pages[] = {"",
                               "https://",
                               "http://a.b",
                               "http://a.b/",
                               "http://s.a.b/x.y.z",
                               "http://.a.b/",
                               "http://a.b./",
                               "http://a..b/",
                               "http://x.a..b",
                               "http://a.b:8080",
                               "http://a.b:8080/x",
                               "http://a.b/x:y",
                               "**x.a.b",
                               "*.a.b",
                               "http://a*.b.c/",
                               "http://a.b^",
                               "http://a.b*",
                               "http://a.b**",
                               "a.b",
                               "http://h/",
                               "http://s.a.b?x=c.d",
                               ".",
                               "*",
                               ":",
                               "/",
                               "http://:/",
                               "https://www.a.b.c.d/e"};
  const struct {
    const char* url;
    const char* host;  // the host of url, or empty: none given
  } requests[] = {{"http://cdn.a.b/x.js", "cdn.a.b"},
                  {"http://c.d/?u=a.b", "c.d"},
                  {"http://c.d/?u=a.b", ""},
                  {"http://x.a.b:8080/", "x.a.b"},
                  {"", ""}};
  for (const char* page : pages) {
    for (const auto& r : requests) {
      const std::string url = r.url;
      const size_t at = url.find(r.host);
      const RequestFacts facts(
          url, page,
          std::string_view(url).substr(at, std::string_view(r.host).size()));
      EXPECT_EQ(facts.pageDomainKey(), domainKeyView(page)) << page;
      EXPECT_EQ(facts.firstParty(), isFirstParty(url, page))
          << page << " " << url;
    }
  }
}

// Random pages of every length around the sixteen-byte blocks of the page
// scan (hosts up to and past 64 bytes; a ":", "/" or wildcard anywhere):
// the keys and the party are those each fact gives when found alone.
TEST(RequestFactsTest, RandomPagesAgreeWithFactsFoundAlone) {
  std::mt19937 rng(19);
  const auto pick = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
  const char* const schemes[] = {"", "http://", "https://", "*", "**h"};
  // Half the texts hold only letters and dots.
  const auto text = [&](size_t size, bool plain) {
    std::string out;
    for (size_t i = 0; i < size; ++i) {
      const size_t roll = plain ? (pick(5) == 0 ? 0 : 12) : pick(40);
      out += roll < 8     ? '.'
             : roll == 8  ? ':'
             : roll == 9  ? '/'
             : roll == 10 ? '*'
             : roll == 11 ? '^'
                          : "ab"[pick(2)];
    }
    return out;
  };
  for (int round = 0; round < 20000; ++round) {
    const bool plain = round % 2 == 0;
    const std::string page = schemes[pick(5)] + text(pick(90), plain);
    const std::string host = text(pick(24), plain);
    const std::string url = "http://" + host + "/" + text(pick(40), plain);
    const RequestFacts facts(url, page,
                             std::string_view(url).substr(7, host.size()));
    ASSERT_EQ(facts.pageDomainKey(), domainKeyView(page)) << page;
    ASSERT_EQ(facts.firstParty(), isFirstParty(url, page))
        << page << " " << url;
  }
}

// A page's site key as long as its host: found wherever it stands in the
// URL, by a search linear in both lengths, and not where only part of it
// does.
TEST(RequestFactsTest, LongSiteKeys) {
  const std::string label(300, 'a');
  const std::string page = "http://" + label + ".b/";
  const std::string filler(700, 'a');
  const struct {
    std::string url;
    bool firstParty;
  } cases[] = {
      {"http://h/?u=" + filler + ".b", true},
      {"http://h/?u=" + filler, false},
      {"http://h/?u=" + label.substr(1) + ".b" + filler, false},
      {"http://x." + label + ".b/", true},
  };
  for (const auto& c : cases) {
    const RequestFacts facts(c.url, page);
    EXPECT_EQ(facts.firstParty(), c.firstParty) << c.url.substr(0, 16);
    EXPECT_EQ(isFirstParty(c.url, page), c.firstParty) << c.url.substr(0, 16);
  }
}

// A rule looked up under its key, with the place of that key in the URL:
// the same answers as the plain matcher, whether the rule is settled at the
// key's place or the key stands elsewhere too.
TEST(KeyPlaceTest, AgreesWithPlainMatcher) {
  const std::string dots(80, '.');
  const struct {
    std::string rule;
    std::string url;
    bool placed;  // the key's first place after "://" is given
    bool expected;
  } cases[] = {
      {"||a.b^", "http://a.b/p", true, true},
      {"||a.b^", "http://a.b:8080/", true, true},
      {"||a.b^", "http://a.b", true, true},
      {"||a.b^", "http://a.b.c/", true, false},
      {"||a.b^", "http://a.b.c/?u=a.b/", true, true},
      {"||a.b^", "http://a.b%/", true, false},
      {"||a.b^", "http://x.a.b/", false, true},
      {"||a.a^", "http://a.a.a/", true, true},
      {"||a.b/ads/", "http://a.b/ads/x", true, true},
      {"||a.b/ads/", "http://a.b/search", true, false},
      {"||a.b/ads/", "http://a.b/search?x=a.b/ads/", true, true},
      {"||a.b/ads|", "http://a.b/ads", true, true},
      {"||a.b/ads|", "http://a.b/adsx", true, false},
      {"||a.b/*/ads^", "http://a.b/x/ads?", true, true},
      {"||a.b/x$script", "http://a.b/x.js", true, true},
      {"||a.b/x$script", "http://a.b/x.css", true, false},
      {"|http://a.b/ads", "http://a.b/ads", true, true},
      {"||a.b/ads", "http://a.b/ad", true, false},
      {"||a.b/ads", "http://a.b/", true, false},
      {"||a.b/ads", "http://a.b", true, false},
      {"||a.b/ads$script", "http://a.b/s?u=a.b/ads.js", true, true},
      {"||a.b/|", "http://a.b/", true, true},
      {"||a.b/|", "http://a.b", true, false},
      {"||a.b^*x", "http://a.b/x", true, true},
      {"||a.b/ads", "http://a.b/s?u=a.b/x&v=a.b", true, false},
      {"||a.b/ads", "http://a.b/s?u=a.b/x&v=a.b/ads", true, true},
      {"||a.b/ads", "http://a.b/?a.a.b/a.b/a.b/a.b/a.b/a.b/ads", true, true},
      {"||a.b/ads", "http://a.b/?a.a.b/a.b/a.b/a.b/a.b/a.b/", true, false},
      {"||a.b/ads^", "http://a.b/ads", true, true},
      {"||a.b^x", "http://a.b/x", true, true},
      {"||a.b^x", "http://a.b-x", true, false},
      {"||a.b^x", "http://a.b-x?a.b/x", true, true},
      // Past many dots the other places are searched for as a whole.
      {"||a.b/ads/", "http://a.b/?" + dots + "a.b/ads/", true, true},
      {"||a.b/ads/", "http://a.b/?" + dots + "a.b/", true, false},
  };
  size_t quickMisses = 0;
  size_t peekMisses = 0;
  size_t peekMissesElsewhere = 0;
  size_t placedMatches = 0;
  for (const auto& c : cases) {
    const std::unique_ptr<RequestFilter> f = parseRequestFilter(c.rule);
    ASSERT_NE(f, nullptr);
    const std::string_view key = f->domainKeyView();
    const size_t at = c.url.find(key, c.url.find("://") + 3);
    ASSERT_TRUE(!c.placed || at != std::string::npos) << c.rule;
    KeyPlace place(c.placed ? c.url.data() + at : nullptr, key.size());
    const RequestFacts facts(c.url, "");
    // The quick verdict, when it has one, is a miss the matcher agrees on.
    if (f->missesAtPlace(c.url, &place)) {
      ++quickMisses;
      EXPECT_FALSE(c.expected) << c.rule << " " << c.url;
    }
    // A match at the key's place is one the matcher agrees on.
    if (f->verdictAtPlace(c.url, place) == RequestFilter::AtPlace::kMatches) {
      ++placedMatches;
      EXPECT_TRUE(c.expected) << c.rule << " " << c.url;
    }
    // So is a miss by the rule's peek, unless the key stands elsewhere too.
    const uint16_t peek = f->peekAfterKey();
    if (c.placed && peek != 0) {
      const char* after = place.where() + key.size();
      const size_t size =
          static_cast<size_t>(c.url.data() + c.url.size() - after);
      if (RequestFilter::peekMisses(
              peek, RequestFilter::bytesAfterKey(after, size))) {
        ++peekMisses;
        EXPECT_TRUE(place.occursElsewhere(c.url) || !c.expected)
            << c.rule << " " << c.url;
        EXPECT_EQ(f->missesAtPlace(c.url, &place),
                  !place.occursElsewhere(c.url))
            << c.rule << " " << c.url;
        // And at the key's other places, when the place keeps them.
        if (place.occursElsewhere(c.url) && place.peekMissesElsewhere(peek)) {
          ++peekMissesElsewhere;
          EXPECT_FALSE(c.expected) << c.rule << " " << c.url;
        }
      }
    }
    EXPECT_EQ(f->matches(c.url, ""), c.expected) << c.rule << " " << c.url;
    EXPECT_EQ(f->matches(facts, &place), c.expected) << c.rule << " " << c.url;
    // Asked again, the place's remembered answer gives the same.
    EXPECT_EQ(f->matches(facts, &place), c.expected) << c.rule << " " << c.url;
  }
  EXPECT_GT(quickMisses, 0u);
  EXPECT_GT(peekMisses, 0u);
  EXPECT_GT(peekMissesElsewhere, 0u);
  EXPECT_GT(placedMatches, 0u);
}

// The other places of a key, found sixteen places at a time in a URL of
// sixteen bytes or more and by its dots in a shorter one, the rest by a
// literal search when there are many: whether there are any, and the bytes
// after the first few, as a search of every place finds them.
TEST(KeyPlaceTest, RandomUrlsAgreeWithEveryPlace) {
  std::mt19937 rng(23);
  const auto pick = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
  const auto check = [&pick](const std::string& url, size_t at, size_t size) {
    const std::string_view key = std::string_view(url).substr(at, size);
    std::vector<size_t> others;
    for (size_t p = 0; p + size <= url.size(); ++p) {
      if (p != at && url.compare(p, size, key) == 0) others.push_back(p);
    }
    KeyPlace place(url.data() + at, size);
    ASSERT_EQ(place.occursElsewhere(url), !others.empty()) << url << " " << at;
    const uint16_t peek =
        static_cast<uint16_t>("ab./"[pick(4)] | ("ab./"[pick(4)] << 8));
    bool missesEverywhere = others.size() <= 4;
    for (size_t i = 0; i < others.size() && missesEverywhere; ++i) {
      const size_t after = others[i] + size;
      missesEverywhere = RequestFilter::peekMisses(
          peek,
          RequestFilter::bytesAfterKey(url.data() + after, url.size() - after));
    }
    ASSERT_EQ(place.peekMissesElsewhere(peek), missesEverywhere)
        << url << " " << at;
  };
  for (int round = 0; round < 20000; ++round) {
    std::string url;
    // Up to 200 bytes: a short key's places run past the compared ones,
    // where the rest is left to a literal search.
    for (size_t n = pick(200); n > 0; --n) url += "ab./"[pick(4)];
    const size_t size = 1 + pick(6);
    if (url.size() < size) continue;
    check(url, pick(url.size() - size + 1), size);
  }
  // Places that share the key's first and last bytes only, then the key
  // itself just before, at and after the one where the literal search
  // takes over.
  for (size_t unlike = 30; unlike <= 34; ++unlike) {
    std::string url = "http://a.b/";
    for (size_t i = 0; i < unlike; ++i) url += "a.c/";
    check(url + "a.b/", 7, 4);
  }
}

TEST(EndsWithTest, SuffixRules) {
  EXPECT_EQ(contentTypesOf("a.js"), kTypeScript);
  EXPECT_EQ(contentTypesOf(".js"), kTypeScript);
  EXPECT_EQ(contentTypesOf("js"), 0u);
  EXPECT_EQ(contentTypesOf("a.ico"), kTypeImage);
  EXPECT_EQ(contentTypesOf("a.png#x"), 0u);
}

}  // namespace
}  // namespace quibex
