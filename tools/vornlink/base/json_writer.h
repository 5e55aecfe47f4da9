// The JSON that the operator commands print for scripts (--json). Whatever
// bytes a text holds (a cache line's control bytes, a host's code page
// text), the output is valid JSON in plain ASCII: every character outside
// printable ASCII is written as \uXXXX, and a byte that is no part of a
// well-formed UTF-8 sequence as the character of the same number (as
// Latin-1 reads it), so that nothing is lost.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_JSON_WRITER_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_JSON_WRITER_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vornlink {

// `text` as a JSON string, quotes included. Thread-safe; never fails.
std::string JsonString(std::string_view text);

// Writes one JSON document to a stream, indented by two blanks a level, and
// a line feed after it. The caller nests the calls as JSON does: Key only
// inside an object, before each of its values; an End without its Begin is
// a fault of the caller (not checked). Writes to `out`, which it does not
// own and which must outlive it; the stream's errors stay the caller's.
// Not thread-safe.
class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}

  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(std::string_view key);
  JsonWriter& String(std::string_view text);
  JsonWriter& Number(int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

 private:
  // The comma and line break before a value or a key, unless it follows
  // its key.
  void Separate();
  void Open(char bracket);
  void Close(char bracket);

  std::ostream& out_;
  std::vector<bool> empty_;  // for each open object or array: nothing in it yet
  bool after_key_ = false;
};

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_JSON_WRITER_H_
