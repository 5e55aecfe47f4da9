// The host program's subcommands, each driving the loaded module through its
// exports.
#ifndef VORNLINK_TOOLS_VORNLINK_HOST_HOST_COMMANDS_H_
#define VORNLINK_TOOLS_VORNLINK_HOST_HOST_COMMANDS_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "vornlink/base/driver_api.h"
#include "vornlink/base/handed_over.h"

namespace vornlink {

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// A transaction handed to the driver is not in the cache: named on
// standard error (HandedOver).
inline constexpr int kExitUnwritten = 3;

// The loaded module as the commands see it.
struct Driver {
  DriverApi api;
  std::string module_path;
  // Whether this program started the service: the driver opens its log
  // only then.
  mutable bool service_started = false;
  // What became of the transactions handed over.
  mutable HandedOver handed_over;
};

// Runs one command (`words[0]`) with its arguments, read by the program's
// conventions already (command_line.h). Output goes to `out`, complaints
// to `err`.
int RunCommand(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
               std::ostream& err);

// Splits a command line into words at blanks; double quotes group a word
// (and may stand for an empty one).
std::vector<std::string> SplitWords(const std::string& line);

// Splits one CSV line at every comma (no quoting, as the host's files are).
std::vector<std::string> SplitCsv(const std::string& line);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_HOST_HOST_COMMANDS_H_
