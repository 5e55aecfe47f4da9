#include "vornlink/host/session.h"

#include <filesystem>
#include <fstream>
#include <iostream>

#include "vornlink/base/exit_codes.h"

namespace vornlink {
namespace {

int Session(const Driver& driver, std::istream& in, std::ostream& out, std::ostream& err,
            const SessionLineRunner& run_line) {
  int status = kExitOk;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> words = SplitWords(line);
    if (words.empty() || words[0][0] == '#') continue;
    const CommandLine command = ReadCommandLine(words);
    DiscardingStream discarded;
    std::ostream& command_out = command.quiet ? discarded : out;
    int result;
    if (command.help) {
      result = run_line(driver, command, command_out, err);
    } else if (command.words.empty()) {
      continue;  // -q alone
    } else if (command.words[0] == "session") {
      err << "vornlink: a session cannot hold another session\n";
      result = kExitFailed;
    } else {
      result = run_line(driver, command, command_out, err);
    }
    if (result != kExitOk) status = result;
    // Each command's answer is out before the next one runs: a script that
    // watches the session (or a host that dies) sees what was done.
    out.flush();
  }
  return status;
}

}  // namespace

const CommandHelp kSessionHelp = {
    "session",
    CommandGroup::kHost,
    "session [FILE]",
    "run one command per line of FILE (or standard\n"
    "input) against the same loaded module",
    "A line is a command with its arguments, as on the command line (double\n"
    "quotes group a word); '#' starts a comment line. -q and --help work per\n"
    "line.\n",
    "0 every command succeeded, else the status of the last one that did\n"
    "not; 1 also when FILE cannot be read; 3 when a transaction handed over\n"
    "is not in the cache at the end (named whole on standard error)",
    nullptr};

int RunSession(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
               std::ostream& err, const SessionLineRunner& run_line) {
  if (words.size() == 1) return Session(driver, std::cin, out, err, run_line);
  std::error_code error;
  std::ifstream in;
  if (std::filesystem::is_regular_file(words[1], error)) in.open(words[1], std::ios::binary);
  if (!in.is_open()) {
    err << "vornlink: cannot read " << words[1] << ": not a readable file\n";
    return kExitFailed;
  }
  return Session(driver, in, out, err, run_line);
}

}  // namespace vornlink
