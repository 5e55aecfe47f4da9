#include "vornlink/base/site_env.h"

#include <filesystem>
#include <utility>

#include "log/log.h"

namespace vornlink {
namespace {

// The log file name a capture gives the driver's log: no file of the site
// can have it, so nothing of the site is read or written for it.
constexpr char kCaptureName[] = "\x01vornlink log capture";

}  // namespace

std::string AbsolutePath(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) return path;
  return absolute.lexically_normal().string();
}

SiteEnv::SiteEnv(const std::string& module_path)
    : EnvWrapper(GetEnv()), module_path_(AbsolutePath(module_path)), previous_(InstallEnv(this)) {}

SiteEnv::~SiteEnv() {
  if (capturing_) LogInit(std::string(), 0, std::string());
  InstallEnv(previous_);
}

void SiteEnv::CaptureLog(const std::string& flags) {
  capturing_ = true;
  // Never cut: there is nothing to cut.
  LogInit(kCaptureName, -1, flags);
}

std::vector<CapturedEntry> SiteEnv::TakeLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(entries_, {});
}

ReadResult SiteEnv::ReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                                 std::string* error) {
  if (path == kCaptureName) {
    contents->clear();
    return ReadResult::kMissing;
  }
  return target()->ReadTextFile(path, contents, max_size, error);
}

bool SiteEnv::AppendTextFile(const std::string& path, const std::string& text, bool durable,
                             std::string* error) {
  if (path != kCaptureName) return target()->AppendTextFile(path, text, durable, error);
  LogEntryView view{{}, '.', text};  // kept whole if it is no entry
  ParseLogEntry(text, &view);
  CapturedEntry entry{view.flag, std::string(view.message)};
  if (!entry.message.empty() && entry.message.back() == '\n') entry.message.pop_back();
  if (listener_) listener_(entry);
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back(std::move(entry));
  return true;
}

void SiteEnv::ListenToLog(std::function<void(const CapturedEntry&)> listener) {
  listener_ = std::move(listener);
}

}  // namespace vornlink
