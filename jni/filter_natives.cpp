// The native methods that drive the filter engine: starting loads and
// reloads of the rule files, and the two questions. Each converts its Java
// arguments, calls the engine through FilterEngine and converts the answer.
// The questions, asked for every proxied request, convert their arguments
// into buffers that the calling thread keeps from one question to the next,
// so that a question allocates nothing on the native heap.
#include <pthread.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/filter_engine.h"
#include "jni/java_line_decoder.h"
#include "jni/jni_refs.h"
#include "jni/natives.h"

namespace quibex {

namespace {

// Set once the first load or reload was started; never reset. Until then
// the questions are answered without creating the engine.
std::atomic<bool> rulesReady{false};

FilterEngine& engine() { return *getFilterEngine(theJavaDecoder()); }

// The string arguments of one question, converted into buffers that belong
// to the calling thread: a proxy thread asks thousands of questions, and
// once the buffers have room for its longest arguments no question
// allocates. A null argument is converted to "".
//
// Thread-safety: each thread has buffers of its own. REQUIRES: at most one
// instance at a time per thread (the questions never call back into Java,
// so they cannot nest).
class ThreadArguments {
 public:
  ThreadArguments() : buffers_(threadBuffers()) {}
  // Gives back the room a huge argument took, so that a thread does not
  // keep megabytes for the rest of its life after one such question.
  ~ThreadArguments() {
    for (std::string& buffer : buffers_) {
      if (buffer.capacity() > kKeptBytes) std::string().swap(buffer);
    }
  }
  ThreadArguments(const ThreadArguments&) = delete;
  ThreadArguments& operator=(const ThreadArguments&) = delete;

  // Converts string into argument buffer i and returns it; the reference
  // is valid until this object is destroyed. REQUIRES: i < kArguments.
  // May throw bad_alloc.
  const std::string& convert(size_t i, JNIEnv* env, jstring string) {
    copyJavaString(env, string, &buffers_[i]);
    return buffers_[i];
  }

 private:
  static constexpr size_t kArguments = 3;  // getSelectorsForDomain's three
  static constexpr size_t kKeptBytes = 8 * 1024;
  using Buffers = std::array<std::string, kArguments>;

  // The calling thread's buffers, freed when the thread ends. Kept under a
  // POSIX thread key rather than in a thread_local: Android's C library
  // offers native TLS only from API level 29, and the key works at every
  // level. Throws bad_alloc when the buffers cannot be made.
  static Buffers& threadBuffers() {
    static const ThreadKey key;
    if (!key.ok()) throw std::bad_alloc();
    if (void* held = pthread_getspecific(key.get())) {
      return *static_cast<Buffers*>(held);
    }
    std::unique_ptr<Buffers> made(new Buffers());
    if (pthread_setspecific(key.get(), made.get()) != 0) {
      throw std::bad_alloc();
    }
    return *made.release();
  }

  // The key, made once; its destructor frees a thread's buffers.
  class ThreadKey {
   public:
    ThreadKey() {
      ok_ = pthread_key_create(&key_, [](void* buffers) {
              delete static_cast<Buffers*>(buffers);
            }) == 0;
    }
    ThreadKey(const ThreadKey&) = delete;
    ThreadKey& operator=(const ThreadKey&) = delete;
    bool ok() const { return ok_; }
    pthread_key_t get() const { return key_; }

   private:
    pthread_key_t key_{};  // the key; never deleted
    bool ok_ = false;      // whether the key was made
  };

