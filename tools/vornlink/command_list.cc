#include "vornlink/command_list.h"

#include <ostream>

#include "vornlink/base/exit_codes.h"
#include "vornlink/cache/cache_command.h"
#include "vornlink/check/check_command.h"
#include "vornlink/deliver/deliver_command.h"
#include "vornlink/dms/dms_command.h"
#include "vornlink/host/host_commands.h"
#include "vornlink/host/session.h"
#include "vornlink/status/status_command.h"
#include "vornlink/trace/trace_command.h"
#include "vornlink/try/try_command.h"

namespace vornlink {
namespace {

std::vector<std::string> Arguments(const std::vector<std::string>& words) {
  return {words.begin() + 1, words.end()};
}

// The commands that take the module's path and their arguments, or only
// their arguments, and the session, which runs each line's command by this
// list.
int Check(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
          std::ostream& err) {
  return RunCheckCommand(driver.module_path, Arguments(words), out, err);
}
int Try(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
        std::ostream& err) {
  return RunTryCommand(driver.module_path, Arguments(words), out, err);
}
int Cache(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
          std::ostream& err) {
  return RunCacheCommand(driver.module_path, Arguments(words), out, err);
}
int Status(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
           std::ostream& err) {
  return RunStatusCommand(driver.module_path, Arguments(words), out, err);
}
int Trace(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
          std::ostream& err) {
  return RunTraceCommand(driver.module_path, Arguments(words), out, err);
}
int Deliver(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
            std::ostream& err) {
  return RunDeliverCommand(driver, Arguments(words), out, err);
}
int Dms(const Driver&, const std::vector<std::string>& words, std::ostream& out,
        std::ostream& err) {
  return RunDmsCommand(Arguments(words), out, err);
}
int SessionLine(const Driver& driver, const CommandLine& line, std::ostream& out,
                std::ostream& err) {
  if (line.help) return ShowHelp(line.words.empty() ? "" : line.words[0], out, err);
  return RunCommand(driver, line.words, out, err);
}
int Session(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
            std::ostream& err) {
  return RunSession(driver, words, out, err, SessionLine);
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {&kStartHelp, CommandNeeds::kLoadedModule, RunStart},
      {&kStopHelp, CommandNeeds::kLoadedModule, RunStop},
      {&kForwardHelp, CommandNeeds::kLoadedModule, RunForward},
      {&kForward11Help, CommandNeeds::kLoadedModule, RunForward},
      {&kForwardCsvHelp, CommandNeeds::kLoadedModule, RunForwardCsv},
      {&kValidateHelp, CommandNeeds::kLoadedModule, RunValidate},
      {&kValidateAsyncHelp, CommandNeeds::kLoadedModule, RunValidateAsync},
      {&kNameHelp, CommandNeeds::kLoadedModule, RunName},
      {&kApiVersionHelp, CommandNeeds::kLoadedModule, RunApiVersion},
      {&kPropertiesHelp, CommandNeeds::kLoadedModule, RunProperties},
      {&kServerHelp, CommandNeeds::kLoadedModule, RunServer},
      {&kSessionHelp, CommandNeeds::kLoadedModule, Session},
      {&kSleepHelp, CommandNeeds::kLoadedModule, RunSleep},
      {&kDeliverHelp, CommandNeeds::kLoadedModule, Deliver},
      {&kCheckHelp, CommandNeeds::kModuleFolder, Check},
      {&kTryHelp, CommandNeeds::kModuleFolder, Try},
      {&kCacheHelp, CommandNeeds::kModuleFolder, Cache},
      {&kStatusHelp, CommandNeeds::kModuleFolder, Status},
      {&kTraceHelp, CommandNeeds::kModuleFolder, Trace},
      {&kDmsHelp, CommandNeeds::kNothing, Dms},
  };
  return commands;
}

const Command* FindCommand(const std::string& name) {
  for (const Command& command : Commands()) {
    if (name == command.help->name) return &command;
  }
  return nullptr;
}

int RunCommand(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
               std::ostream& err) {
  const Command* command = FindCommand(words[0]);
  if (command == nullptr || command->needs == CommandNeeds::kNothing) {
    err << "vornlink: unknown command " << words[0] << "; see vornlink --help\n";
    return kExitUsage;
  }
  return command->run(driver, words, out, err);
}

void PrintUsage(std::ostream& out) {
  std::vector<const CommandHelp*> helps;
  for (const Command& command : Commands()) helps.push_back(command.help);
  PrintUsage(helps, out);
}

int ShowHelp(const std::string& command, std::ostream& out, std::ostream& err) {
  if (command.empty() || command == "help") {  // "help help": the usage tells of help too
    PrintUsage(out);
    return kExitOk;
  }
  const Command* entry = FindCommand(command);
  if (entry == nullptr) {
    err << "vornlink: unknown command " << command << "; see vornlink --help\n";
    return kExitUsage;
  }
  PrintCommandHelp(*entry->help, out);
  return kExitOk;
}

}  // namespace vornlink
