#include "log/log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

#include "base/module_singleton.h"
#include "base/write_gate.h"
#include "log/log_test_hooks.h"
#include "platform/env.h"
#include "settings/version_text.h"

namespace vornlink {
namespace {

// Entries between two cuts, at the least.
constexpr uint32_t kEntriesPerCut = 10;
// "YYYY-MM-DD HH:MM:SS", then "-F-" and the message.
constexpr char kStampShape[] = "0000-00-00 00:00:00";
constexpr size_t kStampLength = sizeof kStampShape - 1;

// Of a message longer than kMaxEntryBytes, the end kept behind the note.
constexpr size_t kKeptEndBytes = 1024;

struct LogWriterState {
  std::mutex mutex;
  std::string file_name;
  std::string flags_text;
  LogFlagSets flags;
  uint32_t max_lines = 0;
  size_t max_bytes = 0;
  uint32_t line_counter = 0;
  // Entries the file refused since the last one written, because a link or
  // a second name in its place could have been planted by another user.
  uint64_t refused_entries = 0;
};

ModuleSingleton<LogWriterState> g_log_state;

LogWriterState& State() { return g_log_state.Get(); }

size_t Index(char c) { return static_cast<unsigned char>(c); }

bool IsLowercaseLetter(char c) { return c >= 'a' && c <= 'z'; }

bool AlwaysWritten(char flag) { return flag == '\0' || flag == '*' || flag == '.'; }

// An entry of this moment, with its line end.
std::string EntryText(char flag, std::string_view message) {
  std::tm local{};
  char text[32] = "";
  if (ToLocalTime(GetEnv()->UnixTime(), &local)) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  }
  std::string entry = text;
  entry.push_back('-');
  entry.push_back(flag == '\0' ? '.' : flag);
  entry.push_back('-');
  entry.append(message);
  if (entry.back() != '\n') entry.push_back('\n');
  return entry;
}

// Whether a line of a message, at a line start in the file, would read as
// an entry of its own; on a terminal, carriage returns in front of it would
// not show.
bool PassesForEntry(std::string_view line) {
  while (!line.empty() && line.front() == '\r') line.remove_prefix(1);
  LogEntryView ignored;
  return ParseLogEntry(line, &ignored);
}

// `message` as an entry writes it (see the header).
std::string TamedMessage(std::string_view message) {
  std::string bounded;
  if (message.size() > kMaxEntryBytes) {
    const size_t head = kMaxEntryBytes - kKeptEndBytes;
    bounded.assign(message.substr(0, head));
    bounded += " ...[" + std::to_string(message.size() - kMaxEntryBytes) + " bytes not logged]... ";
    bounded.append(message.substr(message.size() - kKeptEndBytes));
    message = bounded;
  }
  std::string tamed;
  tamed.reserve(message.size() + 16);
  for (size_t i = 0; i < message.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(message[i]);
    if (i > 0 && message[i - 1] == '\n' && PassesForEntry(message.substr(i))) {
      tamed += kContinuationIndent;
    }
    if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F) {
      AppendByteEscape(c, &tamed);
    } else {
      tamed.push_back(static_cast<char>(c));
    }
  }
  return tamed;
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

// Appends `entry` to the log file. Entries that a planted link keeps out are
// counted, and the first entry written after them is preceded by a "*"
// entry that says how many were lost and why. Under the state's mutex.
void AppendEntry(LogWriterState& state, const std::string& entry) {
  std::string text;
  if (state.refused_entries > 0) {
    text = EntryText('*', "Log: " + std::to_string(state.refused_entries) +
                              " entries before this one were not written to file[" +
                              state.file_name + "] -> " + kPlantedLinkRefused);
  }
  text += entry;
  std::string error;
  if (GetEnv()->AppendTextFile(state.file_name, text, /*durable=*/false, &error)) {
    state.refused_entries = 0;
  } else if (error == kPlantedLinkRefused) {
    ++state.refused_entries;
  }
}

}  // namespace

bool LogFlagSets::Passes(char flag) const {
  if (AlwaysWritten(flag)) return true;
  if (IsLowercaseLetter(flag)) return include.test(Index(flag));
  return !exclude.test(Index(flag));
}

LogFlagSets ParseLogFlags(std::string_view flags) {
  LogFlagSets sets;
  bool include_mode = true;
  for (char c : flags) {
    if (c == ' ') continue;
    if (c == '+' || c == '-') {
      include_mode = c == '+';
    } else {
      (include_mode ? sets.include : sets.exclude).set(Index(c));
    }
  }
  return sets;
}

bool ParseLogEntry(std::string_view text, LogEntryView* entry) {
  if (text.size() < kStampLength + 3 || text[kStampLength] != '-' ||
      text[kStampLength + 2] != '-') {
    return false;
  }
  for (size_t i = 0; i < kStampLength; ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kStampShape[i] == '0' ? !digit : text[i] != kStampShape[i]) return false;
  }
  entry->stamp = text.substr(0, kStampLength);
  entry->flag = text[kStampLength + 1];
  entry->message = text.substr(kStampLength + 3);
  return true;
}

