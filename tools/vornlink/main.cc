// vornlink: loads the driver module the way a host does and drives it.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "settings/version_text.h"
#include "vornlink/base/command_help.h"
#include "vornlink/base/command_line.h"
#include "vornlink/host/host_commands.h"
#include "vornlink/dms/dms_command.h"
#include "vornlink/base/driver_api.h"
#include "vornlink/base/module_site.h"
#include "vornlink/operator_commands.h"
#include "vornlink/base/filtered_stream.h"
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

}  // namespace

int main(int argc, char** argv) {
  // Every text goes out through the filter, the module's console forms too
  // where they share this program's streams.
  vornlink::FilteredStream filtered_out(std::cout);
  vornlink::FilteredStream filtered_err(std::cerr);
  std::vector<std::string> args = vornlink::SplitOptionValues({argv + 1, argv + argc});
  std::string module_path;
  if (const char* from_environment = std::getenv("VORNLINK_MODULE")) {
    module_path = from_environment;
  }
  // The program's own options stand before the command; -q and --help may
  // stand anywhere (command_line.h).
  bool version = false;
  bool quiet = false;
  bool help = false;
  while (!args.empty() && args[0].size() > 1 && args[0][0] == '-') {
    const std::string option = args[0];
    if (option == "--module" || option == "-m") {
      if (args.size() < 2) {
        std::cerr << "vornlink: " << option << " needs the module's path; see vornlink --help\n";
        return vornlink::kExitUsage;
      }
      module_path = args[1];
      args.erase(args.begin());
    } else if (option == "--version") {
      version = true;
    } else if (option == "-q" || option == "--quiet") {
      quiet = true;
    } else if (option == "-h" || option == "--help") {
      help = true;
    } else {
      std::cerr << "vornlink: unknown option " << option << "; see vornlink --help\n";
      return vornlink::kExitUsage;
    }
    args.erase(args.begin());
  }
  const vornlink::CommandLine line = vornlink::ReadCommandLine(args);
  vornlink::DiscardingStream discarded;
  std::ostream& out = quiet || line.quiet ? discarded : std::cout;
  if (module_path.empty()) module_path = ModuleBesideProgram(argv[0]);
  // A relative path names a file from the current folder, never one the
  // system's library search finds elsewhere: Windows looks for a relative
  // name (".\\Vornlink.dll" too) in the program's own folder first.
  module_path = vornlink::AbsolutePath(module_path);
  if (version) return PrintVersion(module_path, out);
  if (help || line.help) {
    return vornlink::ShowHelp(line.words.empty() ? "" : line.words[0], out, std::cerr);
  }
  if (line.words.empty()) {
    vornlink::PrintUsage(std::cerr);
    return vornlink::kExitUsage;
  }
  const std::vector<std::string>& words = line.words;
  // The emulated DMS needs no module.
  if (words[0] == "dms") {
    return vornlink::RunDmsCommand({words.begin() + 1, words.end()}, out, std::cerr);
  }

  vornlink::Driver driver;
  driver.module_path = module_path;
  if (vornlink::IsOperatorCommand(words[0])) {
    return vornlink::RunCommand(driver, words, out, std::cerr);
  }
  std::string error;
  std::unique_ptr<vornlink::LoadedModule> module =
      vornlink::LoadDriver(module_path, &driver.api, &error);
  if (module == nullptr) {
    std::cerr << "vornlink: cannot load " << module_path << ": " << error << "\n";
    return vornlink::kExitFailed;
  }
  int status = vornlink::RunCommand(driver, words, out, std::cerr);
  // The module's unload tries once more to write what waits in its memory:
  // only what is still not in the cache after it is lost.
  module.reset();
  if (driver.handed_over.ReportUnwritten(module_path, std::cerr) > 0) {
    status = vornlink::kExitUnwritten;
  }
  return status;
}
