// The platform's Env, on the real system: text files, the named mutex
// (between threads and between processes), the module's own file, error
// texts, the OS line, starting programs and the clocks.
#include "platform/env.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "settings/module_files.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

namespace fs = std::filesystem;
using testing::FileExists;
using testing::OnDisk;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// The cross-process tests start this program again as a helper; these
// variables tell it its role, the mutex name and the folder to report in.
constexpr const char* kRoleVariable = "VORNLINK_ENV_TEST_ROLE";
constexpr const char* kMutexVariable = "VORNLINK_ENV_TEST_MUTEX";
constexpr const char* kFolderVariable = "VORNLINK_ENV_TEST_FOLDER";

void SetVariable(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool WaitForFile(const std::string& path, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!FileExists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(getpid());
#endif
}

// The helper's roles: "wait" reports that it is about to lock, locks,
// reports that it holds the mutex, unlocks; "die" locks and ends without
// unlocking; "pid" writes its process id.
int RunHelper(const std::string& role) {
  std::string folder = Variable(kFolderVariable);
  if (role == "pid") {
    WriteBytes(folder + kPathSeparator + "pid", std::to_string(ProcessId()));
    return 0;
  }
  std::unique_ptr<CrossProcessMutex> mutex = DefaultEnv()->NewNamedMutex(Variable(kMutexVariable));
  if (role == "wait") {
    WriteBytes(folder + kPathSeparator + "waiting", "");
    mutex->Lock();
    WriteBytes(folder + kPathSeparator + "acquired", "");
    mutex->Unlock();
    return 0;
  }
  if (role == "die") {
    mutex->Lock();
    WriteBytes(folder + kPathSeparator + "acquired", "");
    std::_Exit(0);  // the mutex still held
  }
  return 3;
}

// Started as a helper, this program does its job and ends before any test.
const int g_helper_role_checked = [] {
  std::string role = Variable(kRoleVariable);
  if (!role.empty()) std::exit(RunHelper(role));
  return 0;
}();

// Runs this program as a helper with `role`; returns its exit status.
int RunHelperProcess(const std::string& role, const std::string& mutex_name,
                     const std::string& folder) {
  std::string self = DefaultEnv()->ModulePath();
#ifdef _WIN32
  // cmd.exe drops the outer quotes and keeps the ones around the path.
  std::string command = "\"\"" + self + "\" >NUL 2>&1\"";
#else
  std::string command = "'" + self + "' >/dev/null 2>&1";
#endif
  SetVariable(kRoleVariable, role);
  SetVariable(kMutexVariable, mutex_name);
  SetVariable(kFolderVariable, folder);
  int status = std::system(command.c_str());
  SetVariable(kRoleVariable, "");
  return status;
}

std::string UniqueName(const std::string& stem) {
  std::random_device random;
  return stem + "-" + std::to_string(random()) + std::to_string(random());
}

// Removes what the POSIX mutex leaves behind for a name.
void ForgetMutex(const std::string& name) {
#ifndef _WIN32
  std::error_code ignored;
  fs::remove("/tmp/" + name + ".lock", ignored);
#endif
}

class EnvTest : public ::testing::Test {
 protected:
  Env* env_ = DefaultEnv();
  TempDir dir_;
};

TEST_F(EnvTest, AppendWritesPlatformLineEndsAndReadsBackLines) {
  std::string path = dir_.File("log.txt");
  ASSERT_TRUE(env_->AppendTextFile(path, "first line\n", /*durable=*/false));
  ASSERT_TRUE(env_->AppendTextFile(path, "second\nthird", /*durable=*/true));
  ASSERT_TRUE(env_->AppendTextFile(path, "\n", /*durable=*/true));
  EXPECT_EQ(ReadBytes(path), OnDisk("first line\nsecond\nthird\n"));

  std::string contents;
  ASSERT_EQ(env_->ReadTextFile(path, &contents), ReadResult::kOk);
  EXPECT_EQ(contents, "first line\nsecond\nthird\n");
}

TEST_F(EnvTest, ReadTurnsOnlyCrLfIntoLf) {
  std::string path = dir_.File("mixed.txt");
  const std::string on_disk =
      "a\r\nb\rc\n\x1a"
      "d\r\n";
  WriteBytes(path, on_disk);
  std::string contents;
  ASSERT_EQ(env_->ReadTextFile(path, &contents), ReadResult::kOk);
#ifdef _WIN32
  // A lone CR stays, and Ctrl-Z does not end the file.
  EXPECT_EQ(contents,
            "a\nb\rc\n\x1a"
            "d\n");
#else
  EXPECT_EQ(contents, on_disk);
#endif
}

TEST_F(EnvTest, MissingFilesAndFolders) {
  std::string contents = "stale";
  EXPECT_EQ(env_->ReadTextFile(dir_.File("none.txt"), &contents), ReadResult::kMissing);
  EXPECT_EQ(contents, "");
  // The code of the failure is the platform's "file not found", and it has
  // a text.
  EXPECT_EQ(env_->LastError(), 2);
  std::string text = env_->ErrorText(2);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.find("ile"), std::string::npos) << text;
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '\r');

  std::string no_folder = dir_.File("no-folder") + kPathSeparator + "x.txt";
  EXPECT_FALSE(env_->AppendTextFile(no_folder, "x\n", /*durable=*/true));
  EXPECT_FALSE(env_->ReplaceTextFile(no_folder, "x\n"));
  EXPECT_FALSE(FileExists(no_folder));
}

