// JavaBridge: how native code on its own threads reaches back into the Java
// VM that loaded the library. It keeps the VM and the host application's
// class Codec (both cached by JNI_OnLoad), gives a native thread a JNIEnv
// (attaching it when needed) and takes it back, and deciphers one rule line
// by calling the static Java method Codec.decrypt.
//
// Its only client is the rule loader (through JavaLineDecoder), which runs
// on one loading thread at a time and pairs each acquireEnv with a
// releaseEnv on the same thread.
#ifndef QUIBEX_JNI_JAVA_BRIDGE_H_
#define QUIBEX_JNI_JAVA_BRIDGE_H_

#include <jni.h>
#include <stdlib.h>

#include <memory>

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

// Deciphers one stored rule line through Codec.decrypt. Returns the plain
// text as a strdup copy, which the caller frees with free(), or null when
// env is null, the class or its method is missing, the line is not valid
// modified UTF-8 (then Java is not called at all), Codec.decrypt throws
// (the exception is cleared at once) or returns null or "", or memory runs
// out. No Java exception is left pending.
// REQUIRES: env is null or the calling thread's environment; line is
// NUL-terminated.
char* decryptLine(JNIEnv* env, const char* line) noexcept;

// Frees heap text handed over by decryptLine.
struct FreeDeleter {
  void operator()(char* text) const { free(text); }
};
using UniqueText = std::unique_ptr<char, FreeDeleter>;

}  // namespace quibex

#endif  // QUIBEX_JNI_JAVA_BRIDGE_H_
