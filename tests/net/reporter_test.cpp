#include "net/reporter.h"

#include <gtest/gtest.h>
#include <wincrypt.h>

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <algorithm>
#include <set>

#include "test_server.h"
#include "test_support.h"

namespace ts = testing_support;
using namespace test_server;

namespace {

const char* kTag = "QXReporter::_threadReport";

// Lower-case MD5 text through CryptoAPI, independent of the program's own digest.
std::string cryptMd5(const std::string& data) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  BYTE digest[16] = {};
  DWORD size = sizeof digest;
  std::string out;
  if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
      CryptCreateHash(provider, CALG_MD5, 0, 0, &hash) &&
      CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0) &&
      CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
    char hex[3];
    for (BYTE b : digest) {
      snprintf(hex, sizeof hex, "%02x", b);
      out += hex;
    }
  }
  if (hash) CryptDestroyHash(hash);
  if (provider) CryptReleaseContext(provider, 0);
  return out;
}

PropertiesBuilder reasonBuilder(const std::string& reason) {
  return [reason](rapidjson::Value& properties, rapidjson::Document::AllocatorType& allocator) {
    properties.AddMember("failure_reason", rapidjson::Value(reason.c_str(), allocator), allocator);
  };
}

std::string prettyAscii(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::ASCII<>> writer(buffer);
  value.Accept(writer);
  return buffer.GetString();
}

std::vector<std::string> memberNames(const rapidjson::Value& object) {
  std::vector<std::string> names;
  for (auto& member : object.GetObject()) names.push_back(member.name.GetString());
  return names;
}

std::vector<std::wstring> newRecords(size_t before) {
  std::vector<std::wstring> all = recordFiles(L"collection");
  return std::vector<std::wstring>(all.begin() + static_cast<std::ptrdiff_t>(std::min(before, all.size())), all.end());
}

}  // namespace

// Two events, one with a builder: the array in queue order, each object's members in their fixed
// order, the four common properties then the builder's, non-ASCII text escaped, 4-blank pretty form.
TEST(ReportFormat, BodyIsThePrettyArray) {
  rapidjson::Document doc(rapidjson::kArrayType);
  ReportIdentity identity{L"ch_01", L"3-0123abcd"};
  TelemetryEvent plain{L"start_download", 1700000000000LL, nullptr};
  TelemetryEvent withReason{L"complete_install", 1700000001000LL, reasonBuilder("\xE4\xB8\xAD" "a\"b")};
  report_format::appendEvent(doc, doc.GetAllocator(), plain, "A_1", identity);
  report_format::appendEvent(doc, doc.GetAllocator(), withReason, "B_2", identity);
  const char* expected =
      "[\n"
      "    {\n"
      "        \"appId\": 1,\n"
      "        \"eventId\": \"A_1\",\n"
      "        \"eventKey\": \"start_download\",\n"
      "        \"timestamp\": 1700000000000,\n"
      "        \"properties\": {\n"
      "            \"rez_version\": \"3.0\",\n"
      "            \"rez_mac\": \"3-0123abcd\",\n"
      "            \"device_id\": \"3-0123abcd\",\n"
      "            \"openid\": \"ch_01\"\n"
      "        }\n"
      "    },\n"
      "    {\n"
      "        \"appId\": 1,\n"
      "        \"eventId\": \"B_2\",\n"
      "        \"eventKey\": \"complete_install\",\n"
      "        \"timestamp\": 1700000001000,\n"
      "        \"properties\": {\n"
      "            \"rez_version\": \"3.0\",\n"
      "            \"rez_mac\": \"3-0123abcd\",\n"
      "            \"device_id\": \"3-0123abcd\",\n"
      "            \"openid\": \"ch_01\",\n"
      "            \"failure_reason\": \"\\u4E2Da\\\"b\"\n"
      "        }\n"
      "    }\n"
      "]";
  EXPECT_EQ(report_format::writeBody(doc), expected);
  EXPECT_EQ(report_format::writeBody(rapidjson::Value(rapidjson::kArrayType)), "[]");
}

