// vornlink: loads the driver module the way a host does and drives it.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "settings/version_text.h"
#include "vornlink/base/command_line.h"
#include "vornlink/base/driver.h"
#include "vornlink/base/driver_api.h"
#include "vornlink/base/exit_codes.h"
#include "vornlink/base/filtered_stream.h"
#include "vornlink/base/site_env.h"
#include "vornlink/command_list.h"
#include "vornlink_version.h"

namespace {

#if defined(_WIN32)
constexpr const char* kModuleFile = "Vornlink.dll";
constexpr const char* kFolderSeparators = "\\/";
#else
constexpr const char* kModuleFile = "Vornlink.so";
constexpr const char* kFolderSeparators = "/";
#endif

// The module beside the program.
std::string ModuleBesideProgram(const std::string& program) {
  size_t folder_end = program.find_last_of(kFolderSeparators);
  if (folder_end == std::string::npos) return kModuleFile;
  return program.substr(0, folder_end + 1) + kModuleFile;
}

// This program's version, and the module's as its service name gives it
// (or why it cannot be loaded).
int PrintVersion(const std::string& module_path, std::ostream& out) {
  vornlink::FileVersion version;
  version.major = VORNLINK_VERSION_MAJOR;
  version.minor = VORNLINK_VERSION_MINOR;
  version.third = VORNLINK_VERSION_PATCH;
  version.fourth = VORNLINK_VERSION_TWEAK;
  out << "vornlink " << vornlink::FormatVersionText(version) << " (" << VORNLINK_VERSION_STRING
      << ")\n";
  vornlink::DriverApi api;
  std::string error;
  std::unique_ptr<vornlink::LoadedModule> module = vornlink::LoadDriver(module_path, &api, &error);
  out << "module " << module_path << ": ";
  if (module == nullptr) {
    out << "cannot be loaded: " << error << "\n";
  } else {
    const char* name = api.get_service_name();
    out << (name != nullptr ? name : "") << "\n";
  }
  return vornlink::kExitOk;
}

// The program's own options, which stand before the command (-q and
// --help may also stand anywhere after it, command_line.h).
struct ProgramOptions {
  std::string module_path;
  bool version = false;
  bool quiet = false;
  bool help = false;
};

// Takes the program's options off the front of `args`; false with a
// complaint for a usage error.
bool TakeProgramOptions(std::vector<std::string>* args, ProgramOptions* options) {
  while (!args->empty() && (*args)[0].size() > 1 && (*args)[0][0] == '-') {
    const std::string option = (*args)[0];
    if (option == "--module" || option == "-m") {
      if (args->size() < 2) {
        std::cerr << "vornlink: " << option << " needs the module's path; see vornlink --help\n";
        return false;
      }
      options->module_path = (*args)[1];
      args->erase(args->begin());
    } else if (option == "--version") {
      options->version = true;
    } else if (option == "-q" || option == "--quiet") {
      options->quiet = true;
    } else if (option == "-h" || option == "--help") {
      options->help = true;
    } else {
      std::cerr << "vornlink: unknown option " << option << "; see vornlink --help\n";
      return false;
    }
    args->erase(args->begin());
  }
  return true;
}

// Loads the module, runs the command against it and unloads it; a
// transaction handed over that is not in the cache then is reported.
int RunWithLoadedModule(vornlink::Driver& driver, const std::vector<std::string>& words,
                        std::ostream& out) {
  std::string error;
  std::unique_ptr<vornlink::LoadedModule> module =
      vornlink::LoadDriver(driver.module_path, &driver.api, &error);
  if (module == nullptr) {
    std::cerr << "vornlink: cannot load " << driver.module_path << ": " << error << "\n";
    return vornlink::kExitFailed;
  }
  int status = vornlink::RunCommand(driver, words, out, std::cerr);
  // The module's unload tries once more to write what waits in its memory:
  // only what is still not in the cache after it is lost.
  module.reset();
  if (driver.handed_over.ReportUnwritten(driver.module_path, std::cerr) > 0) {
    status = vornlink::kExitUnwritten;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Every text goes out through the filter, the module's console forms too
  // where they share this program's streams.
  vornlink::FilteredStream filtered_out(std::cout);
  vornlink::FilteredStream filtered_err(std::cerr);
  std::vector<std::string> args = vornlink::SplitOptionValues({argv + 1, argv + argc});
  ProgramOptions options;
  if (const char* from_environment = std::getenv("VORNLINK_MODULE")) {
    options.module_path = from_environment;
  }
  if (!TakeProgramOptions(&args, &options)) return vornlink::kExitUsage;
  const vornlink::CommandLine line = vornlink::ReadCommandLine(args);
  vornlink::DiscardingStream discarded;
  std::ostream& out = options.quiet || line.quiet ? discarded : std::cout;
  std::string module_path = options.module_path;
  if (module_path.empty()) module_path = ModuleBesideProgram(argv[0]);
  // A relative path names a file from the current folder, never one the
  // system's library search finds elsewhere: Windows looks for a relative
  // name (".\\Vornlink.dll" too) in the program's own folder first.
  module_path = vornlink::AbsolutePath(module_path);
  if (options.version) return PrintVersion(module_path, out);
  if (options.help || line.help) {
    return vornlink::ShowHelp(line.words.empty() ? "" : line.words[0], out, std::cerr);
  }
  if (line.words.empty()) {
    vornlink::PrintUsage(std::cerr);
    return vornlink::kExitUsage;
  }
  const std::vector<std::string>& words = line.words;
  vornlink::Driver driver;
  driver.module_path = module_path;
  const vornlink::Command* command = vornlink::FindCommand(words[0]);
  // An unknown command is told after the module is loaded, as a host
  // command's usage error is.
  if (command == nullptr || command->needs == vornlink::CommandNeeds::kLoadedModule) {
    return RunWithLoadedModule(driver, words, out);
  }
  return command->run(driver, words, out, std::cerr);
}
