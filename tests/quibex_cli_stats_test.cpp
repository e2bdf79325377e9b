// End-to-end tests of "quibex stats" on the bundled sample lists: the
// rule counts per container, per list, and the load and memory lines.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/quibex_cli_runner.h"

namespace quibex::testing {
namespace {

// The numbers of the first line that begins with label (after its indent).
std::vector<long> numbersOf(const std::string& out, const std::string& label) {
  for (const std::string& line : splitLines(out)) {
    const size_t begin = line.find_first_not_of(' ');
    if (begin == std::string::npos || line.compare(begin, label.size(), label))
      continue;
    std::vector<long> numbers;
    const char* p = line.c_str() + begin + label.size();
    while (*p != '\0') {
      char* end = nullptr;
      const long value = std::strtol(p, &end, 10);
      if (end == p) {
        ++p;
        continue;
      }
      numbers.push_back(value);
      p = end;
    }
    return numbers;
  }
  ADD_FAILURE() << "no line " << label << " in\n" << out;
  return {};
}

TEST(QuibexCliStats, CountsEveryContainerOfBothLists) {
  const RunResult run =
      runQuibex({"stats", "--first", exampleFile("lists/first.txt"), "--second",
                 exampleFile("lists/second.txt")});
  ASSERT_EQ(run.code(), 0) << run.err;
  // Columns: second list, then first list.
  EXPECT_EQ(numbersOf(run.out, "exceptions filed by domain key"),
            (std::vector<long>{1, 1}));
  EXPECT_EQ(numbersOf(run.out, "generic exceptions"),
            (std::vector<long>{0, 0}));
  EXPECT_EQ(numbersOf(run.out, "blocking rules filed by domain key"),
            (std::vector<long>{1, 3}));
  EXPECT_EQ(numbersOf(run.out, "generic blocking rules"),
            (std::vector<long>{0, 2}));
  EXPECT_EQ(numbersOf(run.out, "\"elemhide\" exceptions by domain key"),
            (std::vector<long>{1}));
  EXPECT_EQ(numbersOf(run.out, "all request rules"), (std::vector<long>{9}));
  EXPECT_EQ(numbersOf(run.out, "all element-hiding rules"),
            (std::vector<long>{5}));
  // news, shop, example.com (first list); forum, shop (second list).
  EXPECT_EQ(numbersOf(run.out, "sites they are filed under"),
            (std::vector<long>{4}));
  std::map<std::string, std::string> fields =
      explanationFields(splitLines(run.out));
  EXPECT_EQ(fields["first list"], exampleFile("lists/first.txt"));
  EXPECT_EQ(fields["second list"], exampleFile("lists/second.txt"));
  EXPECT_NE(fields["load time"].find(" "), std::string::npos);
  // Memory is reported in a unit, and the process is never empty.
  for (const char* label : {"resident after loading", "peak resident"}) {
    const std::string line = run.out.substr(run.out.find(label));
    EXPECT_NE(line.substr(0, line.find('\n')).find("B"), std::string::npos)
        << label;
    EXPECT_GT(numbersOf(run.out, label).at(0), 0) << label;
  }
}

TEST(QuibexCliStats, NoListsMeansNoRules) {
  const RunResult run = runQuibex({"stats"});
  ASSERT_EQ(run.code(), 0) << run.err;
  EXPECT_EQ(numbersOf(run.out, "all request rules"), (std::vector<long>{0}));
  EXPECT_EQ(numbersOf(run.out, "all element-hiding rules"),
            (std::vector<long>{0}));
  std::map<std::string, std::string> fields =
      explanationFields(splitLines(run.out));
  EXPECT_EQ(fields["first list"], "(none)");
}

}  // namespace
}  // namespace quibex::testing
