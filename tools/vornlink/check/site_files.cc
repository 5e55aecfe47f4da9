#include "vornlink/check/site_files.h"

#include <filesystem>
#include <random>

#include "platform/env.h"

namespace vornlink {

bool IsAbsolute(const std::string& path) {
#ifdef _WIN32
  return (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
         path.compare(0, 2, "\\\\") == 0;
#else
  return !path.empty() && path[0] == '/';
#endif
}

// Whether a new file may be made in the folder of `path`: one is made
// (exclusively, under a name nobody else uses) and removed again.
bool MayMakeFilesBeside(const std::string& path, std::string* error) {
  std::random_device random;
  const std::string probe = path + ".vornlink-check-" + std::to_string(random()) + ".tmp";
  if (GetEnv()->ReplaceTextFile(probe, std::string(), ReplaceOptions{}, error) ==
      ReplaceResult::kFailed) {
    return false;
  }
  std::error_code ignored;
  std::filesystem::remove(probe, ignored);
  return true;
}

// Reports whether this user may write `path` (an existing file is opened
// for appending, nothing written; for a missing one a file is made and
// removed beside it).
void CheckWritable(CheckReport* report, const std::string& what, const std::string& path,
                   bool needed) {
  std::string error;
  std::error_code ignored;
  const bool exists = std::filesystem::exists(path, ignored);
  bool ok = exists ? GetEnv()->AppendTextFile(path, std::string(), false, &error)
                   : MayMakeFilesBeside(path, &error);
  if (ok) return;
  const std::string text = "this user cannot " + std::string(exists ? "write the " : "make the ") +
                           what + " " + path + " (" + error + ")";
  if (needed) {
    report->Problem(text);
  } else {
    report->Warning(text);
  }
}

}  // namespace vornlink
