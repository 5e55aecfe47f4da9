// What the Properties dialog lists: one row per item of the "KMR/Setup"
// section of the settings document, read through the XML document layer.
//
// Each item element gives a row of its second child element's text (Data),
// its first child element's text (Value) and its own name (ExtF, the
// ordinal). Both texts are read from the item itself, and a child that is
// missing gives the empty text, so an odd item (one child, an empty value,
// a comment among the children) cannot shift the walk onto other nodes.
// Rows come in document order.
//
// A document that cannot be loaded, does not validate or has no
// "KMR/Setup" gives no rows and a problem text saying why (with line and
// column for a parse error). Thread-compatible; nothing is kept.
#ifndef VORNLINK_UI_PROPERTIES_ROWS_H_
#define VORNLINK_UI_PROPERTIES_ROWS_H_

#include <string>
#include <vector>

namespace vornlink {

struct PropertyRow {
  std::string data;   // column "Data"
  std::string value;  // column "Value"
  std::string name;   // column "ExtF"
};

struct PropertyList {
  std::vector<PropertyRow> rows;
  // Empty when the section was read; otherwise why the list is empty.
  std::string problem;
};

// The rows of the settings document at `path`.
PropertyList ReadPropertyRows(const std::string& path);

// The rows of the settings document beside the module, as the dialogs show
// them: the values of passwords, credential headers and the passwords of
// URLs masked as the log masks them (MaskedSetupValue). The settings
// document itself holds them for whoever may read it.
PropertyList ReadModulePropertyRows();

}  // namespace vornlink

#endif  // VORNLINK_UI_PROPERTIES_ROWS_H_
