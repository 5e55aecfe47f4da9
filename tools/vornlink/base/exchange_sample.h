// The sample transaction and job number that `vornlink check` renders and
// `vornlink try` sends: given on the command line, or built in.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_EXCHANGE_SAMPLE_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_EXCHANGE_SAMPLE_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "base/transaction_fields.h"

namespace vornlink {

struct ExchangeSample {
  // As the cache worker hands it to the exchange: the fluid name and part
  // number already resolved through the INI file, as the host's call does,
  // and the fields as the cache line holds them.
  TransactionFields transaction;
  std::string job_no;
  bool transaction_given = false;
  bool job_given = false;
};

// Reads "--transaction F1,...,F12" (the host's twelve fields, as a line of
// `vornlink forward-csv`) and "--job JOBNO" from `args`; other words are
// left in `rest`. False with a complaint in `err` for a usage error (a
// missing value, another number of fields); `sample` may then be filled in
// part. Thread-safe; reads nothing but its arguments.
bool ParseSampleOptions(const std::vector<std::string>& args, ExchangeSample* sample,
                        std::vector<std::string>* rest, std::ostream& err);

// Fills what was not given, for the module the driver's code is pointed at:
// the built-in transaction (TransNo 4711, the job number, now as date and
// time, user 7, fluid 1, quantity 4.5) and a job number whose work order is
// as wide as "KMR/System/WoSplit" asks (118739.A for 6); then resolves the
// fluid name and part number as ForwardTransaction2 does, and cleans the
// fields as the cache line holds them (a comma or line break a blank).
// Reads the settings through GetEnv(), so on the thread that runs the
// command while its SiteEnv is in place; a setting that cannot be read
// gives what the driver would take for it.
void CompleteSample(ExchangeSample* sample);

// The transaction as one CSV line. Thread-safe.
std::string TransactionCsv(const TransactionFields& transaction);

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_EXCHANGE_SAMPLE_H_
