// The one filter that every text of this program passes on its way out, to
// a terminal, a pipe or a file: much of what it prints comes from outside
// (DMS replies in the log, host fields in the cache, requests to the
// emulated DMS), and a control sequence in it would act on the operator's
// terminal.
//
// Kept as they are: printable ASCII, tab, line feed, a carriage return
// right before a line feed, and other bytes of 0x80 and above as below.
// Shown as "\xHH" (each byte): every other control byte (ESC, a lone
// carriage return, DEL) and the C1 controls U+0080 to U+009F written as
// UTF-8. On Linux also every byte that is not part of a well-formed UTF-8
// sequence: an 8-bit terminal takes 0x9B alone as a control sequence
// introducer. Windows consoles map every byte through their code page and
// take none of 0x80 and above as a control, so the hosts' code page texts
// pass there as they are.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_FILTERED_STREAM_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_FILTERED_STREAM_H_

#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace vornlink {

// Appends `text` filtered to `shown` and returns how many of its bytes were
// taken: unless `complete`, a carriage return or a UTF-8 sequence cut off
// at the end of `text` is left for the text that follows. Thread-safe;
// never fails.
size_t AppendFiltered(std::string_view text, bool complete, std::string* shown);

// The character that the well-formed UTF-8 sequence at the start of `text`
// (its first byte 0x80 or above) stands for, and the sequence's length;
// false when `text` begins with no such sequence (the byte stands alone).
bool DecodeUtf8(std::string_view text, char32_t* code_point, size_t* length);

// Calls `visit(code_point, bytes, well_formed)` for each character of
// `text` in turn: a well-formed UTF-8 sequence gives its code point; any
// other byte stands alone as the character of its own number, with
// `well_formed` false. Calls `visit` on the caller's thread, in order.
template <typename Visit>
void ForEachCharacter(std::string_view text, Visit visit) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t code = c;
    size_t length = 1;
    const bool well_formed = c < 0x80 || DecodeUtf8(text.substr(i), &code, &length);
    visit(code, text.substr(i, length), well_formed);
    i += length;
  }
}

// A stream buffer that filters what it is given and hands it on to
// `target` (not owned) at each line end, flush and at its end.
// Thread-safe: a stream's flush may come from another thread (std::cin
// flushes std::cout before each read) while a thread writes.
class FilteringBuffer : public std::streambuf {
 public:
  explicit FilteringBuffer(std::streambuf* target) : target_(target) {}
  ~FilteringBuffer() override;
  FilteringBuffer(const FilteringBuffer&) = delete;
  FilteringBuffer& operator=(const FilteringBuffer&) = delete;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  // Filters what is held and passes it on; with `complete` all of it.
  bool PassOn(bool complete);

  std::streambuf* const target_;
  std::mutex mutex_;
  std::string held_;  // guarded by mutex_
};

// While it lives, what is written to `stream` passes the filter. `stream`
// is not owned and must outlive it; its buffer is put back when it goes,
// so filters of one stream end in the reverse order of their start. What a
// write of the target buffer refuses shows as the stream's failure.
class FilteredStream {
 public:
  explicit FilteredStream(std::ostream& stream)
      : stream_(stream), buffer_(stream.rdbuf()), previous_(stream.rdbuf(&buffer_)) {}
  ~FilteredStream() {
    stream_.flush();
    stream_.rdbuf(previous_);
  }
  FilteredStream(const FilteredStream&) = delete;
  FilteredStream& operator=(const FilteredStream&) = delete;

 private:
  std::ostream& stream_;
  FilteringBuffer buffer_;
  std::streambuf* const previous_;
};

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_FILTERED_STREAM_H_
