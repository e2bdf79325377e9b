// Parsing of request rule lines: pattern, flags, option words, domain lists
// and the domain key.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <string_view>
#include <vector>

#include "filters/domain_key.h"
#include "filters/request_filter.h"
#include "filters/rule_arena.h"
#include "filters/rule_options.h"
#include "filters/text_util.h"

namespace quibex {
namespace {

using Names = std::vector<std::string>;

struct ParseCase {
  std::string line;
  std::string pattern;
  std::string key;
  bool exception;
  uint32_t typeMask;
  uint32_t thirdParty;
  bool elemHide;
  Names include;
  Names exclude;
};

void expectFields(const RequestFilter& f, const ParseCase& c) {
  EXPECT_EQ(f.text(), c.line);
  EXPECT_EQ(f.textSize(), c.line.size());
  EXPECT_EQ(f.pattern(), c.pattern);
  EXPECT_EQ(f.domainKeyView(), c.key);
  EXPECT_EQ(f.isException(), c.exception);
  EXPECT_EQ(f.typeMask(), c.typeMask);
  EXPECT_EQ(f.thirdParty(), c.thirdParty);
  EXPECT_EQ(f.elemHide(), c.elemHide);
  EXPECT_EQ(f.includeDomains(), c.include);
  EXPECT_EQ(f.excludeDomains(), c.exclude);
}

// Lines of every shape: anchors, stars, options, domain lists, no key.
std::vector<ParseCase> lineCases() {
  return {
      {"||a.b^", "*a.b^*", "a.b", false, 0, 0, false, {}, {}},
      {"@@||a.b^$script", "*a.b^*", "a.b", true, kTypeScript, 0, false, {}, {}},
      {"|http://a.b/|", "http://a.b/", "a.b", false, 0, 0, false, {}, {}},
      {"|||x", "x*", "", false, 0, 0, false, {}, {}},
      {"/ads/*", "*/ads/**", "", false, 0, 0, false, {}, {}},
      {"ads*.a.b/x", "*ads*.a.b/x*", "a.b", false, 0, 0, false, {}, {}},
      {" !x", "* !x*", "", false, 0, 0, false, {}, {}},
      {"a!b", "*a!b*", "", false, 0, 0, false, {}, {}},
      {"a$b$script", "*a$b*", "", false, kTypeScript, 0, false, {}, {}},
      {"abc$", "*abc*", "", false, 0, 0, false, {}, {}},
      {"$script", "**", "", false, kTypeScript, 0, false, {}, {}},
      {"x$script,", "*x*", "", false, kTypeScript, 0, false, {}, {}},
      {"x$Script", "*x*", "", false, 0, 0, false, {}, {}},
      {"x$~script", "*x*", "", false, 0xFFFFFFFE, 0, false, {}, {}},
      {"x$~script,~image", "*x*", "", false, 0xFFFFFFFF, 0, false, {}, {}},
      {"x$image,object,other",
       "*x*",
       "",
       false,
       kTypeImage | kTypeObject | kTypeOther,
       0,
       false,
       {},
       {}},
      {"x$xmlhttprequest,object-subrequest,subdocument,document",
       "*x*",
       "",
       false,
       0xF0,
       0,
       false,
       {},
       {}},
      {"x$~other", "*x*", "", false, 0xFFFFFEFF, 0, false, {}, {}},
      {"x$third-party", "*x*", "", false, 0, kThirdParty, false, {}, {}},
      {"x$~third-party", "*x*", "", false, 0, kFirstParty, false, {}, {}},
      {"x$third-party,~third-party",
       "*x*",
       "",
       false,
       0,
       kThirdParty | kFirstParty,
       false,
       {},
       {}},
      {"x$elemhide", "*x*", "", false, 0, 0, true, {}, {}},
      {"x$~elemhide", "*x*", "", false, 0, 0, true, {}, {}},
      {"x$domain=a.b|~c.a.b",
       "*x*",
       "",
       false,
       0,
       0,
       false,
       {"a.b"},
       {"c.a.b"}},
      {"x$~domain=a.b", "*x*", "", false, 0, 0, false, {"a.b"}, {}},
      {"x$domain=a.b|", "*x*", "", false, 0, 0, false, {"a.b|"}, {}},
      {"x$domain=|a.b", "*x*", "", false, 0, 0, false, {"", "a.b"}, {}},
      {"x$domain=a||b", "*x*", "", false, 0, 0, false, {"a", "", "b"}, {}},
      {"x$domain=|", "*x*", "", false, 0, 0, false, {"|"}, {}},
      {"x$domain=a|~", "*x*", "", false, 0, 0, false, {"a"}, {""}},
      {"x$domain", "*x*", "", false, 0, 0, false, {}, {}},
      {"x$domainXa.b", "*x*", "", false, 0, 0, false, {"a.b"}, {}},
      {"x$domain=A.b,script",
       "*x*",
       "",
       false,
       kTypeScript,
       0,
       false,
       {"A.b"},
       {}},
      {"[List 2.0]", "*[List 2.0]*", "[List 2.0]", false, 0, 0, false, {}, {}},
      {"**^*", "***^**", "", false, 0, 0, false, {}, {}},
      {"@@|||x|$elemhide", "x", "", true, 0, 0, true, {}, {}},
      {"||||", "", "", false, 0, 0, false, {}, {}},
      {"|", "*", "", false, 0, 0, false, {}, {}},
      {"", "**", "", false, 0, 0, false, {}, {}},
      {"||A.b^", "*A.b^*", "A.b", false, 0, 0, false, {}, {}},
      {"||a.b:8080^", "*a.b:8080^*", "a.b:8080", false, 0, 0, false, {}, {}},
      {"||a.b^?x=c.d", "*a.b^?x=c.d*", "", false, 0, 0, false, {}, {}},
      {"||a*.b^", "*a*.b^*", "", false, 0, 0, false, {}, {}},
      {"\t||a.b^", "*\t||a.b^*", "\t||a.b", false, 0, 0, false, {}, {}}};
}

// Lines whose sizes do not fit a filter's short fields: a body and a key
// over 65,535 bytes, keys that start past byte 254 of the pattern (with and
// without a path), and options over 65,535 bytes on an anchored exception.
std::vector<ParseCase> longCases() {
  const std::string host(70000, 'a');
  const std::string far(300, 'x');
  const std::string name(70000, 'e');
  return {
      {"||" + host + ".b^",
       "*" + host + ".b^*",
       host + ".b",
       false,
       0,
       0,
       false,
       {},
       {}},
      {"*" + far + "*.a.b/",
       "**" + far + "*.a.b/*",
       "a.b",
       false,
       0,
       0,
       false,
       {},
       {}},
      {"||" + far + "*.a.b^",
       "*" + far + "*.a.b^*",
       "a.b",
       false,
       0,
       0,
       false,
       {},
       {}},
      {"@@|a.b|$script,domain=c.d|~" + name,
       "a.b",
       "a.b",
       true,
       kTypeScript,
       0,
       false,
       {"c.d"},
       {name}},
  };
}

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, FieldsFollowTheLine) {
  const std::unique_ptr<RequestFilter> f = parseRequestFilter(GetParam().line);
  ASSERT_NE(f, nullptr);
  expectFields(*f, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Long, ParseTest, ::testing::ValuesIn(longCases()));
INSTANTIATE_TEST_SUITE_P(Lines, ParseTest, ::testing::ValuesIn(lineCases()));

// Every line above placed in one arena, each piece starting where the one
// before left it (rules with and without options, of odd and even sizes).
TEST(ParseTest, RulesSideBySideInAnArena) {
  std::vector<ParseCase> cases = lineCases();
  for (ParseCase& c : longCases()) cases.push_back(std::move(c));
  RuleArena arena;
  std::vector<RequestFilter*> placed;
  for (const ParseCase& c : cases) {
    placed.push_back(parseRequestFilter(c.line, arena));
    ASSERT_NE(placed.back(), nullptr);
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].line.substr(0, 40));
    expectFields(*placed[i], cases[i]);
  }
  for (RequestFilter* f : placed) f->~RequestFilter();
}

