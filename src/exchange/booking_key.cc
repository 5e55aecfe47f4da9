#include "exchange/booking_key.h"

#include "exchange/sha256.h"

namespace vornlink {

std::string BookingKey(const TransactionFields& fields) {
  std::string input;
  for (const std::string& field : fields) {
    input += std::to_string(field.size());
    input += ':';
    input += field;
  }
  return HexDigits(Sha256(input), kBookingKeyDigits / 2);
}

}  // namespace vornlink
