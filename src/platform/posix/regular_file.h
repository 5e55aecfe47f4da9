// How the POSIX Env opens the driver's files: only regular files, and
// without waiting on anything else in their place (a FIFO would hold the
// caller, a device would feed it without end). Include only from
// src/platform/posix.
#ifndef VORNLINK_PLATFORM_POSIX_REGULAR_FILE_H_
#define VORNLINK_PLATFORM_POSIX_REGULAR_FILE_H_

#include <sys/stat.h>

#include <string>

#include "platform/posix/scoped_fd.h"

namespace vornlink {

// Opens `path` with `flags` (and `mode`, with O_CREAT), never as the
// controlling terminal, closed in started programs; checks that it is a
// regular file (its status in `*info`) and leaves its I/O blocking. 0 with
// the descriptor in `*fd`, else the errno of the failure (EINVAL: it is no
// regular file) with `*fd` empty.
int OpenRegular(const std::string& path, int flags, mode_t mode, ScopedFd* fd, struct stat* info);

// The text for a failure of OpenRegular.
std::string OpenErrorText(int code);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_POSIX_REGULAR_FILE_H_
