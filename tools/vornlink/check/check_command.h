// `vornlink check`: reads the INI file and the settings document beside a
// module exactly as the driver does (its own code, pointed at the module)
// and reports, without sending anything: the gates, the log, each
// exchange's transport and connection values (passwords masked), the query
// a sample transaction and a sample job number render to, the reply rules
// and code lists, the trust settings, the transport time limit, the cache
// and its locks, and every problem found on the way.
#ifndef VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_COMMAND_H_
#define VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_COMMAND_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "vornlink/base/command_help.h"

namespace vornlink {

// The command's help, for the program's list of commands (command_list.h).
extern const CommandHelp kCheckHelp;

// `args` are the words after "check": --transaction F1,...,F12 and --job
// JOBNO choose the samples. Returns 0 when nothing was found that makes
// the driver fail (warnings allowed), 1 when something was, 2 for a usage
// error. The report goes to `out`, usage complaints to `err`.
int RunCheckCommand(const std::string& module_path, const std::vector<std::string>& args,
                    std::ostream& out, std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CHECK_CHECK_COMMAND_H_
