// What the platform's file calls do to the disk, step by step, for tests
// that model what a power cut keeps: every file made, every write, cut,
// sync, rename and removal, and every sync of a folder, reported as it
// happens. Only the POSIX file calls report (their durability rules are
// the ones such a model follows). Nothing is reported while no sink is set,
// and the driver itself never sets one.
#ifndef VORNLINK_PLATFORM_FILE_EVENTS_H_
#define VORNLINK_PLATFORM_FILE_EVENTS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vornlink {

struct FileEvent {
  enum class Kind {
    kCreate,      // `path` was made, empty
    kWrite,       // `data` was written into `path` at `offset`
    kTruncate,    // `path` was cut to `offset` bytes (or made that long with zeros)
    kSync,        // the content of `path` (and its size) reached the disk
    kRename,      // `path` took the name `to`, replacing what had it
    kRemove,      // the name `path` was removed
    kSyncFolder,  // the names in the folder `path` reached the disk
  };
  Kind kind;
  std::string path;
  std::string to;
  uint64_t offset = 0;
  std::string data;
};

// Receives the events; called on the thread that made the change, while
// the call that made it runs.
class FileEventSink {
 public:
  virtual ~FileEventSink() = default;
  virtual void OnFileEvent(const FileEvent& event) = 0;
};

// Makes `sink` receive every event from now on; nullptr stops that. The
// caller keeps it alive while it is set.
void SetFileEventSinkForTesting(FileEventSink* sink);

// For the platform's file calls: hands the event to the sink, if one is
// set; costs one atomic load otherwise.
void ReportFileEvent(FileEvent::Kind kind, std::string_view path, uint64_t offset = 0,
                     std::string_view data = {}, std::string_view to = {});

}  // namespace vornlink

#endif  // VORNLINK_PLATFORM_FILE_EVENTS_H_
