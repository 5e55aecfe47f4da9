#include "exchange/transaction_ordinals.h"

#include <algorithm>
#include <cstdio>

#include "base/numbers.h"
#include "exchange/booking_key.h"
#include "settings/read_setting.h"

namespace vornlink {
namespace {

std::string MappedUser(const std::string& user_id) {
  if (user_id.find('/') != std::string::npos) return user_id;
  std::string mapped = ReadDriverSetting("KMR/UserID/E" + user_id);
  return mapped.empty() ? user_id : mapped;
}

// The five ordinals of one quantity: "0x", "Dx", "Cx", "Kx" and "kx".
void AddQuantityForms(char digit, const std::string& field, ExtFormat* format) {
  const double value = LeadingDouble(field);
  format->AddDouble(std::string{'0', digit}, value);
  format->AddDouble(std::string{'D', digit}, value * 10);
  format->AddDouble(std::string{'C', digit}, value * 100);
  format->AddDouble(std::string{'K', digit}, value * 1000);
  format->AddString(std::string{'k', digit}, DecimalComma(value));
}

}  // namespace

std::string DecimalComma(double value) {
  char small[64];
  std::string text;
  int size = std::snprintf(small, sizeof small, "%.2f", value);
  if (size < 0) return text;
  if (static_cast<size_t>(size) < sizeof small) {
    text.assign(small, static_cast<size_t>(size));
  } else {
    text.assign(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(&text[0], text.size(), "%.2f", value);
    text.resize(static_cast<size_t>(size));
  }
  std::replace(text.begin(), text.end(), '.', ',');
  return text;
}

void RegisterTransactionOrdinals(const TransactionFields& fields, const std::string& work_order,
                                 const std::string& line_code, ExtFormat* format) {
  format->AddInt("01", LeadingInt(fields[kTransNo]));
  format->AddString("03", MappedUser(fields[kUserId]));
  format->AddString("04", fields[kField04]);
  format->AddInt("05", LeadingInt(fields[kField05]));
  format->AddInt("06", LeadingInt(fields[kFluidKey]));
  format->AddString("07", work_order);
  format->AddString("17", line_code);
  format->AddString("21", fields[kFluidName]);
  format->AddString("23", fields[kFluidPartNo]);
  AddQuantityForms('8', fields[kField08], format);
  AddQuantityForms('9', fields[kQuantity], format);
  format->AddString(kBookingKeyOrdinal, BookingKey(fields));
  format->AddDateTime(fields[kDate], fields[kTime], 0);
}

}  // namespace vornlink
