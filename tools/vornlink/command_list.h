// The program's commands, in one list: each with its help, what it needs to
// run and the function that runs it. The program's dispatch, the general
// usage, `help COMMAND`, the manual page and the bash completion (both made
// from this list when the program is built, see manual_pages.cc) all come
// from it, so that they cannot disagree. A new command is a new entry here,
// in the place where the general usage shows it.
#ifndef VORNLINK_TOOLS_VORNLINK_COMMAND_LIST_H_
#define VORNLINK_TOOLS_VORNLINK_COMMAND_LIST_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "vornlink/base/command_help.h"
#include "vornlink/base/driver.h"

namespace vornlink {

// What a command needs before it runs.
enum class CommandNeeds {
  kLoadedModule,  // the module loaded, its exports in Driver::api
  kModuleFolder,  // only the module's path: it runs the driver's own code
                  // for the module's folder (site_env.h)
  kNothing,       // no module at all; runs from the program's command line
                  // only, never in a session
};

// Runs the command: `words` are the command and its arguments.
using CommandRunner = int (*)(const Driver& driver, const std::vector<std::string>& words,
                              std::ostream& out, std::ostream& err);

struct Command {
  const CommandHelp* help;  // help->name is the command's word
  CommandNeeds needs;
  CommandRunner run;
};

// Every command, in the order of the general usage.
const std::vector<Command>& Commands();

// The entry of `name`; null when there is none.
const Command* FindCommand(const std::string& name);

// Runs one command (`words[0]`) with its arguments, read by the program's
// conventions already (command_line.h), for the module of `driver`
// (loaded, unless the command needs only its folder). Output goes to
// `out`, complaints to `err`. An unknown command, and one that needs no
// module, is a usage error.
int RunCommand(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
               std::ostream& err);

// The general usage (`vornlink --help`).
void PrintUsage(std::ostream& out);

// The help asked for: the general usage when `command` is empty, else that
// command's help. Returns the exit status: 0, or 2 (with a complaint in
// `err`) for a command that is not in the list.
int ShowHelp(const std::string& command, std::ostream& out, std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_COMMAND_LIST_H_
