// The load hook and the bridge back into Java; see java_bridge.h.
#include "jni/java_bridge.h"

#include <atomic>

#include "engine/log.h"
#include "engine/thread_launcher.h"

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
  // The loading thread shows up in the VM under the name of its native
  // thread.
  JavaVMAttachArgs arguments{JNI_VERSION_1_4,
                             const_cast<char*>(kLoadThreadName), nullptr};
  if (cachedVm->AttachCurrentThread(reinterpret_cast<void**>(&env),
                                    &arguments) < 0) {
    logMessage(LogPriority::kError,
               "the %s thread could not attach to the Java VM: no rule of "
               "this file can be deciphered",
               kLoadThreadName);
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

LineDecrypter::LineDecrypter(JNIEnv* env) noexcept
    : env_(env), decrypt_(nullptr), frame_(env) {
  if (env == nullptr || codecClassRef == nullptr) return;
  decrypt_ =
      env->GetStaticMethodID(codecClassRef, kDecryptMethod, kDecryptSignature);
  if (decrypt_ == nullptr) env->ExceptionClear();  // NoSuchMethodError
}

bool LineDecrypter::decryptLine(const char* line, std::string* plain) {
  if (decrypt_ == nullptr) return false;
  // NewStringUTF needs modified UTF-8: anything else aborts the Android
  // runtime under JNI checking and is garbled by a desktop VM.
  if (!isModifiedUtf8(line)) return false;
  if (!frame_.isOpen() || linesInFrame_ == kLinesPerFrame) {
    // Drops the references of the previous lines all at once.
    if (!frame_.open(2 * kLinesPerFrame)) return false;
    linesInFrame_ = 0;
  }
  ++linesInFrame_;
  const jstring argument = env_->NewStringUTF(line);
  if (argument == nullptr) {
    env_->ExceptionClear();  // OutOfMemoryError
    return false;
  }
  const jstring result = static_cast<jstring>(
      env_->CallStaticObjectMethod(codecClassRef, decrypt_, argument));
  if (env_->ExceptionCheck()) {
    // Whatever decrypt threw, the line counts as undecipherable.
    env_->ExceptionClear();
    return false;
  }
  if (result == nullptr) return false;
  // The same bytes GetStringUTFChars would give, without the VM's own copy
  // of them and without a copy of ours.
  copyJavaString(env_, result, plain);
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
    quibex::logMessage(quibex::LogPriority::kError,
                       "class %s not found: no rule will be loaded; check "
                       "that the app's keep rules (R8/ProGuard) keep it",
                       quibex::kCodecClass);
    return JNI_VERSION_1_4;
  }
  // Checked here only to tell the developer at once; each file looks it up
  // again.
  if (env->GetStaticMethodID(codec.get(), quibex::kDecryptMethod,
                             quibex::kDecryptSignature) == nullptr) {
    env->ExceptionClear();  // NoSuchMethodError
    quibex::logMessage(quibex::LogPriority::kError,
                       "static String decrypt(String) not found in class %s: "
                       "no rule will be loaded; check that the app's keep "
                       "rules (R8/ProGuard) keep it",
                       quibex::kCodecClass);
  }
  quibex::codecClassRef = static_cast<jclass>(env->NewGlobalRef(codec.get()));
  if (quibex::codecClassRef == nullptr) env->ExceptionClear();
  return JNI_VERSION_1_4;
}
