#include "platform/file_events.h"

#include <atomic>

namespace vornlink {
namespace {
std::atomic<FileEventSink*> g_sink{nullptr};
}  // namespace

void SetFileEventSinkForTesting(FileEventSink* sink) {
  g_sink.store(sink, std::memory_order_release);
}

void ReportFileEvent(FileEvent::Kind kind, std::string_view path, uint64_t offset,
                     std::string_view data, std::string_view to) {
  FileEventSink* sink = g_sink.load(std::memory_order_acquire);
  if (sink == nullptr) return;
  FileEvent event{kind, std::string(path), std::string(to), offset, std::string(data)};
  sink->OnFileEvent(event);
}

}  // namespace vornlink
