// Parsing of "##" rules and the element-hiding domain test.
#include "filters/elem_hide_filter.h"

#include <cstring>
#include <new>

#include "filters/request_filter.h"
#include "filters/text_util.h"

namespace quibex {

std::unique_ptr<ElemHideFilter> ElemHideFilter::fromText(
    std::string_view line) {
  if (line.size() > kMaxRuleLineBytes) return nullptr;
  if (startsWith(line, "!")) return nullptr;  // comment
  const size_t hashes = line.find("##");
  if (hashes == std::string_view::npos || hashes == 0) return nullptr;

  // Entries end at each "," and at the last byte of the site part; a ","
  // that is the last byte closes one entry only.
  struct Entry {
    uint32_t offset;
    uint32_t length;
    bool exclude;
  };
  std::vector<Entry> entries;
  size_t entryStart = 0;
  for (size_t i = 0; i < hashes; ++i) {
    const bool comma = line[i] == ',';
    if (!comma && i + 1 != hashes) continue;
    const size_t entryEnd = comma ? i : i + 1;
    Entry entry{static_cast<uint32_t>(entryStart),
                static_cast<uint32_t>(entryEnd - entryStart), false};
    if (entry.length > 0 && line[entryStart] == '~') {
      entry.exclude = true;
      ++entry.offset;
      --entry.length;
    }
    entries.push_back(entry);
    entryStart = i + 1;
  }

  size_t includes = 0;
  for (const Entry& e : entries) includes += e.exclude ? 0 : 1;
  const size_t rangeBytes = entries.size() * sizeof(Range);
  void* memory = ::operator new(sizeof(ElemHideFilter) + rangeBytes +
                                line.size());
  std::unique_ptr<ElemHideFilter> filter(new (memory) ElemHideFilter());
  filter->textLen_ = static_cast<uint32_t>(line.size());
  filter->selectorOffset_ = static_cast<uint32_t>(hashes + 2);
  filter->includeCount_ = static_cast<uint32_t>(includes);
  filter->excludeCount_ = static_cast<uint32_t>(entries.size() - includes);
  Range* include = filter->ranges();
  Range* exclude = include + includes;
  for (const Entry& e : entries) {
    *(e.exclude ? exclude++ : include++) = Range{e.offset, e.length};
  }
  std::memcpy(const_cast<char*>(filter->chars()), line.data(), line.size());
  return filter;
}

std::vector<std::string> ElemHideFilter::getIncludeDomains() const {
  std::vector<std::string> out;
  out.reserve(includeCount_);
  for (size_t i = 0; i < includeCount_; ++i) out.emplace_back(includeDomain(i));
  return out;
}

std::string_view ElemHideFilter::includeDomain(size_t i) const {
  return rangeText(ranges()[i]);
}

std::string_view ElemHideFilter::excludeDomain(size_t i) const {
  return rangeText(ranges()[includeCount_ + i]);
}

bool ElemHideFilter::isActiveOnHost(std::string_view hostWithPort) const {
  for (size_t i = 0; i < excludeCount_; ++i) {
    if (contains(hostWithPort, excludeDomain(i))) return false;
  }
  for (size_t i = 0; i < includeCount_; ++i) {
    if (contains(hostWithPort, includeDomain(i))) return true;
  }
  return false;
}

}  // namespace quibex
