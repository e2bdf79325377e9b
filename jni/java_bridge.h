// JavaBridge: how native code on its own threads reaches back into the Java
// VM that loaded the library. It keeps the VM and the host application's
// class Codec (both cached by JNI_OnLoad), gives a native thread a JNIEnv
// (attaching it when needed) and takes it back, and deciphers one rule line
// by calling the static Java method Codec.decrypt.
//
// Its only client is the rule loader (through JavaLineDecoder), which runs
// on one loading thread at a time and pairs each acquireEnv with a
// releaseEnv on the same thread. Loading calls into Java once per stored
// line, so that path does as little per line as it can: decrypt is looked up
// once per file, and its answer is copied straight into the loader's own
// line buffer, with no heap allocation once that buffer has grown.
#ifndef QUIBEX_JNI_JAVA_BRIDGE_H_
#define QUIBEX_JNI_JAVA_BRIDGE_H_

#include <jni.h>

#include <string>

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

// The static method Codec.decrypt(String), looked up in the class cached by
// JNI_OnLoad; null when env is null, the class is missing or it has no such
// method (the NoSuchMethodError is cleared). The ID stays valid for the life
// of the process, since the class is held by a global reference; the loader
// looks it up once per file.
// REQUIRES: env is null or the calling thread's environment.
jmethodID findDecrypt(JNIEnv* env) noexcept;

// Deciphers one stored rule line through Codec.decrypt and stores the
// answer's modified UTF-8 bytes in *plain, reusing its storage. Returns
// false (with *plain unspecified) when env or decrypt is null, the line is
// not valid modified UTF-8 (then Java is not called at all), the VM cannot
// make the argument string, Codec.decrypt throws (the exception is cleared
// at once) or returns null or "". No Java exception is left pending, and no
// local reference outlives the call.
// REQUIRES: env is null or the calling thread's environment; decrypt is null
// or findDecrypt's answer; line is NUL-terminated (it is taken up to its
// first NUL). May throw bad_alloc, only when *plain must grow.
bool decryptLine(JNIEnv* env, jmethodID decrypt, const char* line,
                 std::string* plain);

}  // namespace quibex

#endif  // QUIBEX_JNI_JAVA_BRIDGE_H_
