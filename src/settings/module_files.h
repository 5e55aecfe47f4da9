// Names of the driver's own files, made from the path of the module file.
//
// A module /opt/fluid/Vornlink.so (C:\Fluid\Vornlink.dll) keeps its INI file
// in /opt/fluid/Vornlink.ini, its settings in Vornlink.xml and its cache in
// Vornlink.$$$ beside it. Thread-safe.
#ifndef VORNLINK_SETTINGS_MODULE_FILES_H_
#define VORNLINK_SETTINGS_MODULE_FILES_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"

namespace vornlink {

// `path` with the text after the last "." of its file name replaced by
// `extension` (the "." stays); a file name without a "." gets "." and
// `extension` appended, so that the files stay beside the module and are
// never the module itself (a "." in a folder name is no extension). Both
// "/" and "\" end a folder name. An empty path stays empty.
std::string ReplaceExtension(std::string_view path, std::string_view extension);

// What follows the last folder separator of `path` (all of it when there is
// none), then cut before its last ".".
std::string BaseNameOf(std::string_view path, char separator);

// The module's path with another extension.
std::string ModuleFileWithExtension(std::string_view extension);
// The INI file beside the module.
std::string IniFilePath();
// The module's file name without folder and extension.
std::string ModuleBaseName();

// A value of the INI file beside the module (see Env::ReadProfileString).
std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& default_value);
// Values of the INI file beside the module, in the order of `queries`,
// from one look at it where the platform can (see Env::ReadProfileStrings).
std::vector<std::string> ReadIniStrings(const std::vector<ProfileQuery>& queries);

}  // namespace vornlink

#endif  // VORNLINK_SETTINGS_MODULE_FILES_H_
