// Text files and the file lock of the POSIX Env.
//
// The driver may run as root beside files in folders that other users can
// write (a log in /tmp, say), so every open here refuses what is not a
// regular file without blocking on it (a FIFO would hold the caller, a
// device would feed it without end), temporary files are made exclusively
// and never through a link, and a replaced file keeps its permissions.
#include "platform/posix/files_posix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <random>
#include <string>

#include "platform/file_events.h"
#include "platform/posix/scoped_fd.h"

namespace vornlink {
namespace {

constexpr char kNotRegular[] = "not a regular file";
constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

void SetErrno(std::string* error, int code) { SetError(error, PosixErrorText(code)); }

// Writes everything; `*written` counts what reached the file before a failure.
bool WriteAll(int fd, const char* data, size_t size, size_t* written) {
  *written = 0;
  while (*written < size) {
    ssize_t done = write(fd, data + *written, size - *written);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (done == 0) {
      errno = ENOSPC;
      return false;
    }
    *written += static_cast<size_t>(done);
  }
  return true;
}

// Checks that `fd` (opened with O_NONBLOCK) is a regular file and makes its
// I/O blocking again. False with errno set (EINVAL for another kind of file).
bool EnsureRegular(int fd, struct stat* info) {
  if (fstat(fd, info) != 0) return false;
  if (!S_ISREG(info->st_mode)) {
    errno = EINVAL;
    return false;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return true;
}

// The reason for a failed open or EnsureRegular, for the caller's log.
void SetOpenError(std::string* error, int code) {
  if (code == EINVAL) {
    SetError(error, kNotRegular);
  } else {
    SetErrno(error, code);
  }
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool SyncFolder(const std::string& folder) {
  ScopedFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid() || fsync(fd.get()) != 0) return false;
  ReportFileEvent(FileEvent::Kind::kSyncFolder, folder);
  return true;
}

// Temporary files are "<name>.<pid>.<random>.tmp" beside the file they
// replace; this removes those of processes that died in the middle.
void RemoveStaleTemporaries(const std::string& folder, const std::string& path) {
  size_t slash = path.rfind('/');
  const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    constexpr size_t kSuffix = 4;  // ".tmp"
    if (name.size() <= prefix.size() + kSuffix || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - kSuffix, kSuffix, ".tmp") != 0) {
      continue;
    }
    char* end = nullptr;
    long pid = strtol(name.c_str() + prefix.size(), &end, 10);
    if (pid <= 0 || pid == getpid() || end == nullptr || *end != '.') continue;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      if (unlinkat(dirfd(dir), entry->d_name, 0) == 0) {
        ReportFileEvent(FileEvent::Kind::kRemove, folder + "/" + name);
      }
    }
  }
  closedir(dir);
}

// Makes a new temporary file for `target` in its folder: exclusively, never
// through a link, readable by its owner only until the caller sets its mode.
int CreateTemporary(const std::string& target, std::string* temp) {
  static std::atomic<unsigned> serial{0};
  static thread_local std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = target + "." + std::to_string(getpid()) + "." + std::to_string(serial.fetch_add(1)) +
            std::to_string(random() % 1000000) + ".tmp";
    int fd = open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | kOpenFlags, 0600);
    if (fd >= 0) ReportFileEvent(FileEvent::Kind::kCreate, *temp);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
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

ReplaceResult RewriteInPlace(const std::string& target, const std::string& text,
                             std::string* error) {
  ScopedFd fd(open(target.c_str(), O_WRONLY | O_NOFOLLOW | kOpenFlags));
  struct stat info;
  if (!fd.valid() || !EnsureRegular(fd.get(), &info)) {
    SetOpenError(error, errno);
    return ReplaceResult::kFailed;
  }
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote =
        pwrite(fd.get(), text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      SetErrno(error, wrote < 0 ? errno : ENOSPC);
      return ReplaceResult::kFailed;
    }
    done += static_cast<size_t>(wrote);
  }
  ReportFileEvent(FileEvent::Kind::kWrite, target, 0, text);
  if (ftruncate(fd.get(), static_cast<off_t>(text.size())) != 0) {
    SetErrno(error, errno);
    return ReplaceResult::kFailed;
  }
  ReportFileEvent(FileEvent::Kind::kTruncate, target, text.size());
  if (fsync(fd.get()) != 0 || !fd.Close()) {
    SetErrno(error, errno);
    return ReplaceResult::kFailed;
  }
  ReportFileEvent(FileEvent::Kind::kSync, target);
  return ReplaceResult::kRewrittenInPlace;
}

// flock does not keep threads of one process apart and any user who can
// read a file can flock it; a write lock through fcntl needs a descriptor
// open for writing, so only those who may write the lock file can hold it.
// Open-file-description locks belong to this descriptor alone, so closing
// another descriptor of the file does not drop them.
class FileLockMutex : public CrossProcessMutex {
 public:
  explicit FileLockMutex(std::string path) : path_(std::move(path)) {}
  ~FileLockMutex() override {
    if (fd_ >= 0) close(fd_);
  }

