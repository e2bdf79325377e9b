// The program of the embedding test: linked against libquibex.so alone, it
// finds each of the library's seven exported functions in that file and
// calls the one that needs no Java VM.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

// The exports as a host without the library's headers declares them. Only
// LuService.init is called; it uses neither of its arguments.
extern "C" {
int JNI_OnLoad(void* vm, void* reserved);
void Java_com_mirabo_android_talvino_LuService_initADRules();
void Java_com_mirabo_android_talvino_LuService_updateADRules();
void Java_com_mirabo_handler_DefaultRequestHandler_shouldADBlock();
void Java_com_mirabo_handler_DefaultRequestHandler_getSelectorsForDomain();
int Java_com_mirabo_android_talvino_LuService_init(void* env, void* clazz);
void Java_com_mirabo_android_talvino_JReq_getCert();
}

int main() {
  const struct {
    const char* name;
    void* address;
  } exports[] = {
      {"JNI_OnLoad", reinterpret_cast<void*>(&JNI_OnLoad)},
      {"initADRules",
       reinterpret_cast<void*>(
           &Java_com_mirabo_android_talvino_LuService_initADRules)},
      {"updateADRules",
       reinterpret_cast<void*>(
           &Java_com_mirabo_android_talvino_LuService_updateADRules)},
      {"shouldADBlock",
       reinterpret_cast<void*>(
           &Java_com_mirabo_handler_DefaultRequestHandler_shouldADBlock)},
      {"getSelectorsForDomain",
       reinterpret_cast<void*>(
           &Java_com_mirabo_handler_DefaultRequestHandler_getSelectorsForDomain)},
      {"init", reinterpret_cast<void*>(
                   &Java_com_mirabo_android_talvino_LuService_init)},
      {"getCert",
       reinterpret_cast<void*>(&Java_com_mirabo_android_talvino_JReq_getCert)},
  };
  int failures = 0;
  for (const auto& e : exports) {
    Dl_info info;
    const bool found = dladdr(e.address, &info) != 0 &&
                       info.dli_fname != nullptr &&
                       std::strstr(info.dli_fname, "libquibex.so") != nullptr;
    if (!found) {
      std::printf("%s does not come from libquibex.so\n", e.name);
      ++failures;
    }
  }
  const int init =
      Java_com_mirabo_android_talvino_LuService_init(nullptr, nullptr);
  if (init != 0) {
    std::printf("LuService.init returned %d\n", init);
    ++failures;
  }
  std::printf("%zu exports of libquibex.so linked, %d failures\n",
              sizeof exports / sizeof exports[0], failures);
  return failures == 0 ? 0 : 1;
}
