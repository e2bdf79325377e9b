// FilterEngine: the interface through which the Java bridge (and the tools)
// drive the ad-filtering engine, and the accessor of the process's engine.
#ifndef QUIBEX_ENGINE_FILTER_ENGINE_H_
#define QUIBEX_ENGINE_FILTER_ENGINE_H_

#include <string>
#include <string_view>
#include <vector>

namespace quibex {

class LineDecoder;

// The six operations of the engine, in fixed order. The only implementation
// is FilterEngineImpl.
//
// Thread-safety: every operation may be called from any thread at any time.
// loadRules and reloadRules return at once and load on a background thread;
// while a load runs, shouldBlock answers 0 and getSelectors an empty list
// without waiting.
class FilterEngine {
 public:
  FilterEngine(const FilterEngine&) = delete;
  FilterEngine& operator=(const FilterEngine&) = delete;

  // Marks the engine as loading and starts a thread that adds the rules of
  // both files (first as list 0, second as list 1) to those already filed.
  virtual void loadRules(const std::string& firstPath,
                         const std::string& secondPath) = 0;
  // Starts a thread that clears all rules and then loads both files. Until
  // that thread holds the engine, queries are answered from the old rules.
  virtual void reloadRules(const std::string& firstPath,
                           const std::string& secondPath) = 0;
  // Removes every rule. REQUIRES: the caller holds the engine mutex (only
  // the reload body calls it).
  virtual void clearRules() = 0;
  // Parses one plain rule line and files it. listIndex 0 is the first list,
  // any other value the second. REQUIRES: no load body runs meanwhile (the
  // loader calls it with the engine mutex held).
  virtual void addRuleLine(std::string_view line, int listIndex) = 0;
  // 1 when the request url, fetched by the page pageUrl (may be empty), is
  // to be blocked; otherwise 0.
  virtual int shouldBlock(const std::string& url,
                          const std::string& pageUrl) = 0;
  // The element-hiding selectors for the page pageAddress, unless an
  // "elemhide" exception matches documentUrl (with referrerUrl as page).
  virtual std::vector<std::string> getSelectors(
      const std::string& pageAddress, const std::string& documentUrl,
      const std::string& referrerUrl) = 0;

 protected:
  FilterEngine() = default;
  // Engines are never destroyed through this interface.
  ~FilterEngine() = default;
};

// The process's one engine, created on the first call (also when two
// threads make that call at once) and never destroyed.
// REQUIRES: decoder lives until the process ends. Only the first call's
// decoder is used; later arguments are ignored.
FilterEngine* getFilterEngine(LineDecoder& decoder);

}  // namespace quibex

#endif  // QUIBEX_ENGINE_FILTER_ENGINE_H_
