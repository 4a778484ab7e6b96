// The process-wide table of edition-dependent names, folders, registry keys, URLs and file names.
// Created on first use (on the UI thread, before any worker), never destroyed; readable from any
// thread. Only `edition` (set by the model's init) and `installerOverride` (set when a remembered
// installer is reused) change.
#pragma once

#include <string>

class EditionCatalog {
 public:
  static EditionCatalog& instance();

  std::wstring region = L"cn";
  std::wstring installerOverride;
  int edition = 3;

  std::wstring editionName() const;
  std::wstring installSubdir() const;    // ends with a backslash
  std::wstring registryKey() const;      // under HKEY_CURRENT_USER
  std::wstring defaultInstallerUrl() const;  // full URL on the release CDN
  std::wstring brandName() const { return L"Orvanta"; }
  std::wstring configUrl() const;
  std::wstring homePage() const;
  std::wstring languageFile() const;
  // The override when it names an existing file or folder; else folder + "\" + "qxinst_"/"Orvanta_"
  // + version + ".exe".
  std::wstring installerFileName(const std::wstring& folder, const std::wstring& version) const;

  // The configuration document's member for this edition ("rez9", ...).
  const char* configMember() const;
};

// The index for a lower-cased type key from the program's file name, or -1.
int editionForTypeKey(const std::wstring& lowerCaseType);

// The bundle file for a region: "language\downloader_<code>.xml", "en" for unsupported codes.
std::wstring languageFileForRegion(const std::wstring& region);
