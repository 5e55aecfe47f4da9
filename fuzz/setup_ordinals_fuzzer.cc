// The Setup section reader; every ordinal it registers is then formatted.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/failure_text.h"
#include "exchange/ext_format.h"
#include "exchange/setup_ordinals.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view document(reinterpret_cast<const char*>(data), size);
  vornlink::ExtFormat format;
  vornlink::LoadSetupOrdinalsFromText(document, &format);
  for (const vornlink::ExtFormat::Entry& entry : format.entries()) {
    if (entry.ordinal.size() != 2 || entry.type != 's') std::abort();
    try {
      std::string text = format.Format("%-3.40@" + entry.ordinal);
      if (text.size() < 3 || text.size() > 40) std::abort();
      // Each ordinal is unique: the table holds the last value of a name.
      if (format.Format("%@" + entry.ordinal) != entry.text) std::abort();
    } catch (const vornlink::FailureText&) {
      // Names that are no letters or digits cannot be reached.
    }
  }
  return 0;
}
