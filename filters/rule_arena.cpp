// Chunked bump allocation; see rule_arena.h.
#include "filters/rule_arena.h"

#include <cassert>
#include <cstddef>
#include <utility>

namespace quibex {

void* RuleArena::allocate(size_t bytes, size_t alignment) {
  assert(alignment != 0 && (alignment & (alignment - 1)) == 0 &&
         alignment <= alignof(std::max_align_t));
  // Chunks start at an address aligned for anything, so the padding in
  // front of a piece follows from its offset in the current chunk.
  size_t pad = (alignment - (kChunkBytes - left_) % alignment) % alignment;
  if (pad + bytes > left_) {
    // Large pieces get a chunk of their own so the current one keeps its
    // free space.
    const bool own = bytes > kChunkBytes / 4;
    const size_t size = own ? bytes : kChunkBytes;
    // Owned before it is filed: if the list of chunks cannot grow, the
    // chunk is freed again rather than lost.
    std::unique_ptr<char[]> chunk(new char[size]);
    chunks_.push_back(std::move(chunk));
    held_ += size;
    if (own) return chunks_.back().get();
    next_ = chunks_.back().get();
    left_ = kChunkBytes;
    pad = 0;
  }
  void* piece = next_ + pad;
  next_ += pad + bytes;
  left_ -= pad + bytes;
  return piece;
}

void RuleArena::release() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  next_ = nullptr;
  left_ = 0;
  held_ = 0;
}

}  // namespace quibex
