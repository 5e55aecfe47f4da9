// The calling process: its id and its environment, which the driver module
// and the program that loads it share.
#ifndef VORNLINK_PLATFORM_PROCESS_H_
#define VORNLINK_PLATFORM_PROCESS_H_

#include <cstdint>
#include <string>

namespace vornlink {

uint32_t CurrentProcessId();

// The value of the process's environment variable `name`; empty when it is
// not set.
std::string ProcessEnvironmentValue(const std::string& name);

// Sets the variable for this process (and the programs it starts); an
// empty `value` removes it. POSIX: not while another thread may read the
// environment.
void SetProcessEnvironmentValue(const std::string& name, const std::string& value);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_PROCESS_H_
