// Completion of a folder chosen by the user into an install folder: a drive root gets the
// edition's sub-folder, a "tessaro" folder the edition name, a folder naming neither the brand,
// "Game" nor "hivora" gets "Game"; a valid result is tidied (separators, spaces, trailing "\").
#pragma once

#include <functional>
#include <string>

struct InstallPathNames {
  std::wstring installSubdir;  // "tessaro\Orvanta9\"
  std::wstring editionName;    // "Orvanta9"
  std::wstring brandName;      // "Orvanta"
};

std::wstring completeInstallPath(const std::wstring& chosen, const InstallPathNames& names,
                                 const std::function<bool(const std::wstring&)>& isValidInstallPath);
