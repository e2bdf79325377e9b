// The library's exported functions: the load hook and the native methods
// the Java VM binds by name. These seven are the only symbols the library
// exports (see exports.map). None of them throws a Java exception or lets a
// C++ exception out.
#ifndef QUIBEX_JNI_NATIVES_H_
#define QUIBEX_JNI_NATIVES_H_

#include <jni.h>

extern "C" {

// Called once by the VM when it loads the library: caches the VM, installs
// the signal stubs and keeps a global reference to Codec. Returns
// JNI_VERSION_1_4, also when Codec cannot be found.
JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void* reserved);

// static void LuService.initADRules(String first, String second): starts
// loading both rule files on a background thread, adding to the rules in
// place. Returns at once.
JNIEXPORT void JNICALL Java_com_mirabo_android_talvino_LuService_initADRules(
    JNIEnv* env, jclass clazz, jstring firstPath, jstring secondPath);

// static void LuService.updateADRules(String first, String second): starts
// replacing all rules with those of both files on a background thread.
// Returns at once; until the thread runs, queries see the old rules.
JNIEXPORT void JNICALL Java_com_mirabo_android_talvino_LuService_updateADRules(
    JNIEnv* env, jclass clazz, jstring firstPath, jstring secondPath);

// boolean DefaultRequestHandler.shouldADBlock(String url, String pageUrl):
// true when the request is to be blocked; false before any rules were
// requested and while a load runs. pageUrl may be null.
JNIEXPORT jboolean JNICALL
Java_com_mirabo_handler_DefaultRequestHandler_shouldADBlock(JNIEnv* env,
                                                            jobject self,
                                                            jstring url,
                                                            jstring pageUrl);

// String[] DefaultRequestHandler.getSelectorsForDomain(String pageAddress,
// String documentUrl, String referrerUrl): the element-hiding selectors of
// the page in the engine's order, or null when there are none (never an
// empty array). referrerUrl may be null.
JNIEXPORT jobjectArray JNICALL
Java_com_mirabo_handler_DefaultRequestHandler_getSelectorsForDomain(
    JNIEnv* env, jobject self, jstring pageAddress, jstring documentUrl,
    jstring referrerUrl);

// static int LuService.init(): applies the proxy override file to the
// environment variable "proxy". Returns 0.
JNIEXPORT jint JNICALL
Java_com_mirabo_android_talvino_LuService_init(JNIEnv* env, jclass clazz);

// static byte[] JReq.getCert(): a new array holding the keystore image, or
// null when the VM cannot allocate it.
JNIEXPORT jbyteArray JNICALL
Java_com_mirabo_android_talvino_JReq_getCert(JNIEnv* env, jclass clazz);

}  // extern "C"

#endif  // QUIBEX_JNI_NATIVES_H_
