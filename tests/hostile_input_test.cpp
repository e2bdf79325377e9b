// Hostile rule files and hostile queries: whatever comes in, the engine
// answers normally, drops only the bad lines and keeps every good one.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <random>

#include "tests/test_support.h"

namespace quibex {
namespace {

using testing::LoadedEngine;
using testing::ScriptedDecoder;
using testing::TempDir;
using Strings = std::vector<std::string>;

// The rules every hostile file carries before and after its garbage, and a
// check that they are in force.
std::string goodRules(const std::string& site) {
  return "||" + site + ".example^\n" + site + ".example##.hidden\n";
}
const std::string kGoodRules = goodRules("good");

void expectInForce(FilterEngineImpl& engine, const std::string& site) {
  EXPECT_FALSE(engine.isLoading());
  EXPECT_EQ(engine.shouldBlock("http://" + site + ".example/x", ""), 1);
  EXPECT_EQ(engine.getSelectors(site + ".example", "", ""), Strings{".hidden"});
}

void expectGoodRulesInForce(FilterEngineImpl& engine) {
  expectInForce(engine, "good");
}

std::string randomBytes(std::mt19937& rng, size_t size) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng() & 0xff);
  return bytes;
}

struct HostileFile {
  const char* name;
  std::string garbage;  // placed between two copies of the good rules
};

class HostileFileTest : public ::testing::TestWithParam<HostileFile> {};

TEST_P(HostileFileTest, GoodLinesSurvive) {
  const std::string content =
      kGoodRules + GetParam().garbage + "\n" + goodRules("late");
  LoadedEngine e(content, "");
  expectGoodRulesInForce(e.engine());
  expectInForce(e.engine(), "late");
}

std::vector<HostileFile> hostileFiles() {
  std::mt19937 rng(2024);
  std::string nulLines;
  for (int i = 0; i < 100; ++i) {
    nulLines += std::string("||nul") + std::to_string(i) +
                std::string(".example^\0tail\n", 15);
  }
  return {
      {"random_binary", randomBytes(rng, 1 << 20)},
      {"nul_inside_lines", nulLines},
      {"invalid_utf8", "\xff\xfe||bad\xc3.example^\n\xed\xa0\x80##x\n\xc0\x80"},
      {"million_empty_lines", std::string(1000000, '\n')},
      {"carriage_returns", std::string(5000, '\r')},
      {"long_line_at_bound", std::string((size_t{1} << 20) - 1, 'a')},
      {"odd_rules",
       "@@|x|\n$\n$$$$\n$domain=\n$domain=|||~\n##\n#\n,,,##\n~##x\n*\n^\n|\n"
       "||*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*^*\n"
       "||a.b^$third-party,~third-party,script,~script,image,domain=a|~b|"},
  };
}

INSTANTIATE_TEST_SUITE_P(Files, HostileFileTest,
                         ::testing::ValuesIn(hostileFiles()),
                         [](const auto& param) { return param.param.name; });

TEST(HostileFileTest, HundredMegabytesWithoutALineFeed) {
  TempDir dir;
  const std::string path = dir.path() + "/huge";
  {
    testing::UniqueStdioFile out(fopen(path.c_str(), "wb"));
    ASSERT_TRUE(out);
    fputs(kGoodRules.c_str(), out.get());
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 100; ++i)
      fwrite(block.data(), 1, block.size(), out.get());
    fputs("\n", out.get());
    fputs(goodRules("late").c_str(), out.get());
  }
  auto e = LoadedEngine::fromFiles(path, "");
  expectGoodRulesInForce(e->engine());
  expectInForce(e->engine(), "late");
  EXPECT_EQ(e->engine().stats().requestRules, 2u);  // the long line is gone
}

