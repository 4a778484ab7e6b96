#include "net/curl_downloader.h"

#define SECURITY_WIN32
#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>

#include "common/log.h"
#include "common/text_codec.h"

namespace {

// Growable response buffer; freed by its owner after the transfer.
struct MemorySink {
  char* data = nullptr;
  size_t size = 0;
  const char* tag = "";
  ~MemorySink() { std::free(data); }
};

size_t writeMemory(void* contents, size_t size, size_t count, void* userp) {
  auto* sink = static_cast<MemorySink*>(userp);
  size_t block = size * count;
  size_t wanted = sink->size + block;
  // A sum that wraps asks for the largest size, which fails below.
  if (wanted < sink->size || wanted > 0xFFFFFFFFu) wanted = static_cast<size_t>(-1);
  void* grown = wanted == static_cast<size_t>(-1) ? nullptr : std::realloc(sink->data, wanted == 0 ? 1 : wanted);
  if (!grown) {
    common::log(sink->tag, __LINE__, L"not enough memory error %d", static_cast<int>(GetLastError()));
    return 0;
  }
  sink->data = static_cast<char*>(grown);
  if (block) std::memcpy(sink->data + sink->size, contents, block);
  sink->size += block;
  return block;
}

struct FileSink {
  HANDLE file = INVALID_HANDLE_VALUE;
  CURL* curl = nullptr;
  long refusedStatus = 0;  // the final status, when it was not 2xx
};

bool isSuccessStatus(long status) { return status >= 200 && status <= 299; }

size_t writeFile(void* contents, size_t size, size_t count, void* userp) {
  auto* sink = static_cast<FileSink*>(userp);
  // Bodies of followed redirects never reach here, so this is the final response: an error page
  // must not end up in the file.
  long status = 0;
  curl_easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &status);
  if (!isSuccessStatus(status)) {
    sink->refusedStatus = status;
    return 0;
  }
  size_t block = size * count;
  DWORD written = 0;
  if (!WriteFile(sink->file, contents, static_cast<DWORD>(block), &written, nullptr) || written != block) return 0;
  return block;
}

struct ProgressContext {
  DWORD lastTick = 0;
  QXCurlDownloader::ProgressCallback callback;
};

int throttleProgress(void* clientp, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) {
  auto* context = static_cast<ProgressContext*>(clientp);
  double total = static_cast<double>(dltotal);
  double now = static_cast<double>(dlnow);
  if (total > -0.1 && total < 0.1) return 0;
  int percent = static_cast<int>(now / total * 100);
  if (percent >= 100) percent = 99;
  DWORD tick = GetTickCount();
  if (static_cast<DWORD>(tick - context->lastTick) <= 1000) return 0;
  context->lastTick = tick;
  if (context->callback) context->callback(percent, now, total);
  return 0;
}

std::wstring hostOfUrl(const char* url) {
  std::wstring host;
  CURLU* parts = curl_url();
  if (!parts) return host;
  char* text = nullptr;
  if (curl_url_set(parts, CURLUPART_URL, url, 0) == CURLUE_OK &&
      curl_url_get(parts, CURLUPART_HOST, &text, 0) == CURLUE_OK) {
    std::string narrow = text;
    if (narrow.size() > 2 && narrow.front() == '[' && narrow.back() == ']') narrow = narrow.substr(1, narrow.size() - 2);
    host = ansiToWide(narrow);
    curl_free(text);
  }
  curl_url_cleanup(parts);
  return host;
}

// The chain must end in a trusted root with no error at all and name the host. Revocation is left
// to Schannel, which checks it best effort.
bool verifyServerCertificate(PCCERT_CONTEXT cert, const std::wstring& host) {
  const char* tag = "QXCurlDownloader::verifyServerCertificate";
  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para, 0, nullptr, &chain)) {
    common::log(tag, __LINE__, L"CertGetCertificateChain error %d", static_cast<int>(GetLastError()));
    return false;
  }
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  BOOL checked = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
  DWORD trust = chain->TrustStatus.dwErrorStatus;
  CertFreeCertificateChain(chain);
  // Wine's SSL policy alone passes partial chains, hence the trust status as well.
  if (!checked || status.dwError != 0 || trust != 0) {
    common::log(tag, __LINE__, L"server certificate refused for %s: policy 0x%08x, chain 0x%08x", host.c_str(),
                static_cast<unsigned>(checked ? status.dwError : GetLastError()), static_cast<unsigned>(trust));
    return false;
  }
  return true;
}

// Runs once a connection stands and before the request goes out, also after each redirect.
int checkServerCertificate(void* clientp, char*, char*, int, int) {
  CURL* curl = static_cast<CURL*>(clientp);
  struct curl_tlssessioninfo* info = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || !info) return CURL_PREREQFUNC_ABORT;
  if (!info->internals) return CURL_PREREQFUNC_OK;  // plain HTTP
  if (info->backend != CURLSSLBACKEND_SCHANNEL) return CURL_PREREQFUNC_ABORT;
  auto* context = static_cast<CtxtHandle*>(info->internals);
  PCCERT_CONTEXT cert = nullptr;
  SECURITY_STATUS got = QueryContextAttributesW(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert);
  if (got != SEC_E_OK || !cert) {
    common::log("QXCurlDownloader::verifyServerCertificate", __LINE__, L"no server certificate 0x%08x",
                static_cast<unsigned>(got));
    return CURL_PREREQFUNC_ABORT;
  }
  char* url = nullptr;
  curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &url);
  bool trusted = url && verifyServerCertificate(cert, hostOfUrl(url));
  CertFreeCertificateContext(cert);
  return trusted ? CURL_PREREQFUNC_OK : CURL_PREREQFUNC_ABORT;
}

