// A module loaded the way a host loads the driver: by path, with its
// exports looked up by name. Used by the host program and the tests.
#ifndef VORNLINK_PLATFORM_LOADED_MODULE_H_
#define VORNLINK_PLATFORM_LOADED_MODULE_H_

#include <memory>
#include <string>

namespace vornlink {

class LoadedModule {
 public:
  // Loads the module at `path`; null with `error` set when it fails.
  static std::unique_ptr<LoadedModule> Open(const std::string& path, std::string* error);
  // Unloads the module.
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  // The address of the export `name`, or null.
  void* Find(const std::string& name) const;

 private:
  explicit LoadedModule(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_LOADED_MODULE_H_
