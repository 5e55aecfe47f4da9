// The twelve texts of one dispense transaction, as the host hands them over
// and as they travel through the cache file to the DMS exchange.
#ifndef VORNLINK_BASE_TRANSACTION_FIELDS_H_
#define VORNLINK_BASE_TRANSACTION_FIELDS_H_

#include <array>
#include <cstddef>
#include <string>

namespace vornlink {

// TransNo, JobNo, Date (YYMMDD), Time (HHMMSS), UserId, Field04, Field05,
// FluidKey, fluid name, fluid part number, Quantity, Field08: the order of
// the host's arguments and of the fields of a cache line.
inline constexpr size_t kTransactionFieldCount = 12;
using TransactionFields = std::array<std::string, kTransactionFieldCount>;

// Positions in TransactionFields, counted from 0.
enum TransactionField : size_t {
  kTransNo = 0,
  kJobNo = 1,
  kDate = 2,
  kTime = 3,
  kUserId = 4,
  kField04 = 5,
  kField05 = 6,
  kFluidKey = 7,
  kFluidName = 8,
  kFluidPartNo = 9,
  kQuantity = 10,
  kField08 = 11,
};

}  // namespace vornlink

#endif  // VORNLINK_BASE_TRANSACTION_FIELDS_H_
