#include "resources/xml_document.h"

#include <string_view>
#include <unordered_map>

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

enum class NodeKind {
  kStartTag,
  kEndTag,
  kText,
  kWhitespace,
  kCData,
  kComment,
  kProcessingInstruction,
  kDeclaration,
  kBadTagCharacter,  // "<" followed by a character that starts no construct
  kUnterminated,     // a construct that runs into the end of the text
};

struct Node {
  NodeKind kind = NodeKind::kText;
  size_t start = 0;      // first unit; "<" for markup
  size_t end = 0;        // one past the last unit
  size_t nameStart = 0;  // tags: the element name
  size_t nameEnd = 0;
  size_t attributesEnd = 0;             // start tags: end of the attribute area (before "/>" or ">")
  bool empty = false;                   // start tags ending in "/>"
  const char16_t* construct = nullptr;  // unterminated: what was cut off
};

struct ElementRecord {
  size_t parent = kNone;
  size_t tagStart = 0;
  size_t nameStart = 0;
  size_t nameEnd = 0;
  size_t attributesEnd = 0;
  size_t contentStart = 0;
  size_t contentEnd = 0;
  bool empty = false;
  bool hasChildren = false;
};

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

bool startsTagName(char16_t c) { return (c >= u'A' && c <= u'Z') || c > 96 || c == u'_' || c == u':'; }

// Position of the first occurrence of the pattern at or after from, or kNone.
size_t findFrom(const char16_t* s, size_t n, size_t from, std::u16string_view pattern) {
  if (from > n) return kNone;
  std::u16string_view view(s + from, n - from);
  size_t at = view.find(pattern);
  return at == std::u16string_view::npos ? kNone : from + at;
}

bool hasPrefix(const char16_t* s, size_t n, size_t at, std::u16string_view prefix) {
  return n - at >= prefix.size() && std::u16string_view(s + at, prefix.size()) == prefix;
}

Node unterminated(size_t start, const char16_t* construct) {
  Node node;
  node.kind = NodeKind::kUnterminated;
  node.start = start;
  node.end = kNone;
  node.construct = construct;
  return node;
}

// Classifies the node that starts at p (p < n). The returned end is always past p, except for
// an unterminated construct, which ends the scan.
Node lexNode(const char16_t* s, size_t n, size_t p) {
  Node node;
  node.start = p;
  if (s[p] != u'<') {
    size_t i = p;
    bool blank = true;
    for (; i < n && s[i] != u'<'; ++i) blank = blank && isBlank(s[i]);
    node.kind = blank ? NodeKind::kWhitespace : NodeKind::kText;
    node.end = i;
    return node;
  }
  if (p + 1 >= n) return unterminated(p, u"Element tag");
  char16_t c = s[p + 1];

  if (startsTagName(c)) {
    size_t i = p + 1;
    while (i < n && !isBlank(s[i]) && s[i] != u'/' && s[i] != u'>') ++i;
    node.nameStart = p + 1;
    node.nameEnd = i;
    // Only a quote that opens an attribute value protects a ">" inside it.
    bool afterEquals = false;
    while (i < n && s[i] != u'>') {
      char16_t ch = s[i];
      if (ch == u'=') {
        afterEquals = true;
      } else if (afterEquals && (ch == u'"' || ch == u'\'')) {
        size_t close = findFrom(s, n, i + 1, std::u16string_view(&ch, 1));
        if (close == kNone) return unterminated(p, u"Element tag");
        i = close;
        afterEquals = false;
      } else if (!isBlank(ch)) {
        afterEquals = false;
      }
      ++i;
    }
    if (i >= n) return unterminated(p, u"Element tag");
    node.kind = NodeKind::kStartTag;
    node.empty = s[i - 1] == u'/';
    node.attributesEnd = node.empty ? i - 1 : i;
    if (node.attributesEnd < node.nameEnd) node.attributesEnd = node.nameEnd;
    node.end = i + 1;
    return node;
  }

  if (c == u'/') {
    size_t i = p + 2;
    while (i < n && !isBlank(s[i]) && s[i] != u'>') ++i;
    node.nameStart = p + 2;
    node.nameEnd = i;
    size_t close = findFrom(s, n, i, u">");
    if (close == kNone) return unterminated(p, u"Element end tag");
    node.kind = NodeKind::kEndTag;
    node.end = close + 1;
    return node;
  }

  if (c == u'?') {
    size_t close = findFrom(s, n, p + 2, u"?>");
    if (close == kNone) return unterminated(p, u"Processing instruction");
    node.kind = NodeKind::kProcessingInstruction;
    node.end = close + 2;
    return node;
  }

  if (c == u'!') {
    if (hasPrefix(s, n, p, u"<!--")) {
      size_t close = findFrom(s, n, p + 4, u"-->");
      if (close == kNone) return unterminated(p, u"Comment");
      node.kind = NodeKind::kComment;
      node.end = close + 3;
      return node;
    }
    if (hasPrefix(s, n, p, u"<![CDATA[")) {
      size_t close = findFrom(s, n, p + 9, u"]]>");
      if (close == kNone) return unterminated(p, u"CDATA Section");
      node.kind = NodeKind::kCData;
      node.end = close + 3;
      return node;
    }
    // A document type may carry an internal subset in brackets; quoted literals may hold ">".
    bool doctype = p + 2 < n && s[p + 2] == u'D';
    size_t depth = 0;
    for (size_t i = p + 2; i < n; ++i) {
      char16_t ch = s[i];
      if (ch == u'"' || ch == u'\'') {
        size_t close = findFrom(s, n, i + 1, std::u16string_view(&ch, 1));
        if (close == kNone) break;
        i = close;
      } else if (doctype && ch == u'[') {
        ++depth;
      } else if (doctype && ch == u']' && depth > 0) {
        --depth;
      } else if (ch == u'>' && depth == 0) {
        node.kind = NodeKind::kDeclaration;
        node.end = i + 1;
        return node;
      }
    }
    return unterminated(p, u"Doctype");
  }

  node.kind = NodeKind::kBadTagCharacter;
  node.end = p + 1;
  return node;
}

