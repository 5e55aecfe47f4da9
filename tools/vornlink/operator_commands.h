// The operator commands of the host program: check, try, cache and status.
// They do not drive a loaded module: they run the driver's own code in this
// program, pointed at the module's folder (see module_site.h), so that they
// work while a host has the module loaded, and without one.
#ifndef VORNLINK_TOOLS_VORNLINK_OPERATOR_COMMANDS_H_
#define VORNLINK_TOOLS_VORNLINK_OPERATOR_COMMANDS_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace vornlink {

// Whether `command` is one of them.
bool IsOperatorCommand(const std::string& command);

// Runs `words` (the command and its arguments) for the module at
// `module_path`; returns the program's exit code.
int RunOperatorCommand(const std::string& module_path, const std::vector<std::string>& words,
                       std::ostream& out, std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_OPERATOR_COMMANDS_H_
