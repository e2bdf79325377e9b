// The scoped JNI holders; see jni_refs.h.
#include "jni/jni_refs.h"

#include <cstring>

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

bool LocalFrame::open(jint capacity) {
  close();
  if (env_ == nullptr) return false;
  if (env_->PushLocalFrame(capacity) != 0) {
    env_->ExceptionClear();  // OutOfMemoryError
    return false;
  }
  open_ = true;
  return true;
}

void LocalFrame::close() {
  if (open_) env_->PopLocalFrame(nullptr);
  open_ = false;
}

std::string jstringToString(JNIEnv* env, jstring string) {
  const UtfChars chars(env, string);
  return chars ? std::string(chars.get()) : std::string();
}

void copyJavaString(JNIEnv* env, jstring string, std::string* out) {
  out->clear();
  if (string == nullptr) return;
  const jsize length = env->GetStringLength(string);  // UTF-16 units
  if (length <= 0) return;
  // Each UTF-16 unit takes at most three bytes. The VM need not end what it
  // writes with a NUL, so the room must be all NUL bytes first, as resize
  // makes it after clear(); modified UTF-8 holds no NUL byte, so the first
  // one marks the end.
  out->resize(3 * static_cast<size_t>(length));
  // Whole-string bounds cannot be out of range, so this cannot throw.
  env->GetStringUTFRegion(string, 0, length, &(*out)[0]);
  out->resize(std::strlen(out->c_str()));
}

}  // namespace quibex
