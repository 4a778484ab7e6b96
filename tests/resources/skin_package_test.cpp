#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "7z.h"
#include "7zCrc.h"
#include "resources/resource_ids.h"
#include "resources/skin_archive.h"
#include "resources/skin_init.h"
#include "resources/skin_resources.h"
#include "resources/ui_text.h"
#include "skin_test_paths.h"
#include "test_config.h"
#include "test_support.h"

using testing_support::makeTempDir;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

// Every file under the folder, by its name relative to the root with "/" separators.
void collectFiles(const std::wstring& root, const std::wstring& relative, std::map<std::wstring, std::string>& files) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((root + L"\\" + relative + L"*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      collectFiles(root, relative + name + L"\\", files);
    } else {
      std::string bytes;
      ASSERT_TRUE(readFile(root + L"\\" + relative + name, bytes));
      std::wstring key = relative + name;
      for (wchar_t& c : key)
        if (c == L'\\') c = L'/';
      files[key] = bytes;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

std::map<std::wstring, std::string> sourceFiles() {
  std::map<std::wstring, std::string> files;
  collectFiles(kSkinSourceDir, L"", files);
  return files;
}

// A store holding the package built into this program; no table file next to the "program".
void loadRealPackage(SkinResources& skin) {
  skin.setModule(GetModuleHandleW(nullptr));
  skin.setLanguage(L"zh_CN", L"zh_CN");
  skin.setProgramFolderForTesting(makeTempDir(L"program"));
  skin.loadPackage(IDR_SKIN_PACKAGE, L"multi_language.tsv");
}

std::string packageBytes() {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_SKIN_PACKAGE), L"ZIPRES");
  if (!found) return std::string();
  const char* data = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
  return std::string(data, SizeofResource(nullptr, found));
}

void* allocForSdk(ISzAllocPtr, size_t size) { return size ? malloc(size) : nullptr; }
void freeForSdk(ISzAllocPtr, void* address) { free(address); }

}  // namespace

// The package in the program's resources is a 7z archive whose files come back byte-identical
// to every file of the skin source tree, no more and no fewer (folders carry no entry).
TEST(SkinPackageTest, FilesMatchTheirSources) {
  std::string archive = packageBytes();
  ASSERT_GE(archive.size(), 6u);
  EXPECT_EQ(archive.substr(0, 6), std::string("7z\xBC\xAF\x27\x1C", 6));

  SkinResources skin;
  loadRealPackage(skin);
  std::map<std::wstring, std::string> sources = sourceFiles();
  ASSERT_GE(sources.size(), 17u);  // the table and 16 bundles at least
  EXPECT_EQ(skin.packageFiles().size(), sources.size());
  for (const auto& source : sources) {
    SCOPED_TRACE(testing_support::wideToUtf8(source.first));
    auto entry = skin.packageFiles().find(source.first);
    ASSERT_NE(entry, skin.packageFiles().end());
    EXPECT_TRUE(entry->second == source.second);
  }
}