// Lines of a bare host rule's shape and near it, at random: each keeps its
// text and stores the key of its pattern, and exactly the bare host rules
// (no options, no "/", a closing "^") take the record without a Sizes
// block: their one block holds the record and the pattern [*?][body]*.
TEST(ParseTest, BareHostRulesAtRandom) {
  struct Block {
    size_t bytes = 0;
    size_t alignment = 0;
    std::vector<std::max_align_t> storage;
  };
  const auto allocate = [](size_t bytes, size_t alignment, void* context) {
    Block* block = static_cast<Block*>(context);
    block->bytes = bytes;
    block->alignment = alignment;
    block->storage.resize(bytes / sizeof(std::max_align_t) + 1);
    return static_cast<void*>(block->storage.data());
  };
  std::mt19937 random(5);
  const std::string_view prefixes[] = {"", "|", "||", "|||", "@@||", "@@|"};
  const std::string_view bytes = "ab.*^$/|.aa";
  for (int n = 0; n < 50000; ++n) {
    std::string line(prefixes[random() % 6]);
    const size_t size = line.size() + random() % 24;
    while (line.size() < size) line.push_back(bytes[random() % bytes.size()]);
    if (random() % 4 != 0) line.push_back('^');
    size_t pos = line.compare(0, 2, "@@") == 0 ? 2 : 0;
    if (line.compare(pos, 2, "||") == 0) pos += 2;
    const bool leadStar = line.compare(pos, 1, "|") != 0;
    if (!leadStar) ++pos;
    const std::string body = line.substr(pos);
    const bool bare = line.find('$') == std::string::npos && !body.empty() &&
                      body.back() == '^' && body.find('/') == std::string::npos;

    Block block;
    RequestFilter* f = parseRequestFilterInto(line, allocate, &block);
    ASSERT_NE(f, nullptr) << line;
    EXPECT_EQ(f->text(), line);
    EXPECT_EQ(f->domainKeyView(), domainKeyView(f->pattern())) << line;
    const size_t bareBytes = sizeof(RequestFilter) + body.size() + 2;
    EXPECT_EQ(block.bytes == bareBytes - (leadStar ? 0 : 1), bare) << line;
    if (bare) {
      EXPECT_EQ(block.alignment, alignof(RequestFilter));
      EXPECT_EQ(f->pattern(), (leadStar ? "*" : "") + body + "*") << line;
    }
    f->~RequestFilter();
  }
}

