// Env for Linux and other POSIX systems.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/env.h"
#include "platform/private_profile.h"
#include "vornlink_version.h"

extern char** environ;

namespace vornlink {
namespace {

// Owns one file descriptor.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; false when close reports an error.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Removes the temporary files that replacements of `path` by processes that
// died in the middle left behind ("<name>.<pid>.<n>.tmp" of a process that no
// longer exists).
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
    long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid <= 0 || pid == getpid()) continue;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      unlinkat(dirfd(dir), entry->d_name, 0);
    }
  }
  closedir(dir);
}

bool SyncFolder(const std::string& folder) {
  ScopedFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.valid() && fsync(fd.get()) == 0;
}

// flock on one lock file per name, plus a mutex for the threads of this
// process (flock does not exclude threads that share the descriptor).
class FlockMutex : public CrossProcessMutex {
 public:
  explicit FlockMutex(std::string path) : path_(std::move(path)) {}
  ~FlockMutex() override {
    if (fd_ >= 0) close(fd_);
  }

  void Lock() override {
    threads_.lock();
    if (fd_ >= 0 && owner_ != getpid()) {
      // A child made by fork shares the parent's open lock file, and with it
      // the parent's lock: it needs one of its own. Closing the inherited
      // descriptor leaves the parent's lock alone.
      close(fd_);
      fd_ = -1;
    }
    if (fd_ < 0) {
      fd_ = open(path_.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
      if (fd_ >= 0) fchmod(fd_, 0666);  // every user's processes share it
      owner_ = getpid();
    }
    if (fd_ < 0) return;  // no lock file: threads of this process are still held off
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }

  void Unlock() override {
    if (fd_ >= 0) flock(fd_, LOCK_UN);
    threads_.unlock();
  }

 private:
  const std::string path_;
  std::mutex threads_;
  int fd_ = -1;      // guarded by threads_
  pid_t owner_ = 0;  // the process that opened fd_
};

class PosixEnv : public Env {
 public:
  std::string ModulePath() override {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&DefaultEnv), &info) == 0 || info.dli_fname == nullptr) {
      return std::string();
    }
    return info.dli_fname;
  }

  uintptr_t ModuleLoadAddress() override {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&DefaultEnv), &info) == 0) return 0;
    return reinterpret_cast<uintptr_t>(info.dli_fbase);
  }

  FileVersionResult ReadFileVersion(const std::string& path, FileVersion* version) override {
    // ELF files carry no version resource: the module knows its own.
    if (path.empty() || path != ModulePath()) return FileVersionResult::kUnreadable;
    version->major = VORNLINK_VERSION_MAJOR;
    version->minor = VORNLINK_VERSION_MINOR;
    version->third = VORNLINK_VERSION_PATCH;
    version->fourth = VORNLINK_VERSION_TWEAK;
    return FileVersionResult::kOk;
  }

  std::string ReadProfileString(const std::string& section, const std::string& key,
                                const std::string& default_value,
                                const std::string& path) override {
    std::string contents;
    if (ReadTextFile(path, &contents) != ReadResult::kOk) return ProfileDefault(default_value);
    return LookUpProfileString(contents, section, key, default_value);
  }

  int64_t UnixTime() override { return static_cast<int64_t>(time(nullptr)); }

  uint32_t TickCount() override {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
  }

  void SleepMs(uint32_t milliseconds) override {
    timespec wanted{static_cast<time_t>(milliseconds / 1000),
                    static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wanted, &wanted) != 0 && errno == EINTR) {
    }
  }

  ReadResult ReadTextFile(const std::string& path, std::string* contents) override {
    contents->clear();
    ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kError;
    struct stat info;
    if (fstat(fd.get(), &info) == 0 && info.st_size > 0) {
      contents->reserve(static_cast<size_t>(info.st_size));
    }
    char buffer[65536];
    for (;;) {
      ssize_t got = read(fd.get(), buffer, sizeof buffer);
      if (got < 0) {
        if (errno == EINTR) continue;
        return ReadResult::kError;
      }
      if (got == 0) return ReadResult::kOk;
      contents->append(buffer, static_cast<size_t>(got));
    }
  }

  bool AppendTextFile(const std::string& path, const std::string& text, bool durable) override {
    ScopedFd fd(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (!fd.valid()) return false;
    if (!WriteAll(fd.get(), text.data(), text.size())) return false;
    if (durable && fdatasync(fd.get()) != 0) return false;
    return fd.Close();
  }

  bool ReplaceTextFile(const std::string& path, const std::string& text) override {
    static std::atomic<unsigned> serial{0};
    std::string folder = FolderOf(path);
    std::string temp =
        path + "." + std::to_string(getpid()) + "." + std::to_string(serial.fetch_add(1)) + ".tmp";
    ScopedFd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.valid()) return false;
    bool written = WriteAll(fd.get(), text.data(), text.size()) && fsync(fd.get()) == 0;
    written = fd.Close() && written;
    if (!written || rename(temp.c_str(), path.c_str()) != 0) {
      unlink(temp.c_str());
      return false;
    }
    bool synced = SyncFolder(folder);
    RemoveStaleTemporaries(folder, path);
    return synced;
  }

  void StartProgram(const std::string& program, const std::string& argument) override {
    // A short-lived shell starts the program in the background and leaves at
    // once; the program then belongs to init, so it never becomes our zombie
    // and nothing in this process has to wait for it.
    std::string script = "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &";
    const char* args[] = {"sh", "-c", script.c_str(), program.c_str(), argument.c_str(), nullptr};
    pid_t shell = 0;
    if (posix_spawnp(&shell, "sh", nullptr, nullptr, const_cast<char* const*>(args), environ) !=
        0) {
      return;
    }
    int status = 0;
    while (waitpid(shell, &status, 0) < 0 && errno == EINTR) {
    }
  }

  int LastError() override { return errno; }

  std::string ErrorText(int code) override {
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

  std::string OsText() override {
    utsname name;
    if (uname(&name) != 0) return "OS Unknown";
    return std::string("POSIX Platform os[") + name.sysname + "] ver[" + name.release +
           "] machine[" + name.machine + "]";
  }

  std::unique_ptr<CrossProcessMutex> NewNamedMutex(const std::string& name) override {
    return std::make_unique<FlockMutex>("/tmp/" + name + ".lock");
  }
};

}  // namespace

Env* DefaultEnv() {
  static PosixEnv* env = new PosixEnv();  // never destroyed: threads may outlive statics
  return env;
}

bool ToLocalTime(int64_t unix_time, std::tm* local) {
  time_t t = static_cast<time_t>(unix_time);
  return localtime_r(&t, local) != nullptr;
}

}  // namespace vornlink
