// The help of the program's commands: one entry per command, from which the
// general usage (`vornlink --help`) and the command's own help (`vornlink
// help COMMAND`, `vornlink COMMAND --help`) are both printed, so that the
// two cannot disagree. A command gets its help by its entry in kCommandHelp
// (command_help.cc); a command without one has no help and is reported as
// unknown by `help`.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_COMMAND_HELP_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_COMMAND_HELP_H_

#include <iosfwd>
#include <string>

namespace vornlink {

// Where the general usage lists a command.
enum class CommandGroup {
  kHost,      // loads the module and calls its exports
  kOperator,  // runs the driver's own code for the module's folder
};

struct CommandHelp {
  const char* name;  // the command's word: "cache"
  CommandGroup group;
  // Its forms, one a line, each beginning with the command's word; a line
  // that begins with a blank continues the form above it.
  const char* synopsis;
  // What it does, in lines of at most 50 characters: the general usage
  // shows them beside the synopsis, the command's help below it.
  const char* summary;
  // Its options and their values, or other notes, as printed (may be
  // empty).
  const char* options;
  // What each exit status means; null for the host commands' common one
  // (kHostExitStatus).
  const char* exit_status;
};

// The exit status of a host command that only reports an export's answer.
inline constexpr const char kHostExitStatus[] =
    "0 done, 1 the module cannot be loaded, 2 usage error";

// The entry of `command`; null when it has none.
const CommandHelp* FindCommandHelp(const std::string& command);

// The general usage: the program's options and every command's synopsis
// and summary.
void PrintUsage(std::ostream& out);

// The forms of one command, as "usage: vornlink FORM" lines.
void PrintSynopsis(const CommandHelp& help, std::ostream& out);

// The help of one command: its synopsis, summary, options and exit status.
void PrintCommandHelp(const CommandHelp& help, std::ostream& out);

// The help asked for: the general usage when `command` is empty, else that
// command's help. Returns the exit status: 0, or 2 (with a complaint in
// `err`) for a command that has none.
int ShowHelp(const std::string& command, std::ostream& out, std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_COMMAND_HELP_H_
