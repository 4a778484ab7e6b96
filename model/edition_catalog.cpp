#include "model/edition_catalog.h"

#include "build_config.h"
#include "utility/ufile.h"

namespace {

struct Edition {
  const wchar_t* typeKey;
  const wchar_t* name;
  const wchar_t* subdir;
  const wchar_t* key;
  const wchar_t* defaultPath;
  const char* configMember;
};

const Edition kEditions[] = {
    {L"orvanta3", L"Orvanta3", L"tessaro\\Orvanta3\\", L"Software\\Corvane2\\hivora", L"/download/release/qxinst3.0.exe", "rez"},
    {L"orvanta4", L"Orvanta4", L"tessaro\\Orvanta4\\", L"Software\\tessaro\\Orvanta", L"/download/release/qxinst4.0.exe", "rez4"},
    {L"orvanta64", L"Orvanta64", L"tessaro\\Orvanta64\\", L"Software\\tessaro\\Orvanta64", L"/download/release/qxinst64.exe", "rez64"},
    {L"orvanta9", L"Orvanta9", L"tessaro\\Orvanta9\\", L"Software\\tessaro\\Orvanta9", L"/download/release/qxinst9.0.exe", "rez9"},
    {L"orvanta5", L"Orvanta4", L"tessaro\\Orvanta4\\", L"Software\\tessaro\\Orvanta", L"/download/release/qxinst5.0.exe", "rez5"},
    {L"orvanta5(64)", L"Orvanta64", L"tessaro\\Orvanta64\\", L"Software\\tessaro\\Orvanta64", L"/download/release/qxinst5(64).exe", "rez5(64)"},
};

const Edition& editionAt(int index) { return kEditions[index >= 0 && index <= 5 ? index : 0]; }

bool isCn(const std::wstring& region) { return region == L"cn"; }

}  // namespace

EditionCatalog& EditionCatalog::instance() {
  static EditionCatalog catalog;
  return catalog;
}

std::wstring EditionCatalog::editionName() const {
  if (isCn(region)) return editionAt(edition).name;
  switch (edition) {
    case 1: return L"Orvanta4.0";
    case 2: return L"Orvanta64";
    case 3: return L"Orvanta9";
    default: return L"Orvanta3.0";
  }
}

std::wstring EditionCatalog::installSubdir() const {
  if (isCn(region)) return editionAt(edition).subdir;
  return L"Orvanta\\" + editionName() + L"\\";
}

std::wstring EditionCatalog::registryKey() const {
  if (isCn(region)) return editionAt(edition).key;
  switch (edition) {
    case 1:
    case 4: return L"Software\\Pellago\\Orvanta";
    case 2:
    case 5: return L"Software\\Pellago\\Orvanta64";
    case 3: return L"Software\\Pellago\\Orvanta9";
    default: return L"Software\\Corvane\\Orvanta";
  }
}

std::wstring EditionCatalog::defaultInstallerUrl() const {
  return std::wstring(build::kReleaseCdn) + editionAt(edition).defaultPath;
}

std::wstring EditionCatalog::configUrl() const { return std::wstring(build::kReleaseCdn) + L"/qx/tessaroex"; }

std::wstring EditionCatalog::homePage() const {
  static const wchar_t* const kLocalised[] = {L"kr", L"vn", L"th", L"ru", L"pt", L"id",
                                              L"es", L"fr", L"jp", L"ar", L"fa"};
  std::wstring base = build::kWebHost;
  if (region == L"cn") return base + L"/";
  if (region == L"tw") return base + L"/tw/";
  for (const wchar_t* code : kLocalised)
    if (region == code) return base + L"/global/" + region + L"/";
  return base + L"/global/";
}

std::wstring EditionCatalog::languageFile() const { return languageFileForRegion(region); }

std::wstring EditionCatalog::installerFileName(const std::wstring& folder, const std::wstring& version) const {
  if (!installerOverride.empty() && utility::ufile::fileExists(installerOverride)) return installerOverride;
  std::wstring name = folder;
  if (name.empty() || name.back() != L'\\') name += L'\\';
  name += isCn(region) ? L"qxinst_" : L"Orvanta_";
  return name + version + L".exe";
}

const char* EditionCatalog::configMember() const {
  return edition >= 0 && edition <= 5 ? kEditions[edition].configMember : "rez";
}

int editionForTypeKey(const std::wstring& type) {
  // The order of comparison is fixed; each key names one edition.
  static const int kOrder[] = {0, 2, 1, 4, 5, 3};
  for (int index : kOrder)
    if (type == kEditions[index].typeKey) return index;
  return -1;
}

std::wstring languageFileForRegion(const std::wstring& region) {
  static const wchar_t* const kShipped[] = {L"cn", L"tw", L"kr", L"vn", L"th", L"ru", L"pt",
                                            L"fr", L"jp", L"es", L"id", L"ar", L"fa"};
  std::wstring code = L"en";
  for (const wchar_t* shipped : kShipped)
    if (region == shipped) code = region;
  return L"language\\downloader_" + code + L".xml";
}
