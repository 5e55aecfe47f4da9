// The Env of Windows: the text files and the mutex of env_parts.h joined
// with the module's own file, the clocks, started programs, error texts and
// the operating system's version.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#include <time.h>

#include <memory>
#include <new>
#include <string>

#include "base/module_singleton.h"
#include "platform/env.h"
#include "platform/env_parts.h"
#include "platform/file_memo.h"
#include "platform/win32/os_version_text.h"
#include "platform/win32/scoped_handle.h"

namespace vornlink {
namespace {

// The private-profile read's buffer: values are cut to 255 characters.
constexpr DWORD kProfileBufferSize = 256;
// Longest path the ANSI file calls can be asked about.
constexpr DWORD kLongestModulePath = 32768;

// The module (DLL or program) that holds this code.
HMODULE ThisModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&DefaultEnv), &module)) {
    return nullptr;
  }
  return module;
}

std::string ReadRegistryText(HKEY key, const char* name, bool* found) {
  char value[256];
  DWORD type = 0;
  DWORD size = sizeof value - 1;
  *found = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
               ERROR_SUCCESS &&
           (type == REG_SZ || type == REG_EXPAND_SZ);
  if (!*found) return std::string();
  value[size < sizeof value ? size : sizeof value - 1] = '\0';
  return value;  // up to the first terminator
}

RegistryVersion ReadRegistryVersion() {
  RegistryVersion registry;
  ScopedRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\", 0,
                    KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS) {
    return registry;
  }
  bool found = false;
  registry.current_version = ReadRegistryText(key.get(), "CurrentVersion", &found);
  registry.read = found;
  registry.current_build = ReadRegistryText(key.get(), "CurrentBuild", &found);
  return registry;
}

class WindowsEnv : public env_parts::FilesEnv {
 public:
  std::string ModulePath() override {
    HMODULE module = ThisModule();
    if (module == nullptr) return std::string();
    // The whole path, however long: a cut path would name the wrong files.
    for (DWORD size = MAX_PATH + 1; size <= kLongestModulePath; size *= 2) {
      std::string path(size, '\0');
      DWORD length = GetModuleFileNameA(module, &path[0], size);
      if (length == 0) return std::string();
      if (length < size) {
        path.resize(length);
        return path;
      }
    }
    return std::string();
  }

  uintptr_t ModuleLoadAddress() override { return reinterpret_cast<uintptr_t>(ThisModule()); }

  void* HoldModule() override {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&DefaultEnv), &module)) {
      return nullptr;
    }
    return module;
  }

  void ReleaseModule(void* hold) override {
    if (hold != nullptr) FreeLibrary(static_cast<HMODULE>(hold));
  }

  void KeepModuleLoaded() override {
    // Pinned, the module stays mapped until the process ends; FreeLibrary
    // then only drops the reference.
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&DefaultEnv), &module);
  }

  FileVersionResult ReadFileVersion(const std::string& path, FileVersion* version) override {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return FileVersionResult::kUnreadable;
    std::unique_ptr<char[]> block(new (std::nothrow) char[size]);
    if (block == nullptr) return FileVersionResult::kNoMemory;
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.get())) {
      return FileVersionResult::kUnreadable;
    }
    void* fixed_part = nullptr;
    UINT fixed_size = 0;
    if (!VerQueryValueA(block.get(), "\\", &fixed_part, &fixed_size) || fixed_part == nullptr ||
        fixed_size < sizeof(VS_FIXEDFILEINFO)) {
      return FileVersionResult::kUnreadable;
    }
    const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(fixed_part);
    version->major = HIWORD(fixed->dwFileVersionMS);
    version->minor = LOWORD(fixed->dwFileVersionMS);
    version->third = HIWORD(fixed->dwFileVersionLS);
    version->fourth = LOWORD(fixed->dwFileVersionLS);
    return FileVersionResult::kOk;
  }

  std::string ReadProfileString(const std::string& section, const std::string& key,
                                const std::string& default_value,
                                const std::string& path) override {
    char value[kProfileBufferSize + 1] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), default_value.c_str(), value,
                             kProfileBufferSize, path.c_str());
    // The text up to its terminator: the count the call returns is not
    // always its length (a quoted value that was cut).
    return std::string(value);
  }

  int64_t UnixTime() override { return static_cast<int64_t>(_time64(nullptr)); }

  uint32_t TickCount() override { return GetTickCount(); }

  void SleepMs(uint32_t milliseconds) override { Sleep(milliseconds); }

  void StartProgram(const std::string& program, const std::string& argument) override {
    // The shell finds the program (program folder, PATH, App Paths) and does
    // not wait for it.
    ShellExecuteA(nullptr, nullptr, program.c_str(), argument.c_str(), nullptr, SW_SHOWNORMAL);
  }

  int LastError() override { return static_cast<int>(GetLastError()); }

  std::string OsText() override {
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    BOOL have_record = GetVersionExA(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (!have_record) return "OS Unknown";
    OsVersionRecord record;
    switch (info.dwPlatformId) {
      case VER_PLATFORM_WIN32_NT:
        record.platform = OsVersionRecord::Platform::kNt;
        break;
      case VER_PLATFORM_WIN32_WINDOWS:
        record.platform = OsVersionRecord::Platform::kWin9x;
        break;
      default:
        record.platform = OsVersionRecord::Platform::kOther;
        break;
    }
    record.major = info.dwMajorVersion;
    record.minor = info.dwMinorVersion;
    record.build = info.dwBuildNumber;
    info.szCSDVersion[sizeof info.szCSDVersion - 1] = '\0';
    record.service_pack = info.szCSDVersion;
    RegistryVersion registry;
    if (record.platform == OsVersionRecord::Platform::kNt) registry = ReadRegistryVersion();
    return OsVersionText(record, registry);
  }
};

ModuleSingleton<WindowsEnv> g_default_env;

}  // namespace

std::string env_parts::ErrorText(int code) {
  ScopedLocalMemory text;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<LPSTR>(text.receive()), 0, nullptr);
  if (length == 0 || text.get() == nullptr) return std::string();
  std::string result(text.get(), length);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return result;
}

Env* DefaultEnv() { return &g_default_env.Get(); }

void ReleaseDefaultEnv() {
  ReleaseFileMemo();
  g_default_env.Release();
}

// The 64-bit forms explicitly: the 32-bit C runtime's plain ones end in
// January 2038.
bool ToLocalTime(int64_t unix_time, std::tm* local) {
  __time64_t time = static_cast<__time64_t>(unix_time);
  return _localtime64_s(local, &time) == 0;
}

bool FromLocalTime(std::tm* local, int64_t* unix_time) {
  __time64_t time = _mktime64(local);
  if (time == static_cast<__time64_t>(-1)) return false;
  *unix_time = static_cast<int64_t>(time);
  return true;
}

}  // namespace vornlink
