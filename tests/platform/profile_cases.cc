#include "platform/profile_cases.h"

#include <cstdio>

namespace vornlink {
namespace testing {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(const std::string& field, std::string* raw) {
  raw->clear();
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      raw->push_back(field[i]);
      continue;
    }
    if (++i == field.size()) return false;
    switch (field[i]) {
      case '\\':
        raw->push_back('\\');
        break;
      case 't':
        raw->push_back('\t');
        break;
      case 'r':
        raw->push_back('\r');
        break;
      case 'n':
        raw->push_back('\n');
        break;
      case 'x': {
        int high = i + 1 < field.size() ? HexValue(field[i + 1]) : -1;
        int low = i + 2 < field.size() ? HexValue(field[i + 2]) : -1;
        if (high < 0 || low < 0) return false;
        raw->push_back(static_cast<char>(high * 16 + low));
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(
        line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace

bool ParseCaseList(const std::string& text, std::vector<CaseLine>* lines, std::string* error) {
  lines->clear();
  size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();

    CaseLine parsed;
    parsed.number = number;
    if (line.empty() || line[0] == '#') {
      parsed.comment = line;
      lines->push_back(parsed);
      continue;
    }
    std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() != 4 && fields.size() != 5) {
      *error = "line " + std::to_string(number) + ": " + std::to_string(fields.size()) +
               " fields, not 4 or 5";
      return false;
    }
    ProfileQuery& query = parsed.query;
    std::string* targets[] = {&query.file, &query.section, &query.key, &query.default_value,
                              &query.expected};
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!Unescape(fields[i], targets[i])) {
        *error =
            "line " + std::to_string(number) + ": bad escape in field " + std::to_string(i + 1);
        return false;
      }
    }
    parsed.is_query = true;
    lines->push_back(parsed);
  }
  return true;
}

std::string EscapeField(const std::string& raw) {
  std::string field;
  for (size_t i = 0; i < raw.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(raw[i]);
    bool edge_blank = c == ' ' && (i == 0 || i + 1 == raw.size());
    if (c == '\\') {
      field += "\\\\";
    } else if (c == '\t') {
      field += "\\t";
    } else if (c == '\r') {
      field += "\\r";
    } else if (c == '\n') {
      field += "\\n";
    } else if (c < 0x20 || c >= 0x7F || edge_blank) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      field += hex;
    } else {
      field.push_back(static_cast<char>(c));
    }
  }
  return field;
}

std::string FormatQueryLine(const ProfileQuery& query, const std::string& answer) {
  return EscapeField(query.file) + "\t" + EscapeField(query.section) + "\t" +
         EscapeField(query.key) + "\t" + EscapeField(query.default_value) + "\t" +
         EscapeField(answer);
}

}  // namespace testing
}  // namespace vornlink
