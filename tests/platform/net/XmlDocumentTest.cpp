#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "net/Limits.h"
#include "net/XmlDocument.h"
#include "os/FileFaults.h"
#include "rtl/Exception.h"
#include "support/ScratchDir.h"
#include "support/WriteFault.h"

namespace {

constexpr char kDecl[] = R"(<?xml version="1.0" encoding="UTF-8"?>)";

std::string Names(const std::vector<net::XmlNode>& nodes) {
  std::string out;
  for (const auto& n : nodes) out += n.NodeName() + "=" + n.Text() + ";";
  return out;
}

TEST(NetXmlDocument, BuildsTheTreeAndSerialisesItWithOneDeclarationAndNoWhitespace) {
  net::XmlDocument doc;
  net::XmlNode root = doc.AsNode().AppendElement("r");
  // Inserted after the root exists: it must still become the first node.
  net::XmlNode pi = doc.InsertProcessingInstruction("xml", R"(version="1.0" encoding="UTF-8")");
  root.SetAttribute("name", "a\"b&c");
  root.AppendElement("t", "1 < 2 & 3 > 2");
  root.AppendElement("empty");

  auto top = doc.AsNode().ChildNodes();
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[0], pi);
  EXPECT_EQ(pi.Type(), net::XmlNodeType::ProcessingInstruction);
  EXPECT_EQ(pi.NodeName(), "xml");
  EXPECT_EQ(doc.DocumentElement(), root);
  EXPECT_EQ(doc.Xml(),
            std::string(kDecl) +
                R"(<r name="a&quot;b&amp;c"><t>1 &lt; 2 &amp; 3 &gt; 2</t><empty/></r>)");

  // Without a declaration node the serialisation still has exactly one.
  net::XmlDocument bare;
  bare.AsNode().AppendElement("r");
  EXPECT_EQ(bare.Xml(), std::string(kDecl) + "<r/>");
  EXPECT_THROW(bare.InsertProcessingInstruction("xml", "version=1.0?>"), rtl::EInvalidOperation);
  EXPECT_EQ(net::XmlDocument().Xml(), "");
}

TEST(NetXmlDocument, TheDeclarationOfANewDocumentIsHeldOnceAsItsFirstNode) {
  net::XmlDocument doc;
  net::XmlNode pi = doc.InsertProcessingInstruction("xml", R"(version="1.0" encoding="UTF-8")");
  ASSERT_TRUE(pi);
  EXPECT_EQ(pi.NodeName(), "xml");
  net::XmlNode root = doc.AsNode().AppendElement("valmora");
  auto top = doc.AsNode().ChildNodes();
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[0], pi);
  EXPECT_EQ(top[1], root);
  EXPECT_EQ(doc.Xml(), std::string(kDecl) + "<valmora/>");
  EXPECT_THROW(doc.InsertProcessingInstruction("xml", R"(version="1.0")"), rtl::EInvalidOperation);
  EXPECT_EQ(doc.AsNode().ChildNodes().size(), 2u);

  net::XmlDocument other;
  net::XmlNode note = other.InsertProcessingInstruction("note", "kept");
  ASSERT_TRUE(note);
  EXPECT_EQ(other.AsNode().ChildNodes().at(0), note);
}

TEST(NetXmlDocument, TextIsWindows1252InsideAndUtf8InTheDocument) {
  net::XmlDocument doc;
  doc.AsNode().AppendElement("n", "Jos\xE9 \x80").SetAttribute("city", "K\xF6ln");
  std::string xml = doc.Xml();
  EXPECT_NE(xml.find("<n city=\"K\xC3\xB6ln\">Jos\xC3\xA9 \xE2\x82\xAC</n>"), std::string::npos);

  net::XmlDocument reply;
  // U+4E2D has no Windows-1252 form.
  ASSERT_TRUE(reply.LoadXML("<n a=\"\xC3\xA9\">\xC3\xBC \xE4\xB8\xAD</n>"));
  EXPECT_EQ(reply.DocumentElement().Text(), "\xFC ?");
  EXPECT_EQ(reply.DocumentElement().GetAttribute("a"), "\xE9");
  // The declaration names the encoding of a reply's bytes.
  ASSERT_TRUE(reply.LoadXML("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><n>\xE9</n>"));
  EXPECT_EQ(reply.DocumentElement().Text(), "\xE9");
  EXPECT_EQ(reply.Xml(), std::string(kDecl) + "<n>\xC3\xA9</n>");
  // 0x80 is the euro sign in windows-1252 and a control character in ISO-8859-1.
  ASSERT_TRUE(reply.LoadXML(
      "<?xml version=\"1.0\" encoding=\"windows-1252\"?><n a=\"\x80\">\xE9 \x80</n>"));
  EXPECT_EQ(reply.DocumentElement().Text(), "\xE9 \x80");
  EXPECT_EQ(reply.DocumentElement().GetAttribute("a"), "\x80");
  EXPECT_EQ(reply.Xml(), std::string(kDecl) + "<n a=\"\xE2\x82\xAC\">\xC3\xA9 \xE2\x82\xAC</n>");
}

