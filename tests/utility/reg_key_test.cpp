#include "utility/reg_key.h"

#include <gtest/gtest.h>

#include "common/text_codec.h"
#include "log_tail.h"
#include "test_support.h"

namespace ts = testing_support;
using testing_support::LogTail;
using utility::RegKey;

namespace {

const char kOpen[] = "utility::RegKey::RegRegOpen";
const char kRead[] = "utility::RegKey::RegRead";
constexpr REGSAM kAccess = KEY_READ | KEY_WOW64_64KEY;

// A key of its own under HKCU\Software\OrvantaTests, removed with the object.
class TestKey {
 public:
  TestKey() : path_("Software\\OrvantaTests\\" + wideToAnsi(ts::uniqueName(L"regkey"))) {
    RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
  }
  ~TestKey() {
    if (key_) RegCloseKey(key_);
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
  }
  void set(const char* name, DWORD type, const std::string& bytes) {
    RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  HKEY key_ = nullptr;
};

}  // namespace

// Reading before any key is open gives -1 and logs the value name.
TEST(RegKeyTest, ReadBeforeOpen) {
  LogTail log;
  RegKey key;
  std::string text = "unchanged";
  EXPECT_EQ(key.RegRead("pcid", text), -1);
  EXPECT_EQ(text, "unchanged");
  EXPECT_TRUE(log.waitFor(kRead, L"m_hKey is null, query reg = pcid"));
}

// Opening a missing key returns 2, logs the path and leaves no key open, so a read gives -1.
TEST(RegKeyTest, MissingKey) {
  LogTail log;
  RegKey key;
  std::string path = "Software\\OrvantaTests\\" + wideToAnsi(ts::uniqueName(L"absent"));
  EXPECT_EQ(key.RegRegOpen(HKEY_CURRENT_USER, path, kAccess), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(key.isOpen());
  std::string text;
  EXPECT_EQ(key.RegRead("pcid", text), -1);
  EXPECT_TRUE(log.waitFor(kOpen, L"open reg = " + ansiToWide(path) + L", lastError = "));
}

// Values are read as their bytes up to the first zero, whatever their type, code-page text
// included; a missing value returns 2 and a value over 1024 bytes ERROR_MORE_DATA, both leaving
// the text unchanged and logging a line. Closing twice is harmless and a later read gives -1.
TEST(RegKeyTest, ReadsValues) {
  TestKey testKey;
  std::string chinese = wideToAnsi(L"设备标识");
  testKey.set("plain", REG_SZ, std::string("0123456789abcdef", 17));
  testKey.set("chinese", REG_SZ, chinese + '\0');
  testKey.set("embedded", REG_BINARY, std::string("ab\0cd", 5));
  testKey.set("unterminated", REG_BINARY, "xyz");
  testKey.set("dword", REG_DWORD, std::string("\x33\x32\x31\x00", 4));
  testKey.set("full", REG_BINARY, std::string(1024, 'f'));
  testKey.set("big", REG_SZ, std::string(1500, 'b'));

  RegKey key;
  ASSERT_EQ(key.RegRegOpen(HKEY_CURRENT_USER, testKey.path(), kAccess), 0);
  struct Case {
    const char* name;
    long status;
    std::string text;
  } cases[] = {
      {"plain", 0, "0123456789abcdef"},
      {"chinese", 0, chinese},
      {"embedded", 0, "ab"},
      {"unterminated", 0, "xyz"},
      {"dword", 0, "321"},
      {"full", 0, std::string(1024, 'f')},
      {"big", ERROR_MORE_DATA, "unchanged"},
      {"missing", ERROR_FILE_NOT_FOUND, "unchanged"},
  };
  for (const Case& c : cases) {
    LogTail log;
    std::string text = "unchanged";
    EXPECT_EQ(key.RegRead(c.name, text), c.status) << c.name;
    EXPECT_EQ(text, c.text) << c.name;
    if (c.status != 0) {
      EXPECT_TRUE(log.waitFor(kRead, L"read reg lastError = ")) << c.name;
    }
  }
  EXPECT_EQ(ansiToWide(chinese), L"设备标识");

  key.RegClose();
  key.RegClose();
  std::string text;
  EXPECT_EQ(key.RegRead("plain", text), -1);
}
