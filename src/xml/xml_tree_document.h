// The navigation that both parsers share: which nodes are visible, how a
// path is followed, how an element's text is collected. Each platform
// supplies a Tree over its parser's nodes and derives its document from
// XmlTreeDocument<Tree>; loading and validation stay with the platform.
//
// A Tree has:
//   using Node = ...;                  copyable; Node() is "no node"
//   static bool IsNone(const Node&);
//   Node RootElement() const;          none before a load
//   Node FirstChild(const Node&) const;  any kind; none for an entity reference
//   Node NextSibling(const Node&) const;
//   Node Parent(const Node&) const;
//   Node EntityContent(const Node&) const;  first node of a reference's replacement
//   XmlNodeKind Kind(const Node&) const;    kOther for the document, a DOCTYPE ...
//   bool IsCData(const Node&) const;
//   std::string Name(const Node&) const;
//   std::string OwnText(const Node&) const;  a text, comment or PI node's value;
//                                      for an entity reference whose
//                                      replacement is not reachable as
//                                      nodes, the replacement text
#ifndef VORNLINK_XML_XML_TREE_DOCUMENT_H_
#define VORNLINK_XML_XML_TREE_DOCUMENT_H_

#include <string>
#include <vector>

#include "xml/xml_document.h"

namespace vornlink {

// True when `text` holds only XML white space.
inline bool IsXmlBlank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

template <typename Tree>
class XmlTreeDocument : public XmlDocument {
 public:
  using Node = typename Tree::Node;

  bool SelectRoot() override { return MoveTo(tree_.RootElement()); }

  bool SelectPath(const std::string& path) override {
    Node node = Node();
    size_t start = 0;
    for (;;) {
      size_t slash = path.find('/', start);
      std::string name = path.substr(start, slash == std::string::npos ? slash : slash - start);
      if (name.empty()) return false;
      if (Tree::IsNone(node)) {
        node = tree_.RootElement();
        if (Tree::IsNone(node) || tree_.Name(node) != name) return false;
      } else {
        node = FirstElementNamed(node, name);
      }
      if (Tree::IsNone(node)) return false;
      if (slash == std::string::npos) break;
      start = slash + 1;
    }
    return MoveTo(node);
  }

  bool SelectFirstChild() override {
    if (Tree::IsNone(current_)) return false;
    return MoveTo(FirstVisible(tree_.FirstChild(current_)));
  }

  bool SelectNextSibling() override {
    if (Tree::IsNone(current_)) return false;
    return MoveTo(FirstVisible(tree_.NextSibling(current_)));
  }

  bool SelectParent() override {
    if (Tree::IsNone(current_)) return false;
    Node parent = tree_.Parent(current_);
    if (Tree::IsNone(parent) || tree_.Kind(parent) != XmlNodeKind::kElement) return false;
    return MoveTo(parent);
  }

  XmlNodeKind Kind() const override {
    return Tree::IsNone(current_) ? XmlNodeKind::kNone : tree_.Kind(current_);
  }

  std::string Name() const override {
    return Tree::IsNone(current_) ? std::string() : tree_.Name(current_);
  }

  std::string Text() const override {
    if (Tree::IsNone(current_)) return std::string();
    switch (tree_.Kind(current_)) {
      case XmlNodeKind::kElement:
        return CollectText(tree_.FirstChild(current_));
      case XmlNodeKind::kEntityReference: {
        Node content = tree_.EntityContent(current_);
        if (!Tree::IsNone(content)) return CollectText(content);
        std::string text = tree_.OwnText(current_);
        if (text.size() > kMaxTextBytes) text.resize(kMaxTextBytes);
        return text;
      }
      default: {
        std::string text = tree_.OwnText(current_);
        if (text.size() > kMaxTextBytes) text.resize(kMaxTextBytes);
        return text;
      }
    }
  }

 protected:
  // Starts over with a new tree (after a load); the position is cleared.
  void Reset(Tree tree) {
    current_ = Node();
    tree_ = std::move(tree);
  }
  void ClearPosition() { current_ = Node(); }
  const Tree& tree() const { return tree_; }

 private:
  bool MoveTo(const Node& node) {
    if (Tree::IsNone(node)) return false;
    current_ = node;
    return true;
  }

  bool Visible(const Node& node) const {
    switch (tree_.Kind(node)) {
      case XmlNodeKind::kText:
        return tree_.IsCData(node) || !IsXmlBlank(tree_.OwnText(node));
      case XmlNodeKind::kOther:
      case XmlNodeKind::kNone:
        return false;
      default:
        return true;
    }
  }

  Node FirstVisible(Node node) const {
    while (!Tree::IsNone(node) && !Visible(node)) node = tree_.NextSibling(node);
    return node;
  }

  // The first child element of `parent` named `name`.
  Node FirstElementNamed(const Node& parent, const std::string& name) const {
    for (Node child = tree_.FirstChild(parent); !Tree::IsNone(child);
         child = tree_.NextSibling(child)) {
      if (tree_.Kind(child) == XmlNodeKind::kElement && tree_.Name(child) == name) return child;
    }
    return Node();
  }

  // The text of the nodes from `first` on and of all their descendants,
  // entity replacements included. Walked with a stack of sibling runs, since
  // the nodes of an entity's replacement do not lead back to the reference.
  std::string CollectText(const Node& first) const {
    std::string text;
    std::vector<Node> runs;
    runs.push_back(first);
    size_t visited = 0;
    while (!runs.empty() && text.size() < kMaxTextBytes && visited < kMaxTextNodes) {
      Node node = runs.back();
      if (Tree::IsNone(node)) {
        runs.pop_back();
        continue;
      }
      runs.back() = tree_.NextSibling(node);
      ++visited;
      switch (tree_.Kind(node)) {
        case XmlNodeKind::kText:
          text += tree_.OwnText(node);
          break;
        case XmlNodeKind::kElement:
          runs.push_back(tree_.FirstChild(node));
          break;
        case XmlNodeKind::kEntityReference: {
          Node content = tree_.EntityContent(node);
          if (Tree::IsNone(content)) {
            text += tree_.OwnText(node);
          } else {
            runs.push_back(content);
          }
          break;
        }
        default:
          break;
      }
    }
    if (text.size() > kMaxTextBytes) text.resize(kMaxTextBytes);
    return text;
  }

  Tree tree_;
  Node current_ = Node();
};

}  // namespace vornlink

#endif  // VORNLINK_XML_XML_TREE_DOCUMENT_H_
