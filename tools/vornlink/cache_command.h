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
#ifndef VORNLINK_TOOLS_VORNLINK_CACHE_COMMAND_H_
#define VORNLINK_TOOLS_VORNLINK_CACHE_COMMAND_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace vornlink {

// `args` are the words after "cache": list | show TRID | retry TRID |
// retry --all-parked | drop TRID --yes | export. Returns 0 when done, 1
// when the cache could not be read or changed or the Trid was not found,
// 2 for a usage error.
int RunCacheCommand(const std::string& module_path, const std::vector<std::string>& args,
                    std::ostream& out, std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CACHE_COMMAND_H_
