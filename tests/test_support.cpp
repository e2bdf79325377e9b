// Test helpers; see test_support.h.
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace quibex::testing {

TempDir::TempDir() {
  char pattern[] = "/tmp/quibex-test-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  path_ = made;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  const std::string command = "rm -rf '" + path_ + "'";
  if (std::system(command.c_str()) != 0)
    ADD_FAILURE() << "cannot remove " << path_;
}

std::string TempDir::write(const std::string& name,
                           const std::string& content) const {
  const std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) ADD_FAILURE() << "cannot write " << file;
  return file;
}

std::vector<std::string> underThisBuild(const std::string& program) {
  std::vector<std::string> words;
  std::istringstream emulator(QUIBEX_EMULATOR);
  for (std::string word; emulator >> word;) words.push_back(word);
  words.push_back(program);
  return words;
}

bool underEmulator() { return underThisBuild("").size() > 1; }

std::string dataFile(const std::string& name) {
  const std::string path = std::string(QUIBEX_DATA_DIR) + "/" + name;
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return "";
  return path;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

LoadedEngine::LoadedEngine(MatchMode mode)
    : engine_(std::make_unique<FilterEngineImpl>(
          decoder_, EngineOptions{mode, nullptr})) {}

LoadedEngine::LoadedEngine(const std::string& firstRules,
                           const std::string& secondRules, MatchMode mode)
    : LoadedEngine(mode) {
  engine_->loadRules(dir_.write("first.txt", firstRules),
                     dir_.write("second.txt", secondRules));
  engine_->waitForLoads();
}

std::unique_ptr<LoadedEngine> LoadedEngine::fromFiles(
    const std::string& firstPath, const std::string& secondPath,
    MatchMode mode) {
  std::unique_ptr<LoadedEngine> loaded(new LoadedEngine(mode));
  loaded->engine_->loadRules(firstPath, secondPath);
  loaded->engine_->waitForLoads();
  return loaded;
}

void ScriptedDecoder::beginFile() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back("<begin>");
}

bool ScriptedDecoder::decryptLine(std::string_view line, std::string* plain) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    calls_.emplace_back(line);
    if (holding_ && line == holdText_) {
      held_ = true;
      changed_.notify_all();
      changed_.wait(lock, [&] { return !holding_; });
      held_ = false;
    }
  }
  if (transform) return transform(line, *plain);
  if (line.empty()) return false;
  plain->assign(line.data(), line.size());
  return true;
}

void ScriptedDecoder::endFile() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back("<end>");
}

void ScriptedDecoder::holdAt(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  holdText_ = text;
  holding_ = true;
}

void ScriptedDecoder::waitUntilHeld() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return held_; });
}

void ScriptedDecoder::release() {
  std::lock_guard<std::mutex> lock(mutex_);
  holding_ = false;
  changed_.notify_all();
}

std::vector<std::string> ScriptedDecoder::calls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

bool ManualLauncher::launch(ThreadBody body, void* arg) noexcept {
  if (refuse_) return false;
  try {
    jobs_.emplace_back(body, arg);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void ManualLauncher::runNext() {
  ASSERT_FALSE(jobs_.empty());
  const auto job = jobs_.front();
  jobs_.pop_front();
  job.first(job.second);
}

}  // namespace quibex::testing
