// The block decision of FilterEngineImpl: the containers of
// kRequestContainers that decide, in their order; the first container with
// a matching rule decides. Also the two lookups it is built from, the
// domain-map lookup (plain and accelerated) and the generic-sequence scan,
// and the survey of every matching rule for reports.
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/filter_engine_impl.h"
#include "filters/request_facts.h"

namespace quibex {

int FilterEngineImpl::shouldBlock(const std::string& url,
                                  const std::string& pageUrl) {
  if (loading) return 0;
  std::lock_guard<std::mutex> lock(mutex);
  return matchMode_ == MatchMode::kPlain
             ? decidePlain(url, pageUrl, nullptr)
             : decideAccelerated(url, pageUrl, nullptr);
}

BlockExplanation FilterEngineImpl::explainBlock(const std::string& url,
                                                const std::string& pageUrl) {
  std::lock_guard<std::mutex> lock(mutex);
  BlockExplanation why;
  why.blocked = decide(url, pageUrl, &why);
  return why;
}

int FilterEngineImpl::decide(const std::string& url, const std::string& pageUrl,
                             BlockExplanation* why) {
  return matchMode_ == MatchMode::kPlain ? decidePlain(url, pageUrl, why)
                                         : decideAccelerated(url, pageUrl, why);
}

namespace {

// Records the deciding rule of a container and returns its answer.
__attribute__((always_inline)) inline int decided(
    const RequestContainer& container, const RequestFilter* rule,
    std::string_view key, BlockExplanation* why) {
  if (why != nullptr) {
    why->step = container.id;
    why->ruleText = rule->text();
    why->key.assign(key.data(), key.size());
    why->rule = rule;
  }
  return container.answer();
}

// Calls step with each index of I in order, as a constant, until one
// returns true; returns whether one did.
template <class Step, size_t... I>
__attribute__((always_inline)) inline bool tryInOrder(
    const Step& step, std::index_sequence<I...>) {
  return (step(std::integral_constant<size_t, I>{}) || ...);
}

}  // namespace

int FilterEngineImpl::decidePlain(const std::string& url,
                                  const std::string& pageUrl,
                                  BlockExplanation* why) {
  for (const RequestContainer& container : kRequestContainers) {
    if (!container.decides()) continue;
    std::string key;
    const RequestFilter* rule =
        container.keyed ? matchDomainMap(mapOf(container), url, pageUrl, &key)
                        : matchGenericList(sequenceOf(container), url, pageUrl);
    if (rule != nullptr) return decided(container, rule, key, why);
  }
  return 0;
}

// Inline in its callers, with the steps it tries: shouldBlock, the common
// question, then runs in one frame, and its null explanation folds away.
__attribute__((always_inline)) inline int FilterEngineImpl::decideAccelerated(
    const std::string& url, const std::string& pageUrl, BlockExplanation* why) {
  if (indexStale_) refreshIndex();
  // One host, one candidate list and one set of request facts for every
  // container; the URL is tokenised only if a generic step is reached.
  const std::string_view host = candidates_.locateAddress(url, domainRules_);
  const RequestFacts request(url, pageUrl, host);
  bool tokenized = false;
  const RequestContainer* decider = nullptr;
  const RequestFilter* rule = nullptr;
  std::string_view key;
  // Tries the container at index; true when it decides. The table is a
  // constant, so each container's shape, lane and member are too: the
  // steps are laid out one after another without reading the table.
  const auto step = [&](auto index) __attribute__((always_inline)) {
    constexpr RequestContainer container =
        kRequestContainers[decltype(index)::value];
    if constexpr (!container.decides()) {
      return false;
    } else if constexpr (container.keyed) {
      // A lane that no candidate holds rules in is passed by.
      if ((candidates_.lanes() >> container.slot & 1) == 0) return false;
      rule = matchDomainMap(mapOf(container), candidates_, request, &key);
    } else {
      if (!tokenized) {
        genericIndex_.beginRequest(url);
        tokenized = true;
      }
      rule = genericIndex_.match(container.slot, request);
    }
    if (rule == nullptr) return false;
    decider = &kRequestContainers[decltype(index)::value];
    return true;
  };
  if (!tryInOrder(step, std::make_index_sequence<kRequestContainerCount>{})) {
    return 0;
  }
  return decided(*decider, rule, key, why);
}

const RequestFilter* FilterEngineImpl::matchDomainMap(
    DomainLane& map, const std::string& url, const std::string& pageUrl,
    std::string* key) {
  if (url.empty()) return nullptr;
  const std::string host = extractHost(url, nullptr);
  const std::vector<std::string> candidates = domainCandidates(host);
  if (candidates.empty()) return nullptr;
  map.beginLookup();
  for (const std::string& candidate : candidates) {
    const uint32_t entry = map.find(candidate);
    if (entry == DomainRuleTable::kNoEntry || !map.markTried(entry)) continue;
    for (const RequestFilter* rule : map.chain(entry)) {
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
    DomainLane& map, CandidateList& candidates, const RequestFacts& request,
    std::string_view* key) {
  const uint32_t lane = map.lane();
  const std::string_view url = request.url();
  for (CandidateList::Located& candidate : candidates) {
    if ((candidate.lanes >> lane & 1) == 0) continue;
    KeyPlace& place = candidate.place;
    // The URL's bytes after the key's place, which a rule's peek is
    // compared with; none when the key does not stand in the URL as one
    // run.
    const bool placed = place.where() != nullptr;
    uint32_t after = 0;
    if (placed) {
      const char* const text = place.where() + place.size();
      after = RequestFilter::bytesAfterKey(
          text, static_cast<size_t>(url.data() + url.size() - text));
    }
    // Peeks are of use only where the key stands in the URL.
    const uint32_t peekMask = placed ? 0xffffu : 0;
    const RequestFilter* found =
        map.findInChain(candidate.entry, [&](uint16_t peek, auto ruleOf) {
          if ((peek & peekMask) != 0 &&
              RequestFilter::peekMisses(peek, after)) {
            // The rule matches only with its key at another place, where
            // its peek mostly disagrees too.
            if (!place.occursElsewhere(url) ||
                place.peekMissesElsewhere(peek)) {
              return false;
            }
            return ruleOf()->matches(request, &place);
          }
          const RequestFilter* rule = ruleOf();
          const RequestFilter::AtPlace verdict =
              rule->verdictAtPlace(url, place);
          if (verdict == RequestFilter::AtPlace::kMatches) return true;
          if (verdict == RequestFilter::AtPlace::kDisagrees) {
            if (!place.occursElsewhere(url)) return false;
            const uint16_t own = rule->peekAfterKey();
            if (own != 0 && place.peekMissesElsewhere(own)) return false;
          }
          return rule->matches(request, &place);
        });
    if (found != nullptr) {
      *key = candidate.text;
      return found;
    }
  }
  return nullptr;
}

void FilterEngineImpl::forEachMatchingRule(
    const std::string& url, const std::string& pageUrl,
    const std::function<void(const RequestFilter&)>& visit) {
  std::lock_guard<std::mutex> lock(mutex);
  std::vector<std::string> candidates;
  if (!url.empty()) candidates = domainCandidates(extractHost(url, nullptr));
  for (const RequestContainer& container : kRequestContainers) {
    if (!container.decides()) continue;
    if (!container.keyed) {
      for (const RequestFilter* rule : sequenceOf(container)) {
        if (rule->matches(url, pageUrl)) visit(*rule);
      }
      continue;
    }
    // The walk of the plain map lookup, each chain tried once.
    DomainLane& map = mapOf(container);
    map.beginLookup();
    for (const std::string& candidate : candidates) {
      const uint32_t entry = map.find(candidate);
      if (entry == DomainRuleTable::kNoEntry || !map.markTried(entry)) continue;
      for (const RequestFilter* rule : map.chain(entry)) {
        if (rule->matches(url, pageUrl)) visit(*rule);
      }
    }
  }
}

}  // namespace quibex
