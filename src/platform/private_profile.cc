#include "platform/private_profile.h"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace vornlink {
namespace {

// The characters of Windows-1252 at 0x80 to 0x9F; from 0xA0 on it equals
// Unicode. 0x81, 0x8D, 0x8F, 0x90 and 0x9D map to themselves.
constexpr uint16_t kCp1252From0x80[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Appends the Windows-1252 form of one UTF-16 code unit: "?" when the code
// page lacks it (also for each half of a surrogate pair, as Windows does).
void AppendCp1252(uint32_t unit, std::string* out) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
    out->push_back(static_cast<char>(unit));
    return;
  }
  for (int i = 0; i < 32; ++i) {
    if (kCp1252From0x80[i] == unit) {
      out->push_back(static_cast<char>(0x80 + i));
      return;
    }
  }
  out->push_back('?');
}

void AppendCodePoint(uint32_t code_point, std::string* out) {
  if (code_point > 0xFFFF) {
    out->append("??");  // a surrogate pair in UTF-16
  } else {
    AppendCp1252(code_point, out);
  }
}

// UTF-8 to Windows-1252. An invalid or cut sequence (its longest valid
// start) becomes one "?".
std::string FromUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t lead = static_cast<uint8_t>(text[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    int follow;
    uint32_t code_point;
    uint8_t low = 0x80;  // the range of the first continuation byte
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      follow = 1;
      code_point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      follow = 2;
      code_point = lead & 0x0Fu;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      follow = 3;
      code_point = lead & 0x07u;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      out.push_back('?');
      ++i;
      continue;
    }
    size_t next = i + 1;
    int got = 0;
    while (got < follow && next < text.size()) {
      const uint8_t byte = static_cast<uint8_t>(text[next]);
      if (byte < (got == 0 ? low : 0x80) || byte > (got == 0 ? high : 0xBF)) break;
      code_point = (code_point << 6) | (byte & 0x3Fu);
      ++next;
      ++got;
    }
    if (got == follow) {
      AppendCodePoint(code_point, &out);
    } else {
      out.push_back('?');
    }
    i = next;
  }
  return out;
}

std::string FromUtf16(std::string_view text, bool big_endian) {
  std::string out;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    const uint32_t first = static_cast<uint8_t>(text[i]);
    const uint32_t second = static_cast<uint8_t>(text[i + 1]);
    AppendCp1252(big_endian ? (first << 8 | second) : (second << 8 | first), &out);
  }
  return out;
}

// The file as 8-bit text: as it stands unless it has a byte order mark.
std::string ProfileText(const std::string& contents) {
  std::string_view text(contents);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") return FromUtf8(text.substr(3));
  if (text.substr(0, 2) == "\xFF\xFE") return FromUtf16(text.substr(2), false);
  if (text.substr(0, 2) == "\xFE\xFF") return FromUtf16(text.substr(2), true);
  return contents;
}

bool IsProfileSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1a;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsProfileSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsProfileSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Names and values are C strings on Windows: they end at a NUL.
std::string_view UpToNul(std::string_view text) {
  size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

// A value or default as the read hands it out: a pair of matching quotes
// dropped, cut to the buffer. The read copies at most 255 characters after
// the opening quote and then drops the last one copied when the text after
// the quote fits its 256-character buffer -- which for exactly 256 is a
// character of the value, not the closing quote.
std::string HandOut(std::string_view value) {
  value = UpToNul(value);
  if (value.size() >= 2 && (value.front() == '\'' || value.front() == '"') &&
      value.back() == value.front()) {
    std::string_view rest = value.substr(1);
    std::string copied(rest.substr(0, kProfileValueMax));
    if (rest.size() <= kProfileValueMax + 1) copied.pop_back();
    return copied;
  }
  return std::string(value.substr(0, kProfileValueMax));
}

}  // namespace

std::string ProfileDefault(const std::string& default_value) {
  std::string_view value = UpToNul(default_value);
  // Trailing spaces go, but never the first character.
  while (value.size() > 1 && value.back() == ' ') value.remove_suffix(1);
  return HandOut(value);
}

std::string LookUpProfileString(const std::string& contents, const std::string& section,
                                const std::string& key, const std::string& default_value) {
  const std::string_view wanted_section = Trim(UpToNul(section));
  const std::string_view wanted_key = Trim(UpToNul(key));
  const std::string decoded = ProfileText(contents);
  const std::string_view text(decoded);

  // Lines before the first "[...]" form the section with the empty name,
  // which is then the first section of that name.
  bool in_first_match = wanted_section.empty();
  bool seen_match = in_first_match;
  size_t next = 0;
  while (next < text.size()) {
    size_t end = text.find_first_of("\r\n", next);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(next, end - next));
    next = end + 1;
    if (line.empty()) continue;

    if (line.front() == '[') {
      size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        // Only the first section of the name is searched.
        if (in_first_match) return ProfileDefault(default_value);
        std::string_view name = UpToNul(Trim(line.substr(1, close - 1)));
        in_first_match = !seen_match && EqualsIgnoringAsciiCase(name, wanted_section);
        seen_match = seen_match || in_first_match;
        continue;
      }
      // No "]": a key line.
    }
    if (!in_first_match) continue;

    size_t equals = line.find('=');
    std::string_view name = Trim(line.substr(0, equals));
    if (!EqualsIgnoringAsciiCase(UpToNul(name), wanted_key)) continue;
    // The first key of the name wins, with or without a value.
    if (equals == std::string_view::npos) return ProfileDefault(default_value);
    return HandOut(Trim(line.substr(equals + 1)));
  }
  return ProfileDefault(default_value);
}

}  // namespace vornlink
