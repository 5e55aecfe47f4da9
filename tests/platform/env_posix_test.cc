// What the POSIX Env does about processes that die or fork.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/env.h"
#include "testing/test_env.h"

namespace vornlink {
namespace {

// A process id that is certainly not running: a child that has ended and
// been reaped.
pid_t EndedProcess() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

TEST(EnvPosixTest, ReplaceRemovesTemporariesOfDeadProcessesOnly) {
  testing::TempDir dir;
  const std::string target = dir.File("Vornlink.$$$");
  const std::string dead = target + "." + std::to_string(EndedProcess()) + ".0.tmp";
  const std::string alive = target + "." + std::to_string(getppid()) + ".0.tmp";
  const std::string other = dir.File("Other.$$$") + "." + std::to_string(EndedProcess()) + ".0.tmp";
  testing::WriteBytes(dead, "left by a crash");
  testing::WriteBytes(alive, "being written");
  testing::WriteBytes(other, "not ours");
  ASSERT_TRUE(DefaultEnv()->ReplaceTextFile(target, "new\n"));
  EXPECT_FALSE(testing::FileExists(dead));
  EXPECT_TRUE(testing::FileExists(alive));
  EXPECT_TRUE(testing::FileExists(other));
  EXPECT_EQ(testing::ReadBytes(target), "new\n");
}

TEST(EnvPosixTest, ForkedChildDoesNotShareTheParentsLock) {
  const std::string name = "vornlink-fork-test-" + std::to_string(getpid());
  std::unique_ptr<CrossProcessMutex> mutex = DefaultEnv()->NewNamedMutex(name);
  mutex->Lock();  // opens the lock file in the parent
  mutex->Unlock();

  int go[2];
  int got_it[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(got_it), 0);
  pid_t child = fork();
  if (child == 0) {
    // The object the child inherited must wait for the parent's lock, not
    // take the parent's lock for its own.
    char byte = 0;
    if (read(go[0], &byte, 1) != 1) _exit(2);
    mutex->Lock();
    _exit(write(got_it[1], &byte, 1) == 1 ? 0 : 3);
  }
  close(got_it[1]);
  mutex->Lock();
  char byte = 1;
  ASSERT_EQ(write(go[1], &byte, 1), 1);
  pollfd wait_for_child{got_it[0], POLLIN, 0};
  EXPECT_EQ(poll(&wait_for_child, 1, 300), 0) << "the child took a lock the parent holds";
  mutex->Unlock();
  EXPECT_EQ(read(got_it[0], &byte, 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(go[0]);
  close(go[1]);
  close(got_it[0]);
  unlink(("/tmp/" + name + ".lock").c_str());
}

}  // namespace
}  // namespace vornlink
