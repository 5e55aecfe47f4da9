#include "power_loss_env.h"

#include <filesystem>
#include <utility>

namespace vornlink {
namespace testing {
namespace {

// One file's content: as written, and as far as a sync made it durable.
struct Node {
  std::string current;
  std::string durable;
};

// A change of the folder's names since its last sync: `to` takes `node`
// (-1: `to` is removed).
struct NameChange {
  std::string to;
  std::string from;  // a rename's old name, which goes with it
  int node = -1;
};

}  // namespace

PowerLossEnv::PowerLossEnv(std::string folder) : folder_(std::move(folder)) {
  for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
    if (entry.is_regular_file()) {
      initial_[entry.path().filename().string()] = ReadBytes(entry.path().string());
    }
  }
  SetFileEventSinkForTesting(this);
}

PowerLossEnv::~PowerLossEnv() { SetFileEventSinkForTesting(nullptr); }

size_t PowerLossEnv::event_count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_.size();
}

void PowerLossEnv::OnFileEvent(const FileEvent& event) {
  const std::string prefix = folder_ + "/";
  if (event.path != folder_ && event.path.compare(0, prefix.size(), prefix) != 0) return;
  FileEvent local = event;
  // Names without the folder, as Survivors gives them.
  if (local.path != folder_) local.path.erase(0, prefix.size());
  if (!local.to.empty()) local.to.erase(0, prefix.size());
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(std::move(local));
}

std::map<std::string, std::string> PowerLossEnv::Survivors(size_t events, std::mt19937* random,
                                                           std::string* how) {
  std::vector<FileEvent> steps;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    steps.assign(events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(events));
  }
  std::vector<Node> nodes;
  std::map<std::string, int> names;
  for (const auto& [name, content] : initial_) {
    names[name] = static_cast<int>(nodes.size());
    nodes.push_back({content, content});
  }
  std::map<std::string, int> durable_names = names;
  std::vector<NameChange> unsynced_names;
  for (const FileEvent& step : steps) {
    auto named = names.find(step.path);
    switch (step.kind) {
      case FileEvent::Kind::kCreate:
        names[step.path] = static_cast<int>(nodes.size());
        unsynced_names.push_back({step.path, "", static_cast<int>(nodes.size())});
        nodes.push_back({});
        break;
      case FileEvent::Kind::kWrite: {
        if (named == names.end()) break;
        std::string& content = nodes[static_cast<size_t>(named->second)].current;
        if (content.size() < step.offset + step.data.size()) {
          content.resize(step.offset + step.data.size());
        }
        content.replace(step.offset, step.data.size(), step.data);
        break;
      }
      case FileEvent::Kind::kTruncate:
        if (named != names.end())
          nodes[static_cast<size_t>(named->second)].current.resize(step.offset);
        break;
      case FileEvent::Kind::kSync:
        if (named != names.end()) {
          Node& node = nodes[static_cast<size_t>(named->second)];
          node.durable = node.current;
        }
        break;
      case FileEvent::Kind::kRename:
        if (named == names.end()) break;
        unsynced_names.push_back({step.to, step.path, named->second});
        names[step.to] = named->second;
        names.erase(step.path);
        break;
      case FileEvent::Kind::kRemove:
        if (named == names.end()) break;
        unsynced_names.push_back({step.path, "", -1});
        names.erase(named);
        break;
      case FileEvent::Kind::kSyncFolder:
        durable_names = names;
        unsynced_names.clear();
        break;
    }
  }

  // The folder's names: those of its last sync, then a random part of the
  // changes since, in order.
  std::map<std::string, int> kept_names = durable_names;
  const size_t name_changes =
      std::uniform_int_distribution<size_t>(0, unsynced_names.size())(*random);
  for (size_t i = 0; i < name_changes; ++i) {
    const NameChange& change = unsynced_names[i];
    if (!change.from.empty()) kept_names.erase(change.from);
    if (change.node < 0) {
      kept_names.erase(change.to);
    } else {
      kept_names[change.to] = change.node;
    }
  }
  *how = "after step " + std::to_string(events) + ": " + std::to_string(name_changes) + " of " +
         std::to_string(unsynced_names.size()) + " unsynced name changes kept";

  std::map<std::string, std::string> files;
  for (const auto& [name, index] : kept_names) {
    const Node& node = nodes[static_cast<size_t>(index)];
    std::string content = node.durable;
    // An unsynced append may have reached the disk in part.
    if (node.current.size() > node.durable.size() &&
        node.current.compare(0, node.durable.size(), node.durable) == 0) {
      // None of it, all of it, or a random part.
      const size_t tail = node.current.size() - node.durable.size();
      const int pick = std::uniform_int_distribution<int>(0, 2)(*random);
      const size_t kept = pick == 0   ? 0
                          : pick == 1 ? tail
                                      : std::uniform_int_distribution<size_t>(0, tail)(*random);
      content.append(node.current, node.durable.size(), kept);
      if (kept > 0) *how += "; " + std::to_string(kept) + " unsynced bytes of " + name + " kept";
    }
    files[name] = std::move(content);
  }
  return files;
}

}  // namespace testing
}  // namespace vornlink
