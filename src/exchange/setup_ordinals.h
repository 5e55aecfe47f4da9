// The `Setup` section of the settings document as formatter ordinals.
//
// The section is read as lines of text, not as XML. After its leading
// blanks and tabs are removed, a line "<Setup>" opens the section and a line
// "</Setup>" closes it. Inside, a line of 1 to 12 characters whose second
// character is not '/' opens an item named by the line without its first and
// last character ("<FU>" gives "FU"). While an item is open, every further
// line of that kind renames it, and every other line, closing tags and
// "</Setup>" included, is collected with a line feed after it until a line
// holds "</Value>". The item's value is then the collected text without its
// first 7 and last 9 characters - what stands between "<Value>" and
// "</Value>" - taken as it is, inner line feeds included. Empty lines are
// ignored everywhere. Names that are not two characters long are read but
// the formatter ignores them.
//
// Thread-safe; nothing is cached: the document is read afresh on each call.
#ifndef VORNLINK_EXCHANGE_SETUP_ORDINALS_H_
#define VORNLINK_EXCHANGE_SETUP_ORDINALS_H_

#include <string_view>

#include "exchange/ext_format.h"

namespace vornlink {

// Item lines are at most this long: a tag of ten characters and its "<>".
inline constexpr size_t kMaxSetupItemLine = 12;

// Whether `line` (its indent removed, not empty) opens an item, or renames
// the open one: 1 to 12 characters, the second not '/'.
bool IsSetupItemLine(std::string_view line);
// The name an item line gives.
std::string_view SetupItemName(std::string_view line);
// An item's value from the lines collected for it (each with its line feed,
// up to the one holding "</Value>").
std::string_view SetupItemValue(std::string_view collected);

// Registers the items of the `Setup` section of `document` with
// `format->AddString`, in document order (a later item of the same name
// replaces an earlier one). Never fails.
void LoadSetupOrdinalsFromText(std::string_view document, ExtFormat* format);

// The same for the settings document beside the module; a document that
// cannot be read registers nothing.
void LoadSetupOrdinals(ExtFormat* format);

}  // namespace vornlink

#endif  // VORNLINK_EXCHANGE_SETUP_ORDINALS_H_
