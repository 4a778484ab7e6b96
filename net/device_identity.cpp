#include "net/device_identity.h"

#include <windows.h>
#include <bcrypt.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstdio>

#include "common/log.h"
#include "common/text_codec.h"
#include "utility/file_handle.h"
#include "utility/reg_key.h"
#include "utility/ufile.h"

namespace vbox {
namespace {

// The digest through the platform's hashing service; false when any step fails.
bool md5Digest(const void* data, size_t length, unsigned char (&digest)[16]) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0))) return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  // BCryptHashData takes a 32-bit count; feed larger inputs in pieces.
  while (ok && length > 0) {
    ULONG piece = static_cast<ULONG>(std::min<size_t>(length, 0x40000000));
    ok = BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(bytes), piece, 0));
    bytes += piece;
    length -= piece;
  }
  ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
  if (hash) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}

std::string toHex(const unsigned char (&digest)[16]) {
  char text[33] = {};
  for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return std::string(text, 32);
}

}  // namespace

bool md5Hex(const void* data, int length, std::string& out) {
  if (!data || length <= 0) return false;
  unsigned char digest[16];
  if (!md5Digest(data, static_cast<size_t>(length), digest)) return false;
  out = toHex(digest);
  return true;
}

std::string md5Hex(const std::string& bytes) {
  unsigned char digest[16];
  if (!md5Digest(bytes.data(), bytes.size(), digest)) return std::string();
  return toHex(digest);
}

std::string deriveDeviceId(const std::vector<AdapterAddress>& addresses) {
  std::vector<std::string> texts;
  for (const AdapterAddress& address : addresses) {
    if (std::all_of(address.begin(), address.end(), [](unsigned char b) { return b == 0; })) continue;
    char text[13] = {};
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", address[0], address[1], address[2], address[3],
                  address[4], address[5]);
    texts.emplace_back(text);
  }
  if (texts.empty()) return std::string();
  // Sorted, so that the order the platform lists the adapters in does not change the id.
  std::sort(texts.begin(), texts.end());
  std::string joined;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) joined += '|';
    joined += texts[i];
  }
  std::string digest;
  md5Hex(joined.data(), static_cast<int>(joined.size()), digest);
  if (texts.size() > 1) {
    char prefix[8] = {};
    std::snprintf(prefix, sizeof prefix, "%x-", static_cast<unsigned>(texts.size()));
    digest = prefix + digest;
  }
  return digest;
}

std::vector<AdapterAddress> readAdapterAddresses() {
  std::vector<AdapterAddress> addresses;
  ULONG size = 0;
  DWORD status = GetAdaptersInfo(nullptr, &size);
  if ((status != ERROR_SUCCESS && status != ERROR_BUFFER_OVERFLOW) || size == 0) return addresses;
  auto* list = static_cast<IP_ADAPTER_INFO*>(GlobalAlloc(GPTR, size));
  if (!list) return addresses;
  if (GetAdaptersInfo(list, &size) == ERROR_SUCCESS) {
    for (IP_ADAPTER_INFO* adapter = list; adapter; adapter = adapter->Next) {
      AdapterAddress address{};
      std::copy(adapter->Address, adapter->Address + address.size(), address.begin());
      addresses.push_back(address);
    }
  }
  GlobalFree(list);
  return addresses;
}

void GoogleAnalytics::calcPCID() {
  if (!pcid_.empty()) return;
  utility::RegKey key;
  bool fromRegistry = false;
  if (key.RegRegOpen(HKEY_CURRENT_USER, "Software\\qx\\hivora", KEY_READ | KEY_WOW64_64KEY) != 0) {
    common::log("vbox::GoogleAnalytics::calcPCID", __LINE__, L"read rcmac from  user reg error %d",
                static_cast<int>(GetLastError()));
  } else {
    std::string value;
    if (key.RegRead("pcid", value) == 0 && !value.empty()) {
      pcid_ = ansiToWide(value);
      fromRegistry = true;
    }
  }
  if (!fromRegistry) {
    std::wstring path = utility::ufile::getAppDataDir() + L"\\corvane_tessaro.data";
    utility::FileHandle file;
    if (utility::ufile::fileExists(path) && file.openRead(path)) {
      wchar_t buffer[64] = {};
      DWORD got = file.read(buffer, sizeof buffer);
      // A shorter file is not an id the emulator wrote.
      if (got > 30) pcid_.assign(buffer, got / 2);
      file.close();
    }
    if (pcid_.empty()) pcid_ = ansiToWide(deriveDeviceId(readAdapterAddresses()));
  }
  key.RegClose();
}

std::wstring GoogleAnalytics::deviceId() {
  calcPCID();
  return pcid_;
}

}  // namespace vbox
