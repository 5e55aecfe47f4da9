// The seam between the driver's logic and the operating system.
//
// Everything the driver needs of the machine goes through `Env`: the module's
// own file, private-profile reads, clocks, text files, the cross-process
// mutex, starting a program, error texts. There is one implementation for
// POSIX (platform/posix) and one for Windows (platform/win32); CMake picks
// one. Tests and the operator tool replace the whole object, or single
// calls of it through `EnvWrapper`, with `InstallEnv`.
//
// Every method may be called from any thread at any time unless it says
// otherwise. No method throws.
#ifndef VORNLINK_PLATFORM_ENV_H_
#define VORNLINK_PLATFORM_ENV_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vornlink {

enum class ReadResult {
  kOk,       // the file was read whole
  kMissing,  // there is no such file
  kError,    // it exists but could not be opened or read, is no regular
             // file, or is larger than the reader allows
};

// The reason a file call gives when IsTrustedPath refuses its path.
inline constexpr char kPlantedLinkRefused[] =
    "refused: a link or a second name of the file that another user could have planted";

// For ReadTextFile: read the file whatever its size.
inline constexpr size_t kNoSizeLimit = static_cast<size_t>(-1);
// The largest settings file (INI or XML) the driver reads: far more than any
// real one, and a device or a runaway file cannot take the host's memory.
inline constexpr size_t kMaxSettingsFileSize = size_t{4} << 20;

enum class ReplaceResult {
  kReplaced,          // a new file took the old one's place in one step
  kRewrittenInPlace,  // no new file could be made in the folder: the old
                      // one was overwritten and flushed instead
  kFailed,
};

struct ReplaceOptions {
  // While another program holds the file open so that it cannot be
  // replaced (Windows), keep trying this long before giving up.
  uint32_t busy_wait_ms = 0;
  // Where no new file may be made in the folder, overwrite the file in
  // place (kRewrittenInPlace) rather than fail. Off for files that a reader
  // must never see half written.
  bool may_rewrite_in_place = true;
};

// What tells one state of a file from another without reading it: the file
// itself (device and inode; volume serial and file index on Windows), its
// size and its last modification. Two equal stamps of one path mean the
// same file, most likely unchanged; a file rewritten in place within the
// clock's resolution can keep its stamp, so callers that must be sure
// compare some content too.
struct FileStamp {
  uint64_t volume = 0;
  uint64_t file = 0;
  uint64_t size = 0;
  int64_t modified = 0;  // in the platform's own units
  // The last change of the file's data or attributes (the inode's change
  // time; on Windows its change time where the system keeps one, else the
  // last write), which no unprivileged program can set back.
  int64_t changed = 0;
  // True when both times lay at least kStampSettleSeconds before the moment
  // the stamp was taken (and none lies ahead of it): any later write then
  // gives the file a stamp of its own, even one that keeps its size.
  bool settled = false;

  // The same file with the same size and both times: with `settled` on the
  // earlier stamp, not changed since.
  bool SameState(const FileStamp& other) const {
    return *this == other && changed == other.changed;
  }

  bool SameFile(const FileStamp& other) const {
    return volume == other.volume && file == other.file;
  }
  bool operator==(const FileStamp& other) const {
    return SameFile(other) && size == other.size && modified == other.modified;
  }
  bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

// How long a file's times must lie in the past before its stamp is trusted
// to show every later change: well above the resolution of any file
// system's clock and a clock step between the file system and the system.
inline constexpr int64_t kStampSettleSeconds = 2;

// The four 16-bit parts of a module's fixed file version.
struct FileVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t third = 0;
  uint16_t fourth = 0;
};

enum class FileVersionResult {
  kOk,
  kUnreadable,  // no version resource, or it could not be read
  kNoMemory,    // the version block could not be allocated
};

// What an attempt to take a mutex without waiting came to.
enum class TryLockResult {
  kTaken,        // it is held now
  kHeld,         // somebody else holds it
  kUnavailable,  // it cannot be had at all (the lock file is a folder, or
                 // this user may not open it): waiting would not help
};

