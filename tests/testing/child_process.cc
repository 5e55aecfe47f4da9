#include "testing/child_process.h"

#ifdef _WIN32
#include <windows.h>
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

#ifdef _WIN32

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& program,
                                                  const std::vector<std::string>& args,
                                                  const std::string& output_file) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE output =
      CreateFileA(output_file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inherit, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) return nullptr;
  std::string command = "\"" + program + "\"";
  for (const std::string& arg : args) command += " \"" + arg + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output;
  startup.hStdError = output;
  // The program and whatever it starts (the host's GUI) share a job that a kill ends as a whole:
  // under Wine a program whose starter is killed while starting it hangs in its start for good.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job != nullptr)
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                nullptr, nullptr, &startup, &process);
  CloseHandle(output);
  if (!started) {
    if (job != nullptr) CloseHandle(job);
    return nullptr;
  }
  if (job != nullptr) AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  std::unique_ptr<ChildProcess> child(
      new ChildProcess(reinterpret_cast<intptr_t>(process.hProcess)));
  child->job_ = reinterpret_cast<intptr_t>(job);
  return child;
}

void ChildProcess::HideGuiProgramFromChildren() {
  char system[MAX_PATH];
  const UINT size = GetSystemDirectoryA(system, MAX_PATH);
  if (size > 0 && size < MAX_PATH) SetEnvironmentVariableA("PATH", system);
}

void ChildProcess::Kill() {
  if (job_ != 0) TerminateJobObject(reinterpret_cast<HANDLE>(job_), 137);
  TerminateProcess(reinterpret_cast<HANDLE>(handle_), 137);
}

int ChildProcess::Wait() {
  if (ended_) return exit_code_;
  WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(reinterpret_cast<HANDLE>(handle_), &code);
  ended_ = true;
  exit_code_ = code == 137 ? -1 : static_cast<int>(code);
  return exit_code_;
}

#else

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& program,
                                                  const std::vector<std::string>& args,
                                                  const std::string& output_file) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return nullptr;
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid));
}

void ChildProcess::HideGuiProgramFromChildren() {}

void ChildProcess::Kill() { Signal(SIGKILL); }

void ChildProcess::Signal(int signal) {
  if (!ended_) kill(static_cast<pid_t>(handle_), signal);
}

int ChildProcess::Wait() {
  if (ended_) return exit_code_;
  int status = 0;
  while (waitpid(static_cast<pid_t>(handle_), &status, 0) < 0 && errno == EINTR) {
  }
  ended_ = true;
  exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return exit_code_;
}

#endif

ChildProcess::~ChildProcess() {
  if (!ended_) {
    Kill();
    Wait();
  }
#ifdef _WIN32
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  if (job_ != 0) CloseHandle(reinterpret_cast<HANDLE>(job_));  // ends what it left running
#endif
}

}  // namespace testing
}  // namespace vornlink
