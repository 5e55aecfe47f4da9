#include "exchange/ext_format.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "base/failure_text.h"
#include "base/numbers.h"
#include "exchange/format_conversion.h"
#include "platform/env.h"

namespace vornlink {
namespace {

constexpr char kIllegalFormat[] = "f[ExtFormat] t[Illegal Format String]";
constexpr char kBadOrdinal[] =
    "f[ExtFormat] t[At least one %@ expresion does not follow by two correct alfanumeric "
    "ordinals]";
constexpr char kMissingOrdinal[] = "f[ExtFormat] t[Ordinal does not exist in this context] @[";
constexpr char kBadDateTime[] = "f[ExtFormat] t[DateAndTime has wrong format]";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ASCII only: the C library's isalnum would follow the host's locale and is
// undefined for bytes above 127.
bool IsAlphanumeric(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// One piece of a walked template: literal text, or a conversion of an entry.
struct Piece {
  std::string_view literal;
  std::string_view spec;  // between '%' and '@'
  const ExtFormat::Entry* entry = nullptr;
};

int32_t Pair(std::string_view text, size_t at) { return LeadingInt(text.substr(at, 2)); }

std::string TwoDigits(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

}  // namespace

namespace {

// Every ordinal of the table is two characters. An exchange registers
// some fifty, each looked for in the table first.
bool HasOrdinal(const ExtFormat::Entry& entry, std::string_view ordinal) {
  return ordinal.size() == 2 && entry.ordinal.size() == 2 && entry.ordinal[0] == ordinal[0] &&
         entry.ordinal[1] == ordinal[1];
}

}  // namespace

const ExtFormat::Entry* ExtFormat::Find(std::string_view ordinal) const {
  for (const Entry& entry : entries_) {
    if (HasOrdinal(entry, ordinal)) return &entry;
  }
  return nullptr;
}

ExtFormat::Entry* ExtFormat::Replace(std::string_view ordinal, char type) {
  if (ordinal.size() != 2) return nullptr;
  // The table holds each ordinal once.
  const auto old = std::find_if(entries_.begin(), entries_.end(),
                                [&](const Entry& entry) { return HasOrdinal(entry, ordinal); });
  if (old != entries_.end()) entries_.erase(old);
  if (entries_.empty()) entries_.reserve(kUsualEntries);
  Entry& entry = entries_.emplace_back();
  entry.ordinal = std::string(ordinal);
  entry.type = type;
  return &entry;
}

void ExtFormat::AddInt(std::string_view ordinal, int32_t value) {
  if (Entry* entry = Replace(ordinal, 'd')) entry->int_value = value;
}

void ExtFormat::AddString(std::string_view ordinal, std::string_view value) {
  if (Entry* entry = Replace(ordinal, 's')) entry->text = std::string(value);
}

void ExtFormat::AddDouble(std::string_view ordinal, double value) {
  if (Entry* entry = Replace(ordinal, 'f')) entry->double_value = value;
}

void ExtFormat::AddDateTime(std::string_view date, std::string_view time, int32_t rounding_step) {
  if (date.size() != 6 || time.size() != 6) throw FailureText(kBadDateTime);
  std::tm moment{};
  moment.tm_year = 2000 + Pair(date, 0) - 1900;
  moment.tm_mon = Pair(date, 2) - 1;
  moment.tm_mday = Pair(date, 4);
  moment.tm_hour = Pair(time, 0);
  moment.tm_min = Pair(time, 2);
  moment.tm_sec = Pair(time, 4);
  moment.tm_isdst = -1;
  // The system rolls fields over and hands back the normalised local time.
  int64_t seconds = 0;
  if (!FromLocalTime(&moment, &seconds)) throw FailureText(kBadDateTime);
  if (rounding_step != 0) {
    const int64_t step = rounding_step < 0 ? -int64_t{rounding_step} : int64_t{rounding_step};
    int64_t rounded = seconds;
    int64_t remainder = rounded % step;
    if (remainder < 0) remainder += step;
    rounded -= remainder;
    if (!ToLocalTime(rounded, &moment)) throw FailureText(kBadDateTime);
  }
  const int year = moment.tm_year + 1900;
  char year_text[16];
  std::snprintf(year_text, sizeof year_text, "%04d", year);
  AddString("10", year_text);
  AddString("11", TwoDigits(year % 100));
  AddString("12", TwoDigits(moment.tm_mon + 1));
  AddString("13", TwoDigits(moment.tm_mday));
  AddString("14", TwoDigits(moment.tm_hour));
  AddString("15", TwoDigits(moment.tm_min));
  AddString("16", TwoDigits(moment.tm_sec));
  // The day of the year of the local date itself. Counting seconds since
  // 1 January would be an hour off on days whose daylight saving differs
  // from January's, and put the first or last hour of such a day into its
  // neighbour.
  AddInt("td", moment.tm_yday + 1);
}

std::string ExtFormat::Format(std::string_view format) const {
  // Walk the whole template first, so that its first fault is the one
  // reported, and nothing is formatted from a template that has one.
  std::vector<Piece> pieces;
  size_t literal_start = 0;
  size_t at = 0;
  auto flush_literal = [&](size_t end) {
    if (end <= literal_start) return;
    Piece piece;
    piece.literal = format.substr(literal_start, end - literal_start);
    pieces.push_back(piece);
  };
  while (at < format.size()) {
    if (format[at] != '%') {
      ++at;
      continue;
    }
    if (at + 1 < format.size() && format[at + 1] == '%') {
      // "%%" is one '%' in the result.
      flush_literal(at + 1);
      at += 2;
      literal_start = at;
      continue;
    }
    flush_literal(at);
    size_t spec_start = at + 1;
    size_t spec_end = spec_start;
    while (spec_end < format.size() &&
           (IsDigit(format[spec_end]) || format[spec_end] == '.' || format[spec_end] == '-')) {
      ++spec_end;
    }
    if (spec_end >= format.size() || format[spec_end] != '@') throw FailureText(kIllegalFormat);
    size_t ordinal_at = spec_end + 1;
    if (ordinal_at + 2 > format.size() || !IsAlphanumeric(format[ordinal_at]) ||
        !IsAlphanumeric(format[ordinal_at + 1])) {
      throw FailureText(kBadOrdinal);
    }
    std::string_view ordinal = format.substr(ordinal_at, 2);
    const Entry* entry = Find(ordinal);
    if (entry == nullptr) throw FailureText(kMissingOrdinal + std::string(ordinal) + "]");
    Piece piece;
    piece.spec = format.substr(spec_start, spec_end - spec_start);
    piece.entry = entry;
    pieces.push_back(piece);
    at = ordinal_at + 2;
    literal_start = at;
  }
  flush_literal(format.size());

  std::string result;
  for (const Piece& piece : pieces) {
    if (piece.entry == nullptr) {
      result.append(piece.literal);
      continue;
    }
    Conversion conversion;
    if (!ParseConversion(piece.spec, kMaxFieldWidth, &conversion)) {
      throw FailureText(kIllegalFormat);
    }
    switch (piece.entry->type) {
      case 'd':
        AppendInt(conversion, piece.entry->int_value, &result);
        break;
      case 'f':
        AppendDouble(conversion, piece.entry->double_value, &result);
        break;
      default:
        AppendText(conversion, piece.entry->text, &result);
        break;
    }
  }
  return result;
}

std::string ExtFormat::MissingOrdinalOf(std::string_view failure_text) {
  const std::string_view head = kMissingOrdinal;
  if (failure_text.size() != head.size() + 3 || failure_text.substr(0, head.size()) != head ||
      failure_text.back() != ']') {
    return std::string();
  }
  return std::string(failure_text.substr(head.size(), 2));
}

}  // namespace vornlink
