#include <dlfcn.h>

#include "platform/loaded_module.h"

namespace vornlink {

std::unique_ptr<LoadedModule> LoadedModule::Open(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* text = dlerror();
    *error = text != nullptr ? text : "dlopen failed";
    return nullptr;
  }
  return std::unique_ptr<LoadedModule>(new LoadedModule(handle));
}

LoadedModule::~LoadedModule() { dlclose(handle_); }

void* LoadedModule::Find(const std::string& name) const { return dlsym(handle_, name.c_str()); }

}  // namespace vornlink
