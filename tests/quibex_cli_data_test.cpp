// End-to-end test on the shared reference data: "check" (with its
// explanations) and "batch" agree on every request of requests.json
// against easylist.txt + easyprivacy.txt, "batch" answers exactly as the
// library's engine does, "diff" finds nothing between the lists and
// themselves and the counts of "coverage" add up; a cross build's "batch"
// and probe report give the same bytes as the native build's. Skipped when
// the data folder is absent.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/quibex_cli_runner.h"
#include "tests/test_support.h"
#include "workload/workload.h"

namespace quibex::testing {
namespace {

class QuibexCliData : public ::testing::Test {
 protected:
  void SetUp() override {
    first_ = dataFile("easylist.txt");
    second_ = dataFile("easyprivacy.txt");
    const std::string records = dataFile("requests.json");
    if (first_.empty() || second_.empty() || records.empty()) {
      GTEST_SKIP() << "shared data folder is absent";
    }
    std::string error;
    ASSERT_TRUE(loadWorkload(records, &workload_, &error)) << error;
    for (const WorkloadRequest& request : workload_.requests) {
      // The line format cannot carry these bytes; none are expected.
      if (request.url.find_first_of("\t\n\r") != std::string::npos ||
          request.page.find_first_of("\t\n\r") != std::string::npos) {
        ++unrepresentable_;
        continue;
      }
      requests_.push_back(request);
      input_ += request.url + "\t" + request.page + "\n";
    }
    for (const std::string& page : workload_.pages) {
      if (page.find_first_of("\t\n\r") == std::string::npos) {
        pages_ += page + "\t" + page + "\t\n";
      }
    }
  }

  std::vector<std::string> lists() const {
    return {"--first", first_, "--second", second_};
  }

