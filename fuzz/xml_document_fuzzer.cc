// Any bytes as an XML document: loading, validation and a walk over every
// node must neither crash nor run away.
#include <cstddef>
#include <cstdint>
#include <string>

#include "xml/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  std::unique_ptr<vornlink::XmlDocument> document = vornlink::XmlDocument::Create(&error);
  if (document == nullptr ||
      !document->LoadBytes(std::string(reinterpret_cast<const char*>(data), size))) {
    return 0;
  }
  document->SelectPath("KMR/Setup");
  if (!document->SelectRoot()) return 0;
  document->Validate();
  // Depth first over the whole tree, reading every node; bounded in case a walk would not end.
  for (size_t steps = 0; steps < 100000; ++steps) {
    (void)document->Name();
    (void)document->Text();
    if (document->SelectFirstChild()) continue;
    while (!document->SelectNextSibling()) {
      if (!document->SelectParent()) return 0;
    }
  }
  return 0;
}