TEST_F(EnvTest, ReplaceIsWholeAndLeavesNothingBehind) {
  std::string path = dir_.File("cache.$$$");
  ASSERT_TRUE(env_->AppendTextFile(path, std::string(5000, 'x') + "\nold line\n", true));
  ASSERT_TRUE(env_->ReplaceTextFile(path, "new 1\nnew 2\n"));
  EXPECT_EQ(ReadBytes(path), OnDisk("new 1\nnew 2\n"));
  ASSERT_TRUE(env_->ReplaceTextFile(path, ""));
  EXPECT_EQ(ReadBytes(path), "");
  // Also where there was no file yet.
  ASSERT_TRUE(env_->ReplaceTextFile(dir_.File("fresh.txt"), "one\n"));
  EXPECT_EQ(ReadBytes(dir_.File("fresh.txt")), OnDisk("one\n"));

  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"cache.$$$", "fresh.txt"}));
}

// A process that ends in the middle of a replace leaves its temporary file;
// the next replace of the same file removes it, and only such ones.
TEST_F(EnvTest, ReplaceRemovesTemporariesOfEndedProcesses) {
  ASSERT_EQ(RunHelperProcess("pid", "unused", dir_.path()), 0);
  const std::string ended = ReadBytes(dir_.File("pid"));
  ASSERT_FALSE(ended.empty());
  const std::string target = dir_.File("Vornlink.$$$");
  const std::string left = target + "." + ended + ".0.tmp";
  const std::string ours = target + "." + std::to_string(ProcessId()) + ".999.tmp";
  const std::string other_file = dir_.File("Other.$$$") + "." + ended + ".0.tmp";
  for (const std::string& path : {left, ours, other_file}) {
    WriteBytes(path, "partial");
  }
  ASSERT_TRUE(env_->ReplaceTextFile(target, "new\n"));
  EXPECT_FALSE(FileExists(left));
  EXPECT_TRUE(FileExists(ours));
  EXPECT_TRUE(FileExists(other_file));
  EXPECT_EQ(ReadBytes(target), OnDisk("new\n"));
}

