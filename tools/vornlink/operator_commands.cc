#include "vornlink/operator_commands.h"

#include <ostream>

#include "vornlink/cache_command.h"
#include "vornlink/check_command.h"
#include "vornlink/status_command.h"
#include "vornlink/try_command.h"

namespace vornlink {

bool IsOperatorCommand(const std::string& command) {
  return command == "check" || command == "try" || command == "cache" || command == "status";
}

int RunOperatorCommand(const std::string& module_path, const std::vector<std::string>& words,
                       std::ostream& out, std::ostream& err) {
  const std::string& command = words[0];
  const std::vector<std::string> args(words.begin() + 1, words.end());
  if (command == "check") return RunCheckCommand(module_path, args, out, err);
  if (command == "try") return RunTryCommand(module_path, args, out, err);
  if (command == "cache") return RunCacheCommand(module_path, args, out, err);
  return RunStatusCommand(module_path, args, out, err);
}

void PrintOperatorUsage(std::ostream& out) {
  out << "\n"
         "operator commands (they run the driver's own code for the module's folder and\n"
         "do not load the module; safe while a host runs):\n"
         "  check [--transaction F1,...,F12] [--job JOBNO] [--json]\n"
         "                           check the INI file and the settings document beside\n"
         "                           the module without sending anything; --json: only\n"
         "                           the problems and warnings, with file and line; exit\n"
         "                           0 the driver can work with them (warnings allowed),\n"
         "                           1 it would fail, 2 wrong arguments\n"
         "  try [--transaction F1,...,F12] [--job JOBNO] [--only forward|validate]\n"
         "      [--verbose]          one real job validation and one real forward\n"
         "                           transaction with the DMS (a real booking!), shown\n"
         "                           step by step; the cache and the log stay untouched\n"
         "  cache list [--json]      the cache's lines: number, Trid, state, job,\n"
         "                           quantity, age, failure line\n"
         "  cache show LINE          every field of one line; LINE is its Trid, its\n"
         "                           number in cache list or its TransNo where no other\n"
         "                           line has it (--line N, --trans-no T say which)\n"
         "  cache retry LINE|--all-parked [--yes]\n"
         "                           make parked lines due again (each moves to the end\n"
         "                           with a new Trid); --yes also for those the DMS may\n"
         "                           have booked (their time limit ran out)\n"
         "  cache drop LINE|--all-stuck --yes\n"
         "                           remove one line, or every stuck one, for good (each\n"
         "                           is printed and logged)\n"
         "  cache add F1,...,F12 --yes\n"
         "                           enter again a transaction the log says the driver\n"
         "                           could not write to the cache and lost\n"
         "  cache export             every line as CSV on standard output (a cell that\n"
         "                           would run as a formula gets a leading ')\n"
         "                           each cache command exits 0 done, 1 the cache could\n"
         "                           not be read or changed, or LINE names no line or\n"
         "                           several, 2 wrong arguments or --yes missing\n"
         "  status [--stale MIN] [--json|--prometheus]\n"
         "                           counts, the oldest due transaction, the last\n"
         "                           delivery and failure in the log; as JSON, or as\n"
         "                           metrics for a node exporter's textfile collector;\n"
         "                           exit (in every form) 0 all well, 1 the driver's\n"
         "                           files missing or the cache unreadable, 2 wrong\n"
         "                           arguments, 3 parked or stuck lines or transactions\n"
         "                           the driver could not write to the cache, 4 a due line\n"
         "                           waiting longer than MIN minutes (15) since its\n"
         "                           dispense, 5 the delivery lock cannot be taken\n"
         "  dms [OPTIONS]            the emulated DMS (vornlink dms --help); needs no\n"
         "                           module\n";
}

}  // namespace vornlink
