// FilterEngineImpl: the engine object. It owns every parsed rule, files
// request rules into nine containers and element-hiding rules into a site
// index, loads rule files on background threads, and answers the block and
// selector questions.
//
// One class, implemented in five files by concern:
//   filter_engine_impl.cpp       construction and destruction, clearRules,
//                                loadRules and reloadRules with their load
//                                bodies, waitForLoads, stats, the paths,
//                                getFilterEngine
//   filter_engine_loading.cpp    reserveForFiles, loadRuleFile, addRuleLine,
//                                addTrackedLine, finishAddingLines
//   filter_engine_filing.cpp     addRequestFilter, addElemHideFilter,
//                                fileStagedRules
//   filter_engine_decision.cpp   shouldBlock, explainBlock, and the lookups
//                                matchDomainMap and matchGenericList;
//                                forEachMatchingRule
//   filter_engine_selectors.cpp  getSelectors, explainSelectors,
//                                hasElemHideException
// The nine request containers are described by one table,
// kRequestContainers, below the class (its vocabulary is in
// request_containers.h). The parts the engine is built from have files and
// classes of their own: host_candidates.h, domain_rule_table.h,
// domain_lane.h, generic_index.h, keyed_chains.h, rule_file_reader.h.
#ifndef QUIBEX_ENGINE_FILTER_ENGINE_IMPL_H_
#define QUIBEX_ENGINE_FILTER_ENGINE_IMPL_H_

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/domain_lane.h"
#include "engine/domain_rule_table.h"
#include "engine/filter_engine.h"
#include "engine/generic_index.h"
#include "engine/host_candidates.h"
#include "engine/keyed_chains.h"
#include "engine/request_containers.h"
#include "filters/elem_hide_filter.h"
#include "filters/request_filter.h"
#include "filters/rule_arena.h"

namespace quibex {

class LineDecoder;
class RequestFacts;
class ThreadLauncher;

// How queries search the generic sequences and derive request facts.
enum class MatchMode {
  // Host candidates and request facts derived once per query and shared;
  // the generic sequences searched through their token index.
  kAccelerated,
  // The reference algorithm: every generic sequence scanned rule by rule,
  // every map lookup and every rule deriving what it needs anew.
  kPlain,
};

struct EngineOptions {
  MatchMode matchMode = MatchMode::kAccelerated;
  // Starts load bodies; null means detached POSIX threads.
  ThreadLauncher* launcher = nullptr;
};

// What decided a request, for explanations.
struct BlockExplanation {
  int blocked = 0;                          // the answer shouldBlock gives
  DecisionStep step = DecisionStep::kNone;  // the deciding container
  std::string ruleText;                     // text of a matching rule
  std::string key;  // the domain key it was filed under (domain-keyed steps)
  // That rule itself, or null for kNone; valid until the rules are cleared.
  const RequestFilter* rule = nullptr;
};

// One selector of a selector query and the rule it came from.
struct SelectorSource {
  std::string selector;  // the selector, as getSelectors returns it
  std::string ruleText;  // the element-hiding rule's text
  // That rule itself; valid until the rules are cleared.
  const ElemHideFilter* rule = nullptr;
};

// What a selector query found, for explanations.
struct SelectorExplanation {
  // True when an "elemhide" exception switched element hiding off.
  bool switchedOff = false;
  std::string exceptionRule;                 // that exception's text
  const RequestFilter* exception = nullptr;  // that exception, or null
  std::vector<SelectorSource> selectors;     // in getSelectors order
};

// The rule that one added line became. At most one is set; both are null
// when the line was dropped. Valid until the rules are cleared.
struct FiledRule {
  const RequestFilter* request = nullptr;    // a filed request rule
  const ElemHideFilter* elemHide = nullptr;  // a filed element-hiding rule
};

// Rule counts per container.
struct EngineStats {
  size_t requestRules = 0;  // every filed request rule
  // Rules in each request container, indexed like kRequestContainers.
  size_t containerRules[kRequestContainerCount] = {};
  size_t elemHideRules = 0;  // every filed element-hiding rule
  size_t elemHideKeys = 0;   // distinct sites in the element-hiding index
  size_t indexBytes = 0;     // heap bytes of maps, sequences and indexes
  size_t ruleBytes = 0;      // heap bytes holding the parsed rules