// A mutex shared by every process on the machine that asks for the same one.
// A holder that dies releases it. Not recursive.
class CrossProcessMutex {
 public:
  virtual ~CrossProcessMutex() = default;
  // Waits without limit. False, with the reason in `error` (may be null),
  // when the mutex cannot be had at all; the caller must then not go on as
  // if it held it, and must not call Unlock.
  virtual bool Lock(std::string* error) = 0;
  // Takes the mutex only if nobody holds it. kUnavailable comes with the
  // reason in `error` (may be null).
  virtual TryLockResult TryLock(std::string* error) = 0;
  // Only after a Lock or TryLock that took the mutex.
  virtual void Unlock() = 0;
  // After a TryLock that gave kUnavailable, on the thread that called it:
  // whether only this user's rights stood in the way (the lock file exists
  // but this user may not open it, as its owner may). False otherwise, and
  // where the platform cannot tell.
  virtual bool RefusedToThisUser() const { return false; }
};

// A value asked of an INI file (Env::ReadProfileStrings). Views of the
// caller's texts, for the length of the call: the host's every call asks.
struct ProfileQuery {
  std::string_view section;
  std::string_view key;
  std::string_view default_value;
};

// A file opened once for the reads and the one durable append of a change
// made under a lock that keeps the other writers out (the cache's add):
// what was read and what is appended to are the same file, judged once.
// Made by Env::OpenForAppend; used by one thread; closed when it goes.
class AppendingFile {
 public:
  virtual ~AppendingFile() = default;
  // Env::ReadFileBytes of this file.
  virtual ReadResult ReadBytes(uint64_t offset, size_t max_bytes, std::string* bytes,
                               FileStamp* stamp, std::string* error) = 0;
  // Env::AppendTextFile of this file, durable. The last call: it closes the
  // file, whatever its result.
  virtual bool AppendDurably(const std::string& text, std::string* error) = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // Full path of the driver module's own file (the shared library, not the
  // host's program); empty when the platform cannot tell.
  virtual std::string ModulePath() = 0;
  // Where the driver module is loaded in this process.
  virtual uintptr_t ModuleLoadAddress() = 0;
  // Keeps the driver module mapped until the process ends, whatever the
  // host unloads: for when a thread of the driver may still run.
  virtual void KeepModuleLoaded() = 0;
  // One more reference to the driver module, so that the host's unload does
  // not unmap it while a thread of the driver runs; null where there is
  // none to take (the code is not in a module of its own). ReleaseModule
  // gives it back; never from code of the module that may be the last to
  // run in it.
  virtual void* HoldModule() = 0;
  virtual void ReleaseModule(void* hold) = 0;
  // The fixed file version of the module at `path`.
  virtual FileVersionResult ReadFileVersion(const std::string& path, FileVersion* version) = 0;

  // One value of an INI file, the way the platform's private-profile read
  // gives it: section and key found without regard to case, the value
  // trimmed and cut to 255 characters, `default_value` when the file, the
  // section or the key is missing.
  virtual std::string ReadProfileString(const std::string& section, const std::string& key,
                                        const std::string& default_value,
                                        const std::string& path) = 0;
  // ReadProfileString of each of `queries`, in their order. Where the
  // platform reads INI files itself, all come from one look at the file
  // (the values of one decision then come from one text of it); this
  // default asks ReadProfileString once a query.
  virtual std::vector<std::string> ReadProfileStrings(const std::vector<ProfileQuery>& queries,
                                                      const std::string& path);

  // Seconds since 1970 (UTC).
  virtual int64_t UnixTime() = 0;
  // Milliseconds since some moment, wrapping at 2^32.
  virtual uint32_t TickCount() = 0;
  virtual void SleepMs(uint32_t milliseconds) = 0;

