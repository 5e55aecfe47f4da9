// The Env of Linux and other POSIX systems: the text files and the mutex
// of env_parts.h joined with the module's own file, the clocks, started
// programs and error texts.
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/counted_parts.h"
#include "base/module_singleton.h"
#include "platform/env.h"
#include "platform/env_parts.h"
#include "platform/file_memo.h"
#include "platform/private_profile.h"
#include "vornlink_version.h"

extern char** environ;

namespace vornlink {
namespace {

// The module's own path, fixed when the module is loaded: a host that loads
// "./Vornlink.so" and later changes its working folder must still find the
// files beside the module, not beside its new folder.
std::string ModulePathOfThisCode() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&DefaultEnv), &info) == 0 || info.dli_fname == nullptr) {
    return std::string();
  }
  std::string path = info.dli_fname;
  if (path.empty() || path[0] == '/') return path;
  while (path.compare(0, 2, "./") == 0) path.erase(0, 2);
  char* folder = getcwd(nullptr, 0);
  if (folder == nullptr) return path;
  std::string absolute = folder;
  free(folder);
  if (absolute.empty() || absolute.back() != '/') absolute.push_back('/');
  return absolute + path;
}

ModuleSingleton<std::string> g_module_path;

const std::string& ModulePathAtLoad() {
  return g_module_path.Get([] { return new std::string(ModulePathOfThisCode()); });
}

// Runs while the module is being loaded, before the host can change folder.
[[maybe_unused]] const bool g_module_path_fixed = !ModulePathAtLoad().empty();

// ReadProfileStrings's values, each a counted part, for its question of
// counted parts (section, key and default of each query in turn).
std::string LookUpAllInText(const std::string* contents, const std::string& question) {
  std::string answers;
  for (size_t at = 0; at < question.size();) {
    const std::string section(TakeCountedPart(question, &at));
    const std::string key(TakeCountedPart(question, &at));
    const std::string default_value(TakeCountedPart(question, &at));
    AppendCountedPart(contents == nullptr
                          ? ProfileDefault(default_value)
                          : LookUpProfileString(*contents, section, key, default_value),
                      &answers);
  }
  return answers;
}

class PosixEnv : public env_parts::FilesEnv {
 public:
  std::string ModulePath() override { return ModulePathAtLoad(); }

  void KeepModuleLoaded() override {
    // A reference that is never given back, on a module marked never to be
    // unmapped.
    dlopen(ModulePathAtLoad().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  }

  void* HoldModule() override { return dlopen(ModulePathAtLoad().c_str(), RTLD_NOW | RTLD_NOLOAD); }

  void ReleaseModule(void* hold) override {
    if (hold != nullptr) dlclose(hold);
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
    return ReadProfileStrings({{section, key, default_value}}, path)[0];
  }

  std::vector<std::string> ReadProfileStrings(const std::vector<ProfileQuery>& queries,
                                              const std::string& path) override {
    // Each part behind its length: any of them may hold any byte.
    std::string question;
    for (const ProfileQuery& query : queries) {
      AppendCountedPart(query.section, &question);
      AppendCountedPart(query.key, &question);
      AppendCountedPart(query.default_value, &question);
    }
    const std::string answers =
        DerivedFromFile(this, path, kMaxSettingsFileSize, &LookUpAllInText, question);
    std::vector<std::string> values;
    for (size_t at = 0; at < answers.size();) values.emplace_back(TakeCountedPart(answers, &at));
    values.resize(queries.size());  // one value a query, whatever was kept
    return values;
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

  void StartProgram(const std::string& program, const std::string& argument) override {
    // A short-lived shell starts the program in the background and leaves at
    // once; the program then belongs to init, so it never becomes our zombie
    // and nothing in this process has to wait for it.
    std::string script = "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &";
    const char* args[] = {"sh", "-c", script.c_str(), program.c_str(), argument.c_str(), nullptr};
    // The program gets no signal blocked, whatever the calling thread blocks
    // (the operator's tool blocks those that end it, for itself).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t shell = 0;
    const int failed =
        posix_spawnp(&shell, "sh", nullptr, &attributes, const_cast<char* const*>(args), environ);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) return;
    int status = 0;
    while (waitpid(shell, &status, 0) < 0 && errno == EINTR) {
    }
  }

  int LastError() override { return errno; }

  std::string OsText() override {
    utsname name;
    if (uname(&name) != 0) return "OS Unknown";
    return std::string("POSIX Platform os[") + name.sysname + "] ver[" + name.release +
           "] machine[" + name.machine + "]";
  }
};

ModuleSingleton<PosixEnv> g_default_env;

}  // namespace

std::string env_parts::ErrorText(int code) {
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

Env* DefaultEnv() { return &g_default_env.Get(); }

void ReleaseDefaultEnv() {
  ReleaseFileMemo();
  g_default_env.Release();
  g_module_path.Release();
}

static_assert(sizeof(time_t) >= 8, "the driver's dates need a 64-bit time_t");

bool ToLocalTime(int64_t unix_time, std::tm* local) {
  time_t t = static_cast<time_t>(unix_time);
  return localtime_r(&t, local) != nullptr;
}

bool FromLocalTime(std::tm* local, int64_t* unix_time) {
  // -1 is also a valid moment (one second before 1970); errno tells.
  errno = 0;
  time_t t = mktime(local);
  if (t == static_cast<time_t>(-1) && errno != 0) return false;
  *unix_time = static_cast<int64_t>(t);
  return true;
}

}  // namespace vornlink