  // The rules in the container id. REQUIRES: id is not kNone.
  size_t rulesIn(DecisionStep id) const {
    return containerRules[containerIndex(id)];
  }
};

// Thread-safety: the FilterEngine operations are safe from any thread (see
// filter_engine.h). Every other public method takes the engine mutex itself
// unless it says it REQUIRES the caller to hold it.
class FilterEngineImpl final : public FilterEngine {
 public:
  // REQUIRES: decoder outlives the engine.
  explicit FilterEngineImpl(LineDecoder& decoder,
                            const EngineOptions& options = EngineOptions());
  // Waits for every load body this engine started, then frees all rules.
  ~FilterEngineImpl();

  void loadRules(const std::string& firstPath,
                 const std::string& secondPath) override;
  void reloadRules(const std::string& firstPath,
                   const std::string& secondPath) override;
  void clearRules() override;
  void addRuleLine(std::string_view line, int listIndex) override;
  int shouldBlock(const std::string& url, const std::string& pageUrl) override;
  std::vector<std::string> getSelectors(
      const std::string& pageAddress, const std::string& documentUrl,
      const std::string& referrerUrl) override;

  // Reads one rule file through the decoder and adds each line with
  // listIndex. A file that cannot be opened is skipped; reading stops at
  // the first read error. REQUIRES: the caller holds the engine mutex.
  void loadRuleFile(const std::string& path, int listIndex);
  // Makes room in the domain table to stage the keyed rules the two files
  // are guessed to hold, from their sizes. REQUIRES: the caller holds the
  // engine mutex.
  void reserveForFiles(const std::string& firstPath,
                       const std::string& secondPath);

  // Takes ownership of filter and files it into the container chosen by its
  // list, exception flag, elemhide option and domain key. REQUIRES: filter
  // is not null and was parsed into this engine's arena; the caller holds
  // the engine mutex.
  void addRequestFilter(RequestFilter* filter, int listIndex);
  // Takes ownership of filter (null is ignored) and files it under each of
  // its included sites. REQUIRES: filter was parsed into this engine's
  // arena; the caller holds the engine mutex.
  void addElemHideFilter(ElemHideFilter* filter);

  // Adds one plain rule line through addRuleLine, as a load adds each line,
  // and says which rule it filed. For callers that feed the lines
  // themselves and need to tell which rule came from which line: the engine
  // keeps nothing per line. Call finishAddingLines() after the last line.
  // REQUIRES: no load body runs meanwhile.
  FiledRule addTrackedLine(std::string_view line, int listIndex);
  // Compacts the containers and builds the indexes after a series of
  // addTrackedLine calls, as the end of a load does.
  void finishAddingLines();

  // Blocks until every load or reload body started so far has finished.
  void waitForLoads();
  // Whether a load is pending or running (queries are being turned away).
  bool isLoading() const { return loading.load(); }

  // The block decision with what decided it. Unlike shouldBlock it waits
  // for a running load instead of answering at once.
  BlockExplanation explainBlock(const std::string& url,
                                const std::string& pageUrl);
  // The selector query with the rule of each selector. Waits for a running
  // load like explainBlock.
  SelectorExplanation explainSelectors(const std::string& pageAddress,
                                       const std::string& documentUrl,
                                       const std::string& referrerUrl);
  // Calls visit for every rule of the block decision's eight containers
  // that matches the request, in the order the decision consults the
  // containers and tries their rules, but without stopping at the first
  // match. The lookups are the plain ones and every generic rule is tried,
  // so this costs far more than a decision: it is for reports. Waits for a
  // running load like explainBlock. REQUIRES: visit does not call the
  // engine (the engine mutex is held while it runs).
  void forEachMatchingRule(
      const std::string& url, const std::string& pageUrl,
      const std::function<void(const RequestFilter&)>& visit);
  EngineStats stats();

  // The map of a keyed request container and the element-hiding site
  // index, for reports on how the keys spread. Valid until the next load,
  // reload or clear. REQUIRES: container.keyed; no load is running.
  const DomainLane& domainMap(const RequestContainer& container) const {
    return this->*container.map;
  }
  const KeyedChains<const ElemHideFilter>& siteIndex() const {
    return elemHideByDomain;
  }
  // The table holding the rules of every keyed container, for the same
  // reports and with the same validity.
  const DomainRuleTable& domainTable() const { return domainRules_; }

  // The paths of the last load body that ran.
  std::string lastFirstPath();
  std::string lastSecondPath();

  // The nine request containers in the order they are consulted, each with
  // its list, kind, shape, member name and accessor; defined below the
  // class. Container c of an engine e is e.*c.map or e.*c.sequence.
  static const std::array<RequestContainer, kRequestContainerCount>
      kRequestContainers;

 private:
  struct LoadJob;
  static void* loadBody(void* job);
  void runLoad(const LoadJob& job);
  // Sets loading (for a load), counts the body as pending and starts it.
  void startLoad(const std::string& firstPath, const std::string& secondPath,
                 bool reload);
  // Undoes startLoad's bookkeeping when its body could not be started.
  void abandonStart(bool reload);
  void finishLoad();

