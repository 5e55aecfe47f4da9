#include "exchange/log_capture.h"

#include "log/log.h"
#include "platform/env.h"

namespace vornlink {
namespace testing {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "YYYY-MM-DD HH:MM:SS-F-" starts an entry.
bool StartsEntry(const std::string& line) {
  static const char kShape[] = "dddd-dd-dd dd:dd:dd-";
  if (line.size() < sizeof kShape + 1) return false;
  for (size_t i = 0; i + 1 < sizeof kShape; ++i) {
    if (kShape[i] == 'd' ? !IsDigit(line[i]) : line[i] != kShape[i]) return false;
  }
  return line[sizeof kShape] == '-';
}

}  // namespace

LogCapture::LogCapture(const std::string& file_name, const std::string& flags)
    : file_name_(file_name) {
  ResetLogForTesting();
  LogInit(file_name_, 1000000, flags);
}

LogCapture::~LogCapture() { ResetLogForTesting(); }

std::vector<LogEntry> LogCapture::Entries() const {
  std::string contents;
  GetEnv()->ReadTextFile(file_name_, &contents);
  std::vector<LogEntry> entries;
  size_t start = 0;
  while (start < contents.size()) {
    size_t end = contents.find('\n', start);
    if (end == std::string::npos) end = contents.size();
    // Only line feeds end lines: carriage returns are part of messages.
    std::string line = contents.substr(start, end - start);
    start = end + 1;
    if (StartsEntry(line)) {
      constexpr size_t kFlagAt = 20;
      entries.push_back({line[kFlagAt], line.substr(kFlagAt + 2)});
    } else if (!entries.empty()) {
      entries.back().message += "\n" + line;
    }
  }
  return entries;
}

std::vector<std::string> LogCapture::Messages(char flag) const {
  std::vector<std::string> messages;
  for (const LogEntry& entry : Entries()) {
    if (entry.flag == flag) messages.push_back(entry.message);
  }
  return messages;
}

}  // namespace testing
}  // namespace vornlink