TEST(ParseTest, CommentsYieldNoFilter) {
  EXPECT_EQ(parseRequestFilter("!comment"), nullptr);
  EXPECT_EQ(parseRequestFilter("!"), nullptr);
  EXPECT_EQ(parseRequestFilter("!||a.b^"), nullptr);
  EXPECT_NE(parseRequestFilter("@@!x"), nullptr);
}

struct KeyCase {
  std::string text;
  std::string key;
};

class DomainKeyTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(DomainKeyTest, KeyOfText) {
  EXPECT_EQ(domainKey(GetParam().text), GetParam().key) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DomainKeyTest,
    ::testing::Values(
        KeyCase{"", ""}, KeyCase{"*", ""}, KeyCase{"**", ""},
        KeyCase{"*a.b^*", "a.b"}, KeyCase{"a.b", "a.b"},
        KeyCase{"http://a.b/x", "a.b"}, KeyCase{"https://a.b/x", "a.b"},
        KeyCase{"*https://a.b/x*", "a.b"}, KeyCase{"**http://a.b", "a.b"},
        // Only a scheme at the start position is skipped.
        KeyCase{"*ads.example.com/go?to=http://x*", "ads.example.com"},
        KeyCase{"x/?u=http://c.d/", ""}, KeyCase{"*ads*.a.b/x*", "a.b"},
        KeyCase{"*a^b.c.d/*", "c.d"}, KeyCase{"*a*b*", ""},
        KeyCase{"*.a.b*", ""}, KeyCase{"*a.b.*", ""}, KeyCase{"*ab*", ""},
        KeyCase{"http://a.b:8080/x", "a.b:8080"},
        KeyCase{"https://a.b/?u=http://c.d/", "a.b"},
        KeyCase{"http://a.b?x=c.d", "a.b?x=c.d"}, KeyCase{"***a.b", ""},
        KeyCase{"^^", ""}, KeyCase{"a.b^^", "a.b"}, KeyCase{"a.b*^*", ""},
        KeyCase{"a.b/^*", "a.b"},
        // Texts longer than a word of eight bytes, wildcards and dots on
        // either side of a word's edges.
        KeyCase{"*sub.ads.example.com^*", "sub.ads.example.com"},
        KeyCase{"*ads*.tracker.example.com/x", "tracker.example.com"},
        KeyCase{"*a*bcdefghij.klmnopq.rs^*", "klmnopq.rs"},
        KeyCase{"*abcdefgh*.ijklmnop^*", ""},
        KeyCase{"abcdefg.hijklmno*pqrst.uvwxyz.ab", "uvwxyz.ab"},
        KeyCase{"abcdefg.hijklmn^.pqrstuvw.xyz", "pqrstuvw.xyz"},
        KeyCase{".abcdefghijklmnop.q", ""},
        KeyCase{"abcdefghijklmnopqrstuvwxyz", ""}));

// The key as the header words it, read plainly: the span before the first
// "/" (or before at most two closing wildcards), after the last wildcard's
// next dot when the span holds a wildcard, kept when host-like.
std::string plainKey(std::string_view text) {
  size_t start = 0;
  while (start < 2 && start < text.size() && text[start] == '*') ++start;
  for (const std::string_view scheme : {"http://", "https://"}) {
    if (text.substr(start, scheme.size()) == scheme) start += scheme.size();
  }
  size_t end = text.find('/', start);
  if (end == std::string_view::npos) {
    end = text.size();
    for (int i = 0; i < 2 && end > 0 && isWildcard(text[end - 1]); ++i) --end;
    end = std::max(end, start);
  }
  std::string_view span = text.substr(start, end - start);
  const size_t wildcard = span.find_last_of("*^");
  if (wildcard != std::string_view::npos) {
    const size_t dot = span.find('.', wildcard);
    if (dot == std::string_view::npos) return "";
    span.remove_prefix(dot + 1);
  }
  return std::string(hostLikeOrEmpty(span));
}

// Random texts of the bytes that decide a key, of every length around the
// word sizes the key scan reads, against the plain reading.
TEST(DomainKeyTest, AgreesWithAPlainReading) {
  std::mt19937 random(19);
  const std::string_view bytes = "ab.*^/..aa";
  for (int n = 0; n < 200000; ++n) {
    std::string text = n % 7 == 0 ? "https://" : n % 5 == 0 ? "*" : "";
    const size_t size = random() % 40;
    while (text.size() < size) text.push_back(bytes[random() % bytes.size()]);
    ASSERT_EQ(domainKey(text), plainKey(text)) << text;
    if (text.find('/') == std::string::npos) {
      ASSERT_EQ(slashlessDomainKeyView(text), plainKey(text)) << text;
    }
  }
}

}  // namespace
}  // namespace quibex