TEST(NetXmlDocument, ElementsAreFoundByExactNameAtAnyDepthInDocumentOrder) {
  net::XmlDocument doc;
  ASSERT_TRUE(
      doc.LoadXML("<Envelope><Body><x>1</x><Fault><x>2<x>3</x></x></Fault></Body>"
                  "<X>no</X><x><![CDATA[4<]]> and 5</x></Envelope>"));
  EXPECT_EQ(Names(doc.GetElementsByTagName("x")), "x=1;x=23;x=3;x=4< and 5;");
  EXPECT_EQ(Names(doc.GetElementsByTagName("X")), "X=no;");
  EXPECT_TRUE(doc.GetElementsByTagName("missing").empty());
  // From an element: its descendants only, not the element itself.
  net::XmlNode fault = doc.GetElementsByTagName("Fault").at(0);
  EXPECT_EQ(Names(fault.GetElementsByTagName("x")), "x=23;x=3;");
  EXPECT_EQ(fault.Text(), "23");

  auto children = doc.GetElementsByTagName("x")[1].ChildNodes();
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[0].Type(), net::XmlNodeType::Text);
  EXPECT_TRUE(children[1].IsElement());

  ASSERT_TRUE(doc.LoadXML(R"(<e Code="12" Type="Validation">bad</e>)"));
  net::XmlNode e = doc.DocumentElement();
  EXPECT_EQ(e.GetAttribute("Type"), "Validation");
  EXPECT_EQ(e.GetAttribute("Code"), "12");
  EXPECT_FALSE(e.HasAttribute("type"));
  EXPECT_EQ(e.GetAttribute("type"), "");
}

TEST(NetXmlDocument, WhatIsNotOneWellFormedDocumentLeavesTheDocumentEmpty) {
  std::string deep;
  for (int i = 0; i <= net::XmlDocument::MaxDepth; ++i) deep += "<d>";
  for (int i = 0; i <= net::XmlDocument::MaxDepth; ++i) deep += "</d>";
  const std::string cases[] = {
      "",
      "   ",
      "Internal Server Error",
      "<html><body><p>Bad gateway<br></p></body></html>",
      "<a><b></a>",
      "<a/><b/>",
      "text<a/>",
      "<a/>text",
      deep,
      // not well-formed inside the root
      "<a>fish & chips</a>",
      "<a>&nbsp;</a>",
      "<a b=\"&nbsp;\"/>",
      "<!DOCTYPE a SYSTEM \"a.dtd\"><a>&nbsp;</a>",  // not even where a DTD might declare it
      "<a b=\"1\" b=\"2\"/>",
      "<a b=\"1<2\"/>",
      "<a>\x01</a>",
      "<a>&#1;</a>",
      "<a><!-- a -- b --></a>",
      "<a>]]></a>",
      // bytes the encoding does not allow
      "<a>\xC3\x28</a>",
      "<a>\xE9</a>",  // Latin-1 without a declaration saying so
      "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x81</a>",
      "<?xml version=\"1.0\" encoding=\"x-no-such-encoding\"?><a/>",
      // entities are never declared, so never expanded or fetched
      "<!DOCTYPE a [<!ENTITY e \"x\">]><a/>",
      "<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/hostname\">]><a>&e;</a>",
      "<!DOCTYPE a [<!ENTITY % p \"x\">]><a/>",
      "<!DOCTYPE a [<!ENTITY a \"&b;&b;\"><!ENTITY b \"xxxxxxxxxxxxxxxx\">]><a>&a;</a>",
  };
  for (const auto& text : cases) {
    net::XmlDocument doc;
    ASSERT_TRUE(doc.LoadXML("<previous/>"));
    EXPECT_FALSE(doc.LoadXML(text)) << text;
    EXPECT_FALSE(doc.ParseError().empty()) << text;
    EXPECT_FALSE(doc.DocumentElement()) << text;
    EXPECT_TRUE(doc.AsNode().ChildNodes().empty()) << text;
    EXPECT_EQ(doc.Xml(), "") << text;
  }

  // One level less is accepted; a byte-order mark and a comment are fine.
  net::XmlDocument doc;
  EXPECT_TRUE(doc.LoadXML(deep.substr(3, deep.size() - 7)));
  EXPECT_TRUE(doc.LoadXML("\xEF\xBB\xBF<!-- note --><a/>"));
}

