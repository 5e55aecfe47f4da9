#include "emulated_dms/dms_repeats.h"

#include <cctype>

namespace vornlink {
namespace {

bool IsKeyCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_' || c == '.';
}

}  // namespace

std::string DmsRequestKey(std::string_view request, std::string_view marker) {
  if (marker.empty()) return std::string();
  size_t at = request.find(marker);
  if (at == std::string_view::npos) return std::string();
  at += marker.size();
  while (at < request.size() && (request[at] == ' ' || request[at] == '\t')) ++at;
  size_t end = at;
  while (end < request.size() && end - at < kMaxDmsKeySize && IsKeyCharacter(request[end])) ++end;
  return std::string(request.substr(at, end - at));
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
