// The installer configuration document: a JSON object with one member per edition, each holding
// the strings "ver", "url" and "url_spare".
#pragma once

#include <string>

struct InstallerConfig {
  std::wstring version;
  std::wstring url;
  std::wstring spareUrl;
};

// Copies the edition member's string values into `config` (missing or non-string members leave
// their field unchanged). False when the text is not a JSON object.
bool parseInstallerConfig(const std::string& utf8, const char* editionMember, InstallerConfig& config);