// Readers that run while the file is replaced see the old or the new
// content, never a mix or a short file.
TEST_F(EnvTest, ReadersNeverSeeAHalfReplacedFile) {
  std::string path = dir_.File("cache.$$$");
  const std::string first = std::string(20000, 'a') + "\n";
  const std::string second = std::string(30000, 'b') + "\n";
  ASSERT_TRUE(env_->ReplaceTextFile(path, first));
  std::atomic<bool> done{false};
  std::atomic<int> whole{0};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    Env* env = DefaultEnv();
    while (!done.load()) {
      std::string contents;
      if (env->ReadTextFile(path, &contents) == ReadResult::kOk) {
        ++(contents == first || contents == second ? whole : torn);
      }
      // On Windows an open reader holds a replace off until it closes.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  for (int i = 0; i < 40; ++i) {
    EXPECT_TRUE(env_->ReplaceTextFile(path, i % 2 == 0 ? second : first));
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(whole.load(), 0);
}

TEST_F(EnvTest, NamedMutexExcludesThreads) {
  std::string name = UniqueName("vornlink-env-test");
  int counter = 0;  // guarded by the named mutex only
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      // Each thread has its own object for the name, as separate cache file
      // objects would.
      std::unique_ptr<CrossProcessMutex> mutex = DefaultEnv()->NewNamedMutex(name);
      for (int i = 0; i < 200; ++i) {
        mutex->Lock();
        if (inside.fetch_add(1) != 0) overlapped = true;
        int seen = counter;
        std::this_thread::yield();
        counter = seen + 1;
        inside.fetch_sub(1);
        mutex->Unlock();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(overlapped.load());
  EXPECT_EQ(counter, 800);
  ForgetMutex(name);
}

TEST_F(EnvTest, NamedMutexExcludesAnotherProcess) {
  std::string name = UniqueName("vornlink-env-test");
  std::unique_ptr<CrossProcessMutex> mutex = env_->NewNamedMutex(name);
  mutex->Lock();
  std::future<int> helper =
      std::async(std::launch::async, [&] { return RunHelperProcess("wait", name, dir_.path()); });
  ASSERT_TRUE(WaitForFile(dir_.File("waiting"), std::chrono::seconds(60)))
      << "the helper process did not start";
  // The helper now waits for the mutex that this process holds.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(FileExists(dir_.File("acquired")));
  mutex->Unlock();
  EXPECT_EQ(helper.get(), 0);
  EXPECT_TRUE(FileExists(dir_.File("acquired")));
  ForgetMutex(name);
}

TEST_F(EnvTest, NamedMutexOfAProcessThatEndedIsFree) {
  std::string name = UniqueName("vornlink-env-test");
  ASSERT_EQ(RunHelperProcess("die", name, dir_.path()), 0);
  ASSERT_TRUE(FileExists(dir_.File("acquired")));
  std::unique_ptr<CrossProcessMutex> mutex = env_->NewNamedMutex(name);
  std::promise<void> locked;
  std::future<void> got_it = locked.get_future();
  std::thread locker([&] {
    mutex->Lock();
    locked.set_value();
    mutex->Unlock();
  });
  bool free = got_it.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  EXPECT_TRUE(free) << "the mutex stayed taken after its holder ended";
  if (free) {
    locker.join();
  } else {
    locker.detach();
  }
  ForgetMutex(name);
}

TEST_F(EnvTest, ModuleIsThisProgram) {
  std::string path = env_->ModulePath();
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(FileExists(path)) << path;
  EXPECT_NE(path.find(kPathSeparator), std::string::npos) << path;
#ifdef _WIN32
  EXPECT_EQ(fs::path(path).filename().string(), "platform_env_test.exe");
#else
  EXPECT_EQ(fs::path(path).filename().string(), "platform_env_test");
#endif
  EXPECT_EQ(ModuleBaseName(), "platform_env_test");
  EXPECT_NE(env_->ModuleLoadAddress(), 0u);
}

TEST_F(EnvTest, FileVersion) {
  FileVersion version;
#ifdef _WIN32
  // A program without a version resource has none; a system DLL has one.
  EXPECT_EQ(env_->ReadFileVersion(env_->ModulePath(), &version), FileVersionResult::kUnreadable);
  ASSERT_EQ(env_->ReadFileVersion("kernel32.dll", &version), FileVersionResult::kOk);
  EXPECT_GE(version.major, 5);
#else
  // ELF files carry none: the module reports its own.
  EXPECT_EQ(env_->ReadFileVersion(dir_.File("other.so"), &version), FileVersionResult::kUnreadable);
  EXPECT_EQ(env_->ReadFileVersion(env_->ModulePath(), &version), FileVersionResult::kOk);
#endif
  EXPECT_EQ(env_->ReadFileVersion(dir_.File("none.dll"), &version), FileVersionResult::kUnreadable);
}

TEST_F(EnvTest, OsTextNamesTheSystem) {
  std::string text = env_->OsText();
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text, "OS Unknown");
#ifdef _WIN32
  EXPECT_EQ(text.rfind("NT Platform os[", 0), 0u) << text;
  EXPECT_NE(text.find("] ver["), std::string::npos) << text;
#endif
}

TEST_F(EnvTest, ClocksMove) {
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  EXPECT_LE(std::llabs(env_->UnixTime() - now), 5);
  std::tm local{};
  ASSERT_TRUE(ToLocalTime(env_->UnixTime(), &local));
  EXPECT_GE(local.tm_year + 1900, 2020);

  uint32_t before = env_->TickCount();
  env_->SleepMs(60);
  uint32_t elapsed = env_->TickCount() - before;
  EXPECT_GE(elapsed, 40u);
  EXPECT_LT(elapsed, 10000u);
}

TEST_F(EnvTest, StartingAMissingProgramReturns) {
  auto started = std::chrono::steady_clock::now();
  env_->StartProgram("vornlink-no-such-program", "Vornlink");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

#ifdef _WIN32
TEST_F(EnvTest, StartedProgramGetsItsArgument) {
  std::string out = dir_.File("started.txt");
  env_->StartProgram("cmd.exe", "/c echo started>\"" + out + "\"");
  ASSERT_TRUE(WaitForFile(out, std::chrono::seconds(30)));
  std::string contents;
  for (int i = 0; i < 100 && contents.find('\n') == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    contents = ReadBytes(out);
  }
  EXPECT_EQ(contents, "started\r\n");
}
#else
// The process ids of this process's children, zombies included.
std::vector<std::string> ChildProcesses() {
  std::string self = fs::read_symlink("/proc/self").string();
  std::vector<std::string> children;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::string stat = ReadBytes(entry.path().string() + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    // "pid (name) state ppid ..."
    std::string rest = stat.substr(close + 2);
    size_t ppid_start = rest.find(' ') + 1;
    std::string ppid = rest.substr(ppid_start, rest.find(' ', ppid_start) - ppid_start);
    if (ppid == self) children.push_back(entry.path().filename().string());
  }
  return children;
}

TEST_F(EnvTest, StartedProgramIsFoundOnPathAndLeavesNoZombie) {
  std::string bin = dir_.File("bin");
  fs::create_directory(bin);
  std::string out = dir_.File("argument.txt");
  std::string script = bin + "/kmrgui";
  WriteBytes(script, "#!/bin/sh\nprintf '%s:%s' \"$#\" \"$1\" > '" + out + ".part'\nmv '" + out +
                         ".part' '" + out + "'\n");
  fs::permissions(script, fs::perms::owner_all);
  std::string old_path = Variable("PATH");
  SetVariable("PATH", bin + ":" + old_path);
  env_->StartProgram("kmrgui", "Vornlink two");
  SetVariable("PATH", old_path);

  ASSERT_TRUE(WaitForFile(out, std::chrono::seconds(20)));
  EXPECT_EQ(ReadBytes(out), "1:Vornlink two");
  EXPECT_EQ(ChildProcesses(), std::vector<std::string>());
}
#endif

}  // namespace
}  // namespace vornlink
