// The ordinals a forward transaction offers its query template.
#ifndef VORNLINK_EXCHANGE_TRANSACTION_ORDINALS_H_
#define VORNLINK_EXCHANGE_TRANSACTION_ORDINALS_H_

#include <string>

#include "base/transaction_fields.h"
#include "exchange/ext_format.h"

namespace vornlink {

// Registers, in this order (fields counted from 1 in cache line order):
//   "01" d  TransNo (field 1) as a decimal integer
//   "03" s  the user: the setting "KMR/UserID/E<UserId>" when it is not
//           empty, else UserId (field 5) itself
//   "04" s  Field04 (field 6)
//   "05" d  Field05 (field 7) as a decimal integer
//   "06" d  FluidKey (field 8) as a decimal integer
//   "07" s  `work_order`
//   "17" s  `line_code`
//   "21" s  fluid name (field 9)
//   "23" s  fluid part number (field 10)
//   "08", "D8", "C8", "K8" f  Field08 (field 12) as a decimal number, and
//           that times 10, 100 and 1000
//   "k8" s  the same number with two decimals and a decimal comma ("1,50")
//   "09", "D9", "C9", "K9", "k9"  the same five forms of Quantity (field 11)
//   "TK" s  the booking key of the twelve fields (booking_key.h)
// and then the date and time ordinals of Date (field 3) and Time (field 4)
// without rounding (ExtFormat::AddDateTime), whose failure it throws.
//
// A UserId holding "/" is taken as it is, without a lookup: it cannot name
// a mapping, and the settings reader would otherwise read the mapping of
// the user named by its part before the "/".
//
// Reads the settings document beside the module; may be called from any
// thread.
void RegisterTransactionOrdinals(const TransactionFields& fields, const std::string& work_order,
                                 const std::string& line_code, ExtFormat* format);

// `value` with two decimals and every '.' written as ','.
std::string DecimalComma(double value);

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_TRANSACTION_ORDINALS_H_
