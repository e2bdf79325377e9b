// The Java-backed line decoder; see java_line_decoder.h.
#include "jni/java_line_decoder.h"

#include "jni/java_bridge.h"

namespace quibex {

void JavaLineDecoder::beginFile() {
  env_ = acquireEnv();
  decrypt_ = findDecrypt(env_);
}

bool JavaLineDecoder::decryptLine(std::string_view line, std::string* plain) {
  return quibex::decryptLine(env_, decrypt_, line.data(), plain);
}

void JavaLineDecoder::endFile() {
  releaseEnv();
  env_ = nullptr;
  decrypt_ = nullptr;
}

JavaLineDecoder& theJavaDecoder() {
  static JavaLineDecoder& decoder = *new JavaLineDecoder();
  return decoder;
}

}  // namespace quibex
