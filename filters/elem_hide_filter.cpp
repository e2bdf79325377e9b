// Parsing of "##" rules and the element-hiding domain test.
#include "filters/elem_hide_filter.h"

#include <cstring>
#include <new>

#include "filters/rule_arena.h"
#include "filters/rule_line.h"
#include "filters/text_util.h"

namespace quibex {
namespace {

// Calls f(offset, length) for each comma-separated entry of a non-empty
// site part, a trailing comma adding none.
// Each "," is found by memchr: site parts run to thousands of bytes.
template <class F>
void forEachSiteEntry(std::string_view sites, F&& f) {
  const char* const bytes = sites.data();
  const size_t size = sites.size();
  size_t entryStart = 0;
  while (entryStart < size) {
    const void* comma = std::memchr(bytes + entryStart, ',', size - entryStart);
    if (comma == nullptr) {
      f(entryStart, size - entryStart);
      return;
    }
    const size_t at =
        static_cast<size_t>(static_cast<const char*>(comma) - bytes);
    f(entryStart, at - entryStart);
    entryStart = at + 1;
  }
}

}  // namespace

std::unique_ptr<ElemHideFilter> ElemHideFilter::fromText(
    std::string_view line) {
  return std::unique_ptr<ElemHideFilter>(parse(
      line, [](size_t bytes, void*) { return ::operator new(bytes); },
      nullptr));
}

ElemHideFilter* ElemHideFilter::fromText(std::string_view line,
                                         RuleArena& arena) {
  return parse(
      line,
      [](size_t bytes, void* context) {
        return static_cast<RuleArena*>(context)->allocate(bytes);
      },
      &arena);
}

ElemHideFilter* ElemHideFilter::parse(std::string_view line,
                                      void* (*allocate)(size_t, void*),
                                      void* context) {
  if (line.size() > kMaxRuleLineBytes) return nullptr;
  if (startsWith(line, "!")) return nullptr;  // comment
  const size_t hashes = line.find("##");
  if (hashes == std::string_view::npos || hashes == 0) return nullptr;

  // Entries end at each "," and at the last byte of the site part; a ","
  // that is the last byte closes one entry only. Two passes: count, then
  // fill the ranges in place.
  const std::string_view sites = line.substr(0, hashes);
  size_t entries = 0;
  size_t excludes = 0;
  forEachSiteEntry(sites, [&](size_t offset, size_t length) {
    ++entries;
    if (length > 0 && sites[offset] == '~') ++excludes;
  });

  void* memory = allocate(
      sizeof(ElemHideFilter) + entries * sizeof(Range) + line.size(), context);
  ElemHideFilter* filter = new (memory) ElemHideFilter();
  filter->textLen_ = static_cast<uint32_t>(line.size());
  filter->selectorOffset_ = static_cast<uint32_t>(hashes + 2);
  filter->includeCount_ = static_cast<uint32_t>(entries - excludes);
  filter->excludeCount_ = static_cast<uint32_t>(excludes);
  Range* include = filter->ranges();
  Range* exclude = include + filter->includeCount_;
  forEachSiteEntry(sites, [&](size_t offset, size_t length) {
    if (length > 0 && sites[offset] == '~') {
      *exclude++ = Range{static_cast<uint32_t>(offset + 1),
                         static_cast<uint32_t>(length - 1)};
    } else {
      *include++ =
          Range{static_cast<uint32_t>(offset), static_cast<uint32_t>(length)};
    }
  });
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