  std::string first_, second_;
  Workload workload_;
  std::vector<WorkloadRequest> requests_;  // the representable requests
  std::string input_;                      // their "URL<TAB>PAGE" lines
  std::string pages_;  // "PAGE<TAB>PAGE<TAB>" lines of the pages
  size_t unrepresentable_ = 0;
};

TEST_F(QuibexCliData, CheckAgreesWithBatchOnEveryRequest) {
  EXPECT_EQ(unrepresentable_, 0u);
  const RunResult batch = runQuibex(commandArgs("batch", {}, lists()), input_);
  ASSERT_EQ(batch.code(), 0) << batch.err;
  const RunResult check = runQuibex(
      commandArgs("check", {"--explain", "--stdin"}, lists()), input_);
  ASSERT_EQ(check.code(), 0) << check.err;

  const std::vector<std::string> answers = splitLines(batch.out);
  ASSERT_EQ(answers.size(), requests_.size());

  // Split the explanations into blocks, one per request.
  std::vector<std::vector<std::string>> blocks;
  for (const std::string& line : splitLines(check.out)) {
    if (line.empty()) continue;
    if (line[0] != ' ') blocks.emplace_back();
    ASSERT_FALSE(blocks.empty()) << line;
    blocks.back().push_back(line);
  }
  ASSERT_EQ(blocks.size(), requests_.size());

  size_t blocked = 0;
  size_t disagreements = 0;
  for (size_t i = 0; i < requests_.size(); ++i) {
    const bool isBlocked = answers[i] == "1";
    blocked += isBlocked ? 1 : 0;
    std::map<std::string, std::string> fields = explanationFields(blocks[i]);
    constexpr size_t npos = std::string::npos;
    const bool agrees =
        blocks[i][0] == (isBlocked ? "blocked" : "allowed") &&
        fields["request"] ==
            (requests_[i].url.empty() ? "(none)" : requests_[i].url) &&
        // A blocked request names a blocking container and its rule; an
        // allowed one an exception container, or no container at all.
        (isBlocked ? fields["container"].find("(blocking") != npos &&
                         !fields["rule"].empty()
                   : fields.count("container") == 0 ||
                         fields["container"].find("(exceptions") != npos);
    if (!agrees && ++disagreements <= 5) {
      ADD_FAILURE() << "request " << i << " " << requests_[i].url
                    << "\nbatch: " << answers[i] << "\ncheck: " << blocks[i][0];
    }
  }
  EXPECT_EQ(disagreements, 0u);
  // The lists block a real share of the records, not none or all.
  EXPECT_GT(blocked, requests_.size() / 10);
  EXPECT_LT(blocked, requests_.size());
  EXPECT_NE(batch.err.find(std::to_string(requests_.size()) + " requests, " +
                           std::to_string(blocked) + " blocked"),
            std::string::npos)
      << batch.err;
}

TEST_F(QuibexCliData, BatchDecidesAsTheLibraryDoes) {
  std::unique_ptr<LoadedEngine> engine =
      LoadedEngine::fromFiles(first_, second_);
  std::vector<std::string> args = commandArgs("batch", {}, lists());
  const RunResult batch = runQuibex(args, input_);
  ASSERT_EQ(batch.code(), 0) << batch.err;
  const std::vector<std::string> answers = splitLines(batch.out);
  ASSERT_EQ(answers.size(), requests_.size());
  size_t differences = 0;
  for (size_t i = 0; i < requests_.size(); ++i) {
    const int expected = engine->block(requests_[i].url, requests_[i].page);
    differences += answers[i] == std::to_string(expected) ? 0 : 1;
  }
  EXPECT_EQ(differences, 0u);

  // Selectors of every page, as the library gives them.
  args.push_back("--selectors");
  const RunResult selectors = runQuibex(args, pages_);
  ASSERT_EQ(selectors.code(), 0) << selectors.err;
  const std::vector<std::string> lines = splitLines(pages_);
  const std::vector<std::string> got = splitLines(selectors.out);
  ASSERT_EQ(got.size(), lines.size());
  size_t selectorDifferences = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string page = lines[i].substr(0, lines[i].find('\t'));
    std::string joined;
    for (const std::string& selector : engine->selectors(page, page)) {
      joined += selector;
      joined += '\x1f';
    }
    if (!joined.empty()) joined.pop_back();
    selectorDifferences += got[i] == joined ? 0 : 1;
  }
  EXPECT_EQ(selectorDifferences, 0u);
}

TEST_F(QuibexCliData, DiffWithItselfIsEmptyAndCoverageAddsUp) {
  // The same files on both sides, loaded twice: nothing changes.
  std::vector<std::string> args = commandArgs(
      "diff", {"--new-first", first_, "--new-second", second_, "--exit-code"},
      lists());
  const RunResult requests = runQuibex(args, input_);
  EXPECT_EQ(requests.code(), 0) << requests.err;
  const std::string n = std::to_string(requests_.size());
  EXPECT_EQ(requests.out, n + " requests, 0 newly blocked, 0 newly allowed, " +
                              n + " unchanged\n");
  args.push_back("--selectors");
  const RunResult pages = runQuibex(args, pages_);
  EXPECT_EQ(pages.code(), 0) << pages.err;
  EXPECT_NE(pages.out.find(" 0 changed (0 selectors gained, 0 lost)"),
            std::string::npos)
      << pages.out;

  // Coverage without pages: the counts add up to the requests that some
  // rule decided, as the library's engine explains them; every filed rule
  // has its line, and that line of its file holds the rule.
  std::unique_ptr<LoadedEngine> engine =
      LoadedEngine::fromFiles(first_, second_);
  size_t decided = 0;
  for (const WorkloadRequest& request : requests_) {
    const BlockExplanation why =
        engine->engine().explainBlock(request.url, request.page);
    decided += why.step != DecisionStep::kNone ? 1 : 0;
  }
  const RunResult coverage =
      runQuibex(commandArgs("coverage", {}, lists()), input_);
  ASSERT_EQ(coverage.code(), 0) << coverage.err;
  const std::vector<std::string> fileLines[2] = {splitLines(readFile(first_)),
                                                 splitLines(readFile(second_))};
  size_t rules = 0, sum = 0, misplaced = 0;
  for (const std::string& line : splitLines(coverage.out)) {
    const size_t colon = line.find(':');
    const size_t tab = line.find('\t');
    const size_t tab2 = line.find('\t', tab + 1);
    ASSERT_NE(tab2, std::string::npos) << line;
    ++rules;
    sum += std::stoul(line.substr(tab + 1, tab2 - tab - 1));
    const std::vector<std::string>& file =
        fileLines[line.compare(0, colon, first_) == 0 ? 0 : 1];
    const size_t number = std::stoul(line.substr(colon + 1, tab - colon - 1));
    if (number == 0 || number > file.size() ||
        file[number - 1] != line.substr(tab2 + 1)) {
      if (++misplaced <= 5) ADD_FAILURE() << "wrong line: " << line;
    }
  }
  const EngineStats stats = engine->engine().stats();
  EXPECT_EQ(rules, stats.requestRules + stats.elemHideRules);
  EXPECT_EQ(misplaced, 0u);
  EXPECT_GT(decided, 0u);
  EXPECT_EQ(sum, decided);
  EXPECT_NE(coverage.err.find(n + " requests, " + std::to_string(decided) +
                              " decided by a rule"),
            std::string::npos)
      << coverage.err;
}

#ifdef QUIBEX_NATIVE_QUIBEX
// The first line where two outputs differ, for a failure message.
std::string firstDifference(const std::string& here,
                            const std::string& native) {
  const std::vector<std::string> a = splitLines(here);
  const std::vector<std::string> b = splitLines(native);
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    const std::string lineA = i < a.size() ? a[i] : "(none)";
    const std::string lineB = i < b.size() ? b[i] : "(none)";
    if (lineA != lineB) {
      return "line " + std::to_string(i + 1) + ": here \"" + lineA +
             "\", native \"" + lineB + "\"";
    }
  }
  return "the same lines, other bytes";
}

