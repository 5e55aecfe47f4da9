// Sends the driver's log to a file in a test's folder, with every flag
// switched on, and reads its entries back.
#ifndef VORNLINK_TESTS_EXCHANGE_LOG_CAPTURE_H_
#define VORNLINK_TESTS_EXCHANGE_LOG_CAPTURE_H_

#include <string>
#include <vector>

namespace vornlink {
namespace testing {

struct LogEntry {
  char flag;
  std::string message;  // lines after the first joined by "\n"

  bool operator==(const LogEntry& other) const {
    return flag == other.flag && message == other.message;
  }
};

// Needs an Env whose files may be written (a ScopedFakeEnv); forgets the
// log settings when it goes.
class LogCapture {
 public:
  LogCapture(const std::string& file_name, const std::string& flags);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Every entry written so far, oldest first.
  std::vector<LogEntry> Entries() const;
  // The messages of the entries with `flag`.
  std::vector<std::string> Messages(char flag) const;

 private:
  std::string file_name_;
};

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_EXCHANGE_LOG_CAPTURE_H_
