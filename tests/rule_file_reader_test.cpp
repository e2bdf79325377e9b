// Cutting rule files into whole lines: line ends, NUL bytes, the line after
// the last line feed, over-long lines and read errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "engine/rule_file_reader.h"
#include "tests/test_support.h"

namespace quibex {
namespace {

using Lines = std::vector<std::string>;

Lines readAll(const std::string& path) {
  UniqueFile file(std::fopen(path.c_str(), "r"));
  EXPECT_TRUE(file != nullptr);
  if (!file) return {};
  RuleFileReader reader(file.get());
  Lines lines;
  std::string_view line;
  while (reader.next(&line)) {
    EXPECT_EQ(line.data()[line.size()], '\0');
    lines.emplace_back(line);
  }
  return lines;
}

struct ReadCase {
  std::string content;
  Lines lines;
};

class ReaderTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReaderTest, LinesOfFile) {
  testing::TempDir dir;
  EXPECT_EQ(readAll(dir.write("rules", GetParam().content)), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, ReaderTest,
    ::testing::Values(ReadCase{"", {""}}, ReadCase{"\n", {"", ""}},
                      ReadCase{"\r\n", {"", ""}},
                      ReadCase{"ab\ncd\n", {"ab", "cd", ""}},
                      ReadCase{"ab\r\ncd\r\n", {"ab", "cd", ""}},
                      ReadCase{"ab\ncd", {"ab", "cd"}},
                      ReadCase{"ab\r", {"ab"}}, ReadCase{"a\rb", {"a\rb"}},
                      ReadCase{"ab\r\r\n", {"ab\r", ""}},
                      ReadCase{"a\rb\nc", {"a\rb", "c"}},
                      ReadCase{std::string("ab\0cd\nef", 8), {"ab", "ef"}},
                      ReadCase{std::string("ab\r\0cd\n", 7), {"ab", ""}},
                      ReadCase{std::string("\0\n", 2), {"", ""}}));

TEST(ReaderTest, LongLinesArriveWhole) {
  testing::TempDir dir;
  const std::string rule = "||a.b^$domain=" + std::string(30000, 'x');
  const Lines lines = readAll(dir.write("rules", "a\n" + rule + "\r\nb\n"));
  EXPECT_EQ(lines, (Lines{"a", rule, "b", ""}));
}

TEST(ReaderTest, LineOverTheBoundIsSkippedWhole) {
  testing::TempDir dir;
  const std::string huge(kMaxRuleLineRead + 1, 'x');
  const std::string atBound(kMaxRuleLineRead, 'y');
  UniqueFile file(std::fopen(
      dir.write("rules", "a\n" + huge + "\n" + atBound + "\nb").c_str(), "r"));
  ASSERT_TRUE(file);
  RuleFileReader reader(file.get());
  Lines lines;
  std::string_view line;
  while (reader.next(&line)) lines.emplace_back(line);
  EXPECT_EQ(lines, (Lines{"a", atBound, "b"}));
  EXPECT_EQ(reader.skippedLines(), 1u);
  EXPECT_FALSE(reader.failed());
}

TEST(ReaderTest, DirectoryStopsAtTheReadError) {
  testing::TempDir dir;
  UniqueFile file(std::fopen(dir.path().c_str(), "r"));
  ASSERT_TRUE(file) << "fopen of a directory is expected to succeed";
  RuleFileReader reader(file.get());
  std::string_view line;
  EXPECT_FALSE(reader.next(&line));
  EXPECT_TRUE(reader.failed());
  EXPECT_FALSE(reader.next(&line));
}

TEST(ReaderTest, ManyEmptyLines) {
  testing::TempDir dir;
  const Lines lines = readAll(dir.write("rules", std::string(200000, '\n')));
  ASSERT_EQ(lines.size(), 200001u);
  for (const std::string& l : lines) ASSERT_TRUE(l.empty());
}

// Lines laid across many read blocks, some straddling two, against the
// lines cut out of the same text one by one.
TEST(ReaderTest, LinesAcrossBlocks) {
  std::string content;
  Lines expected;
  for (size_t i = 0; content.size() < 300000; ++i) {
    std::string text(i * 37 % 901, static_cast<char>('a' + i % 26));
    std::string stored = text;
    if (i % 5 == 0) stored += '\r';
    if (i % 7 == 0) {
      stored.append(1, '\0').append("dropped");
    }
    content += stored + "\n";
    expected.push_back(text);
  }
  // Lines longer than a block: one at the bound that ends in a carriage
  // return, one at the bound whose carriage return makes it too long.
  const std::string atBound(kMaxRuleLineRead - 1, 'y');
  content += "x\n" + atBound + "\r\n" + atBound + "y\r\nz";
  expected.insert(expected.end(), {"x", atBound, "z"});
  testing::TempDir dir;
  EXPECT_EQ(readAll(dir.write("rules", content)), expected);
}

// Passes lines through, except "?..." (undecodable) and "oom" (out of
// memory).
class PickyDecoder final : public LineDecoder {
 public:
  void beginFile() override {}
  bool decryptLine(std::string_view line, std::string* plain) override {
    if (line == "oom") throw std::bad_alloc();
    if (line.empty() || line[0] == '?') return false;
    plain->assign(line.data(), line.size());
    return true;
  }
  void endFile() override {}
};

struct LoopCase {
  const char* name;
  std::string content;
  int decoder;         // 0: none, 1: PickyDecoder, 2: PassThroughDecoder
  Lines events;        // "NUMBER TEXT", or "NUMBER skipped"
  size_t undecodable;  // as tallied
  size_t outOfMemory;
};

TEST(ReadRuleLinesTest, NumbersAndAccounting) {
  const std::string huge(kMaxRuleLineRead + 1, 'h');
  const LoopCase cases[] = {
      {"stored: blank lines, not the text after the final line feed",
       "a\n\n\nb\n",
       0,
       {"1 a", "2 ", "3 ", "4 b"},
       0,
       0},
      {"stored: a final line without line feed",
       "a\n\nb",
       0,
       {"1 a", "2 ", "3 b"},
       0,
       0},
      {"stored: skipped lines numbered in order",
       "a\n" + huge + "\n\n" + huge,
       0,
       {"1 a", "2 skipped", "3 ", "4 skipped"},
       0,
       0},
      {"decoded: empty and undecodable lines are not handed on",
       "?x\n\na\n" + huge + "\n?\nb\n",
       1,
       {"3 a", "4 skipped", "6 b"},
       2,
       0},
      {"decoded: a line out of memory is dropped alone",
       "a\noom\nb",
       1,
       {"1 a", "3 b"},
       0,
       1},
      {"passed through: empty lines are not handed on",
       "?x\n\n" + huge + "\nb\n",
       2,
       {"1 ?x", "3 skipped", "4 b"},
       0,
       0},
      {"stored: an empty file has no line", "", 0, {}, 0, 0},
  };
  for (const LoopCase& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    UniqueFile file(std::fopen(dir.write("rules", c.content).c_str(), "r"));
    ASSERT_TRUE(file);
    PickyDecoder picky;
    PassThroughDecoder passThrough;
    LineDecoder* const decoders[] = {nullptr, &picky, &passThrough};
    Lines events;
    const RuleLineTally tally = readRuleLines(
        file.get(), decoders[c.decoder],
        [&events](size_t number, std::string_view text) {
          events.push_back(std::to_string(number) + " " + std::string(text));
        },
        [&events](size_t number) {
          events.push_back(std::to_string(number) + " skipped");
        });
    EXPECT_EQ(events, c.events);
    EXPECT_EQ(tally.undecodable, c.undecodable);
    EXPECT_EQ(tally.outOfMemory(), c.outOfMemory);
    const auto skipped =
        std::count_if(events.begin(), events.end(), [](const std::string& e) {
          return e.find(" skipped") != std::string::npos;
        });
    EXPECT_EQ(tally.tooLong, static_cast<size_t>(skipped));
    EXPECT_FALSE(tally.readFailed);
  }
}

}  // namespace
}  // namespace quibex
