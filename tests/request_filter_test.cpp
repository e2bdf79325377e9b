// Parsing of request rule lines: pattern, flags, option words, domain lists
// and the domain key.
#include <gtest/gtest.h>

#include "filters/request_filter.h"
#include "filters/rule_options.h"

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

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, FieldsFollowTheLine) {
  const ParseCase& c = GetParam();
  const std::unique_ptr<RequestFilter> f = parseRequestFilter(c.line);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->text(), c.line);
  EXPECT_EQ(f->pattern(), c.pattern);
  EXPECT_EQ(f->domainKeyView(), c.key);
  EXPECT_EQ(f->isException(), c.exception);
  EXPECT_EQ(f->typeMask(), c.typeMask);
  EXPECT_EQ(f->thirdParty(), c.thirdParty);
  EXPECT_EQ(f->elemHide(), c.elemHide);
  EXPECT_EQ(f->includeDomains(), c.include);
  EXPECT_EQ(f->excludeDomains(), c.exclude);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseTest,
    ::testing::Values(
        ParseCase{"||a.b^", "*a.b^*", "a.b", false, 0, 0, false, {}, {}},
        ParseCase{"@@||a.b^$script", "*a.b^*", "a.b", true, kTypeScript, 0,
                  false, {}, {}},
        ParseCase{"|http://a.b/|", "http://a.b/", "a.b", false, 0, 0, false,
                  {}, {}},
        ParseCase{"|||x", "x*", "", false, 0, 0, false, {}, {}},
        ParseCase{"/ads/*", "*/ads/**", "", false, 0, 0, false, {}, {}},
        ParseCase{"ads*.a.b/x", "*ads*.a.b/x*", "a.b", false, 0, 0, false, {},
                  {}},
        ParseCase{" !x", "* !x*", "", false, 0, 0, false, {}, {}},
        ParseCase{"a!b", "*a!b*", "", false, 0, 0, false, {}, {}},
        ParseCase{"a$b$script", "*a$b*", "", false, kTypeScript, 0, false, {},
                  {}},
        ParseCase{"abc$", "*abc*", "", false, 0, 0, false, {}, {}},
        ParseCase{"$script", "**", "", false, kTypeScript, 0, false, {}, {}},
        ParseCase{"x$script,", "*x*", "", false, kTypeScript, 0, false, {},
                  {}},
        ParseCase{"x$Script", "*x*", "", false, 0, 0, false, {}, {}},
        ParseCase{"x$~script", "*x*", "", false, 0xFFFFFFFE, 0, false, {},
                  {}},
        ParseCase{"x$~script,~image", "*x*", "", false, 0xFFFFFFFF, 0, false,
                  {}, {}},
        ParseCase{"x$image,object,other", "*x*", "", false,
                  kTypeImage | kTypeObject | kTypeOther, 0, false, {}, {}},
        ParseCase{"x$xmlhttprequest,object-subrequest,subdocument,document",
                  "*x*", "", false, 0xF0, 0, false, {}, {}},
        ParseCase{"x$~other", "*x*", "", false, 0xFFFFFEFF, 0, false, {}, {}},
        ParseCase{"x$third-party", "*x*", "", false, 0, kThirdParty, false,
                  {}, {}},
        ParseCase{"x$~third-party", "*x*", "", false, 0, kFirstParty, false,
                  {}, {}},
        ParseCase{"x$third-party,~third-party", "*x*", "", false, 0,
                  kThirdParty | kFirstParty, false, {}, {}},
        ParseCase{"x$elemhide", "*x*", "", false, 0, 0, true, {}, {}},
        ParseCase{"x$~elemhide", "*x*", "", false, 0, 0, true, {}, {}},
        ParseCase{"x$domain=a.b|~c.a.b", "*x*", "", false, 0, 0, false,
                  {"a.b"}, {"c.a.b"}},
        ParseCase{"x$~domain=a.b", "*x*", "", false, 0, 0, false, {"a.b"}, {}},
        ParseCase{"x$domain=a.b|", "*x*", "", false, 0, 0, false, {"a.b|"},
                  {}},
        ParseCase{"x$domain=|a.b", "*x*", "", false, 0, 0, false, {"", "a.b"},
                  {}},
        ParseCase{"x$domain=a||b", "*x*", "", false, 0, 0, false,
                  {"a", "", "b"}, {}},
        ParseCase{"x$domain", "*x*", "", false, 0, 0, false, {}, {}},
        ParseCase{"x$domainXa.b", "*x*", "", false, 0, 0, false, {"a.b"}, {}},
        ParseCase{"x$domain=A.b,script", "*x*", "", false, kTypeScript, 0,
                  false, {"A.b"}, {}},
        ParseCase{"[List 2.0]", "*[List 2.0]*", "[List 2.0]", false, 0, 0,
                  false, {}, {}},
        ParseCase{"**^*", "***^**", "", false, 0, 0, false, {}, {}},
        ParseCase{"@@|||x|$elemhide", "x", "", true, 0, 0, true, {}, {}},
        ParseCase{"||||", "", "", false, 0, 0, false, {}, {}},
        ParseCase{"|", "*", "", false, 0, 0, false, {}, {}},
        ParseCase{"", "**", "", false, 0, 0, false, {}, {}},
        ParseCase{"||A.b^", "*A.b^*", "A.b", false, 0, 0, false, {}, {}},
        ParseCase{"||a.b:8080^", "*a.b:8080^*", "a.b:8080", false, 0, 0,
                  false, {}, {}},
        ParseCase{"||a.b^?x=c.d", "*a.b^?x=c.d*", "", false, 0, 0, false, {},
                  {}},
        ParseCase{"\t||a.b^", "*\t||a.b^*", "\t||a.b", false, 0, 0, false, {},
                  {}}));

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
        KeyCase{"x/?u=http://c.d/", ""},
        KeyCase{"*ads*.a.b/x*", "a.b"}, KeyCase{"*a^b.c.d/*", "c.d"},
        KeyCase{"*a*b*", ""}, KeyCase{"*.a.b*", ""}, KeyCase{"*a.b.*", ""},
        KeyCase{"*ab*", ""}, KeyCase{"http://a.b:8080/x", "a.b:8080"},
        KeyCase{"https://a.b/?u=http://c.d/", "a.b"},
        KeyCase{"http://a.b?x=c.d", "a.b?x=c.d"},
        KeyCase{"***a.b", ""}, KeyCase{"^^", ""}, KeyCase{"a.b^^", "a.b"},
        KeyCase{"a.b*^*", ""}, KeyCase{"a.b/^*", "a.b"}));

}  // namespace
}  // namespace quibex
