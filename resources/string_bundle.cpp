#include "resources/string_bundle.h"

#include <windows.h>

#include "common/log.h"
#include "resources/xml_document.h"

bool loadStringBundle(const std::wstring& text, std::map<std::wstring, std::wstring>& texts) {
  const char* tag = "HVDownloaderModel::loadLanguage";
  int length = static_cast<int>(text.size());
  common::log(tag, __LINE__, L"load language length %d", length);
  XmlDocument document;
  if (!document.loadFromString(text)) {
    common::log(tag, __LINE__, L"language load from string error. length:%d, error:%d", length,
                static_cast<int>(GetLastError()));
    return false;
  }
  const XmlElement* root = document.root();
  for (size_t i = 0; i < root->childCount(); ++i) {
    const XmlElement* item = root->child(i);
    if (item->name16() != u"String") continue;
    const std::u16string& value = item->text16();
    const std::u16string& id = item->attribute16(u"id");
    if (id.empty() || value.empty()) continue;
    texts[std::wstring(id.begin(), id.end())] = std::wstring(value.begin(), value.end());
  }
  return true;
}
