// The XML document over pugixml. The tree lives in one pugi::xml_document; node
// handles are its node pointers. Every walk over the tree here is iterative, so
// no reply can exhaust the stack, and all text crosses between Windows-1252 and
// UTF-8 at this file's edge.
#include "net/XmlDocument.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pugixml.hpp>
#include <sstream>

#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "rtl/Format.h"

namespace net {

namespace {

constexpr char kDeclaration[] = R"(<?xml version="1.0" encoding="UTF-8"?>)";

std::string ToUtf8(std::string_view text) { return rtl::Win1252ToUtf8(text); }
std::string FromUtf8(const char* text) { return rtl::Utf8ToWin1252(text); }

pugi::xml_node Node(pugi::xml_node_struct* p) { return pugi::xml_node(p); }

pugi::xml_node Checked(pugi::xml_node_struct* p, const char* what) {
  if (p == nullptr) throw rtl::EInvalidOperation(rtl::Format("%s: the node is null", what));
  return pugi::xml_node(p);
}

// The next node after `node` in document order within the subtree of `top`,
// descending into children first; null at the end of the subtree.
pugi::xml_node NextInSubtree(pugi::xml_node node, pugi::xml_node top) {
  if (node.first_child()) return node.first_child();
  while (node && node != top) {
    if (node.next_sibling()) return node.next_sibling();
    node = node.parent();
  }
  return pugi::xml_node();
}

void AppendText(std::string& out, pugi::xml_node node) {
  if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) out += node.value();
}

}  // namespace

// ---- XmlNode ----------------------------------------------------------------

XmlNodeType XmlNode::Type() const {
  switch (Node(FNode).type()) {
    case pugi::node_null:
      return XmlNodeType::Null;
    case pugi::node_document:
      return XmlNodeType::Document;
    case pugi::node_element:
      return XmlNodeType::Element;
    case pugi::node_pcdata:
    case pugi::node_cdata:
      return XmlNodeType::Text;
    case pugi::node_pi:
    case pugi::node_declaration:
      return XmlNodeType::ProcessingInstruction;
    default:
      return XmlNodeType::Other;
  }
}

std::string XmlNode::NodeName() const {
  pugi::xml_node node = Node(FNode);
  switch (node.type()) {
    case pugi::node_element:
    case pugi::node_pi:
    case pugi::node_declaration:
      return FromUtf8(node.name());
    default:
      return {};
  }
}

std::string XmlNode::Text() const {
  pugi::xml_node top = Node(FNode);
  std::string out;
  AppendText(out, top);
  for (pugi::xml_node n = NextInSubtree(top, top); n; n = NextInSubtree(n, top)) AppendText(out, n);
  return FromUtf8(out.c_str());
}

void XmlNode::SetText(std::string_view text) {
  pugi::xml_node node = Checked(FNode, "SetText");
  while (node.first_child()) node.remove_child(node.first_child());
  if (!text.empty()) node.append_child(pugi::node_pcdata).set_value(ToUtf8(text).c_str());
}

std::string XmlNode::GetAttribute(std::string_view name) const {
  return FromUtf8(Node(FNode).attribute(ToUtf8(name).c_str()).value());
}

bool XmlNode::HasAttribute(std::string_view name) const {
  return static_cast<bool>(Node(FNode).attribute(ToUtf8(name).c_str()));
}

void XmlNode::SetAttribute(std::string_view name, std::string_view value) {
  pugi::xml_node node = Checked(FNode, "SetAttribute");
  std::string key = ToUtf8(name);
  pugi::xml_attribute attr = node.attribute(key.c_str());
  if (!attr) attr = node.append_attribute(key.c_str());
  attr.set_value(ToUtf8(value).c_str());
}

XmlNode XmlNode::AppendElement(std::string_view name) {
  pugi::xml_node child = Checked(FNode, "AppendElement").append_child(ToUtf8(name).c_str());
  if (!child) throw rtl::EInvalidOperation("AppendElement: an element cannot be added here");
  return XmlNode(child.internal_object());
}

XmlNode XmlNode::AppendElement(std::string_view name, std::string_view text) {
  XmlNode child = AppendElement(name);
  child.SetText(text);
  return child;
}

std::vector<XmlNode> XmlNode::ChildNodes() const {
  std::vector<XmlNode> out;
  for (pugi::xml_node c = Node(FNode).first_child(); c; c = c.next_sibling())
    out.push_back(XmlNode(c.internal_object()));
  return out;
}

std::vector<XmlNode> XmlNode::GetElementsByTagName(std::string_view name) const {
  std::vector<XmlNode> out;
  pugi::xml_node top = Node(FNode);
  if (!top) return out;
  std::string key = ToUtf8(name);
  for (pugi::xml_node n = NextInSubtree(top, top); n; n = NextInSubtree(n, top)) {
    if (n.type() == pugi::node_element && key == n.name())
      out.push_back(XmlNode(n.internal_object()));
  }
  return out;
}

// ---- XmlDocument --------------------------------------------------------------

