// The installer model driven through its operations and callbacks on the test thread, which runs
// the dispatcher's messages, against the loopback server and the stand-in emulator programs.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "log_tail.h"
#include "model/downloader_model.h"
#include "test_server.h"
#include "test_support.h"

namespace model_test {

// http://127.0.0.1:<port> of one of the loopback servers (offset 80 test, 81 release, 82/83 CDNs).
std::wstring serverUrl(int offset);
// Copies a file into the server's folder under a unique sub-folder; returns the path part
// ("/files/<unique>/<name>").
std::wstring serve(const std::wstring& localFile, const std::wstring& name);
// Number of requests the server has read whose path contains `path`.
int requestCount(const std::wstring& path);
// A signed variant of the stand-in installer built with the tests ("signed", "unsigned", ...).
std::wstring installerVariant(const std::string& variant);

// One telemetry event as the collection endpoint received it.
struct Event {
  std::string key;
  std::map<std::string, std::string> properties;  // string members only
};

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A new model for the next case of a table (the old one is shut down; see
  // abandonInstanceForTesting), then SetUp again.
  void renewModel();
  // Flushes the reporter and returns the events of this test's device id at the collection
  // endpoint once `key` is among them (tests that read them hold the "collector" lock).
  std::vector<Event> collectedEvents(const std::string& key);

  testing_support::LogTail log;  // what the model logged during the test
  HVDownloaderModel* model = nullptr;
  std::wstring installDir;
  std::wstring deviceId;  // unique per test, so its events can be told apart
  int ready = 0;
  int failed = 0;
  std::vector<bool> finished;
  struct Progress {
    int percent;
    long long received;
    long long expected;
  };
  std::vector<Progress> progress;
};

}  // namespace model_test
