// How the operator commands name and count the states of cache lines. The
// states are the worker's own (LineState, cache/cache_record.h).
#ifndef VORNLINK_TOOLS_VORNLINK_CACHE_VIEW_H_
#define VORNLINK_TOOLS_VORNLINK_CACHE_VIEW_H_

#include <array>
#include <string>

#include "cache/cache_record.h"

namespace vornlink {

inline LineState StateOf(const CacheRecord& record) {
  return StateOfLine(record.status(), record.trid());
}

// "due", "retry later", "parked", "stuck".
const char* StateName(LineState state);

// How many lines are in each state.
class StateCounts {
 public:
  void Add(LineState state) { ++counts_[static_cast<size_t>(state)]; }
  int operator[](LineState state) const { return counts_[static_cast<size_t>(state)]; }
  // "2 due, 1 retry later, 1 parked, 2 stuck".
  std::string Summary() const;

 private:
  std::array<int, kLineStateCount> counts_{};
};

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_CACHE_VIEW_H_
