// The module's file version as the short text the host shows.
#ifndef VORNLINK_SETTINGS_VERSION_TEXT_H_
#define VORNLINK_SETTINGS_VERSION_TEXT_H_

#include <string>

#include "platform/env.h"

namespace vornlink {

// "major.<minor><third>", with "RC<fourth>" after it when the fourth part is
// not 0: 2.0.0.1 gives "2.00RC1", 1.2.3.0 "1.23", 1.10.2.0 "1.102".
std::string FormatVersionText(const FileVersion& version);

// The version text of the module at `file_name`, or of the driver module
// when it is empty. Empty when the version cannot be read, "Error" when
// there is no memory for it.
std::string VersionText(const std::string& file_name = std::string());

}  // namespace vornlink

#endif  // VORNLINK_SETTINGS_VERSION_TEXT_H_
