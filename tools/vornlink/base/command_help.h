// The help of the program's commands: one entry per command, kept beside
// the command, from which the general usage (`vornlink --help`), the
// command's own help (`vornlink help COMMAND`, `vornlink COMMAND --help`),
// the manual page and the bash completion are all made (the program's list
// of commands, command_list.h, holds the entries), so that they cannot
// disagree.
//
// The entries are constants of static storage: nothing here owns or frees
// them. The printing functions write to `out` only (its errors stay the
// caller's), never fail, and are thread-safe as far as `out` is the
// caller's own.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_COMMAND_HELP_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_COMMAND_HELP_H_

#include <iosfwd>
#include <string>
#include <vector>

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
  // Its paragraph in the manual page's list of commands, in the manual's
  // markup; null for a host's call, which the manual lists with the others.
  const char* manual;
  // The options that take one of a few words, for the bash completion: a
  // line each, the option and then its words ("--only forward validate\n").
  const char* option_values = nullptr;
};

// The exit status of a host command that only reports an export's answer.
inline constexpr const char kHostExitStatus[] =
    "0 done, 1 the module cannot be loaded, 2 usage error";

// The general usage: the program's options and the synopsis and summary
// of each command of `commands`, in their order within each group.
void PrintUsage(const std::vector<const CommandHelp*>& commands, std::ostream& out);

// The forms of one command, as "usage: vornlink FORM" lines.
void PrintSynopsis(const CommandHelp& help, std::ostream& out);

// The help of one command: its synopsis, summary, options and exit status.
void PrintCommandHelp(const CommandHelp& help, std::ostream& out);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_COMMAND_HELP_H_
