// The exports' dialogs as console forms on the calling thread.
#include <iostream>

#include "emulated_dms/dms_port.h"
#include "ui/dialogs.h"
#include "ui/posix/console_forms.h"
#include "ui/properties_rows.h"

namespace vornlink {

void ShowPropertiesDialog() { PrintPropertyTable(ReadModulePropertyRows(), std::cout); }

void ShowServerDialog() { RunServerConsole(std::cin, std::cout, DmsDialogPort()); }

}  // namespace vornlink
