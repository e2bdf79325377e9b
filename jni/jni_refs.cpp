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

void copyJavaString(JNIEnv* env, jstring string, std::string* out) {
  out->clear();
  if (string == nullptr) return;
  const jsize length = env->GetStringLength(string);  // UTF-16 units
  const jsize bytes = env->GetStringUTFLength(string);
  if (length <= 0 || bytes <= 0) return;
  // resize() leaves room for the terminating NUL behind the bytes, which
  // the VM may write as well.
  out->resize(static_cast<size_t>(bytes));
  env->GetStringUTFRegion(string, 0, length, &(*out)[0]);
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    out->clear();
  }
}

}  // namespace quibex
