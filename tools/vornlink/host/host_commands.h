// The host's calls: one command per export of the loaded module (start,
// stop, forward, forward11, forward-csv, validate, validate-async, name,
// api-version, properties, server) and sleep, which lets the service work
// in a session. Each takes `words`, the command and its arguments as the
// program's conventions left them (command_line.h), prints the export's
// answer to `out` and complaints to `err`, and returns the exit code. A
// usage error is found before any export is called.
#ifndef VORNLINK_TOOLS_VORNLINK_HOST_HOST_COMMANDS_H_
#define VORNLINK_TOOLS_VORNLINK_HOST_HOST_COMMANDS_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "vornlink/base/command_help.h"
#include "vornlink/base/driver.h"

namespace vornlink {

// The commands' help, for the program's list of commands (command_list.h).
extern const CommandHelp kStartHelp;
extern const CommandHelp kStopHelp;
extern const CommandHelp kForwardHelp;
extern const CommandHelp kForward11Help;
extern const CommandHelp kForwardCsvHelp;
extern const CommandHelp kValidateHelp;
extern const CommandHelp kValidateAsyncHelp;
extern const CommandHelp kNameHelp;
extern const CommandHelp kApiVersionHelp;
extern const CommandHelp kPropertiesHelp;
extern const CommandHelp kServerHelp;
extern const CommandHelp kSleepHelp;

// ExecuteService; marks the service as started by this program.
int RunStart(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
             std::ostream& err);
int RunStop(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
            std::ostream& err);
// forward (12 fields) and forward11 (11): one transaction, then how many
// went into the cache and where the gates' verdicts are.
int RunForward(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
               std::ostream& err);
// One transaction per line of a CSV file.
int RunForwardCsv(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
                  std::ostream& err);
int RunValidate(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
                std::ostream& err);
// The validation through the callback, waited for up to a time.
int RunValidateAsync(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
                     std::ostream& err);
int RunName(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
            std::ostream& err);
int RunApiVersion(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
                  std::ostream& err);
int RunProperties(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
                  std::ostream& err);
int RunServer(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
              std::ostream& err);
int RunSleep(const Driver& driver, const std::vector<std::string>& words, std::ostream& out,
             std::ostream& err);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_HOST_HOST_COMMANDS_H_
