// The booking key: one text that names one dispense transaction wherever
// and however often it is sent, so that a DMS that remembers the keys it
// has booked can drop a repeat. The driver promises delivery at least once
// (a host stopped between the DMS's answer and the removal of the line sends
// that line again at its next start); with the key, a DMS can make that
// exactly once.
//
// The key depends on the twelve transaction fields alone, as a cache line
// holds them: not on the line's Trid (renewed by every move to the end),
// its Status, the time of sending, the process or the machine. So a retry,
// a move to the end, a restart of the host and a cache file carried to
// another machine keep it; two transactions that differ in any field get
// different keys. Two dispenses that agree in all twelve fields (the same
// TransNo, job, moment to the second, user, fluid and quantity) are taken
// for one booking.
#ifndef VORNLINK_EXCHANGE_BOOKING_KEY_H_
#define VORNLINK_EXCHANGE_BOOKING_KEY_H_

#include <string>

#include "base/transaction_fields.h"

namespace vornlink {

// The forward exchange's ordinal of the key, registered before the `Setup`
// items (an item of the same name replaces it).
inline constexpr char kBookingKeyOrdinal[] = "TK";

// The key has this many lower-case hex digits.
inline constexpr size_t kBookingKeyDigits = 32;

// The key of `fields`: the first 128 bits of the SHA-256 digest of the
// fields, each written as its length in decimal, ':' and its bytes, so that
// no text moved from one field to the next gives the same input. Pure;
// thread-safe.
std::string BookingKey(const TransactionFields& fields);

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_BOOKING_KEY_H_
