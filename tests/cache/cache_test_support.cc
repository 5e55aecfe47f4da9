#include "cache_test_support.h"

#include <cstdlib>

#include "cache/trid.h"
#include "testing/test_env.h"

#ifdef _WIN32
#include <process.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace vornlink {
namespace testing {

TransactionFields SampleTransaction(const std::string& trans_no) {
  return {trans_no, "WO1234-02", "140307", "090502", "17",  "F4",
          "5",      "K9",        "ATF",    "P-100",  "1.5", "2.25"};
}

std::vector<std::string> DiskLines(const std::string& path) {
  const std::string contents = ReadBytes(path);
  const std::string line_end = kDiskLineEnd;
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < contents.size()) {
    size_t end = contents.find(line_end, start);
    if (end == std::string::npos) {
      lines.push_back(contents.substr(start));
      break;
    }
    lines.push_back(contents.substr(start, end - start));
    start = end + line_end.size();
  }
  return lines;
}

std::vector<std::string> LogEntries(const std::string& path) {
  std::vector<std::string> entries;
  // "YYYY-MM-DD HH:MM:SS" is 19 characters.
  for (const std::string& line : DiskLines(path)) {
    entries.push_back(line.size() >= 19 ? line.substr(19) : line);
  }
  return entries;
}

bool IsWellFormedTrid(std::string_view trid) {
  if (trid.size() != kTridLength || trid[14] != '0') return false;
  for (char c : trid) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

size_t FieldCount(std::string_view line) {
  size_t count = 1;
  for (char c : line) count += c == ',' ? 1 : 0;
  return count;
}

std::string HelperPath() {
  std::string self;
#ifdef _WIN32
  // The C runtime's full path of the running program.
  if (_pgmptr != nullptr) self = _pgmptr;
  const char* name = "cache_helper.exe";
#else
  char buffer[4096];
  ssize_t size = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (size > 0) self.assign(buffer, static_cast<size_t>(size));
  const char* name = "cache_helper";
#endif
  size_t folder_end = self.find_last_of("/\\");
  return (folder_end == std::string::npos ? std::string() : self.substr(0, folder_end + 1)) + name;
}

HelperProcess::~HelperProcess() {
#ifndef _WIN32
  if (process_ > 0) Kill();
  if (output_fd_ >= 0) close(output_fd_);
#else
  if (process_ != -1) Wait();
#endif
}

#ifdef _WIN32

bool HelperProcess::Start(const std::vector<std::string>& args, bool capture_output) {
  if (capture_output) return false;
  // The C runtime joins the arguments with blanks: quote each one.
  const std::string program = HelperPath();
  std::vector<std::string> quoted{"\"" + program + "\""};
  for (const std::string& arg : args) quoted.push_back("\"" + arg + "\"");
  std::vector<const char*> argv;
  for (const std::string& arg : quoted) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  process_ = _spawnv(_P_NOWAIT, program.c_str(), argv.data());
  return process_ != -1;
}

int HelperProcess::Wait() {
  if (process_ == -1) return -1;
  int status = -1;
  intptr_t result = _cwait(&status, process_, 0);
  process_ = -1;
  return result == -1 ? -1 : status;
}

#else

bool HelperProcess::Start(const std::vector<std::string>& args, bool capture_output) {
  const std::string program = HelperPath();
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  int pipe_fds[2] = {-1, -1};
  // Close-on-exec, so that no other child holds the pipe open.
  if (capture_output && pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (capture_output) posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  pid_t pid = 0;
  int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (capture_output) {
    close(pipe_fds[1]);
    output_fd_ = pipe_fds[0];
  }
  if (error != 0) return false;
  process_ = pid;
  return true;
}

int HelperProcess::Wait() {
  if (process_ <= 0) return -1;
  int status = 0;
  pid_t pid = static_cast<pid_t>(process_);
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  process_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string HelperProcess::ReadOutput(size_t size) {
  std::string output(size, '\0');
  ssize_t got = -1;
  do {
    got = read(output_fd_, &output[0], size);
  } while (got < 0 && errno == EINTR);
  output.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return output;
}

void HelperProcess::Kill() {
  if (process_ <= 0) return;
  kill(static_cast<pid_t>(process_), SIGKILL);
  Wait();
}

#endif

}  // namespace testing
}  // namespace vornlink
