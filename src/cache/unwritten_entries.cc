#include "cache/unwritten_entries.h"

#include <array>

namespace vornlink {
namespace {

struct Ending {
  UnwrittenEvent event;
  const char* lead;  // what follows the transaction in every such entry
};
constexpr std::array<Ending, 4> kEndings{{
    {UnwrittenEvent::kKept, "] could not be written to the cache -> FAILED -> kept in memory"},
    {UnwrittenEvent::kNotKept, "] could not be written to the cache -> FAILED -> not kept"},
    {UnwrittenEvent::kWritten, "] written to the cache after all"},
    {UnwrittenEvent::kRestated, "] still not written to the cache"},
}};

const char* LeadOf(UnwrittenEvent event) {
  for (const Ending& ending : kEndings) {
    if (ending.event == event) return ending.lead;
  }
  return "";
}

}  // namespace

std::string TransactionText(const TransactionFields& transaction) {
  std::string text;
  for (size_t i = 0; i < transaction.size(); ++i) {
    if (i > 0) text.push_back(',');
    for (char c : transaction[i]) text.push_back(c == ',' || c == '\r' || c == '\n' ? ' ' : c);
  }
  return text;
}

std::string NamedTransaction(const TransactionFields& transaction) {
  return "Transaction[" + TransactionText(transaction) + "]";
}

std::string UnwrittenEntry(UnwrittenEvent event, std::string_view transaction_text,
                           const std::string& detail) {
  std::string entry = kUnwrittenEntryLead;
  entry.append(transaction_text).append(LeadOf(event));
  switch (event) {
    case UnwrittenEvent::kKept:
      return entry + ", written as soon as the cache can be";
    case UnwrittenEvent::kNotKept:
      return entry + ": " + detail + " transactions wait in memory already; enter it again by hand";
    case UnwrittenEvent::kWritten:
      return entry + " with Trid[" + detail + "] -> SUCCESS";
    case UnwrittenEvent::kRestated:
      return entry + " at " + detail;
  }
  return entry;
}

bool ParseUnwrittenEntry(std::string_view message, UnwrittenEvent* event,
                         std::string* transaction_text) {
  const std::string_view lead = kUnwrittenEntryLead;
  if (message.substr(0, lead.size()) != lead) return false;
  // A field may hold any of the endings' texts, but the true ending follows
  // every field: it is the last one found.
  size_t end = std::string_view::npos;
  for (const Ending& ending : kEndings) {
    const size_t at = message.rfind(ending.lead);
    if (at == std::string_view::npos || at < lead.size()) continue;
    if (end == std::string_view::npos || at > end) {
      end = at;
      *event = ending.event;
    }
  }
  if (end == std::string_view::npos) return false;
  *transaction_text = std::string(message.substr(lead.size(), end - lead.size()));
  return true;
}

}  // namespace vornlink
