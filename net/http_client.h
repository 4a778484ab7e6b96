// GET requests over the platform's internet service (WinInet), handing status, length and body
// to a sink. One transfer at a time per object; the transfer blocks its thread.
//
// TLS: the platform checks the certificate chain and the host name; either failing fails the
// request. A body that ends before the Content-Length the server announced fails the transfer.
//
// Thread-safety: open/perform run on one thread. close() may also be called from another thread
// while perform runs: the session handle is taken out atomically, so it is closed exactly once,
// and the transfer then fails at its next platform call.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <string>

namespace utility {

class CHttpClient {
 public:
  // Receives one transfer's events on the transferring thread. Not owned by the client.
  class IHttpClientSink {
   public:
    virtual ~IHttpClientSink() = default;
    // A step before the status was known failed: one of the error codes below and GetLastError().
    virtual void onHttpError(DWORD error, DWORD systemError) = 0;
    // contentLength is -1 when the server sent none. false stops the transfer.
    virtual bool onHttpRecvHeader(long long contentLength, DWORD status) = 0;
    // One block of the body. false stops the transfer.
    virtual bool onHttpRecvData(const void* data, DWORD size) = 0;
    // The whole body has arrived.
    virtual void onHttpComplete() = 0;
  };

  enum Error : DWORD {
    kErrorOpenSession = 0,
    kErrorCrackUrl = 1,
    kErrorConnect = 2,
    kErrorSendRequest = 6,
    kErrorQueryStatus = 7,
  };

  static constexpr DWORD kBlockSize = 32768;

  CHttpClient() = default;
  virtual ~CHttpClient();
  CHttpClient(const CHttpClient&) = delete;
  CHttpClient& operator=(const CHttpClient&) = delete;

  // Opens a session and splits the URL (the query string stays in the request target).
  bool open(const std::wstring& url, const std::wstring& headers, IHttpClientSink* sink);
  // Connects, sends the GET and streams the body to the sink. The session stays open.
  bool perform();
  // Closes the session if one is open; any thread.
  void close();

 private:
  std::atomic<HINTERNET> session_{nullptr};
  std::wstring host_;
  INTERNET_PORT port_ = 0;
  std::wstring object_;
  std::wstring headers_;
  bool secure_ = false;
  IHttpClientSink* sink_ = nullptr;
};

}  // namespace utility
