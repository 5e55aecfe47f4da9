#include <unistd.h>

#include "platform/terminal.h"

namespace vornlink {

bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace vornlink