  // Text files. In memory a line ends with "\n"; on disk with the platform's
  // line end ("\r\n" on Windows, "\n" elsewhere), as its text mode does.
  // Only regular files are read or written: a device, a FIFO or a folder in
  // their place is an error, and never makes the caller wait. Links and
  // second names are used only where IsTrustedPath allows them; elsewhere
  // the call fails with kPlantedLinkRefused. Where a call fails, `error`
  // (may be null) gets the system's reason.
  //
  // Whether the text file calls may use `path`: true when it leads to a
  // file (or to none yet) only through links that nobody but the system's
  // administrators and this process's user could have planted, else false
  // with kPlantedLinkRefused in `error` (may be null). A link counts when
  // it is owned by an administrator (root; SYSTEM or Administrators on
  // Windows) or by this process's user and lies in a folder whose owner is
  // one of them and that nobody else may write (a sticky folder only when
  // the link's owner owns it). Each link of a chain is judged so, up to 16;
  // the folders on the way to a link are the administrator's choice and
  // are not judged. A file with a second name (a hard link) counts only in
  // a folder that nobody else may write, sticky or not: a hard link's owner
  // is the file's, not the planter's. Hosts run as administrators beside
  // folders that others can write: without this rule anyone there could
  // steer the driver's writes into any file of the machine.
  virtual bool IsTrustedPath(const std::string& path, std::string* error) = 0;
  //
  // Reads the file whole; with "\r\n" turned into "\n" on Windows. A file
  // larger than `max_size` bytes is not read (kError).
  virtual ReadResult ReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                                  std::string* error) = 0;
  // ReadTextFile that also gives the stamp of the file it opened (set
  // whenever the open succeeded) and reads nothing when `known` (may be
  // null) is a settled stamp (FileStamp::settled) that the file still has
  // (FileStamp::SameState): then kOk with `*unchanged` true and `contents`
  // empty (the platform may then tell it without opening the file: only a
  // regular file in the path's own place, no link, is so known); else
  // `*unchanged` is false.
  virtual ReadResult ReadChangedTextFile(const std::string& path, const FileStamp* known,
                                         std::string* contents, size_t max_size, FileStamp* stamp,
                                         bool* unchanged, std::string* error) = 0;
  // Reads up to `max_bytes` bytes from `offset` on, as they stand on disk
  // (no line end is converted), and the stamp of the file that was read,
  // taken from the same open. Fewer bytes only at the end of the file; none
  // when `offset` is at or past it. Regular files only, as above.
  virtual ReadResult ReadFileBytes(const std::string& path, uint64_t offset, size_t max_bytes,
                                   std::string* bytes, FileStamp* stamp, std::string* error) = 0;
  // Appends `text` at the end of the file, creating it when missing. With
  // `durable` the data has reached the disk when this returns true. When the
  // write fails part-way (a full disk), the file is cut back to its length
  // before the call, unless somebody else appended meanwhile: no torn line
  // is left behind.
  virtual bool AppendTextFile(const std::string& path, const std::string& text, bool durable,
                              std::string* error) = 0;
  // The file at `path` for reads and one durable append, opened as
  // ReadFileBytes and AppendTextFile open it. Where the platform can, it
  // is opened once for both; this default (and a file that cannot be
  // opened so, a missing one included) calls those two by path, so that an
  // Env that replaces them is asked as before. Never null.
  virtual std::unique_ptr<AppendingFile> OpenForAppend(const std::string& path);
  // Replaces the whole file by `text` in one step: readers and a crash at
  // any moment see either the old or the new content, never a mix or a
  // shortened file. Durable unless it fails. The temporary file is made
  // exclusively beside the file that is really replaced (the target of a
  // link IsTrustedPath allows, so that the link stays), and the new file keeps the old one's
  // permissions (and owner, where allowed). Where no new file may be made
  // in that folder but the file itself is writable, it is overwritten in
  // place and flushed (kRewrittenInPlace): not atomic, but not stuck either.
  // Once readers see the new content the call reports it as replaced, also
  // when the flush after that fails: `error` is then "the new content is in
  // place but not flushed: <reason>" (a power cut may still bring the old
  // content back), and empty otherwise.
  virtual ReplaceResult ReplaceTextFile(const std::string& path, const std::string& text,
                                        const ReplaceOptions& options, std::string* error) = 0;

  // Overwrites the bytes of the existing regular file at `path` from
  // `offset` on with `bytes` (as they stand: no line end is converted) and
  // flushes them to the disk before it returns true: a change of fixed
  // length that needs no free space where the file system overwrites in
  // place. Through links only where IsTrustedPath allows them, never past
  // the file's end, never creates the file. False with the system's reason
  // in `error` (may be null).
  virtual bool OverwriteFileBytes(const std::string& path, uint64_t offset,
                                  const std::string& bytes, std::string* error) = 0;

  // Room kept in reserve: a file that holds blocks of the disk only so that
  // they can be given back when the disk is full.
  //
  // The bytes this process may still write on the volume that holds `path`
  // (a file, which need not exist; then its folder's): what the file system
  // has free for this user (for root on Linux, the blocks kept for root
  // included). False with the system's reason in `error` (may be null).
  virtual bool FreeDiskSpace(const std::string& path, uint64_t* bytes, std::string* error) = 0;
  // Makes the regular file at `path` exactly `size` bytes long, every byte
  // of it held on the disk (zeros), and syncs it (and the folder, for a file
  // it made) before it returns true: growing takes real blocks from the
  // volume (no sparse file, no mere length that a later write would still
  // need room for), shrinking gives them back. A missing file is made
  // exclusively, never through a link, with the permissions of a new file;
  // an existing one is opened as the text file calls open theirs (links only
  // where IsTrustedPath allows them, regular files only) and keeps its
  // permissions. A growth that fails (no room) leaves the file as long as
  // it was (a file made by the call stays, empty). False with the system's
  // reason in `error` (may be null).
  virtual bool SetAllocatedFileSize(const std::string& path, uint64_t size, std::string* error) = 0;

  // Starts `program`, found by name as the platform's shell finds it, with
  // one argument; does not wait for it. Failure is silent.
  virtual void StartProgram(const std::string& program, const std::string& argument) = 0;

  // The calling thread's last system error code and the system's text for a
  // code (empty when it has none).
  virtual int LastError() = 0;
  virtual std::string ErrorText(int code) = 0;
  // One line naming the running operating system.
  virtual std::string OsText() = 0;

  // A mutex shared with every other process that asks for the same one.
  // Windows: the system mutex named `name`. Elsewhere: a lock on the file
  // `lock_file` (created when missing, never through a link, its mode left
  // as it is), so that only those who may write in its folder can create
  // it and only those who may write it can hold it. Never null.
  virtual std::unique_ptr<CrossProcessMutex> NewNamedMutex(const std::string& name,
                                                           const std::string& lock_file) = 0;
};

