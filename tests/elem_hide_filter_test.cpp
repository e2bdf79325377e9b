// Parsing of "##" rules and the element-hiding domain test.
#include <gtest/gtest.h>

#include "filters/elem_hide_filter.h"

namespace quibex {
namespace {

using Names = std::vector<std::string>;

std::vector<std::string> excludes(const ElemHideFilter& f) {
  std::vector<std::string> out;
  for (size_t i = 0; i < f.excludeCount(); ++i) {
    out.emplace_back(f.excludeDomain(i));
  }
  return out;
}

struct FactoryCase {
  std::string line;
  Names include;
  Names exclude;
  std::string selector;
};

class FactoryTest : public ::testing::TestWithParam<FactoryCase> {};

TEST_P(FactoryTest, SitesAndSelector) {
  const FactoryCase& c = GetParam();
  const std::unique_ptr<ElemHideFilter> f = ElemHideFilter::fromText(c.line);
  ASSERT_NE(f, nullptr) << c.line;
  EXPECT_EQ(f->text(), c.line);
  EXPECT_EQ(f->getIncludeDomains(), c.include);
  EXPECT_EQ(excludes(*f), c.exclude);
  EXPECT_EQ(f->getSelector(), c.selector);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FactoryTest,
    ::testing::Values(
        FactoryCase{"example.com##.ad", {"example.com"}, {}, ".ad"},
        FactoryCase{"a.com,~b.a.com##div#x", {"a.com"}, {"b.a.com"}, "div#x"},
        FactoryCase{"a.com##", {"a.com"}, {}, ""},
        FactoryCase{"a.com##x##y", {"a.com"}, {}, "x##y"},
        FactoryCase{"a.com###banner", {"a.com"}, {}, "#banner"},
        FactoryCase{",a.com##x", {"", "a.com"}, {}, "x"},
        FactoryCase{"a.com,,b.com##x", {"a.com", "", "b.com"}, {}, "x"},
        FactoryCase{"a.com,##x", {"a.com"}, {}, "x"},
        FactoryCase{",##x", {""}, {}, "x"},
        FactoryCase{"a.com, b.com##x", {"a.com", " b.com"}, {}, "x"},
        FactoryCase{" a.com##x", {" a.com"}, {}, "x"},
        FactoryCase{"a.com##.ad  ", {"a.com"}, {}, ".ad  "},
        FactoryCase{"~a.com##x", {}, {"a.com"}, "x"},
        FactoryCase{"~~a.com##x", {}, {"~a.com"}, "x"},
        FactoryCase{"a.com,~##x", {"a.com"}, {""}, "x"},
        FactoryCase{"A.Com##x", {"A.Com"}, {}, "x"},
        FactoryCase{"a.com:8080##.ad", {"a.com:8080"}, {}, ".ad"}));

TEST(FactoryTest, Rejections) {
  for (const char* line : {"##.ad", "!a.com##.ad", "a.com#.ad", "", "#", "##",
                           "!##", "a.com#@#x"}) {
    EXPECT_EQ(ElemHideFilter::fromText(line), nullptr) << line;
  }
}

struct HostCase {
  std::string rule;
  std::string host;
  bool active;
};

class DomainTest : public ::testing::TestWithParam<HostCase> {};

TEST_P(DomainTest, ActiveOnHost) {
  const HostCase& c = GetParam();
  const std::unique_ptr<ElemHideFilter> f = ElemHideFilter::fromText(c.rule);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->isActiveOnHost(c.host), c.active) << c.rule << " on " << c.host;
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, DomainTest,
    ::testing::Values(
        HostCase{"example.com,~ads.example.com##x", "news.example.com", true},
        HostCase{"example.com,~ads.example.com##x", "example.com:8080", true},
        HostCase{"example.com,~ads.example.com##x", "ads.example.com", false},
        HostCase{"example.com,~ads.example.com##x", "myads.example.com", false},
        HostCase{"example.com,~ads.example.com##x", "EXAMPLE.COM", false},
        HostCase{"example.com##x", "myexample.com", true},
        HostCase{"example.com##x", "example.com.example.net", true},
        HostCase{"example.com##x", "example.co", false},
        HostCase{"a.com,~##x", "a.com", false},
        HostCase{"a.com,~##x", "", false},
        HostCase{",~b.com##x", "a.com", true},
        HostCase{",~b.com##x", "b.com", false}, HostCase{",##x", "", true},
        HostCase{"~a.com##x", "b.com", false}));

}  // namespace
}  // namespace quibex
