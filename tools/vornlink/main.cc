// vornlink: loads the driver module the way a host does and drives it.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "vornlink/commands.h"
#include "vornlink/dms_command.h"
#include "vornlink/driver_api.h"
#include "vornlink/module_site.h"
#include "vornlink/operator_commands.h"
#include "vornlink/output_filter.h"

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

}  // namespace

int main(int argc, char** argv) {
  // Every text goes out through the filter, the module's console forms too
  // where they share this program's streams.
  vornlink::FilteredStream filtered_out(std::cout);
  vornlink::FilteredStream filtered_err(std::cerr);
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string module_path;
  if (const char* from_environment = std::getenv("VORNLINK_MODULE")) {
    module_path = from_environment;
  }
  if (!args.empty() && (args[0] == "--module" || args[0] == "-m")) {
    if (args.size() < 2) {
      std::cerr << "vornlink: " << args[0] << " needs the module's path; see vornlink --help\n";
      return vornlink::kExitUsage;
    }
    module_path = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    vornlink::PrintUsage(args.empty() ? std::cerr : std::cout);
    return args.empty() ? vornlink::kExitUsage : vornlink::kExitOk;
  }
  if (args[0].size() > 1 && args[0][0] == '-') {
    std::cerr << "vornlink: unknown option " << args[0] << "; see vornlink --help\n";
    return vornlink::kExitUsage;
  }
  // The emulated DMS needs no module.
  if (args[0] == "dms") {
    return vornlink::RunDmsCommand({args.begin() + 1, args.end()}, std::cout, std::cerr);
  }
  if (module_path.empty()) module_path = ModuleBesideProgram(argv[0]);
  // A relative path names a file from the current folder, never one the
  // system's library search finds elsewhere: Windows looks for a relative
  // name (".\\Vornlink.dll" too) in the program's own folder first.
  module_path = vornlink::AbsolutePath(module_path);

  vornlink::Driver driver;
  driver.module_path = module_path;
  if (vornlink::IsOperatorCommand(args[0])) {
    return vornlink::RunCommand(driver, args, std::cout, std::cerr);
  }
  std::string error;
  std::unique_ptr<vornlink::LoadedModule> module =
      vornlink::LoadDriver(module_path, &driver.api, &error);
  if (module == nullptr) {
    std::cerr << "vornlink: cannot load " << module_path << ": " << error << "\n";
    return vornlink::kExitFailed;
  }
  return vornlink::RunCommand(driver, args, std::cout, std::cerr);
}
