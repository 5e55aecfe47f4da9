// The driver's log file.
//
// One entry is "YYYY-MM-DD HH:MM:SS-F-message" and a line end, where F is the
// flag character ("." for the zero character). "*" and "." entries are
// always written; a lowercase letter only when the flag mask switches it on;
// any other character unless the mask switches it off. The file is opened
// for each entry and never held open. It is cut back to its last MaxLines
// lines, and of those to the newest kMaxLogFileBytes, by `LogInit` and then
// by the first "*" or "." entry after at least ten entries since the last
// cut; a negative MaxLines keeps everything.
//
// Messages carry texts from outside (host fields, DMS replies), so an entry
// writes its message tamed: at most kMaxEntryBytes of it (a longer one
// keeps its start and its end, and says how many bytes were left out
// between them), control bytes other than tab, carriage return and line
// feed as "\xHH", and every further line that could pass for an entry
// indented by kContinuationIndent. Other bytes stay as they are: hosts send
// texts in Windows code pages.
//
// All functions are thread-safe: entries and cuts are serialised by one
// mutex of the process. None reports a failure: an entry that cannot be
// written is lost. Where the file's path leads through a link (or to a
// second name) that another user could have planted (Env::IsTrustedPath),
// neither entries nor cuts go through it; the first entry written after
// such a time is preceded by a "*" entry that says how many were lost.
#ifndef VORNLINK_LOG_LOG_H_
#define VORNLINK_LOG_LOG_H_

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#if defined(__MINGW32__)
#define VORNLINK_PRINTF(format_index, first_arg) \
  __attribute__((format(gnu_printf, format_index, first_arg)))
#elif defined(__GNUC__)
#define VORNLINK_PRINTF(format_index, first_arg) \
  __attribute__((format(printf, format_index, first_arg)))
#else
#define VORNLINK_PRINTF(format_index, first_arg)
#endif

namespace vornlink {

// The most of one message an entry writes (before escapes): a reply of
// many megabytes is diagnosed from its first 31 KB and its last 1 KB.
inline constexpr size_t kMaxEntryBytes = 32 * 1024;
// What the cut keeps at most: MaxLines counts lines, and lines of replies
// can be long.
inline constexpr size_t kMaxLogFileBytes = size_t{16} << 20;
// In front of a continuation line that would otherwise read as an entry.
inline constexpr char kContinuationIndent[] = "    ";

// The lowercase flags the driver's own entries use.
inline constexpr char kDriverLogFlags[] = "cdhinprst";

// The flags a mask text names: characters after a "+" (or before any sign)
// are included, after a "-" excluded; blanks do not count.
struct LogFlagSets {
  std::bitset<256> include;
  std::bitset<256> exclude;

  // Whether entries of `flag` are written under these sets.
  bool Passes(char flag) const;
};
LogFlagSets ParseLogFlags(std::string_view flags);

// The head of an entry at the start of `text`, read back: the time stamp
// "YYYY-MM-DD HH:MM:SS", the flag, and the rest of `text` as the message.
// False, `entry` left as it was, when `text` does not begin with a head
// (such as the second line of a message of several lines).
struct LogEntryView {
  std::string_view stamp;
  char flag = '.';
  std::string_view message;
};
bool ParseLogEntry(std::string_view text, LogEntryView* entry);

// Sets the file name, MaxLines and flag mask, then cuts the file (a
// negative MaxLines: never). The flag sets only grow: a second call adds to
// them.
void LogInit(const std::string& file_name, int32_t max_lines, const std::string& flags);

// Formats printf-style and writes one entry.
void LogPrint(char flag, const char* format, ...) VORNLINK_PRINTF(2, 3);

// Writes one entry with `message` unchanged (a "%" is not a conversion).
void LogWriteLine(char flag, const std::string& message);
// The same, but writes nothing rather than wait while another thread holds
// the log (for the unload, when that thread may have ended inside it).
void LogWriteLineIfFree(char flag, const std::string& message);

// Whether entries of `flag` pass the mask ("*", "." and the zero character
// always do).
bool IsFlagEnabled(char flag);

// Keeps the last `max_lines` lines of the file, and of those the newest
// that together take at most `max_bytes` (line ends counted as one byte);
// does nothing when the file cannot be read.
void LogTrim(const std::string& file_name, uint32_t max_lines, size_t max_bytes = kMaxLogFileBytes);

// The loaded line and the operating-system line; the unloaded line.
void LogLoaded();
void LogUnloaded();

// Appends how the log shows the byte `c` that it does not write as it is:
// "\x" and two hexadecimal digits ("\x1B" for an ESC). The operator's tool
// shows such bytes alike.
void AppendByteEscape(unsigned char c, std::string* text);

// `text` with every carriage return and line feed replaced by a blank: for
// texts from outside (the host's fields, a DMS reply) that go into an entry
// of one line, so that they cannot end it and forge entries of their own.
std::string OneLine(std::string_view text);

// The flag mask as LogInit keeps it, blanks removed.
std::string LogFlagsText();

// Frees the log's state when the module is unloaded (nothing may log then).
void ReleaseLogState();

}  // namespace vornlink

#endif  // VORNLINK_LOG_LOG_H_
