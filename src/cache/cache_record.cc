#include "cache/cache_record.h"

namespace vornlink {
namespace {

// Takes the text up to the first comma off the front of `rest`.
std::string_view TakeField(std::string_view* rest) {
  size_t comma = rest->find(',');
  std::string_view field = rest->substr(0, comma);
  rest->remove_prefix(comma == std::string_view::npos ? rest->size() : comma + 1);
  return field;
}

}  // namespace

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

std::string FormatCacheLine(const TransactionFields& transaction, std::string_view status,
                            std::string_view trid, std::string_view reserved,
                            std::string_view message) {
  std::string line;
  for (const std::string& field : transaction) {
    line.append(field);
    line.push_back(',');
  }
  line.append(status);
  line.push_back(',');
  line.append(trid);
  line.push_back(',');
  line.append(reserved);
  line.push_back(',');
  line.append(message);
  return line;
}

}  // namespace vornlink
