#include "settings/version_text.h"

#include <cstdio>

namespace vornlink {

std::string FormatVersionText(const FileVersion& version) {
  char text[64];
  if (version.fourth != 0) {
    std::snprintf(text, sizeof text, "%d.%d%dRC%d", version.major, version.minor, version.third,
                  version.fourth);
  } else {
    std::snprintf(text, sizeof text, "%d.%d%d", version.major, version.minor, version.third);
  }
  return text;
}

std::string VersionText(const std::string& file_name) {
  Env* env = GetEnv();
  std::string path = file_name.empty() ? env->ModulePath() : file_name;
  FileVersion version;
  switch (env->ReadFileVersion(path, &version)) {
    case FileVersionResult::kOk:
      return FormatVersionText(version);
    case FileVersionResult::kNoMemory:
      return "Error";
    case FileVersionResult::kUnreadable:
      break;
  }
  return std::string();
}

}  // namespace vornlink
