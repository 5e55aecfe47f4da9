// Fixtures shared by the tests: a scratch folder, file and time helpers, an
// Env whose module path and clocks a test sets, helper programs.
#ifndef VORNLINK_TESTS_TESTING_TEST_ENV_H_
#define VORNLINK_TESTS_TESTING_TEST_ENV_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/failure_text.h"
#include "base/transaction_fields.h"
#include "platform/env.h"
#include "testing/child_process.h"

namespace vornlink {
namespace testing {

// A fresh folder (in `base`, else the system's temporary one), removed with all in it at the end.
class TempDir {
 public:
  explicit TempDir(const std::string& base = std::string());
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const;  // `name` inside the folder

 private:
  std::string path_;
};

// Files byte for byte: no line end conversion; a file that cannot be read
// reads as empty. DiskLines gives the lines without their line ends.
void WriteBytes(const std::string& path, const std::string& contents);
std::string ReadBytes(const std::string& path);
bool FileExists(const std::string& path);
std::vector<std::string> DiskLines(const std::string& path);

// A local time (month 1 to 12) for the system to normalise, with its daylight saving; its moment.
std::tm LocalFields(int year, int month, int day, int hour, int minute, int second);
int64_t LocalUnixTime(int year, int month, int day, int hour, int minute, int second);

// What `call` returns, or the text of the FailureText it throws (its kind
// into `kind` and `net`, when given; kOther when it throws none).
template <typename Call>
std::string TextOrFailure(Call call, FailureKind* kind = nullptr, NetFailure* net = nullptr) {
  if (kind != nullptr) *kind = FailureKind::kOther;
  if (net != nullptr) *net = NetFailure::kOther;
  try {
    return call();
  } catch (const FailureText& failure) {
    if (kind != nullptr) *kind = failure.kind();
    if (net != nullptr) *net = failure.net();
    return failure.text();
  }
}

// The positive number in the environment variable `name`, else `default_value`.
int EnvNumber(const char* name, int default_value);
// The text between the first `open` in `text` and the `close` after it; "" without `open`.
std::string Between(const std::string& text, const std::string& open, const std::string& close);
// The texts of `parts` that `text` does not hold, one a line ("" for none).
std::string Missing(const std::string& text, const std::vector<std::string>& parts);
// How often `part` is in `text` (overlaps counted).
size_t Occurrences(const std::string& text, const std::string& part);

long long MillisecondsSince(std::chrono::steady_clock::time_point start);

// Waits up to `limit` for `done`; false when it never came.
bool Eventually(const std::function<bool()>& done,
                std::chrono::seconds limit = std::chrono::seconds(30));

// A transaction of plausible values with `trans_no` as its TransNo.
TransactionFields SampleTransaction(const std::string& trans_no);

int ProcessId();

#ifndef _WIN32
// A link at `link` to `target` as another user (uid 65534) would plant it,
// its folder opened to everybody. False unless this process is root.
bool PlantForeignLink(const std::string& target, const std::string& link);
#endif

// Starts the program `name` beside the running test program (".exe" added
// on Windows) with `args`, its output discarded; null when it failed.
std::unique_ptr<ChildProcess> StartBeside(const std::string& name,
                                          const std::vector<std::string>& args);

// Makes `env` the driver's Env for the life of the object, then puts back the one in place, also
// when a failed assertion ends the test early. The caller keeps `env` alive meanwhile.
class ScopedEnvOverride {
 public:
  explicit ScopedEnvOverride(Env* env);
  ~ScopedEnvOverride();
  ScopedEnvOverride(const ScopedEnvOverride&) = delete;
  ScopedEnvOverride& operator=(const ScopedEnvOverride&) = delete;

 private:
  Env* previous_;
};

// The real platform, but for what a test fixes: the module path, the clock and tick count (when
// set). Programs are not started but recorded, and so are the sleeps. The calls on the file
// `watched` (a cache file) are recorded and fail while a test asks them to. With `room` set, the
// disk is a small one: appends to `watched` and the growth of allocated files take from it,
// shrinking gives back, and what would need more than is left fails as a full disk.
class FakeEnv : public EnvWrapper {
 public:
  FakeEnv() : EnvWrapper(DefaultEnv()) {}

