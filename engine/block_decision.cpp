// The block decision: the containers of the second list before those of the
// first, within a list exceptions before blocking rules and domain-keyed
// rules before generic ones; the first container with a matching rule
// decides. Also the element-hiding exception lookup of the selector query.
#include <string>

#include "engine/filter_engine_impl.h"
#include "filters/request_facts.h"

namespace quibex {
namespace {

struct Step {
  DecisionStep step;  // what this step is, for explanations
  int result;         // the answer when a rule of this container matches
  bool domainKeyed;   // a DomainFilterMap rather than a generic sequence
  GenericSlot slot;   // the sequence's slot in the generic index
  int list;           // which list the container belongs to
};

// The consultation order of the block decision.
constexpr Step kSteps[] = {
    {DecisionStep::kExceptionsByDomain1, 0, true, kExceptions1Slot, 1},
    {DecisionStep::kExceptions1, 0, false, kExceptions1Slot, 1},
    {DecisionStep::kBlockingByDomain1, 1, true, kBlocking1Slot, 1},
    {DecisionStep::kBlocking1, 1, false, kBlocking1Slot, 1},
    {DecisionStep::kExceptionsByDomain0, 0, true, kExceptions0Slot, 0},
    {DecisionStep::kExceptions0, 0, false, kExceptions0Slot, 0},
    {DecisionStep::kBlockingByDomain0, 1, true, kBlocking0Slot, 0},
    {DecisionStep::kBlocking0, 1, false, kBlocking0Slot, 0},
};

}  // namespace

int FilterEngineImpl::shouldBlock(const std::string& url,
                                  const std::string& pageUrl) {
  if (loading) return 0;
  std::lock_guard<std::mutex> lock(mutex);
  return decide(url, pageUrl, nullptr);
}

BlockExplanation FilterEngineImpl::explainBlock(const std::string& url,
                                                const std::string& pageUrl) {
  std::lock_guard<std::mutex> lock(mutex);
  BlockExplanation why;
  why.blocked = decide(url, pageUrl, &why);
  return why;
}

int FilterEngineImpl::decide(const std::string& url,
                             const std::string& pageUrl,
                             BlockExplanation* why) {
  return matchMode_ == MatchMode::kPlain
             ? decidePlain(url, pageUrl, why)
             : decideAccelerated(url, pageUrl, why);
}

namespace {

// Records the deciding rule of a step and returns the step's answer.
int decided(const Step& step, const RequestFilter* rule, std::string_view key,
            BlockExplanation* why) {
  if (why != nullptr) {
    why->step = step.step;
    why->ruleText = rule->text();
    why->key.assign(key.data(), key.size());
  }
  return step.result;
}

}  // namespace

int FilterEngineImpl::decidePlain(const std::string& url,
                                  const std::string& pageUrl,
                                  BlockExplanation* why) {
  DomainFilterMap* const maps[kGenericSlots] = {
      &exceptionsByDomain1, &blockingByDomain1, &exceptionsByDomain0,
      &blockingByDomain0};
  const GenericSequence* const sequences[kGenericSlots] = {
      &exceptions1, &blocking1, &exceptions0, &blocking0};
  for (const Step& step : kSteps) {
    std::string key;
    const RequestFilter* rule =
        step.domainKeyed
            ? matchDomainMap(*maps[step.slot], url, pageUrl, &key)
            : matchGenericList(*sequences[step.slot], url, pageUrl);
    if (rule != nullptr) return decided(step, rule, key, why);
  }
  return 0;
}

int FilterEngineImpl::decideAccelerated(const std::string& url,
                                        const std::string& pageUrl,
                                        BlockExplanation* why) {
  refreshIndex();
  DomainFilterMap* const maps[kGenericSlots] = {
      &exceptionsByDomain1, &blockingByDomain1, &exceptionsByDomain0,
      &blockingByDomain0};
  // One host, one candidate list and one set of request facts for every
  // container; the URL is tokenised only if a generic step is reached.
  if (url.empty()) {
    candidates_.assign({});
  } else {
    candidates_.assign(extractHostView(url, nullptr));
    candidates_.markLanes(
        [this](uint64_t hash) { return presence_.lanes(hash); });
  }
  const RequestFacts request(url, pageUrl);
  bool tokenized = false;
  for (const Step& step : kSteps) {
    std::string key;
    const RequestFilter* rule = nullptr;
    if (step.domainKeyed) {
      rule = matchDomainMap(*maps[step.slot], static_cast<int>(step.slot),
                            candidates_, request, &key);
    } else {
      if (!tokenized) {
        genericIndex_.beginRequest(url);
        tokenized = true;
      }
      rule = genericIndex_.match(step.slot, request);
    }
    if (rule != nullptr) return decided(step, rule, key, why);
  }
  return 0;
}

const RequestFilter* FilterEngineImpl::matchDomainMap(
    DomainFilterMap& map, const std::string& url, const std::string& pageUrl,
    std::string* key) {
  if (url.empty()) return nullptr;
  std::string hostWithPort;
  const std::string host = extractHost(url, hostWithPort);
  const std::vector<std::string> candidates = domainCandidates(host);
  if (candidates.empty()) return nullptr;
  map.beginLookup();
  for (const std::string& candidate : candidates) {
    const uint32_t chain = map.find(candidate);
    if (chain == DomainFilterMap::kNoChain || !map.markTried(chain)) continue;
    for (const RequestFilter* rule : map.chain(chain)) {
      if (rule->matches(url, pageUrl)) {
        *key = candidate;
        return rule;
      }
    }
  }
  return nullptr;
}

const RequestFilter* FilterEngineImpl::matchGenericList(
    const GenericSequence& sequence, const std::string& url,
    const std::string& pageUrl) {
  for (const RequestFilter* rule : sequence) {
    if (rule->matches(url, pageUrl)) return rule;
  }
  return nullptr;
}

const RequestFilter* FilterEngineImpl::matchDomainMap(
    DomainFilterMap& map, int lane, const CandidateList& candidates,
    const RequestFacts& request, std::string* key) {
  if (candidates.empty() || map.keyCount() == 0) return nullptr;
  map.beginLookup();
  for (const CandidateList::Candidate& candidate : candidates) {
    uint32_t chain;
    if (lane == kOwnFilter) {
      chain = map.find(candidate.text, candidate.hash);
    } else if ((candidate.lanes >> lane & 1) == 0) {
      continue;
    } else {
      chain = map.findUnfiltered(candidate.text, candidate.hash);
    }
    if (chain == DomainFilterMap::kNoChain || !map.markTried(chain)) continue;
    for (const RequestFilter* rule : map.chain(chain)) {
      if (rule->matches(request)) {
        key->assign(candidate.text.data(), candidate.text.size());
        return rule;
      }
    }
  }
  return nullptr;
}

const RequestFilter* FilterEngineImpl::hasElemHideException(
    const std::string& url, const std::string& pageUrl) {
  std::string key;
  if (matchMode_ == MatchMode::kPlain) {
    return matchDomainMap(elemHideExceptionsByDomain, url, pageUrl, &key);
  }
  if (url.empty()) return nullptr;
  candidates_.assign(extractHostView(url, nullptr));
  const RequestFacts request(url, pageUrl);
  return matchDomainMap(elemHideExceptionsByDomain, kOwnFilter, candidates_,
                        request, &key);
}

}  // namespace quibex
