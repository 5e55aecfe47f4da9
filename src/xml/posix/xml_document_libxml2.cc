// XmlDocument over libxml2.
//
// Parsed with a parser context of our own and without the options that read
// from outside the document (no entity substitution, no DTD loading, no
// network): an external entity stays an unexpanded reference. Entity
// references are kept as nodes and expanded by the shared walk. Errors are
// taken from the context, never printed. The library's global settings are
// not touched, since the host may use libxml2 itself.
#include <errno.h>
#include <fcntl.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "platform/posix/scoped_fd.h"
#include "xml/xml_document.h"
#include "xml/xml_tree_document.h"

namespace vornlink {
namespace {

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct ParserContextFree {
  void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};
struct ValidContextFree {
  void operator()(xmlValidCtxt* context) const { xmlFreeValidCtxt(context); }
};

std::string Utf8(const xmlChar* text) {
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

// The tree of one parsed document.
class Libxml2Tree {
 public:
  using Node = xmlNode*;

  Libxml2Tree() = default;
  explicit Libxml2Tree(xmlDoc* doc) : doc_(doc) {}

  static bool IsNone(Node node) { return node == nullptr; }
  Node RootElement() const { return doc_ ? xmlDocGetRootElement(doc_.get()) : nullptr; }
  Node FirstChild(Node node) const {
    // An entity reference's children are its declaration, not content.
    return node->type == XML_ENTITY_REF_NODE ? nullptr : node->children;
  }
  Node NextSibling(Node node) const { return node->next; }
  Node Parent(Node node) const { return node->parent; }
  Node EntityContent(Node node) const {
    xmlEntity* entity = xmlGetDocEntity(doc_.get(), node->name);
    // Only entities declared in the document have a replacement here.
    if (entity == nullptr || entity->etype != XML_INTERNAL_GENERAL_ENTITY) return nullptr;
    return entity->children;
  }
  XmlNodeKind Kind(Node node) const {
    switch (node->type) {
      case XML_ELEMENT_NODE:
        return XmlNodeKind::kElement;
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE:
        return XmlNodeKind::kText;
      case XML_COMMENT_NODE:
        return XmlNodeKind::kComment;
      case XML_PI_NODE:
        return XmlNodeKind::kProcessingInstruction;
      case XML_ENTITY_REF_NODE:
        return XmlNodeKind::kEntityReference;
      default:
        return XmlNodeKind::kOther;
    }
  }
  bool IsCData(Node node) const { return node->type == XML_CDATA_SECTION_NODE; }
  std::string Name(Node node) const {
    switch (node->type) {
      case XML_TEXT_NODE:
        return "#text";
      case XML_CDATA_SECTION_NODE:
        return "#cdata-section";
      case XML_COMMENT_NODE:
        return "#comment";
      case XML_ELEMENT_NODE:
        if (node->ns != nullptr && node->ns->prefix != nullptr) {
          return Utf8(node->ns->prefix) + ":" + Utf8(node->name);
        }
        return Utf8(node->name);
      default:
        return Utf8(node->name);
    }
  }
  std::string OwnText(Node node) const {
    return node->type == XML_ENTITY_REF_NODE ? std::string() : Utf8(node->content);
  }

  xmlDoc* doc() const { return doc_.get(); }

 private:
  std::unique_ptr<xmlDoc, DocFree> doc_;
};

// Collects the first validity complaint.
struct ValidityErrors {
  std::string first;
};

extern "C" void OnValidityError(void* data, const char* format, ...) {
  auto* errors = static_cast<ValidityErrors*>(data);
  if (!errors->first.empty()) return;
  char message[1024];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
  errors->first = message;
}

// The first error of a parse, which is the one that explains it; the
// parser goes on and may report consequences after it.
struct FirstParseError {
  bool set = false;
  int line = 0;
  int column = 0;
  std::string message;
};

extern "C" void OnParseError(void* data, xmlErrorPtr error) {
  auto* context = static_cast<xmlParserCtxt*>(data);
  auto* first = static_cast<FirstParseError*>(context->_private);
  if (first == nullptr || first->set || error == nullptr || error->level < XML_ERR_ERROR) return;
  first->set = true;
  first->line = error->line;
  first->column = error->int2;
  first->message = error->message != nullptr ? error->message : "";
}

extern "C" void IgnoreValidityWarning(void*, const char*, ...) {}

// Routes the calling thread's generic libxml2 errors to `errors` for the
// life of the object, then restores the handler that was set before.
class ScopedGenericErrors {
 public:
  explicit ScopedGenericErrors(ValidityErrors* errors)
      : old_handler_(xmlGenericError), old_context_(xmlGenericErrorContext) {
    xmlSetGenericErrorFunc(errors, &OnValidityError);
  }
  ~ScopedGenericErrors() { xmlSetGenericErrorFunc(old_context_, old_handler_); }
  ScopedGenericErrors(const ScopedGenericErrors&) = delete;
  ScopedGenericErrors& operator=(const ScopedGenericErrors&) = delete;

 private:
  xmlGenericErrorFunc old_handler_;
  void* old_context_;
};

std::string TrimEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

class Libxml2Document : public XmlTreeDocument<Libxml2Tree> {
 public:
  bool LoadFile(const std::string& path) override {
    Reset(Libxml2Tree());
    std::string bytes;
    if (!ReadRegularFile(path, &bytes)) return false;
    return Parse(bytes, path.c_str());
  }

  bool LoadBytes(const std::string& bytes) override {
    Reset(Libxml2Tree());
    return Parse(bytes, nullptr);
  }

  bool Validate() override {
    xmlDoc* doc = tree().doc();
    if (doc == nullptr) {
      error_ = "no document is loaded";
      return false;
    }
    // Only the declarations inside the document count: an external subset
    // is never read.
    if (doc->intSubset == nullptr) return true;
    std::unique_ptr<xmlValidCtxt, ValidContextFree> context(xmlNewValidCtxt());
    if (context == nullptr) {
      error_ = "out of memory";
      return false;
    }
    ValidityErrors errors;
    context->userData = &errors;
    context->error = &OnValidityError;
    context->warning = &IgnoreValidityWarning;
    xmlResetLastError();
    int valid;
    {
      // Some complaints go to the thread's generic error handler instead of
      // the context's: keep them off the host's standard error.
      ScopedGenericErrors quiet(&errors);
      valid = xmlValidateDtd(context.get(), doc, doc->intSubset);
    }
    if (valid == 1) return true;
    const xmlError* last = xmlGetLastError();
    std::string reason = TrimEnd(errors.first);
    if (reason.empty() && last != nullptr && last->message != nullptr) {
      reason = TrimEnd(last->message);
    }
    if (reason.empty()) reason = "the document does not match its document type";
    error_ = "not valid: ";
    if (last != nullptr && last->line > 0) error_ += "line " + std::to_string(last->line) + ": ";
    error_ += reason;
    return false;
  }

 private:
  bool ReadRegularFile(const std::string& path, std::string* bytes) {
    // Non-blocking, so that a pipe in the file's place cannot hold us up
    // before it is refused.
    ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
      error_ = "cannot open " + path + ": " + strerror(errno);
      return false;
    }
    struct stat status;
    if (fstat(fd.get(), &status) != 0) {
      error_ = "cannot read " + path + ": " + strerror(errno);
      return false;
    }
    if (!S_ISREG(status.st_mode)) {
      error_ = path + " is not a regular file";
      return false;
    }
    if (static_cast<unsigned long long>(status.st_size) > kMaxFileBytes) {
      error_ = path + " is larger than " + std::to_string(kMaxFileBytes) + " bytes";
      return false;
    }
    bytes->clear();
    char buffer[16384];
    for (;;) {
      ssize_t got = read(fd.get(), buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        error_ = "cannot read " + path + ": " + strerror(errno);
        return false;
      }
      if (got == 0) return true;
      bytes->append(buffer, static_cast<size_t>(got));
      if (bytes->size() > kMaxFileBytes) {
        error_ = path + " is larger than " + std::to_string(kMaxFileBytes) + " bytes";
        return false;
      }
    }
  }

  bool Parse(const std::string& bytes, const char* url) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });
    if (bytes.size() > kMaxFileBytes) {
      error_ = "the document is larger than " + std::to_string(kMaxFileBytes) + " bytes";
      return false;
    }
    std::unique_ptr<xmlParserCtxt, ParserContextFree> context(xmlNewParserCtxt());
    if (context == nullptr) {
      error_ = "out of memory";
      return false;
    }
    FirstParseError first;
    context->_private = &first;
    context->userData = context.get();
    context->sax->serror = &OnParseError;
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlDoc* doc = xmlCtxtReadMemory(context.get(), bytes.data(), static_cast<int>(bytes.size()),
                                    url, nullptr, options);
    context->_private = nullptr;
    if (doc == nullptr || !context->wellFormed) {
      if (doc != nullptr) xmlFreeDoc(doc);
      if (!first.set) {
        const xmlError& last = context->lastError;
        first.line = last.line;
        first.column = last.int2;
        first.message = last.message != nullptr ? last.message : "";
      }
      std::string reason = TrimEnd(first.message);
      if (reason.empty()) reason = "the document is not well-formed";
      error_ = "line " + std::to_string(first.line) + ", column " + std::to_string(first.column) +
               ": " + reason;
      return false;
    }
    Reset(Libxml2Tree(doc));
    error_.clear();
    return true;
  }
};

}  // namespace

std::unique_ptr<XmlDocument> XmlDocument::Create(std::string* error) {
  if (error != nullptr) error->clear();
  return std::make_unique<Libxml2Document>();
}

}  // namespace vornlink