  void set_module_path(std::string path) { module_path_ = std::move(path); }
  // Fixes the clock; SleepMs then moves it on instead of sleeping.
  void set_unix_time(int64_t time) { unix_time_ = time, fixed_clock_ = true; }
  void set_tick_count(uint32_t ticks) { tick_count_ = ticks, fixed_ticks_ = true; }

  std::string ModulePath() override { return module_path_; }
  int64_t UnixTime() override { return fixed_clock_ ? unix_time_.load() : target()->UnixTime(); }
  uint32_t TickCount() override {
    return fixed_ticks_ ? tick_count_ += tick_step : target()->TickCount();
  }
  void SleepMs(uint32_t milliseconds) override;
  void StartProgram(const std::string& program, const std::string& argument) override;
  ReadResult ReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                          std::string* error) override;
  ReadResult ReadChangedTextFile(const std::string& path, const FileStamp* known,
                                 std::string* contents, size_t max_size, FileStamp* stamp,
                                 bool* unchanged, std::string* error) override;
  ReadResult ReadFileBytes(const std::string& path, uint64_t offset, size_t max_bytes,
                           std::string* bytes, FileStamp* stamp, std::string* error) override;
  bool AppendTextFile(const std::string& path, const std::string& text, bool durable,
                      std::string* error) override;
  std::vector<std::string> ReadProfileStrings(const std::vector<ProfileQuery>& queries,
                                              const std::string& path) override {
    return target()->ReadProfileStrings(queries, path);
  }
  // The platform's one open, but for the file `watched`: its calls are
  // recorded and failed one by one.
  std::unique_ptr<AppendingFile> OpenForAppend(const std::string& path) override {
    return path == watched ? Env::OpenForAppend(path) : target()->OpenForAppend(path);
  }
  ReplaceResult ReplaceTextFile(const std::string& path, const std::string& text,
                                const ReplaceOptions& options, std::string* error) override;
  bool FreeDiskSpace(const std::string& path, uint64_t* bytes, std::string* error) override;
  bool SetAllocatedFileSize(const std::string& path, uint64_t size, std::string* error) override;
  bool OverwriteFileBytes(const std::string& path, uint64_t offset, const std::string& bytes,
                          std::string* error) override;

  std::string watched;
  // Bytes left on the small disk; -1: the real one.
  std::atomic<int64_t> room{-1};
  // With a fixed tick count, every look at it finds it this much later.
  std::atomic<uint32_t> tick_step{0};
  // Reads and overwrites in place fail as an I/O error, appends and replaces as a full disk.
  std::atomic<bool> fail_reads{false}, fail_appends{false}, fail_replaces{false},
      fail_overwrites{false};
  std::atomic<size_t> bytes_read{0};
  // Its writes: "A" a durable append, "a" another, "R" a replace.
  std::string writes() const;

  // Each sleep's milliseconds, and each program start as "<program> <argument>", in order.
  std::vector<uint32_t> slept() const;
  std::vector<std::string> started() const;

 private:
  std::string module_path_;
  std::atomic<bool> fixed_clock_{false};
  std::atomic<bool> fixed_ticks_{false};
  std::atomic<int64_t> unix_time_{0};
  std::atomic<uint32_t> tick_count_{0};
  mutable std::mutex mutex_;
  uint32_t slept_ms_ = 0;  // guarded by mutex_, as the three below
  std::vector<uint32_t> slept_;
  std::vector<std::string> started_;
  std::string writes_;

  // Takes `bytes` from the small disk, if any (negative: gives back); false when they are not in it
  bool TakeRoom(int64_t bytes);
};

// Installs a FakeEnv for the life of the object, with the module in a
// fresh folder: `dir().File("Vornlink.so")` (".dll" on Windows).
class ScopedFakeEnv {
 public:
  ScopedFakeEnv();

  FakeEnv& env() { return env_; }
  const TempDir& dir() const { return dir_; }
  // The files beside the module.
  std::string ModuleFile(const std::string& extension) const;

 private:
  TempDir dir_;
  FakeEnv env_;
  ScopedEnvOverride override_{&env_};
};

// `text` with each "\n" written as the platform's line end on disk, or as CR LF.
std::string OnDisk(const std::string& text);
std::string WithCrLf(const std::string& text);

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_TESTING_TEST_ENV_H_