  bool Lock(std::string* error) override {
    threads_.lock();
    if (fd_ >= 0 && owner_ != getpid()) {
      // A child made by fork shares the parent's open lock file, and with it
      // the parent's lock: it needs one of its own. Closing the inherited
      // descriptor leaves the parent's lock alone.
      close(fd_);
      fd_ = -1;
    }
    for (;;) {
      if (fd_ < 0 && !Open(error)) break;
      struct flock whole {};
      whole.l_type = F_WRLCK;
      whole.l_whence = SEEK_SET;
      int locked;
      while ((locked = fcntl(fd_, F_OFD_SETLKW, &whole)) != 0 && errno == EINTR) {
      }
      if (locked != 0) {
        SetError(error, path_ + ": " + PosixErrorText(errno));
        break;
      }
      // A lock file removed or replaced while it was open is no longer the
      // one the other processes lock: take the one that is there now.
      struct stat held;
      struct stat there;
      if (fstat(fd_, &held) == 0 && lstat(path_.c_str(), &there) == 0 &&
          held.st_dev == there.st_dev && held.st_ino == there.st_ino) {
        return true;
      }
      close(fd_);
      fd_ = -1;
    }
    threads_.unlock();
    return false;
  }

  bool TryLock() override {
    if (!threads_.try_lock()) return false;
    if (fd_ >= 0 && owner_ != getpid()) {
      close(fd_);
      fd_ = -1;
    }
    if (fd_ < 0 && !Open(nullptr)) {
      threads_.unlock();
      return false;
    }
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    struct stat held;
    struct stat there;
    if (fcntl(fd_, F_OFD_SETLK, &whole) == 0) {
      if (fstat(fd_, &held) == 0 && lstat(path_.c_str(), &there) == 0 &&
          held.st_dev == there.st_dev && held.st_ino == there.st_ino) {
        return true;
      }
      // Replaced while open: let the next try take the file that is there
      // (closing the descriptor gives its lock up).
      close(fd_);
      fd_ = -1;
    }
    threads_.unlock();
    return false;
  }

  void Unlock() override {
    struct flock whole {};
    whole.l_type = F_UNLCK;
    whole.l_whence = SEEK_SET;
    fcntl(fd_, F_OFD_SETLK, &whole);
    threads_.unlock();
  }

 private:
  bool Open(std::string* error) {
    int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | kOpenFlags, 0666);
    struct stat info;
    if (fd < 0 || !EnsureRegular(fd, &info)) {
      int code = errno;
      if (fd >= 0) close(fd);
      SetError(error, path_ + ": " + (code == EINVAL ? kNotRegular : PosixErrorText(code)));
      return false;
    }
    fd_ = fd;
    owner_ = getpid();
    return true;
  }

  const std::string path_;
  std::mutex threads_;
  int fd_ = -1;      // guarded by threads_
  pid_t owner_ = 0;  // the process that opened fd_
};

}  // namespace

std::string PosixErrorText(int code) {
  char buffer[256];
  buffer[0] = '\0';
  // GNU strerror_r may return a static text instead of filling the buffer.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return text != nullptr ? text : "";
#else
  if (strerror_r(code, buffer, sizeof buffer) != 0) return std::string();
  return buffer;
#endif
}

