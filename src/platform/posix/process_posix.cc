#include <stdlib.h>
#include <unistd.h>

#include "platform/process.h"

namespace vornlink {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

std::string ProcessEnvironmentValue(const std::string& name) {
  const char* value = getenv(name.c_str());
  return value != nullptr ? value : "";
}

void SetProcessEnvironmentValue(const std::string& name, const std::string& value) {
  if (value.empty()) {
    unsetenv(name.c_str());
  } else {
    setenv(name.c_str(), value.c_str(), 1);
  }
}

}  // namespace vornlink
