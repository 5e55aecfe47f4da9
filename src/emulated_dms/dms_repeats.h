// What an emulated DMS needs to drop repeats of one booking. The driver's
// forward query may carry a booking key (the ordinal %@TK: the same for one
// transaction however often and from wherever it is sent); a DMS that
// remembers the keys it has answered books a repeat no second time and
// answers it as it answered the first.
//
// The key is found in a request by its marker, the text that stands before
// it: it is what follows the marker, after blanks and tabs, up to the first
// character that is not an ASCII letter or digit, '-', '_' or '.'.
// "Idempotency-Key:" finds a header, "<MessageID>" an element. The marker is
// matched exactly, case-sensitive, and the key is taken whole, never cut:
// a request whose marker is followed by a longer run than kMaxDmsKeySize,
// or that holds the marker more than once with different keys after it (a
// host text may carry the marker ahead of the key the template put there),
// has no key that can be told, and is booked as new, never dropped as the
// repeat of another booking.
//
// Threading: a DmsRepeatMemory is used by one thread at a time.
#ifndef VORNLINK_EMULATED_DMS_DMS_REPEATS_H_
#define VORNLINK_EMULATED_DMS_DMS_REPEATS_H_

#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vornlink {

inline constexpr size_t kMaxDmsKeySize = 128;
// Keys remembered at most; the oldest is forgotten first.
inline constexpr size_t kDmsRepeatMemorySize = 100000;

// The key that follows `marker` in `request`; empty when there is none to
// be told, with the reason in `no_key` (may be null).
std::string DmsRequestKey(std::string_view request, std::string_view marker,
                          std::string* no_key = nullptr);

class DmsRepeatMemory {
 public:
  // How the first request with a key was answered.
  struct FirstAnswer {
    int request = 0;  // its number, as the server counts them
    std::string reply_name;
    const std::string* reply = nullptr;  // as given to Remember
  };

  explicit DmsRepeatMemory(size_t capacity = kDmsRepeatMemorySize) : capacity_(capacity) {}
  DmsRepeatMemory(const DmsRepeatMemory&) = delete;
  DmsRepeatMemory& operator=(const DmsRepeatMemory&) = delete;

  // The first answer to `key` when a request with it was answered before:
  // the request is then a repeat and is counted as dropped. Null for a new
  // key, and for an empty one (no key: nothing can be told).
  const FirstAnswer* DropRepeat(const std::string& key);

  // Remembers the answer to the first request with `key` (not for an empty
  // key). Call it when the answer is chosen, before it is sent: a DMS books
  // before it answers, whether or not the answer arrives. `reply` is not
  // copied (a DMS has a few replies and many keys): the caller keeps it
  // for as long as the memory lives.
  void Remember(const std::string& key, int request, std::string reply_name,
                const std::string* reply);

  int dropped() const { return dropped_; }

 private:
  size_t capacity_;
  std::unordered_map<std::string, FirstAnswer> answers_;
  std::deque<std::string> order_;  // the keys of `answers_`, oldest first
  int dropped_ = 0;
};

}  // namespace vornlink

#endif  // VORNLINK_EMULATED_DMS_DMS_REPEATS_H_
