// `vornlink session`: one command per line of a file (or standard input),
// all against the same loaded module, as a host calls it over a day. Each
// line is read by the program's conventions (command_line.h) and run by
// the caller's `run_line`, which knows the program's commands; a session
// cannot hold another.
#ifndef VORNLINK_TOOLS_VORNLINK_HOST_SESSION_H_
#define VORNLINK_TOOLS_VORNLINK_HOST_SESSION_H_

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "vornlink/base/command_help.h"
#include "vornlink/base/command_line.h"
#include "vornlink/base/driver.h"

namespace vornlink {

// The command's help, for the program's list of commands (command_list.h).
extern const CommandHelp kSessionHelp;

// Runs the command of one line (its help when `line.help`) with output to
// `out`; returns its exit code.
using SessionLineRunner = std::function<int(const Driver& driver, const CommandLine& line,
                                            std::ostream& out, std::ostream& err)>;

// `words`: "session" and optionally the file. Each command's answer is out
// (`out` flushed) before the next one runs. Returns 0 when every command
// succeeded, else the exit code of the last one that did not; 1 when the
// file cannot be read.
int RunSession(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
               std::ostream& err, const SessionLineRunner& run_line);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_HOST_SESSION_H_
