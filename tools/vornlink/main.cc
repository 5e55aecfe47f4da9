// vornlink: loads the driver module the way a host does and drives it.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "vornlink/commands.h"
#include "vornlink/dms_command.h"
#include "vornlink/driver_api.h"

namespace {

#if defined(_WIN32)
constexpr const char* kModuleFile = "Vornlink.dll";
#else
constexpr const char* kModuleFile = "Vornlink.so";
#endif

// The module beside the program.
std::string ModuleBesideProgram(const std::string& program) {
  size_t folder_end = program.find_last_of("/\\");
  if (folder_end == std::string::npos) return kModuleFile;
  return program.substr(0, folder_end + 1) + kModuleFile;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string module_path;
  if (const char* from_environment = std::getenv("VORNLINK_MODULE")) {
    module_path = from_environment;
  }
  if (args.size() >= 2 && (args[0] == "--module" || args[0] == "-m")) {
    module_path = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    vornlink::PrintUsage(args.empty() ? std::cerr : std::cout);
    return args.empty() ? vornlink::kExitUsage : vornlink::kExitOk;
  }
  // The emulated DMS needs no module.
  if (args[0] == "dms") {
    return vornlink::RunDmsCommand({args.begin() + 1, args.end()}, std::cout, std::cerr);
  }
  if (module_path.empty()) module_path = ModuleBesideProgram(argv[0]);

  vornlink::DriverApi api;
  std::string error;
  std::unique_ptr<vornlink::LoadedModule> module = vornlink::LoadDriver(module_path, &api, &error);
  if (module == nullptr) {
    std::cerr << "vornlink: cannot load " << module_path << ": " << error << "\n";
    return vornlink::kExitFailed;
  }
  return vornlink::RunCommand(api, args, std::cout, std::cerr);
}
