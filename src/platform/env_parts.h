// The parts each platform's Env is built from, one file per job on each
// side, so that the POSIX and the Windows code read side by side:
//   files_posix.cc        files_win32.cc        text files
//   named_mutex_posix.cc  named_mutex_win32.cc  the cross-process mutex
//   env_posix.cc          env_win32.cc          the Env that adds to FilesEnv
//                                               (below) the module's own
//                                               file, clocks, programs
// Each function keeps the promise of the Env method of the same name
// (platform/env.h). Include only from src/platform/posix and
// src/platform/win32.
#ifndef VORNLINK_PLATFORM_ENV_PARTS_H_
#define VORNLINK_PLATFORM_ENV_PARTS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"

namespace vornlink {
namespace env_parts {

bool IsTrustedPath(const std::string& path, std::string* error);
ReadResult ReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                        std::string* error);
ReadResult ReadChangedTextFile(const std::string& path, const FileStamp* known,
                               std::string* contents, size_t max_size, FileStamp* stamp,
                               bool* unchanged, std::string* error);
ReadResult ReadFileBytes(const std::string& path, uint64_t offset, size_t max_bytes,
                         std::string* bytes, FileStamp* stamp, std::string* error);
bool AppendTextFile(const std::string& path, const std::string& text, bool durable,
                    std::string* error);
// Env::OpenForAppend where the platform opens the file once for both;
// null where it does not (then the Env's default opens it by path).
std::unique_ptr<AppendingFile> OpenForAppend(const std::string& path);
ReplaceResult ReplaceTextFile(const std::string& path, const std::string& text,
                              const ReplaceOptions& options, std::string* error);
bool OverwriteFileBytes(const std::string& path, uint64_t offset, const std::string& bytes,
                        std::string* error);
bool FreeDiskSpace(const std::string& path, uint64_t* bytes, std::string* error);
bool SetAllocatedFileSize(const std::string& path, uint64_t size, std::string* error);

std::unique_ptr<CrossProcessMutex> NewNamedMutex(const std::string& name,
                                                 const std::string& lock_file);

// The system's text for error `code` (errno, or a Windows error code).
std::string ErrorText(int code);

// The part of each platform's Env that is the same on both sides: the file
// calls and the mutex, each the function above of the same name. The
// platform's Env derives from it and adds the rest.
class FilesEnv : public Env {
 public:
  bool IsTrustedPath(const std::string& path, std::string* error) override {
    return env_parts::IsTrustedPath(path, error);
  }
  ReadResult ReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                          std::string* error) override {
    return env_parts::ReadTextFile(path, contents, max_size, error);
  }
  ReadResult ReadChangedTextFile(const std::string& path, const FileStamp* known,
                                 std::string* contents, size_t max_size, FileStamp* stamp,
                                 bool* unchanged, std::string* error) override {
    return env_parts::ReadChangedTextFile(path, known, contents, max_size, stamp, unchanged, error);
  }
  ReadResult ReadFileBytes(const std::string& path, uint64_t offset, size_t max_bytes,
                           std::string* bytes, FileStamp* stamp, std::string* error) override {
    return env_parts::ReadFileBytes(path, offset, max_bytes, bytes, stamp, error);
  }
  bool AppendTextFile(const std::string& path, const std::string& text, bool durable,
                      std::string* error) override {
    return env_parts::AppendTextFile(path, text, durable, error);
  }
  std::unique_ptr<AppendingFile> OpenForAppend(const std::string& path) override {
    std::unique_ptr<AppendingFile> file = env_parts::OpenForAppend(path);
    return file != nullptr ? std::move(file) : Env::OpenForAppend(path);
  }
  ReplaceResult ReplaceTextFile(const std::string& path, const std::string& text,
                                const ReplaceOptions& options, std::string* error) override {
    return env_parts::ReplaceTextFile(path, text, options, error);
  }
  bool OverwriteFileBytes(const std::string& path, uint64_t offset, const std::string& bytes,
                          std::string* error) override {
    return env_parts::OverwriteFileBytes(path, offset, bytes, error);
  }
  bool FreeDiskSpace(const std::string& path, uint64_t* bytes, std::string* error) override {
    return env_parts::FreeDiskSpace(path, bytes, error);
  }
  bool SetAllocatedFileSize(const std::string& path, uint64_t size, std::string* error) override {
    return env_parts::SetAllocatedFileSize(path, size, error);
  }
  std::string ErrorText(int code) override { return env_parts::ErrorText(code); }
  std::unique_ptr<CrossProcessMutex> NewNamedMutex(const std::string& name,
                                                   const std::string& lock_file) override {
    return env_parts::NewNamedMutex(name, lock_file);
  }
};

// For the file parts of both sides.
inline constexpr char kNotRegularFile[] = "not a regular file";

inline void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

// For a replace whose new content readers see already: `error` emptied, or
// telling that the flush after it failed with system error `code`.
inline void SetReplacedNote(std::string* error, int code) {
  SetError(error,
           code == 0 ? "" : "the new content is in place but not flushed: " + ErrorText(code));
}

}  // namespace env_parts
}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_ENV_PARTS_H_
