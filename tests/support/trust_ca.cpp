// Adds a DER certificate to the machine's Root store of the test prefix, so the loopback servers'
// test CA is trusted there and nowhere else.  trust_ca <file.der>
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HANDLE h = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 3;
  std::vector<BYTE> der(GetFileSize(h, nullptr));
  DWORD got = 0;
  BOOL read = ReadFile(h, der.data(), static_cast<DWORD>(der.size()), &got, nullptr);
  CloseHandle(h);
  if (!read || got != der.size()) return 3;
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) return 4;
  BOOL ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                             CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(store, 0);
  if (!ok) std::fprintf(stderr, "CertAddEncodedCertificateToStore failed: %lu\n", GetLastError());
  return ok ? 0 : 5;
}
