// The console forms of the two dialogs, on streams so that they can be
// driven by a test as by a person at a terminal.
#ifndef VORNLINK_UI_POSIX_CONSOLE_FORMS_H_
#define VORNLINK_UI_POSIX_CONSOLE_FORMS_H_

#include <cstdint>
#include <iosfwd>
#include <string>

#include "ui/properties_rows.h"

namespace vornlink {

// The rows as a table with the columns Data, Value and ExtF (or the
// problem, when there is one).
void PrintPropertyTable(const PropertyList& list, std::ostream& out);

// The emulated DMS on `port` of every local address (`address` to change),
// driven by command lines from `in` until "q" or the end of `in`. Requests
// and the counter are written to `out` as they come. Returns false when the
// port could not be opened (the reason is written to `out`).
bool RunServerConsole(std::istream& in, std::ostream& out, uint16_t port,
                      const std::string& address = "0.0.0.0");

}  // namespace vornlink

#endif  // VORNLINK_UI_POSIX_CONSOLE_FORMS_H_
