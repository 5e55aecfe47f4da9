// The loaded module as the commands that call its exports see it.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_DRIVER_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_DRIVER_H_

#include <string>

#include "vornlink/base/driver_api.h"
#include "vornlink/base/handed_over.h"

namespace vornlink {

// Filled by the program's main; the exports are null for a command that
// does not load the module. For one thread.
struct Driver {
  DriverApi api;
  std::string module_path;
  // Whether this program started the service: the driver opens its log
  // only then.
  mutable bool service_started = false;
  // What became of the transactions handed over.
  mutable HandedOver handed_over;
};

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_DRIVER_H_
