#include "testing/test_env.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string_view>

#include "settings/text_lines.h"

#ifdef _WIN32
#include <process.h>
#include <stdlib.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

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

std::vector<std::string> DiskLines(const std::string& path) {
  const std::string contents = ReadBytes(path);
  std::vector<std::string> lines;
  for (std::string_view line : SplitLines(contents)) lines.emplace_back(line);
  return lines;
}

std::tm LocalFields(int year, int month, int day, int hour, int minute, int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return local;
}

int64_t LocalUnixTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm local = LocalFields(year, month, day, hour, minute, second);
  return static_cast<int64_t>(std::mktime(&local));
}

TransactionFields SampleTransaction(const std::string& trans_no) {
  return {trans_no, "WO1234-02", "140307", "090502", "17",  "F4",
          "5",      "K9",        "ATF",    "P-100",  "1.5", "2.25"};
}

int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(getpid());
#endif
}

#ifdef _WIN32

intptr_t StartBeside(const std::string& name, const std::vector<std::string>& args) {
  // The C runtime joins the arguments with blanks, so each one is quoted.
  std::string program = _pgmptr != nullptr ? _pgmptr : "";
  program = program.substr(0, program.find_last_of("/\\") + 1) + name + ".exe";
  std::vector<std::string> quoted{"\"" + program + "\""};
  for (const std::string& arg : args) quoted.push_back("\"" + arg + "\"");
  std::vector<const char*> argv;
  for (const std::string& arg : quoted) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  return _spawnv(_P_NOWAIT, program.c_str(), argv.data());
}

int WaitForExit(intptr_t process) {
  int status = -1;
  return process == -1 || _cwait(&status, process, 0) == -1 ? -1 : status;
}

#else

intptr_t StartBeside(const std::string& name, const std::vector<std::string>& args) {
  std::string program = fs::read_symlink("/proc/self/exe").parent_path() / name;
  std::vector<char*> argv{&program[0]};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  return posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

int WaitForExit(intptr_t process) {
  int status = 0;
  if (process <= 0 || waitpid(static_cast<pid_t>(process), &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

void FakeEnv::SleepMs(uint32_t milliseconds) {
  ++sleeps_;
  if (!fixed_clock_) return target()->SleepMs(milliseconds);
  // Whole seconds slept move the fixed clock on.
  std::lock_guard<std::mutex> lock(mutex_);
  slept_ms_ += milliseconds;
  unix_time_ += slept_ms_ / 1000;
  slept_ms_ %= 1000;
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

namespace {

std::string WithLineEnds(const std::string& text, const char* line_end) {
  std::string result;
  for (char c : text) {
    if (c == '\n') {
      result.append(line_end);
    } else {
      result.push_back(c);
    }
  }
  return result;
}

}  // namespace

std::string OnDisk(const std::string& text) { return WithLineEnds(text, kDiskLineEnd); }

std::string WithCrLf(const std::string& text) { return WithLineEnds(text, "\r\n"); }

}  // namespace testing
}  // namespace vornlink
