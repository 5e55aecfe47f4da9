// Which DMS exchange a shared step serves; it decides some log labels and
// flags.
#ifndef VORNLINK_EXCHANGE_EXCHANGE_KIND_H_
#define VORNLINK_EXCHANGE_EXCHANGE_KIND_H_

namespace vornlink {

enum class ExchangeKind {
  kForwardTransaction,  // log prefix "FWT"
  kJobValidation,       // log prefix "IJV"
};

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_EXCHANGE_KIND_H_
