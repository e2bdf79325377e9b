// The Java-backed line decoder; see java_line_decoder.h.
#include "jni/java_line_decoder.h"

#include "jni/java_bridge.h"

namespace quibex {

void JavaLineDecoder::beginFile() { env_ = acquireEnv(); }

bool JavaLineDecoder::decryptLine(std::string_view line, std::string* plain) {
  const UniqueText text(quibex::decryptLine(env_, line.data()));
  if (text == nullptr) return false;
  plain->assign(text.get());
  return true;
}

void JavaLineDecoder::endFile() {
  releaseEnv();
  env_ = nullptr;
}

JavaLineDecoder& theJavaDecoder() {
  static JavaLineDecoder& decoder = *new JavaLineDecoder();
  return decoder;
}

}  // namespace quibex
