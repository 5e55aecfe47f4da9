// The settings that say how a DMS reply is read, and the lists of reply
// codes it is classified by.
//
// A list is codes separated by ',' (blanks are kept), of which the first
// five are used. All functions log what they read or compare and may be
// called from any thread; none fails.
#ifndef VORNLINK_EXCHANGE_RESULT_LIST_H_
#define VORNLINK_EXCHANGE_RESULT_LIST_H_

#include <array>
#include <string>
#include <string_view>

#include "exchange/exchange_kind.h"

namespace vornlink {

// Which list, for the log lines.
enum class CodeList {
  kSuccess,     // forward transaction, "SuccessResult"
  kRetryLater,  // forward transaction, "RetryResult"
  kValid,       // job validation, "ValidResult"
};

inline constexpr size_t kListItemCount = 5;
// Items 1 to 5 of a list; items not set are empty.
using ListItems = std::array<std::string, kListItemCount>;

// Splits `list`: as long as a ',' stands after at least one character, the
// text before it is the next item; otherwise the rest is the last item.
// "A,B,C" gives A, B, C; "A,,B" gives A and ",B"; text after a fifth comma
// is dropped; an empty list gives one empty item. Each item set is logged,
// flag 's'.
ListItems SplitList(std::string_view list, CodeList which);

// The number (1 to 5) of the first item equal to `code`, or 0. Empty items
// are skipped; every comparison made is logged, flag 'r'. An empty code
// matches nothing.
int MatchList(std::string_view code, const ListItems& items, CodeList which);

// The result settings of one exchange, read from the settings document
// beside the module and logged with flag 's' in this order.
struct ResultSettings {
  std::string code_spec;    // ".../Result"
  std::string text_spec;    // ".../Description"
  std::string first_list;   // "SuccessResult" or "ValidResult"
  std::string second_list;  // "RetryResult"; empty for the job validation
};
ResultSettings ReadResultSettings(ExchangeKind exchange);

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_RESULT_LIST_H_
