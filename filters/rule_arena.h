// RuleArena: bump allocation for parsed rules that live and die together.
//
// An engine holds about a hundred and twenty thousand rules, each one small
// object with its text, all freed at once when the rules are cleared. One
// heap block per rule costs an allocator header and rounding on each (about
// 16 bytes, over 2 MB for the real lists) and a call into malloc per line;
// the arena hands out pieces of 64 KiB chunks instead, each aligned only as
// much as the object placed in it needs.
#ifndef QUIBEX_FILTERS_RULE_ARENA_H_
#define QUIBEX_FILTERS_RULE_ARENA_H_

#include <cstddef>
#include <memory>
#include <vector>

namespace quibex {

// Thread-safety: none; the owner serialises every call.
class RuleArena {
 public:
  RuleArena() = default;
  RuleArena(const RuleArena&) = delete;
  RuleArena& operator=(const RuleArena&) = delete;

  // Returns bytes of storage aligned to alignment, valid until release().
  // Objects placed in it are never deleted: their owner runs their
  // destructors before release().
  // REQUIRES: alignment is a power of two, at most alignof(max_align_t).
  void* allocate(size_t bytes, size_t alignment = 8);

  // Frees every chunk.
  void release();

  // Heap bytes held by the chunks.
  size_t memoryBytes() const { return held_; }

 private:
  static constexpr size_t kChunkBytes = 64 * 1024;

  std::vector<std::unique_ptr<char[]>> chunks_;  // every chunk handed out
  char* next_ = nullptr;  // free space in the current chunk
  size_t left_ = 0;       // bytes free at next_
  size_t held_ = 0;       // bytes of all chunks
};

}  // namespace quibex

#endif  // QUIBEX_FILTERS_RULE_ARENA_H_
