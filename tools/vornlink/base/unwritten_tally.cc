#include "vornlink/base/unwritten_tally.h"

#include "cache/cache_file.h"
#include "cache/unwritten_entries.h"

namespace vornlink {

void UnwrittenTally::Note(const LogEntryView& entry) {
  UnwrittenEvent event;
  std::string text;
  if (!ParseUnwrittenEntry(entry.message, &event, &text)) return;
  std::vector<Failure>& failures = open_[text];
  const Failure failure{noted_++, std::string(entry.stamp)};
  switch (event) {
    case UnwrittenEvent::kKept:
    case UnwrittenEvent::kNotKept:
      failures.push_back(failure);
      break;
    case UnwrittenEvent::kWritten:
      if (!failures.empty()) failures.erase(failures.begin());
      break;
    case UnwrittenEvent::kRestated:
      // Names one that failed before; its first entry may have been cut
      // from the log since.
      if (failures.empty()) failures.push_back(failure);
      break;
  }
  if (failures.empty()) open_.erase(text);
}

std::vector<UnwrittenTally::Open> UnwrittenTally::Unresolved() const {
  std::multimap<std::string, std::string> cached =
      open_.empty() ? std::multimap<std::string, std::string>() : CachedTransactions();
  std::map<size_t, Open> in_order;
  for (const auto& [text, failures] : open_) {
    for (const Failure& failure : failures) {
      // Each line of the cache answers for one failure.
      const auto line = cached.find(text);
      if (line != cached.end()) {
        cached.erase(line);
        continue;
      }
      in_order[failure.order] = {failure.stamp, text};
    }
  }
  std::vector<Open> open;
  for (auto& [order, one] : in_order) open.push_back(std::move(one));
  return open;
}

std::multimap<std::string, std::string> CachedTransactions() {
  std::multimap<std::string, std::string> cached;
  std::vector<NumberedRecord> records;
  std::string error;
  if (!ReadCacheRecords(&records, &error)) return cached;
  for (const NumberedRecord& line : records) {
    cached.emplace(TransactionText(line.record.transaction()), line.record.trid());
  }
  return cached;
}

}  // namespace vornlink
