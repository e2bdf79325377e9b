// The native methods unrelated to filtering: service start-up (the proxy
// override) and the embedded keystore image.
#include "jni/cert_bytes.h"
#include "jni/natives.h"
#include "jni/proxy_override.h"

extern "C" JNIEXPORT jint JNICALL
Java_com_mirabo_android_talvino_LuService_init(JNIEnv* /*env*/,
                                               jclass /*clazz*/) {
  return quibex::applyProxyOverride(quibex::kProxyOverridePath);
}

extern "C" JNIEXPORT jbyteArray JNICALL
Java_com_mirabo_android_talvino_JReq_getCert(JNIEnv* env, jclass /*clazz*/) {
  const jsize length = static_cast<jsize>(quibex::certBytesSize);
  const jbyteArray array = env->NewByteArray(length);
  if (array == nullptr) {
    env->ExceptionClear();  // OutOfMemoryError
    return nullptr;
  }
  env->SetByteArrayRegion(array, 0, length,
                          reinterpret_cast<const jbyte*>(quibex::certBytes));
  return array;
}
