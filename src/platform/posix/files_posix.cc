// Text files of the POSIX Env.
//
// The driver may run as root beside files in folders that other users can
// write (a log in /tmp, say), so every open here refuses what is not a
// regular file without blocking on it, follows links and second names only
// where nobody else could have planted them (trusted_path_posix.cc),
// temporary files are made exclusively and never through a link, and a
// replaced file keeps its permissions.
//
// Every helper returns the errno of its failure, taken right after the call
// that failed: a close in between may change errno. Every call that changes
// the disk goes through FileCalls() (file_calls.h).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/env_parts.h"
#include "platform/posix/file_calls.h"
#include "platform/posix/regular_file.h"
#include "platform/posix/scoped_fd.h"
#include "platform/temporary_files.h"

namespace vornlink {
namespace {

using env_parts::SetError;
using env_parts::SetReplacedNote;

void SetErrno(std::string* error, int code) { SetError(error, env_parts::ErrorText(code)); }

// Writes everything; `*written` counts what reached the file before a failure.
int WriteAll(int fd, const char* data, size_t size, size_t* written) {
  *written = 0;
  while (*written < size) {
    ssize_t done = FileCalls().write(fd, data + *written, size - *written);
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (done == 0) return ENOSPC;
    *written += static_cast<size_t>(done);
  }
  return 0;
}

int SyncFolder(const std::string& folder) {
  int fd = FileCalls().open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return errno;
  const int code = FileCalls().fsync(fd) == 0 ? 0 : errno;
  close(fd);
  return code;
}

// Removes the temporaries of `path` (see platform/temporary_files.h) that
// processes which no longer run left behind.
void RemoveStaleTemporaries(const std::string& folder, const std::string& path) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  const std::string file_name = NameOf(path);
  while (dirent* entry = readdir(dir)) {
    uint32_t pid = 0;
    if (!IsTemporaryOf(entry->d_name, file_name, &pid) ||
        pid > static_cast<uint32_t>(std::numeric_limits<pid_t>::max()) ||
        static_cast<pid_t>(pid) == getpid()) {
      continue;
    }
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      FileCalls().unlinkat(dirfd(dir), entry->d_name, 0);
    }
  }
  closedir(dir);
}

// Makes a new temporary file for `target` in its folder: exclusively, never
// through a link, readable by its owner only until the caller sets its mode.
int CreateTemporary(const std::string& target, ScopedFd* fd, std::string* temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = NewTemporaryName(target, static_cast<uint32_t>(getpid()));
    const int opened = FileCalls().open(
        temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    const int code = errno;
    if (opened >= 0) {
      fd->reset(opened);
      return 0;
    }
    if (code != EEXIST) return code;
  }
  return EEXIST;
}

// The permissions a new file gets from the process's umask, read without
// changing it for other threads (the umask call is not thread-safe).
mode_t ModeForNewFile() {
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  mode_t mask = umask(022);
  umask(mask);
  return 0666 & ~mask;
}

// Writes `text` into the new temporary `temp`, gives it the permissions
// (and the owner, where allowed) of the file it replaces (`old`, null for
// none) and flushes it.
int FillTemporary(int fd, const std::string& temp, const std::string& text,
                  const struct stat* old) {
  size_t written = 0;
  const int code = WriteAll(fd, text.data(), text.size(), &written);
  if (code != 0) return code;
  if (fchmod(fd, old != nullptr ? old->st_mode & 07777 : ModeForNewFile()) != 0) return errno;
  if (old != nullptr && (old->st_uid != geteuid() || old->st_gid != getegid())) {
    // Only a privileged process may give a file away; others keep theirs.
    (void)!fchown(fd, old->st_uid, old->st_gid);
  }
  return FileCalls().fsync(fd) == 0 ? 0 : errno;
}

