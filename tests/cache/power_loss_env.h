// An Env for power-cut tests: it records every step the platform's file
// calls take in one folder (files made, written, cut, synced, renamed,
// removed; the folder synced) and tells what a power cut after any of
// those steps could leave on the disk. What was synced stays; what was not
// may be lost: a file's content falls back to what its last sync made
// durable (an unsynced append may survive in part, as a torn tail), and the
// names made, renamed or removed since the folder's last sync survive only
// as far as a random prefix of those changes, in order, as a journal keeps
// them. That is all POSIX promises; a file system may keep more, never
// less.
//
// Thread-safe. POSIX only: the Windows file calls report nothing.
#ifndef VORNLINK_TESTS_CACHE_POWER_LOSS_ENV_H_
#define VORNLINK_TESTS_CACHE_POWER_LOSS_ENV_H_

#include <cstddef>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "platform/file_events.h"
#include "testing/test_env.h"

namespace vornlink {
namespace testing {

class PowerLossEnv : public FakeEnv, public FileEventSink {
 public:
  // Records what happens to the files in `folder` (the files there now
  // count as durable). Receives the platform's file events while it lives.
  explicit PowerLossEnv(std::string folder);
  ~PowerLossEnv() override;

  size_t event_count();

  // The files of the folder (by name, without the folder) as a power cut
  // right after the first `events` steps could leave them, with the random
  // choices taken from `random`; `how` gets what was dropped, for failure
  // messages.
  std::map<std::string, std::string> Survivors(size_t events, std::mt19937* random,
                                               std::string* how);

  void OnFileEvent(const FileEvent& event) override;

 private:
  const std::string folder_;
  std::map<std::string, std::string> initial_;
  std::mutex mutex_;
  std::vector<FileEvent> events_;  // guarded by mutex_
};

}  // namespace testing
}  // namespace vornlink

#endif  // VORNLINK_TESTS_CACHE_POWER_LOSS_ENV_H_
