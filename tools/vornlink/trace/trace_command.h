// `vornlink trace`: one transaction followed from the host's call to the
// DMS, for a person: where it is now (its cache line and state, or
// delivered, dropped, removed) and its story in the driver's log
// (trace_history.h). It says when the log cannot tell the whole story: cut
// past the transaction's start, or its flags leave out the cache's entries.
// Only reads: safe while a host runs.
#ifndef VORNLINK_TOOLS_VORNLINK_TRACE_TRACE_COMMAND_H_
#define VORNLINK_TOOLS_VORNLINK_TRACE_TRACE_COMMAND_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "vornlink/base/command_help.h"

namespace vornlink {

// The command's help, for the program's list of commands (command_list.h).
extern const CommandHelp kTraceHelp;

// `args` are the words after "trace": TRANSNO [JOBNO], and --json for
// scripts (the same facts as one object). Returns 0 when the cache or the
// log knows the transaction, 1 when neither does (or the cache cannot be
// read), 2 for a usage error.
int RunTraceCommand(const std::string& module_path, const std::vector<std::string>& args,
                    std::ostream& out, std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_TRACE_TRACE_COMMAND_H_
