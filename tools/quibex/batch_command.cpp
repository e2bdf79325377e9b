// The "batch" command: decides a stream of requests (or pages) from stdin,
// one answer line per input line, in order, in constant memory. Input is
// read and answers are written in large blocks.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/quibex/command.h"
#include "tools/quibex/line_input.h"
#include "tools/quibex/output.h"
#include "tools/quibex/rule_files.h"

namespace quibex::tool {
namespace {

constexpr char kHelp[] =
    "usage: quibex batch [--first FILE] [--second FILE] [--selectors]\n"
    "\n"
    "Reads one request per line from stdin, \"URL<TAB>PAGE\" (PAGE may be\n"
    "empty or left out with its tab), and writes one line per request to\n"
    "stdout: 1 when it is blocked, 0 when not. Answers keep the input\n"
    "order and are flushed whenever the tool waits for more input, so a\n"
    "program can feed it one request at a time. At the end stderr gets the\n"
    "number of requests, how many were blocked and the mean time per\n"
    "decision (its line's parsing included, the reads and writes not).\n"
    "\n"
    "options:\n"
    "  --first FILE   the first rule list\n"
    "  --second FILE  the second rule list, consulted before the first\n"
    "  --selectors    read pages instead, \"PAGE<TAB>DOCUMENT<TAB>REFERRER\"\n"
    "                 (missing fields are empty), and write each page's\n"
    "                 selectors on one line, joined by the byte 0x1F\n";

constexpr char kSelectorSeparator = '\x1f';

using Clock = std::chrono::steady_clock;

// Times the work done on input already read. It runs while lines are
// decided and is stopped before each read that may wait, so one pair of
// clock reads covers a whole block of input: a clock read costs about a
// tenth of a decision, too much to pay twice per request.
class BlockStopwatch {
 public:
  // Starts the watch unless it runs.
  void run() {
    if (running_) return;
    start_ = Clock::now();
    running_ = true;
  }
  // Stops the watch and adds the time since run(), if it runs.
  void stop() {
    if (!running_) return;
    spent_ += Clock::now() - start_;
    running_ = false;
  }
  Clock::duration spent() const { return spent_; }

 private:
  Clock::time_point start_;  // when the watch last started
  Clock::duration spent_{};  // time run so far
  bool running_ = false;     // between run() and stop()
};

std::string meanTime(Clock::duration total, size_t count) {
  if (count == 0) return "-";
  return formatDuration(std::chrono::duration<double>(total).count() /
                        static_cast<double>(count));
}

int runRequests(FilterEngineImpl& engine) {
  BlockOutput output;
  BlockStopwatch watch;
  LineInput input(STDIN_FILENO, [&output, &watch] {
    watch.stop();
    output.flush();
  });
  std::string_view line;
  std::string url, page;
  std::string* const fields[] = {&url, &page};
  size_t requests = 0;
  size_t blocked = 0;
  while (input.next(&line)) {
    watch.run();
    splitTabFields(line, fields, 2);
    const int answer = engine.shouldBlock(url, page);
    ++requests;
    blocked += answer != 0 ? 1 : 0;
    output.append(answer != 0 ? "1\n" : "0\n");
  }
  watch.stop();
  output.flush();
  std::fprintf(stderr,
               "quibex batch: %s, %zu blocked, mean time per decision %s\n",
               counted(requests, "request", "requests").c_str(), blocked,
               meanTime(watch.spent(), requests).c_str());
  return inputStatus(input);
}

int runPages(FilterEngineImpl& engine) {
  BlockOutput output;
  BlockStopwatch watch;
  LineInput input(STDIN_FILENO, [&output, &watch] {
    watch.stop();
    output.flush();
  });
  std::string_view line;
  std::string page, document, referrer;
  std::string* const fields[] = {&page, &document, &referrer};
  std::string answer;
  size_t pages = 0;
  size_t withSelectors = 0;
  size_t selectorCount = 0;
  while (input.next(&line)) {
    watch.run();
    splitTabFields(line, fields, 3);
    const std::vector<std::string> selectors =
        engine.getSelectors(page, document, referrer);
    ++pages;
    withSelectors += selectors.empty() ? 0 : 1;
    selectorCount += selectors.size();
    answer.clear();
    for (size_t i = 0; i < selectors.size(); ++i) {
      if (i > 0) answer += kSelectorSeparator;
      answer += selectors[i];
    }
    answer += '\n';
    output.append(answer);
  }
  watch.stop();
  output.flush();
  std::fprintf(stderr,
               "quibex batch: %s, %zu with selectors, %s, mean time per query "
               "%s\n",
               counted(pages, "page", "pages").c_str(), withSelectors,
               counted(selectorCount, "selector", "selectors").c_str(),
               meanTime(watch.spent(), pages).c_str());
  return inputStatus(input);
}

int run(const Command& self, const ParsedArguments& args) {
  LoadedRules rules;
  if (const int code = loadFromArguments(self, args, &rules); code != kExitOk) {
    return code;
  }
  return args.flag("--selectors") ? runPages(rules.engine())
                                  : runRequests(rules.engine());
}

}  // namespace

const Command& batchCommand() {
  static const Command command{
      "batch", "decides a stream of requests (or pages) from stdin",
      kHelp,   {kFirstOption, kSecondOption, {"--selectors", false}},
      0,       0,
      &run,    false,
      true};
  return command;
}

}  // namespace quibex::tool
