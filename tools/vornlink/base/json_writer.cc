#include "vornlink/base/json_writer.h"

#include <ostream>

#include "vornlink/base/filtered_stream.h"

namespace vornlink {
namespace {

void AppendEscape(char32_t unit, std::string* json) {
  static const char kHex[] = "0123456789abcdef";
  json->append("\\u");
  for (int shift = 12; shift >= 0; shift -= 4) json->push_back(kHex[(unit >> shift) & 15]);
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  ForEachCharacter(text, [&json](char32_t code, std::string_view, bool) {
    if (code == '"' || code == '\\') {
      json.push_back('\\');
      json.push_back(static_cast<char>(code));
    } else if (code >= 0x20 && code < 0x7F) {
      json.push_back(static_cast<char>(code));
    } else if (code == '\n') {
      json.append("\\n");
    } else if (code > 0xFFFF) {  // a surrogate pair
      AppendEscape(0xD800 + ((code - 0x10000) >> 10), &json);
      AppendEscape(0xDC00 + ((code - 0x10000) & 0x3FF), &json);
    } else {
      AppendEscape(code, &json);
    }
  });
  json.push_back('"');
  return json;
}

void JsonWriter::Separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (empty_.empty()) return;
  if (!empty_.back()) out_ << ',';
  empty_.back() = false;
  out_ << '\n' << std::string(2 * empty_.size(), ' ');
}

void JsonWriter::Open(char bracket) {
  Separate();
  out_ << bracket;
  empty_.push_back(true);
}

void JsonWriter::Close(char bracket) {
  const bool was_empty = empty_.back();
  empty_.pop_back();
  if (!was_empty) out_ << '\n' << std::string(2 * empty_.size(), ' ');
  out_ << bracket;
  if (empty_.empty()) out_ << '\n';
}

JsonWriter& JsonWriter::BeginObject() {
  Open('{');
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  Close('}');
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  Open('[');
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  Close(']');
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  Separate();
  out_ << JsonString(key) << ": ";
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
  Separate();
  out_ << JsonString(text);
  return *this;
}

JsonWriter& JsonWriter::Number(int64_t value) {
  Separate();
  out_ << value;
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  Separate();
  out_ << (value ? "true" : "false");
  return *this;
}

JsonWriter& JsonWriter::Null() {
  Separate();
  out_ << "null";
  return *this;
}

}  // namespace vornlink
