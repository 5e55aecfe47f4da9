#include "log/log.h"

#include <bitset>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

#include "base/module_singleton.h"
#include "base/write_gate.h"
#include "platform/env.h"
#include "settings/text_lines.h"
#include "settings/version_text.h"

namespace vornlink {
namespace {

// Entries between two cuts, at the least.
constexpr uint32_t kEntriesPerCut = 10;

struct LogState {
  std::mutex mutex;
  std::string file_name;
  std::string flags_text;
  std::bitset<256> include;
  std::bitset<256> exclude;
  uint32_t max_lines = 0;
  uint32_t line_counter = 0;
};

ModuleSingleton<LogState> g_log_state;

LogState& State() { return g_log_state.Get(); }

size_t Index(char c) { return static_cast<unsigned char>(c); }

bool IsLowercaseLetter(char c) { return c >= 'a' && c <= 'z'; }

bool FlagEnabledLocked(const LogState& state, char flag) {
  if (IsLowercaseLetter(flag)) return state.include.test(Index(flag));
  return !state.exclude.test(Index(flag));
}

std::string TimeStamp() {
  std::tm local{};
  char text[32] = "";
  if (ToLocalTime(GetEnv()->UnixTime(), &local)) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  }
  return text;
}

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int size = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (size < 0) return std::string();
  if (static_cast<size_t>(size) < sizeof small) return std::string(small, size);
  std::string text(static_cast<size_t>(size) + 1, '\0');
  std::vsnprintf(&text[0], text.size(), format, args);
  text.resize(static_cast<size_t>(size));
  return text;
}

}  // namespace

void LogInit(const std::string& file_name, int32_t max_lines, const std::string& flags) {
  LogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.file_name = file_name;
  state.flags_text.clear();
  for (char c : flags) {
    if (c != ' ') state.flags_text.push_back(c);
  }
  state.max_lines = static_cast<uint32_t>(max_lines);
  bool include_mode = true;
  for (char c : state.flags_text) {
    if (c == '+') {
      include_mode = true;
    } else if (c == '-') {
      include_mode = false;
    } else if (include_mode) {
      state.include.set(Index(c));
    } else {
      state.exclude.set(Index(c));
    }
  }
  LogTrim(state.file_name, state.max_lines);
}

bool IsFlagEnabled(char flag) {
  LogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return FlagEnabledLocked(state, flag);
}

void LogWriteLine(char flag, const std::string& message) {
  LogState& state = State();
  char shown = flag == '\0' ? '.' : flag;
  WritePermit permit;
  if (!permit.granted()) return;
  std::lock_guard<std::mutex> lock(state.mutex);
  if (flag != '\0' && flag != '*' && flag != '.' && !FlagEnabledLocked(state, flag)) return;

  if (!state.file_name.empty()) {
    std::string entry = TimeStamp();
    entry.push_back('-');
    entry.push_back(shown);
    entry.push_back('-');
    entry.append(message);
    if (entry.back() != '\n') entry.push_back('\n');
    GetEnv()->AppendTextFile(state.file_name, entry, /*durable=*/false, nullptr);
  }

  uint32_t handled = state.line_counter++;
  if (handled >= kEntriesPerCut && !IsLowercaseLetter(flag)) {
    state.line_counter = 0;
    LogTrim(state.file_name, state.max_lines);
  }
}

void LogPrint(char flag, const char* format, ...) {
  if (flag != '\0' && flag != '*' && flag != '.' && !IsFlagEnabled(flag)) return;
  va_list args;
  va_start(args, format);
  std::string message = FormatV(format, args);
  va_end(args);
  LogWriteLine(flag, message);
}

void LogTrim(const std::string& file_name, uint32_t max_lines) {
  if (file_name.empty()) return;
  Env* env = GetEnv();
  std::string contents;
  if (env->ReadTextFile(file_name, &contents, kNoSizeLimit, nullptr) != ReadResult::kOk) return;
  std::vector<std::string_view> lines = SplitLines(contents);
  if (lines.size() <= max_lines) return;
  std::string kept;
  for (size_t i = lines.size() - max_lines; i < lines.size(); ++i) {
    kept.append(lines[i]);
    kept.push_back('\n');
  }
  // One try: a file that another program holds open is cut next time, and
  // the threads that log do not wait for it meanwhile.
  if (env->ReplaceTextFile(file_name, kept, ReplaceOptions{}, nullptr) ==
      ReplaceResult::kRewrittenInPlace) {
    env->AppendTextFile(
        file_name,
        TimeStamp() + "-*-Log file cut in place: no new file may be made in its folder\n",
        /*durable=*/false, nullptr);
  }
}

void LogLoaded() {
  Env* env = GetEnv();
  std::string module_path = env->ModulePath();
  if (!module_path.empty()) {
    uint32_t max_lines;
    {
      LogState& state = State();
      std::lock_guard<std::mutex> lock(state.mutex);
      max_lines = state.max_lines;
    }
    LogPrint('.', "%s is loaded at [0x%8.8X] v[%s] logflags[%s] maxlines[%d]", module_path.c_str(),
             static_cast<unsigned>(env->ModuleLoadAddress()), VersionText().c_str(),
             LogFlagsText().c_str(), static_cast<int>(max_lines));
  }
  LogPrint('.', "OS: %s", env->OsText().c_str());
}

void LogUnloaded() {
  std::string module_path = GetEnv()->ModulePath();
  if (!module_path.empty()) LogPrint('.', "%s is unloaded", module_path.c_str());
}

std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return line;
}

std::string LogFlagsText() {
  LogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.flags_text;
}

void ReleaseLogState() { g_log_state.Release(); }

void ResetLogForTesting() {
  LogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.file_name.clear();
  state.flags_text.clear();
  state.include.reset();
  state.exclude.reset();
  state.max_lines = 0;
  state.line_counter = 0;
}

}  // namespace vornlink
