#include "platform/file_memo.h"

#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "base/module_singleton.h"

namespace vornlink {
namespace {

// More files than the driver has are never asked; a process that asks for
// many (tests) starts over.
constexpr size_t kMaxFiles = 16;
// Values of one file (each setting once, with its default).
constexpr size_t kMaxValues = 256;

struct FileEntry {
  std::string path;
  FileStamp stamp;  // taken in the open that read `contents`
  std::string contents;
  std::map<std::string, std::string> values;  // by ValueKey
};

struct Memo {
  std::mutex mutex;
  std::vector<FileEntry> files;

  FileEntry* Find(const std::string& path) {
    for (FileEntry& file : files) {
      if (file.path == path) return &file;
    }
    return nullptr;
  }
};

// The derivation and the question, as one text.
std::string ValueKey(DeriveFromFile derive, const std::string& question) {
  std::string key(reinterpret_cast<const char*>(&derive), sizeof derive);
  return key + question;
}

ModuleSingleton<Memo> g_memo;

}  // namespace

std::string DerivedFromFile(Env* env, const std::string& path, size_t max_size,
                            DeriveFromFile derive, const std::string& question) {
  Memo& memo = g_memo.Get();
  const std::string key = ValueKey(derive, question);
  FileStamp known;
  bool have_known = false;
  {
    std::lock_guard<std::mutex> lock(memo.mutex);
    if (const FileEntry* file = memo.Find(path)) {
      known = file->stamp;
      have_known = true;
    }
  }

  std::string contents;
  FileStamp stamp;
  bool unchanged = false;
  if (env->ReadChangedTextFile(path, have_known ? &known : nullptr, &contents, max_size, &stamp,
                               &unchanged, nullptr) != ReadResult::kOk) {
    return derive(nullptr, question);
  }

  std::unique_lock<std::mutex> lock(memo.mutex);
  FileEntry* file = memo.Find(path);
  if (unchanged && (file == nullptr || !file->stamp.SameState(known))) {
    // Another thread put a newer text in place meanwhile: read it again,
    // without the memo (rare).
    lock.unlock();
    if (env->ReadTextFile(path, &contents, max_size, nullptr) != ReadResult::kOk) {
      return derive(nullptr, question);
    }
    return derive(&contents, question);
  }
  if (!unchanged) {
    if (file == nullptr) {
      if (memo.files.size() >= kMaxFiles) memo.files.clear();
      memo.files.emplace_back();
      file = &memo.files.back();
      file->path = path;
    }
    // The values derived from the same text still hold (a file saved again
    // unchanged, or one whose stamp has not settled yet).
    if (file->contents != contents) {
      file->contents = std::move(contents);
      file->values.clear();
    }
    file->stamp = stamp;
  }
  auto value = file->values.find(key);
  if (value != file->values.end()) return value->second;
  std::string derived = derive(&file->contents, question);
  if (file->values.size() < kMaxValues) file->values.emplace(key, derived);
  return derived;
}

void ReleaseFileMemo() { g_memo.Release(); }

}  // namespace vornlink