  // The block decision under the mutex; fills why when not null.
  int decide(const std::string& url, const std::string& pageUrl,
             BlockExplanation* why);
  int decidePlain(const std::string& url, const std::string& pageUrl,
                  BlockExplanation* why);
  int decideAccelerated(const std::string& url, const std::string& pageUrl,
                        BlockExplanation* why);
  // The selector query under the mutex.
  void collectSelectors(const std::string& pageAddress,
                        const std::string& documentUrl,
                        const std::string& referrerUrl,
                        SelectorExplanation* why,
                        std::vector<std::string>* selectors);
  // The "elemhide" exception with a domain key that matches url (with
  // pageUrl as page), or null.
  const RequestFilter* hasElemHideException(const std::string& url,
                                            const std::string& pageUrl);
  // Files rule into its container (while a file is read, a keyed rule is
  // staged in the domain table, and filed by fileStagedRules()). Strong
  // guarantee for rule: on bad_alloc it is in no container. REQUIRES: rule
  // is in arena_; the caller holds the engine mutex.
  void fileRequestFilter(const RequestFilter* rule, bool list1);
  // Files the keyed rules staged while the files were read; logs those
  // dropped because memory ran out. Does not throw.
  void fileStagedRules();
  // Rebuilds the generic token index when filing changed the sequences.
  void refreshIndex();

  // The map or the sequence of a container of this engine.
  DomainLane& mapOf(const RequestContainer& container) {
    return this->*container.map;
  }
  GenericSequence& sequenceOf(const RequestContainer& container) {
    return this->*container.sequence;
  }

  // The plain lookups: each derives the host candidates and, per rule, the
  // request facts anew. They return a matching filter or null.
  const RequestFilter* matchDomainMap(DomainLane& map, const std::string& url,
                                      const std::string& pageUrl,
                                      std::string* key);
  const RequestFilter* matchGenericList(const GenericSequence& sequence,
                                        const std::string& url,
                                        const std::string& pageUrl);
  // The shared-candidate lookup of the accelerated path. *key receives
  // the matching rule's key, a view valid until candidates is next
  // assigned. REQUIRES: the candidates were located (CandidateList::locate())
  // and assigned a host that is a view into request.url().
  const RequestFilter* matchDomainMap(DomainLane& map,
                                      CandidateList& candidates,
                                      const RequestFacts& request,
                                      std::string_view* key);

  // ---- Members, in the engine's fixed order ----
  // The filed request rules that own heap parts (page-domain lists), in
  // filing order: the engine destroys them when it clears the rules. Every
  // rule's storage is arena_'s.
  std::vector<RequestFilter*> requestFilters;
  DomainLane exceptionsByDomain1;  // "@@" rules of list 1 with a key
  DomainLane blockingByDomain1;    // blocking rules of list 1 with a key
  GenericSequence exceptions1;     // "@@" rules of list 1 without a key
  GenericSequence blocking1;       // blocking rules of list 1, no key
  DomainLane exceptionsByDomain0;  // as above, for list 0
  DomainLane blockingByDomain0;
  GenericSequence exceptions0;
  GenericSequence blocking0;
  DomainLane elemHideExceptionsByDomain;  // "@@...$elemhide" with a key
  KeyedChains<const ElemHideFilter> elemHideByDomain;  // site -> filters
  std::vector<ElemHideFilter*> elemHideFilters;        // owns all (in arena_)
  std::string firstRulePath;   // first file of the last load body
  std::string secondRulePath;  // second file of the last load body
  std::mutex mutex;            // serialises every load, clear and query
  std::atomic<bool> loading;   // a load is pending or running

