// The platform's Env on the real system: text files, the cross-process mutex,
// the module's file, error texts, the OS line, started programs, the clocks.
#include "platform/env.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>
#else
#include <sys/stat.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <future>
#include <memory>
#include <random>
#include <set>
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
using testing::WriteBytes;

class EnvTest : public ::testing::Test {
 protected:
  std::string Read(const std::string& path, ReadResult expected, size_t max_size = kNoSizeLimit) {
    std::string contents = "stale";
    std::string error;
    EXPECT_EQ(env_->ReadTextFile(path, &contents, max_size, &error), expected) << path;
    EXPECT_TRUE(expected == ReadResult::kOk || (contents.empty() && !error.empty())) << path;
    return contents;
  }
  bool Append(const std::string& path, const std::string& text, std::string* error = nullptr) {
    return env_->AppendTextFile(path, text, /*durable=*/true, error);
  }
  ReplaceResult Replace(const std::string& path, const std::string& text, uint32_t busy_ms = 0) {
    return env_->ReplaceTextFile(path, text, ReplaceOptions{busy_ms}, nullptr);
  }

  Env* env_ = DefaultEnv();
  testing::TempDir dir_;
};

TEST_F(EnvTest, TextFilesUseThePlatformsLineEnds) {
  std::string path = dir_.File("log.txt");
  ASSERT_TRUE(env_->AppendTextFile(path, "first line\n", /*durable=*/false, nullptr));
  ASSERT_TRUE(Append(path, "second\nthird"));
  ASSERT_TRUE(Append(path, "\n"));
  EXPECT_EQ(ReadBytes(path), OnDisk("first line\nsecond\nthird\n"));
  EXPECT_EQ(Read(path, ReadResult::kOk), "first line\nsecond\nthird\n");

  // Only CR LF is a line end in memory; a lone CR stays, and Ctrl-Z does not end the file.
  const std::string on_disk = std::string("a\r\nb\rc\n\x1a") + "d\r\n";
  WriteBytes(path, on_disk);
#ifdef _WIN32
  EXPECT_EQ(Read(path, ReadResult::kOk), std::string("a\nb\rc\n\x1a") + "d\n");
#else
  EXPECT_EQ(Read(path, ReadResult::kOk), on_disk);
#endif
}

TEST_F(EnvTest, MissingAndForeignFilesAreErrorsWithReasons) {
  Read(dir_.File("none.txt"), ReadResult::kMissing);
  // The platform's "file not found" has a one-line text.
  std::string text = env_->ErrorText(2);
  EXPECT_NE(text.find("ile"), std::string::npos) << text;
  EXPECT_NE(text.back(), '\n');

  // Neither a missing folder nor a folder in the file's place is written.
  const std::string folder = dir_.File("folder");
  fs::create_directory(folder);
  for (const std::string& path : {dir_.File("no-folder") + kPathSeparator + "x.txt", folder}) {
    std::string error;
    EXPECT_FALSE(Append(path, "x\n", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Replace(path, "x\n"), ReplaceResult::kFailed);
  }
  EXPECT_FALSE(FileExists(dir_.File("no-folder")));
  Read(folder, ReadResult::kError);

  // A reader that sets a limit does not read past it.
  WriteBytes(dir_.File("big.xml"), std::string(1001, 'x'));
  Read(dir_.File("big.xml"), ReadResult::kError, 1000);
  EXPECT_EQ(Read(dir_.File("big.xml"), ReadResult::kOk, 1001).size(), 1001u);
}

// A second name (hard link) is used only in a folder nobody else may write.
TEST_F(EnvTest, SecondNamesOnlyInFoldersNobodyElseMayWrite) {
  const std::string victim = dir_.File("victim");
  const std::string shared = dir_.File("shared");
  const std::string planted = shared + kPathSeparator + "Vornlink.log";
  WriteBytes(victim, "secret\n");
  fs::create_directory(shared);
  fs::create_hard_link(victim, planted);
#ifdef _WIN32
  PSECURITY_DESCRIPTOR everybody = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
                  "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;WD)", SDDL_REVISION_1, &everybody, nullptr) &&
              SetFileSecurityA(shared.c_str(), DACL_SECURITY_INFORMATION, everybody));
  LocalFree(everybody);
#else
  ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
#endif
  std::string error, contents;
  EXPECT_FALSE(env_->IsTrustedPath(planted, nullptr));
  EXPECT_TRUE(!Append(planted, "appended\n", &error) && error == kPlantedLinkRefused) << error;
  EXPECT_EQ(env_->ReadTextFile(planted, &contents, kNoSizeLimit, nullptr), ReadResult::kError);
  EXPECT_EQ(Replace(planted, "new\n"), ReplaceResult::kFailed);
  EXPECT_EQ(ReadBytes(victim), "secret\n");

  const std::string own = dir_.File("Vornlink.log");
  fs::create_hard_link(victim, own);
  EXPECT_TRUE(env_->IsTrustedPath(own, nullptr) && Append(own, "appended\n"));
  EXPECT_EQ(ReadBytes(victim), "secret\n" + OnDisk("appended\n"));
}

