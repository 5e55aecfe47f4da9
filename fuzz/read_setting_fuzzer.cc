// The settings reader; the input is a path, a line feed, then the document.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "settings/read_setting.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\n');
  std::string_view path = input.substr(0, split);
  std::string_view document =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
  vornlink::ReadSettingFromText(path, document);
  return 0;
}
