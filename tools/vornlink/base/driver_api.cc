#include "vornlink/base/driver_api.h"

namespace vornlink {

#if defined(_WIN32)
#define VORNLINK_SERVER_EXPORT "_Server@0"
#else
#define VORNLINK_SERVER_EXPORT "Server"
#endif

const char* const kExportNames[10] = {"ExecuteService",      "StopService",   "ForwardTransaction2",
                                      "ForwardTransaction",  "IsJobnoValid",  "SetCallback",
                                      "GetServiceName",      "GetAPIVersion", "Properties",
                                      VORNLINK_SERVER_EXPORT};

namespace {

template <typename Function>
bool Find(const LoadedModule& module, const char* name, Function* function, std::string* error) {
  void* address = module.Find(name);
  if (address == nullptr) {
    *error = std::string("the module has no export ") + name;
    return false;
  }
  *function = reinterpret_cast<Function>(address);
  return true;
}

}  // namespace

std::unique_ptr<LoadedModule> LoadDriver(const std::string& path, DriverApi* api,
                                         std::string* error) {
  std::unique_ptr<LoadedModule> module = LoadedModule::Open(path, error);
  if (module == nullptr) return nullptr;
  bool found = Find(*module, kExportNames[0], &api->execute_service, error) &&
               Find(*module, kExportNames[1], &api->stop_service, error) &&
               Find(*module, kExportNames[2], &api->forward_transaction2, error) &&
               Find(*module, kExportNames[3], &api->forward_transaction, error) &&
               Find(*module, kExportNames[4], &api->is_jobno_valid, error) &&
               Find(*module, kExportNames[5], &api->set_callback, error) &&
               Find(*module, kExportNames[6], &api->get_service_name, error) &&
               Find(*module, kExportNames[7], &api->get_api_version, error) &&
               Find(*module, kExportNames[8], &api->properties, error) &&
               Find(*module, kExportNames[9], &api->server, error);
  if (!found) return nullptr;
  return module;
}

}  // namespace vornlink
