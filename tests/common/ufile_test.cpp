#include "utility/ufile.h"

#include <gtest/gtest.h>

#include "utility/file_handle.h"
#include "utility/mapped_file.h"
#include "test_support.h"

namespace ts = testing_support;
using namespace utility;

// Path splitting, including the separator and extension edge cases.
TEST(Ufile, FileNameAndParentDir) {
  struct NameCase {
    const wchar_t* path;
    bool keep;
    const wchar_t* expected;
  } names[] = {
      {L"C:\\a\\setup.tar.gz", false, L"setup.tar"}, {L"C:\\a\\setup.tar.gz", true, L"setup.tar.gz"},
      {L"setup.exe", false, L""},                    {L"setup.exe", true, L""},
      {L"http://h/x/qxinst.exe", false, L"qxinst"},  {L"C:\\a\\b\\", true, L""},
      {L"C:/a\\b/c.txt", true, L"b/c.txt"},
  };
  for (const NameCase& c : names) EXPECT_EQ(ufile::getFileName(c.path, c.keep), c.expected) << c.path;

  struct ParentCase {
    const wchar_t* path;
    const wchar_t* expected;
  } parents[] = {
      {L"C:\\a\\b\\", L"C:\\a\\"}, {L"C:\\a\\b", L"C:\\a\\"}, {L"C", L""}, {L"", L""},
      {L"abc", L""},               {L"C:/a/b", L"C:/a/"},     {L"C:\\", L""},
  };
  for (const ParentCase& c : parents) EXPECT_EQ(ufile::getParentDir(c.path), c.expected) << c.path;
}

// makeDir creates missing parents and accepts an existing folder; move, size, existence and
// removal work on real files, and failures return false.
TEST(Ufile, FolderAndFileOperations) {
  std::wstring base = ts::makeTempDir(L"ufile");
  std::wstring deep = base + L"a\\b\\c\\";
  EXPECT_TRUE(ufile::makeDir(deep));
  EXPECT_TRUE(ufile::makeDir(deep));
  EXPECT_TRUE(ufile::fileExists(deep));

  std::wstring from = deep + L"数据.tmp", to = deep + L"数据.exe";
  ASSERT_TRUE(ts::writeFile(from, "12345"));
  EXPECT_TRUE(ufile::moveFile(from, to, MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(ufile::fileExists(from));
  unsigned long long size = 0;
  EXPECT_TRUE(ufile::getFileSize(to, size));
  EXPECT_EQ(size, 5u);
  EXPECT_FALSE(ufile::moveFile(from, to, 0));
  EXPECT_TRUE(ufile::removeFile(to));
  EXPECT_FALSE(ufile::removeFile(to));
  EXPECT_FALSE(ufile::getFileSize(to, size));
}

// The program's folder ends with a separator and holds the program; the roaming folder exists.
TEST(Ufile, ModuleAndAppDataDirs) {
  std::wstring dir = ufile::getModuleDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), L'\\');
  EXPECT_TRUE(ufile::fileExists(dir + L"test_common.exe"));
  std::wstring appData = ufile::getAppDataDir();
  EXPECT_NE(appData.find(L"AppData\\Roaming"), std::wstring::npos) << appData;
  EXPECT_TRUE(ufile::fileExists(appData));
}

// A mapped file shows the bytes; an empty file opens with a null view and size 0; a missing one
// fails.
TEST(MappedFileTest, MapsWholeFiles) {
  std::wstring dir = ts::makeTempDir(L"mapped");
  ASSERT_TRUE(ts::writeFile(dir + L"full", "hello"));
  ASSERT_TRUE(ts::writeFile(dir + L"empty", ""));
  MappedFile full;
  ASSERT_TRUE(full.open(dir + L"full"));
  ASSERT_EQ(full.size(), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(full.data()), 5), "hello");
  MappedFile empty;
  EXPECT_TRUE(empty.open(dir + L"empty"));
  EXPECT_EQ(empty.data(), nullptr);
  EXPECT_EQ(empty.size(), 0u);
  MappedFile missing;
  EXPECT_FALSE(missing.open(dir + L"missing"));
  full.close();
  EXPECT_EQ(full.size(), 0u);
}

// FileHandle: create truncates, write reports full writes, openRead sets the size, openReadWrite
// creates only when asked; close twice is harmless.
TEST(FileHandleTest, OpensReadsAndWrites) {
  std::wstring path = ts::makeTempDir(L"fh") + L"f.bin";
  FileHandle missing;
  EXPECT_FALSE(missing.openReadWrite(path, false));
  EXPECT_FALSE(missing.openRead(path));
  {
    FileHandle f;
    ASSERT_TRUE(f.openReadWrite(path, true));
    EXPECT_TRUE(f.write("abcdef", 6));
  }
  {
    FileHandle f;
    ASSERT_TRUE(f.create(path));
    EXPECT_TRUE(f.write("xyz", 3));
    f.close();
    f.close();
    EXPECT_FALSE(f.write("q", 1));
  }
  FileHandle r;
  ASSERT_TRUE(r.openRead(path));
  EXPECT_EQ(r.size(), 3u);
  char buffer[16] = {};
  EXPECT_EQ(r.read(buffer, sizeof buffer), 3u);
  EXPECT_EQ(std::string(buffer, 3), "xyz");
}
