// The UI toolkit's resource store: the program module, the skin folder on disk, the files of the
// skin package unpacked into memory, the current language code and the UI language table.
//
// One store per process (instance()); tests may make their own. Filled on the UI thread during
// start-up before any window exists and only read afterwards, except that getUiText adds keys it
// does not find. UI thread only: there is no lock.
#pragma once

#include <windows.h>

#include <map>
#include <string>

class SkinResources {
 public:
  static SkinResources& instance();

  SkinResources() = default;
  SkinResources(const SkinResources&) = delete;
  SkinResources& operator=(const SkinResources&) = delete;

  // Keeps the module that holds the package and records the system's major version.
  void setModule(HMODULE module);
  HMODULE module() const { return module_; }
  DWORD osMajorVersion() const { return osMajorVersion_; }

  // Stores the code, or the fallback when the code is empty.
  void setLanguage(const std::wstring& code, const std::wstring& fallback);
  const std::wstring& language() const { return language_; }

  // Keeps the folder with a trailing backslash when it exists, otherwise the empty path.
  void setResourceFolder(const std::wstring& folder);
  const std::wstring& resourceFolder() const { return resourceFolder_; }

  // Unpacks the resource of type "ZIPRES" and this identifier into the package file map (a
  // missing or empty resource leaves it empty, a damaged one partial; nothing is logged), then
  // loads the language table from the given file name.
  void loadPackage(UINT resourceId, const std::wstring& languageFile);

  // A skin file: an absolute path ("X:...") or the skin folder + name from disk when that file
  // opens, is not empty and reads completely; otherwise the package entry of the name with
  // backslashes turned into slashes (exact, case-sensitive). False when neither has it.
  bool readFile(const std::wstring& name, std::string& bytes) const;

  // Fills the table from the file of that name in the program's folder (used when 1 byte to
  // 4 MiB; a file of any other size stops the load), or only when none opens there, from the
  // skin lookup (used when longer than 10 bytes). A rejected table leaves the table as it was.
  void loadLanguageTable(const std::wstring& fileName);

  // Null when the key is absent.
  const std::wstring* getText(const std::wstring& key) const;
  void setText(const std::wstring& key, const std::wstring& text);
  // "@key" becomes the table text of key when there is one; anything else stays as written.
  std::wstring resolveText(const std::wstring& text) const;

  const std::map<std::wstring, std::string>& packageFiles() const { return packageFiles_; }

  // The folder searched for the language table instead of the program's own.
  void setProgramFolderForTesting(const std::wstring& folder) { programFolderForTesting_ = folder; }

 private:
  std::wstring programFolder() const;
  void parseLanguageTable(const char* data, size_t size);

  HMODULE module_ = nullptr;
  DWORD osMajorVersion_ = 0;
  std::wstring language_;
  std::wstring resourceFolder_;
  std::map<std::wstring, std::string> packageFiles_;
  std::map<std::wstring, std::wstring> texts_;
  std::wstring programFolderForTesting_;
};
