// `vornlink status`: the health of a site in a few lines, for a person or a
// monitoring script: how many transactions are due, waiting to be retried
// and parked, how long the oldest due one has waited, and the last
// delivery and the last failure the driver's log tells of; as text for a
// person, or with --json, --prometheus or --nagios for scripts and
// monitoring agents (status_facts.h).
//
// Exit status, the same in every form, as monitoring plugins give theirs
// (StatusExit, status_facts.h); the first finding that holds decides, in
// this order (Finding):
//   3 UNKNOWN   the site cannot be judged: the module or its settings
//               document is missing (a folder that is no site), or the
//               cache cannot be read; also a usage error, and --output
//               FILE that could not be written
//   2 CRITICAL  the log is refused (a link another user could have
//               planted), so the driver writes no entries; the delivery
//               lock cannot be taken (it is a folder, or this user may not
//               open it: judged with the rights of the user who runs the
//               command), so no worker can deliver at all; the log tells of
//               transactions the driver could not write to the cache and
//               has not written since (unwritten_tally.h); the cache's
//               reserve for a full disk is given up in part or cannot be
//               used (cache/cache_reserve.h); transactions are parked,
//               stuck or of unknown outcome: a person must look at them
//   1 WARNING   a due transaction has waited longer than the limit since
//               its dispense (AgeOfLine, cache/cache_record.h), or is dated
//               in the future: the host's worker is not delivering (the
//               host is down, or its driver does not get on), or the DMS
//               keeps asking to retry
//   0 OK        all well
#ifndef VORNLINK_TOOLS_VORNLINK_STATUS_STATUS_COMMAND_H_
#define VORNLINK_TOOLS_VORNLINK_STATUS_STATUS_COMMAND_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "vornlink/base/command_help.h"

namespace vornlink {

// The command's help, for the program's list of commands (command_list.h).
extern const CommandHelp kStatusHelp;

// A due transaction older than this is stale, unless --stale says otherwise.
inline constexpr int kDefaultStaleMinutes = 15;

// `args` are the words after "status": --stale MINUTES, one of --json,
// --prometheus and --nagios, and with a machine form --output FILE, which
// puts the output in FILE's place in one step (Env::ReplaceTextFile)
// instead of on `out`; one of the driver's own files is refused. Complaints
// go to `err`.
int RunStatusCommand(const std::string& module_path, const std::vector<std::string>& args,
                     std::ostream& out, std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_STATUS_STATUS_COMMAND_H_
