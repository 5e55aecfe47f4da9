// What became of the transactions this program hands to the driver. One
// the cache cannot take (a full disk) waits in the driver's memory, in this
// process, and the driver writes it as soon as the cache takes it again, but
// says so in the log only while the service runs, and this process may end
// first. So every call is checked against the cache file: a transaction
// whose line the cache does not show right after its call is followed
// (a later line of it, the log's entry that it was written after all) until
// the module is unloaded, when each still unaccounted for is named whole.
// For one thread, the one that calls the module, and outside any SiteEnv:
// each call points the driver's code at `module_path` with one of its own.
// A cache that cannot be read leaves the call unaccounted for, so that its
// transaction is named rather than lost.
#ifndef VORNLINK_TOOLS_VORNLINK_BASE_HANDED_OVER_H_
#define VORNLINK_TOOLS_VORNLINK_BASE_HANDED_OVER_H_

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "base/transaction_fields.h"
#include "platform/env.h"

namespace vornlink {

class LogFollower;

class HandedOver {
 public:
  HandedOver();
  ~HandedOver();

  // Around each call that hands `fields` over (the fluid not yet looked up)
  // to the module at `module_path`; `service_started`: this program started
  // the service, whose worker may deliver the line at once. A transaction
  // the gates drop on purpose (forwarding off, a zero quantity) is
  // accounted for.
  void BeforeCall(const std::string& module_path);
  void AfterCall(const std::string& module_path, TransactionFields fields, bool service_started);

  // After the module is unloaded (its last try to write them): names each
  // transaction still unaccounted for, whole, on `err`; how many.
  size_t ReportUnwritten(const std::string& module_path, std::ostream& err);

 private:
  struct Unaccounted {
    std::string text;               // TransactionText
    size_t lines_then = 0;          // lines of the cache that held it after the call
    bool validation = false;        // the Validation gate could have refused it
    bool may_be_delivered = false;  // a worker could have delivered its line at once
  };

  FileStamp before_;  // of the cache file before the call
  std::vector<Unaccounted> unaccounted_;
  std::unique_ptr<LogFollower> log_;  // from the first unaccounted one on
};

}  // namespace vornlink

#endif  // VORNLINK_TOOLS_VORNLINK_BASE_HANDED_OVER_H_
