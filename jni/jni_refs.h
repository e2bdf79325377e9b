// Scoped holders for JNI resources: local references and the characters of
// a Java string, and the conversions of a Java string to a byte string.
#ifndef QUIBEX_JNI_JNI_REFS_H_
#define QUIBEX_JNI_JNI_REFS_H_

#include <jni.h>

#include <string>

namespace quibex {

// Owns one JNI local reference and deletes it with DeleteLocalRef when it
// goes out of scope or on reset(). A null reference is never deleted.
//
// Thread-safety: like the JNIEnv it holds, usable only on its own thread.
template <typename T>
class LocalRef {
 public:
  // REQUIRES: env is the calling thread's environment.
  LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
  ~LocalRef() { reset(); }
  LocalRef(const LocalRef&) = delete;
  LocalRef& operator=(const LocalRef&) = delete;

  T get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }

  // Deletes the reference now.
  void reset() {
    if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    ref_ = nullptr;
  }
  // Gives the reference up without deleting it (to return it to Java).
  T release() {
    T ref = ref_;
    ref_ = nullptr;
    return ref;
  }

 private:
  JNIEnv* env_;  // the environment the reference belongs to
  T ref_;        // the reference, or null
};

// A local reference frame (PushLocalFrame): every local reference made on
// its thread while it is open is deleted, all at once, when it is closed:
// by close(), by the next open(), or when this object goes out of scope.
// Cheaper than a DeleteLocalRef per reference when many are made in a row.
//
// Thread-safety: usable only on the thread of env.
class LocalFrame {
 public:
  // Opens nothing yet. REQUIRES: env is null or the calling thread's
  // environment; with a null env, open() always fails.
  explicit LocalFrame(JNIEnv* env) : env_(env) {}
  ~LocalFrame() { close(); }
  LocalFrame(const LocalFrame&) = delete;
  LocalFrame& operator=(const LocalFrame&) = delete;

  // Closes the open frame, if any, and opens a new one with room for
  // capacity references. False, with the VM's OutOfMemoryError cleared,
  // when the VM cannot give that room (then no frame is open).
  bool open(jint capacity);
  // Closes the open frame, if any.
  void close();
  bool isOpen() const { return open_; }

 private:
  JNIEnv* env_;        // the environment of the frame
  bool open_ = false;  // whether a frame pushed here is still open
};

// The modified UTF-8 characters of a Java string, from GetStringUTFChars,
// given back with ReleaseStringUTFChars when it goes out of scope. When the
// string is null, or the VM cannot provide the characters, get() is null
// (and the VM's pending OutOfMemoryError has been cleared).
//
// Thread-safety: usable only on the thread of env.
class UtfChars {
 public:
  // REQUIRES: env is the calling thread's environment; string is null or a
  // valid reference that outlives this object.
  UtfChars(JNIEnv* env, jstring string);
  ~UtfChars();
  UtfChars(const UtfChars&) = delete;
  UtfChars& operator=(const UtfChars&) = delete;

  // NUL-terminated; valid until this object is destroyed.
  const char* get() const { return chars_; }
  explicit operator bool() const { return chars_ != nullptr; }

 private:
  JNIEnv* env_;        // the environment of the string
  jstring string_;     // the string the characters belong to
  const char* chars_;  // the characters, or null
};

// The bytes of a Java string in modified UTF-8, up to their NUL. A null
// string, or one whose characters cannot be obtained, gives "".
// REQUIRES: env is the calling thread's environment. May throw bad_alloc.
std::string jstringToString(JNIEnv* env, jstring string);

// Replaces the contents of *out with the same bytes as jstringToString
// (modified UTF-8 has no NUL byte, so that is the whole string), copied by
// the VM (GetStringUTFRegion) straight into *out's own storage: a buffer
// reused call after call allocates nothing once it has room for three
// bytes per UTF-16 unit of the longest string. A null string leaves *out
// empty. Two calls into the VM: asking it for the exact length as well is
// twice as slow on a desktop VM.
// REQUIRES: env is the calling thread's environment. May throw bad_alloc
// (when *out must grow).
void copyJavaString(JNIEnv* env, jstring string, std::string* out);

}  // namespace quibex

#endif  // QUIBEX_JNI_JNI_REFS_H_
