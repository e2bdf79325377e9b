// The adversarial request of the benchmarks: a URL built from the real
// lists' generic rules to make matching as expensive as it can while no
// rule matches, so every candidate rule is tried in full.
#ifndef QUIBEX_BENCH_ADVERSARIAL_REQUEST_H_
#define QUIBEX_BENCH_ADVERSARIAL_REQUEST_H_

#include <cstddef>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/filter_engine_impl.h"

namespace quibex::bench {

// A request built to make matching expensive while deciding nothing.
struct AdversarialRequest {
  std::string url;              // exactly the requested number of bytes
  std::string pageUrl;          // a third-party page, so party rules are tried
  size_t tokens = 0;            // distinct rule tokens placed in the URL
  size_t literals = 0;          // distinct literal prefixes repeated in the URL
  size_t droppedRules = 0;      // rules whose pieces had to be left out
  bool verified = false;        // the verifier found no matching rule
  std::string unavoidableRule;  // when not verified: the rule that matched
};

// Builds a URL of `bytes` bytes on a host no rule is keyed under, made of
// (1) every token the generic rules can be indexed under, each once, so the
// token index yields nearly every generic rule, and then (2) long runs of
// the first characters (all but the last) of the rules' literal pieces,
// cycled until the URL is full, so each candidate's skip search finds its
// first characters over and over without ever completing its literal. Every
// piece is closed by a byte that no rule pattern contains. The URL ends in
// ".js" so that script rules reach the pattern match. Checked with
// verifier: whenever a rule matches, the pieces taken from that rule (and
// those containing its literals) are left out and the URL is built again;
// verified tells whether that ended with no rule matching. Without
// includeTokens part (1) is left out, which shows what the token index
// alone saves against literal runs.
// REQUIRES: verifier is loaded from the same data; bytes >= 64.
AdversarialRequest buildAdversarialRequest(const ParsedRules& rules,
                                           FilterEngineImpl& verifier,
                                           size_t bytes,
                                           bool includeTokens = true);

// A long literal rule whose key repeats densely in a long URL: the shapes
// that would make a candidate check cost the URL's length times the rule's.
struct DenseKeyShape {
  const char* name;  // what the shape is, for the report
  std::string rule;  // the only rule of the engine (first file)
  std::string url;   // the request URL, on page pageUrl
  std::string pageUrl;
  int blocked;  // the answer both modes must give
};

// The five shapes: 65,530 "z" against "http://a.b/" and 70,000 "z";
// 65,529 "q" and a "y" against 140,000 "q"; 199 "q" and a "y" against a
// URL of 1 MiB of "q"; a third-party rule on a page whose host is 400,000
// "a" and ".b" (its site key) against a URL of 1 MiB of "a"; a rule whose
// page-domain list holds ten names of 32 bytes and ten of 253, each all
// "a" but its last byte, on a page whose host is 1 MiB of "a" and ".b".
std::vector<DenseKeyShape> denseKeyShapes();

}  // namespace quibex::bench

#endif  // QUIBEX_BENCH_ADVERSARIAL_REQUEST_H_