// Writes `data` at `offset` of the file open as `fd`.
int WriteAllAt(int fd, const std::string& data, uint64_t offset) {
  int code = 0;
  size_t done = 0;
  while (done < data.size()) {
    ssize_t wrote = FileCalls().pwrite(fd, data.data() + done, data.size() - done,
                                       static_cast<off_t>(offset + done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      code = wrote < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<size_t>(wrote);
  }
  return code;
}

ReplaceResult RewriteInPlace(const std::string& target, const std::string& text,
                             std::string* error) {
  ScopedFd fd;
  struct stat info;
  int code = OpenTrusted(target, O_WRONLY, 0, &fd, &info);
  if (code != 0) {
    SetError(error, OpenErrorText(code));
    return ReplaceResult::kFailed;
  }
  code = WriteAllAt(fd.get(), text, 0);
  if (code == 0 && FileCalls().ftruncate(fd.get(), static_cast<off_t>(text.size())) != 0) {
    code = errno;
  }
  if (code != 0) {
    SetErrno(error, code);
    return ReplaceResult::kFailed;
  }
  // Readers see the new content from here on, whatever the flush says.
  code = FileCalls().fsync(fd.get()) == 0 ? 0 : errno;
  if (!fd.Close() && code == 0) code = errno;
  SetReplacedNote(error, code);
  return ReplaceResult::kRewrittenInPlace;
}

// Cuts an append that failed after `written` bytes back to `size_before`,
// so that no torn line stays behind; not when the file has grown by more
// than that (another writer appended meanwhile).
void TakeBack(int fd, off_t size_before, size_t written, bool durable) {
  struct stat after;
  if (fstat(fd, &after) != 0 || after.st_size != size_before + static_cast<off_t>(written) ||
      FileCalls().ftruncate(fd, size_before) != 0) {
    return;
  }
  if (durable) FileCalls().fdatasync(fd);
}

// Whether the file's modification and change times lie at least
// kStampSettleSeconds back (the file system stamps with the same real-time
// clock, at most a tick behind it).
bool IsSettled(const struct stat& info) {
  timespec now;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
  const time_t latest =
      info.st_mtim.tv_sec > info.st_ctim.tv_sec ? info.st_mtim.tv_sec : info.st_ctim.tv_sec;
  return latest <= now.tv_sec - kStampSettleSeconds - 1;
}

void SetStamp(const struct stat& info, FileStamp* stamp) {
  stamp->volume = static_cast<uint64_t>(info.st_dev);
  stamp->file = static_cast<uint64_t>(info.st_ino);
  stamp->size = static_cast<uint64_t>(info.st_size);
  stamp->modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  stamp->changed = static_cast<int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
  stamp->settled = IsSettled(info);
}

// Reads the open file `fd` (its status in `info`) whole.
ReadResult ReadOpenFile(int fd, const struct stat& info, std::string* contents, size_t max_size,
                        std::string* error) {
  if (static_cast<uint64_t>(info.st_size) > max_size) {
    SetError(error, "larger than " + std::to_string(max_size) + " bytes");
    return ReadResult::kError;
  }
  contents->reserve(static_cast<size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      SetErrno(error, errno);
      contents->clear();
      return ReadResult::kError;
    }
    if (got == 0) return ReadResult::kOk;
    if (contents->size() + static_cast<size_t>(got) > max_size) {
      SetError(error, "larger than " + std::to_string(max_size) + " bytes");
      contents->clear();
      return ReadResult::kError;
    }
    contents->append(buffer, static_cast<size_t>(got));
  }
}

// Reads up to `max_bytes` bytes from `offset` on of the open file `fd`,
// `size` bytes long when its status was taken.
ReadResult ReadOpenBytes(int fd, uint64_t size, uint64_t offset, size_t max_bytes,
                         std::string* bytes, std::string* error) {
  bytes->clear();
  if (offset >= size || max_bytes == 0) return ReadResult::kOk;
  const uint64_t left = size - offset;
  bytes->resize(static_cast<size_t>(left < max_bytes ? left : max_bytes));
  size_t done = 0;
  while (done < bytes->size()) {
    ssize_t got =
        pread(fd, &(*bytes)[done], bytes->size() - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      SetErrno(error, errno);
      bytes->clear();
      return ReadResult::kError;
    }
    if (got == 0) break;  // cut shorter meanwhile
    done += static_cast<size_t>(got);
  }
  bytes->resize(done);
  return ReadResult::kOk;
}

// Appends `text` to the open file `fd`, `size_before` bytes long before
// it; a file the open made (`created`, at `file`) is synced into its folder
// too. Cut back on a failure part-way. Closes `fd`.
int AppendToOpenFile(ScopedFd* fd, off_t size_before, const std::string& text, bool durable,
                     bool created, const std::string& file) {
  size_t written = 0;
  int code = WriteAll(fd->get(), text.data(), text.size(), &written);
  if (code == 0 && durable) {
    code = FileCalls().fdatasync(fd->get()) == 0 ? 0 : errno;
    // A file this call made is durable only once its folder names it.
    if (code == 0 && created) code = SyncFolder(FolderOf(file));
  }
  // Synced bytes stay whatever the close says: calling that a failure would
  // have the caller write them a second time.
  if (code == 0 && !fd->Close() && !durable) code = errno;
  if (code != 0 && fd->valid()) TakeBack(fd->get(), size_before, written, durable);
  return code;
}

// The file opened once, for reading and appending: the status its open
// took serves the first read, later reads take it anew.
class OpenAppendingFile : public AppendingFile {
 public:
  // Takes `fd` over.
  OpenAppendingFile(int fd, const struct stat& info) : fd_(fd), info_(info) {}

  ReadResult ReadBytes(uint64_t offset, size_t max_bytes, std::string* bytes, FileStamp* stamp,
                       std::string* error) override {
    bytes->clear();
    if (!fd_.valid()) return Closed(error);
    if (!fresh_status_ && fstat(fd_.get(), &info_) != 0) {
      SetErrno(error, errno);
      return ReadResult::kError;
    }
    fresh_status_ = false;
    SetStamp(info_, stamp);
    return ReadOpenBytes(fd_.get(), stamp->size, offset, max_bytes, bytes, error);
  }

  bool AppendDurably(const std::string& text, std::string* error) override {
    if (!fd_.valid()) {
      Closed(error);
      return false;
    }
    // Nobody else writes while the caller's lock is held: the size its last
    // read saw is the size before this append.
    const int code = AppendToOpenFile(&fd_, info_.st_size, text, /*durable=*/true,
                                      /*created=*/false, std::string());
    fd_.reset();
    if (code != 0) SetErrno(error, code);
    return code == 0;
  }

 private:
  static ReadResult Closed(std::string* error) {
    SetError(error, "the file was closed by its append");
    return ReadResult::kError;
  }

  ScopedFd fd_;
  struct stat info_;
  bool fresh_status_ = true;
};

// Whether an open with `flags` could wait for another process: an open of
// a FIFO for reading or for writing waits for the other end. Linux opens a
// FIFO for both at once; the cache's add opens so at every host call. (A
// device that waits at its open is no file others can plant: making one
// takes root, and a second name of one needs its file system.)
bool OpenMayWait(int flags) {
#if defined(__linux__)
  return (flags & O_ACCMODE) != O_RDWR;
#else
  (void)flags;
  return true;
#endif
}

}  // namespace

