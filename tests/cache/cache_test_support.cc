#include "cache_test_support.h"

#include <ctime>
#include <string_view>

#include "settings/text_lines.h"
#include "testing/test_env.h"

#ifdef _WIN32
#include <process.h>
#include <stdlib.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace vornlink {
namespace testing {

int64_t LocalMoment() {
  std::tm local{};
  local.tm_year = 2014 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 7;
  local.tm_hour = 9;
  local.tm_min = 5;
  local.tm_sec = 2;
  local.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&local));
}

TransactionFields SampleTransaction(const std::string& trans_no) {
  return {trans_no, "WO1234-02", "140307", "090502", "17",  "F4",
          "5",      "K9",        "ATF",    "P-100",  "1.5", "2.25"};
}

std::vector<std::string> DiskLines(const std::string& path) {
  const std::string contents = ReadBytes(path);
  std::vector<std::string> lines;
  for (std::string_view line : SplitLines(contents)) lines.emplace_back(line);
  return lines;
}

#ifdef _WIN32

intptr_t StartHelper(const std::vector<std::string>& args) {
  // The C runtime's path of the running program; it joins the arguments
  // with blanks, so each one is quoted.
  std::string program = _pgmptr != nullptr ? _pgmptr : "";
  program = program.substr(0, program.find_last_of("/\\") + 1) + "cache_helper.exe";
  std::vector<std::string> quoted{"\"" + program + "\""};
  for (const std::string& arg : args) quoted.push_back("\"" + arg + "\"");
  std::vector<const char*> argv;
  for (const std::string& arg : quoted) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  return _spawnv(_P_NOWAIT, program.c_str(), argv.data());
}

int WaitForHelper(intptr_t process) {
  int status = -1;
  return process == -1 || _cwait(&status, process, 0) == -1 ? -1 : status;
}

#else

intptr_t StartHelper(const std::vector<std::string>& args) {
  char self[4096];
  ssize_t size = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string program(self, size > 0 ? static_cast<size_t>(size) : 0);
  program = program.substr(0, program.rfind('/') + 1) + "cache_helper";
  std::vector<char*> argv{&program[0]};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  return posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

int WaitForHelper(intptr_t process) {
  int status = 0;
  if (process <= 0 || waitpid(static_cast<pid_t>(process), &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

}  // namespace testing
}  // namespace vornlink
