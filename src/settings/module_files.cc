#include "settings/module_files.h"

#include "platform/env.h"

namespace vornlink {

std::string ReplaceExtension(std::string_view path, std::string_view extension) {
  if (path.empty()) return std::string();
  const size_t name_start = path.find_last_of("/\\") + 1;  // 0 without a folder
  const size_t dot = path.rfind('.');
  std::string result(
      path.substr(0, dot != std::string_view::npos && dot >= name_start ? dot : path.size()));
  result.push_back('.');
  result.append(extension);
  return result;
}

std::string BaseNameOf(std::string_view path, char separator) {
  size_t folder_end = path.rfind(separator);
  if (folder_end != std::string_view::npos) path.remove_prefix(folder_end + 1);
  size_t dot = path.rfind('.');
  if (dot != std::string_view::npos) path = path.substr(0, dot);
  return std::string(path);
}

std::string ModuleFileWithExtension(std::string_view extension) {
  return ReplaceExtension(GetEnv()->ModulePath(), extension);
}

std::string IniFilePath() { return ModuleFileWithExtension("ini"); }

std::string ModuleBaseName() { return BaseNameOf(GetEnv()->ModulePath(), kPathSeparator); }

std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& default_value) {
  return GetEnv()->ReadProfileString(section, key, default_value, IniFilePath());
}

std::vector<std::string> ReadIniStrings(const std::vector<ProfileQuery>& queries) {
  return GetEnv()->ReadProfileStrings(queries, IniFilePath());
}

}  // namespace vornlink