TEST(NetXmlDocument, ADoctypeWithoutEntitiesAndCharacterReferencesAreRead) {
  net::XmlDocument doc;
  ASSERT_TRUE(doc.LoadXML("<!DOCTYPE a><a b=\"&lt;&#65;\">&amp;&#65;&#x20AC;<?pi x?></a>"))
      << doc.ParseError();
  EXPECT_EQ(doc.DocumentElement().Text(), "&A\x80");
  EXPECT_EQ(doc.DocumentElement().GetAttribute("b"), "<A");
  EXPECT_EQ(doc.DocumentElement().ChildNodes().size(), 1u);  // the processing instruction is not kept
}

TEST(NetXmlDocument, PrefixedNamesAndNamespaceDeclarationsStayAsWritten) {
  net::XmlDocument doc;
  ASSERT_TRUE(doc.LoadXML(
      "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" a=\"1\">\n"
      "  <soap:Body>\n    <faultstring xml:lang=\"en\">No</faultstring>\n  </soap:Body>\n"
      "</soap:Envelope>"))
      << doc.ParseError();
  EXPECT_EQ(doc.DocumentElement().NodeName(), "soap:Envelope");
  EXPECT_EQ(doc.DocumentElement().GetAttribute("xmlns:soap"),
            "http://schemas.xmlsoap.org/soap/envelope/");
  EXPECT_EQ(doc.GetElementsByTagName("faultstring").at(0).GetAttribute("xml:lang"), "en");
  EXPECT_EQ(doc.Xml(), std::string(kDecl) +
                           "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                           "a=\"1\"><soap:Body><faultstring xml:lang=\"en\">No</faultstring>"
                           "</soap:Body></soap:Envelope>");
}

TEST(NetXmlDocument, ATextLargerThanTheReplyBoundIsRefusedUnread) {
  std::string text = "<a>" + std::string(net::MaxReplySize - 7, 'x') + "</a>";
  net::XmlDocument doc;
  EXPECT_FALSE(doc.LoadXML(text + " "));
  EXPECT_NE(doc.ParseError().find("larger than"), std::string::npos) << doc.ParseError();
  EXPECT_FALSE(doc.DocumentElement());
}

TEST(NetXmlDocument, FormattedXmlPutsOneElementPerLineIndentedByLevel) {
  net::XmlDocument doc;
  doc.InsertProcessingInstruction("xml", R"(version="1.0" encoding="UTF-8")");
  net::XmlNode root = doc.AsNode().AppendElement("valmora");
  root.AppendElement("header").AppendElement("login", "me");
  root.AppendElement("action").SetAttribute("name", "x");
  EXPECT_EQ(doc.FormattedXml(), std::string(kDecl) +
                                    "\n<valmora>\n"
                                    "  <header>\n"
                                    "    <login>me</login>\n"
                                    "  </header>\n"
                                    "  <action name=\"x\" />\n"
                                    "</valmora>\n");
}

TEST(NetXmlDocument, SaveWritesTheSerialisationAndReportsAFileThatCannotBeWritten) {
  testsupport::ScratchDir dir;
  std::string path = dir / "copy.xml";
  {
    std::ofstream old(path);
    old << "an older and much longer copy of another exchange";
  }
  net::XmlDocument doc;
  doc.AsNode().AppendElement("r", "\xE9");
  doc.Save(path);
  std::stringstream saved;
  saved << std::ifstream(path, std::ios::binary).rdbuf();
  EXPECT_EQ(saved.str(), doc.Xml());

  try {
    doc.Save(dir / "missing/copy.xml");
    ADD_FAILURE() << "no error";
  } catch (const rtl::EOSError& e) {
    EXPECT_NE(e.ErrorCode, 0);
    EXPECT_NE(e.Message().find("missing/copy.xml"), std::string::npos);
  }

  {
    // The copy is written through the file layer, whose failures it reports.
    testsupport::ArmedWriteFault fault(1, os::faults::WriteFault::FailOnce);
    try {
      doc.Save(path);
      ADD_FAILURE() << "no error";
    } catch (const rtl::EOSError& e) {
      EXPECT_EQ(e.ErrorCode, EIO);
    }
  }
}

TEST(NetXmlDocument, ChangingTheNullNodeIsRefused) {
  net::XmlNode null;
  EXPECT_EQ(null.Text(), "");
  EXPECT_EQ(null.GetAttribute("a"), "");
  EXPECT_TRUE(null.GetElementsByTagName("a").empty());
  EXPECT_THROW(null.AppendElement("a"), rtl::EInvalidOperation);
  EXPECT_THROW(null.SetText("a"), rtl::EInvalidOperation);
  EXPECT_THROW(null.SetAttribute("a", "b"), rtl::EInvalidOperation);
}

}  // namespace