int OpenRegular(const std::string& path, int flags, mode_t mode, ScopedFd* fd, struct stat* info) {
  const bool without_waiting = OpenMayWait(flags);
  fd->reset(FileCalls().open(
      path.c_str(), flags | O_CLOEXEC | O_NOCTTY | (without_waiting ? O_NONBLOCK : 0), mode));
  if (!fd->valid()) return errno;
  int code = 0;
  if (fstat(fd->get(), info) != 0) {
    code = errno;
  } else if (!S_ISREG(info->st_mode)) {
    code = EINVAL;
  }
  if (code != 0) {
    fd->reset();
    return code;
  }
  // Opened without waiting; its reads and writes may wait as usual. Of the
  // status flags the open set, only O_APPEND stays (F_SETFL keeps the
  // access mode and the flags it cannot change).
  if (without_waiting) fcntl(fd->get(), F_SETFL, flags & O_APPEND);
  return 0;
}

namespace env_parts {

ReadResult ReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                        std::string* error) {
  contents->clear();
  ScopedFd fd;
  struct stat info;
  const int code = OpenTrusted(path, O_RDONLY, 0, &fd, &info);
  if (code != 0) {
    SetError(error, OpenErrorText(code));
    errno = code;
    return code == ENOENT ? ReadResult::kMissing : ReadResult::kError;
  }
  return ReadOpenFile(fd.get(), info, contents, max_size, error);
}

