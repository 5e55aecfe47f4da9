// XmlDocument over MSXML 6 (DOMDocument 6.0) through COM.
//
// The document object is made to load synchronously, to keep white space
// (the shared walk decides what is visible, as it does over libxml2), to
// accept a document type declaration (MSXML 6 refuses one by default) but
// not to validate while loading, and never to resolve anything external.
// The file is read by us and handed over as bytes, so that its encoding
// declaration is honoured and only a regular file is read.
#include <msxml2.h>
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "xml/win32/com_support.h"
#include "xml/xml_document.h"
#include "xml/xml_tree_document.h"

namespace vornlink {
namespace {

// The MinGW headers declare these without defining them.
const CLSID kClsidDomDocument60 = {
    0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
const IID kIidXmlDomDocument2 = {
    0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

std::string HresultText(HRESULT result) {
  char text[16];
  snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
  return text;
}

std::string SystemErrorText(DWORD code) {
  char* buffer = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length > 0 && buffer != nullptr ? std::string(buffer, length) : "";
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(code) : text;
}

std::string TrimEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

// "line L, column C: reason" from a parse error object.
std::string DescribeParseError(IXMLDOMParseError* parse_error, const char* fallback) {
  if (parse_error == nullptr) return fallback;
  ScopedBstr reason;
  long line = 0;
  long column = 0;
  parse_error->get_reason(reason.receive());
  parse_error->get_line(&line);
  parse_error->get_linepos(&column);
  std::string text = TrimEnd(Utf8FromBstr(reason.get()));
  if (text.empty()) {
    long code = 0;
    parse_error->get_errorCode(&code);
    text = code != 0 ? std::string(fallback) + " (" + HresultText(code) + ")" : fallback;
  }
  if (line > 0) {
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + text;
  }
  return text;
}

class MsxmlTree {
 public:
  using Node = ComPtr<IXMLDOMNode>;

  MsxmlTree() = default;
  explicit MsxmlTree(ComPtr<IXMLDOMDocument2> doc) : doc_(std::move(doc)) {}

  static bool IsNone(const Node& node) { return !node; }
  // Found directly: some MSXML versions cannot step past a DOCTYPE node.
  Node RootElement() const {
    ComPtr<IXMLDOMElement> root;
    if (!doc_ || doc_->get_documentElement(root.receive()) != S_OK || !root) return Node();
    Node node;
    root->AddRef();
    *node.receive() = root.get();
    return node;
  }
  Node FirstChild(const Node& node) const {
    if (Type(node) == NODE_ENTITY_REFERENCE) return Node();
    return EntityContent(node);
  }
  Node NextSibling(const Node& node) const {
    Node next;
    if (node->get_nextSibling(next.receive()) != S_OK) return Node();
    return next;
  }
  Node Parent(const Node& node) const {
    Node parent;
    if (node->get_parentNode(parent.receive()) != S_OK) return Node();
    return parent;
  }
  Node EntityContent(const Node& node) const {
    Node child;
    if (node->get_firstChild(child.receive()) != S_OK) return Node();
    return child;
  }
  XmlNodeKind Kind(const Node& node) const {
    switch (Type(node)) {
      case NODE_ELEMENT:
        return XmlNodeKind::kElement;
      case NODE_TEXT:
      case NODE_CDATA_SECTION:
        return XmlNodeKind::kText;
      case NODE_COMMENT:
        return XmlNodeKind::kComment;
      case NODE_PROCESSING_INSTRUCTION:
        return XmlNodeKind::kProcessingInstruction;
      case NODE_ENTITY_REFERENCE:
        return XmlNodeKind::kEntityReference;
      default:
        return XmlNodeKind::kOther;
    }
  }
  bool IsCData(const Node& node) const { return Type(node) == NODE_CDATA_SECTION; }
  std::string Name(const Node& node) const {
    ScopedBstr name;
    if (node->get_nodeName(name.receive()) != S_OK) return std::string();
    return Utf8FromBstr(name.get());
  }
  std::string OwnText(const Node& node) const {
    if (Type(node) == NODE_ENTITY_REFERENCE) {
      // Asked only where the replacement is not reachable as nodes.
      ScopedBstr text;
      if (node->get_text(text.receive()) != S_OK) return std::string();
      return Utf8FromBstr(text.get());
    }
    ScopedVariant value;
    if (node->get_nodeValue(value.get()) != S_OK) return std::string();
    if (value.value().vt != VT_BSTR) return std::string();
    return Utf8FromBstr(value.value().bstrVal);
  }

  IXMLDOMDocument2* doc() const { return doc_.get(); }

 private:
  static DOMNodeType Type(const Node& node) {
    DOMNodeType type = NODE_INVALID;
    if (node->get_nodeType(&type) != S_OK) return NODE_INVALID;
    return type;
  }

  ComPtr<IXMLDOMDocument2> doc_;
};

// Comes first among the bases of the document, so that COM is set up before
// any of its objects exists and torn down after the last is released.
class ComScopeHolder {
 protected:
  ScopedComInit com_;
};

class MsxmlDocument : private ComScopeHolder, public XmlTreeDocument<MsxmlTree> {
 public:
  // Null with `error` set when COM or the document object cannot be had.
  static std::unique_ptr<MsxmlDocument> Make(std::string* error) {
    std::unique_ptr<MsxmlDocument> document(new MsxmlDocument());
    if (!document->com_.usable()) {
      *error =
          "COM cannot be initialised on this thread (" + HresultText(document->com_.result()) + ")";
      return nullptr;
    }
    ComPtr<IXMLDOMDocument2> doc;
    HRESULT created =
        CoCreateInstance(kClsidDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument2,
                         reinterpret_cast<void**>(doc.receive()));
    if (FAILED(created) || !doc) {
      *error = "the XML parser (MSXML 6.0) is not available (" + HresultText(created) + ")";
      return nullptr;
    }
    doc->put_async(VARIANT_FALSE);
    doc->put_validateOnParse(VARIANT_FALSE);
    doc->put_resolveExternals(VARIANT_FALSE);
    doc->put_preserveWhiteSpace(VARIANT_TRUE);
    // Not every MSXML knows every property (Wine ignores some); the
    // documented defaults that matter are safe ones anyway.
    SetBoolProperty(doc.get(), L"ProhibitDTD", false);
    SetBoolProperty(doc.get(), L"ResolveExternals", false);
    SetBoolProperty(doc.get(), L"AllowDocumentFunction", false);
    SetIntProperty(doc.get(), L"MaxXMLSize", static_cast<long>(kMaxFileBytes / 1024));
    document->Reset(MsxmlTree(std::move(doc)));
    return document;
  }

  bool LoadFile(const std::string& path) override {
    ClearPosition();
    std::string bytes;
    if (!ReadRegularFile(path, &bytes)) {
      LoadBytes("");  // empties the document, as a failed load does
      error_ = last_read_error_;
      return false;
    }
    return LoadBytes(bytes);
  }

  bool LoadBytes(const std::string& bytes) override {
    ClearPosition();
    if (bytes.size() > kMaxFileBytes) {
      error_ = "the document is larger than " + std::to_string(kMaxFileBytes) + " bytes";
      return false;
    }
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (array == nullptr) {
      error_ = "out of memory";
      return false;
    }
    ScopedVariant source;
    source.get()->vt = VT_ARRAY | VT_UI1;
    source.get()->parray = array;  // freed with the variant
    if (!bytes.empty()) {
      void* data = nullptr;
      if (FAILED(SafeArrayAccessData(array, &data))) {
        error_ = "out of memory";
        return false;
      }
      memcpy(data, bytes.data(), bytes.size());
      SafeArrayUnaccessData(array);
    }
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT result = tree().doc()->load(*source.get(), &loaded);
    if (result == S_OK && loaded == VARIANT_TRUE) {
      error_.clear();
      return true;
    }
    ComPtr<IXMLDOMParseError> parse_error;
    tree().doc()->get_parseError(parse_error.receive());
    error_ = DescribeParseError(parse_error.get(), "the document is not well-formed");
    if (error_ == "the document is not well-formed" && FAILED(result)) {
      error_ += " (" + HresultText(result) + ")";
    }
    return false;
  }

  bool Validate() override {
    IXMLDOMDocument2* doc = tree().doc();
    ComPtr<IXMLDOMElement> root;
    if (doc->get_documentElement(root.receive()) != S_OK || !root) {
      error_ = "no document is loaded";
      return false;
    }
    ComPtr<IXMLDOMDocumentType> doctype;
    if (doc->get_doctype(doctype.receive()) != S_OK || !doctype) return true;
    ComPtr<IXMLDOMParseError> parse_error;
    HRESULT result = doc->validate(parse_error.receive());
    if (result == S_OK) return true;
    error_ = "not valid: " +
             DescribeParseError(parse_error.get(), "the document does not match its document type");
    return false;
  }

 private:
  MsxmlDocument() = default;

  static void SetBoolProperty(IXMLDOMDocument2* doc, const wchar_t* name, bool value) {
    ScopedBstr property(name);
    ScopedVariant setting;
    setting.get()->vt = VT_BOOL;
    setting.get()->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    doc->setProperty(property.get(), *setting.get());
  }

  static void SetIntProperty(IXMLDOMDocument2* doc, const wchar_t* name, long value) {
    ScopedBstr property(name);
    ScopedVariant setting;
    setting.get()->vt = VT_I4;
    setting.get()->lVal = value;
    doc->setProperty(property.get(), *setting.get());
  }

  bool ReadRegularFile(const std::string& path, std::string* bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      last_read_error_ = "cannot open " + path + ": " + SystemErrorText(GetLastError());
      return false;
    }
    std::unique_ptr<void, decltype(&CloseHandle)> owner(file, &CloseHandle);
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      last_read_error_ = path + " is not a regular file";
      return false;
    }
    unsigned long long size = (static_cast<unsigned long long>(information.nFileSizeHigh) << 32) |
                              information.nFileSizeLow;
    if (size > kMaxFileBytes) {
      last_read_error_ = path + " is larger than " + std::to_string(kMaxFileBytes) + " bytes";
      return false;
    }
    bytes->clear();
    char buffer[16384];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
        last_read_error_ = "cannot read " + path + ": " + SystemErrorText(GetLastError());
        return false;
      }
      if (got == 0) return true;
      bytes->append(buffer, got);
      if (bytes->size() > kMaxFileBytes) {
        last_read_error_ = path + " is larger than " + std::to_string(kMaxFileBytes) + " bytes";
        return false;
      }
    }
  }

  std::string last_read_error_;
};

}  // namespace

std::unique_ptr<XmlDocument> XmlDocument::Create(std::string* error) {
  std::string reason;
  std::unique_ptr<MsxmlDocument> document = MsxmlDocument::Make(&reason);
  if (error != nullptr) *error = reason;
  return document;
}

}  // namespace vornlink