// An overwrite changes bytes within an existing regular file only: never past its end, never a file
// it would have to make, through a link only where nobody else could have planted it.
TEST_F(EnvTest, OverwriteStaysWithinTheFileItself) {
  const std::string path = dir_.File("cache.txt");
  WriteBytes(path, "0,abc\r\n");
  EXPECT_TRUE(env_->OverwriteFileBytes(path, 2, "XY", nullptr));
  EXPECT_FALSE(env_->OverwriteFileBytes(path, 6, "ZZZ", nullptr));
  EXPECT_FALSE(env_->OverwriteFileBytes(dir_.File("none.txt"), 0, "x", nullptr));
  EXPECT_EQ(ReadBytes(path), "0,XYc\r\n");
  EXPECT_FALSE(FileExists(dir_.File("none.txt")));
#ifndef _WIN32
  fs::create_symlink(path, dir_.File("link.txt"));
  EXPECT_TRUE(env_->OverwriteFileBytes(dir_.File("link.txt"), 0, "1", nullptr));
  const std::string shared = dir_.File("shared");
  fs::create_directory(shared);
  ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
  fs::create_symlink(path, shared + "/link.txt");
  std::string error;
  EXPECT_TRUE(!env_->OverwriteFileBytes(shared + "/link.txt", 0, "x", &error) &&
              error == kPlantedLinkRefused);
  EXPECT_EQ(ReadBytes(path), "1,XYc\r\n");
#endif
}

// Room in reserve: real blocks, not a mere length.
TEST_F(EnvTest, AllocatedFilesHoldTheirRoomOnTheDisk) {
  const std::string path = dir_.File("Vornlink.$$$.reserve");
  ASSERT_TRUE(env_->SetAllocatedFileSize(path, 1 << 20, nullptr));
#ifdef _WIN32
  DWORD high = 0;
  const DWORD low = GetCompressedFileSizeA(path.c_str(), &high);
  EXPECT_GE((uint64_t{high} << 32) | low, 1u << 20);
#else
  struct stat info;
  EXPECT_TRUE(stat(path.c_str(), &info) == 0 && info.st_blocks * 512 >= (1 << 20));
#endif
}

TEST_F(EnvTest, ReplaceIsWholeAndLeavesOnlyOthersTemporaries) {
  ASSERT_EQ(testing::StartBeside("test_helper", {"pid", dir_.path()})->Wait(), 0);
  const std::string ended = ReadBytes(dir_.File("pid"));
  ASSERT_FALSE(ended.empty());
  const std::string path = dir_.File("Vornlink.$$$");
  // Left by a process that ended in the middle of a replace (removed), by this one (running), and
  // by a replace of another file; and a file that only looks like a temporary.
  const std::string ours = "Vornlink.$$$." + std::to_string(testing::ProcessId()) + ".999.tmp";
  const std::string other = "Other.$$$." + ended + ".0.tmp";
  const std::string lookalike = "Vornlink.$$$." + ended + ".old.tmp";
  for (const std::string& temp :
       {path + "." + ended + ".0.tmp", dir_.File(ours), dir_.File(other), dir_.File(lookalike)}) {
    WriteBytes(temp, "partial");
  }

  ASSERT_TRUE(Append(path, std::string(5000, 'x') + "\nold line\n"));
  ASSERT_EQ(Replace(path, "new 1\nnew 2\n"), ReplaceResult::kReplaced);
  EXPECT_EQ(ReadBytes(path), OnDisk("new 1\nnew 2\n"));
  ASSERT_EQ(Replace(path, ""), ReplaceResult::kReplaced);
  EXPECT_EQ(ReadBytes(path), "");
  ASSERT_EQ(Replace(dir_.File("fresh.txt"), "one\n"), ReplaceResult::kReplaced);
  EXPECT_EQ(ReadBytes(dir_.File("fresh.txt")), OnDisk("one\n"));

  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_.path()))
    names.insert(entry.path().filename().string());
  EXPECT_EQ(names,
            (std::set<std::string>{other, "Vornlink.$$$", ours, lookalike, "fresh.txt", "pid"}));
}