// Forwards every call to another Env; tests derive from it to replace single
// calls. OpenForAppend and ReadProfileStrings are the exceptions: they stay
// Env's defaults, which call this wrapper's ReadFileBytes, AppendTextFile
// and ReadProfileString, so that a wrapper that replaces those is asked in
// every case.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}

  std::string ModulePath() override { return target_->ModulePath(); }
  uintptr_t ModuleLoadAddress() override { return target_->ModuleLoadAddress(); }
  void KeepModuleLoaded() override { target_->KeepModuleLoaded(); }
  void* HoldModule() override { return target_->HoldModule(); }
  void ReleaseModule(void* hold) override { target_->ReleaseModule(hold); }
  FileVersionResult ReadFileVersion(const std::string& path, FileVersion* version) override {
    return target_->ReadFileVersion(path, version);
  }
  std::string ReadProfileString(const std::string& section, const std::string& key,
                                const std::string& default_value,
                                const std::string& path) override {
    return target_->ReadProfileString(section, key, default_value, path);
  }
  int64_t UnixTime() override { return target_->UnixTime(); }
  uint32_t TickCount() override { return target_->TickCount(); }
  void SleepMs(uint32_t milliseconds) override { target_->SleepMs(milliseconds); }
  bool IsTrustedPath(const std::string& path, std::string* error) override {
    return target_->IsTrustedPath(path, error);
  }
  ReadResult ReadTextFile(const std::string& path, std::string* contents, size_t max_size,
                          std::string* error) override {
    return target_->ReadTextFile(path, contents, max_size, error);
  }
  ReadResult ReadChangedTextFile(const std::string& path, const FileStamp* known,
                                 std::string* contents, size_t max_size, FileStamp* stamp,
                                 bool* unchanged, std::string* error) override {
    return target_->ReadChangedTextFile(path, known, contents, max_size, stamp, unchanged, error);
  }
  ReadResult ReadFileBytes(const std::string& path, uint64_t offset, size_t max_bytes,
                           std::string* bytes, FileStamp* stamp, std::string* error) override {
    return target_->ReadFileBytes(path, offset, max_bytes, bytes, stamp, error);
  }
  bool AppendTextFile(const std::string& path, const std::string& text, bool durable,
                      std::string* error) override {
    return target_->AppendTextFile(path, text, durable, error);
  }
  ReplaceResult ReplaceTextFile(const std::string& path, const std::string& text,
                                const ReplaceOptions& options, std::string* error) override {
    return target_->ReplaceTextFile(path, text, options, error);
  }
  bool OverwriteFileBytes(const std::string& path, uint64_t offset, const std::string& bytes,
                          std::string* error) override {
    return target_->OverwriteFileBytes(path, offset, bytes, error);
  }
  bool FreeDiskSpace(const std::string& path, uint64_t* bytes, std::string* error) override {
    return target_->FreeDiskSpace(path, bytes, error);
  }
  bool SetAllocatedFileSize(const std::string& path, uint64_t size, std::string* error) override {
    return target_->SetAllocatedFileSize(path, size, error);
  }
  void StartProgram(const std::string& program, const std::string& argument) override {
    target_->StartProgram(program, argument);
  }
  int LastError() override { return target_->LastError(); }
  std::string ErrorText(int code) override { return target_->ErrorText(code); }
  std::string OsText() override { return target_->OsText(); }
  std::unique_ptr<CrossProcessMutex> NewNamedMutex(const std::string& name,
                                                   const std::string& lock_file) override {
    return target_->NewNamedMutex(name, lock_file);
  }

  Env* target() const { return target_; }

 private:
  Env* target_;
};

