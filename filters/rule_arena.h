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
#include <cstdint>
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

  // A 32-bit name of a piece this arena handed out, for tables that refer
  // to many pieces: the chunk's number and the piece's offset in it. Throws
  // bad_alloc when the arena has more chunks than a name can tell apart
  // (kMaxChunks, 4 GiB of rules at the least). Fastest for the newest
  // piece. REQUIRES: piece came from allocate() since the last release().
  uint32_t refOf(const void* piece) const;
  // The piece named ref. REQUIRES: ref came from refOf() since the last
  // release().
  const void* at(uint32_t ref) const {
    return chunks_[ref >> kOffsetBits].bytes.get() + (ref & kOffsetMask);
  }

  // Frees every chunk.
  void release();

  // Heap bytes held by the chunks.
  size_t memoryBytes() const { return held_; }

 private:
  static constexpr size_t kChunkBytes = 64 * 1024;
  // A reference is a chunk number above a byte offset in the chunk. A piece
  // in a chunk of its own starts at offset 0.
  static constexpr uint32_t kOffsetBits = 16;
  static constexpr uint32_t kOffsetMask = (1u << kOffsetBits) - 1;
  static constexpr size_t kMaxChunks = size_t{1} << (32 - kOffsetBits);
  static_assert(kChunkBytes <= size_t{1} << kOffsetBits,
                "an offset in a chunk must fit a reference");

  struct Chunk {
    std::unique_ptr<char[]> bytes;  // the storage
    size_t size;                    // its length
  };
  std::vector<Chunk> chunks_;  // every chunk handed out
  char* next_ = nullptr;       // free space in the current chunk
  size_t left_ = 0;            // bytes free at next_
  size_t held_ = 0;            // bytes of all chunks
};

}  // namespace quibex

#endif  // QUIBEX_FILTERS_RULE_ARENA_H_