XmlDocument::XmlDocument() : FDoc(std::make_unique<pugi::xml_document>()) {}
XmlDocument::~XmlDocument() = default;

XmlNode XmlDocument::AsNode() const { return XmlNode(FDoc->internal_object()); }

XmlNode XmlDocument::DocumentElement() const {
  return XmlNode(FDoc->document_element().internal_object());
}

XmlNode XmlDocument::InsertProcessingInstruction(std::string_view target, std::string_view data) {
  pugi::xml_node inserted;
  if (target == "xml") {
    for (pugi::xml_node c = FDoc->first_child(); c; c = c.next_sibling())
      if (c.type() == pugi::node_declaration)
        throw rtl::EInvalidOperation("The document already has an XML declaration");
    // Let the parser read the declaration's pseudo-attributes, so that a
    // malformed body is refused here rather than written out.
    std::string text = "<?xml " + ToUtf8(data) + "?><r/>";
    pugi::xml_document probe;
    pugi::xml_parse_result ok =
        probe.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_declaration);
    if (!ok || probe.first_child().type() != pugi::node_declaration)
      throw rtl::EInvalidOperation(
          rtl::Format("The declaration '%s' is not valid", std::string(data)));
    // Prepending also works on an empty document, where there is no first child
    // to insert before.
    inserted = FDoc->prepend_copy(probe.first_child());
  } else {
    inserted = FDoc->prepend_child(pugi::node_pi);
    inserted.set_name(ToUtf8(target).c_str());
    inserted.set_value(ToUtf8(data).c_str());
  }
  return XmlNode(inserted.internal_object());
}

void XmlDocument::Clear() {
  FDoc->reset();
  FParseError.clear();
}

bool XmlDocument::LoadXML(std::string_view text) {
  FDoc->reset();
  FParseError.clear();
  // parse_fragment keeps text found beside the root, so that it can be refused;
  // the DOCTYPE is skipped unread (parse_doctype is off), so no entity a reply
  // declares is ever expanded or fetched.
  pugi::xml_parse_result result = FDoc->load_buffer(
      text.data(), text.size(), pugi::parse_default | pugi::parse_fragment, pugi::encoding_auto);
  if (!result) {
    FParseError =
        rtl::Format("%s at offset %d", result.description(), static_cast<int64_t>(result.offset));
  } else {
    int elements = 0;
    for (pugi::xml_node c = FDoc->first_child(); c; c = c.next_sibling()) {
      if (c.type() == pugi::node_element) {
        ++elements;
      } else if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) {
        FParseError = "Text outside the root element";
      }
    }
    if (FParseError.empty() && elements != 1)
      FParseError = elements == 0 ? "No root element" : "More than one root element";
    if (FParseError.empty()) {
      // The walk of NextInSubtree, counting levels: down one on a child, up one
      // for every parent climbed before the next sibling.
      pugi::xml_node top = *FDoc;
      pugi::xml_node n = top.first_child();
      int depth = 1;
      while (n) {
        if (depth > MaxDepth) {
          FParseError = rtl::Format("Elements nested deeper than %d levels", MaxDepth);
          break;
        }
        if (n.first_child()) {
          n = n.first_child();
          ++depth;
          continue;
        }
        while (n && n != top && !n.next_sibling()) {
          n = n.parent();
          --depth;
        }
        n = (n && n != top) ? n.next_sibling() : pugi::xml_node();
      }
    }
  }
  if (!FParseError.empty()) {
    FDoc->reset();
    return false;
  }
  return true;
}

std::string XmlDocument::Serialise(bool indent) const {
  if (!FDoc->first_child()) return {};
  std::ostringstream out;
  out << kDeclaration;
  if (indent) out << '\n';
  unsigned flags = pugi::format_no_declaration | (indent ? pugi::format_indent : pugi::format_raw);
  for (pugi::xml_node c = FDoc->first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_declaration) continue;
    c.print(out, "  ", flags, pugi::encoding_utf8);
  }
  return out.str();
}

std::string XmlDocument::Xml() const { return Serialise(false); }
std::string XmlDocument::FormattedXml() const { return Serialise(true); }

void XmlDocument::Save(const std::string& path) const {
  std::string text = Xml();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    int err = errno;
    throw rtl::EOSError(rtl::Format("Cannot create file \"%s\". %s", path, std::strerror(err)),
                        err);
  }
  size_t written = std::fwrite(text.data(), 1, text.size(), f);
  int err = written == text.size() ? 0 : errno;
  if (std::fclose(f) != 0 && err == 0) err = errno;
  if (written != text.size() || err != 0) {
    throw rtl::EOSError(
        rtl::Format("Cannot write file \"%s\". %s", path, std::strerror(err != 0 ? err : EIO)),
        err != 0 ? err : EIO);
  }
}

std::vector<XmlNode> XmlDocument::GetElementsByTagName(std::string_view name) const {
  return AsNode().GetElementsByTagName(name);
}

}  // namespace net
