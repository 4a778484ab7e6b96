// Two ready-made WinInet transfers over CHttpClient, into memory and into a file, with
// cancellation from another thread. Both succeed only with a status of 200..299 and the whole body.
//
// Thread-safety: one download at a time per object, on the calling (worker) thread. cancel() may
// run on any thread while a download runs; it closes the session so the blocked transfer fails at
// its next platform call, and sets a flag that makes every later block be refused. A cancelled
// downloader stays cancelled and is not reused.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "net/http_client.h"
#include "net/worker_thread.h"
#include "utility/file_handle.h"

namespace utility {

class CHttpDownloader : public CHttpClient {
 public:
  // Progress of a file download, on the downloading thread. received includes this block;
  // expected is 10485760 when the server sent no length, and received may pass it. false stops
  // the download.
  class IHttpDownloadSink {
   public:
    virtual ~IHttpDownloadSink() = default;
    virtual bool onDownloadProgress(const void* data, DWORD size, long long received, long long expected) = 0;
  };

  // Appends the body to response as it arrives.
  bool downloadToMemory(std::string& response, const std::wstring& url);
  // Creates (or truncates) path once a 2xx header arrived; a failure after that leaves the partial
  // file for the caller. progress may be null.
  bool downloadToFile(const std::wstring& url, const std::wstring& path, IHttpDownloadSink* progress);
  void cancel();
  bool isCancelled() const { return cancelFlag_.isStopRequested(); }

 private:
  // Never started: only its stop flag is used, as the cancellation flag.
  WorkerThread cancelFlag_;
};

class CHttpDownload2MemSink : public CHttpClient::IHttpClientSink {
 public:
  CHttpDownload2MemSink(std::string& target, WorkerThread* cancelFlag) : target_(target), cancelFlag_(cancelFlag) {}
  void onHttpError(DWORD, DWORD) override {}
  bool onHttpRecvHeader(long long contentLength, DWORD status) override;
  bool onHttpRecvData(const void* data, DWORD size) override;
  void onHttpComplete() override {}

 private:
  std::string& target_;
  WorkerThread* cancelFlag_;
};

class CHttpDownload2FileSink : public CHttpClient::IHttpClientSink {
 public:
  static constexpr long long kAssumedLength = 10485760;

  CHttpDownload2FileSink(std::wstring path, WorkerThread* cancelFlag, CHttpDownloader::IHttpDownloadSink* progress)
      : path_(std::move(path)), cancelFlag_(cancelFlag), progress_(progress) {}
  void onHttpError(DWORD error, DWORD systemError) override;
  bool onHttpRecvHeader(long long contentLength, DWORD status) override;
  bool onHttpRecvData(const void* data, DWORD size) override;
  void onHttpComplete() override { file_.close(); }
  void closeFile() { file_.close(); }

 private:
  FileHandle file_;
  std::wstring path_;
  WorkerThread* cancelFlag_;
  CHttpDownloader::IHttpDownloadSink* progress_;
  long long received_ = 0;
  long long expected_ = 0;
};

}  // namespace utility