ReadResult ReadChangedTextFile(const std::string& path, const FileStamp* known,
                               std::string* contents, size_t max_size, FileStamp* stamp,
                               bool* unchanged, std::string* error) {
  contents->clear();
  *unchanged = false;
  struct stat info;
  // A regular file in the path's own place (no link) that is still the file
  // of a settled stamp, with its size and both times: the file that the
  // open behind `known` judged, unchanged since (a second name made for it
  // would have moved its change time). Nothing to open then.
  if (known != nullptr && known->settled && lstat(path.c_str(), &info) == 0 &&
      S_ISREG(info.st_mode)) {
    SetStamp(info, stamp);
    if (known->SameState(*stamp)) {
      *unchanged = true;
      return ReadResult::kOk;
    }
  }
  ScopedFd fd;
  const int code = OpenTrusted(path, O_RDONLY, 0, &fd, &info);
  if (code != 0) {
    SetError(error, OpenErrorText(code));
    errno = code;
    return code == ENOENT ? ReadResult::kMissing : ReadResult::kError;
  }
  SetStamp(info, stamp);
  if (known != nullptr && known->settled && known->SameState(*stamp)) {
    *unchanged = true;
    return ReadResult::kOk;
  }
  return ReadOpenFile(fd.get(), info, contents, max_size, error);
}

ReadResult ReadFileBytes(const std::string& path, uint64_t offset, size_t max_bytes,
                         std::string* bytes, FileStamp* stamp, std::string* error) {
  bytes->clear();
  ScopedFd fd;
  struct stat info;
  const int code = OpenTrusted(path, O_RDONLY, 0, &fd, &info);
  if (code != 0) {
    SetError(error, OpenErrorText(code));
    return code == ENOENT ? ReadResult::kMissing : ReadResult::kError;
  }
  SetStamp(info, stamp);
  return ReadOpenBytes(fd.get(), stamp->size, offset, max_bytes, bytes, error);
}

bool AppendTextFile(const std::string& path, const std::string& text, bool durable,
                    std::string* error) {
  ScopedFd fd;
  struct stat before;
  std::string file;
  bool created = false;
  int code = OpenTrusted(path, O_WRONLY | O_APPEND | O_CREAT, 0666, &fd, &before, &file, &created);
  if (code != 0) {
    SetError(error, OpenErrorText(code));
    return false;
  }
  code = AppendToOpenFile(&fd, before.st_size, text, durable, created, file);
  if (code != 0) SetErrno(error, code);
  return code == 0;
}

std::unique_ptr<AppendingFile> OpenForAppend(const std::string& path) {
  ScopedFd fd;
  struct stat info;
  // Opened as ReadFileBytes and AppendTextFile open it; a file that is
  // missing (the append creates it) or not open to both is left to them.
  if (OpenTrusted(path, O_RDWR | O_APPEND, 0, &fd, &info) != 0) return nullptr;
  return std::make_unique<OpenAppendingFile>(fd.release(), info);
}

