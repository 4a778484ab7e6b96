// The device id ("pcid") that telemetry reports, and the MD5 text it and the telemetry signature use.
// The id is the one an installed emulator stored for the current user (registry first, then its
// data file); failing both, it is derived from the network adapter addresses. Nothing is written
// back. A GoogleAnalytics object is used by one thread at a time.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace vbox {

// RFC 1321 MD5 of length bytes as 32 lower-case hexadecimal characters into out. With no data or
// a length of 0 or less, out is left alone and the result is false (also when hashing fails).
bool md5Hex(const void* data, int length, std::string& out);
// The MD5 text of any bytes, the empty input included; empty only when hashing fails.
std::string md5Hex(const std::string& bytes);

// One adapter's 8-byte address field as the platform reports it.
using AdapterAddress = std::array<unsigned char, 8>;

// The id derived from adapter addresses: all-zero fields skipped, the first 6 bytes of the others
// as 12 upper-case hex digits, sorted, joined with "|", MD5 text; preceded by the count in
// lower-case hex and "-" when more than one address remains. Empty when none remains.
std::string deriveDeviceId(const std::vector<AdapterAddress>& addresses);
// The adapters' address fields in the order GetAdaptersInfo returns them; empty when it fails.
std::vector<AdapterAddress> readAdapterAddresses();

class GoogleAnalytics {
 public:
  // Fills the device id while it is empty: the registry value "pcid" under
  // HKCU\Software\qx\hivora (64-bit view), else "corvane_tessaro.data" in the roaming folder
  // (more than 30 bytes), else the adapter addresses. Stays empty when all three fail, and is
  // tried again on the next call.
  void calcPCID();
  // A copy of the device id after calcPCID.
  std::wstring deviceId();

 private:
  std::wstring pcid_;
};

}  // namespace vbox
