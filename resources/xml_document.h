// A small, tolerant XML reader for the string bundles. It indexes the nodes of a UTF-16 text,
// decides whether the document is well formed and then builds a tree of elements (name,
// attributes with decoded values, text, children) for the caller to walk.
//
// The bundles may come from a "skin" folder that anyone able to write next to the program
// controls, so the reader assumes hostile input: no recursion (depth is unbounded), no
// platform headers (it also builds natively for sanitizers and fuzzing), work linear in the
// text. The core works on char16_t; the std::wstring overloads are the program's boundary
// (on Windows wchar_t is the same 16-bit unit).
//
// One document is used by one thread at a time. Elements belong to their document and live
// until it is destroyed or loads again.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <utility>
#include <vector>

class XmlElement {
 public:
  size_t childCount() const { return children_.size(); }
  // Null when the index is out of range.
  const XmlElement* child(size_t index) const { return index < children_.size() ? children_[index] : nullptr; }

  const std::u16string& name16() const { return name_; }
  // Empty for an element with children and for an empty element ("/>").
  const std::u16string& text16() const { return text_; }
  // The decoded value of the first attribute of that name (exact match); empty when absent.
  const std::u16string& attribute16(const std::u16string& name) const;

  size_t attributeCount() const { return attributes_.size(); }
  const std::u16string& attributeName(size_t index) const { return attributes_[index].first; }
  const std::u16string& attributeValue(size_t index) const { return attributes_[index].second; }

  std::wstring name() const;
  std::wstring text() const;
  std::wstring attribute(const std::wstring& name) const;

 private:
  friend class XmlDocument;

  std::u16string name_;
  std::u16string text_;
  std::vector<std::pair<std::u16string, std::u16string>> attributes_;
  std::vector<const XmlElement*> children_;
};

class XmlDocument {
 public:
  XmlDocument() = default;
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // True when the text is a well-formed document; the tree is then built. The previous tree is
  // released first, so after a false result root() is null. Never throws for any input
  // (short of running out of memory).
  bool loadFromString(const char16_t* text, size_t length);
  bool loadFromString(const std::u16string& text) { return loadFromString(text.data(), text.size()); }
  bool loadFromString(const std::wstring& text);

  // Null when no document is loaded.
  const XmlElement* root() const { return elements_.empty() ? nullptr : &elements_.front(); }

  // Why the last load failed: the messages joined by ", "; empty after a successful load.
  // Offsets count UTF-16 units from the start of the text and point at the node's "<".
  const std::u16string& error16() const { return error_; }
  std::wstring error() const;

 private:
  std::deque<XmlElement> elements_;  // document order, so the root comes first; a deque keeps addresses
  std::u16string error_;
};

// Decodes the five named entities and "&#...;" / "&#x...;" references of at most seven digits
// (values above 0xFFFF keep their low 16 bits); any other "&" is copied unchanged. Appends to out.
void decodeXmlEntities(const char16_t* begin, const char16_t* end, std::u16string& out);
