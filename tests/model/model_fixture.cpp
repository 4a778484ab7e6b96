#include "model_fixture.h"

#include <rapidjson/document.h>

#include "model/edition_catalog.h"
#include "net/main_thread_dispatcher.h"
#include "net/reporter.h"
#include "test_config.h"

namespace ts = testing_support;

namespace model_test {

std::wstring serverUrl(int offset) { return L"http://127.0.0.1:" + std::to_wstring(testconfig::kPortBase + offset); }

std::wstring serve(const std::wstring& localFile, const std::wstring& name) {
  std::wstring folder = ts::uniqueName(L"m");
  std::wstring dir = test_server::wwwPath(folder) + L"\\";
  CreateDirectoryW(dir.c_str(), nullptr);
  EXPECT_TRUE(CopyFileW(localFile.c_str(), (dir + name).c_str(), FALSE)) << localFile;
  return L"/files/" + folder + L"/" + name;
}

int requestCount(const std::wstring& path) {
  return static_cast<int>(test_server::requestsFor(ts::wideToUtf8(path)).size());
}

std::wstring installerVariant(const std::string& variant) {
  return ts::testProgram(L"installer_" + ts::utf8ToWide(variant) + L".exe");
}

void ModelTest::SetUp() {
  MainThreadDispatcher::create();
  ready = failed = 0;
  finished.clear();
  progress.clear();
  EditionCatalog::instance().installerOverride.clear();  // a remembered installer of an earlier test
  installDir = ts::makeTempDir(L"install");
  installDir.pop_back();
  if (deviceId.empty()) deviceId = ts::uniqueName(L"device");
  QXReporter::instance().start(L"402038", deviceId);
  model = HVDownloaderModel::instance();
  model->onProgress = [this](int percent, long long received, long long expected) {
    progress.push_back({percent, received, expected});
  };
  model->onInstallerReady = [this] { ++ready; };
  model->onDownloadFailed = [this] { ++failed; };
  model->onInstallFinished = [this](bool ok) { finished.push_back(ok); };
  model->setInstallPath(installDir);
}

void ModelTest::TearDown() { HVDownloaderModel::destroyInstance(); }

void ModelTest::renewModel() {
  HVDownloaderModel::abandonInstanceForTesting();
  SetUp();
}

std::vector<Event> ModelTest::collectedEvents(const std::string& key) {
  QXReporter::instance().flush();
  std::string device = ts::wideToUtf8(deviceId);
  std::vector<Event> events;
  ts::pollUntil([&] {
    events.clear();
    bool found = false;
    for (const std::wstring& file : test_server::recordFiles(L"collection")) {
      test_server::Record record = test_server::readRecord(file);
      rapidjson::Document body;
      if (body.Parse(record.body.c_str(), record.body.size()).HasParseError() || !body.IsArray()) continue;
      for (const rapidjson::Value& item : body.GetArray()) {
        const rapidjson::Value& props = item["properties"];
        if (!props.HasMember("device_id") || device != props["device_id"].GetString()) continue;
        Event event;
        event.key = item["eventKey"].GetString();
        for (auto& member : props.GetObject())
          if (member.value.IsString()) event.properties[member.name.GetString()] = member.value.GetString();
        found |= event.key == key;
        events.push_back(event);
      }
    }
    return found;
  });
  return events;
}

}  // namespace model_test
