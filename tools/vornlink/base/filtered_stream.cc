#include "vornlink/base/filtered_stream.h"

#include <cstring>

#include "log/log.h"

namespace vornlink {
namespace {

#if defined(_WIN32)
constexpr bool kHighBytesChecked = false;
#else
constexpr bool kHighBytesChecked = true;
#endif

// Held back until the next write: what is written at once passes at once.
constexpr size_t kHeldBytes = 4096;
// Utf8Length of a sequence that `text` ends inside of.
constexpr size_t kCutOff = static_cast<size_t>(-1);

// The length of the well-formed UTF-8 sequence that `text` (not empty,
// its first byte 0x80 or above) begins with; 0 when it begins with none.
size_t Utf8Length(std::string_view text) {
  const unsigned char lead = static_cast<unsigned char>(text[0]);
  size_t length = 0;
  unsigned char low = 0x80;  // the second byte's range, narrower after some leads
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    if (i >= text.size()) return kCutOff;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

}  // namespace

size_t AppendFiltered(std::string_view text, bool complete, std::string* shown) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      if (i + 1 == text.size() && !complete) break;
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        shown->push_back('\r');
      } else {
        AppendByteEscape(c, shown);
      }
      ++i;
    } else if (c < 0x80) {
      if ((c >= 0x20 && c != 0x7F) || c == '\t' || c == '\n') {
        shown->push_back(static_cast<char>(c));
      } else {
        AppendByteEscape(c, shown);
      }
      ++i;
    } else {
      const size_t length = Utf8Length(text.substr(i));
      if (length == kCutOff && !complete) break;
      if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
        AppendByteEscape(c, shown);  // a C1 control
        AppendByteEscape(static_cast<unsigned char>(text[i + 1]), shown);
        i += 2;
      } else if (length != 0 && length != kCutOff) {
        shown->append(text.substr(i, length));
        i += length;
      } else {
        if (kHighBytesChecked) {
          AppendByteEscape(c, shown);
        } else {
          shown->push_back(static_cast<char>(c));
        }
        ++i;
      }
    }
  }
  return i;
}

bool DecodeUtf8(std::string_view text, char32_t* code_point, size_t* length) {
  const size_t n = Utf8Length(text);
  if (n == 0 || n == kCutOff) return false;
  // The lead byte's payload: 5, 4 or 3 bits for sequences of 2, 3 or 4.
  char32_t code = static_cast<unsigned char>(text[0]) & (0x7Fu >> n);
  for (size_t i = 1; i < n; ++i) code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3Fu);
  *code_point = code;
  *length = n;
  return true;
}

FilteringBuffer::~FilteringBuffer() {
  std::lock_guard<std::mutex> lock(mutex_);
  PassOn(/*complete=*/true);
}

FilteringBuffer::int_type FilteringBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  std::lock_guard<std::mutex> lock(mutex_);
  held_.push_back(traits_type::to_char_type(c));
  if ((c == '\n' || held_.size() >= kHeldBytes) && !PassOn(false)) return traits_type::eof();
  return c;
}

std::streamsize FilteringBuffer::xsputn(const char* text, std::streamsize count) {
  std::lock_guard<std::mutex> lock(mutex_);
  held_.append(text, static_cast<size_t>(count));
  const bool line_end = std::memchr(text, '\n', static_cast<size_t>(count)) != nullptr;
  if ((line_end || held_.size() >= kHeldBytes) && !PassOn(false)) return 0;
  return count;
}

int FilteringBuffer::sync() {
  std::lock_guard<std::mutex> lock(mutex_);
  return PassOn(false) && target_->pubsync() == 0 ? 0 : -1;
}

// Called with mutex_ held.
bool FilteringBuffer::PassOn(bool complete) {
  std::string shown;
  held_.erase(0, AppendFiltered(held_, complete, &shown));
  return target_->sputn(shown.data(), static_cast<std::streamsize>(shown.size())) ==
         static_cast<std::streamsize>(shown.size());
}

}  // namespace vornlink