  Buffers& buffers_;  // the calling thread's buffers
};

// The global reference to java.lang.String, made on first use (once, even
// when two threads arrive together) and kept for the life of the process.
// Null if the class could not be found.
jclass stringClass(JNIEnv* env) {
  static const jclass stringClassRef = [env]() -> jclass {
    // The local reference is left for the VM to free when the native
    // returns.
    const jclass local = env->FindClass("java/lang/String");
    if (local == nullptr) {
      env->ExceptionClear();
      return nullptr;
    }
    const jclass global = static_cast<jclass>(env->NewGlobalRef(local));
    if (global == nullptr) env->ExceptionClear();
    return global;
  }();
  return stringClassRef;
}

// A String[] of the selectors in order, or null (with no exception left
// pending) when the VM cannot make it.
jobjectArray toStringArray(JNIEnv* env,
                           const std::vector<std::string>& selectors) {
  const jclass stringClassRef = stringClass(env);
  if (stringClassRef == nullptr) return nullptr;
  LocalRef<jobjectArray> array(
      env, env->NewObjectArray(static_cast<jsize>(selectors.size()),
                               stringClassRef, nullptr));
  if (!array) {
    env->ExceptionClear();  // OutOfMemoryError
    return nullptr;
  }
  for (size_t i = 0; i < selectors.size(); ++i) {
    const LocalRef<jstring> selector(env,
                                     env->NewStringUTF(selectors[i].c_str()));
    if (!selector) {
      env->ExceptionClear();
      return nullptr;
    }
    env->SetObjectArrayElement(array.get(), static_cast<jsize>(i),
                               selector.get());
  }
  return array.release();
}

// initADRules and updateADRules: convert the paths, start the (re)load,
// mark rules as requested.
void startLoad(JNIEnv* env, jstring firstPath, jstring secondPath,
               bool reload) noexcept {
  try {
    const std::string first = jstringToString(env, firstPath);
    const std::string second = jstringToString(env, secondPath);
    if (reload) {
      engine().reloadRules(first, second);
    } else {
      engine().loadRules(first, second);
    }
    rulesReady = true;
  } catch (...) {
    // Out of memory: nothing was started; nothing may reach Java.
  }
}

}  // namespace

}  // namespace quibex

extern "C" JNIEXPORT void JNICALL
Java_com_mirabo_android_talvino_LuService_initADRules(JNIEnv* env,
                                                      jclass /*clazz*/,
                                                      jstring firstPath,
                                                      jstring secondPath) {
  quibex::startLoad(env, firstPath, secondPath, /*reload=*/false);
}

extern "C" JNIEXPORT void JNICALL
Java_com_mirabo_android_talvino_LuService_updateADRules(JNIEnv* env,
                                                        jclass /*clazz*/,
                                                        jstring firstPath,
                                                        jstring secondPath) {
  quibex::startLoad(env, firstPath, secondPath, /*reload=*/true);
}

extern "C" JNIEXPORT jboolean JNICALL
Java_com_mirabo_handler_DefaultRequestHandler_shouldADBlock(JNIEnv* env,
                                                            jobject /*self*/,
                                                            jstring url,
                                                            jstring pageUrl) {
  if (!quibex::rulesReady) return JNI_FALSE;
  try {
    quibex::ThreadArguments arguments;
    const std::string& request = arguments.convert(0, env, url);
    const std::string& page = arguments.convert(1, env, pageUrl);
    return quibex::engine().shouldBlock(request, page) != 0 ? JNI_TRUE
                                                            : JNI_FALSE;
  } catch (...) {
    return JNI_FALSE;
  }
}

extern "C" JNIEXPORT jobjectArray JNICALL
Java_com_mirabo_handler_DefaultRequestHandler_getSelectorsForDomain(
    JNIEnv* env, jobject /*self*/, jstring pageAddress, jstring documentUrl,
    jstring referrerUrl) {
  if (!quibex::rulesReady) return nullptr;
  try {
    quibex::ThreadArguments arguments;
    const std::string& page = arguments.convert(0, env, pageAddress);
    const std::string& document = arguments.convert(1, env, documentUrl);
    const std::string& referrer = arguments.convert(2, env, referrerUrl);
    const std::vector<std::string> selectors =
        quibex::engine().getSelectors(page, document, referrer);
    if (selectors.empty()) return nullptr;
    return quibex::toStringArray(env, selectors);
  } catch (...) {
    return nullptr;
  }
}
