// `vornlink dms`: the emulated DMS without a dialog, for operators and
// tests. It needs no driver module.
#ifndef VORNLINK_TOOLS_VORNLINK_DMS_COMMAND_H_
#define VORNLINK_TOOLS_VORNLINK_DMS_COMMAND_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace vornlink {

// Runs the emulated DMS with `args` (the words after "dms"); see
// PrintDmsUsage. Each request and its outcome is logged to `out` (or the
// --log file); complaints go to `err`. Returns the program's exit code:
// 0 after --count requests or a clean stop, 1 when it cannot serve, 2 for a
// usage error.
int RunDmsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

void PrintDmsUsage(std::ostream& out);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_DMS_COMMAND_H_
