// Helpers shared by the tests: temporary rule files, engines loaded from
// them, the reference data folder, and controllable decoders and thread
// launchers for the loading tests.
#ifndef QUIBEX_TESTS_TEST_SUPPORT_H_
#define QUIBEX_TESTS_TEST_SUPPORT_H_

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/filter_engine_impl.h"
#include "engine/line_decoder.h"
#include "engine/thread_launcher.h"

namespace quibex::testing {

// A temporary directory, removed with its contents at scope exit.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes content to the file name inside the directory; returns its path.
  std::string write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

// Closes a stdio file at scope exit.
struct StdioCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueStdioFile = std::unique_ptr<std::FILE, StdioCloser>;

// The words of the command through which this build's programs run (the
// emulator of a cross build, such as "qemu-arm -L /usr/arm-linux-gnueabi"),
// followed by program. Just program in a native build.
std::vector<std::string> underThisBuild(const std::string& program);
// True when this build's programs, these tests included, run under an
// emulator.
bool underEmulator();

// Path of a file of the shared reference data, or "" when it is absent.
std::string dataFile(const std::string& name);

// Reads a whole file; "" when it cannot be read.
std::string readFile(const std::string& path);

// An engine with its own pass-through decoder, loaded from rule texts.
class LoadedEngine {
 public:
  LoadedEngine(const std::string& firstRules, const std::string& secondRules,
               MatchMode mode = MatchMode::kAccelerated);
  // Loads the two files given by path instead of texts.
  static std::unique_ptr<LoadedEngine> fromFiles(
      const std::string& firstPath, const std::string& secondPath,
      MatchMode mode = MatchMode::kAccelerated);

  FilterEngineImpl& engine() { return *engine_; }
  FilterEngineImpl* operator->() { return engine_.get(); }
  int block(const std::string& url, const std::string& page = "") {
    return engine_->shouldBlock(url, page);
  }
  std::vector<std::string> selectors(const std::string& page,
                                     const std::string& document = "",
                                     const std::string& referrer = "") {
    return engine_->getSelectors(page, document, referrer);
  }

 private:
  LoadedEngine(MatchMode mode);
  TempDir dir_;
  PassThroughDecoder decoder_;
  std::unique_ptr<FilterEngineImpl> engine_;
};

// A decoder that records every call and can hold the loading thread at a
// chosen line until released.
class ScriptedDecoder final : public LineDecoder {
 public:
  void beginFile() override;
  bool decryptLine(std::string_view line, std::string* plain) override;
  void endFile() override;

  // The next decryptLine of a line equal to text waits until release().
  void holdAt(const std::string& text);
  // Blocks until the loader is held at the line given to holdAt().
  void waitUntilHeld();
  void release();

  // Every line passed to decryptLine, in order; "<begin>"/"<end>" markers
  // for beginFile/endFile.
  std::vector<std::string> calls();

  // Optional transformation of each line; the default passes it through.
  std::function<bool(std::string_view, std::string&)> transform;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> calls_;
  std::string holdText_;
  bool holding_ = false;
  bool held_ = false;
};

// A launcher that keeps bodies until the test runs them, or refuses them.
class ManualLauncher final : public ThreadLauncher {
 public:
  bool launch(ThreadBody body, void* arg) noexcept override;

  // Makes every later launch fail.
  void refuse() { refuse_ = true; }
  size_t pending() const { return jobs_.size(); }
  // Runs the oldest kept body on the calling thread.
  void runNext();

 private:
  bool refuse_ = false;
  std::deque<std::pair<ThreadBody, void*>> jobs_;
};

}  // namespace quibex::testing

#endif  // QUIBEX_TESTS_TEST_SUPPORT_H_
