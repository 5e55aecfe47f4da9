// `vornlink dms`: the emulated DMS without a dialog, for operators and
// tests. It needs no driver module.
#ifndef VORNLINK_TOOLS_VORNLINK_DMS_DMS_COMMAND_H_
#define VORNLINK_TOOLS_VORNLINK_DMS_DMS_COMMAND_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "vornlink/base/command_help.h"

namespace vornlink {

// The command's help, for the program's list of commands (command_list.h).
extern const CommandHelp kDmsHelp;

// Runs the emulated DMS with `args` (the words after "dms"; its help is
// kDmsHelp) until --count requests are answered or SIGINT or SIGTERM
// comes, serving several connections at once. Each request and its outcome
// is logged to `out` (or the --log file), an entry whole at a time;
// complaints go to `err`. Returns the program's exit code: 0 after --count
// requests or a stop by a signal, 1 when it cannot serve, 2 for a usage
// error. Installs its own SIGINT and SIGTERM handlers while it runs.
int RunDmsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_DMS_DMS_COMMAND_H_
