#include "emulated_dms/dms_repeats.h"

#include <cctype>

namespace vornlink {
namespace {

bool IsKeyCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_' || c == '.';
}

}  // namespace

std::string DmsRequestKey(std::string_view request, std::string_view marker, std::string* no_key) {
  std::string key;
  std::string problem = "no key after " + std::string(marker);
  for (size_t at = marker.empty() ? std::string_view::npos : request.find(marker);
       at != std::string_view::npos; at = request.find(marker, at + 1)) {
    size_t start = at + marker.size();
    while (start < request.size() && (request[start] == ' ' || request[start] == '\t')) ++start;
    size_t end = start;
    while (end < request.size() && IsKeyCharacter(request[end])) ++end;
    if (end == start) continue;  // the marker in another sense: no key follows it
    if (end - start > kMaxDmsKeySize) {
      problem = "a key longer than " + std::to_string(kMaxDmsKeySize) + " characters after " +
                std::string(marker);
      key.clear();
      break;
    }
    std::string_view found = request.substr(start, end - start);
    if (!key.empty() && found != key) {
      problem = "more than one key after " + std::string(marker);
      key.clear();
      break;
    }
    key = std::string(found);
  }
  if (key.empty() && no_key != nullptr) *no_key = problem;
  return key;
}

const DmsRepeatMemory::FirstAnswer* DmsRepeatMemory::DropRepeat(const std::string& key) {
  auto found = answers_.find(key);
  if (key.empty() || found == answers_.end()) return nullptr;
  ++dropped_;
  return &found->second;
}

void DmsRepeatMemory::Remember(const std::string& key, int request, std::string reply_name,
                               const std::string* reply) {
  if (key.empty() || capacity_ == 0 || answers_.count(key) != 0) return;
  if (order_.size() >= capacity_) {
    answers_.erase(order_.front());
    order_.pop_front();
  }
  answers_.emplace(key, FirstAnswer{request, std::move(reply_name), reply});
  order_.push_back(key);
}

}  // namespace vornlink