// The platform's own Env; lives while the module is loaded.
Env* DefaultEnv();
// Frees it when the module is unloaded and nothing of it runs any more.
void ReleaseDefaultEnv();
// The Env the driver uses: the default one unless another was installed.
Env* GetEnv();
// Makes `env` the one `GetEnv` returns, on every thread; nullptr goes back
// to the default. Returns the one installed before (nullptr: the default),
// for the caller to put back. For a program that runs the driver's own code
// for a module it has not loaded (the operator tool points it at a site),
// and for tests. The caller keeps ownership and keeps `env` alive while it
// is installed; install and put back only while no code of the driver runs
// in the process, or a call under way may use either. Never fails.
Env* InstallEnv(Env* env);
// InstallEnv for tests, which have no use for the previous one.
inline void SetEnvForTesting(Env* env) { InstallEnv(env); }

// Local broken-down time of `unix_time`, by the system's time zone rules.
// Both conversions use 64-bit time on every build, so that the years past
// 2038 work on the 32-bit one too.
bool ToLocalTime(int64_t unix_time, std::tm* local);
// The moment of a local broken-down time, fields out of range rolled over
// into the next unit (30 February is a day of March) and `local` set to the
// normalised time; daylight saving as tm_isdst says (-1: the system decides).
// False when the system cannot represent the moment.
bool FromLocalTime(std::tm* local, int64_t* unix_time);

// The platform's folder separator in paths of the driver's own files, and
// the line end its text files have on disk.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kFileLineEnd = "\r\n";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kFileLineEnd = "\n";
#endif

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_ENV_H_
