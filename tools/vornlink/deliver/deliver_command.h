// `vornlink deliver`: delivers a site's cache without its host. Loads the
// module as a host does, starts the service and lets its worker send until
// no line is due (or for a number of passes, or for a time), printing each
// outcome as the cache file and the driver's log tell it, then stops the
// service and sums up.
//
// The worker's first pass comes at once. Without --passes and --for the
// run also ends after a pass in which the DMS only asked to retry later
// (those lines stay due), and when the worker has sent nothing for longer
// than a pass and an exchange can take. Ctrl+C, SIGTERM, SIGHUP (a terminal
// or an SSH session that closes), a console that closes (Windows) and an
// output that cannot be written any more (a closed pipe) end it the same
// orderly way: the service is stopped, which finishes the exchange in hand
// (within the seconds Windows leaves a closing console).
//
// Exit status:
//   0  every line that was due was delivered
//   1  the module could not be loaded (main.cc), or the cache could not be read
//   2  usage error
//   3  lines were parked in this run: a person must look at them
//   4  lines are still due: the DMS asked to retry later, the passes or the
//      time ran out, the worker sent nothing, or the run was ended (also
//      before the start)
//   5  the delivery lock cannot be taken (a folder in its place, a file this
//      user may not open): no worker can deliver
//   6  another worker (a host's, whose service holds the delivery lock while
//      it runs) delivers this cache: not started, or stopped as soon as its
//      worker found the lock held
#ifndef VORNLINK_TOOLS_VORNLINK_DELIVER_DELIVER_COMMAND_H_
#define VORNLINK_TOOLS_VORNLINK_DELIVER_DELIVER_COMMAND_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "vornlink/base/command_help.h"
#include "vornlink/base/driver.h"

namespace vornlink {

// The command's help, for the program's list of commands (command_list.h).
extern const CommandHelp kDeliverHelp;

// `args` are the words after "deliver": --passes N, --for SECONDS. Starts
// and stops the service of the loaded module itself.
int RunDeliverCommand(const Driver& driver, const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_DELIVER_DELIVER_COMMAND_H_
