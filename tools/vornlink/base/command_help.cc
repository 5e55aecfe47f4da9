#include "vornlink/base/command_help.h"

#include <ostream>

namespace vornlink {
namespace {

// Where the general usage starts a command's summary.
constexpr size_t kSummaryColumn = 27;

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

void PrintUsage(const std::vector<const CommandHelp*>& commands, std::ostream& out) {
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
    for (const CommandHelp* help : commands) {
      if (help->group == group) PrintOutline(*help, out);
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

}  // namespace vornlink
