// The conventions every command of the program follows, applied once to
// its words before it runs, on the program's command line and on each line
// of a session, so that each command gets them without a line of its own:
//   --option=value   the same as --option value (-m=value as -m value)
//   -q, --quiet      anywhere: the command's standard output is discarded
//                    (complaints still go to standard error), for scripts
//                    that want only the exit status
//   --help, -h       anywhere after the command, and "help COMMAND": the
//                    command's help instead of running it
//
// The functions work on their arguments alone: thread-safe, and they never
// fail (a word they cannot read stays as it is, for the command to refuse).
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_COMMAND_LINE_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_COMMAND_LINE_H_

#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace vornlink {

struct CommandLine {
  // The command and its arguments, without -q and --help.
  std::vector<std::string> words;
  bool quiet = false;
  // The help of words[0] is asked for; the general usage when `words` is
  // empty.
  bool help = false;
};

// Splits each "--name=value" word (a name of letters, digits and '-') into
// "--name" and "value", and each "-x=value" into "-x" and "value"; any
// other word stays as it is.
std::vector<std::string> SplitOptionValues(const std::vector<std::string>& words);

// The words of one command line read by the conventions above.
CommandLine ReadCommandLine(const std::vector<std::string>& words);

// Splits a command line into words at blanks; double quotes group a word
// (and may stand for an empty one).
std::vector<std::string> SplitWords(const std::string& line);

// Splits one CSV line at every comma (no quoting, as the host's files are).
std::vector<std::string> SplitCsv(const std::string& line);

// An output stream that discards what it is given (for --quiet). Owns its
// buffer; never fails; one thread at a time, as any stream.
class DiscardingStream : public std::ostream {
 public:
  DiscardingStream() : std::ostream(&buffer_) {}

 private:
  class Buffer : public std::streambuf {
   protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
  };
  Buffer buffer_;
};

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_COMMAND_LINE_H_
