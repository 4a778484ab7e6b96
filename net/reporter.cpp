#include "net/reporter.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <ctime>

#include "build_config.h"
#include "common/log.h"
#include "common/text_codec.h"
#include "net/curl_downloader.h"
#include "net/device_identity.h"
#include "net/runable.h"
#include "utility/usystem.h"

namespace report_format {
namespace {

rapidjson::Value text(const std::string& value, rapidjson::Document::AllocatorType& allocator) {
  return rapidjson::Value(value.c_str(), static_cast<rapidjson::SizeType>(value.size()), allocator);
}

}  // namespace

void appendEvent(rapidjson::Value& array, rapidjson::Document::AllocatorType& allocator, const TelemetryEvent& event,
                 const std::string& eventId, const ReportIdentity& identity) {
  std::string deviceId = wideToUtf8(identity.deviceId);
  rapidjson::Value properties(rapidjson::kObjectType);
  properties.AddMember("rez_version", text(wideToUtf8(build::kDownloaderVersion), allocator), allocator);
  properties.AddMember("rez_mac", text(deviceId, allocator), allocator);
  properties.AddMember("device_id", text(deviceId, allocator), allocator);
  properties.AddMember("openid", text(wideToUtf8(identity.openId), allocator), allocator);
  if (event.builder) event.builder(properties, allocator);

  rapidjson::Value object(rapidjson::kObjectType);
  object.AddMember("appId", 1, allocator);
  object.AddMember("eventId", text(eventId, allocator), allocator);
  object.AddMember("eventKey", text(wideToUtf8(event.key), allocator), allocator);
  object.AddMember("timestamp", static_cast<int64_t>(event.timestamp), allocator);
  object.AddMember("properties", properties, allocator);
  array.PushBack(object, allocator);
}

std::string writeBody(const rapidjson::Value& array) {
  rapidjson::StringBuffer buffer;
  // Non-ASCII text goes out as \u escapes: the body stays ASCII, which the POST's re-encoding
  // from the ANSI code page leaves byte for byte.
  rapidjson::PrettyWriter<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::ASCII<>> writer(buffer);
  array.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string signatureSource(long long requestTime, size_t count) {
  return kSignaturePrefix + std::to_string(requestTime) + std::to_string(static_cast<unsigned long long>(count) * 1024);
}

std::string signature(long long requestTime, size_t count) {
  std::string source = signatureSource(requestTime, count);
  std::string digest;
  if (!vbox::md5Hex(source.data(), static_cast<int>(source.size()), digest) || digest.size() < 8) return std::string();
  return digest.substr(digest.size() - 8);
}

std::vector<std::string> requestHeaders(long long requestTime, size_t count) {
  return {"timestamp: " + std::to_string(requestTime), "signature: " + signature(requestTime, count)};
}

}  // namespace report_format

namespace {

long long nowSecondsMs() { return static_cast<long long>(std::time(nullptr)) * 1000; }

// Guards a critical section for one scope.
class Hold {
 public:
  explicit Hold(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~Hold() { LeaveCriticalSection(&section_); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

}  // namespace

QXReporter& QXReporter::instance() {
  // Never destroyed: its thread may still be ending while the process exits.
  static QXReporter* reporter = new QXReporter;
  return *reporter;
}

QXReporter::QXReporter() : url_(build::kCollectionUrl) { InitializeCriticalSection(&lock_); }

QXReporter::~QXReporter() {
  shutdown();
  DeleteCriticalSection(&lock_);
}

void QXReporter::setIdentity(const ReportIdentity& identity) {
  Hold hold(lock_);
  identity_ = identity;
}

void QXReporter::start(const std::wstring& openId, const std::wstring& deviceId) {
  setIdentity(ReportIdentity{openId, deviceId});
  worker_.start(new MemberFuncRunable<QXReporter>(this, &QXReporter::_threadReport));
}

void QXReporter::report(const std::wstring& key, PropertiesBuilder builder) {
  TelemetryEvent event;
  event.key = key;
  event.timestamp = nowSecondsMs();
  event.builder = std::move(builder);
  Hold hold(lock_);
  queue_.push_back(std::move(event));
  ++count_;
}

void QXReporter::flush() { worker_.wake(); }

void QXReporter::shutdown() {
  flush();
  worker_.requestStop();
  worker_.stop(kStopWaitMs);
}

void QXReporter::_threadReport() {
  const char* tag = "QXReporter::_threadReport";
  for (;;) {
    common::log(tag, __LINE__, L"waitfor event");
    worker_.waitForWake(kPeriodMs);
    common::log(tag, __LINE__, L"event comming");

    rapidjson::Document document(rapidjson::kArrayType);
    size_t batch = 0;
    {
      Hold hold(lock_);
      batch = count_;
      for (const TelemetryEvent& event : queue_) {
        std::string eventId = wideToUtf8(utility::usystem::createGuidString());
        report_format::appendEvent(document, document.GetAllocator(), event, eventId, identity_);
      }
      queue_.clear();
      count_ = 0;
    }
    std::string body = report_format::writeBody(document);
    if (body.size() < 6) {
      common::log(tag, __LINE__, L"no body");
      if (worker_.isStopRequested()) break;
      continue;
    }

    long long requestTime = nowSecondsMs() + GetTickCount() % 1000;
    common::log(tag, __LINE__, L"post report quest");
    std::string response;
    QXCurlDownloader::postRequest(body, response, url_, report_format::requestHeaders(requestTime, batch));
    common::log(tag, __LINE__, L"report ret:%s", utf8ToWide(response).c_str());
    if (worker_.isStopRequested()) break;
  }
}
