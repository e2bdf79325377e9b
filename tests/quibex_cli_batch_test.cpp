// End-to-end tests of "quibex batch": one answer per input line in order,
// the selector mode, the summary on stderr, answers flushed while the
// input stays open, and constant memory on a large input.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "tests/quibex_cli_runner.h"
#include "tests/test_support.h"

namespace quibex::testing {
namespace {

TEST(QuibexCliBatch, AgreesWithCheckOnTheSampleRequests) {
  const std::string requests = readFile(exampleFile("requests.tsv"));
  ASSERT_FALSE(requests.empty());
  const RunResult batch = runQuibex(commandArgs("batch"), requests);
  ASSERT_EQ(batch.code(), 0) << batch.err;
  const std::vector<std::string> answers = splitLines(batch.out);
  const std::vector<std::string> lines = splitLines(requests);
  ASSERT_EQ(answers.size(), lines.size());
  size_t blocked = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t tab = lines[i].find('\t');
    const RunResult check = runQuibex(commandArgs(
        "check", {lines[i].substr(0, tab), lines[i].substr(tab + 1)}));
    EXPECT_EQ(check.out, answers[i] == "1" ? "blocked\n" : "allowed\n")
        << lines[i];
    blocked += answers[i] == "1" ? 1 : 0;
  }
  EXPECT_GT(blocked, 0u);
  EXPECT_LT(blocked, lines.size());
  EXPECT_NE(batch.err.find(std::to_string(lines.size()) + " requests, " +
                           std::to_string(blocked) + " blocked"),
            std::string::npos)
      << batch.err;
  EXPECT_NE(batch.err.find("mean time per decision"), std::string::npos);
}

TEST(QuibexCliBatch, EveryLineGetsItsAnswerInOrder) {
  // Empty lines, a missing tab, a carriage return before the line feed and
  // a last line without a line feed each still get exactly one answer.
  const std::string input =
      "https://ads.example.net/a.gif\thttps://news.example.com/\n"
      "\n"
      "https://ads.example.net/b.gif\n"
      "https://static.example.com/banner/x.png\r\n"
      "\t\n"
      "https://cdn.example.com/promo/x.png\t";
  const RunResult run = runQuibex(commandArgs("batch"), input);
  EXPECT_EQ(run.code(), 0) << run.err;
  EXPECT_EQ(run.out, "1\n0\n1\n1\n0\n1\n");
  EXPECT_NE(run.err.find("6 requests, 4 blocked"), std::string::npos)
      << run.err;
}

TEST(QuibexCliBatch, EmptyInputGivesNoAnswers) {
  const RunResult run = runQuibex(commandArgs("batch"), "");
  EXPECT_EQ(run.code(), 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("0 requests, 0 blocked"), std::string::npos)
      << run.err;
}

TEST(QuibexCliBatch, SelectorsJoinedByUnitSeparator) {
  const std::string pages = readFile(exampleFile("pages.tsv"));
  ASSERT_FALSE(pages.empty());
  const RunResult run = runQuibex(commandArgs("batch", {"--selectors"}), pages);
  ASSERT_EQ(run.code(), 0) << run.err;
  EXPECT_EQ(run.out,
            "div.sponsored\x1f.ad-banner\x1f#top-ad\n"
            ".ad-banner\x1f.newsletter-popup\n"
            "\n"  // the forum: switched off by its elemhide exception
            "div.sponsored\n"
            "\n");  // localhost
  EXPECT_NE(run.err.find("5 pages, 3 with selectors, 6 selectors"),
            std::string::npos)
      << run.err;
  // Each line agrees with the selectors command.
  const std::vector<std::string> lines = splitLines(pages);
  const std::vector<std::string> answers = splitLines(run.out);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::vector<std::string> args = commandArgs("selectors");
    size_t start = 0;
    for (int field = 0; field < 3; ++field) {
      const size_t tab = lines[i].find('\t', start);
      args.push_back(lines[i].substr(start, tab - start));
      start = tab == std::string::npos ? lines[i].size() : tab + 1;
    }
    std::string joined = runQuibex(args).out;
    for (char& c : joined) c = c == '\n' ? '\x1f' : c;
    if (!joined.empty()) joined.pop_back();
    EXPECT_EQ(answers.at(i), joined) << lines[i];
  }
}

