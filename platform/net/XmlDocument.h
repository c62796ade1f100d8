// net::XmlDocument: the XML document object the plug-in builds its requests in
// and reads the service's replies from. The tree and its serialisation are
// pugixml's; replies are parsed by libxml2, which checks them.
//
// Text. Inside the system every 8-bit string is Windows-1252; XML text outside
// it is UTF-8. So node names, element text and attribute values go in and come
// out as 1252 (characters the code page lacks come out as '?'), while the
// serialised forms (Xml, FormattedXml, Save) and the text given to LoadXML are
// the XML bytes themselves.
//
// Declaration. A serialised document always starts with exactly one declaration,
// <?xml version="1.0" encoding="UTF-8"?>, because its bytes are always UTF-8: a
// declaration node in the tree (the "xml" processing instruction the requests
// insert, held once as the tree's first node, or none at all for a loaded reply)
// never produces a second one or a false encoding name.
//
// Loading. LoadXML reads untrusted replies, and takes only a text that is one
// well-formed XML document in its declared encoding (UTF-8 when it names none;
// windows-1252, ISO-8859-1 and the other common ones are decoded): a bare "&",
// an undefined entity, a duplicate attribute, "<" in an attribute value, a
// character XML forbids, bytes the encoding does not allow, "--" in a comment,
// text beside the root or a second root all leave the document empty. Nothing is
// ever fetched or expanded: no DTD is loaded, a document that declares an entity
// is refused, and only the predefined and numeric character references are
// read. Elements may nest MaxDepth levels deep, and a text longer than
// MaxReplySize (net/Limits.h) is refused unread. Comments and processing
// instructions of a reply are not kept, nor is whitespace-only text between
// elements.
//
// Nodes. XmlNode is a light handle into its document, like a pointer: it stays
// valid while its document lives and is neither cleared nor loaded again. A
// default-constructed handle is the null node; reading a null node gives empty
// results, changing one raises rtl::EInvalidOperation.
//
// Threads. A document and its nodes belong to one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pugi {
struct xml_node_struct;
class xml_document;
}  // namespace pugi

namespace net {

enum class XmlNodeType { Null, Document, Element, Text, ProcessingInstruction, Other };

class XmlNode {
 public:
  XmlNode() = default;

  explicit operator bool() const { return FNode != nullptr; }
  XmlNodeType Type() const;
  bool IsElement() const { return Type() == XmlNodeType::Element; }

  // An element's tag name or a processing instruction's target; empty for others.
  std::string NodeName() const;

  // All text inside the node, its descendants' text in document order, joined
  // without separators; the text itself for a text node.
  std::string Text() const;
  // Replaces the element's children by one text node; the serialisation escapes
  // what XML reserves.
  void SetText(std::string_view text);

  // The attribute's value, empty when the element has none of that name.
  std::string GetAttribute(std::string_view name) const;
  bool HasAttribute(std::string_view name) const;
  void SetAttribute(std::string_view name, std::string_view value);

  // Appends a new element as the last child and returns it.
  XmlNode AppendElement(std::string_view name);
  // The same, with the element's text already set.
  XmlNode AppendElement(std::string_view name, std::string_view text);

  // The node's children in order: elements, text, processing instructions.
  std::vector<XmlNode> ChildNodes() const;
  // The descendant elements of that exact name (letter case counts), at any
  // depth, in document order; the node itself is not one of them.
  std::vector<XmlNode> GetElementsByTagName(std::string_view name) const;

  friend bool operator==(const XmlNode&, const XmlNode&) = default;

 private:
  friend class XmlDocument;
  explicit XmlNode(pugi::xml_node_struct* node) : FNode(node) {}
  pugi::xml_node_struct* FNode = nullptr;
};

class XmlDocument {
 public:
  // Replies nested deeper than this are refused, so that code walking a tree
  // recursively cannot run out of stack.
  static constexpr int MaxDepth = 256;

  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // The document node itself: append the root element to it.
  XmlNode AsNode() const;
  // The root element, or the null node when the document is empty.
  XmlNode DocumentElement() const;

  // Creates a processing instruction and inserts it before the document's first
  // child (in an empty document, as its only child), so that it becomes the
  // first node, and returns it. The target "xml" makes it the declaration; its
  // data must then be a valid declaration body ('version="1.0" encoding="UTF-8"'),
  // and the document must not hold a declaration yet, else rtl::EInvalidOperation.
  XmlNode InsertProcessingInstruction(std::string_view target, std::string_view data);

  // Removes every node.
  void Clear();

  // Replaces the content by the document in `text` (UTF-8 unless a byte-order
  // mark or the declaration names another encoding). On failure the document is
  // left empty, ParseError() says why, and the result is false.
  bool LoadXML(std::string_view text);
  const std::string& ParseError() const { return FParseError; }

  // The declaration followed by the nodes exactly as they stand, without any
  // whitespace added; empty for an empty document. This is what is posted.
  std::string Xml() const;
  // The same document with one node per line, indented two blanks per level of
  // nesting; an element holding only text stays on one line.
  std::string FormattedXml() const;

  // Writes Xml() to the file through os::File, replacing it, in place. Raises
  // rtl::EOSError (with the errno value) when the file cannot be written.
  void Save(const std::string& path) const;

  std::vector<XmlNode> GetElementsByTagName(std::string_view name) const;

 private:
  std::string Serialise(bool indent) const;

  std::unique_ptr<pugi::xml_document> FDoc;
  std::string FParseError;
};

}  // namespace net
