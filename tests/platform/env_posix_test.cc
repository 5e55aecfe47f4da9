// The POSIX Env where other users and forks meet it: odd files, links, modes, rights, lock file.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/env.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::WriteBytes;

// Runs `body` in a child process: 0 when `body` is true, 100 when it did not exit by itself.
int InChild(const std::function<bool()>& body) {
  pid_t child = fork();
  if (child == 0) _exit(body() ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

mode_t ModeOf(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

class EnvPosixTest : public ::testing::Test {
 protected:
  std::unique_ptr<CrossProcessMutex> LockMutex() {
    return env_->NewNamedMutex("KMR CacheMutex", lock_file_);
  }
  ReplaceResult Replace(const std::string& path, const std::string& text) {
    return DefaultEnv()->ReplaceTextFile(path, text, ReplaceOptions{}, nullptr);
  }

  Env* env_ = DefaultEnv();
  testing::TempDir dir_;
  const std::string lock_file_ = dir_.File("Vornlink.$$$.lock");
};

// A FIFO would hold a reader (or a writer) until somebody opens the other
// end (the test would hang); a device feeds a reader without end.
TEST_F(EnvPosixTest, FifosAndDevicesAreRefusedAtOnce) {
  const std::string fifo = dir_.File("Vornlink.xml");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    std::string contents, error;
    EXPECT_EQ(env_->ReadTextFile(path, &contents, kNoSizeLimit, &error), ReadResult::kError);
    EXPECT_EQ(error, "not a regular file");
    EXPECT_FALSE(env_->AppendTextFile(path, "x\n", true, nullptr));
    EXPECT_EQ(Replace(path, "x\n"), ReplaceResult::kFailed);
    EXPECT_FALSE(env_->SetAllocatedFileSize(path, 4096, nullptr));
    std::unique_ptr<AppendingFile> file = env_->OpenForAppend(path);
    FileStamp stamp;
    EXPECT_EQ(file->ReadBytes(0, 16, &contents, &stamp, nullptr), ReadResult::kError);
    EXPECT_FALSE(file->AppendDurably("x\n", nullptr));
  }
  EXPECT_EQ(env_->ReadProfileString("A", "B", "default", fifo), "default");
  EXPECT_TRUE(fs::is_fifo(fifo));
}

// A link is kept and its target replaced, from a temporary file beside the
// target; a file keeps its mode, and a new one gets the umask's.
TEST_F(EnvPosixTest, ReplaceKeepsLinksModesAndTheFolderOfTheTarget) {
  const std::string real_folder = dir_.File("real");
  fs::create_directory(real_folder);
  const std::string target = real_folder + "/Vornlink.log";
  const std::string link = dir_.File("Vornlink.log");
  WriteBytes(target, "old\n");
  chmod(target.c_str(), 0640);
  fs::create_symlink(target, link);

  ASSERT_EQ(Replace(link, "new\n"), ReplaceResult::kReplaced);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadBytes(target), "new\n");
  EXPECT_EQ(ModeOf(target), 0640u);
  EXPECT_EQ(std::distance(fs::directory_iterator(real_folder), fs::directory_iterator()), 1);

  const mode_t mask = umask(027);
  EXPECT_EQ(Replace(dir_.File("new.log"), "new\n"), ReplaceResult::kReplaced);
  umask(mask);
  EXPECT_EQ(ModeOf(dir_.File("new.log")), 0640u);
}

// A link or a second name is used only where nobody but root could have
// planted it; elsewhere every call is refused and its target left alone.
TEST_F(EnvPosixTest, LinksAndSecondNamesOnlyWhereNobodyElseCouldHavePlantedThem) {
  if (geteuid() != 0) GTEST_SKIP() << "planting as another user needs root";
  constexpr int kOther = 65534;
  constexpr int kSecondName = -1;  // a hard link in place of a link
  const struct {
    const char* name;
    mode_t folder_mode;
    uid_t folder_owner;
    int link_owner;
    bool followed;
  } kCases[] = {
      {"another user's link, folder all may write", 0777, 0, kOther, false},
      {"root's link, folder all may write", 0777, 0, 0, false},
      {"another user's link, sticky folder", 01777, 0, kOther, false},
      {"root's link, another user's sticky folder", 01777, kOther, 0, false},
      {"root's link, root's sticky folder", 01777, 0, 0, true},
      {"root's link, folder only root may write", 0755, 0, 0, true},
      {"second name, sticky folder", 01777, 0, kSecondName, false},
  };
  int serial = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string folder = dir_.File("case" + std::to_string(++serial));
    const std::string victim = folder + ".victim";
    const std::string path = folder + "/Vornlink.log";
    fs::create_directory(folder);
    WriteBytes(victim, "secret\n");
    if (c.link_owner == kSecondName) {
      ASSERT_EQ(link(victim.c_str(), path.c_str()), 0);
    } else {
      ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
      ASSERT_EQ(lchown(path.c_str(), c.link_owner, c.link_owner), 0);
    }
    ASSERT_EQ(chown(folder.c_str(), c.folder_owner, c.folder_owner), 0);
    ASSERT_EQ(chmod(folder.c_str(), c.folder_mode), 0);

    std::string error, contents;
    EXPECT_EQ(env_->IsTrustedPath(path, &error), c.followed);
    EXPECT_EQ(env_->AppendTextFile(path, "appended\n", true, &error), c.followed);
    EXPECT_EQ(env_->OpenForAppend(path)->AppendDurably("appended\n", &error), c.followed);
    EXPECT_EQ(env_->ReadTextFile(path, &contents, kNoSizeLimit, &error),
              c.followed ? ReadResult::kOk : ReadResult::kError);
    EXPECT_EQ(env_->SetAllocatedFileSize(path, 4096, &error), c.followed);
    EXPECT_EQ(Replace(path, "new\n"),
              c.followed ? ReplaceResult::kReplaced : ReplaceResult::kFailed);
    if (!c.followed) {
      EXPECT_EQ(error, kPlantedLinkRefused);
      EXPECT_EQ(ReadBytes(victim), "secret\n");
    } else {
      EXPECT_TRUE(fs::is_symlink(path));  // the link stays, its target is replaced
      EXPECT_EQ(ReadBytes(victim), "new\n");
    }
  }
  // Each link of a chain is judged; a chain that comes back ends in an error.
  fs::create_symlink(dir_.File("case1/Vornlink.log"), dir_.File("chain"));
  fs::create_symlink(dir_.File("b"), dir_.File("a"));
  fs::create_symlink(dir_.File("a"), dir_.File("b"));
  for (const char* name : {"chain", "a"})
    EXPECT_FALSE(env_->AppendTextFile(dir_.File(name), "x\n", true, nullptr)) << name;
  EXPECT_EQ(ReadBytes(dir_.File("case1.victim")), "secret\n");
}

