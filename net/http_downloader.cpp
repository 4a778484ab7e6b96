#include "net/http_downloader.h"

#include "common/log.h"

namespace utility {
namespace {

constexpr wchar_t kExtraHeaders[] = L"Content-Type: application/x-www-form-urlencoded";

bool isSuccessStatus(DWORD status) { return status >= 200 && status <= 299; }

}  // namespace

bool CHttpDownloader::downloadToMemory(std::string& response, const std::wstring& url) {
  close();
  if (isCancelled()) return false;
  CHttpDownload2MemSink sink(response, &cancelFlag_);
  bool ok = open(url, kExtraHeaders, &sink) && perform();
  close();
  return ok;
}

bool CHttpDownloader::downloadToFile(const std::wstring& url, const std::wstring& path,
                                     IHttpDownloadSink* progress) {
  close();
  if (isCancelled()) return false;
  CHttpDownload2FileSink sink(path, &cancelFlag_, progress);
  bool ok = open(url, kExtraHeaders, &sink) && perform();
  close();
  sink.closeFile();
  return ok;
}

void CHttpDownloader::cancel() {
  cancelFlag_.requestStop();
  close();
  cancelFlag_.stop(2000);
}

bool CHttpDownload2MemSink::onHttpRecvHeader(long long, DWORD status) { return isSuccessStatus(status); }

bool CHttpDownload2MemSink::onHttpRecvData(const void* data, DWORD size) {
  if (cancelFlag_ && cancelFlag_->isStopRequested()) return false;
  target_.append(static_cast<const char*>(data), size);
  return true;
}

void CHttpDownload2FileSink::onHttpError(DWORD error, DWORD systemError) {
  file_.close();
  common::log("utility::CHttpDownload2FileSink::onHttpError", __LINE__, L"onHttpErro %d, %d",
              static_cast<int>(error), static_cast<int>(systemError));
}

bool CHttpDownload2FileSink::onHttpRecvHeader(long long contentLength, DWORD status) {
  const char* tag = "utility::CHttpDownload2FileSink::onHttpRecvHeader";
  if (!isSuccessStatus(status)) {
    common::log(tag, __LINE__, L"onHttpErro status = %d", static_cast<int>(status));
    return false;
  }
  expected_ = contentLength > 0 ? contentLength : kAssumedLength;
  received_ = 0;
  if (!file_.create(path_)) {
    common::log(tag, __LINE__, L"onHttpErro create file error  %d", static_cast<int>(GetLastError()));
    return false;
  }
  return true;
}

bool CHttpDownload2FileSink::onHttpRecvData(const void* data, DWORD size) {
  if (cancelFlag_ && cancelFlag_->isStopRequested()) return false;
  received_ += size;
  if (progress_ && !progress_->onDownloadProgress(data, size, received_, expected_)) return false;
  return file_.write(data, size);
}

}  // namespace utility
