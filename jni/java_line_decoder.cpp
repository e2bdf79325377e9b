// The Java-backed line decoder; see java_line_decoder.h.
#include "jni/java_line_decoder.h"

namespace quibex {

void JavaLineDecoder::beginFile() { lines_.emplace(acquireEnv()); }

bool JavaLineDecoder::decryptLine(std::string_view line, std::string* plain) {
  return lines_->decryptLine(line.data(), plain);
}

void JavaLineDecoder::endFile() {
  // The decrypter's references go before the thread may be detached.
  lines_.reset();
  releaseEnv();
}

JavaLineDecoder& theJavaDecoder() {
  static JavaLineDecoder& decoder = *new JavaLineDecoder();
  return decoder;
}

}  // namespace quibex
