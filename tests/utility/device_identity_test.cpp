#include "net/device_identity.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "common/text_codec.h"
#include "log_tail.h"
#include "test_support.h"

namespace ts = testing_support;
using testing_support::LogTail;
using vbox::AdapterAddress;

namespace {

AdapterAddress mac(unsigned long long value, unsigned char extra6 = 0, unsigned char extra7 = 0) {
  AdapterAddress a{};
  for (int i = 0; i < 6; ++i) a[static_cast<size_t>(i)] = static_cast<unsigned char>(value >> (8 * (5 - i)));
  a[6] = extra6;
  a[7] = extra7;
  return a;
}

bool isLowerHex(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The stored ids of the current user (registry value and data file) for the length of a test:
// what was there before is put back afterwards.
class StoredIds {
 public:
  StoredIds() : file_(ts::appDataDir() + L"\\corvane_tessaro.data") {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
      keyExisted_ = true;
      BYTE buffer[2048];
      DWORD size = sizeof buffer, type = 0;
      if (RegQueryValueExW(key, L"pcid", nullptr, &type, buffer, &size) == ERROR_SUCCESS) {
        valueExisted_ = true;
        valueType_ = type;
        value_.assign(reinterpret_cast<char*>(buffer), size);
      }
      RegCloseKey(key);
    }
    fileExisted_ = ts::readFile(file_, fileBytes_);
    removeKey();
    DeleteFileW(file_.c_str());
  }
  ~StoredIds() {
    removeKey();
    DeleteFileW(file_.c_str());
    if (keyExisted_) {
      HKEY key = nullptr;
      RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr);
      if (valueExisted_) {
        RegSetValueExW(key, L"pcid", 0, valueType_, reinterpret_cast<const BYTE*>(value_.data()),
                       static_cast<DWORD>(value_.size()));
      }
      RegCloseKey(key);
    }
    if (fileExisted_) ts::writeFile(file_, fileBytes_);
  }
  // The registry value as code-page text (an empty text makes an empty value).
  void setRegistry(const std::string& text) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr);
    RegSetValueExA(key, "pcid", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
  }
  // An emulator's key without the value.
  void createKeyOnly() {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr);
    RegCloseKey(key);
  }
  void removeKey() { RegDeleteKeyExW(HKEY_CURRENT_USER, kKey, KEY_WOW64_64KEY, 0); }
  // The data file: UTF-16LE text of the given byte length (characters of text repeated).
  void setFile(const std::wstring& text, size_t bytes) {
    std::string data;
    for (size_t i = 0; data.size() < bytes; ++i) {
      wchar_t c = text[i % text.size()];
      data.push_back(static_cast<char>(c & 0xFF));
      data.push_back(static_cast<char>(c >> 8));
    }
    data.resize(bytes);
    ts::writeFile(file_, data);
  }

 private:
  static constexpr const wchar_t* kKey = L"Software\\qx\\hivora";
  std::wstring file_;
  bool keyExisted_ = false, valueExisted_ = false, fileExisted_ = false;
  DWORD valueType_ = REG_SZ;
  std::string value_, fileBytes_;
};

std::wstring derivedHere() { return ansiToWide(vbox::deriveDeviceId(vbox::readAdapterAddresses())); }

}  // namespace

// The MD5 text matches the test suite of RFC 1321 (appendix A.5), plus a zero byte; the counted
// form refuses no data and lengths of 0 or less and leaves its output alone.
TEST(Md5Test, Rfc1321Suite) {
  struct Case {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(1, '\0'), "93b885adfe0da089cdf634904fd59f71"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vbox::md5Hex(c.input), c.digest) << c.input;
    std::string out = "old";
    bool ok = vbox::md5Hex(c.input.data(), static_cast<int>(c.input.size()), out);
    EXPECT_EQ(ok, !c.input.empty()) << c.input;
    EXPECT_EQ(out, c.input.empty() ? "old" : c.digest) << c.input;
  }
  std::string out = "old";
  EXPECT_FALSE(vbox::md5Hex(nullptr, 3, out));
  EXPECT_FALSE(vbox::md5Hex("abc", -1, out));
  EXPECT_EQ(out, "old");
}

