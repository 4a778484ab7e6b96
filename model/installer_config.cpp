#include "model/installer_config.h"

#include <rapidjson/document.h>

#include "common/text_codec.h"

bool parseInstallerConfig(const std::string& utf8, const char* editionMember, InstallerConfig& config) {
  rapidjson::Document doc;
  doc.Parse(utf8.c_str(), utf8.size());
  if (doc.HasParseError() || !doc.IsObject()) return false;
  auto edition = doc.FindMember(editionMember);
  if (edition == doc.MemberEnd() || !edition->value.IsObject()) return true;
  const rapidjson::Value& values = edition->value;
  auto copy = [&values](const char* name, std::wstring& field) {
    auto it = values.FindMember(name);
    if (it != values.MemberEnd() && it->value.IsString())
      field = utf8ToWide(std::string(it->value.GetString(), it->value.GetStringLength()));
  };
  copy("ver", config.version);
  copy("url", config.url);
  copy("url_spare", config.spareUrl);
  return true;
}
