// Chunked bump allocation; see rule_arena.h.
#include "filters/rule_arena.h"

#include <cassert>
#include <cstddef>
#include <new>
#include <utility>

namespace quibex {

void* RuleArena::allocate(size_t bytes, size_t alignment) {
  assert(alignment != 0 && (alignment & (alignment - 1)) == 0 &&
         alignment <= alignof(std::max_align_t));
  // Chunks start at an address aligned for anything, so the padding in
  // front of a piece follows from its offset in the current chunk (a mask,
  // the alignment being a power of two, where a remainder would divide).
  size_t pad = (0 - (kChunkBytes - left_)) & (alignment - 1);
  if (pad + bytes > left_) {
    // Large pieces get a chunk of their own so the current one keeps its
    // free space.
    const bool own = bytes > kChunkBytes / 4;
    const size_t size = own ? bytes : kChunkBytes;
    // Owned before it is filed: if the list of chunks cannot grow, the
    // chunk is freed again rather than lost.
    std::unique_ptr<char[]> chunk(new char[size]);
    chunks_.push_back(Chunk{std::move(chunk), size});
    held_ += size;
    if (own) return chunks_.back().bytes.get();
    next_ = chunks_.back().bytes.get();
    left_ = kChunkBytes;
    pad = 0;
  }
  void* piece = next_ + pad;
  next_ += pad + bytes;
  left_ -= pad + bytes;
  return piece;
}

uint32_t RuleArena::refOf(const void* piece) const {
  const char* p = static_cast<const char*>(piece);
  for (size_t i = chunks_.size(); i-- > 0;) {
    // Chunks come from separate allocations, so compare as integers.
    const auto address = reinterpret_cast<uintptr_t>(p);
    const auto start = reinterpret_cast<uintptr_t>(chunks_[i].bytes.get());
    if (address < start || address - start >= chunks_[i].size) continue;
    if (i >= kMaxChunks) throw std::bad_alloc();
    return static_cast<uint32_t>(i << kOffsetBits | (address - start));
  }
  throw std::bad_alloc();  // not a piece of this arena: excluded by REQUIRES
}

void RuleArena::release() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  next_ = nullptr;
  left_ = 0;
  held_ = 0;
}

}  // namespace quibex
