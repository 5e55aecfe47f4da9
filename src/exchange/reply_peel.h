// Reducing a DMS reply to its code and its text.
//
// A reply is XML text (mostly a SOAP envelope whose namespace prefixes the
// DMS chooses), but it is not parsed as XML: text operations steered by a
// `ResultSpec` find the wanted element. A `ResultSpec` is "Level/Parameter":
// `Level` is the element that encloses the wanted one, `Parameter` the
// element whose text is wanted; either may begin with ':', meaning "with
// the namespace prefix the reply uses" (":insertResponse/code").
//
// Without peel the text is taken from the first line of the whole reply
// that holds "<Parameter>". With peel the reply is first cut to the `Level`
// element, which must be there.
//
// Every function logs its steps (flags 'n', 'p', 'r') and may be called from
// any thread; none keeps state. Failures are thrown as `FailureText`.
#ifndef VORNLINK_EXCHANGE_REPLY_PEEL_H_
#define VORNLINK_EXCHANGE_REPLY_PEEL_H_

#include <string>
#include <string_view>

#include "exchange/exchange_kind.h"

namespace vornlink {

struct PeelOptions {
  // Decides the labels and flags of some log lines.
  ExchangeKind exchange = ExchangeKind::kForwardTransaction;
  // The exchange's peel switch ("FS" or "JS") was "1"; see PeelSwitchOn.
  bool peel = false;
};

// `reply` with a carriage return and a line feed put into every "><", so
// that each tag that directly follows another starts a line. Logs it, 'r'.
std::string NormaliseReply(std::string_view reply);

// The namespace prefix in front of `name` (which begins with ':'): of the
// text before the first `name`, what follows its last '<' ("ns2" for
// ":insertResponse" in "<ns2:insertResponse"). Empty when `name` does not
// occur or no '<' stands before it. Logs it, 'n'.
std::string NamespacePrefix(std::string_view text, std::string_view name);

// `text` from the first "<label" to the end of the first "</label>" after
// it (from the start of `text` when there is no "<label"); empty when that
// closing tag does not occur. Logs the closing tag's length, 'p'.
std::string CutToElement(std::string_view text, std::string_view label);

// The text of the element named by the part of `spec` after its first '/'
// (up to a second '/', if any). `text` is read as lines ending at a line
// feed, blanks and tabs at their start skipped; the first line that holds
// "<P>" is taken: without as many leading characters as "<P>" has, and
// without "</P>" and the one character after it (the carriage return that
// NormaliseReply puts there). A line that ends right at "</P>" keeps its
// last character. A line too short for these cuts, or no such line, gives
// an empty text; text after the last line feed is never looked at.
std::string ElementText(std::string_view spec, std::string_view text);

// Whether a peel switch value means "peel": exactly "1".
bool PeelSwitchOn(std::string_view value);

// The peel switch line, once per exchange: "FWT enable peel" with flag 'r',
// "IJV enable peel" with flag 'p'.
void LogPeelSwitch(ExchangeKind exchange, std::string_view value);

// The reply code and the reply text by `spec`. Log their results with flag
// 'r' ("Result", "Description"), except that for the job validation
// PeelText leaves its line to the exchange (LogDescription), which first
// puts a fallback into an empty text. With peel, a reply without the
// `Level` element throws "Reply: c[ ] t[Response has zero length after code
// peel]" (PeelCode) or "... after description peel]" (PeelText).
std::string PeelCode(std::string_view reply, std::string_view spec, const PeelOptions& options);
std::string PeelText(std::string_view reply, std::string_view spec, const PeelOptions& options);

// The 'r' line "Description[<text>]".
void LogDescription(std::string_view text);

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_REPLY_PEEL_H_
