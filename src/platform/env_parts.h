// The parts each platform's Env is built from, one file per job on each
// side, so that the POSIX and the Windows code read side by side:
//   files_posix.cc        files_win32.cc        text files
//   named_mutex_posix.cc  named_mutex_win32.cc  the cross-process mutex
//   env_posix.cc          env_win32.cc          the Env that joins them, the
//                                               module's own file, clocks,
//                                               programs, error texts
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