TEST(HostileFileTest, PathsThatCannotBeRead) {
  TempDir dir;
  const std::string good = dir.write("good", kGoodRules);
  // A directory opens but fails to read; /proc/self/mem fails at offset 0.
  for (const std::string& bad : {dir.path(), std::string("/proc/self/mem"),
                                 dir.path() + "/missing", std::string("")}) {
    auto e = LoadedEngine::fromFiles(bad, good);
    expectGoodRulesInForce(e->engine());
    auto f = LoadedEngine::fromFiles(good, bad);
    expectGoodRulesInForce(f->engine());
  }
}

TEST(HostileFileTest, FileTruncatedOrReplacedWhileLoading) {
  TempDir dir;
  std::string content = kGoodRules + "/hold\n";
  for (int i = 0; i < 20000; ++i)
    content += "||filler" + std::to_string(i) + ".example^\n";
  for (const bool replace : {false, true}) {
    const std::string path = dir.write("rules", content);
    ScriptedDecoder decoder;
    FilterEngineImpl engine(decoder);
    decoder.holdAt("/hold");
    engine.loadRules(path, "");
    decoder.waitUntilHeld();
    if (replace) {
      const std::string other = dir.write("other", "||other.example^\n");
      ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
    } else {
      ASSERT_EQ(truncate(path.c_str(), 10), 0);
    }
    decoder.release();
    engine.waitForLoads();
    expectGoodRulesInForce(engine);
    // The open file keeps the lines read ahead; a replaced file is read to
    // its end from the old contents.
    EXPECT_GE(engine.stats().requestRules, 2u);
  }
}

struct HostileQuery {
  const char* name;
  std::string url;
};

class HostileQueryTest : public ::testing::TestWithParam<HostileQuery> {};

TEST_P(HostileQueryTest, AnswersAgreeAcrossModes) {
  const std::string rules =
      "||a.b^\n@@||x.a.b^\n/ads/*\n|http*://*?\n$third-party,domain=a.b\n"
      "a.b##.x\n@@||a.b^$elemhide,domain=c.d\n^*^*^*^*^*^*^*^*x\n";
  LoadedEngine fast(rules, rules, MatchMode::kAccelerated);
  LoadedEngine plain(rules, rules, MatchMode::kPlain);
  const std::string& url = GetParam().url;
  for (const std::string& page :
       {std::string(), std::string("http://c.d/"), url}) {
    EXPECT_EQ(fast.block(url, page), plain.block(url, page));
    EXPECT_EQ(fast.selectors(url, url, page), plain.selectors(url, url, page));
    EXPECT_EQ(fast->explainBlock(url, page).step,
              plain->explainBlock(url, page).step);
  }
}

std::vector<HostileQuery> hostileQueries() {
  std::mt19937 rng(7);
  std::string mixed;
  for (int i = 0; i < 20000; ++i) mixed += "://:/a.b"[rng() % 8];
  return {
      {"empty", ""},
      {"mebibyte", "http://a.b/" + std::string(1 << 20, 'a')},
      {"mebibyte_tokens", "http://q/" +
                              [] {
                                std::string s;
                                while (s.size() < (1u << 20)) s += "ads/";
                                return s;
                              }()},
      {"colons_and_slashes", mixed},
      {"only_separators", std::string(4096, ':')},
      {"high_bytes", "http://\xc3\xa9.a.b/\x80\xff\xfe?x=\xf0\x9f\x98\x80"},
      {"scheme_repeated", "://://://a.b://x"},
      {"long_host", "http://" + std::string(300, 'a') + ".a.b/"},
      {"many_labels", "http://" +
                          [] {
                            std::string s;
                            for (int i = 0; i < 200; ++i) s += "a.";
                            return s + "b/";
                          }()},
      {"binary", randomBytes(rng, 4096)},
  };
}

INSTANTIATE_TEST_SUITE_P(Queries, HostileQueryTest,
                         ::testing::ValuesIn(hostileQueries()),
                         [](const auto& param) { return param.param.name; });

}  // namespace
}  // namespace quibex
