// The proxy override applied at service start: the contents of a fixed file,
// when there is one, become the process's environment variable "proxy", for
// other native code in the same process.
#ifndef QUIBEX_JNI_PROXY_OVERRIDE_H_
#define QUIBEX_JNI_PROXY_OVERRIDE_H_

namespace quibex {

// The override file read by LuService.init.
inline constexpr char kProxyOverridePath[] = "/data/local/tmp/miraboproxy";

// The work of LuService.init. Reads at most the first 255 bytes of the file
// at path with one read call and, when that yields at least one byte and
// the first byte is not NUL, sets "proxy" to them (overwriting an inherited
// value). The value ends at the first NUL byte; a trailing line feed stays
// part of it. A file that cannot be opened or read, or is empty, leaves the
// environment unchanged. Returns 0 in every case, the result LuService.init
// gives.
//
// Thread-safety: like setenv, it must not race with other threads reading
// or changing the environment. REQUIRES: path is NUL-terminated.
int applyProxyOverride(const char* path) noexcept;

}  // namespace quibex

#endif  // QUIBEX_JNI_PROXY_OVERRIDE_H_
