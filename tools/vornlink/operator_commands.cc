#include "vornlink/operator_commands.h"

#include <ostream>

#include "vornlink/cache/cache_command.h"
#include "vornlink/check/check_command.h"
#include "vornlink/status/status_command.h"
#include "vornlink/try/try_command.h"

namespace vornlink {

bool IsOperatorCommand(const std::string& command) {
  return command == "check" || command == "try" || command == "cache" || command == "status";
}

int RunOperatorCommand(const std::string& module_path, const std::vector<std::string>& words,
                       std::ostream& out, std::ostream& err) {
  const std::string& command = words[0];
  const std::vector<std::string> args(words.begin() + 1, words.end());
  if (command == "check") return RunCheckCommand(module_path, args, out, err);
  if (command == "try") return RunTryCommand(module_path, args, out, err);
  if (command == "cache") return RunCacheCommand(module_path, args, out, err);
  return RunStatusCommand(module_path, args, out, err);
}

}  // namespace vornlink
