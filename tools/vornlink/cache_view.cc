#include "vornlink/cache_view.h"

namespace vornlink {

const char* StateName(LineState state) {
  switch (state) {
    case LineState::kDueNew:
      return "due";
    case LineState::kDueRetry:
      return "retry later";
    case LineState::kParked:
      return "parked";
    case LineState::kStuck:
      break;
  }
  return "stuck";
}

std::string StateCounts::Summary() const {
  std::string text;
  for (LineState state :
       {LineState::kDueNew, LineState::kDueRetry, LineState::kParked, LineState::kStuck}) {
    if (!text.empty()) text += ", ";
    text += std::to_string((*this)[state]) + " " + StateName(state);
  }
  return text;
}

}  // namespace vornlink
