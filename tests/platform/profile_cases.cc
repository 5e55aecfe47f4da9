#include "platform/profile_cases.h"

#include <cctype>
#include <cstdio>

namespace vornlink {
namespace testing {
namespace {

// The letters of the one-character escapes and the bytes they stand for.
const std::string kLetters = "\\trn";
const std::string kBytes = "\\\t\r\n";

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool Unescape(const std::string& field, std::string* raw) {
  raw->clear();
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      raw->push_back(field[i]);
    } else if (i + 1 < field.size() && kLetters.find(field[i + 1]) != std::string::npos) {
      raw->push_back(kBytes[kLetters.find(field[++i])]);
    } else if (i + 3 < field.size() && field[i + 1] == 'x' && IsHex(field[i + 2]) &&
               IsHex(field[i + 3])) {
      raw->push_back(static_cast<char>(std::stoi(field.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseCaseList(const std::string& text, std::vector<CaseLine>* lines, std::string* error) {
  lines->clear();
  int number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    CaseLine& parsed = lines->emplace_back();
    if (line.empty() || line[0] == '#') {
      parsed.comment = line;
      continue;
    }
    ProfileQuery& query = parsed.query;
    std::string* fields[] = {&query.file, &query.section, &query.key, &query.default_value,
                             &query.expected};
    size_t count = 0;
    for (size_t from = 0; from != std::string::npos; ++count) {
      const size_t tab = line.find('\t', from);
      const std::string field = line.substr(from, tab == std::string::npos ? tab : tab - from);
      from = tab == std::string::npos ? tab : tab + 1;
      if (count < 5 && !Unescape(field, fields[count])) {
        *error =
            "line " + std::to_string(number) + ": bad escape in field " + std::to_string(count + 1);
        return false;
      }
    }
    if (count != 4 && count != 5) {
      *error =
          "line " + std::to_string(number) + ": " + std::to_string(count) + " fields, not 4 or 5";
      return false;
    }
    parsed.is_query = true;
  }
  return true;
}

std::string EscapeField(const std::string& raw) {
  std::string field;
  for (size_t i = 0; i < raw.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(raw[i]);
    const size_t letter = kBytes.find(raw[i]);
    if (letter != std::string::npos) {
      field += {'\\', kLetters[letter]};
    } else if (c < 0x20 || c >= 0x7F || (c == ' ' && (i == 0 || i + 1 == raw.size()))) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      field += hex;
    } else {
      field.push_back(raw[i]);
    }
  }
  return field;
}

std::string FormatQueryLine(const ProfileQuery& query, const std::string& answer) {
  std::string line = EscapeField(query.file);
  for (const std::string* field : {&query.section, &query.key, &query.default_value, &answer}) {
    line += "\t" + EscapeField(*field);
  }
  return line;
}

}  // namespace testing
}  // namespace vornlink
