// libFuzzer target for the XML reader: the input is UTF-16LE text handed to loadFromString; a
// well-formed result is walked completely. Built and run by scripts/fuzz-xml.sh (native clang
// with AddressSanitizer and UndefinedBehaviorSanitizer).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "resources/xml_document.h"

namespace {

// Stops the run with a crash report when a property of the tree does not hold.
void require(bool condition) {
  if (!condition) __builtin_trap();
}

size_t walk(const XmlElement* root) {
  size_t units = 0;
  std::vector<const XmlElement*> pending{root};
  while (!pending.empty()) {
    const XmlElement* element = pending.back();
    pending.pop_back();
    require(!element->name16().empty());
    require(element->childCount() == 0 || element->text16().empty());
    require(element->child(element->childCount()) == nullptr);
    units += element->name16().size() + element->text16().size() + element->name().size();
    for (size_t i = 0; i < element->attributeCount(); ++i)
      units += element->attributeName(i).size() + element->attributeValue(i).size();
    // A lookup per element, as the bundle loader does (one per attribute would be quadratic).
    units += element->attribute16(u"id").size();
    if (element->attributeCount())
      require(&element->attribute16(element->attributeName(0)) == &element->attributeValue(0));
    for (size_t i = 0; i < element->childCount(); ++i) {
      const XmlElement* child = element->child(i);
      require(child != nullptr);
      pending.push_back(child);
    }
  }
  return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));

  XmlDocument document;
  bool wellFormed = document.loadFromString(text);
  require(wellFormed == (document.root() != nullptr));
  require(wellFormed == document.error16().empty());
  if (wellFormed) {
    volatile size_t sink = walk(document.root());
    (void)sink;
  }
  // The program's wide boundary must agree with the core.
  XmlDocument wide;
  require(wide.loadFromString(std::wstring(text.begin(), text.end())) == wellFormed);
  return 0;
}
