#include "net/curl_downloader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "test_server.h"
#include "test_config.h"
#include "test_support.h"

namespace ts = testing_support;
using namespace test_server;

namespace {

const char* kMemoryTag = "QXCurlDownloader::downloadMemory";
const char* kPostTag = "QXCurlDownloader::postRequest";
const char* kFileTag = "QXCurlDownloader::downloadFile";

struct ProgressCall {
  int percent;
  double downloaded;
  double total;
  DWORD tick;
};

}  // namespace

// GET into memory against each server case: the result, the body handed back (untouched on
// failure) and the log line. Error pages count as content; TLS that fails verification does not.
TEST(CurlMemory, ServerCases) {
  std::string content;
  std::wstring name = serveFile(L"curlmem", 70000, &content);
  struct Case {
    std::wstring url;
    bool ok;
    const char* bodyPart;  // expected in the response; nullptr: the file's content
    const wchar_t* log;
  } cases[] = {
      {httpUrl(L"/files/" + name), true, nullptr, L"curl download sucess 70000"},
      {httpUrl(L"/redirect/6/" + name), true, nullptr, L"curl download sucess 70000"},
      {httpUrl(L"/nolength/" + name), true, nullptr, L"curl download sucess 70000"},
      {httpsUrl(L"/files/" + name), true, nullptr, L"curl download sucess 70000"},
      {httpUrl(L"/status/404"), true, "<html", L"curl download sucess"},
      {httpUrl(L"/reset/" + name), false, "", L"curl download error"},
      {httpUrl(L"/short/" + name), false, "", L"curl download error"},
      {httpsUrl(L"/files/" + name, 444), false, "", L"curl download error"},
      {httpsUrl(L"/files/" + name, 445), false, "", L"curl download error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.url));
    LogTail log;
    std::string response = "previous";
    bool ok = QXCurlDownloader::downloadMemory(response, narrow(c.url), {});
    EXPECT_EQ(ok, c.ok);
    if (!c.ok) {
      EXPECT_EQ(response, "previous");
    } else if (c.bodyPart) {
      EXPECT_NE(response.find(c.bodyPart), std::string::npos);
    } else {
      EXPECT_TRUE(response == content);
    }
    EXPECT_TRUE(log.waitFor(kMemoryTag, L"QXCurlDownloader::downloadMemory start"));
    EXPECT_TRUE(log.waitFor(kMemoryTag, c.log));
  }
}

// A certificate for another host name, or from a CA nobody trusts, is refused by the program's own
// check before any request is sent; the refusal names the host.
TEST(CurlTls, RefusedCertificateSendsNoRequest) {
  for (int offset : {444, 445}) {
    std::wstring name = serveFile(L"curltls", 100);
    LogTail log;
    std::string response;
    EXPECT_FALSE(QXCurlDownloader::downloadMemory(response, narrow(httpsUrl(L"/files/" + name, offset)), {}));
    EXPECT_TRUE(log.waitFor("QXCurlDownloader::verifyServerCertificate", L"server certificate refused for localhost"));
    EXPECT_TRUE(requestsFor(narrow(name)).empty());
  }
}

// The memory GET carries the form content type, then the caller's headers, and keeps the query.
TEST(CurlMemory, SendsHeadersAndQuery) {
  std::wstring name = serveFile(L"curlhdr", 10);
  std::string response;
  ASSERT_TRUE(QXCurlDownloader::downloadMemory(response, narrow(httpUrl(L"/files/" + name + L"?a=1&b=two")),
                                               {"X-First: 1", "X-Second:2"}));
  std::vector<std::string> seen = requestsFor(narrow(name));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_NE(seen[0].find(narrow(name) + "?a=1&b=two"), std::string::npos);
  EXPECT_NE(seen[0].find("\"content-type\": \"application/x-www-form-urlencoded\""), std::string::npos);
  EXPECT_NE(seen[0].find("\"x-first\": \"1\""), std::string::npos);
  EXPECT_NE(seen[0].find("\"x-second\": \"2\""), std::string::npos);
}

// A POST sends an ASCII body byte for byte and ANSI (code page 936) text as UTF-8, with the JSON
// content type before the caller's headers, and returns the server's answer.
TEST(CurlPost, SendsBodyAndHeaders) {
  struct Case {
    std::string body;
    std::string sent;
  } cases[] = {
      {"[{\"a\": 1, \"b\": \"x y\"}]", "[{\"a\": 1, \"b\": \"x y\"}]"},
      {"\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},  // the two characters for "Chinese"
  };
  for (const Case& c : cases) {
    std::wstring endpoint = ts::uniqueName(L"curlpost");
    std::string response;
    LogTail log;
    ASSERT_TRUE(QXCurlDownloader::postRequest(c.body, response, narrow(httpsUrl(L"/record/" + endpoint)),
                                              {"timestamp: 12", "signature: ab"}));
    EXPECT_EQ(response, "{\"code\":0}");
    EXPECT_TRUE(log.waitFor(kPostTag, L"curl download sucess 10"));
    std::vector<std::wstring> records = recordFiles(endpoint);
    ASSERT_EQ(records.size(), 1u);
    Record record = readRecord(records[0]);
    ASSERT_TRUE(record.ok);
    EXPECT_EQ(record.body, c.sent);
    EXPECT_EQ(record.headers["content-type"], "application/json;charset=UTF-8");
    std::vector<std::string> own;
    for (const std::string& header : record.headerOrder)
      if (header == "Content-Type" || header == "timestamp" || header == "signature") own.push_back(header);
    EXPECT_EQ(own, (std::vector<std::string>{"Content-Type", "timestamp", "signature"}));
  }
}

// An endpoint that accepts the POST and never answers ends the call with false after the overall
// time-out instead of holding the thread.
TEST(CurlPost, SilentEndpointTimesOut) {
  std::wstring endpoint = ts::uniqueName(L"curlhang");
  Rule hang(narrow(L"/record/" + endpoint), "hang", 0, "POST");
  std::atomic<int> result{-1};
  LogTail log;
  std::thread poster([&] {
    std::string response;
    result = QXCurlDownloader::postRequest("[]", response, narrow(httpUrl(L"/record/" + endpoint)), {}) ? 1 : 0;
  });
  bool ended = ts::pollUntil([&] { return result >= 0; }, 60000);
  if (!ended) poster.detach();
  else poster.join();
  ASSERT_TRUE(ended);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(log.waitFor(kPostTag, L"curl download error"));
}

// File downloads against each server case: the result, what reaches the file and the log line.
// An error page after redirects fails and is never written; a sixth redirect fails.
TEST(CurlFile, ServerCases) {
  std::string content;
  std::wstring name = serveFile(L"curlfile", 300000, &content);
  std::wstring folder = ts::makeTempDir(L"curlfile");
  struct Case {
    std::wstring url;
    bool ok;
    bool whole;  // the file holds the whole content
    const wchar_t* log;
  } cases[] = {
      {httpUrl(L"/files/" + name), true, true, L"curl download  file sucess"},
      {httpUrl(L"/redirect/5/" + name), true, true, L"curl download  file sucess"},
      {httpsUrl(L"/redirect/5/" + name), true, true, L"curl download  file sucess"},
      {httpUrl(L"/nolength/" + name), true, true, L"curl download  file sucess"},
      {httpUrl(L"/redirect/6/" + name), false, false, L"curl download file error"},
      {httpUrl(L"/status/404"), false, false, L"curl download file error status 404"},
      {httpUrl(L"/redirect/2/missing_" + name), false, false, L"curl download file error status 404"},
      {httpUrl(L"/status/500"), false, false, L"curl download file error status 500"},
      {httpUrl(L"/short/" + name), false, false, L"curl download file error"},
      {httpUrl(L"/reset/" + name), false, false, L"curl download file error"},
      {httpsUrl(L"/files/" + name, 444), false, false, L"curl download file error"},
      {httpsUrl(L"/files/" + name, 445), false, false, L"curl download file error"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.url));
    std::wstring target = folder + std::to_wstring(++index) + L".bin";
    LogTail log;
    QXCurlDownloader downloader;
    EXPECT_EQ(downloader.downloadFile(target, narrow(c.url), nullptr), c.ok);
    std::string written;
    EXPECT_TRUE(ts::readFile(target, written));  // created in every case, closed on return
    if (c.whole) {
      EXPECT_TRUE(written == content);
    } else {
      EXPECT_LT(written.size(), content.size());
      EXPECT_EQ(written.find("<html"), std::string::npos);
    }
    EXPECT_TRUE(log.waitFor(kFileTag, L"QXCurlDownloader::downloadfile start"));
    EXPECT_TRUE(log.waitFor(kFileTag, c.log));
  }
}

// A target folder that does not exist: logged with the path, false, and no request is made.
TEST(CurlFile, MissingFolderMakesNoRequest) {
  std::wstring name = serveFile(L"curlnodir", 10);
  std::wstring target = ts::makeTempDir(L"curlnodir") + L"absent\\file.bin";
  LogTail log;
  QXCurlDownloader downloader;
  EXPECT_FALSE(downloader.downloadFile(target, narrow(httpUrl(L"/files/" + name)), nullptr));
  EXPECT_TRUE(log.waitFor(kFileTag, L"openfile error path : " + target + L". 3"));
  EXPECT_TRUE(requestsFor(narrow(name)).empty());
}

// A download lasting a few seconds reports progress at most once a second, never 100 percent,
// against the announced total; the same body without a length reports nothing at all.
TEST(CurlFile, ProgressIsThrottledAndNeedsALength) {
  std::string content;
  std::wstring name = serveFile(L"curlprog", 160000, &content);
  std::wstring folder = ts::makeTempDir(L"curlprog");
  struct Case {
    std::wstring url;
    bool withLength;
  } cases[] = {
      {httpUrl(L"/trickle/" + name + L"?bytes=8000&ms=150"), true},
      {httpUrl(L"/nolength/" + name), false},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.url));
    std::vector<ProgressCall> calls;
    QXCurlDownloader downloader;
    std::wstring target = folder + std::to_wstring(++index) + L".bin";
    ASSERT_TRUE(downloader.downloadFile(target, narrow(c.url), [&](int percent, double downloaded, double total) {
      calls.push_back({percent, downloaded, total, GetTickCount()});
    }));
    std::string written;
    ts::readFile(target, written);
    EXPECT_TRUE(written == content);
    if (!c.withLength) {
      EXPECT_TRUE(calls.empty());
      continue;
    }
    ASSERT_GE(calls.size(), 2u);
    for (size_t i = 0; i < calls.size(); ++i) {
      EXPECT_GE(calls[i].percent, 0);
      EXPECT_LE(calls[i].percent, 99);
      EXPECT_EQ(calls[i].total, 160000.0);
      EXPECT_EQ(calls[i].percent, std::min(99, static_cast<int>(calls[i].downloaded / calls[i].total * 100)));
      if (i > 0) {
        EXPECT_GT(calls[i].tick - calls[i - 1].tick, 1000u);
      }
    }
  }
}
