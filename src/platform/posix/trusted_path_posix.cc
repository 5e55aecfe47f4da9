// Which links and second names the POSIX Env follows (Env::IsTrustedPath).
//
// Why judging first and opening after is not a race an attacker can win: a
// link is followed only where nobody else may change it, so the link read
// is the link judged. The file at the end is opened with O_NOFOLLOW, so a
// link that appears there meanwhile is never followed but judged on the
// next round, and its second names are counted on the open descriptor, so
// they are those of the very file that is used.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/env_parts.h"
#include "platform/posix/regular_file.h"

namespace vornlink {
namespace {

// Links of one chain that are followed at most; the kernel allows 40.
constexpr int kMaxLinkHops = 16;
// Rounds of judging and opening while links keep appearing at the end,
// after a first round that opens the path as it stands.
constexpr int kMaxOpenRounds = 5;

bool IsTrustedOwner(uid_t owner) { return owner == 0 || owner == geteuid(); }

// Whether nobody but the trusted owners can change what `folder` names:
// its owner is one of them and nobody else may write it; with
// `sticky_owner` (the owner of the entry that matters), a sticky folder
// that this owner owns counts as well, since others can add names to it
// but not take that one away.
bool FolderKeepsOthersOut(const std::string& folder, const uid_t* sticky_owner) {
  struct stat info;
  if (stat(folder.c_str(), &info) != 0 || !IsTrustedOwner(info.st_uid)) return false;
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) == 0) return true;
  return sticky_owner != nullptr && (info.st_mode & S_ISVTX) != 0 && info.st_uid == *sticky_owner;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SecondNamesAllowedIn(const std::string& folder) {
  return FolderKeepsOthersOut(folder, nullptr);
}

int FollowTrustedLinks(const std::string& path, std::string* file) {
  std::string at = path;
  for (int hop = 0;; ++hop) {
    struct stat info;
    // A missing file, or one that cannot be looked at, is the open's to
    // report.
    if (lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    if (hop == kMaxLinkHops) return ELOOP;
    const std::string folder = FolderOf(at);
    if (!IsTrustedOwner(info.st_uid) || !FolderKeepsOthersOut(folder, &info.st_uid)) {
      return kPlantedLink;
    }
    char target[PATH_MAX];
    const ssize_t length = readlink(at.c_str(), target, sizeof target);
    if (length < 0) return errno;
    if (static_cast<size_t>(length) == sizeof target) return ENAMETOOLONG;
    at = target[0] == '/' ? std::string(target, length)
                          : folder + "/" + std::string(target, static_cast<size_t>(length));
  }
  *file = at;
  return 0;
}

int OpenTrusted(const std::string& path, int flags, mode_t mode, ScopedFd* fd, struct stat* info,
                std::string* file, bool* created) {
  const bool create = (flags & O_CREAT) != 0;
  flags = (flags & ~(O_CREAT | O_EXCL)) | O_NOFOLLOW;
  for (int round = 0; round < kMaxOpenRounds; ++round) {
    // The first round opens the path itself, never through a link: a link
    // in its place (ELOOP) is judged in the next round. Most paths are none.
    std::string target = path;
    int code = round == 0 ? 0 : FollowTrustedLinks(path, &target);
    if (code != 0) return code;
    code = OpenRegular(target, flags, 0, fd, info);
    bool made = false;
    if (code == ENOENT && create) {
      code = OpenRegular(target, flags | O_CREAT | O_EXCL, mode, fd, info);
      made = code == 0;
    }
    // A link in the file's place (ELOOP), or a file made by somebody else
    // meanwhile (EEXIST): judged on the next round.
    if (code == ELOOP || (code == EEXIST && create)) continue;
    if (code != 0) return code;
    if (info->st_nlink > 1 && !SecondNamesAllowedIn(FolderOf(target))) {
      fd->reset();
      return kPlantedLink;
    }
    if (file != nullptr) *file = target;
    if (created != nullptr) *created = made;
    return 0;
  }
  return ELOOP;
}

std::string OpenErrorText(int code) {
  if (code == kPlantedLink) return kPlantedLinkRefused;
  return code == EINVAL ? env_parts::kNotRegularFile : env_parts::ErrorText(code);
}

namespace env_parts {

bool IsTrustedPath(const std::string& path, std::string* error) {
  std::string file;
  int code = FollowTrustedLinks(path, &file);
  struct stat info;
  if (code == 0 && lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink > 1 &&
      !SecondNamesAllowedIn(FolderOf(file))) {
    code = kPlantedLink;
  }
  if (code == kPlantedLink) SetError(error, kPlantedLinkRefused);
  return code != kPlantedLink;
}

}  // namespace env_parts
}  // namespace vornlink
