// The driver's exports, found by name in a loaded module, as a host finds
// them.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_DRIVER_API_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_DRIVER_API_H_

#include <memory>
#include <string>

#include "driver/vornlink.h"
#include "platform/loaded_module.h"

namespace vornlink {

struct DriverApi {
  using IntFunction = int32_t(VORNLINK_CDECL*)(void);
  using Forward2Function = void(VORNLINK_CDECL*)(const char*, const char*, const char*, const char*,
                                                 const char*, const char*, const char*, const char*,
                                                 const char*, const char*, const char*,
                                                 const char*);
  using ForwardFunction = void(VORNLINK_CDECL*)(const char*, const char*, const char*, const char*,
                                                const char*, const char*, const char*, const char*,
                                                const char*, const char*, const char*);
  using ValidateFunction = int32_t(VORNLINK_CDECL*)(const char*);
  using SetCallbackFunction = void(VORNLINK_CDECL*)(KmrValidationCallback);
  using NameFunction = const char*(VORNLINK_CDECL*)(void);
  using ServerFunction = void(VORNLINK_STDCALL*)(void);

  IntFunction execute_service = nullptr;
  IntFunction stop_service = nullptr;
  Forward2Function forward_transaction2 = nullptr;
  ForwardFunction forward_transaction = nullptr;
  ValidateFunction is_jobno_valid = nullptr;
  SetCallbackFunction set_callback = nullptr;
  NameFunction get_service_name = nullptr;
  IntFunction get_api_version = nullptr;
  IntFunction properties = nullptr;
  ServerFunction server = nullptr;
};

// The export names a host looks up, in the order of DriverApi.
extern const char* const kExportNames[10];

// Loads the module at `path` and finds all ten exports. The module returned
// owns the loaded library: the functions in `api` may be called only while
// it lives, and its destruction unloads the module as a host's unload does.
// Null with `error` set (and `api` left partly filled, not to be called)
// when the module does not load or an export is missing. Loads and unloads
// from one thread at a time.
std::unique_ptr<LoadedModule> LoadDriver(const std::string& path, DriverApi* api,
                                         std::string* error);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_DRIVER_API_H_
