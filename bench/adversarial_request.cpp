// The adversarial request builder; see adversarial_request.h.
#include "bench/adversarial_request.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/generic_index.h"
#include "filters/request_filter.h"

namespace quibex::bench {
namespace {

// The literal pieces of a pattern: the runs between "*" and "^".
std::vector<std::string_view> literalPieces(std::string_view pattern) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (size_t i = 0; i <= pattern.size(); ++i) {
    if (i == pattern.size() || pattern[i] == '*' || pattern[i] == '^') {
      if (i > start) pieces.push_back(pattern.substr(start, i - start));
      start = i + 1;
    }
  }
  return pieces;
}

// A printable byte that is no token byte and occurs in no request pattern,
// so it can close every piece without completing any rule's literal.
char closingByte(const ParsedRules& rules) {
  std::array<bool, 256> used{};
  for (const auto& rule : rules.requests) {
    for (const char c : rule->pattern())
      used[static_cast<unsigned char>(c)] = true;
  }
  for (const char c : std::string_view("`{}<>\\\"~!'()[];,@ ")) {
    if (!used[static_cast<unsigned char>(c)]) return c;
  }
  return '\x7f';
}

// Where a piece of the URL came from: the rules that contributed it.
struct Piece {
  std::string text;                  // the piece, without its closing byte
  std::vector<const void*> sources;  // rules it was taken from
  bool token = false;                // a whole rule token (else a prefix)
  bool dropped = false;              // left out after a match
};

}  // namespace

AdversarialRequest buildAdversarialRequest(const ParsedRules& rules,
                                           FilterEngineImpl& verifier,
                                           size_t bytes, bool includeTokens) {
  static constexpr std::string_view kStart = "http://adversary.invalid/";
  static constexpr std::string_view kEnd = ".js";
  static constexpr size_t kRunLength = 8;  // repeats of one prefix in a row
  const char close = closingByte(rules);
  bytes = std::max(bytes, kStart.size() + kEnd.size());

  // Collect the pieces of the generic rules (the rules a request on an
  // unkeyed host reaches), each distinct piece once with its sources.
  std::vector<Piece> pieces;
  std::unordered_map<std::string, size_t> pieceIndex;
  std::unordered_map<std::string, const void*> ruleByText;
  auto addPiece = [&](std::string_view text, bool token, const void* rule) {
    auto [it, fresh] = pieceIndex.emplace(std::string(text), pieces.size());
    if (fresh) pieces.push_back(Piece{std::string(text), {}, token, false});
    pieces[it->second].sources.push_back(rule);
  };
  for (const auto& rule : rules.requests) {
    if (!rule->domainKeyView().empty()) continue;
    ruleByText.emplace(rule->text(), rule.get());
    for (const std::string_view token : safeTokens(rule->pattern())) {
      addPiece(token, true, rule.get());
    }
  }
  for (const auto& rule : rules.requests) {
    if (!rule->domainKeyView().empty()) continue;
    for (const std::string_view literal : literalPieces(rule->pattern())) {
      if (literal.size() < 2) continue;
      addPiece(literal.substr(0, literal.size() - 1), false, rule.get());
    }
  }

  AdversarialRequest request;
  // A first-party page: third-party rules fail early, but rules for other
  // parties and rules with only excluded page domains are tried in full.
  request.pageUrl = "http://adversary.invalid/";

  // A piece that completes a rule on its own is no use; testing each one
  // in a short URL first leaves the full-size checks for pieces that only
  // match in combination.
  std::string probe;
  for (Piece& piece : pieces) {
    probe.assign(kStart);
    for (size_t r = 0; r < 2; ++r) {
      probe += piece.text;
      probe += close;
    }
    probe += kEnd;
    if (verifier.explainBlock(probe, request.pageUrl).step !=
        DecisionStep::kNone) {
      piece.dropped = true;
    }
  }
  std::unordered_set<const void*> droppedRules;
  for (;;) {
    std::string& url = request.url;
    url.assign(kStart);
    const size_t body = bytes - kEnd.size();
    request.tokens = 0;
    request.literals = 0;
    for (const Piece& piece : pieces) {
      if (!includeTokens) break;
      if (!piece.token || piece.dropped) continue;
      if (url.size() + piece.text.size() + 1 > body) break;
      url += piece.text;
      url += close;
      ++request.tokens;
    }
    // Runs of literal prefixes, cycled until the next run does not fit.
    bool full = false;
    for (size_t round = 0; !full; ++round) {
      bool any = false;
      for (const Piece& piece : pieces) {
        if (piece.token || piece.dropped) continue;
        any = true;
        if (url.size() + (piece.text.size() + 1) * kRunLength > body) {
          full = true;
          break;
        }
        if (round == 0) ++request.literals;
        for (size_t r = 0; r < kRunLength; ++r) {
          url += piece.text;
          url += close;
        }
      }
      if (!any) break;
    }
    url.append(body - url.size(), close);
    url += kEnd;

    const BlockExplanation why = verifier.explainBlock(url, request.pageUrl);
    if (why.step == DecisionStep::kNone) {
      request.verified = true;
      break;
    }
    // Leave out every piece taken from the matching rule, and every piece
    // that contains one of its literals; give up when nothing changes.
    const auto found = ruleByText.find(why.ruleText);
    const void* culprit = found == ruleByText.end() ? nullptr : found->second;
    std::vector<std::string_view> literals;
    std::unique_ptr<RequestFilter> parsed = parseRequestFilter(why.ruleText);
    if (parsed) literals = literalPieces(parsed->pattern());
    bool changed = false;
    for (Piece& piece : pieces) {
      if (piece.dropped) continue;
      bool drop = std::find(piece.sources.begin(), piece.sources.end(),
                            culprit) != piece.sources.end();
      for (const std::string_view literal : literals) {
        if (piece.text.find(literal) != std::string::npos) drop = true;
      }
      if (drop) {
        piece.dropped = true;
        changed = true;
      }
    }
    droppedRules.insert(culprit != nullptr ? culprit : parsed.get());
    if (!changed) {
      request.unavoidableRule = why.ruleText;
      break;
    }
  }
  request.droppedRules = droppedRules.size();
  return request;
}

