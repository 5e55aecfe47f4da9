#include "testing/test_env.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace vornlink {
namespace testing {
namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<unsigned> serial{0};
  std::random_device random;
  fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path candidate = base / ("vornlink-test-" + std::to_string(random()) + "-" +
                                 std::to_string(serial.fetch_add(1)));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code error;
  fs::remove_all(path_, error);
}

std::string TempDir::File(const std::string& name) const { return path_ + kPathSeparator + name; }

void WriteBytes(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

void FakeEnv::SleepMs(uint32_t milliseconds) {
  ++sleeps_;
  if (!fixed_clock_) {
    target()->SleepMs(milliseconds);
    return;
  }
  uint32_t total = slept_ms_.fetch_add(milliseconds) + milliseconds;
  // Whole seconds slept move the fixed clock on.
  while (total >= 1000) {
    uint32_t expected = total;
    if (slept_ms_.compare_exchange_strong(expected, total - 1000)) {
      ++unix_time_;
      total -= 1000;
    } else {
      total = slept_ms_.load();
    }
  }
}

void FakeEnv::StartProgram(const std::string& program, const std::string& argument) {
  std::lock_guard<std::mutex> lock(mutex_);
  programs_.emplace_back(program, argument);
}

std::vector<std::pair<std::string, std::string>> FakeEnv::programs_started() {
  std::lock_guard<std::mutex> lock(mutex_);
  return programs_;
}

ScopedFakeEnv::ScopedFakeEnv() {
#ifdef _WIN32
  env_.set_module_path(dir_.File("Vornlink.dll"));
#else
  env_.set_module_path(dir_.File("Vornlink.so"));
#endif
  SetEnvForTesting(&env_);
}

ScopedFakeEnv::~ScopedFakeEnv() { SetEnvForTesting(nullptr); }

std::string ScopedFakeEnv::ModuleFile(const std::string& extension) const {
  return dir_.File("Vornlink." + extension);
}

std::string OnDisk(const std::string& text) {
  std::string disk;
  for (char c : text) {
    if (c == '\n') {
      disk.append(kDiskLineEnd);
    } else {
      disk.push_back(c);
    }
  }
  return disk;
}

}  // namespace testing
}  // namespace vornlink
