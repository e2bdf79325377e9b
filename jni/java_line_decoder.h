// JavaLineDecoder: the engine's line decoder backed by the Java bridge. Each
// rule file is read with a Java environment acquired for the loading thread
// and Codec.decrypt looked up once; each line is deciphered by it.
#ifndef QUIBEX_JNI_JAVA_LINE_DECODER_H_
#define QUIBEX_JNI_JAVA_LINE_DECODER_H_

#include <jni.h>

#include <optional>
#include <string>
#include <string_view>

#include "engine/line_decoder.h"
#include "jni/java_bridge.h"

namespace quibex {

// beginFile = acquireEnv and a LineDecrypter for the file, decryptLine =
// its decryptLine (straight into the loader's buffer), endFile = the
// LineDecrypter dropped, then releaseEnv.
//
// Thread-safety: as LineDecoder: one file at a time, each file on one
// thread (the engine's loads are serialised by its mutex).
class JavaLineDecoder final : public LineDecoder {
 public:
  JavaLineDecoder() = default;
  JavaLineDecoder(const JavaLineDecoder&) = delete;
  JavaLineDecoder& operator=(const JavaLineDecoder&) = delete;

  void beginFile() override;
  bool decryptLine(std::string_view line, std::string* plain) override;
  void endFile() override;

 private:
  std::optional<LineDecrypter> lines_;  // the current file's, while attached
};

// The decoder the natives hand to getFilterEngine. It is never destroyed,
// since a load thread may still be using it while the process exits.
JavaLineDecoder& theJavaDecoder();

}  // namespace quibex

#endif  // QUIBEX_JNI_JAVA_LINE_DECODER_H_
