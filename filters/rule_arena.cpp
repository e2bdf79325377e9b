// Chunked bump allocation; see rule_arena.h.
#include "filters/rule_arena.h"

#include <utility>

namespace quibex {

void* RuleArena::allocate(size_t bytes) {
  bytes = (bytes + 7) & ~size_t{7};
  if (bytes > left_) {
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
  }
  void* piece = next_;
  next_ += bytes;
  left_ -= bytes;
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
