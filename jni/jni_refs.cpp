// The scoped JNI holders; see jni_refs.h.
#include "jni/jni_refs.h"

namespace quibex {

UtfChars::UtfChars(JNIEnv* env, jstring string)
    : env_(env), string_(string), chars_(nullptr) {
  if (string == nullptr) return;
  chars_ = env->GetStringUTFChars(string, nullptr);
  // A failed conversion leaves an OutOfMemoryError pending; no exception
  // may reach Java, and further JNI calls need it cleared.
  if (chars_ == nullptr) env->ExceptionClear();
}

UtfChars::~UtfChars() {
  if (chars_ != nullptr) env_->ReleaseStringUTFChars(string_, chars_);
}

std::string jstringToString(JNIEnv* env, jstring string) {
  const UtfChars chars(env, string);
  return chars ? std::string(chars.get()) : std::string();
}

}  // namespace quibex
