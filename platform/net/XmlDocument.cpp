// The XML document: the tree lives in one pugi::xml_document, whose node
// pointers are the node handles and whose writer gives the serialised forms.
// Replies are parsed by libxml2, which checks that a text is well-formed XML and
// decodes it from its declared encoding; its tree is then copied into the pugixml
// tree and freed. Every walk over a tree here is iterative, so no reply can
// exhaust the stack, and all text crosses between Windows-1252 and UTF-8 at this
// file's edge.
#include "net/XmlDocument.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <cstring>
#include <memory>
#include <pugixml.hpp>
#include <sstream>

#include "net/Limits.h"
#include "os/File.h"
#include "os/OsError.h"
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

// ---- parsing replies with libxml2 ---------------------------------------------

const char* Chars(const xmlChar* text) { return reinterpret_cast<const char*>(text); }

struct ParserDeleter {
  void operator()(xmlParserCtxt* p) const { xmlFreeParserCtxt(p); }
};
struct DocDeleter {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct XmlCharDeleter {
  void operator()(xmlChar* p) const { xmlFree(p); }
};

// What went wrong first while parsing one reply.
struct ParseState {
  std::string Error;

  void Note(const std::string& text) {
    if (Error.empty()) Error = text;
  }
};

ParseState& StateOf(void* parserContext) {
  return *static_cast<ParseState*>(static_cast<xmlParserCtxt*>(parserContext)->_private);
}

// Errors refuse the reply. Of the warnings only one does: a reference to an
// entity nobody declared, which libxml2 lets pass in a document with an
// external DTD (it might be declared there) and which we never read.
void Record(ParseState& state, const xmlError* error) {
  if (error == nullptr) return;
  if (error->level < XML_ERR_ERROR && error->code != XML_WAR_UNDECLARED_ENTITY) return;
  // libxml2 words its messages in UTF-8, quoting names from the text.
  std::string message =
      error->message ? rtl::Utf8ToWin1252(error->message) : "The text is not well-formed XML";
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  if (error->line > 0)
    state.Note(rtl::Format("%s (line %d, column %d)", message, error->line, error->int2));
  else
    state.Note(message);
}

void OnParserError(void* parserContext, xmlErrorPtr error) {
  Record(StateOf(parserContext), error);
}

// Errors libxml2 raises outside the parser context (the encoding converters).
void OnOtherError(void* state, xmlErrorPtr error) {
  Record(*static_cast<ParseState*>(state), error);
}

// Entities are never expanded, so a reply that declares one cannot be read as
// its sender meant: refuse it at the declaration, before its text is looked at.
void RefuseEntity(void* parserContext, const xmlChar* name) {
  StateOf(parserContext)
      .Note(rtl::Format("The document declares the entity '%s'; entities are not accepted",
                        rtl::Utf8ToWin1252(Chars(name))));
  xmlStopParser(static_cast<xmlParserCtxt*>(parserContext));
}
void OnEntityDecl(void* ctx, const xmlChar* name, int, const xmlChar*, const xmlChar*, xmlChar*) {
  RefuseEntity(ctx, name);
}
void OnUnparsedEntityDecl(void* ctx, const xmlChar* name, const xmlChar*, const xmlChar*,
                          const xmlChar*) {
  RefuseEntity(ctx, name);
}

// Routes libxml2's process-wide (per-thread) error channel to one parse and puts
// the previous handler back afterwards.
class ErrorChannel {
 public:
  explicit ErrorChannel(ParseState& state)
      : FHandler(xmlStructuredError), FContext(xmlStructuredErrorContext) {
    xmlSetStructuredErrorFunc(&state, &OnOtherError);
  }
  ~ErrorChannel() { xmlSetStructuredErrorFunc(FContext, FHandler); }
  ErrorChannel(const ErrorChannel&) = delete;
  ErrorChannel& operator=(const ErrorChannel&) = delete;

 private:
  xmlStructuredErrorFunc FHandler;
  void* FContext;
};

// Parses `text` into a libxml2 tree: no network, no DTD loaded, no entity
// expanded or declared, libxml2's own limits on depth (256 levels), names and
// text nodes. Null, with state.Error saying why, unless the text is one
// well-formed document.
std::unique_ptr<xmlDoc, DocDeleter> ParseReply(std::string_view text, ParseState& state) {
  xmlInitParser();
  ErrorChannel channel(state);
  std::unique_ptr<xmlParserCtxt, ParserDeleter> parser(
      xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size())));
  if (!parser) {
    state.Note("Out of memory for the XML parser");
    return nullptr;
  }
  xmlParserCtxt* ctxt = parser.get();
  ctxt->_private = &state;
  ctxt->sax->serror = &OnParserError;
  ctxt->sax->entityDecl = &OnEntityDecl;
  ctxt->sax->unparsedEntityDecl = &OnUnparsedEntityDecl;
  // No XML_PARSE_NOENT (no expansion), DTDLOAD, DTDATTR or HUGE (libxml2's
  // limits stay on); NONET even though nothing is ever fetched.
  xmlCtxtUseOptions(ctxt, XML_PARSE_NONET);
  int rc = xmlParseDocument(ctxt);
  std::unique_ptr<xmlDoc, DocDeleter> doc(ctxt->myDoc);
  ctxt->myDoc = nullptr;
  if (rc != 0 || !ctxt->wellFormed || !state.Error.empty() || !doc ||
      !xmlDocGetRootElement(doc.get())) {
    state.Note("The text is not well-formed XML");
    return nullptr;
  }
  return doc;
}

