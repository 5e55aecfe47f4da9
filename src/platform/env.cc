#include "platform/env.h"

#include <atomic>
#include <utility>

namespace vornlink {
namespace {

std::atomic<Env*> g_installed_env{nullptr};

// The file by its path: each call opens it anew.
class FileByPath : public AppendingFile {
 public:
  FileByPath(Env* env, std::string path) : env_(env), path_(std::move(path)) {}
  ReadResult ReadBytes(uint64_t offset, size_t max_bytes, std::string* bytes, FileStamp* stamp,
                       std::string* error) override {
    return env_->ReadFileBytes(path_, offset, max_bytes, bytes, stamp, error);
  }
  bool AppendDurably(const std::string& text, std::string* error) override {
    return env_->AppendTextFile(path_, text, /*durable=*/true, error);
  }

 private:
  Env* env_;
  std::string path_;
};

}  // namespace

std::vector<std::string> Env::ReadProfileStrings(const std::vector<ProfileQuery>& queries,
                                                 const std::string& path) {
  std::vector<std::string> values;
  values.reserve(queries.size());
  for (const ProfileQuery& query : queries) {
    values.push_back(ReadProfileString(std::string(query.section), std::string(query.key),
                                       std::string(query.default_value), path));
  }
  return values;
}

std::unique_ptr<AppendingFile> Env::OpenForAppend(const std::string& path) {
  return std::make_unique<FileByPath>(this, path);
}

Env* GetEnv() {
  Env* env = g_installed_env.load(std::memory_order_acquire);
  return env != nullptr ? env : DefaultEnv();
}

Env* InstallEnv(Env* env) { return g_installed_env.exchange(env, std::memory_order_acq_rel); }

}  // namespace vornlink