// Readers while the file is replaced see the old or the new content, never a mix or a short file.
TEST_F(EnvTest, ReadersNeverSeeAHalfReplacedFile) {
  std::string path = dir_.File("cache.$$$");
  const std::string first = std::string(20000, 'a') + "\n";
  const std::string second = std::string(30000, 'b') + "\n";
  ASSERT_EQ(Replace(path, first), ReplaceResult::kReplaced);
  std::atomic<bool> done{false};
  std::atomic<int> whole{0}, torn{0};
  std::thread reader([&] {
    while (!done.load()) {
      std::string contents;
      if (env_->ReadTextFile(path, &contents, kNoSizeLimit, nullptr) == ReadResult::kOk)
        ++(contents == first || contents == second ? whole : torn);
      // On Windows an open reader holds a replace off until it closes.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(Replace(path, i % 2 == 0 ? second : first, 2000), ReplaceResult::kReplaced);
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(whole.load(), 0);
}

// Another process waits while this one holds the mutex; one that ended holding it leaves it free.
TEST_F(EnvTest, MutexHoldsOtherProcessesOffUntilTheyEnd) {
  std::random_device random;
  const std::string name =
      "vornlink-env-test-" + std::to_string(random()) + std::to_string(random());
  // A name on Windows, a lock file in the test's folder elsewhere (as the helper takes it).
  std::unique_ptr<CrossProcessMutex> mutex = env_->NewNamedMutex(name, dir_.File("test.lock"));
  ASSERT_TRUE(mutex->Lock(nullptr));
  auto helper = testing::StartBeside("test_helper", {"wait", dir_.path(), name});
  ASSERT_TRUE(testing::Eventually([&] { return !ReadBytes(dir_.File("waiting")).empty(); }));
  EXPECT_EQ(ReadBytes(dir_.File("waiting")), "held");
  EXPECT_FALSE(FileExists(dir_.File("acquired")));
  mutex->Unlock();
  EXPECT_EQ(helper->Wait(), 0);
  ASSERT_TRUE(FileExists(dir_.File("acquired")));

  ASSERT_EQ(testing::StartBeside("test_helper", {"die", dir_.path(), name})->Wait(), 0);
  auto locked = std::make_shared<std::promise<bool>>();
  std::future<bool> got_it = locked->get_future();
  std::thread([held = mutex.get(), locked] {
    const bool ok = held->Lock(nullptr);
    if (ok) held->Unlock();
    locked->set_value(ok);
  }).detach();
  const bool ended = got_it.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  EXPECT_TRUE(ended && got_it.get()) << "the mutex stayed taken after its holder ended";
  if (!ended) mutex.release();  // the waiting thread still uses it
}

TEST_F(EnvTest, ModuleAndSystem) {
  std::string path = env_->ModulePath();
  EXPECT_TRUE(fs::path(path).is_absolute()) << path;
  EXPECT_TRUE(FileExists(path)) << path;
  EXPECT_EQ(ModuleBaseName(), "platform_env_test");
  EXPECT_NE(env_->ModuleLoadAddress(), 0u);

  FileVersion version;
#ifdef _WIN32
  // A program without a version resource has none; a system DLL has one.
  EXPECT_EQ(env_->ReadFileVersion(path, &version), FileVersionResult::kUnreadable);
  ASSERT_EQ(env_->ReadFileVersion("kernel32.dll", &version), FileVersionResult::kOk);
  EXPECT_GE(version.major, 5);
  EXPECT_EQ(env_->OsText().rfind("NT Platform os[", 0), 0u) << env_->OsText();
#else
  // ELF files carry none: the module reports its own.
  EXPECT_EQ(env_->ReadFileVersion(path, &version), FileVersionResult::kOk);
  EXPECT_EQ(env_->OsText().rfind("POSIX Platform os[", 0), 0u) << env_->OsText();
#endif
  EXPECT_EQ(env_->ReadFileVersion(dir_.File("none.dll"), &version), FileVersionResult::kUnreadable);
}

TEST_F(EnvTest, ClocksReachPast2038) {
  EXPECT_LE(std::llabs(env_->UnixTime() - static_cast<int64_t>(std::time(nullptr))), 5);
  // The tick count counts milliseconds (as coarsely as Windows does): the
  // sleep shows in it, and no more than the steady clock saw around it.
  const auto around = std::chrono::steady_clock::now();
  const uint32_t before = env_->TickCount();
  env_->SleepMs(60);
  const uint32_t ticks = env_->TickCount() - before;
  EXPECT_GE(ticks, 40u);
  EXPECT_LE(ticks, testing::MillisecondsSince(around) + 20);

  // 2107-06-11 04:40:39, built from fields out of range, and back.
  std::tm local = testing::LocalFields(2099, 99, 99, 99, 99, 99);
  int64_t moment = 0;
  ASSERT_TRUE(FromLocalTime(&local, &moment));
  EXPECT_GT(moment, int64_t{4300000000});
  std::tm back{};
  ASSERT_TRUE(ToLocalTime(moment, &back));
  EXPECT_EQ(std::vector<int>({back.tm_year + 1900, back.tm_mon + 1, back.tm_mday, back.tm_min}),
            std::vector<int>({2107, 6, 11, 40}));
}

#ifdef _WIN32
TEST_F(EnvTest, StartedProgramGetsItsArgument) {
  std::string out = dir_.File("started.txt");
  env_->StartProgram("cmd.exe", "/c echo started>\"" + out + "\"");
  testing::Eventually([&] { return ReadBytes(out).find('\n') != std::string::npos; });
  EXPECT_EQ(ReadBytes(out), "started\r\n");
  env_->StartProgram("vornlink-no-such-program", "Vornlink");  // no failure of the caller's
}
#endif

}  // namespace
}  // namespace vornlink
