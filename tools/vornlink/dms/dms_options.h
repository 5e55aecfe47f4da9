// The options of `vornlink dms`, as its command line gives them.
#ifndef VORNLINK_TOOLS_VORNLINK_DMS_DMS_OPTIONS_H_
#define VORNLINK_TOOLS_VORNLINK_DMS_DMS_OPTIONS_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "emulated_dms/dms_server.h"

namespace vornlink {

inline constexpr uint16_t kDefaultPort = 9123;
// A larger --reply-file is refused.
inline constexpr size_t kMaxReplyFileBytes = 16 * kMaxDmsRequestBytes;

enum class Mode { kTcp, kHttp, kHttps };

struct DmsOptions {
  std::string address = "0.0.0.0";
  uint16_t port = kDefaultPort;
  std::string reply_name = "fwt-success";
  std::string reply;
  Mode mode = Mode::kTcp;
  std::string certificate;
  std::string key;
  std::string log_file;
  bool show_secrets = false;  // credential headers logged as they came
  // A request that holds `text` gets this reply instead, the first rule
  // that matches: text, reply name, reply text.
  struct Rule {
    std::string text;
    std::string reply_name;
    std::string reply;
  };
  std::vector<Rule> rules;
  // Not empty: repeats of a booking key found after this text are dropped.
  std::string repeat_marker;
  int count = 0;
  int time_limit_ms = static_cast<int>(kDmsConnectionTimeLimit.count());
};

// "tcp", "http" or "https".
const char* ModeName(Mode mode);

// Reads the words after "dms" into `options`; false with a complaint in
// `err` that names the wrong word, for a usage error. Reads --reply-file
// as the driver reads its files (a regular file, through links only that
// nobody else could have planted).
bool ParseDmsOptions(const std::vector<std::string>& args, DmsOptions* options, std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_DMS_DMS_OPTIONS_H_