// Where the folder cannot be read (nor flushed), the replace is done and says what it could not.
TEST_F(EnvPosixTest, ReplaceInAFolderThatCannotBeRead) {
  const std::string folder = dir_.File("folder");
  fs::create_directory(folder);
  const std::string path = folder + "/Vornlink.$$$";
  WriteBytes(path, "line 1\nline 2\nline 3\n");
  const bool root = geteuid() == 0;
  // As root, a user of no rights owns the file; the folder stays root's.
  ASSERT_TRUE(!root || chown(path.c_str(), 65534, 65534) == 0);
  chmod(folder.c_str(), 0333);
  int status = InChild([&] {
    if (root && (setgid(65534) != 0 || setuid(65534) != 0)) return false;
    std::string error = "stale";
    return env_->ReplaceTextFile(path, "line 2\n", ReplaceOptions{}, &error) ==
               ReplaceResult::kReplaced &&
           error == "the new content is in place but not flushed: Permission denied";
  });
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadBytes(path), "line 2\n");
}

TEST_F(EnvPosixTest, LockFileIsNeverFollowedNorChangedAndMustBeRegular) {
  const std::string victim = dir_.File("victim");
  WriteBytes(victim, "secret");
  chmod(victim.c_str(), 0600);
  const std::string missing = dir_.File("created-through-a-link");
  for (const std::string& planted_target : {victim, missing}) {
    fs::remove(lock_file_);
    fs::create_symlink(planted_target, lock_file_);
    // In a child with a time limit: a lock through the link never matches the file, tries for ever.
    EXPECT_EQ(InChild([&] {
                alarm(10);
                std::string error;
                return !LockMutex()->Lock(&error) && error.rfind(lock_file_ + ": ", 0) == 0;
              }),
              0)
        << planted_target;
  }
  EXPECT_EQ(ModeOf(victim), 0600u);
  EXPECT_FALSE(fs::exists(missing));

  fs::remove(lock_file_);
  ASSERT_EQ(mkfifo(lock_file_.c_str(), 0600), 0);
  std::string error;
  EXPECT_FALSE(LockMutex()->Lock(&error));
  EXPECT_EQ(error, lock_file_ + ": not a regular file");

  // A lock file that is there keeps its mode, and a descriptor that can only read it cannot hold
  // the lock: a user who may not write it cannot hold every writer off.
  fs::remove(lock_file_);
  WriteBytes(lock_file_, "");
  chmod(lock_file_.c_str(), 0640);
  int reader = open(lock_file_.c_str(), O_RDONLY);
  ASSERT_EQ(flock(reader, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(InChild([&] {
              alarm(10);
              return LockMutex()->Lock(nullptr);
            }),
            0);
  close(reader);
  EXPECT_EQ(ModeOf(lock_file_), 0640u);
}

// A forked child inherits the parent's open lock file: it must wait for the parent's lock.
TEST_F(EnvPosixTest, ForkedChildDoesNotShareTheParentsLock) {
  std::unique_ptr<CrossProcessMutex> mutex = LockMutex();
  ASSERT_TRUE(mutex->Lock(nullptr));  // opens the lock file in the parent
  mutex->Unlock();
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t child = fork();
  if (child == 0) {
    char byte = 0;
    if (read(go[0], &byte, 1) != 1) _exit(2);
    ualarm(300000, 0);  // still waiting then: killed
    _exit(mutex->Lock(nullptr) ? 0 : 3);
  }
  ASSERT_TRUE(mutex->Lock(nullptr));
  EXPECT_EQ(write(go[1], "x", 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  mutex->Unlock();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
      << "the child took a lock the parent holds";
  close(go[0]);
  close(go[1]);
}

TEST_F(EnvPosixTest, StartedProgramIsFoundOnPathAndLeavesNoChild) {
  std::string bin = dir_.File("bin");
  fs::create_directory(bin);
  std::string out = dir_.File("argument.txt");
  WriteBytes(bin + "/kmrgui", "#!/bin/sh\nprintf '%s:%s' \"$#\" \"$1\" > '" + out + "'\n");
  fs::permissions(bin + "/kmrgui", fs::perms::owner_all);
  std::string old_path = getenv("PATH");
  setenv("PATH", (bin + ":" + old_path).c_str(), 1);
  env_->StartProgram("kmrgui", "Vornlink two");
  env_->StartProgram("vornlink-no-such-program", "Vornlink");
  setenv("PATH", old_path.c_str(), 1);

  EXPECT_TRUE(testing::Eventually([&] { return ReadBytes(out) == "1:Vornlink two"; }))
      << ReadBytes(out);
  // Neither a zombie nor a running child is left to this process.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace vornlink