TEST(QuibexCliBatch, AnswersArriveWhileInputStaysOpen) {
  // A program that writes one request and waits for its answer before
  // writing the next must not wait forever: answers are flushed whenever
  // the tool waits for input. The timeout only guards against a hang.
  QuibexProcess child(commandArgs("batch"));
  const struct {
    const char* request;
    const char* answer;
  } steps[] = {{"https://ads.example.net/a.gif\t\n", "1"},
               {"https://example.org/\t\n", "0"},
               {"https://cdn.example.com/promo/x.png\t\n", "1"}};
  for (const auto& step : steps) {
    ASSERT_TRUE(child.write(step.request));
    std::string line;
    ASSERT_TRUE(child.readLine(&line, std::chrono::seconds(30)))
        << "no answer to " << step.request;
    EXPECT_EQ(line, step.answer);
  }
  std::string err;
  const ExitStatus status = child.finish(&err);
  EXPECT_EQ(status.code, 0) << err;
  EXPECT_NE(err.find("3 requests, 2 blocked"), std::string::npos) << err;
}

// Generates lines of about 1 KiB whose answers follow a known pattern.
class RequestStream {
 public:
  explicit RequestStream(size_t totalBytes) : left_(totalBytes) {
    padding_.assign(1000, 'p');
  }
  // Fills *chunk with the next lines; false once the total is reached.
  bool next(std::string* chunk) {
    chunk->clear();
    while (chunk->size() < 256 * 1024 && left_ > 0) {
      const bool block = pattern(lines_);
      const size_t before = chunk->size();
      *chunk += block ? "https://blocked.example/" : "https://fine.example/";
      *chunk += padding_;
      *chunk += std::to_string(lines_);
      *chunk += "\thttps://page.example/\n";
      const size_t size = chunk->size() - before;
      left_ = size < left_ ? left_ - size : 0;
      ++lines_;
    }
    return left_ > 0;
  }
  size_t lines() const { return lines_; }
  // Whether line i is a blocked request: an irregular but fixed pattern.
  static bool pattern(size_t i) { return (i * 7 + i / 3) % 5 < 2; }

 private:
  size_t left_;          // bytes still to produce
  size_t lines_ = 0;     // lines produced
  std::string padding_;  // makes each line about 1 KiB
};

TEST(QuibexCliBatch, StreamsLargeInputInConstantMemory) {
  TempDir dir;
  const std::string list = dir.write("list.txt", "||blocked.example^\n");
  const std::vector<std::string> args = {"batch", "--first", list};

  // The tool's own footprint, from a tiny input.
  const RunResult small = runQuibex(args, "https://blocked.example/\t\n");
  ASSERT_EQ(small.code(), 0) << small.err;

  // 256 MiB of requests through a pipe, answers checked as they arrive.
  constexpr size_t kInputBytes = size_t{256} << 20;
  RequestStream stream(kInputBytes);
  size_t answered = 0;
  size_t wrong = 0;
  std::string partial;
  const RunResult big = streamQuibex(
      args, [&](std::string* chunk) { return stream.next(chunk); },
      [&](std::string_view data) {
        partial.append(data);
        size_t start = 0;
        for (size_t feed;
             (feed = partial.find('\n', start)) != std::string::npos;
             start = feed + 1) {
          const std::string expected =
              RequestStream::pattern(answered) ? "1" : "0";
          if (partial.compare(start, feed - start, expected) != 0) ++wrong;
          ++answered;
        }
        partial.erase(0, start);
      });
  ASSERT_EQ(big.code(), 0) << big.err;
  EXPECT_EQ(answered, stream.lines());
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(partial, "");
  // Keeping even a tenth of the input would exceed this bound.
  const long boundKb = small.status.maxRssKb + 24 * 1024;
  EXPECT_LT(big.status.maxRssKb, boundKb)
      << "peak " << big.status.maxRssKb << " KiB after " << answered
      << " requests; a tiny input peaks at " << small.status.maxRssKb << " KiB";
}

}  // namespace
}  // namespace quibex::testing
