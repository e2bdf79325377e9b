// JavaBridge: how native code on its own threads reaches back into the Java
// VM that loaded the library. It keeps the VM and the host application's
// class Codec (both cached by JNI_OnLoad), gives a native thread a JNIEnv
// (attaching it when needed) and takes it back, and deciphers one rule line
// by calling the static Java method Codec.decrypt.
//
// Its only client is the rule loader (through JavaLineDecoder), which runs
// on one loading thread at a time and pairs each acquireEnv with a
// releaseEnv on the same thread. Loading calls into Java once per stored
// line, so that path does as little per line as it can (see LineDecrypter).
#ifndef QUIBEX_JNI_JAVA_BRIDGE_H_
#define QUIBEX_JNI_JAVA_BRIDGE_H_

#include <jni.h>

#include <string>

#include "jni/jni_refs.h"

namespace quibex {

// The JNI name of the class that deciphers rule lines, and its method.
inline constexpr char kCodecClass[] = "com/mirabo/android/talvino/Codec";
inline constexpr char kDecryptMethod[] = "decrypt";
inline constexpr char kDecryptSignature[] =
    "(Ljava/lang/String;)Ljava/lang/String;";

// The environment of the calling thread: its own when it is already
// attached to the VM, otherwise the calling thread is attached (and remembered
// as attached by the bridge). Null when there is no VM or attaching fails.
// REQUIRES: JNI_OnLoad has run. Not for concurrent use from two threads
// (the attached flag is one for the whole process).
JNIEnv* acquireEnv() noexcept;

// Detaches the calling thread if acquireEnv attached it; otherwise does
// nothing. A thread that was attached before acquireEnv stays attached.
// REQUIRES: called on the thread that called acquireEnv.
void releaseEnv() noexcept;

// Deciphers the stored lines of one rule file through Codec.decrypt, as
// cheaply per line as one call into Java allows:
//   - decrypt is looked up once, when this object is made (its ID stays
//     valid as long as the class, which a global reference holds);
//   - the answer's modified UTF-8 bytes are copied by the VM straight into
//     the caller's buffer, reusing its storage: no heap allocation per line
//     once that buffer has room for the longest line;
//   - the two local references of a line (the line as a Java string and the
//     answer) are not deleted one by one: they go with a local reference
//     frame that is dropped whole every kLinesPerFrame lines and when this
//     object goes away.
//
// Thread-safety: usable only on the thread of its environment, which must
// stay attached while this object lives.
class LineDecrypter {
 public:
  // Looks decrypt up in the class cached by JNI_OnLoad. When env is null,
  // the class is missing or it has no such method (the NoSuchMethodError
  // is cleared), every line is undecipherable.
  // REQUIRES: env is null or the calling thread's environment.
  explicit LineDecrypter(JNIEnv* env) noexcept;
  LineDecrypter(const LineDecrypter&) = delete;
  LineDecrypter& operator=(const LineDecrypter&) = delete;

  // Deciphers one stored line and stores the answer's bytes in *plain.
  // Returns false (with *plain unspecified) when there is no decrypt, the
  // line is not valid modified UTF-8 (then Java is not called at all), the
  // VM runs out of memory, Codec.decrypt throws (the exception is cleared
  // at once) or returns null or "". No Java exception is left pending.
  // REQUIRES: line is NUL-terminated (it is taken up to its first NUL).
  // May throw bad_alloc, only when *plain must grow.
  bool decryptLine(const char* line, std::string* plain);

 private:
  // Lines per local reference frame: two references each, well within the
  // 512 local references that older Android runtimes allow a thread.
  static constexpr jint kLinesPerFrame = 32;

  JNIEnv* env_;            // the loading thread's environment, or null
  jmethodID decrypt_;      // Codec.decrypt, or null when unavailable
  LocalFrame frame_;       // holds the references of the recent lines
  jint linesInFrame_ = 0;  // lines whose references frame_ holds
};

}  // namespace quibex

#endif  // QUIBEX_JNI_JAVA_BRIDGE_H_