std::u16string number(size_t value) {
  std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

void addError(std::u16string& errors, const std::u16string& message) {
  if (!errors.empty()) errors += u", ";
  errors += message;
}

bool decodeReference(const char16_t* p, const char16_t* end, char16_t& value, size_t& used) {
  static const struct {
    std::u16string_view name;
    char16_t value;
  } kNamed[] = {{u"&lt;", u'<'}, {u"&amp;", u'&'}, {u"&gt;", u'>'}, {u"&apos;", u'\''}, {u"&quot;", u'"'}};
  size_t available = static_cast<size_t>(end - p);
  for (const auto& entity : kNamed) {
    if (available >= entity.name.size() && std::u16string_view(p, entity.name.size()) == entity.name) {
      value = entity.value;
      used = entity.name.size();
      return true;
    }
  }
  if (available < 4 || p[1] != u'#') return false;
  bool hex = p[2] == u'x';
  const char16_t* digits = p + (hex ? 3 : 2);
  unsigned long total = 0;
  size_t count = 0;
  for (const char16_t* q = digits; q < end; ++q) {
    char16_t ch = *q;
    if (ch == u';') {
      if (count == 0) return false;
      value = static_cast<char16_t>(total & 0xFFFF);
      used = static_cast<size_t>(q + 1 - p);
      return true;
    }
    if (++count > 7) return false;
    unsigned digit;
    if (ch >= u'0' && ch <= u'9') {
      digit = ch - u'0';
    } else if (hex && ch >= u'a' && ch <= u'f') {
      digit = ch - u'a' + 10;
    } else if (hex && ch >= u'A' && ch <= u'F') {
      digit = ch - u'A' + 10;
    } else {
      return false;
    }
    total = total * (hex ? 16 : 10) + digit;
  }
  return false;
}

void parseAttributes(const char16_t* s, size_t from, size_t to,
                     std::vector<std::pair<std::u16string, std::u16string>>& attributes) {
  size_t i = from;
  while (i < to) {
    while (i < to && isBlank(s[i])) ++i;
    size_t nameStart = i;
    while (i < to && !isBlank(s[i]) && s[i] != u'=') ++i;
    if (i == nameStart) {  // a stray "=": no name to attach it to
      if (i < to) ++i;
      continue;
    }
    std::u16string name(s + nameStart, i - nameStart);
    std::u16string value;
    size_t j = i;
    while (j < to && isBlank(s[j])) ++j;
    if (j < to && s[j] == u'=') {
      ++j;
      while (j < to && isBlank(s[j])) ++j;
      size_t valueStart = j;
      size_t valueEnd;
      if (j < to && (s[j] == u'"' || s[j] == u'\'')) {
        char16_t quote = s[j];
        valueStart = j + 1;
        valueEnd = valueStart;
        while (valueEnd < to && s[valueEnd] != quote) ++valueEnd;
        j = valueEnd < to ? valueEnd + 1 : to;
      } else {
        while (j < to && !isBlank(s[j])) ++j;
        valueEnd = j;
      }
      decodeXmlEntities(s + valueStart, s + valueEnd, value);
      i = j;
    }
    attributes.emplace_back(std::move(name), std::move(value));
  }
}

// Text of an element without children: the content decoded when it holds no markup, otherwise
// its text nodes (decoded) and CDATA contents (raw) in order.
std::u16string elementText(const char16_t* s, size_t from, size_t to) {
  std::u16string text;
  if (std::u16string_view(s + from, to - from).find(u'<') == std::u16string_view::npos) {
    decodeXmlEntities(s + from, s + to, text);
    return text;
  }
  size_t p = from;
  while (p < to) {
    Node node = lexNode(s, to, p);
    if (node.kind == NodeKind::kUnterminated) break;  // cannot happen in a well-formed document
    if (node.kind == NodeKind::kText) {
      decodeXmlEntities(s + node.start, s + node.end, text);
    } else if (node.kind == NodeKind::kCData) {
      text.append(s + node.start + 9, node.end - 3 - (node.start + 9));
    }
    p = node.end;
  }
  return text;
}

std::wstring toWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

void decodeXmlEntities(const char16_t* begin, const char16_t* end, std::u16string& out) {
  out.reserve(out.size() + static_cast<size_t>(end - begin));
  const char16_t* p = begin;
  while (p < end) {
    if (*p == u'&') {
      char16_t value;
      size_t used;
      if (decodeReference(p, end, value, used)) {
        out.push_back(value);
        p += used;
        continue;
      }
    }
    out.push_back(*p++);
  }
}

const std::u16string& XmlElement::attribute16(const std::u16string& name) const {
  static const std::u16string kEmpty;
  for (const auto& attribute : attributes_)
    if (attribute.first == name) return attribute.second;
  return kEmpty;
}

std::wstring XmlElement::name() const { return toWide(name_); }
std::wstring XmlElement::text() const { return toWide(text_); }
std::wstring XmlElement::attribute(const std::wstring& name) const {
  return toWide(attribute16(std::u16string(name.begin(), name.end())));
}

std::wstring XmlDocument::error() const { return toWide(error_); }

bool XmlDocument::loadFromString(const std::wstring& text) {
  std::u16string units(text.begin(), text.end());
  return loadFromString(units.data(), units.size());
}

bool XmlDocument::loadFromString(const char16_t* s, size_t n) {
  elements_.clear();
  error_.clear();
  if (n == 0) {
    error_ = u"Empty document";
    return false;
  }

  std::vector<ElementRecord> records;
  std::vector<size_t> open;  // indexes into records, innermost last
  // How many open elements carry each name: an end tag that matches none is found without
  // walking the open stack, which keeps hostile input linear.
  std::unordered_map<std::u16string_view, size_t> openByName;
  size_t topLevel = 0;
  std::u16string errors;
  auto nameOf = [&](const ElementRecord& r) { return std::u16string_view(s + r.nameStart, r.nameEnd - r.nameStart); };

  size_t p = 0;
  while (p < n) {
    Node node = lexNode(s, n, p);
    if (node.kind == NodeKind::kUnterminated) {
      addError(errors, std::u16string(node.construct) + u" at offset " + number(node.start) + u" unterminated");
      break;
    }
    if (node.kind == NodeKind::kBadTagCharacter) {
      addError(errors, u"Incorrect tag name character at offset " + number(node.start));
    } else if (node.kind == NodeKind::kStartTag) {
      ElementRecord record;
      record.parent = open.empty() ? kNone : open.back();
      record.tagStart = node.start;
      record.nameStart = node.nameStart;
      record.nameEnd = node.nameEnd;
      record.attributesEnd = node.attributesEnd;
      record.contentStart = node.end;
      record.contentEnd = node.end;
      record.empty = node.empty;
      if (record.parent == kNone)
        ++topLevel;
      else
        records[record.parent].hasChildren = true;
      records.push_back(record);
      if (!node.empty) {
        open.push_back(records.size() - 1);
        ++openByName[nameOf(record)];
      }
    } else if (node.kind == NodeKind::kEndTag) {
      std::u16string_view name(s + node.nameStart, node.nameEnd - node.nameStart);
      auto found = openByName.find(name);
      if (found == openByName.end() || found->second == 0) {
        addError(errors, u"No start tag for end tag '" + std::u16string(name) + u"' at offset " + number(node.start));
      } else {
        // Close every element opened inside the matching one, then the matching one itself.
        while (true) {
          ElementRecord& inner = records[open.back()];
          open.pop_back();
          --openByName[nameOf(inner)];
          if (nameOf(inner) == name) {
            inner.contentEnd = node.start;
            break;
          }
          addError(errors, u"End tag '" + std::u16string(name) + u"' at offset " + number(node.start) +
                               u" does not match start tag '" + std::u16string(nameOf(inner)) + u"' at offset " +
                               number(inner.tagStart));
        }
      }
    }
    p = node.end;
  }

  for (size_t i = open.size(); i-- > 0;) {
    const ElementRecord& record = records[open[i]];
    addError(errors,
             u"Element '" + std::u16string(nameOf(record)) + u"' at offset " + number(record.tagStart) + u" not ended");
  }
  if (topLevel == 0) addError(errors, u"No root element");
  if (topLevel > 1) addError(errors, u"Root element has sibling");
  if (!errors.empty()) {
    error_ = std::move(errors);
    return false;
  }

  // Records are in document order, so a parent always exists before its children.
  for (const ElementRecord& record : records) {
    elements_.emplace_back();
    XmlElement& element = elements_.back();
    element.name_.assign(s + record.nameStart, record.nameEnd - record.nameStart);
    parseAttributes(s, record.nameEnd, record.attributesEnd, element.attributes_);
    if (!record.empty && !record.hasChildren) element.text_ = elementText(s, record.contentStart, record.contentEnd);
    if (record.parent != kNone) elements_[record.parent].children_.push_back(&element);
  }
  return true;
}