std::vector<DenseKeyShape> denseKeyShapes() {
  const std::string host = "http://a.b/";
  const std::string page = "http://a.b/";
  std::string mebibyte =
      host + std::string((size_t{1} << 20) - host.size(), 'q');
  // Names that begin like every place of the page's key and differ from it
  // only in their last byte; the page's key is its host of 1 MiB of "a"
  // and ".b".
  std::string nameList = "/x$domain=";
  for (const size_t bytes : {size_t{32}, size_t{253}}) {
    for (char last = 'c'; last < 'm'; ++last) {
      nameList += std::string(bytes - 1, 'a') + last + '|';
    }
  }
  nameList.back() = '\n';
  std::string longPage =
      "http://" + std::string((size_t{1} << 20) - 10, 'a') + ".b/";
  return {
      {"65,530 z against 70,000 z", std::string(65530, 'z') + "\n",
       host + std::string(70000, 'z'), page, 1},
      {"65,529 q then y against 140,000 q", std::string(65529, 'q') + "y\n",
       host + std::string(140000, 'q'), page, 0},
      {"199 q then y against 1 MiB of q", std::string(199, 'q') + "y\n",
       std::move(mebibyte), page, 0},
      {"a third-party rule on a page of 400,000 a against 1 MiB of a",
       "$third-party\n",
       host + std::string((size_t{1} << 20) - host.size(), 'a'),
       "http://" + std::string(400000, 'a') + ".b/", 1},
      {"ten names of 32 and ten of 253 bytes on a page of 1 MiB of a",
       std::move(nameList), "http://a.b/x", std::move(longPage), 0},
  };
}

}  // namespace quibex::bench
