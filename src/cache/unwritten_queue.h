// The transactions that could not be written to the cache file (a full
// disk whose reserve is used up, cache_reserve.h; a read-only file,
// something else in its place), kept in memory in the order the host
// handed them over until the cache takes them.
//
// A transaction the host hands over goes behind those that wait, so none
// overtakes another into the cache; each gets its own fresh Trid when it
// finally goes in. Every entry about one of them names it whole
// (unwritten_entries.h): the line that it could not be written (after the
// cache's own FAILED line, and with the reason in the next line), the line
// that it was written after all, and at
// the stop and the unload the line that it still waits. Retries that fail
// again write nothing, so that a full disk does not fill the log.
//
// Process-wide, made on first use; all functions are thread-safe (one
// mutex, held while the cache is written, keeps the order; nobody holds it
// much longer than kHostWriteBudgetMs). A thread of the driver whose write
// gate has closed (write_gate.h) writes nothing and leaves every
// transaction waiting.
#ifndef VORNLINK_CACHE_UNWRITTEN_QUEUE_H_
#define VORNLINK_CACHE_UNWRITTEN_QUEUE_H_

#include <cstddef>
#include <cstdint>

#include "base/stop_signal.h"
#include "base/transaction_fields.h"

namespace vornlink {

// What memory keeps at most: weeks of a site's bookings. A transaction
// beyond it is logged whole as not kept, never dropped without a word.
inline constexpr size_t kMaxUnwrittenTransactions = 10000;
inline constexpr size_t kMaxUnwrittenBytes = size_t{16} << 20;

// How long a call of the host spends writing what waits (by the Env's tick
// count; the first write is always tried): once the disk has room again
// after a long outage, thousands may wait, and the host's thread must not
// sync them all. The worker writes the rest.
inline constexpr uint32_t kHostWriteBudgetMs = 200;

// Writes what waits (within kHostWriteBudgetMs), then `transaction` as a
// new line of the cache; keeps it in memory behind those still waiting (and
// says so) when it could not be written now.
void AddTransactionInOrder(const TransactionFields& transaction);

// Writes what waits, in order, until the cache refuses one or
// kHostWriteBudgetMs have passed; quiet when nothing waits or the cache
// still refuses.
void WriteUnwrittenTransactions();

// The same for the cache worker: until all are written, the cache refuses
// one or `stop` is set, letting the host's calls in between every
// kHostWriteBudgetMs.
void WriteAllUnwrittenTransactions(const StopSignal& stop);

// Writes what waits within `budget_ms` (also the longest wait, at most a
// second, for another thread that writes them: it logs so then), then logs
// every transaction still waiting, whole, as at `moment` ("the stop"), with
// what becomes of it. They keep waiting.
void RestateUnwrittenTransactions(const char* moment, uint32_t budget_ms);

// When the module is unloaded: tries once more, logs what is lost with the
// module, and frees the memory. Only when no thread of the driver runs and
// no call of the host is in flight.
void ReleaseUnwrittenTransactions();

// When the module is unloaded while a thread of the driver or a call of the
// host may still run (or a host's thread ended inside a call, holding what
// it held): logs what is lost with the module where neither the memory's
// mutex nor the log's is held, without waiting for either or trying the
// cache, and frees nothing.
void NameUnwrittenTransactionsAtUnload();

}  // namespace vornlink

#endif  // VORNLINK_CACHE_UNWRITTEN_QUEUE_H_
