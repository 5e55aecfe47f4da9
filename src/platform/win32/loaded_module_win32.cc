#include <windows.h>

#include "platform/env_parts.h"
#include "platform/loaded_module.h"

namespace vornlink {

std::unique_ptr<LoadedModule> LoadedModule::Open(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    int code = static_cast<int>(GetLastError());
    std::string text = env_parts::ErrorText(code);
    *error = "LoadLibrary failed with error " + std::to_string(code);
    if (!text.empty()) *error += ": " + text;
    return nullptr;
  }
  return std::unique_ptr<LoadedModule>(new LoadedModule(module));
}

LoadedModule::~LoadedModule() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* LoadedModule::Find(const std::string& name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name.c_str()));
}

}  // namespace vornlink
