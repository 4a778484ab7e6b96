#include "net/http_client.h"

#include <cwchar>
#include <vector>

#include "common/log.h"

namespace utility {
namespace {

// Closes one internet handle on scope exit.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_) InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

// Read as text: the 64-bit numeric query fails under some implementations.
long long queryContentLength(HINTERNET request) {
  wchar_t text[32] = {};
  DWORD size = sizeof text;
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return -1;
  wchar_t* end = nullptr;
  long long length = _wcstoi64(text, &end, 10);
  if (end == text || length < 0) return -1;
  return length;
}

constexpr DWORD kFlowing = 8192;

constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | 0x80 /* cache async */ |
                                INTERNET_FLAG_TRANSFER_ASCII;

}  // namespace

CHttpClient::~CHttpClient() { close(); }

bool CHttpClient::open(const std::wstring& url, const std::wstring& headers, IHttpClientSink* sink) {
  sink_ = sink;
  HINTERNET session = InternetOpenW(L"", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!session) {
    if (sink_) sink_->onHttpError(kErrorOpenSession, GetLastError());
    return false;
  }
  if (HINTERNET previous = session_.exchange(session)) InternetCloseHandle(previous);

  wchar_t host[256] = {};
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = 255;
  parts.dwUrlPathLength = 1;  // asks for the position of the path within the URL
  if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    if (sink_) sink_->onHttpError(kErrorCrackUrl, GetLastError());
    return false;
  }
  host_ = host;
  port_ = parts.nPort;
  object_ = parts.lpszUrlPath ? std::wstring(parts.lpszUrlPath) : std::wstring();
  headers_ = headers;
  secure_ = url.size() >= 8 && _wcsnicmp(url.c_str(), L"https://", 8) == 0;
  return true;
}

bool CHttpClient::perform() {
  const char* tag = "utility::CHttpClient::perform";
  InternetHandle connection(
      InternetConnectW(session_.load(), host_.c_str(), port_, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1));
  if (!connection) {
    if (sink_) sink_->onHttpError(kErrorConnect, GetLastError());
    return false;
  }
  const wchar_t* accept[] = {L"*/*", nullptr};
  DWORD flags = kRequestFlags | (secure_ ? INTERNET_FLAG_SECURE : 0);
  InternetHandle request(
      HttpOpenRequestW(connection.get(), L"GET", object_.c_str(), L"HTTP/1.1", nullptr, accept, flags, 1));
  if (!request ||
      !HttpSendRequestW(request.get(), headers_.c_str(), static_cast<DWORD>(-1), nullptr, 0)) {
    if (sink_) sink_->onHttpError(kErrorSendRequest, GetLastError());
    return false;
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    if (sink_) sink_->onHttpError(kErrorQueryStatus, GetLastError());
    return false;
  }
  long long length = queryContentLength(request.get());
  if (sink_ && !sink_->onHttpRecvHeader(length, status)) return false;

  std::vector<char> buffer(kBlockSize);
  long long received = 0;
  for (;;) {
    // A synchronous read waits until its whole buffer is full, and some implementations do not
    // wake a waiting read when cancel() closes the session. So a slow stream is read as far as it
    // has arrived, and the next call fails at once after a close; a stream that keeps a full
    // buffer (kFlowing) is read in whole blocks, which arrive without a wait and cost half the
    // calls.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request.get(), &available, 0, 0)) {
      common::log(tag, __LINE__, L"InternetQueryDataAvailable error %d", static_cast<int>(GetLastError()));
      return false;
    }
    DWORD want = available == 0 || available >= kFlowing ? kBlockSize : available;
    DWORD got = 0;
    if (!InternetReadFile(request.get(), buffer.data(), want, &got)) {
      common::log(tag, __LINE__, L"InternetReadFile error %d", static_cast<int>(GetLastError()));
      return false;
    }
    if (got == 0) break;
    received += got;
    if (sink_ && !sink_->onHttpRecvData(buffer.data(), got)) return false;
  }
  // The platform ends a cut connection like a finished body.
  if (length >= 0 && received < length) {
    common::log(tag, __LINE__, L"body cut short: %I64d of %I64d bytes", received, length);
    return false;
  }
  if (sink_) sink_->onHttpComplete();
  return true;
}

void CHttpClient::close() {
  if (HINTERNET session = session_.exchange(nullptr)) InternetCloseHandle(session);
}

}  // namespace utility