ReplaceResult ReplaceTextFile(const std::string& path, const std::string& text,
                              const ReplaceOptions& options, std::string* error) {
  // A file held open elsewhere does not keep a rename from replacing it, so
  // there is nothing to wait for. A link that may be followed is kept: what
  // it points to is replaced. The rename puts the new file in the place of
  // whatever stands there then, a link planted meanwhile included, and never
  // writes through it.
  std::string target;
  struct stat info;
  int code = FollowTrustedLinks(path, &target);
  const bool existed = code == 0 && lstat(target.c_str(), &info) == 0;
  if (code == 0 && existed &&
      (!S_ISREG(info.st_mode) || (info.st_nlink > 1 && !SecondNamesAllowedIn(FolderOf(target))))) {
    code = S_ISREG(info.st_mode) ? kPlantedLink : EINVAL;
  }
  if (code != 0) {
    SetError(error, OpenErrorText(code));
    return ReplaceResult::kFailed;
  }
  ScopedFd fd;
  std::string temp;
  code = CreateTemporary(target, &fd, &temp);
  if (code != 0) {
    if (existed && (code == EACCES || code == EPERM) && options.may_rewrite_in_place) {
      return RewriteInPlace(target, text, error);
    }
    SetErrno(error, code);
    return ReplaceResult::kFailed;
  }
  code = FillTemporary(fd.get(), temp, text, existed ? &info : nullptr);
  if (code == 0 && !fd.Close()) code = errno;
  if (code == 0 && FileCalls().rename(temp.c_str(), target.c_str()) != 0) code = errno;
  if (code != 0) {
    FileCalls().unlinkat(AT_FDCWD, temp.c_str(), 0);
    SetErrno(error, code);
    return ReplaceResult::kFailed;
  }
  // The new file is in place: what follows cannot undo that, so a folder
  // that does not sync makes a note, not a failure.
  const std::string folder = FolderOf(target);
  SetReplacedNote(error, SyncFolder(folder));
  RemoveStaleTemporaries(folder, target);
  return ReplaceResult::kReplaced;
}

bool OverwriteFileBytes(const std::string& path, uint64_t offset, const std::string& bytes,
                        std::string* error) {
  ScopedFd fd;
  struct stat info;
  // Without O_CREAT: a missing file stays missing.
  int code = OpenTrusted(path, O_WRONLY, 0, &fd, &info);
  if (code != 0) {
    SetError(error, OpenErrorText(code));
    return false;
  }
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  if (offset > size || bytes.size() > size - offset) {
    SetError(error, "the bytes to overwrite lie past the end of the file");
    return false;
  }
  code = WriteAllAt(fd.get(), bytes, offset);
  if (code == 0) code = FileCalls().fdatasync(fd.get()) == 0 ? 0 : errno;
  // Synced: a failing close (the descriptor's destructor) takes nothing back.
  if (code != 0) {
    SetErrno(error, code);
    return false;
  }
  return true;
}

bool FreeDiskSpace(const std::string& path, uint64_t* bytes, std::string* error) {
  struct statvfs volume;
  // The file's own volume where it exists (a link may lead to another).
  int code = statvfs(path.c_str(), &volume) == 0 ? 0 : errno;
  if (code == ENOENT) code = statvfs(FolderOf(path).c_str(), &volume) == 0 ? 0 : errno;
  if (code != 0) {
    SetErrno(error, code);
    return false;
  }
  // Root may write the blocks that the file system keeps back from others.
  const uint64_t blocks = geteuid() == 0 ? volume.f_bfree : volume.f_bavail;
  *bytes = blocks * static_cast<uint64_t>(volume.f_frsize);
  return true;
}

bool SetAllocatedFileSize(const std::string& path, uint64_t size, std::string* error) {
  if (size > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
    SetErrno(error, EFBIG);
    return false;
  }
  ScopedFd fd;
  struct stat before;
  std::string file;
  bool created = false;
  // Read and write: where the file system cannot allocate, the C library
  // does it by writing, and may need to read first.
  int code = OpenTrusted(path, O_RDWR | O_CREAT, 0666, &fd, &before, &file, &created);
  if (code != 0) {
    SetError(error, OpenErrorText(code));
    return false;
  }
  const off_t old_size = before.st_size;
  const off_t new_size = static_cast<off_t>(size);
  if (new_size > old_size) {
    // From the start: a hole that an existing file may have is filled too.
    code = FileCalls().posix_fallocate(fd.get(), 0, new_size);
  } else if (new_size < old_size) {
    code = FileCalls().ftruncate(fd.get(), new_size) == 0 ? 0 : errno;
  }
  if (code == 0) code = FileCalls().fsync(fd.get()) == 0 ? 0 : errno;
  if (code == 0 && created) code = SyncFolder(FolderOf(file));
  if (code != 0 && new_size > old_size && FileCalls().ftruncate(fd.get(), old_size) == 0) {
    // What a growth that ran out of room took, it gives back.
    FileCalls().fsync(fd.get());
  }
  if (code != 0) {
    SetErrno(error, code);
    return false;
  }
  return true;
}

}  // namespace env_parts
}  // namespace vornlink
