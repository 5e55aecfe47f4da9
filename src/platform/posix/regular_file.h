// How the POSIX Env opens the driver's files: only regular files, and
// without waiting on anything else in their place (a FIFO would hold the
// caller, a device would feed it without end); links and second names only
// where nobody else could have planted them. Include only from
// src/platform/posix.
#ifndef VORNLINK_PLATFORM_POSIX_REGULAR_FILE_H_
#define VORNLINK_PLATFORM_POSIX_REGULAR_FILE_H_

#include <sys/stat.h>

#include <string>

#include "platform/posix/scoped_fd.h"

namespace vornlink {

// The failure code of the functions below for a link or a second name that
// another user could have planted (Env::IsTrustedPath); never an errno.
inline constexpr int kPlantedLink = -1;

// Opens `path` with `flags` (and `mode`, with O_CREAT), never as the
// controlling terminal, closed in started programs; checks that it is a
// regular file (its status in `*info`) and leaves its I/O blocking. 0 with
// the descriptor in `*fd`, else the errno of the failure (EINVAL: it is no
// regular file) with `*fd` empty.
int OpenRegular(const std::string& path, int flags, mode_t mode, ScopedFd* fd, struct stat* info);

// The path of the file that `path` leads to through the links that
// Env::IsTrustedPath allows: `path` itself when it is no link; the file
// need not exist. 0, else kPlantedLink or the errno of the failure.
int FollowTrustedLinks(const std::string& path, std::string* file);

// Whether a file with more than one name may be used in `folder`.
bool SecondNamesAllowedIn(const std::string& folder);

// OpenRegular of the file that FollowTrustedLinks finds, never through a
// link of its own (one that appears meanwhile is judged anew), refused
// (kPlantedLink) when it has a second name that SecondNamesAllowedIn does
// not allow. With O_CREAT, a missing file is made exclusively (`*created`,
// may be null, tells). `*file` (may be null) gets the path that was opened.
int OpenTrusted(const std::string& path, int flags, mode_t mode, ScopedFd* fd, struct stat* info,
                std::string* file = nullptr, bool* created = nullptr);

// The text for a failure of the functions above.
std::string OpenErrorText(int code);

// The folder of `path` ("." for a bare name) and its last part.
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_POSIX_REGULAR_FILE_H_
