// The check that a byte string is valid modified UTF-8, the form the Java VM
// takes in NewStringUTF. A line that fails it is never handed to Java: the
// Android runtime's JNI checking aborts the process on such input, and a
// desktop VM silently turns it into other characters.
#ifndef QUIBEX_JNI_MODIFIED_UTF8_H_
#define QUIBEX_JNI_MODIFIED_UTF8_H_

#include <string_view>

namespace quibex {

// True when text is well-formed modified UTF-8:
//   - no NUL byte (the character U+0000 is written as C0 80);
//   - bytes 01..7F stand for themselves;
//   - two-byte sequences C2..DF followed by one continuation byte (80..BF),
//     and C0 80;
//   - three-byte sequences E0 A0..BF, or E1..EF 80..BF, followed by one more
//     continuation byte; surrogates (ED A0..BF ..) are allowed, since the VM
//     writes supplementary characters as two encoded surrogates;
//   - nothing else: no four-byte sequences (F0..FF), no stray continuation
//     bytes, no other overlong forms, no sequence cut short.
// The empty string is valid. Thread-safe; pure.
bool isModifiedUtf8(std::string_view text);

}  // namespace quibex

#endif  // QUIBEX_JNI_MODIFIED_UTF8_H_
