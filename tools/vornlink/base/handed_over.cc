#include "vornlink/base/handed_over.h"

#include <map>
#include <ostream>

#include "base/text_lines.h"
#include "cache/cache_file.h"
#include "cache/cache_record.h"
#include "cache/unwritten_entries.h"
#include "driver/service.h"
#include "log/log.h"
#include "vornlink/base/line_states.h"
#include "vornlink/base/log_follower.h"
#include "vornlink/base/site_env.h"
#include "vornlink/base/unwritten_tally.h"

namespace vornlink {
namespace {

// The most read of what the call appended: far more than one line.
constexpr size_t kMaxAppendedBytes = size_t{16} << 20;

// Whether the cache's lines appended since `before` hold `text`; where the
// file was replaced meanwhile (a worker removed a line), whether any of its
// lines does. `lines`: how many of its lines hold it, counted where the
// appended ones do not.
bool CacheShows(const FileStamp& before, const std::string& text, size_t* lines) {
  std::string bytes, error;
  FileStamp now;
  const bool appended = GetEnv()->ReadFileBytes(CacheFilePath(), before.size, kMaxAppendedBytes,
                                                &bytes, &now, &error) == ReadResult::kOk &&
                        now.SameFile(before) && now.size >= before.size;
  if (appended) {
    // Complete lines only: another process may be appending.
    bytes.erase(bytes.rfind('\n') == std::string::npos ? 0 : bytes.rfind('\n') + 1);
    for (std::string_view line : SplitLines(bytes)) {
      CacheRecord record;
      ParseCacheLine(line, &record);
      if (TransactionText(record.transaction()) == text) return true;
    }
  }
  *lines = CachedTransactions().count(text);
  return !appended && *lines > 0;
}

}  // namespace

HandedOver::HandedOver() = default;
HandedOver::~HandedOver() = default;

void HandedOver::BeforeCall(const std::string& module_path) {
  SiteEnv site(module_path);
  std::string bytes, error;
  before_ = FileStamp();
  GetEnv()->ReadFileBytes(CacheFilePath(), 0, 0, &bytes, &before_, &error);
}

void HandedOver::AfterCall(const std::string& module_path, TransactionFields fields,
                           bool service_started) {
  SiteEnv site(module_path);
  const ForwardGateSettings gates = ReadForwardGateSettings();
  if (!gates.enable.on || DropsAsZero(gates, fields[kQuantity])) return;
  LookUpFluid(&fields);
  Unaccounted one;
  one.text = TransactionText(fields);
  if (CacheShows(before_, one.text, &one.lines_then)) return;
  one.validation = gates.validation.on;
  std::string reason;
  one.may_be_delivered =
      service_started || ProbeDeliveryLock(CacheFilePath(), &reason) == LockProbe::kHeld;
  // The driver logs only while its service runs: from now on its word that
  // a transaction was written after all is looked for.
  if (log_ == nullptr && service_started) {
    log_ = std::make_unique<LogFollower>(ReadLogSettings().file_name);
  }
  unaccounted_.push_back(one);
}

size_t HandedOver::ReportUnwritten(const std::string& module_path, std::ostream& err) {
  if (unaccounted_.empty()) return 0;
  SiteEnv site(module_path);
  std::multimap<std::string, std::string> written;  // by the log's word
  if (log_ != nullptr) {
    for (const CapturedEntry& entry : log_->TakeNew()) {
      UnwrittenEvent event;
      std::string text;
      if (ParseUnwrittenEntry(entry.message, &event, &text) && event == UnwrittenEvent::kWritten) {
        written.emplace(text, "");
      }
    }
  }
  const std::multimap<std::string, std::string> cached = CachedTransactions();
  std::map<std::string, size_t> newer;  // lines that appeared since, not yet matched
  size_t named = 0;
  for (const Unaccounted& one : unaccounted_) {
    const auto in_log = written.find(one.text);
    if (in_log != written.end()) {
      written.erase(in_log);
      continue;
    }
    if (!newer.count(one.text)) {
      const size_t now = cached.count(one.text);
      newer[one.text] = now > one.lines_then ? now - one.lines_then : 0;
    }
    if (newer[one.text] > 0) {
      --newer[one.text];
      continue;
    }
    ++named;
    err << "vornlink: Transaction[" << one.text
        << "] is not in the cache: the cache could not take it (a full disk, or a cache file "
           "that cannot be written: the log names which) and it is lost with this program"
        << (one.validation ? ", or the Validation gate refused its job number" : "")
        << (one.may_be_delivered ? ", unless a worker delivered it at once (look in the log and at "
                                   "the DMS)"
                                 : "")
        << "; enter it again once the cache can take it (vornlink cache add, its twelve fields, "
           "--yes)\n";
  }
  return named;
}

}  // namespace vornlink
