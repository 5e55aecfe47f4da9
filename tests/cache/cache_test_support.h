// Helpers shared by the cache tests: sample transactions, reading the cache
// file and the log as the disk holds them, and starting the helper program
// (cache_helper) that works on a cache from another process.
#ifndef VORNLINK_TESTS_CACHE_CACHE_TEST_SUPPORT_H_
#define VORNLINK_TESTS_CACHE_CACHE_TEST_SUPPORT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cache/cache_record.h"

namespace vornlink {
namespace testing {

// A transaction of plausible values with `trans_no` as its TransNo.
TransactionFields SampleTransaction(const std::string& trans_no);

// The lines of the file at `path`, split at the platform's line end, which
// is removed. A last line without a line end is kept as it stands.
std::vector<std::string> DiskLines(const std::string& path);

// The entries of a log file from the "-" after the time stamp on.
std::vector<std::string> LogEntries(const std::string& path);

// 18 digits with a "0" as the fifteenth.
bool IsWellFormedTrid(std::string_view trid);

// Number of comma-separated fields of a line.
size_t FieldCount(std::string_view line);

// Full path of the helper program, beside the running test program.
std::string HelperPath();

// One run of the helper program with `args` (the program name is added).
// With `capture_output` (POSIX only) its standard output comes through a
// pipe that `ReadOutput` reads.
class HelperProcess {
 public:
  HelperProcess() = default;
  ~HelperProcess();
  HelperProcess(const HelperProcess&) = delete;
  HelperProcess& operator=(const HelperProcess&) = delete;

  bool Start(const std::vector<std::string>& args, bool capture_output = false);
  // Waits for the end; the exit code, or -1 when it did not end normally.
  int Wait();
#ifndef _WIN32
  // Up to `size` bytes of output; blocks until some arrive or it ends.
  std::string ReadOutput(size_t size);
  // Kills it with SIGKILL and reaps it.
  void Kill();
#endif

 private:
  intptr_t process_ = -1;  // pid, or process handle on Windows
  int output_fd_ = -1;
};

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_CACHE_CACHE_TEST_SUPPORT_H_