std::string QualifiedName(const xmlNs* ns, const xmlChar* name) {
  std::string out;
  if (ns != nullptr && ns->prefix != nullptr) {
    out = Chars(ns->prefix);
    out += ':';
  }
  return out + Chars(name);
}

// Whitespace-only text between elements is layout, not content.
bool IsBlank(const xmlChar* text) {
  for (; text != nullptr && *text; ++text)
    if (*text != ' ' && *text != '\t' && *text != '\r' && *text != '\n') return false;
  return true;
}

void CopyAttributes(const xmlNode* from, pugi::xml_node to) {
  for (const xmlNs* ns = from->nsDef; ns != nullptr; ns = ns->next) {
    std::string name = ns->prefix ? std::string("xmlns:") + Chars(ns->prefix) : "xmlns";
    to.append_attribute(name.c_str()).set_value(ns->href ? Chars(ns->href) : "");
  }
  for (const xmlAttr* a = from->properties; a != nullptr; a = a->next) {
    std::unique_ptr<xmlChar, XmlCharDeleter> value(
        xmlNodeGetContent(reinterpret_cast<const xmlNode*>(a)));
    to.append_attribute(QualifiedName(a->ns, a->name).c_str())
        .set_value(value ? Chars(value.get()) : "");
  }
}

// Copies the root element of `from` with everything in it into the empty `to`:
// elements, attributes, text and CDATA; comments and processing instructions are
// left out. False (with the reason in `error`) when the elements nest deeper
// than maxDepth.
bool CopyTree(const xmlDoc* from, pugi::xml_document& to, int maxDepth, std::string& error) {
  const xmlNode* root = xmlDocGetRootElement(from);
  pugi::xml_node target = to.append_child(QualifiedName(root->ns, root->name).c_str());
  CopyAttributes(root, target);
  const xmlNode* parent = root;
  const xmlNode* node = root->children;
  int depth = 1;
  for (;;) {
    if (node == nullptr) {
      if (parent == root) return true;
      node = parent->next;
      parent = parent->parent;
      target = target.parent();
      --depth;
      continue;
    }
    switch (node->type) {
      case XML_ELEMENT_NODE: {
        if (depth + 1 > maxDepth) {
          error = rtl::Format("Elements nested deeper than %d levels", maxDepth);
          return false;
        }
        pugi::xml_node element = target.append_child(QualifiedName(node->ns, node->name).c_str());
        CopyAttributes(node, element);
        if (node->children != nullptr) {
          ++depth;
          parent = node;
          target = element;
          node = node->children;
          continue;
        }
        break;
      }
      case XML_TEXT_NODE:
        if (!IsBlank(node->content))
          target.append_child(pugi::node_pcdata).set_value(Chars(node->content));
        break;
      case XML_CDATA_SECTION_NODE:
        target.append_child(pugi::node_cdata).set_value(node->content ? Chars(node->content) : "");
        break;
      default:
        break;
    }
    node = node->next;
  }
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
  if (text.size() > MaxReplySize) {
    FParseError = rtl::Format("The text is larger than %d bytes", static_cast<int64_t>(MaxReplySize));
    return false;
  }
  ParseState state;
  std::unique_ptr<xmlDoc, DocDeleter> parsed = ParseReply(text, state);
  if (!parsed) {
    FParseError = state.Error;
  } else if (!CopyTree(parsed.get(), *FDoc, MaxDepth, FParseError)) {
    FDoc->reset();
  }
  return FParseError.empty();
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
  os::File file;
  if (!file.Open(path, os::Access::Write, os::Share::DenyWrite, os::Disposition::CreateAlways)) {
    int err = os::LastError();
    throw rtl::EOSError(rtl::Format("Cannot create file \"%s\". %s", path, os::ErrorText(err)), err);
  }
  if (!file.Write(text.data(), text.size(), 0) || !file.Close()) {
    int err = os::LastError();
    throw rtl::EOSError(rtl::Format("Cannot write file \"%s\". %s", path, os::ErrorText(err)), err);
  }
}

std::vector<XmlNode> XmlDocument::GetElementsByTagName(std::string_view name) const {
  return AsNode().GetElementsByTagName(name);
}

}  // namespace net