  // ---- Implementation state ----
  RuleArena arena_;            // storage of every filed rule
  LineDecoder& decoder_;       // turns stored lines into plain text
  ThreadLauncher& launcher_;   // starts load bodies
  const MatchMode matchMode_;  // accelerated or plain queries
  // Orders the starts' and the bodies' updates of pendingBodies_ against a
  // failed start's decision to clear loading. Never held for long: queries
  // do not take it, and no body holds it while loading.
  std::mutex startMutex_;
  std::atomic<int> pendingBodies_{0};   // bodies started, not yet finished
  std::condition_variable bodiesDone_;  // signalled when a body finishes
  GenericIndex genericIndex_;           // token index over the four sequences
  // The rules of the five keyed containers, each container one lane.
  DomainRuleTable domainRules_{&arena_};
  // While a file is read, the keyed rules are staged in the table and
  // filed all at once when the load ends: the slot table is then sized for
  // exactly their keys, and filing it walks it in order instead of
  // stalling on a cache miss per rule.
  bool stageKeyedRules_ = false;  // a file is being read
  size_t requestRules_ = 0;       // request rules filed since the last clear
  const RequestFilter* lastRequestRule_ = nullptr;  // the last one filed
  bool indexStale_ = false;   // filing changed since the indexes were built
  CandidateList candidates_;  // scratch: host candidates of one query
};

// The table of the request containers. Each list's exceptions come before
// its blocking rules and domain-keyed containers before generic ones, the
// second list before the first; the "elemhide" exceptions, of both lists,
// come last. A container's member name, map and sequence are written as
// QUIBEX_KEYED(member) or QUIBEX_GENERIC(member), so that the name the
// statistics and explanations print is the member declaration's own.
#define QUIBEX_KEYED(name) #name, &FilterEngineImpl::name, nullptr
#define QUIBEX_GENERIC(name) #name, nullptr, &FilterEngineImpl::name
inline constexpr std::array<RequestContainer, kRequestContainerCount>
    FilterEngineImpl::kRequestContainers = withSlots<kRequestContainerCount>({{
        // id, list, kind, keyed, elemHide, member, map, sequence
        {DecisionStep::kExceptionsByDomain1, 1, RuleKind::kException, true,
         false, QUIBEX_KEYED(exceptionsByDomain1)},
        {DecisionStep::kExceptions1, 1, RuleKind::kException, false, false,
         QUIBEX_GENERIC(exceptions1)},
        {DecisionStep::kBlockingByDomain1, 1, RuleKind::kBlocking, true, false,
         QUIBEX_KEYED(blockingByDomain1)},
        {DecisionStep::kBlocking1, 1, RuleKind::kBlocking, false, false,
         QUIBEX_GENERIC(blocking1)},
        {DecisionStep::kExceptionsByDomain0, 0, RuleKind::kException, true,
         false, QUIBEX_KEYED(exceptionsByDomain0)},
        {DecisionStep::kExceptions0, 0, RuleKind::kException, false, false,
         QUIBEX_GENERIC(exceptions0)},
        {DecisionStep::kBlockingByDomain0, 0, RuleKind::kBlocking, true, false,
         QUIBEX_KEYED(blockingByDomain0)},
        {DecisionStep::kBlocking0, 0, RuleKind::kBlocking, false, false,
         QUIBEX_GENERIC(blocking0)},
        {DecisionStep::kElemHideExceptionsByDomain, kBothLists,
         RuleKind::kException, true, true,
         QUIBEX_KEYED(elemHideExceptionsByDomain)},
    }});
#undef QUIBEX_GENERIC
#undef QUIBEX_KEYED

static_assert(idsFollowTable(FilterEngineImpl::kRequestContainers),
              "the table must list the containers in DecisionStep order");
static_assert(membersFollowShape(FilterEngineImpl::kRequestContainers),
              "a keyed container names a map, a generic one a sequence");
static_assert(everyRuleHasAContainer(FilterEngineImpl::kRequestContainers),
              "every request rule must have a container");
static_assert(keyedContainers(FilterEngineImpl::kRequestContainers) <=
                  DomainRuleTable::kLanes,
              "one domain table lane per keyed container");
static_assert(decisionContainers(FilterEngineImpl::kRequestContainers, false) ==
                  GenericIndex::kSlots,
              "one token index slot per generic sequence");

// The container named id. REQUIRES: id is not kNone.
inline const RequestContainer& containerOf(DecisionStep id) {
  return FilterEngineImpl::kRequestContainers[containerIndex(id)];
}

// The container the engine files rule into when it comes from list
// listIndex (0 for the first file, any other value for the second), for a
// caller that has the rule's key at hand. REQUIRES: key ==
// rule.domainKeyView().
inline const RequestContainer& containerFor(const RequestFilter& rule,
                                            std::string_view key,
                                            int listIndex) {
  static constexpr std::array<size_t, 16> kIndexes =
      filingIndexes(FilterEngineImpl::kRequestContainers);
  return FilterEngineImpl::kRequestContainers[kIndexes[filingKey(
      listIndex != 0, rule.isException(), !key.empty(), rule.elemHide())]];
}
// The same, the key found from the rule.
inline const RequestContainer& containerFor(const RequestFilter& rule,
                                            int listIndex) {
  return containerFor(rule, rule.domainKeyView(), listIndex);
}

}  // namespace quibex

#endif  // QUIBEX_ENGINE_FILTER_ENGINE_IMPL_H_
