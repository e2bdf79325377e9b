// The load hook and the bridge back into Java; see java_bridge.h.
#include "jni/java_bridge.h"

#include <atomic>

#include "jni/jni_refs.h"
#include "jni/modified_utf8.h"
#include "jni/natives.h"
#include "jni/signal_stubs.h"

namespace quibex {

namespace {

// The VM that loaded the library; set once by JNI_OnLoad.
JavaVM* cachedVm = nullptr;
// Global reference to Codec, set once by JNI_OnLoad and never deleted; null
// when the class could not be found.
jclass codecClassRef = nullptr;
// True while a thread attached by acquireEnv has not been detached by
// releaseEnv.
std::atomic<bool> attachedByBridge{false};

}  // namespace

JNIEnv* acquireEnv() noexcept {
  if (cachedVm == nullptr) return nullptr;
  JNIEnv* env = nullptr;
  if (cachedVm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4) >= 0) {
    return env;
  }
  if (cachedVm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) <
      0) {
    return nullptr;
  }
  attachedByBridge = true;
  return env;
}

void releaseEnv() noexcept {
  if (!attachedByBridge) return;
  cachedVm->DetachCurrentThread();
  attachedByBridge = false;
}

jmethodID findDecrypt(JNIEnv* env) noexcept {
  if (env == nullptr || codecClassRef == nullptr) return nullptr;
  const jmethodID decrypt =
      env->GetStaticMethodID(codecClassRef, kDecryptMethod, kDecryptSignature);
  if (decrypt == nullptr) env->ExceptionClear();  // NoSuchMethodError
  return decrypt;
}

bool decryptLine(JNIEnv* env, jmethodID decrypt, const char* line,
                 std::string* plain) {
  if (env == nullptr || decrypt == nullptr) return false;
  // NewStringUTF needs modified UTF-8: anything else aborts the Android
  // runtime under JNI checking and is garbled by a desktop VM.
  if (!isModifiedUtf8(line)) return false;
  LocalRef<jstring> argument(env, env->NewStringUTF(line));
  if (!argument) {
    env->ExceptionClear();  // OutOfMemoryError
    return false;
  }
  const LocalRef<jstring> result(
      env, static_cast<jstring>(env->CallStaticObjectMethod(
               codecClassRef, decrypt, argument.get())));
  if (env->ExceptionCheck()) {
    // Whatever decrypt threw, the line counts as undecipherable.
    env->ExceptionClear();
    return false;
  }
  argument.reset();
  if (!result) return false;
  // The same bytes GetStringUTFChars would give, without the VM's own copy
  // of them and without a copy of ours.
  copyJavaString(env, result.get(), plain);
  return !plain->empty();
}

}  // namespace quibex

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void* /*reserved*/) {
  quibex::cachedVm = vm;
  quibex::installSignalStubs();
  JNIEnv* env = nullptr;
  if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4) != JNI_OK) {
    env = nullptr;
  }
  if (env == nullptr) return JNI_VERSION_1_4;
  // Without the class the library still loads; every rule line is then
  // undecipherable and the engine answers with no rules.
  quibex::LocalRef<jclass> codec(env, env->FindClass(quibex::kCodecClass));
  if (!codec) {
    env->ExceptionClear();  // NoClassDefFoundError
    return JNI_VERSION_1_4;
  }
  quibex::codecClassRef = static_cast<jclass>(env->NewGlobalRef(codec.get()));
  if (quibex::codecClassRef == nullptr) env->ExceptionClear();
  return JNI_VERSION_1_4;
}
