// `vornlink cache`: the cache file beside a module, for a person: list its
// lines, show one, release parked lines for another delivery, drop one,
// export all as CSV. Every read and change goes through the cache's own
// locked operations, so it is safe while a host runs and its worker
// delivers from the same file.
//
// A released line ("retry") moves to the end of the file as a due line in
// one replacement of the file: Status 0, an empty Message, a fresh Trid.
// The worker sends it in its next pass, or in the running one when that
// has not reached the end yet.
#ifndef VORNLINK_TOOLS_VORNLINK_CACHE_CACHE_COMMAND_H_
#define VORNLINK_TOOLS_VORNLINK_CACHE_CACHE_COMMAND_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "vornlink/base/command_help.h"

namespace vornlink {

// The command's help, for the program's list of commands (command_list.h).
extern const CommandHelp kCacheHelp;

// `args` are the words after "cache": list [--json] | show LINE | retry
// LINE | retry --all-parked | drop LINE --yes | drop --all-stuck --yes |
// add F1,...,F12 --yes | export, where LINE names a line as
// line_reference.h says. Returns 0 when done, 1 when the cache could not be
// read or changed, or no line (or more than one) is named so, 2 for a
// usage error or a change that waits for --yes.
int RunCacheCommand(const std::string& module_path, const std::vector<std::string>& args,
                    std::ostream& out, std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CACHE_CACHE_COMMAND_H_