// The id derived from adapter addresses: one address gives the bare digest, more give the count
// in lower-case hex first; all-zero fields are skipped (only all 8 bytes zero), equal addresses
// count twice, and the order of the adapters does not matter.
TEST(DeviceIdTest, DerivedFromAddresses) {
  AdapterAddress a = mac(0x00155D0A0B0C), b = mac(0x0A0027000012), zero{};
  struct Case {
    std::vector<AdapterAddress> addresses;
    std::string id;
  } cases[] = {
      {{}, ""},
      {{zero, zero}, ""},
      {{a}, "ef4f9ebac61cd0e07fabf9218189d591"},
      {{zero, a, zero}, "ef4f9ebac61cd0e07fabf9218189d591"},
      {{a, b}, "2-1875f3a933705160e7dc7f2bd49f5858"},
      {{b, zero, a}, "2-1875f3a933705160e7dc7f2bd49f5858"},
      {{a, a}, "2-3900fd41bcf303e79b18376e3edb661e"},
      {{mac(0xABCDEF012345), mac(0, 0, 1)}, "2-b8d6de1034213bef5328309925474bbd"},
  };
  for (const Case& c : cases) EXPECT_EQ(vbox::deriveDeviceId(c.addresses), c.id) << c.addresses.size();

  std::vector<AdapterAddress> ten;
  for (int i = 9; i >= 0; --i) ten.push_back(mac(0x0A0000000000ULL + static_cast<unsigned>(i)));
  EXPECT_EQ(vbox::deriveDeviceId(ten), "a-5aae34a341a2f7d4d45332242401cb73");
  std::reverse(ten.begin(), ten.end());
  EXPECT_EQ(vbox::deriveDeviceId(ten), "a-5aae34a341a2f7d4d45332242401cb73");
}

// This machine's adapters give an id of the documented shape (or none without adapters).
TEST(DeviceIdTest, AdaptersOfThisMachine) {
  std::string id = vbox::deriveDeviceId(vbox::readAdapterAddresses());
  if (id.empty()) GTEST_SKIP() << "no adapter with an address here";
  size_t dash = id.find('-');
  std::string digest = dash == std::string::npos ? id : id.substr(dash + 1);
  EXPECT_EQ(digest.size(), 32u);
  EXPECT_TRUE(isLowerHex(digest)) << id;
  if (dash != std::string::npos) {
    EXPECT_TRUE(isLowerHex(id.substr(0, dash))) << id;
    EXPECT_GT(std::stoul(id.substr(0, dash), nullptr, 16), 1u);
  }
}

// The registry value wins over the data file; once known, the id does not change within the
// object.
TEST(DeviceIdTest, RegistryValueWins) {
  StoredIds stored;
  std::string value = wideToAnsi(L"注册表-pcid-1234");
  stored.setRegistry(value);
  stored.setFile(L"FILEIDFILEIDFILEID", 64);
  vbox::GoogleAnalytics analytics;
  EXPECT_EQ(analytics.deviceId(), L"注册表-pcid-1234");
  stored.setRegistry("other");
  EXPECT_EQ(analytics.deviceId(), L"注册表-pcid-1234");
}

// Without a registry value the data file counts when more than 30 bytes were read: 30 bytes are
// ignored (the adapters decide), 31 give 15 characters, 32 give 16, 300 give the first 64.
// A missing key is logged; an empty value is not.
TEST(DeviceIdTest, DataFileRules) {
  StoredIds stored;
  const std::wstring text = L"设备0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  struct Case {
    size_t bytes;
    size_t chars;  // 0: the file is ignored
  } cases[] = {{30, 0}, {31, 15}, {32, 16}, {300, 64}};
  for (const Case& c : cases) {
    stored.setFile(text, c.bytes);
    LogTail log;
    vbox::GoogleAnalytics analytics;
    std::wstring expected = c.chars ? text.substr(0, c.chars) : derivedHere();
    EXPECT_EQ(analytics.deviceId(), expected) << c.bytes;
    EXPECT_TRUE(log.waitFor("vbox::GoogleAnalytics::calcPCID", L"read rcmac from  user reg error "));
  }

  stored.createKeyOnly();
  stored.setRegistry("");
  stored.setFile(text, 32);
  LogTail log;
  vbox::GoogleAnalytics analytics;
  EXPECT_EQ(analytics.deviceId(), text.substr(0, 16));
  log.sync();
  EXPECT_EQ(log.count("vbox::GoogleAnalytics::calcPCID", L"read rcmac"), 0u);
}
