// The worker's log entry before each exchange of a cache line, and its
// reading back (cache_worker.h).
#include "delivery/cache_worker.h"
#include "log/log.h"

namespace vornlink {

std::string SendingLogEntry(const SendingEntry& entry) {
  return OneLine(std::string(kSendingEntryHead) + entry.trans_no + std::string(kSendingEntryJobNo) +
                 entry.job_no + std::string(kSendingEntryTrid) + entry.trid +
                 std::string(kSendingEntryKey) + entry.booking_key + std::string(kSendingEntryEnd));
}

bool SendingOfLogEntry(char flag, std::string_view message, SendingEntry* entry) {
  if (flag != '.' || message.substr(0, kSendingEntryHead.size()) != kSendingEntryHead ||
      message.size() < kSendingEntryHead.size() + kSendingEntryEnd.size() ||
      message.substr(message.size() - kSendingEntryEnd.size()) != kSendingEntryEnd) {
    return false;
  }
  std::string_view rest = message.substr(kSendingEntryHead.size());
  rest.remove_suffix(kSendingEntryEnd.size());
  const size_t key = rest.rfind(kSendingEntryKey);
  const size_t trid = key == std::string_view::npos ? key : rest.rfind(kSendingEntryTrid, key);
  const size_t job = trid == std::string_view::npos ? trid : rest.rfind(kSendingEntryJobNo, trid);
  if (job == std::string_view::npos) return false;
  entry->trans_no = std::string(rest.substr(0, job));
  const size_t job_at = job + kSendingEntryJobNo.size();
  entry->job_no = std::string(rest.substr(job_at, trid - job_at));
  const size_t trid_at = trid + kSendingEntryTrid.size();
  entry->trid = std::string(rest.substr(trid_at, key - trid_at));
  entry->booking_key = std::string(rest.substr(key + kSendingEntryKey.size()));
  return true;
}

}  // namespace vornlink
