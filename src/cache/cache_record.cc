#include "cache/cache_record.h"

#include <algorithm>
#include <functional>

#include "base/numbers.h"
#include "base/text_lines.h"
#include "cache/trid.h"

namespace vornlink {
namespace {

// Takes the text up to the first comma off the front of `rest`.
std::string_view TakeField(std::string_view* rest) {
  size_t comma = rest->find(',');
  std::string_view field = rest->substr(0, comma);
  rest->remove_prefix(comma == std::string_view::npos ? rest->size() : comma + 1);
  return field;
}

LineState StateOfStatus(std::string_view status) {
  switch (LeadingInt(status)) {
    case 0:
      return LineState::kDueNew;
    case 2:
      return LineState::kDueRetry;
    case kParkedStatus - '0':
      return LineState::kParked;
    case kDeliveredStatus - '0':
      return LineState::kDelivered;
    case kOutcomeUnknownStatus - '0':
      return LineState::kOutcomeUnknown;
    default:
      return LineState::kStuck;
  }
}

}  // namespace

LineState StateOfLine(std::string_view status, std::string_view trid) {
  return IsWellFormedTrid(trid) ? StateOfStatus(status) : LineState::kStuck;
}

LineAge AgeOfLine(const CacheRecord& record, int64_t now) {
  int64_t dispensed = 0;
  int64_t made = 0;
  const bool have_dispense =
      DispenseUnixTime(record.fields[kDate], record.fields[kTime], &dispensed);
  const bool have_trid = TridUnixTime(record.trid(), &made);
  if (!have_dispense && !have_trid) return LineAge{};
  const int64_t start = have_dispense && have_trid ? std::min(dispensed, made)
                        : have_dispense            ? dispensed
                                                   : made;
  if (start > now) return LineAge{LineAge::Kind::kFuture, start - now};
  return LineAge{LineAge::Kind::kKnown, now - start};
}

bool IsDueStatus(std::string_view status) {
  const LineState state = StateOfStatus(status);
  return state == LineState::kDueNew || state == LineState::kDueRetry;
}

TransactionFields CacheRecord::transaction() const {
  TransactionFields transaction;
  for (size_t i = 0; i < kTransactionFieldCount; ++i) transaction[i] = fields[i];
  return transaction;
}

void ParseCacheLine(std::string_view line, CacheRecord* record) {
  std::string_view rest = line;
  for (size_t i = 0; i < CacheRecord::kMessage; ++i) record->fields[i] = TakeField(&rest);
  TakeField(&rest);  // reserved
  record->fields[CacheRecord::kMessage] = rest;
}

std::string_view TridOfLine(std::string_view line) {
  std::string_view rest = line;
  for (size_t i = 0; i < CacheRecord::kTrid; ++i) TakeField(&rest);
  return TakeField(&rest);
}

void StatusAndTridOfLine(std::string_view line, std::string_view* status, std::string_view* trid) {
  std::string_view rest = line;
  for (size_t i = 0; i < CacheRecord::kStatus; ++i) TakeField(&rest);
  *status = TakeField(&rest);
  *trid = TakeField(&rest);
}

std::vector<std::string_view> LinesContaining(std::string_view text, std::string_view needle) {
  if (needle.empty()) return SplitLines(text);
  std::vector<std::string_view> lines;
  // A cache is mostly digits: a search that tries every place where the
  // needle's first digit stands is many times slower than one that skips.
  const std::boyer_moore_horspool_searcher search(needle.begin(), needle.end());
  size_t from = 0;
  for (;;) {
    const auto found =
        std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), search);
    if (found == text.end()) break;
    const size_t at = static_cast<size_t>(found - text.begin());
    size_t before = text.rfind('\n', at);
    size_t start = before == std::string_view::npos ? 0 : before + 1;
    size_t end = text.find('\n', at);
    size_t line_end = end == std::string_view::npos ? text.size() : end;
    if (end != std::string_view::npos && line_end > start && text[line_end - 1] == '\r') {
      --line_end;
    }
    lines.push_back(text.substr(start, line_end - start));
    if (end == std::string_view::npos) break;
    from = end + 1;
  }
  return lines;
}

namespace {

// Appends FieldAsWritten(value, keep_commas) to `line`; true when that
// differs from `value`.
bool AppendFieldAsWritten(std::string_view value, bool keep_commas, std::string* line) {
  const size_t start = line->size();
  line->append(value);
  bool changed = false;
  for (size_t i = start; i < line->size(); ++i) {
    char& c = (*line)[i];
    if (c == '\r' || c == '\n' || (!keep_commas && c == ',')) {
      c = ' ';
      changed = true;
    }
  }
  return changed;
}

}  // namespace

std::string FieldAsWritten(std::string_view value, bool keep_commas) {
  std::string clean;
  AppendFieldAsWritten(value, keep_commas, &clean);
  return clean;
}

std::string FormatCacheLine(const TransactionFields& transaction, std::string_view status,
                            std::string_view trid, std::string_view reserved,
                            std::string_view message, WrittenChanges* written) {
  std::string line;
  line.reserve(256);
  // Adds one field; true when it was written changed.
  auto add = [&](std::string_view value, bool keep_commas) {
    if (written == nullptr) {
      line.append(value);
      return false;
    }
    return AppendFieldAsWritten(value, keep_commas, &line);
  };
  for (size_t i = 0; i < transaction.size(); ++i) {
    if (add(transaction[i], /*keep_commas=*/false)) {
      written->fields.push_back(static_cast<int>(i + 1));
    }
    line.push_back(',');
  }
  add(status, /*keep_commas=*/false);
  line.append(1, ',').append(trid).push_back(',');
  add(reserved, /*keep_commas=*/false);
  line.push_back(',');
  if (add(message, /*keep_commas=*/true)) written->message = true;
  return line;
}

}  // namespace vornlink
