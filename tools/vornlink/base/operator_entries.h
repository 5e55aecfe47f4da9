// The driver's log entries that `vornlink cache` writes about what an
// operator changed, and that `vornlink trace` reads back.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_OPERATOR_ENTRIES_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_OPERATOR_ENTRIES_H_

#include <string_view>

namespace vornlink {

// Every such entry begins so.
inline constexpr std::string_view kOperatorEntryHead = "vornlink cache: ";
// "... TransNo[T] released by an operator -> due again as Trid[R]"
inline constexpr std::string_view kReleasedWords =
    "] released by an operator -> due again as Trid[";
// "... dropped by an operator: LINE"
inline constexpr std::string_view kDroppedWords = " dropped by an operator: ";
// The end of the entry of a transaction entered again with `cache add`.
inline constexpr std::string_view kEnteredWords = ", entered by an operator";

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_OPERATOR_ENTRIES_H_
