#include "net/http_downloader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "test_server.h"
#include "test_support.h"

namespace ts = testing_support;
using namespace test_server;

namespace {

const char* kHeaderTag = "utility::CHttpDownload2FileSink::onHttpRecvHeader";
const char* kErrorTag = "utility::CHttpDownload2FileSink::onHttpError";

// Records the events of one transfer.
struct RecordingSink : utility::CHttpClient::IHttpClientSink {
  std::vector<DWORD> errors;
  long long length = -2;
  DWORD status = 0;
  std::string body;
  bool complete = false;
  void onHttpError(DWORD error, DWORD) override { errors.push_back(error); }
  bool onHttpRecvHeader(long long contentLength, DWORD code) override {
    length = contentLength;
    status = code;
    return true;
  }
  bool onHttpRecvData(const void* data, DWORD size) override {
    body.append(static_cast<const char*>(data), size);
    return true;
  }
  void onHttpComplete() override { complete = true; }
};

struct Progress : utility::CHttpDownloader::IHttpDownloadSink {
  std::mutex lock;
  std::vector<long long> received;
  long long expected = 0;
  bool answer = true;
  bool onDownloadProgress(const void*, DWORD, long long got, long long total) override {
    std::lock_guard<std::mutex> hold(lock);
    received.push_back(got);
    expected = total;
    return answer;
  }
  size_t calls() {
    std::lock_guard<std::mutex> hold(lock);
    return received.size();
  }
};

}  // namespace

// The client hands the sink the status, the announced length (-1 without one) and the body; the
// steps before the status report their error code instead.
TEST(HttpClient, SinkSeesStatusLengthAndBody) {
  std::string content;
  std::wstring name = serveFile(L"client", 100000, &content);
  struct Case {
    std::wstring url;
    bool ok;
    long long length;
    DWORD status;
    std::vector<DWORD> errors;
  } cases[] = {
      {httpUrl(L"/files/" + name), true, 100000, 200, {}},
      {httpUrl(L"/nolength/" + name), true, -1, 200, {}},
      {httpsUrl(L"/redirect/2/" + name), true, 100000, 200, {}},
      {httpUrl(L"/status/404"), true, -2, 404, {}},
      {L"not a url", false, -2, 0, {utility::CHttpClient::kErrorCrackUrl}},
      {L"http://127.0.0.1:1/closed", false, -2, 0, {utility::CHttpClient::kErrorSendRequest}},
      {httpsUrl(L"/files/" + name, 444), false, -2, 0, {utility::CHttpClient::kErrorSendRequest}},
      {httpsUrl(L"/files/" + name, 445), false, -2, 0, {utility::CHttpClient::kErrorSendRequest}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.url));
    RecordingSink sink;
    utility::CHttpClient client;
    bool ok = client.open(c.url, L"", &sink) && client.perform();
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(sink.errors, c.errors);
    EXPECT_EQ(sink.status, c.status);
    if (c.status == 200) {
      EXPECT_EQ(sink.length, c.length);
      EXPECT_TRUE(sink.body == content);
      EXPECT_TRUE(sink.complete);
    }
  }
}

// Into memory: only a 2xx status with the whole body succeeds; an error page leaves the response
// empty, and a body cut short fails even though the platform ends it like a normal one.
TEST(HttpDownloadMemory, ServerCases) {
  std::string content;
  std::wstring name = serveFile(L"wimem", 90000, &content);
  struct Case {
    std::wstring url;
    bool ok;
  } cases[] = {
      {httpUrl(L"/files/" + name), true},
      {httpUrl(L"/nolength/" + name), true},
      {httpsUrl(L"/files/" + name), true},
      {httpUrl(L"/redirect/5/" + name), true},
      {httpUrl(L"/status/404"), false},
      {httpUrl(L"/short/" + name), false},
      {httpsUrl(L"/short/" + name), false},
      {httpUrl(L"/reset/" + name), false},
      {httpsUrl(L"/files/" + name, 444), false},
      {httpsUrl(L"/files/" + name, 445), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.url));
    std::string response;
    utility::CHttpDownloader downloader;
    EXPECT_EQ(downloader.downloadToMemory(response, c.url), c.ok);
    if (c.ok) {
      EXPECT_TRUE(response == content);
    } else {
      EXPECT_LT(response.size(), content.size());
    }
  }
}