ReadResult PosixReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                             std::string* error) {
  contents->clear();
  ScopedFd fd(open(path.c_str(), O_RDONLY | kOpenFlags));
  struct stat info;
  if (!fd.valid() || !EnsureRegular(fd.get(), &info)) {
    int code = errno;
    SetOpenError(error, code);
    errno = code;
    return !fd.valid() && code == ENOENT ? ReadResult::kMissing : ReadResult::kError;
  }
  if (static_cast<uint64_t>(info.st_size) > max_size) {
    SetError(error, "larger than " + std::to_string(max_size) + " bytes");
    return ReadResult::kError;
  }
  contents->reserve(static_cast<size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd.get(), buffer, sizeof buffer);
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

ReadResult PosixReadFileBytes(const std::string& path, uint64_t offset, size_t max_bytes,
                              std::string* bytes, FileStamp* stamp, std::string* error) {
  bytes->clear();
  ScopedFd fd(open(path.c_str(), O_RDONLY | kOpenFlags));
  struct stat info;
  if (!fd.valid()) {
    int code = errno;
    SetOpenError(error, code);
    return code == ENOENT ? ReadResult::kMissing : ReadResult::kError;
  }
  // pread of a regular file never waits, O_NONBLOCK or not.
  if (fstat(fd.get(), &info) != 0) {
    SetErrno(error, errno);
    return ReadResult::kError;
  }
  if (!S_ISREG(info.st_mode)) {
    SetError(error, kNotRegular);
    return ReadResult::kError;
  }
  stamp->volume = static_cast<uint64_t>(info.st_dev);
  stamp->file = static_cast<uint64_t>(info.st_ino);
  stamp->size = static_cast<uint64_t>(info.st_size);
  stamp->modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  if (offset >= stamp->size || max_bytes == 0) return ReadResult::kOk;
  const uint64_t left = stamp->size - offset;
  bytes->resize(static_cast<size_t>(left < max_bytes ? left : max_bytes));
  size_t done = 0;
  while (done < bytes->size()) {
    ssize_t got =
        pread(fd.get(), &(*bytes)[done], bytes->size() - done, static_cast<off_t>(offset + done));
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

bool PosixAppendTextFile(const std::string& path, const std::string& text, bool durable,
                         std::string* error) {
  // Opened first without O_CREAT, so that this call knows whether it made
  // the file (a file made here must be synced into its folder too).
  int opened = open(path.c_str(), O_WRONLY | O_APPEND | kOpenFlags);
  const bool existed = opened >= 0 || errno != ENOENT;
  if (!existed) opened = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | kOpenFlags, 0666);
  ScopedFd fd(opened);
  struct stat before;
  if (!fd.valid() || !EnsureRegular(fd.get(), &before)) {
    SetOpenError(error, errno);
    return false;
  }
  if (!existed) ReportFileEvent(FileEvent::Kind::kCreate, path);
  size_t written = 0;
  bool ok = WriteAll(fd.get(), text.data(), text.size(), &written);
  ReportFileEvent(FileEvent::Kind::kWrite, path, static_cast<uint64_t>(before.st_size),
                  std::string_view(text.data(), written));
  if (ok && durable) {
    ok = fdatasync(fd.get()) == 0;
    if (ok) ReportFileEvent(FileEvent::Kind::kSync, path);
    // A file this call made is durable only once its folder names it.
    if (ok && !existed) ok = SyncFolder(FolderOf(path));
  }
  if (!ok) {
    int code = errno;
    // Take back what did get in, so that no torn line stays behind; not
    // when the file has grown by more than that (another writer appended).
    struct stat after;
    if (fstat(fd.get(), &after) == 0 &&
        after.st_size == before.st_size + static_cast<off_t>(written)) {
      if (ftruncate(fd.get(), before.st_size) == 0) {
        ReportFileEvent(FileEvent::Kind::kTruncate, path, static_cast<uint64_t>(before.st_size));
        if (durable && fdatasync(fd.get()) == 0) ReportFileEvent(FileEvent::Kind::kSync, path);
      }
    }
    SetErrno(error, code);
    return false;
  }
  if (!fd.Close()) {
    SetErrno(error, errno);
    return false;
  }
  return true;
}

ReplaceResult PosixReplaceTextFile(const std::string& path, const std::string& text,
                                   std::string* error) {
  // A link is kept: what it points to is replaced.
  std::string target = path;
  struct stat info;
  if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
      SetErrno(error, errno);
      return ReplaceResult::kFailed;
    }
    target = resolved;
    free(resolved);
  }
  const bool existed = lstat(target.c_str(), &info) == 0;
  if (existed && !S_ISREG(info.st_mode)) {
    SetError(error, kNotRegular);
    return ReplaceResult::kFailed;
  }
  const std::string folder = FolderOf(target);
  std::string temp;
  ScopedFd fd(CreateTemporary(target, &temp));
  if (!fd.valid()) {
    int code = errno;
    if (existed && (code == EACCES || code == EPERM)) return RewriteInPlace(target, text, error);
    SetErrno(error, code);
    return ReplaceResult::kFailed;
  }
  size_t written = 0;
  bool ok = WriteAll(fd.get(), text.data(), text.size(), &written);
  ReportFileEvent(FileEvent::Kind::kWrite, temp, 0, std::string_view(text.data(), written));
  ok = ok && fsync(fd.get()) == 0;
  if (ok) ReportFileEvent(FileEvent::Kind::kSync, temp);
  if (ok) {
    if (existed) {
      ok = fchmod(fd.get(), info.st_mode & 07777) == 0;
      if (info.st_uid != geteuid() || info.st_gid != getegid()) {
        // Only a privileged process may give a file away; others keep theirs.
        (void)!fchown(fd.get(), info.st_uid, info.st_gid);
      }
    } else {
      ok = fchmod(fd.get(), ModeForNewFile()) == 0;
    }
  }
  int code = errno;
  ok = fd.Close() && ok;
  if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
    if (ok) code = errno;
    if (unlink(temp.c_str()) == 0) ReportFileEvent(FileEvent::Kind::kRemove, temp);
    SetErrno(error, code);
    return ReplaceResult::kFailed;
  }
  ReportFileEvent(FileEvent::Kind::kRename, temp, 0, {}, target);
  if (!SyncFolder(folder)) {
    SetErrno(error, errno);
    return ReplaceResult::kFailed;
  }
  RemoveStaleTemporaries(folder, target);
  return ReplaceResult::kReplaced;
}

std::unique_ptr<CrossProcessMutex> NewFileLockMutex(const std::string& lock_file) {
  return std::make_unique<FileLockMutex>(lock_file);
}

}  // namespace vornlink
