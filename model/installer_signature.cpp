#include "model/installer_signature.h"

#include <windows.h>
// clang-format off
#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>
// clang-format on

#include <cstdio>
#include <vector>

#include "common/log.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The embedded signature's signer certificate, as the diagnostics have always shown it.
bool printSignerDiagnostics(const std::wstring& path) {
  HCERTSTORE store = nullptr;
  HCRYPTMSG msg = nullptr;
  DWORD encoding = 0, contentType = 0, formatType = 0;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                        CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &formatType, &store, &msg,
                        nullptr)) {
    std::printf("CryptQueryObject failed with %lx\n", GetLastError());
    return false;
  }
  bool ok = false;
  DWORD size = 0;
  if (!CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) {
    std::printf("CryptMsgGetParam failed with %lx\n", GetLastError());
  } else {
    std::vector<unsigned char> buffer(size);
    auto* info = reinterpret_cast<CMSG_SIGNER_INFO*>(buffer.data());
    if (!CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, info, &size)) {
      std::printf("CryptMsgGetParam failed with %lx\n", GetLastError());
    } else {
      std::printf("\n");
      CERT_INFO certInfo{};
      certInfo.Issuer = info->Issuer;
      certInfo.SerialNumber = info->SerialNumber;
      PCCERT_CONTEXT cert =
          CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_CERT, &certInfo, nullptr);
      if (!cert) {
        std::printf("CertFindCertificateInStore failed with %lx\n", GetLastError());
      } else {
        std::printf("Signer Certificate:\n\n");
        std::printf("\n");
        CertFreeCertificateContext(cert);
        ok = true;
      }
    }
  }
  if (store) CertCloseStore(store, 0);
  if (msg) CryptMsgClose(msg);
  std::fflush(stdout);
  return ok;
}

std::wstring commonName(PCCERT_CONTEXT cert) {
  wchar_t name[512] = {};
  CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name, 512);
  return name;
}

// WinVerifyTrust on the open handle, then the signer chain's own trust status and subject name:
// the generic verify action alone accepts untrusted roots on some systems.
LONG verifyTrust(HANDLE file, const std::wstring& path, const std::wstring& publisher, std::wstring& signer) {
  WINTRUST_FILE_INFO fileInfo{};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = path.c_str();
  fileInfo.hFile = file;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
  LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  if (status == ERROR_SUCCESS) {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signerInfo = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (!signerInfo || !signerInfo->pChainContext) {
      status = TRUST_E_NOSIGNATURE;
    } else if (signerInfo->pChainContext->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) {
      status = CERT_E_UNTRUSTEDROOT;
    } else {
      CRYPT_PROVIDER_CERT* cert = WTHelperGetProvCertFromChain(signerInfo, 0);
      signer = cert && cert->pCert ? commonName(cert->pCert) : std::wstring();
      if (signer != publisher) status = CERT_E_WRONG_USAGE;
    }
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return status;
}

}  // namespace

bool verifyInstallerSignature(const std::wstring& path, const std::wstring& publisher,
                              utility::FileHandle* keepOpen) {
  const char* tag = "HVDownloaderModel::verifyInstallerSignature";
  utility::FileHandle file;
  if (!file.openRead(path)) {
    common::log(tag, __LINE__, L"open installer failed. %s error = %d", path.c_str(), static_cast<int>(GetLastError()));
    return false;
  }
  if (!printSignerDiagnostics(path)) {
    common::log(tag, __LINE__, L"installer not signed: %s", path.c_str());
    return false;
  }
  std::wstring signer;
  LONG status = verifyTrust(file.get(), path, publisher, signer);
  if (status != ERROR_SUCCESS) {
    common::log(tag, __LINE__, L"installer signature rejected: %s signer = %s error = %x", path.c_str(),
                signer.c_str(), static_cast<unsigned>(status));
    return false;
  }
  common::log(tag, __LINE__, L"installer signature ok: %s signer = %s", path.c_str(), signer.c_str());
  if (keepOpen) *keepOpen = std::move(file);
  return true;
}
