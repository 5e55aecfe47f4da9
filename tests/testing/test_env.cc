#include "testing/test_env.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string_view>
#include <thread>

#include "base/text_lines.h"

#ifdef _WIN32
#include <process.h>
#include <stdlib.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vornlink {
namespace testing {
namespace fs = std::filesystem;

TempDir::TempDir(const std::string& base_folder) {
  static std::atomic<unsigned> serial{0};
  const fs::path base = base_folder.empty() ? fs::temp_directory_path() : fs::path(base_folder);
  std::error_code error;
  do {
    path_ = (base / ("vornlink-test-" + std::to_string(std::random_device()()) + "-" +
                     std::to_string(serial++)))
                .string();
  } while (!fs::create_directory(path_, error));
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
  const std::vector<std::string_view> lines = SplitLines(contents);
  return std::vector<std::string>(lines.begin(), lines.end());
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

bool Eventually(const std::function<bool()>& done, std::chrono::seconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

int EnvNumber(const char* name, int default_value) {
  const char* text = std::getenv(name);
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : default_value;
}

std::string Between(const std::string& text, const std::string& open, const std::string& close) {
  size_t start = text.find(open);
  if (start == std::string::npos) return std::string();
  start += open.size();
  return text.substr(start, text.find(close, start) - start);
}

std::string Missing(const std::string& text, const std::vector<std::string>& parts) {
  std::string missing;
  for (const std::string& part : parts) {
    if (text.find(part) == std::string::npos) missing += part + "\n";
  }
  return missing;
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
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

#ifndef _WIN32
bool PlantForeignLink(const std::string& target, const std::string& link) {
  return geteuid() == 0 && symlink(target.c_str(), link.c_str()) == 0 &&
         lchown(link.c_str(), 65534, 65534) == 0 &&
         chmod(fs::path(link).parent_path().c_str(), 0777) == 0;
}
#endif

std::unique_ptr<ChildProcess> StartBeside(const std::string& name,
                                          const std::vector<std::string>& args) {
#ifdef _WIN32
  const std::string self = _pgmptr != nullptr ? _pgmptr : "";
  const std::string program = self.substr(0, self.find_last_of("/\\") + 1) + name + ".exe";
  return ChildProcess::Start(program, args, "NUL");
#else
  const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / name;
  return ChildProcess::Start(program.string(), args, "/dev/null");
#endif
}

ScopedEnvOverride::ScopedEnvOverride(Env* env) : previous_(GetEnv()) { SetEnvForTesting(env); }

ScopedEnvOverride::~ScopedEnvOverride() {
  SetEnvForTesting(previous_ == DefaultEnv() ? nullptr : previous_);
}

void FakeEnv::SleepMs(uint32_t milliseconds) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slept_.push_back(milliseconds);
  }
  if (!fixed_clock_) return target()->SleepMs(milliseconds);
  // Whole seconds slept move the fixed clock on.
  std::lock_guard<std::mutex> lock(mutex_);
  slept_ms_ += milliseconds;
  unix_time_ += slept_ms_ / 1000;
  slept_ms_ %= 1000;
}

void FakeEnv::StartProgram(const std::string& program, const std::string& argument) {
  std::lock_guard<std::mutex> lock(mutex_);
  started_.push_back(program + " " + argument);
}

namespace {

// Sets `*error` (when there is one) to `text`; false.
bool Failed(std::string* error, const char* text) {
  if (error != nullptr) *error = text;
  return false;
}

}  // namespace

ReadResult FakeEnv::ReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                                 std::string* error) {
  if (path == watched && fail_reads) return Failed(error, "Input/output error"), ReadResult::kError;
  const ReadResult result = target()->ReadTextFile(path, contents, max_size, error);
  if (path == watched) bytes_read += contents->size();
  return result;
}

ReadResult FakeEnv::ReadChangedTextFile(const std::string& path, const FileStamp* known,
                                        std::string* contents, size_t max_size, FileStamp* stamp,
                                        bool* unchanged, std::string* error) {
  if (path == watched && fail_reads) return Failed(error, "Input/output error"), ReadResult::kError;
  const ReadResult result =
      target()->ReadChangedTextFile(path, known, contents, max_size, stamp, unchanged, error);
  if (path == watched) bytes_read += contents->size();
  return result;
}

ReadResult FakeEnv::ReadFileBytes(const std::string& path, uint64_t offset, size_t max_bytes,
                                  std::string* bytes, FileStamp* stamp, std::string* error) {
  if (path == watched && fail_reads) return Failed(error, "Input/output error"), ReadResult::kError;
  const ReadResult result = target()->ReadFileBytes(path, offset, max_bytes, bytes, stamp, error);
  if (path == watched) bytes_read += bytes->size();
  return result;
}

bool FakeEnv::AppendTextFile(const std::string& path, const std::string& text, bool durable,
                             std::string* error) {
  if (path == watched) {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_ += durable ? 'A' : 'a';
    if (fail_appends || !TakeRoom(static_cast<int64_t>(text.size())))
      return Failed(error, "No space left on device");
  }
  return target()->AppendTextFile(path, text, durable, error);
}

bool FakeEnv::TakeRoom(int64_t bytes) {
  for (int64_t left = room.load(); left >= 0;) {
    if (bytes > left) return false;
    if (room.compare_exchange_weak(left, left - bytes)) return true;
  }
  return true;
}

bool FakeEnv::FreeDiskSpace(const std::string& path, uint64_t* bytes, std::string* error) {
  if (room < 0) return target()->FreeDiskSpace(path, bytes, error);
  *bytes = static_cast<uint64_t>(room.load());
  return true;
}

bool FakeEnv::SetAllocatedFileSize(const std::string& path, uint64_t size, std::string* error) {
  std::error_code missing;
  const uintmax_t held = fs::file_size(path, missing);
  const int64_t grows = static_cast<int64_t>(size) - (missing ? 0 : static_cast<int64_t>(held));
  if (!TakeRoom(grows)) return Failed(error, "No space left on device");
  if (target()->SetAllocatedFileSize(path, size, error)) return true;
  TakeRoom(-grows);
  return false;
}

ReplaceResult FakeEnv::ReplaceTextFile(const std::string& path, const std::string& text,
                                       const ReplaceOptions& options, std::string* error) {
  if (path == watched) {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_ += 'R';
    if (fail_replaces) return Failed(error, "No space left on device"), ReplaceResult::kFailed;
  }
  return target()->ReplaceTextFile(path, text, options, error);
}

bool FakeEnv::OverwriteFileBytes(const std::string& path, uint64_t offset, const std::string& bytes,
                                 std::string* error) {
  if (path == watched && fail_overwrites) return Failed(error, "Input/output error");
  return target()->OverwriteFileBytes(path, offset, bytes, error);
}

std::string FakeEnv::writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

std::vector<uint32_t> FakeEnv::slept() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return slept_;
}

std::vector<std::string> FakeEnv::started() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_;
}

ScopedFakeEnv::ScopedFakeEnv() {
  env_.set_module_path(ModuleFile(kPathSeparator == '/' ? "so" : "dll"));
}

std::string ScopedFakeEnv::ModuleFile(const std::string& extension) const {
  return dir_.File("Vornlink." + extension);
}

std::string WithCrLf(const std::string& text) {
  std::string result;
  for (char c : text) c == '\n' ? result.append("\r\n") : result.append(1, c);
  return result;
}

std::string OnDisk(const std::string& text) {
  return kPathSeparator == '/' ? text : WithCrLf(text);
}

}  // namespace testing
}  // namespace vornlink
