// The text file operations of the POSIX Env (see Env in platform/env.h for
// what each promises). Include only from src/platform/posix.
#ifndef VORNLINK_PLATFORM_POSIX_FILES_POSIX_H_
#define VORNLINK_PLATFORM_POSIX_FILES_POSIX_H_

#include <memory>
#include <string>

#include "platform/env.h"

namespace vornlink {

ReadResult PosixReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                             std::string* error);
ReadResult PosixReadFileBytes(const std::string& path, uint64_t offset, size_t max_bytes,
                              std::string* bytes, FileStamp* stamp, std::string* error);
bool PosixAppendTextFile(const std::string& path, const std::string& text, bool durable,
                         std::string* error);
ReplaceResult PosixReplaceTextFile(const std::string& path, const std::string& text,
                                   std::string* error);

// The lock on `lock_file` that stands for the named mutex on POSIX systems.
std::unique_ptr<CrossProcessMutex> NewFileLockMutex(const std::string& lock_file);

// The system's text for errno value `code`.
std::string PosixErrorText(int code);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_POSIX_FILES_POSIX_H_
