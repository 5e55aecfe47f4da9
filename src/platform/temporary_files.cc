#include "platform/temporary_files.h"

#include <atomic>
#include <random>

namespace vornlink {
namespace {

constexpr std::string_view kSuffix = ".tmp";

// The digits at the front of `*text`, taken off it; false when there are none.
bool TakeDigits(std::string_view* text, std::string_view* digits) {
  size_t count = 0;
  while (count < text->size() && (*text)[count] >= '0' && (*text)[count] <= '9') ++count;
  *digits = text->substr(0, count);
  text->remove_prefix(count);
  return count > 0;
}

bool TakeChar(std::string_view* text, char c) {
  if (text->empty() || text->front() != c) return false;
  text->remove_prefix(1);
  return true;
}

}  // namespace

std::string NewTemporaryName(const std::string& path, uint32_t pid) {
  // From a random start, so that leftovers of an earlier process with the
  // same id are not met name after name.
  static const uint64_t start = std::random_device()();
  static std::atomic<uint32_t> serial{0};
  return path + "." + std::to_string(pid) + "." + std::to_string(start + serial.fetch_add(1)) +
         std::string(kSuffix);
}

bool IsTemporaryOf(std::string_view name, std::string_view file_name, uint32_t* pid) {
  if (name.size() <= file_name.size() || name.substr(0, file_name.size()) != file_name) {
    return false;
  }
  std::string_view rest = name.substr(file_name.size());
  std::string_view pid_digits;
  std::string_view number;
  if (!TakeChar(&rest, '.') || !TakeDigits(&rest, &pid_digits) || !TakeChar(&rest, '.') ||
      !TakeDigits(&rest, &number) || rest != kSuffix || pid_digits.size() > 10) {
    return false;
  }
  uint64_t value = 0;
  for (char digit : pid_digits) value = value * 10 + static_cast<uint64_t>(digit - '0');
  if (value == 0 || value > 0xFFFFFFFFull) return false;
  *pid = static_cast<uint32_t>(value);
  return true;
}

}  // namespace vornlink
