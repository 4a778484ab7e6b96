// Telemetry: events are queued from any thread and uploaded in signed batches to the collection
// endpoint by the reporter's own thread, on flush() or every 5 minutes.
//
// Thread-safety: report, flush and setIdentity may be called from any thread, before or after
// start. One lock guards the queue and the identity; it is held only to append, to set, and while
// the worker builds a batch (property builders run then, on the worker thread). The worker sends
// with the lock released, so a slow network never blocks reporters.
//
// Lifetime: one process-wide instance (instance()), started once by the installer model when the
// channel and device ids are known, and ended by shutdown() after the message loop. Events queued
// after the worker has left its loop are never sent; a failed upload is dropped, never retried.
#pragma once

#include <windows.h>

#include <rapidjson/document.h>

#include <functional>
#include <list>
#include <string>
#include <vector>

#include "net/worker_thread.h"

// Adds event-specific members to the event's "properties" object. Runs later on the reporter
// thread, so it must capture by value everything it adds.
using PropertiesBuilder =
    std::function<void(rapidjson::Value& properties, rapidjson::Document::AllocatorType& allocator)>;

// One queued event. (Not "ReportEvent": windows.h takes that name for a macro.)
struct TelemetryEvent {
  std::wstring key;
  long long timestamp = 0;  // ms since 1970 UTC, whole seconds
  PropertiesBuilder builder;
};

// What the installer model knows and every event carries.
struct ReportIdentity {
  std::wstring openId;    // channel id
  std::wstring deviceId;  // device id ("pcid")
};

// The wire format, free of threads and network.
namespace report_format {

constexpr char kSignaturePrefix[] = "pxusyych*hgeazpuyu=";

// Appends one event object: appId, eventId, eventKey, timestamp, properties (rez_version,
// rez_mac, device_id, openid, then the builder's members).
void appendEvent(rapidjson::Value& array, rapidjson::Document::AllocatorType& allocator, const TelemetryEvent& event,
                 const std::string& eventId, const ReportIdentity& identity);
// The array as RapidJSON's pretty writer writes it (4-blank indentation; "[]" when empty), with
// non-ASCII characters as \u escapes.
std::string writeBody(const rapidjson::Value& array);
// prefix + requestTime + count * 1024, all decimal.
std::string signatureSource(long long requestTime, size_t count);
// The last 8 characters of the lower-case MD5 text of the signature source.
std::string signature(long long requestTime, size_t count);
// "timestamp: T", then "signature: S".
std::vector<std::string> requestHeaders(long long requestTime, size_t count);

}  // namespace report_format

class QXReporter {
 public:
  static constexpr DWORD kPeriodMs = 300000;
  static constexpr DWORD kStopWaitMs = 5000;

  static QXReporter& instance();

  QXReporter();
  ~QXReporter();
  QXReporter(const QXReporter&) = delete;
  QXReporter& operator=(const QXReporter&) = delete;

  // The values the model fills; may change before or after start.
  void setIdentity(const ReportIdentity& identity);
  // Sets the identity and starts the worker. Called once.
  void start(const std::wstring& openId, const std::wstring& deviceId);
  // Queues one event stamped now; does not wake the worker.
  void report(const std::wstring& key, PropertiesBuilder builder = nullptr);
  // Makes the worker send what is queued now; several flushes before it wakes give one wake.
  void flush();
  // Flushes, asks the worker to stop and waits for it at most 5000 ms (terminating it past that).
  void shutdown();

  // The worker's loop.
  void _threadReport();

 private:
  std::list<TelemetryEvent> queue_;
  size_t count_ = 0;
  // Its wake event is the reporter's wake event, so a stop request also wakes an idle worker.
  WorkerThread worker_;
  CRITICAL_SECTION lock_;
  ReportIdentity identity_;
  std::string url_;
};
