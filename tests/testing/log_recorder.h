// Keeps the driver's log entries in memory for a test to look at.
#ifndef VORNLINK_TESTS_TESTING_LOG_RECORDER_H_
#define VORNLINK_TESTS_TESTING_LOG_RECORDER_H_

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "log/log.h"
#include "log/log_test_hooks.h"
#include "platform/env.h"
#include "testing/test_env.h"

namespace vornlink {
namespace testing {

// Turns the log on with `flags` and keeps its entries, as "<flag> <message>", instead of writing
// them to `file_name`; every other file call goes on to the Env that was in place. Thread-safe.
class LogRecorder : public EnvWrapper {
 public:
  LogRecorder(const std::string& file_name, const std::string& flags)
      : EnvWrapper(GetEnv()), file_name_(file_name) {
    ResetLogForTesting();
    LogInit(file_name, 1000, flags);
  }
  ~LogRecorder() override { ResetLogForTesting(); }

  bool AppendTextFile(const std::string& path, const std::string& text, bool durable,
                      std::string* error) override {
    if (path != file_name_) return target()->AppendTextFile(path, text, durable, error);
    LogEntryView entry{{}, '?', text};  // kept whole if it is no entry
    ParseLogEntry(text, &entry);
    std::string message(entry.message);
    if (!message.empty() && message.back() == '\n') message.pop_back();
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::string(1, entry.flag) + " " + message);
    return true;
  }

  // The entries since the last call.
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(entries_, {});
  }

 private:
  const std::string file_name_;
  std::mutex mutex_;
  std::vector<std::string> entries_;
  ScopedEnvOverride installed_{this};  // last: it goes first
};

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_TESTING_LOG_RECORDER_H_
