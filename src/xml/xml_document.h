// A parsed XML document with one current position, over the platform's own
// parser: MSXML 6 through COM on Windows, libxml2 elsewhere.
//
// The document is read whole into a tree; the position starts nowhere and
// is moved by the Select calls. Each Select returns whether it moved; one
// that fails leaves the position where it was. Both parsers give the same
// tree: white-space-only text between elements is not a node, comments,
// processing instructions, CDATA sections and entity references are.
// Entities are expanded from the document itself only: no external entity
// or external document type definition is ever read, no network is used.
//
// Texts are UTF-8. Failures (a file that cannot be read, a document that is
// not well-formed or not valid) return false and leave a message in
// `error()`, with line and column where the parser gives them. Nothing
// throws, and no input crashes or hangs the caller.
//
// Threading: one object belongs to one thread. On Windows the object keeps
// COM initialised on the thread that created it until it is destroyed (a
// thread that already uses COM in another apartment mode keeps its mode).
#ifndef VORNLINK_XML_XML_DOCUMENT_H_
#define VORNLINK_XML_XML_DOCUMENT_H_

#include <cstddef>
#include <memory>
#include <string>

namespace vornlink {

enum class XmlNodeKind {
  kNone,  // no position yet
  kElement,
  kText,  // text or a CDATA section
  kComment,
  kProcessingInstruction,
  kEntityReference,
  kOther,
};

class XmlDocument {
 public:
  // Larger files are refused rather than read.
  static constexpr size_t kMaxFileBytes = 16 * 1024 * 1024;
  // Text() stops collecting beyond this many bytes or this many nodes, so
  // that a small document of nested entities cannot make it run for ever.
  static constexpr size_t kMaxTextBytes = 1024 * 1024;
  static constexpr size_t kMaxTextNodes = 1000000;

  // A new empty document. Null with `error` set when the platform's parser
  // cannot be had (MSXML 6 not registered, for instance).
  static std::unique_ptr<XmlDocument> Create(std::string* error);

  virtual ~XmlDocument() = default;
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Reads and parses the regular file at `path` (links are followed; a
  // folder, a device or a pipe is refused). Replaces any earlier document;
  // the position is reset.
  virtual bool LoadFile(const std::string& path) = 0;
  // Parses `bytes` as a document held in memory.
  virtual bool LoadBytes(const std::string& bytes) = 0;

  // Checks the loaded document against its document type declaration. A
  // document without one is valid. The position is kept.
  virtual bool Validate() = 0;

  // The root element.
  virtual bool SelectRoot() = 0;
  // The element reached from the document by the element names of `path`,
  // separated by "/": "KMR/Setup" is the root element KMR and its first
  // child element Setup. Names are compared exactly, prefix included.
  virtual bool SelectPath(const std::string& path) = 0;
  virtual bool SelectFirstChild() = 0;
  virtual bool SelectNextSibling() = 0;
  // The parent element; not the document itself.
  virtual bool SelectParent() = 0;

  virtual XmlNodeKind Kind() const = 0;
  // An element's name with its prefix; "#text", "#cdata-section" or
  // "#comment"; a processing instruction's target; an entity's name.
  virtual std::string Name() const = 0;
  // The text of the current node: an element's text is that of all its
  // descendants (entities expanded), cut at kMaxTextBytes.
  virtual std::string Text() const = 0;

  // Why the last LoadFile, LoadBytes or Validate failed.
  const std::string& error() const { return error_; }

 protected:
  XmlDocument() = default;
  std::string error_;
};

}  // namespace vornlink

#endif  // VORNLINK_XML_XML_DOCUMENT_H_