// The signature source is prefix + T + count*1024; the header carries the last 8 lower-case hex
// digits of its MD5, and the timestamp header the same T.
TEST(ReportFormat, SignatureHeaders) {
  struct Case {
    long long time;
    size_t count;
    const char* source;
  } cases[] = {
      {1700000000123LL, 3, "pxusyych*hgeazpuyu=17000000001233072"},
      {1700000000000LL, 1, "pxusyych*hgeazpuyu=17000000000001024"},
      {1, 100, "pxusyych*hgeazpuyu=1102400"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(report_format::signatureSource(c.time, c.count), c.source);
    std::string digest = cryptMd5(c.source);
    ASSERT_EQ(digest.size(), 32u);
    std::vector<std::string> headers = report_format::requestHeaders(c.time, c.count);
    ASSERT_EQ(headers.size(), 2u);
    EXPECT_EQ(headers[0], "timestamp: " + std::to_string(c.time));
    EXPECT_EQ(headers[1], "signature: " + digest.substr(24));
  }
}

// Three events (one reported before start) and two flushes give one request to the collection
// endpoint: the exact pretty body of the three in queue order, signed for the count 3 with the
// same T as in the timestamp header; shutdown then sends nothing more.
TEST(Reporter, ThreeEventsGiveOneSignedRequest) {
  size_t before = recordFiles(L"collection").size();
  LogTail log;
  QXReporter reporter;
  reporter.report(L"start_download");
  reporter.start(L"ch_test", L"dev_0042");
  reporter.report(L"complete_install", reasonBuilder("\xE4\xB8\xAD\xE6\x96\x87 timeout"));
  reporter.report(L"call_rez");
  reporter.flush();
  reporter.flush();
  ASSERT_TRUE(ts::pollUntil([&] { return newRecords(before).size() >= 1; }, 30000));
  reporter.shutdown();

  std::vector<std::wstring> records = newRecords(before);
  ASSERT_EQ(records.size(), 1u);
  Record record = readRecord(records[0]);
  ASSERT_TRUE(record.ok);
  EXPECT_EQ(record.path, "/collection/biz/upload");

  rapidjson::Document body;
  ASSERT_FALSE(body.Parse(record.body.c_str()).HasParseError());
  EXPECT_EQ(prettyAscii(body), record.body);
  ASSERT_TRUE(body.IsArray());
  ASSERT_EQ(body.Size(), 3u);
  const char* keys[] = {"start_download", "complete_install", "call_rez"};
  std::set<std::string> ids;
  for (rapidjson::SizeType i = 0; i < 3; ++i) {
    const rapidjson::Value& event = body[i];
    EXPECT_EQ(memberNames(event),
              (std::vector<std::string>{"appId", "eventId", "eventKey", "timestamp", "properties"}));
    EXPECT_EQ(event["appId"].GetInt(), 1);
    EXPECT_EQ(std::string(event["eventKey"].GetString()), keys[i]);
    EXPECT_EQ(event["timestamp"].GetInt64() % 1000, 0);
    ids.insert(event["eventId"].GetString());
    std::vector<std::string> names{"rez_version", "rez_mac", "device_id", "openid"};
    if (i == 1) names.push_back("failure_reason");
    EXPECT_EQ(memberNames(event["properties"]), names);
    EXPECT_EQ(std::string(event["properties"]["rez_version"].GetString()), "3.0");
    EXPECT_EQ(std::string(event["properties"]["rez_mac"].GetString()), "dev_0042");
    EXPECT_EQ(std::string(event["properties"]["device_id"].GetString()), "dev_0042");
    EXPECT_EQ(std::string(event["properties"]["openid"].GetString()), "ch_test");
  }
  EXPECT_EQ(ids.size(), 3u);
  EXPECT_EQ(std::string(body[1]["properties"]["failure_reason"].GetString()), "\xE4\xB8\xAD\xE6\x96\x87 timeout");

  std::string stamp = record.headers["timestamp"];
  ASSERT_FALSE(stamp.empty());
  EXPECT_EQ(stamp.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_GE(std::stoll(stamp), body[0]["timestamp"].GetInt64());
  std::string digest = cryptMd5("pxusyych*hgeazpuyu=" + stamp + "3072");
  EXPECT_EQ(record.headers["signature"], digest.substr(24));

  // The thread has ended: once its reply line is in the file, the lines before it are too.
  EXPECT_TRUE(log.waitFor(kTag, L"report ret:{\"code\":0}"));
  EXPECT_EQ(log.count(kTag, L"post report quest"), 1u);
}

// Shutdown while the worker idles with events queued: its flush makes the worker send them
// before it sees the stop request, and the thread has ended when shutdown returns.
TEST(Reporter, ShutdownSendsQueuedEvents) {
  size_t before = recordFiles(L"collection").size();
  LogTail log;
  QXReporter reporter;
  reporter.start(L"ch_stop", L"dev_stop");
  ASSERT_TRUE(log.waitFor(kTag, L"waitfor event"));
  reporter.report(L"user_cancel", [](rapidjson::Value& properties, rapidjson::Document::AllocatorType& allocator) {
    properties.AddMember("cancel_reason", "installed", allocator);
  });
  reporter.shutdown();

  std::vector<std::wstring> records = newRecords(before);
  ASSERT_EQ(records.size(), 1u);
  rapidjson::Document body;
  Record record = readRecord(records[0]);
  ASSERT_FALSE(body.Parse(record.body.c_str()).HasParseError());
  ASSERT_EQ(body.Size(), 1u);
  EXPECT_EQ(std::string(body[0]["eventKey"].GetString()), "user_cancel");
  EXPECT_EQ(std::string(body[0]["properties"]["cancel_reason"].GetString()), "installed");
  EXPECT_EQ(record.headers["signature"], cryptMd5("pxusyych*hgeazpuyu=" + record.headers["timestamp"] + "1024").substr(24));
  EXPECT_TRUE(log.waitFor(kTag, L"report ret:{\"code\":0}"));
}

// A wake with nothing queued logs "no body" and sends nothing.
TEST(Reporter, EmptyWakeSendsNothing) {
  size_t before = recordFiles(L"collection").size();
  LogTail log;
  QXReporter reporter;
  reporter.start(L"ch_empty", L"dev_empty");
  reporter.flush();
  EXPECT_TRUE(log.waitFor(kTag, L"no body"));
  reporter.shutdown();
  EXPECT_TRUE(newRecords(before).empty());
  EXPECT_EQ(log.count(kTag, L"post report quest"), 0u);
}
