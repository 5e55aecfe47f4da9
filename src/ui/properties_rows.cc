#include "ui/properties_rows.h"

#include <memory>

#include "exchange/dms_query.h"
#include "settings/module_files.h"
#include "xml/xml_document.h"

namespace vornlink {
namespace {

// Moves from the current position to the next element among it and its
// following siblings; false when there is none (the position may then be
// anywhere among those siblings).
bool SkipToElement(XmlDocument& document) {
  while (document.Kind() != XmlNodeKind::kElement) {
    if (!document.SelectNextSibling()) return false;
  }
  return true;
}

// The texts of the first two child elements of the current item; the
// position is back on the item afterwards.
void ReadItem(XmlDocument& document, PropertyRow* row) {
  row->name = document.Name();
  if (!document.SelectFirstChild()) return;
  if (SkipToElement(document)) {
    row->value = document.Text();
    if (document.SelectNextSibling() && SkipToElement(document)) row->data = document.Text();
  }
  document.SelectParent();
}

}  // namespace

PropertyList ReadPropertyRows(const std::string& path) {
  PropertyList list;
  std::string error;
  std::unique_ptr<XmlDocument> document = XmlDocument::Create(&error);
  if (document == nullptr) {
    list.problem = "Setup: " + error;
    return list;
  }
  if (!document->LoadFile(path)) {
    list.problem = "Setup: cannot load " + path + ": " + document->error();
    return list;
  }
  if (!document->SelectRoot()) {
    list.problem = "Setup: " + path + " has no root element";
    return list;
  }
  if (!document->Validate()) {
    list.problem = "Setup: " + path + " is " + document->error();
    return list;
  }
  if (!document->SelectPath("KMR/Setup")) {
    list.problem = "Setup: " + path + " has no KMR/Setup section";
    return list;
  }
  if (!document->SelectFirstChild()) return list;
  do {
    if (document->Kind() != XmlNodeKind::kElement) continue;
    PropertyRow row;
    ReadItem(*document, &row);
    list.rows.push_back(std::move(row));
  } while (document->SelectNextSibling());
  return list;
}

PropertyList ReadModulePropertyRows() {
  PropertyList list = ReadPropertyRows(ModuleFileWithExtension("xml"));
  for (PropertyRow& row : list.rows) row.value = MaskedSetupValue(row.name, row.value);
  return list;
}

}  // namespace vornlink
