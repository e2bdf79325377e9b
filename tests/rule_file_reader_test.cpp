// Cutting rule files into whole lines: line ends, NUL bytes, the line after
// the last line feed, over-long lines and read errors.
#include <gtest/gtest.h>

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
  std::string line;
  while (reader.next(&line)) lines.push_back(line);
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
    ::testing::Values(
        ReadCase{"", {""}}, ReadCase{"\n", {"", ""}},
        ReadCase{"\r\n", {"", ""}},
        ReadCase{"ab\ncd\n", {"ab", "cd", ""}},
        ReadCase{"ab\r\ncd\r\n", {"ab", "cd", ""}},
        ReadCase{"ab\ncd", {"ab", "cd"}}, ReadCase{"ab\r", {"ab"}},
        ReadCase{"a\rb", {"a\rb"}}, ReadCase{"ab\r\r\n", {"ab\r", ""}},
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
  UniqueFile file(
      std::fopen(dir.write("rules", "a\n" + huge + "\n" + atBound + "\nb")
                     .c_str(),
                 "r"));
  ASSERT_TRUE(file);
  RuleFileReader reader(file.get());
  Lines lines;
  std::string line;
  while (reader.next(&line)) lines.push_back(line);
  EXPECT_EQ(lines, (Lines{"a", atBound, "b"}));
  EXPECT_EQ(reader.skippedLines(), 1u);
  EXPECT_FALSE(reader.failed());
}

TEST(ReaderTest, DirectoryStopsAtTheReadError) {
  testing::TempDir dir;
  UniqueFile file(std::fopen(dir.path().c_str(), "r"));
  ASSERT_TRUE(file) << "fopen of a directory is expected to succeed";
  RuleFileReader reader(file.get());
  std::string line;
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

}  // namespace
}  // namespace quibex
