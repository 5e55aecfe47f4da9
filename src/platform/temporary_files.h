// The names of the temporary files that replacing a file makes beside it:
// "<file>.<process id>.<number>.tmp". A process killed in the middle of a
// replace leaves its temporary behind; later replaces of the same file
// remove those whose process no longer runs. Both platforms make and read
// the names here, so that they agree on what is a leftover and what is
// somebody's file.
#ifndef VORNLINK_PLATFORM_TEMPORARY_FILES_H_
#define VORNLINK_PLATFORM_TEMPORARY_FILES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vornlink {

// A name for a new temporary of `path` made by process `pid`: a different
// one at every call of this process, and unlikely to be the name of a
// leftover of an earlier process with the same id. Thread-safe.
std::string NewTemporaryName(const std::string& path, uint32_t pid);

// Whether `name` (a folder entry, without the folder) is a temporary of the
// file named `file_name` (without the folder); if so, `*pid` is the process
// that made it. Only the form NewTemporaryName makes counts: the exact file
// name, a process id of 1 to 4294967295, at least one digit, ".tmp".
bool IsTemporaryOf(std::string_view name, std::string_view file_name, uint32_t* pid);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_TEMPORARY_FILES_H_
