// The library's log: the few messages an app developer needs to see when
// rules do not load as expected (a missing Codec, a rule file that cannot
// be opened, lines skipped, how many rules a load filed and how long it
// took). On Android they go to logcat through liblog under the tag
// "quibex"; elsewhere to standard error, and only when the environment
// variable QUIBEX_LOG is "stderr", so hosts and tests see nothing unless
// they ask.
//
// What may be logged: counts, durations, list numbers, rule-file paths and
// error texts. Never a request URL, a page address or a rule's text: they
// are the user's browsing and the list vendor's content. Nothing is logged
// per question.
#ifndef QUIBEX_ENGINE_LOG_H_
#define QUIBEX_ENGINE_LOG_H_

namespace quibex {

// The tag of every message in logcat.
inline constexpr char kLogTag[] = "quibex";
// The environment variable that turns the log on off Android, and its value.
inline constexpr char kLogSwitchVariable[] = "QUIBEX_LOG";
inline constexpr char kLogSwitchStderr[] = "stderr";

enum class LogPriority { kInfo, kWarning, kError };

// Writes one message, formatted as printf does, at the given priority.
// Off Android the switch is read once, at the first message of the process.
// Thread-safety: any thread; a message is written with one call.
// Never throws; a message too long for its buffer (1 kB) is cut.
void logMessage(LogPriority priority, const char* format, ...) noexcept
    __attribute__((format(printf, 2, 3)));

}  // namespace quibex

#endif  // QUIBEX_ENGINE_LOG_H_