// Package lookups: slash and backslash names find the same entry; a name differing only in
// case, a folder name and an unknown name find nothing.
TEST(SkinPackageTest, NamesAreExactAfterSlashing) {
  SkinResources skin;
  loadRealPackage(skin);
  std::string source;
  ASSERT_TRUE(readFile(std::wstring(kSkinSourceDir) + L"\\language\\downloader_cn.xml", source));
  const struct {
    const wchar_t* name;
    bool found;
  } cases[] = {
      {L"language\\downloader_cn.xml", true},  {L"language/downloader_cn.xml", true},
      {L"Language\\downloader_cn.xml", false}, {L"language\\downloader_CN.xml", false},
      {L"MULTI_LANGUAGE.TSV", false},          {L"language", false},
      {L"downloader_cn.xml", false},           {L"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing_support::wideToUtf8(c.name));
    std::string bytes;
    EXPECT_EQ(skin.readFile(c.name, bytes), c.found);
    if (c.found) {
      EXPECT_TRUE(bytes == source);
    }
  }
}

// A skin folder holding one file overrides only that file; an empty file there does not count,
// and an absolute path is read from disk as it is. A missing folder is not kept.
TEST(SkinPackageTest, SkinFolderOverridesSingleFiles) {
  SkinResources skin;
  loadRealPackage(skin);
  std::map<std::wstring, std::string> sources = sourceFiles();

  std::wstring folder = makeTempDir(L"skin");
  folder.pop_back();  // the store adds the trailing backslash itself
  CreateDirectoryW((folder + L"\\language").c_str(), nullptr);
  ASSERT_TRUE(writeFile(folder + L"\\language\\downloader_cn.xml", "<StringBundle/>"));
  ASSERT_TRUE(writeFile(folder + L"\\multi_language.tsv", ""));
  ASSERT_TRUE(writeFile(folder + L"\\outside.txt", "outside"));
  skin.setResourceFolder(folder);
  EXPECT_EQ(skin.resourceFolder(), folder + L"\\");

  std::string bytes;
  ASSERT_TRUE(skin.readFile(L"language\\downloader_cn.xml", bytes));
  EXPECT_EQ(bytes, "<StringBundle/>");
  ASSERT_TRUE(skin.readFile(L"language/downloader_en.xml", bytes));
  EXPECT_TRUE(bytes == sources[L"language/downloader_en.xml"]);
  ASSERT_TRUE(skin.readFile(L"multi_language.tsv", bytes));
  EXPECT_TRUE(bytes == sources[L"multi_language.tsv"]);
  ASSERT_TRUE(skin.readFile(folder + L"\\outside.txt", bytes));
  EXPECT_EQ(bytes, "outside");

  skin.setResourceFolder(folder + L"\\missing");
  EXPECT_EQ(skin.resourceFolder(), L"");
  ASSERT_TRUE(skin.readFile(L"language\\downloader_cn.xml", bytes));
  EXPECT_TRUE(bytes == sources[L"language/downloader_cn.xml"]);
}

// An archive whose second of three blocks is damaged keeps the files of the first block, byte
// for byte, and loads nothing after the damage, not even the intact third block. Garbage and a
// cut-off archive give nothing at all.
TEST(SkinPackageTest, DamagedArchivesKeepWhatCameBefore) {
  std::string archive;
  ASSERT_TRUE(readFile(std::wstring(testconfig::kBinDir) + L"\\skin_blocks.7z", archive));

  // The block layout, read with the decoder itself.
  CrcGenerateTable();
  const ISzAlloc alloc = {allocForSdk, freeForSdk};
  std::map<std::wstring, std::string> expected;
  std::map<std::wstring, std::string> sources = sourceFiles();
  size_t damageAt = 0;
  {
    struct Stream {
      ILookInStream vt;
      const std::string* data;
      size_t pos;
    } stream;
    stream.data = &archive;
    stream.pos = 0;
    stream.vt.Look = [](ILookInStreamPtr p, const void** buf, size_t* size) -> SRes {
      auto s = reinterpret_cast<const Stream*>(p);
      size_t rest = s->data->size() - s->pos;
      if (*size > rest) *size = rest;
      *buf = s->data->data() + s->pos;
      return SZ_OK;
    };
    stream.vt.Skip = [](ILookInStreamPtr p, size_t offset) -> SRes {
      const_cast<Stream*>(reinterpret_cast<const Stream*>(p))->pos += offset;
      return SZ_OK;
    };
    stream.vt.Read = [](ILookInStreamPtr p, void* buf, size_t* size) -> SRes {
      auto s = const_cast<Stream*>(reinterpret_cast<const Stream*>(p));
      size_t rest = s->data->size() - s->pos;
      if (*size > rest) *size = rest;
      memcpy(buf, s->data->data() + s->pos, *size);
      s->pos += *size;
      return SZ_OK;
    };
    stream.vt.Seek = [](ILookInStreamPtr p, Int64* pos, ESzSeek origin) -> SRes {
      auto s = const_cast<Stream*>(reinterpret_cast<const Stream*>(p));
      Int64 base = origin == SZ_SEEK_SET ? 0 : origin == SZ_SEEK_CUR ? Int64(s->pos) : Int64(s->data->size());
      s->pos = static_cast<size_t>(base + *pos);
      *pos = Int64(s->pos);
      return SZ_OK;
    };
    CSzArEx db;
    SzArEx_Init(&db);
    ASSERT_EQ(SzArEx_Open(&db, &stream.vt, &alloc, &alloc), SZ_OK);
    ASSERT_GE(db.db.NumFolders, 3u);
    damageAt = static_cast<size_t>(db.dataPos + db.db.PackPositions[db.db.FoStartPackStreamIndex[1]]);
    for (UInt32 i = 0; i < db.NumFiles; ++i) {
      if (SzArEx_IsDir(&db, i) || db.FileToFolder[i] != 0) continue;
      UInt16 name[512];
      ASSERT_LE(SzArEx_GetFileNameUtf16(&db, i, nullptr), 512u);
      size_t length = SzArEx_GetFileNameUtf16(&db, i, name);
      std::wstring key(name, name + length - 1);
      expected[key] = sources[key];
    }
    SzArEx_Free(&db, &alloc);
  }
  ASSERT_FALSE(expected.empty());

  std::string damaged = archive;
  damaged[damageAt] = static_cast<char>(damaged[damageAt] ^ 0xFF);
  std::map<std::wstring, std::string> files;
  EXPECT_FALSE(unpackSkinArchive(damaged.data(), damaged.size(), files));
  EXPECT_TRUE(files == expected);

  std::map<std::wstring, std::string> intact;
  EXPECT_TRUE(unpackSkinArchive(archive.data(), archive.size(), intact));
  EXPECT_TRUE(intact == sources);

  for (const std::string& broken : {std::string(4096, '\x5A'), archive.substr(0, archive.size() / 2)}) {
    std::map<std::wstring, std::string> none;
    EXPECT_FALSE(unpackSkinArchive(broken.data(), broken.size(), none));
    EXPECT_TRUE(none.empty());
  }
}

// Without the resource the store stays empty and usable: no files, no table, lookups fail and
// "@" texts show as written.
TEST(SkinPackageTest, MissingResourceLeavesTheStoreEmpty) {
  SkinResources skin;
  skin.setModule(GetModuleHandleW(nullptr));
  skin.setLanguage(L"zh_CN", L"zh_CN");
  skin.setProgramFolderForTesting(makeTempDir(L"program"));
  skin.loadPackage(IDR_SKIN_PACKAGE + 1000, L"multi_language.tsv");
  EXPECT_TRUE(skin.packageFiles().empty());
  std::string bytes;
  EXPECT_FALSE(skin.readFile(L"multi_language.tsv", bytes));
  EXPECT_EQ(skin.getText(L"sure"), nullptr);
  EXPECT_EQ(skin.resolveText(L"@sure"), L"@sure");
}

// The start-up skin steps on the real package: language zh_CN, no skin folder next to this
// program, and the UI texts of the zh_CN column (or en_US when a store is set to it).
TEST(SkinPackageTest, StartUpLoadsTheShippedTable) {
  resources::initSkin(GetModuleHandleW(nullptr));
  SkinResources& skin = SkinResources::instance();
  EXPECT_EQ(skin.language(), L"zh_CN");
  EXPECT_EQ(skin.resourceFolder(), L"");
  EXPECT_FALSE(skin.packageFiles().empty());
  EXPECT_EQ(getUiText("Label_getversion_info"), L"\u6B63\u5728\u83B7\u53D6\u7248\u672C\u4FE1\u606F");
  EXPECT_EQ(skin.resolveText(L"@minimize_tip"), L"\u6700\u5C0F\u5316");
  EXPECT_EQ(skin.resolveText(L"@prompt"), L"@prompt");

  SkinResources english;
  english.setModule(GetModuleHandleW(nullptr));
  english.setLanguage(L"en_US", L"zh_CN");
  english.setProgramFolderForTesting(makeTempDir(L"program"));
  english.loadPackage(IDR_SKIN_PACKAGE, L"multi_language.tsv");
  ASSERT_NE(english.getText(L"Label_getversion_info"), nullptr);
  EXPECT_EQ(*english.getText(L"Label_getversion_info"), L"Get version info");
}
