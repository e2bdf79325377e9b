// Chunked bump allocation; see rule_arena.h.
#include "filters/rule_arena.h"

namespace quibex {

void* RuleArena::allocate(size_t bytes) {
  bytes = (bytes + 7) & ~size_t{7};
  if (bytes > left_) {
    // Large pieces get a chunk of their own so the current one keeps its
    // free space.
    if (bytes > kChunkBytes / 4) {
      chunks_.emplace_back(new char[bytes]);
      held_ += bytes;
      return chunks_.back().get();
    }
    chunks_.emplace_back(new char[kChunkBytes]);
    held_ += kChunkBytes;
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
