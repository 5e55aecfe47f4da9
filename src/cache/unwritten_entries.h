// The log entries about a transaction that could not be written to the
// cache file: each names the whole transaction, so that a person can enter
// it again, and `vornlink status` can tell which are still unwritten.
//
// The transaction appears as "Transaction[F1,...,F12]": its twelve fields as
// the cache line would hold them (a comma or line break inside a field is a
// blank). Every such entry begins with kUnwrittenEntryLead, and what follows
// the transaction's closing bracket says what became of it; since no field
// holds a comma, the text between the brackets reads back unchanged
// whatever else a field holds.
#ifndef VORNLINK_CACHE_UNWRITTEN_ENTRIES_H_
#define VORNLINK_CACHE_UNWRITTEN_ENTRIES_H_

#include <string>
#include <string_view>

#include "base/transaction_fields.h"

namespace vornlink {

inline constexpr char kUnwrittenEntryLead[] = "KMRCacheTransaction: Transaction[";

// The twelve fields joined by commas, as the cache line would hold them.
std::string TransactionText(const TransactionFields& transaction);

// "Transaction[" TransactionText "]", for any entry that must name the
// whole transaction (also a booking the gates refuse).
std::string NamedTransaction(const TransactionFields& transaction);

enum class UnwrittenEvent {
  kKept,      // could not be written: waits in memory
  kNotKept,   // could not be written, and memory holds enough already
  kWritten,   // written after all (Trid in the detail)
  kRestated,  // still waiting when the service stops or the module goes
};

// The message of one entry about `transaction_text` (TransactionText).
// `detail`: the Trid for kWritten, the count for kNotKept, the moment
// ("the stop", "the unload") and its consequence for kRestated.
std::string UnwrittenEntry(UnwrittenEvent event, std::string_view transaction_text,
                           const std::string& detail);

// Reads a message written by UnwrittenEntry back: false for any other.
bool ParseUnwrittenEntry(std::string_view message, UnwrittenEvent* event,
                         std::string* transaction_text);

}  // namespace vornlink

#endif  // VORNLINK_CACHE_UNWRITTEN_ENTRIES_H_
