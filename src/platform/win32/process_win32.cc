#include <windows.h>

#include "platform/process.h"

namespace vornlink {

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

// The system's own environment block, which the module and the program
// share whatever C runtime each of them has.
std::string ProcessEnvironmentValue(const std::string& name) {
  char value[256];
  const DWORD length = GetEnvironmentVariableA(name.c_str(), value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void SetProcessEnvironmentValue(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
}

}  // namespace vornlink
