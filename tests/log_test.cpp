// The log of a load, read through its standard-error switch (CTest runs
// this program with QUIBEX_LOG=stderr): what each situation reports, at
// which priority, and that no rule text ever reaches it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/rule_file_reader.h"
#include "tests/test_support.h"

namespace quibex {
namespace {

using testing::ManualLauncher;
using testing::ScriptedDecoder;
using testing::TempDir;
using Strings = std::vector<std::string>;

// Replaces "{1}" and "{2}" in text by the two rule-file paths.
std::string withPaths(std::string text, const std::string& first,
                      const std::string& second) {
  for (const auto& [mark, path] :
       {std::pair<std::string, std::string>{"{1}", first}, {"{2}", second}}) {
    for (size_t at; (at = text.find(mark)) != std::string::npos;) {
      text.replace(at, mark.size(), path);
    }
  }
  return text;
}

TEST(LogTest, ALoadReportsWhatItFiledAndSkippedButNeverARule) {
  struct Case {
    const char* name;
    const char* first;  // the first file's text, or null for no such file
    std::string second;
    bool reload;
    bool refuseThread;
    Strings expected;  // lines of the log, each a prefix of its line
  };
  const std::string tooLong(kMaxRuleLineRead + 1, 'x');
  const Case cases[] = {
      {"both lists filed",
       "||ads.test^\nshop.test##.banner\n",
       "||track.test^",
       false,
       false,
       {"quibex: info: list 0: 2 rules filed from {1}; lines skipped: "
        "0 undecodable, 0 too long, 0 out of memory",
        "quibex: info: list 1: 1 rules filed from {2}; lines skipped: "
        "0 undecodable, 0 too long, 0 out of memory",
        "quibex: info: load finished: 2 request rules, 1 element-hiding "
        "rules in force; took "}},
      {"a file that cannot be opened",
       nullptr,
       "||track.test^",
       true,
       false,
       {"quibex: warning: list 0: cannot open rule file {1}: No such file or "
        "directory; the list stays empty",
        "quibex: info: list 1: 1 rules filed from {2}; lines skipped: "
        "0 undecodable, 0 too long, 0 out of memory",
        "quibex: info: reload finished: 1 request rules, 0 element-hiding "
        "rules in force; took "}},
      {"lines skipped",
       "?private-one\n||ads.test^\n?private-two",
       tooLong + "\n||track.test^\n",
       false,
       false,
       {"quibex: info: list 0: 1 rules filed from {1}; lines skipped: "
        "2 undecodable, 0 too long, 0 out of memory",
        "quibex: info: list 1: 1 rules filed from {2}; lines skipped: "
        "0 undecodable, 1 too long, 0 out of memory",
        "quibex: info: load finished: 2 request rules, 0 element-hiding "
        "rules in force; took "}},
      {"no thread",
       "||ads.test^",
       "",
       false,
       true,
       {"quibex: error: the quibex-load thread could not be started; no rules "
        "were added"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string first =
        c.first != nullptr ? dir.write("first", c.first) : dir.path() + "/none";
    const std::string second = dir.write("second", c.second);
    ScriptedDecoder decoder;
    decoder.transform = [](std::string_view line, std::string& plain) {
      if (line.empty() || line[0] == '?') return false;
      plain.assign(line);
      return true;
    };
    ManualLauncher refusing;
    refusing.refuse();
    EngineOptions options;
    if (c.refuseThread) options.launcher = &refusing;
    FilterEngineImpl engine(decoder, options);
    ::testing::internal::CaptureStderr();
    if (c.reload) {
      engine.reloadRules(first, second);
    } else {
      engine.loadRules(first, second);
    }
    engine.waitForLoads();
    const std::string log = ::testing::internal::GetCapturedStderr();

    Strings lines;
    for (size_t start = 0, end; start < log.size(); start = end + 1) {
      end = log.find('\n', start);
      ASSERT_NE(end, std::string::npos) << "an unfinished line: " << log;
      lines.push_back(log.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), c.expected.size()) << log;
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string expected = withPaths(c.expected[i], first, second);
      EXPECT_EQ(lines[i].substr(0, expected.size()), expected) << log;
    }
    // The user's browsing and the vendor's rules stay out of the log.
    for (const char* secret :
         {"ads.test", "track.test", "shop.test", "banner", "private", "xxxx"}) {
      EXPECT_EQ(log.find(secret), std::string::npos) << secret << " in " << log;
    }
  }
}

}  // namespace
}  // namespace quibex