// Into a file: what reaches the file, the progress against the announced or the assumed 10 MiB
// length, and the log lines of refused statuses and certificates. A 404 creates no file.
TEST(HttpDownloadFile, ServerCases) {
  std::string content;
  std::wstring name = serveFile(L"wifile", 200000, &content);
  std::wstring folder = ts::makeTempDir(L"wifile");
  struct Case {
    std::wstring url;
    bool ok;
    long long expected;     // progress total; 0: no progress expected
    bool fileExists;
    const char* tag;
    const wchar_t* log;
  } cases[] = {
      {httpUrl(L"/files/" + name), true, 200000, true, nullptr, nullptr},
      {httpUrl(L"/nolength/" + name), true, 10485760, true, nullptr, nullptr},
      {httpsUrl(L"/redirect/3/" + name), true, 200000, true, nullptr, nullptr},
      {httpUrl(L"/status/404"), false, 0, false, kHeaderTag, L"onHttpErro status = 404"},
      {httpUrl(L"/status/503"), false, 0, false, kHeaderTag, L"onHttpErro status = 503"},
      {httpUrl(L"/short/" + name), false, 200000, true, "utility::CHttpClient::perform",
       L"body cut short: 100000 of 200000 bytes"},
      {httpsUrl(L"/files/" + name, 444), false, 0, false, kErrorTag, L"onHttpErro 6, 12038"},
      {httpsUrl(L"/files/" + name, 445), false, 0, false, kErrorTag, L"onHttpErro 6, "},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.url));
    std::wstring target = folder + std::to_wstring(++index) + L".bin";
    LogTail log;
    Progress progress;
    utility::CHttpDownloader downloader;
    EXPECT_EQ(downloader.downloadToFile(c.url, target, &progress), c.ok);
    std::string written;
    EXPECT_EQ(ts::readFile(target, written), c.fileExists);
    if (c.ok) {
      EXPECT_TRUE(written == content);
      ASSERT_FALSE(progress.received.empty());
      EXPECT_EQ(progress.received.back(), 200000);
    }
    if (c.expected) {
      EXPECT_EQ(progress.expected, c.expected);
    } else {
      EXPECT_TRUE(progress.received.empty());
    }
    if (c.log) {
      EXPECT_TRUE(log.waitFor(c.tag, c.log));
    }
  }
}

// The query string travels in the request target, with the form content type header.
TEST(HttpDownloadFile, KeepsQueryString) {
  std::wstring name = serveFile(L"wiquery", 10);
  std::string response;
  utility::CHttpDownloader downloader;
  ASSERT_TRUE(downloader.downloadToMemory(response, httpUrl(L"/files/" + name + L"?x=1&y=%E4%B8%AD")));
  std::vector<std::string> seen = requestsFor(narrow(name));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_NE(seen[0].find(narrow(name) + "?x=1&y=%E4%B8%AD\""), std::string::npos);
  EXPECT_NE(seen[0].find("\"content-type\": \"application/x-www-form-urlencoded\""), std::string::npos);
}

// A missing target folder: the create failure is logged with its system error, the result false.
TEST(HttpDownloadFile, MissingFolderIsLogged) {
  std::wstring name = serveFile(L"winodir", 10);
  LogTail log;
  utility::CHttpDownloader downloader;
  EXPECT_FALSE(downloader.downloadToFile(httpUrl(L"/files/" + name), ts::makeTempDir(L"winodir") + L"absent\\f.bin",
                                         nullptr));
  EXPECT_TRUE(log.waitFor(kHeaderTag, L"onHttpErro create file error  3"));
}

// A progress sink answering false stops the download with false.
TEST(HttpDownloadFile, ProgressSinkCanStop) {
  std::wstring name = serveFile(L"wistop", 300000);
  Progress progress;
  progress.answer = false;
  utility::CHttpDownloader downloader;
  EXPECT_FALSE(downloader.downloadToFile(httpUrl(L"/files/" + name), ts::makeTempDir(L"wistop") + L"f.bin", &progress));
  EXPECT_EQ(progress.calls(), 1u);
}

// cancel() from another thread while a trickling download runs: the download returns false well
// within the time one whole block would take to arrive, and the cancelled downloader refuses every later download without contacting the server.
TEST(HttpDownloadFile, CancelFromAnotherThread) {
  std::wstring name = serveFile(L"wicancel", 400000);
  std::wstring folder = ts::makeTempDir(L"wicancel");
  for (bool toFile : {true, false}) {
    SCOPED_TRACE(toFile ? "file" : "memory");
    utility::CHttpDownloader downloader;
    Progress progress;
    std::string response;
    std::atomic<int> result{-1};
    std::thread worker([&] {
      // 2.5 KB/s: a read that waited for a whole 32 KiB block would take 13 s.
      std::wstring url = httpUrl(L"/trickle/" + name + L"?bytes=256&ms=100");
      bool ok = toFile ? downloader.downloadToFile(url, folder + L"c.bin", &progress)
                       : downloader.downloadToMemory(response, url);
      result = ok ? 1 : 0;
    });
    ASSERT_TRUE(ts::pollUntil([&] {
      return toFile ? progress.calls() >= 2 : requestsFor(narrow(name)).size() >= (toFile ? 1u : 2u);
    }));
    downloader.cancel();
    bool ended = ts::pollUntil([&] { return result >= 0; }, 5000);
    if (ended) worker.join();
    else worker.detach();
    ASSERT_TRUE(ended);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(downloader.isCancelled());

    std::wstring other = serveFile(L"wiafter", 10);
    std::string later;
    EXPECT_FALSE(downloader.downloadToMemory(later, httpUrl(L"/files/" + other)));
    EXPECT_FALSE(downloader.downloadToFile(httpUrl(L"/files/" + other), folder + L"after.bin", nullptr));
    EXPECT_TRUE(requestsFor(narrow(other)).empty());
  }
}
