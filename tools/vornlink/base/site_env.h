// The environment of a site, for the driver's own code run inside this
// program for a module it has not loaded: the operator commands read
// settings, the cache and the log exactly as the driver beside
// `module_path` would, because they call the driver's functions with the
// module path pointed there (SiteEnv).
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_SITE_ENV_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_SITE_ENV_H_

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/env.h"

namespace vornlink {

// One entry the driver's code logged while a capture ran.
struct CapturedEntry {
  char flag = '.';
  std::string message;  // as logged, line feeds included
};

// While it lives, the driver's code in this process takes `module_path`
// (made absolute) for its own module file; every other call goes to the
// Env that was in place. It installs itself with InstallEnv (the driver's
// supported way to point its code elsewhere) and puts the previous Env back
// when it is destroyed; made and destroyed on the thread that runs a
// command, while no other code of the driver runs, and nested only in
// order. It never fails: a path that cannot be made absolute is taken as
// given. The other calls may come from any thread.
class SiteEnv : public EnvWrapper {
 public:
  explicit SiteEnv(const std::string& module_path);
  ~SiteEnv() override;
  SiteEnv(const SiteEnv&) = delete;
  SiteEnv& operator=(const SiteEnv&) = delete;

  std::string ModulePath() override { return module_path_; }

  // Turns the driver's log on with `flags` and keeps its entries in memory
  // instead of writing any file (the site's own log is not touched). Ends
  // with the object.
  void CaptureLog(const std::string& flags);
  // The entries since the last call. Thread-safe.
  std::vector<CapturedEntry> TakeLog();
  // Calls `listener` (empty: none) with each entry as it is captured, on
  // the thread that logs it. Set while the driver's code logs nothing.
  void ListenToLog(std::function<void(const CapturedEntry&)> listener);

  ReadResult ReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                          std::string* error) override;
  bool AppendTextFile(const std::string& path, const std::string& text, bool durable,
                      std::string* error) override;

 private:
  const std::string module_path_;
  Env* const previous_;
  bool capturing_ = false;
  std::mutex mutex_;
  std::vector<CapturedEntry> entries_;  // guarded by mutex_
  std::function<void(const CapturedEntry&)> listener_;
};

// `path` made absolute and without "." and ".." steps; `path` itself when
// the working folder cannot be read. Thread-safe.
std::string AbsolutePath(const std::string& path);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_SITE_ENV_H_