void setTlsOptions(CURL* curl) {
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  // An unreachable revocation server must not fail an install.
  curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
  curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, checkServerCertificate);
  curl_easy_setopt(curl, CURLOPT_PREREQDATA, curl);
}

struct HeaderSList {
  curl_slist* list = nullptr;
  ~HeaderSList() { curl_slist_free_all(list); }
  void append(const std::string& line) {
    if (curl_slist* grown = curl_slist_append(list, line.c_str())) list = grown;
  }
};

std::wstring curlError(CURLcode code) { return ansiToWide(curl_easy_strerror(code)); }

// The shared frame of the two memory transfers; only the options differ.
bool performMemory(const char* tag, const char* sinkTag, std::string& response, const std::string& url,
                   const QXCurlDownloader::HeaderList& headers, const std::string* postBody) {
  CURL* curl = curl_easy_init();
  if (!curl) {
    common::log(tag, __LINE__, L"curl init error");
    return false;
  }
  MemorySink sink;
  sink.tag = sinkTag;
  HeaderSList list;
  list.append(postBody ? "Content-Type:application/json;charset=UTF-8" : "Content-Type: application/x-www-form-urlencoded");
  for (const std::string& header : headers) list.append(header);
  std::string utf8Body;
  if (postBody) utf8Body = wideToUtf8(ansiToWide(*postBody));

  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeMemory);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  setTlsOptions(curl);
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list.list);
  if (postBody) {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, utf8Body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(utf8Body.size()));
  }
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, QXCurlDownloader::kConnectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, postBody ? QXCurlDownloader::kPostTimeoutMs : QXCurlDownloader::kMemoryTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());

  CURLcode code = curl_easy_perform(curl);
  bool ok = code == CURLE_OK;
  if (ok) {
    common::log(tag, __LINE__, L"curl download sucess %d", static_cast<int>(sink.size));
    response.assign(sink.data ? sink.data : "", sink.size);
  } else {
    common::log(tag, __LINE__, L"curl download error %s", curlError(code).c_str());
  }
  curl_easy_cleanup(curl);
  return ok;
}

}  // namespace

bool QXCurlDownloader::downloadMemory(std::string& response, const std::string& url, const HeaderList& headers) {
  const char* tag = "QXCurlDownloader::downloadMemory";
  common::log(tag, __LINE__, L"QXCurlDownloader::downloadMemory start");
  return performMemory(tag, "WriteMemoryCallback", response, url, headers, nullptr);
}

bool QXCurlDownloader::postRequest(const std::string& body, std::string& response, const std::string& url,
                                   const HeaderList& headers) {
  const char* tag = "QXCurlDownloader::postRequest";
  common::log(tag, __LINE__, L"QXCurlDownloader::postRequest start");
  return performMemory(tag, "WriteMemoryCallbackPost", response, url, headers, &body);
}

bool QXCurlDownloader::downloadFile(const std::wstring& path, const std::string& url, ProgressCallback progress) {
  const char* tag = "QXCurlDownloader::downloadFile";
  common::log(tag, __LINE__, L"QXCurlDownloader::downloadfile start");
  CURL* curl = curl_easy_init();
  if (!curl) {
    common::log(tag, __LINE__, L"curl init error");
    return false;
  }
  FileSink sink;
  sink.curl = curl;
  sink.file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (sink.file == INVALID_HANDLE_VALUE) {
    common::log(tag, __LINE__, L"openfile error path : %s. %d", path.c_str(), static_cast<int>(GetLastError()));
    curl_easy_cleanup(curl);
    return false;
  }
  ProgressContext context;
  context.callback = std::move(progress);

  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeFile);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  setTlsOptions(curl);
  curl_easy_setopt(curl, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(kMaxFileSpeed));
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxFileRedirects);
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &context);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, throttleProgress);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());

  CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  bool ok = code == CURLE_OK && isSuccessStatus(status);
  if (!ok && !sink.refusedStatus && code != CURLE_OK) {
    common::log(tag, __LINE__, L"download error %s", curlError(code).c_str());
    CloseHandle(sink.file);
    common::log(tag, __LINE__, L"curl download file error %s", curlError(code).c_str());
  } else if (!ok) {
    // A final status outside 2xx: the body is an error page, never the file.
    CloseHandle(sink.file);
    common::log(tag, __LINE__, L"curl download file error status %d", static_cast<int>(status));
  } else {
    CloseHandle(sink.file);
    common::log(tag, __LINE__, L"curl download  file sucess");
  }
  curl_easy_cleanup(curl);
  return ok;
}
