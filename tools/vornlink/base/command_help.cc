#include "vornlink/base/command_help.h"

#include <ostream>

#include "vornlink/host/host_commands.h"

namespace vornlink {
namespace {

// Where the general usage starts a command's summary.
constexpr size_t kSummaryColumn = 27;

constexpr char kForwardExit[] =
    "0 handed over (the gates may have dropped it: the log says), 1 the\n"
    "module cannot be loaded, 2 usage error, 3 the transaction is not in the\n"
    "cache (named whole on standard error)";

// One entry per command, in the order of the general usage. A new command
// adds its entry here; a new option goes into its command's entry.
constexpr CommandHelp kCommandHelp[] = {
    {"start", CommandGroup::kHost, "start", "start the service (ExecuteService)", "", nullptr},
    {"stop", CommandGroup::kHost, "stop", "stop the service (StopService)", "", nullptr},
    {"forward", CommandGroup::kHost, "forward F1 ... F12",
     "forward one transaction (ForwardTransaction2):\n"
     "TransNo JobNo Date Time UserId Field04 Field05\n"
     "FluidKey FluidName FluidPartNo Quantity Field08",
     "", kForwardExit},
    {"forward11", CommandGroup::kHost, "forward11 F1 ... F11",
     "the short form (ForwardTransaction): the same\n"
     "fields without FluidPartNo",
     "", kForwardExit},
    {"forward-csv", CommandGroup::kHost, "forward-csv FILE",
     "one transaction per line of FILE, 12 (or 11)\n"
     "comma-separated fields; '#' starts a comment line",
     "",
     "0 every line forwarded, 1 a line rejected (named on standard error),\n"
     "FILE unreadable or the module cannot be loaded, 2 usage error, 3 a\n"
     "transaction is not in the cache (named whole on standard error)"},
    {"validate", CommandGroup::kHost, "validate JOBNO",
     "ask whether a job number is valid; prints 1 or 0", "", nullptr},
    {"validate-async", CommandGroup::kHost, "validate-async JOBNO [MS]",
     "the same through a callback, waiting up to MS\n"
     "milliseconds (30000) for it",
     "",
     "0 the callback came (its result and job number are printed), 1 it did\n"
     "not come within MS or the module cannot be loaded, 2 usage error"},
    {"name", CommandGroup::kHost, "name", "print the service name (GetServiceName)", "", nullptr},
    {"api-version", CommandGroup::kHost, "api-version", "print the API version (GetAPIVersion)", "",
     nullptr},
    {"properties", CommandGroup::kHost, "properties", "show the settings list dialog", "", nullptr},
    {"server", CommandGroup::kHost, "server", "show the emulated DMS server dialog", "", nullptr},
    {"session", CommandGroup::kHost, "session [FILE]",
     "run one command per line of FILE (or standard\n"
     "input) against the same loaded module",
     "A line is a command with its arguments, as on the command line (double\n"
     "quotes group a word); '#' starts a comment line. -q and --help work per\n"
     "line.\n",
     "0 every command succeeded, else the status of the last one that did\n"
     "not; 1 also when FILE cannot be read; 3 when a transaction handed over\n"
     "is not in the cache at the end (named whole on standard error)"},
    {"sleep", CommandGroup::kHost, "sleep MS",
     "wait MS milliseconds (in a session: let the\n"
     "service work)",
     "", nullptr},
    {"deliver", CommandGroup::kHost, "deliver [--passes N] [--for SECONDS]",
     "start the service, let its worker deliver the\n"
     "cache, print each outcome, stop",
     "The first pass comes at once. Ends when no line is due; without options\n"
     "also after a pass in which the DMS only asked to retry later, or could\n"
     "not be reached. Ctrl+C, SIGTERM, SIGHUP, an output that cannot be\n"
     "written any more and (Windows) a console that closes end it too: the\n"
     "exchange in hand is finished first. Refused while a host's service runs\n"
     "on the same cache.\n"
     "\n"
     "  --passes N    after N passes of the worker\n"
     "  --for SECONDS after SECONDS (and at most 10 s more for the stop, which\n"
     "                finishes an exchange under way)\n",
     "0 everything due was delivered (or nothing was due), 1 the module or\n"
     "the cache cannot be used, 2 usage error, 3 lines were parked or are of\n"
     "unknown outcome, 4 lines are still due (the DMS asked to retry, cannot\n"
     "be reached, or the run ended), 5 the delivery lock cannot be taken, 6 a\n"
     "host's service delivers this cache (not started, or stopped)"},
    {"check", CommandGroup::kOperator,
     "check [--transaction F1,...,F12] [--job JOBNO] [--json]",
     "check the INI file and the settings document\n"
     "beside the module without sending anything",
     "  --transaction F1,...,F12\n"
     "                the sample transaction whose query is rendered (default: a\n"
     "                made-up one on the job number)\n"
     "  --job JOBNO   the sample job number (default: the transaction's, else\n"
     "                one of work order 118739 in the driver's format)\n"
     "  --json        only the problems and warnings, each with its file and\n"
     "                line, as JSON\n",
     "0 nothing found that makes the driver fail (warnings allowed), 1\n"
     "something was, 2 usage error"},
    {"try", CommandGroup::kOperator,
     "try [--transaction F1,...,F12] [--job JOBNO] [--only forward|validate]\n"
     "    [--verbose]",
     "one real job validation and one real forward\n"
     "transaction with the DMS (a real booking!), shown\n"
     "step by step; the cache and the log stay untouched",
     "  --transaction F1,...,F12, --job JOBNO\n"
     "                   the samples, as for check\n"
     "  --only forward|validate\n"
     "                   only that exchange\n"
     "  --verbose        every log line of the exchanges\n",
     "0 the job was VALID and the transaction a SUCCESS (of those tried),\n"
     "1 otherwise, 2 usage error"},
    {"cache", CommandGroup::kOperator,
     "cache list [--json]\n"
     "cache show LINE\n"
     "cache retry LINE|--all-parked [--yes]\n"
     "cache drop LINE|--all-stuck --yes\n"
     "cache add F1,...,F12 --yes\n"
     "cache export",
     "the cache's lines: list them, show one, make\n"
     "parked ones due again, drop one, enter a lost one\n"
     "again, export all",
     "LINE is a Trid, a line number that cache list prints, or a TransNo that\n"
     "no other line has (--line N and --trans-no T say which is meant).\n"
     "\n"
     "  list          the cache's lines: number, Trid, state, job, quantity, age,\n"
     "                failure line; --json: every field, as JSON\n"
     "  show          every field of one line\n"
     "  retry         make parked lines due again (each moves to the end with a\n"
     "                new Trid); --yes also for one the DMS may have booked\n"
     "                (outcome unknown: a time limit or a stop ended its exchange\n"
     "                after the query went out)\n"
     "  drop          remove one line, or every stuck one, for good (each is\n"
     "                printed and logged)\n"
     "  add           enter again a transaction the log says the driver could not\n"
     "                write to the cache and lost\n"
     "  export        every line as CSV on standard output (a cell that would run\n"
     "                as a formula gets a leading ')\n",
     "0 done, 1 the cache could not be read or changed, or LINE names no\n"
     "line or several, 2 usage error or --yes missing"},
    {"status", CommandGroup::kOperator, "status [--stale MIN] [--json|--prometheus]",
     "counts, the oldest due transaction, the last\n"
     "delivery and failure in the log",
     "  --stale MIN   a due line waiting longer than MIN minutes (15) since its\n"
     "                dispense is stale\n"
     "  --json        the same as JSON\n"
     "  --prometheus  the same as metrics for a node exporter's textfile\n"
     "                collector\n",
     "(in every form) 0 all well, 1 the driver's files missing, the cache\n"
     "unreadable or the log refused, 3 parked, stuck or unknown lines,\n"
     "transactions the driver could not write to the cache, or the cache's\n"
     "reserve for a full disk given up, 4 a stale due line, 5 the delivery\n"
     "lock cannot be taken; 2 usage error"},
    {"dms", CommandGroup::kOperator, "dms [OPTIONS]",
     "the emulated DMS: answers every request with one\n"
     "reply, or one by rules; needs no module",
     "Runs until --count requests are answered, or until SIGINT or SIGTERM\n"
     "(then it prints how many it answered). Serves several connections at\n"
     "once, each within its time limit (the start line says how many); more\n"
     "wait for a free one. The job replies list three lines of the work order\n"
     "in the request's first RONumber element, one of them with the line code\n"
     "in its first LineCode element (without them: work order 118739, lines\n"
     "A, B and C).\n"
     "\n"
     "  --port N            port to listen on (9123; 0: any free port, printed)\n"
     "  --address A         local address (0.0.0.0: every one)\n"
     "  --reply NAME        canned reply: job-valid, job-notvalid, fwt-success\n"
     "                      (the default), fwt-retry, fwt-failed\n"
     "  --reply-file FILE   reply with the bytes of FILE instead\n"
     "  --reply-when TEXT NAME\n"
     "                      answer a request that holds TEXT with the canned reply\n"
     "                      NAME instead (may be given several times; the first\n"
     "                      that matches wins): one DMS for both exchanges, as in\n"
     "                      --reply fwt-success --reply-when RONumber job-valid\n"
     "  --drop-repeats TEXT book each key once: the key is what follows TEXT in the\n"
     "                      request (in HTTP, in its headers, then its body), e.g.\n"
     "                      'Idempotency-Key:' or '<MessageID>'; a request whose key\n"
     "                      was answered before is a repeat: logged, counted, and\n"
     "                      answered as the first was\n"
     "  --http              speak HTTP: the request body is the query, the reply\n"
     "                      goes back as a 200 response (default: the TCP\n"
     "                      transport's convention, text + NUL each way)\n"
     "  --https --cert FILE --key FILE\n"
     "                      HTTP inside TLS with that PEM certificate and key\n"
     "                      (Linux build only)\n"
     "  --log FILE          log requests to FILE instead of standard output\n"
     "  --show-secrets      log the values of credential headers (Authorization,\n"
     "                      cookies, keys, tokens) as they came; masked otherwise\n"
     "  --count N           stop after N answered requests\n"
     "  --time-limit MS     per connection, for its request and reply (5000)\n",
     "0 after --count requests or a stop by a signal, 1 it cannot serve (the\n"
     "port is taken, say), 2 usage error"},
};

const char* GroupHeading(CommandGroup group) {
  switch (group) {
    case CommandGroup::kHost:
      return "commands that load the module and call its exports:";
    case CommandGroup::kOperator:
      break;
  }
  return "operator commands (they run the driver's own code for the module's folder\n"
         "and do not load it; safe while a host runs):";
}

// Writes `text` a line at a time, each line after `indent`.
void PrintIndented(const char* text, const std::string& indent, std::ostream& out) {
  const std::string lines = text;
  size_t start = 0;
  while (start < lines.size()) {
    size_t end = lines.find('\n', start);
    if (end == std::string::npos) end = lines.size();
    out << indent << lines.substr(start, end - start) << "\n";
    start = end + 1;
  }
}

// "  SYNOPSIS   SUMMARY": the summary beside a form that stands alone on a
// short line, else below the forms.
void PrintOutline(const CommandHelp& help, std::ostream& out) {
  const std::string synopsis = help.synopsis;
  const size_t last_line = synopsis.rfind('\n') + 1;  // 0 for one line
  PrintIndented(synopsis.substr(0, last_line).c_str(), "  ", out);
  std::string last = "  " + synopsis.substr(last_line);
  const std::string column(kSummaryColumn, ' ');
  std::string summary = help.summary;
  if (last_line == 0 && last.size() < kSummaryColumn) {
    const size_t first_end = summary.find('\n');
    out << last << std::string(kSummaryColumn - last.size(), ' ') << summary.substr(0, first_end)
        << "\n";
    summary = first_end == std::string::npos ? "" : summary.substr(first_end + 1);
  } else {
    out << last << "\n";
  }
  PrintIndented(summary.c_str(), column, out);
}

}  // namespace

const CommandHelp* FindCommandHelp(const std::string& command) {
  for (const CommandHelp& help : kCommandHelp) {
    if (command == help.name) return &help;
  }
  return nullptr;
}

void PrintUsage(std::ostream& out) {
  out << "usage: vornlink [-m PATH] [-q] COMMAND [ARGUMENTS]\n"
         "       vornlink help COMMAND     the command's options and exit status\n"
         "       vornlink --version\n"
         "\n"
         "Loads the driver module as a host does and drives it, or works on the\n"
         "module's folder for an operator.\n"
         "\n"
         "  -m, --module PATH  the module: PATH, else $VORNLINK_MODULE, else the one\n"
         "                     beside this program\n"
         "  -q, --quiet        no standard output, only the exit status and complaints\n"
         "                     (also after the command)\n"
         "  --version          this program's version and the module's\n"
         "  -h, --help         this text; after a command, the command's help\n"
         "Every option takes its value as --option VALUE or --option=VALUE.\n";
  for (CommandGroup group : {CommandGroup::kHost, CommandGroup::kOperator}) {
    out << "\n" << GroupHeading(group) << "\n";
    for (const CommandHelp& help : kCommandHelp) {
      if (help.group == group) PrintOutline(help, out);
    }
  }
}

void PrintSynopsis(const CommandHelp& help, std::ostream& out) {
  const std::string synopsis = help.synopsis;
  size_t start = 0;
  const char* lead = "usage: vornlink ";
  while (start < synopsis.size()) {
    size_t end = synopsis.find('\n', start);
    if (end == std::string::npos) end = synopsis.size();
    // A line that starts with a blank goes on with the form above it.
    const bool continued = synopsis[start] == ' ';
    out << (continued ? "                " : lead) << synopsis.substr(start, end - start) << "\n";
    lead = "       vornlink ";
    start = end + 1;
  }
}

void PrintCommandHelp(const CommandHelp& help, std::ostream& out) {
  PrintSynopsis(help, out);
  out << "\n";
  PrintIndented(help.summary, "", out);
  if (*help.options != '\0') {
    out << "\n";
    PrintIndented(help.options, "", out);
  }
  out << "\nexit status:\n";
  PrintIndented(help.exit_status != nullptr ? help.exit_status : kHostExitStatus, "  ", out);
}

int ShowHelp(const std::string& command, std::ostream& out, std::ostream& err) {
  if (command.empty()) {
    PrintUsage(out);
    return kExitOk;
  }
  const CommandHelp* help = FindCommandHelp(command);
  if (help == nullptr) {
    err << "vornlink: unknown command " << command << "; see vornlink --help\n";
    return kExitUsage;
  }
  PrintCommandHelp(*help, out);
  return kExitOk;
}

}  // namespace vornlink
