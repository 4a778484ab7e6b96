#include "resources/xml_document.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// name{attr=value,...}"text"[child child ...]
std::u16string dump(const XmlElement* element) {
  std::u16string out = element->name16();
  if (element->attributeCount()) {
    out += u"{";
    for (size_t i = 0; i < element->attributeCount(); ++i) {
      if (i) out += u",";
      out += element->attributeName(i) + u"=" + element->attributeValue(i);
    }
    out += u"}";
  }
  if (!element->text16().empty()) out += u"\"" + element->text16() + u"\"";
  if (element->childCount()) {
    out += u"[";
    for (size_t i = 0; i < element->childCount(); ++i) {
      if (i) out += u" ";
      out += dump(element->child(i));
    }
    out += u"]";
  }
  return out;
}

std::string narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      char hex[16];
      snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
      out += hex;
    }
  }
  return out;
}

struct Case {
  const char* scenario;
  std::u16string document;
  bool wellFormed;
  std::u16string expected;  // the tree when well formed, otherwise the error text
};

}  // namespace

// Each document gets its verdict and either its tree (names, decoded attributes, text rules) or
// the reader's exact error messages with their offsets.
TEST(XmlDocumentTest, DocumentsTreesAndErrors) {
  const Case cases[] = {
      {"byte-order mark is text before the root",
       u"\uFEFF<StringBundle ver=\"100\"><String id=\"Yes\">\u662F</String></StringBundle>", true,
       u"StringBundle{ver=100}[String{id=Yes}\"\u662F\"]"},
      {"escaped markup reads back", u"<s>&lt;u #666666&gt;license&lt;/u&gt;</s>", true, u"s\"<u #666666>license</u>\""},
      {"text around the root", u"lead <a/> tail", true, u"a"},
      {"text with a child is empty", u"<a>x<b>y</b>z</a>", true, u"a[b\"y\"]"},
      {"empty element and empty content", u"<a><b/><c></c><d> \r\n</d></a>", true, u"a[b c d\" \r\n\"]"},
      {"numeric references", u"<a>&#26159;&#x662f;&#x662F;&#0000065;</a>", true, u"a\"\u662F\u662F\u662FA\""},
      {"values above 0xFFFF keep 16 bits", u"<a>&#x1F600;&#1114111;</a>", true, u"a\"\uF600\uFFFF\""},
      {"unknown and malformed references stay", u"<a>&abc; &amp;lt; &#; &#x; &#00000065; &#X41; &#65 &#6a; &</a>", true,
       u"a\"&abc; &lt; &#; &#x; &#00000065; &#X41; &#65 &#6a; &\""},
      {"quoted values may hold > and <", u"<a x=\"1>2\" y='<b>' z = \"&apos;&quot;\">t</a>", true,
       u"a{x=1>2,y=<b>,z='\"}\"t\""},
      {"empty element with attributes", u"<a k='v'/>", true, u"a{k=v}"},
      {"CDATA, comments and instructions in text", u"<a> x <!-- c --> <![CDATA[<y>&amp;]]> &lt; <?pi?></a>", true,
       u"a\" x <y>&amp; < \""},
      {"declarations and a document type with a subset",
       u"<?xml version=\"1.0\"?>\r\n<!DOCTYPE a [<!ENTITY e \"x>y\">]>\r\n<!-- c --><a/>", true, u"a"},
      {"two roots", u"<a/><b/>", false, u"Root element has sibling"},
      {"empty text", u"", false, u"Empty document"},
      {"no element", u"just text", false, u"No root element"},
      {"only markup without element", u"<?xml version=\"1.0\"?><!-- c -->", false, u"No root element"},
      {"bad tag name character", u"<a>1 < 2</a>", false, u"Incorrect tag name character at offset 5"},
      {"digit starts no tag", u"<1/>", false, u"Incorrect tag name character at offset 0, No root element"},
      {"end tag closes an outer element", u"<a><b><c></a>", false,
       u"End tag 'a' at offset 9 does not match start tag 'c' at offset 6, "
       u"End tag 'a' at offset 9 does not match start tag 'b' at offset 3"},
      {"end tag without start", u"<a></b></a>", false, u"No start tag for end tag 'b' at offset 3"},
      {"end tags are case-sensitive", u"<a></A>", false,
       u"No start tag for end tag 'A' at offset 3, Element 'a' at offset 0 not ended"},
      {"element not ended", u"<a><b></b>", false, u"Element 'a' at offset 0 not ended"},
      {"unterminated start tag", u"<a><b x='>", false,
       u"Element tag at offset 3 unterminated, Element 'a' at offset 0 not ended"},
      {"lone < at the end", u"<", false, u"Element tag at offset 0 unterminated, No root element"},
      {"unterminated end tag", u"<a></a", false,
       u"Element end tag at offset 3 unterminated, Element 'a' at offset 0 not ended"},
      {"unterminated CDATA", u"<a><![CDATA[x</a>", false,
       u"CDATA Section at offset 3 unterminated, Element 'a' at offset 0 not ended"},
      {"unterminated instruction", u"<?xml", false,
       u"Processing instruction at offset 0 unterminated, No root element"},
      {"unterminated comment", u"<a><!-- x</a>", false,
       u"Comment at offset 3 unterminated, Element 'a' at offset 0 not ended"},
      {"unterminated document type", u"<!DOCTYPE a [<!ENTITY e \"x\">", false,
       u"Doctype at offset 0 unterminated, No root element"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    XmlDocument document;
    bool wellFormed = document.loadFromString(c.document);
    EXPECT_EQ(wellFormed, c.wellFormed);
    if (c.wellFormed) {
      ASSERT_NE(document.root(), nullptr);
      EXPECT_EQ(narrow(dump(document.root())), narrow(c.expected));
      EXPECT_TRUE(document.error16().empty());
    } else {
      EXPECT_EQ(document.root(), nullptr);
      EXPECT_EQ(narrow(document.error16()), narrow(c.expected));
    }
  }
}

// The program's wide boundary: lookups by wide names, missing attributes and children give
// empty text and null, and a failed load releases the tree of the previous one.
TEST(XmlDocumentTest, WideAccessAndReload) {
  XmlDocument document;
  ASSERT_TRUE(document.loadFromString(std::wstring(L"<r id=\"x\" id=\"y\"><s>\u662F</s></r>")));
  const XmlElement* root = document.root();
  EXPECT_EQ(root->name(), L"r");
  EXPECT_EQ(root->attribute(L"id"), L"x");
  EXPECT_EQ(root->attribute(L"ID"), L"");
  EXPECT_EQ(root->child(0)->text(), L"\u662F");
  EXPECT_EQ(root->child(1), nullptr);

  EXPECT_FALSE(document.loadFromString(std::wstring(L"<r>")));
  EXPECT_EQ(document.root(), nullptr);
  EXPECT_EQ(document.error(), L"Element 'r' at offset 0 not ended");
}

// Hostile nesting: 200000 levels load, walk and unload without exhausting the stack, and the
// same depth left open is reported rather than crashing.
TEST(XmlDocumentTest, DeepNestingNeedsNoRecursion) {
  const size_t depth = 200000;
  std::u16string text;
  for (size_t i = 0; i < depth; ++i) text += u"<e>";
  std::u16string open = text;
  text += u"leaf";
  for (size_t i = 0; i < depth; ++i) text += u"</e>";
  {
    XmlDocument document;
    ASSERT_TRUE(document.loadFromString(text));
    const XmlElement* element = document.root();
    size_t levels = 1;
    while (element->childCount()) {
      element = element->child(0);
      ++levels;
    }
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(element->text16(), u"leaf");
  }
  XmlDocument unclosed;
  EXPECT_FALSE(unclosed.loadFromString(open));
}
