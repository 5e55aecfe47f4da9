// `vornlink try`: one real exchange of each kind with the DMS, through the
// driver's own code and the settings beside a module: a job validation of
// a sample job number, then a forward transaction of a sample transaction.
// Prints how long it waits at most (on a terminal also each phase as it
// comes), the connection, the request as sent (over HTTP the header lines
// as they go out and those the library adds), the reply, the code and text
// read from it, the exchange's time, the outcome and, for a connection that
// failed, what to look at. The cache file and the site's log are not
// touched; the DMS does get the sample transaction as a real booking.
#ifndef VORNLINK_TOOLS_VORNLINK_TRY_TRY_COMMAND_H_
#define VORNLINK_TOOLS_VORNLINK_TRY_TRY_COMMAND_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "vornlink/base/command_help.h"

namespace vornlink {

// The command's help, for the program's list of commands (command_list.h).
extern const CommandHelp kTryHelp;

// `args` are the words after "try": --transaction F1,...,F12, --job JOBNO,
// --only forward|validate, --verbose (every log line of the exchanges).
// Returns 0 when the job was VALID and the transaction a SUCCESS (of those
// tried), 1 otherwise, 2 for a usage error.
int RunTryCommand(const std::string& module_path, const std::vector<std::string>& args,
                  std::ostream& out, std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_TRY_TRY_COMMAND_H_