void LogInit(const std::string& file_name, int32_t max_lines, const std::string& flags) {
  LogWriterState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.file_name = file_name;
  state.flags_text.clear();
  for (char c : flags) {
    if (c != ' ') state.flags_text.push_back(c);
  }
  state.max_lines = static_cast<uint32_t>(max_lines);
  state.max_bytes = max_lines < 0 ? SIZE_MAX : kMaxLogFileBytes;
  const LogFlagSets sets = ParseLogFlags(state.flags_text);
  state.flags.include |= sets.include;
  state.flags.exclude |= sets.exclude;
  LogTrim(state.file_name, state.max_lines, state.max_bytes);
}

bool IsFlagEnabled(char flag) {
  LogWriterState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.flags.Passes(flag);
}

namespace {

// LogWriteLine, with the log's mutex held.
void WriteLineLocked(LogWriterState& state, char flag, const std::string& message) {
  if (!state.flags.Passes(flag)) return;

  if (!state.file_name.empty()) {
    AppendEntry(state, EntryText(flag, TamedMessage(message)));
  }

  uint32_t handled = state.line_counter++;
  if (handled >= kEntriesPerCut && !IsLowercaseLetter(flag)) {
    state.line_counter = 0;
    LogTrim(state.file_name, state.max_lines, state.max_bytes);
  }
}

}  // namespace

void LogWriteLine(char flag, const std::string& message) {
  LogWriterState& state = State();
  WritePermit permit;
  if (!permit.granted()) return;
  std::lock_guard<std::mutex> lock(state.mutex);
  WriteLineLocked(state, flag, message);
}

void LogWriteLineIfFree(char flag, const std::string& message) {
  LogWriterState& state = State();
  WritePermit permit;
  if (!permit.granted()) return;
  std::unique_lock<std::mutex> lock(state.mutex, std::try_to_lock);
  if (lock.owns_lock()) WriteLineLocked(state, flag, message);
}

void LogPrint(char flag, const char* format, ...) {
  if (!IsFlagEnabled(flag)) return;
  va_list args;
  va_start(args, format);
  std::string message = FormatV(format, args);
  va_end(args);
  LogWriteLine(flag, message);
}

void LogTrim(const std::string& file_name, uint32_t max_lines, size_t max_bytes) {
  if (file_name.empty()) return;
  Env* env = GetEnv();
  std::string contents;
  if (env->ReadTextFile(file_name, &contents, kNoSizeLimit, nullptr) != ReadResult::kOk) return;
  // Split at line feeds only: a carriage return of a message's own line
  // ends (a reply's CR LF) stays, so that the lines kept are the bytes that
  // were written and a reader that follows the file finds them again.
  std::vector<std::string_view> lines;
  for (size_t at = 0, end; at < contents.size(); at = end + 1) {
    end = std::min(contents.find('\n', at), contents.size());
    lines.push_back(std::string_view(contents).substr(at, end - at));
  }
  size_t first = lines.size() > max_lines ? lines.size() - max_lines : 0;
  size_t bytes = 0;
  for (size_t i = lines.size(); i > first; --i) {
    bytes += lines[i - 1].size() + 1;
    if (bytes > max_bytes) {
      first = i;
      break;
    }
  }
  if (first == 0) return;
  std::string kept;
  for (size_t i = first; i < lines.size(); ++i) {
    kept.append(lines[i]);
    kept.push_back('\n');
  }
  // One try: a file that another program holds open is cut next time, and
  // the threads that log do not wait for it meanwhile.
  if (env->ReplaceTextFile(file_name, kept, ReplaceOptions{}, nullptr) ==
      ReplaceResult::kRewrittenInPlace) {
    env->AppendTextFile(
        file_name, EntryText('*', "Log file cut in place: no new file may be made in its folder"),
        /*durable=*/false, nullptr);
  }
}

void LogLoaded() {
  Env* env = GetEnv();
  std::string module_path = env->ModulePath();
  if (!module_path.empty()) {
    uint32_t max_lines;
    {
      LogWriterState& state = State();
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

void AppendByteEscape(unsigned char c, std::string* text) {
  static const char kHex[] = "0123456789ABCDEF";
  text->append("\\x");
  text->push_back(kHex[c >> 4]);
  text->push_back(kHex[c & 15]);
}

std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return line;
}

std::string LogFlagsText() {
  LogWriterState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.flags_text;
}

void ReleaseLogState() { g_log_state.Release(); }

void ResetLogForTesting() {
  LogWriterState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.file_name.clear();
  state.flags_text.clear();
  state.flags = LogFlagSets();
  state.max_lines = 0;
  state.max_bytes = 0;
  state.line_counter = 0;
  state.refused_entries = 0;
}

}  // namespace vornlink