// A cross build, run under its emulator, against the native build tree it
// was configured with: "batch" gives the same answer to every request and
// the same selectors for every page, and the probe report of the domain
// maps (which depends only on the hash values) is the same, byte for byte.
TEST_F(QuibexCliData, AnswersAsTheNativeBuildDoes) {
  const std::vector<std::string> requests = commandArgs("batch", {}, lists());
  std::vector<std::string> selectors = requests;
  selectors.push_back("--selectors");
  const std::vector<std::string> probes = {first_, second_,
                                           dataFile("requests.json")};
  const struct {
    const char* what;
    const char* program;  // this build's
    const char* native;   // the native build's
    std::vector<std::string> args;
    const std::string& input;
  } cases[] = {
      {"batch", quibexPath(), QUIBEX_NATIVE_QUIBEX, requests, input_},
      {"batch --selectors", quibexPath(), QUIBEX_NATIVE_QUIBEX, selectors,
       pages_},
      {"probe report", QUIBEX_PROBE_REPORT, QUIBEX_NATIVE_PROBE_REPORT, probes,
       ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> here = underThisBuild(c.program);
    std::vector<std::string> native = {c.native};
    here.insert(here.end(), c.args.begin(), c.args.end());
    native.insert(native.end(), c.args.begin(), c.args.end());
    const RunResult ours = runProgram(here, c.input);
    const RunResult theirs = runProgram(native, c.input);
    ASSERT_EQ(ours.code(), 0) << c.what << ": " << ours.err;
    ASSERT_EQ(theirs.code(), 0) << c.what << ": " << theirs.err;
    EXPECT_FALSE(ours.out.empty()) << c.what;
    EXPECT_TRUE(ours.out == theirs.out)
        << c.what << ": " << firstDifference(ours.out, theirs.out);
  }
}
#endif  // QUIBEX_NATIVE_QUIBEX

}  // namespace
}  // namespace quibex::testing
