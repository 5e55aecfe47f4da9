// The system calls through which the POSIX file code changes the disk:
// every open, write, cut, growth, flush, rename and removal of a name goes
// through one table, so that a test can put its own functions in their
// place and see (or fail) each call as the kernel would get it.
//
// Threading: FileCalls() may be called from any thread; the table it gives
// stays valid while the process runs. SetFileCallsForTesting is for tests
// that call it while no file call of the Env is under way. Include only from
// src/platform/posix and the tests of its callers.
#ifndef VORNLINK_PLATFORM_POSIX_FILE_CALLS_H_
#define VORNLINK_PLATFORM_POSIX_FILE_CALLS_H_

#include <sys/types.h>

#include <cstddef>

namespace vornlink {

// Each entry has the signature, the result and the errno of the system
// call of its name.
struct FileCallTable {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*write)(int fd, const void* data, size_t size);
  ssize_t (*pwrite)(int fd, const void* data, size_t size, off_t offset);
  int (*ftruncate)(int fd, off_t size);
  // The error code as its result, errno untouched, like the system's.
  int (*posix_fallocate)(int fd, off_t offset, off_t size);
  int (*fsync)(int fd);
  int (*fdatasync)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*unlinkat)(int folder_fd, const char* path, int flags);
};

// The system's own functions.
const FileCallTable& SystemFileCalls();

// The table in use: the system's, unless a test has set its own.
const FileCallTable& FileCalls();

// Makes `table` the one in use; nullptr gives the system's back. The caller
// keeps it alive while it is set.
void SetFileCallsForTesting(const FileCallTable* table);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_POSIX_FILE_CALLS_H_
