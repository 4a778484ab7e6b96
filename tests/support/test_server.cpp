#include "test_server.h"

#include <wincrypt.h>

#include <rapidjson/document.h>

#include <algorithm>

#include "test_config.h"
#include "test_support.h"

namespace ts = testing_support;

namespace test_server {
namespace {

std::wstring serverDir() { return std::wstring(testconfig::kDataDir) + L"\\server\\"; }

std::string readAll(const std::wstring& path) {
  std::string text;
  ts::readFile(path, text);
  return text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

}  // namespace

std::wstring wwwPath(const std::wstring& name) { return std::wstring(testconfig::kDataDir) + L"\\www\\" + name; }

std::wstring serveFile(const std::wstring& prefix, size_t size, std::string* bytes) {
  std::string data(size, '\0');
  unsigned state = 0x12345678u ^ static_cast<unsigned>(size);
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    data[i] = static_cast<char>((state >> 16) ^ i);
  }
  std::wstring name = ts::uniqueName(prefix) + L".bin";
  ts::writeFile(wwwPath(name), data);
  if (bytes) *bytes = std::move(data);
  return name;
}

std::wstring httpUrl(const std::wstring& path) {
  return L"http://127.0.0.1:" + std::to_wstring(testconfig::kPortBase + 80) + path;
}

std::wstring httpsUrl(const std::wstring& path, int offset) {
  return L"https://localhost:" + std::to_wstring(testconfig::kPortBase + offset) + path;
}

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::vector<std::string> requestsFor(const std::string& pathPart) {
  std::vector<std::string> out;
  for (const std::string& line : lines(readAll(serverDir() + L"requests.log"))) {
    size_t at = line.find("\"path\": \"");
    if (at != std::string::npos && line.find(pathPart, at) != std::string::npos) out.push_back(line);
  }
  return out;
}

std::vector<std::wstring> recordFiles(const std::wstring& name) {
  std::vector<std::wstring> out;
  std::wstring folder = serverDir() + L"records\\" + name + L"\\";
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((folder + L"*.json").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return out;
  do {
    out.push_back(folder + found.cFileName);
  } while (FindNextFileW(h, &found));
  FindClose(h);
  std::sort(out.begin(), out.end());
  return out;
}

Record readRecord(const std::wstring& file) {
  Record record;
  rapidjson::Document doc;
  std::string text = readAll(file);
  if (doc.Parse(text.c_str(), text.size()).HasParseError() || !doc.IsObject()) return record;
  record.path = doc["path"].GetString();
  for (auto& member : doc["headers"].GetObject()) record.headers[member.name.GetString()] = member.value.GetString();
  for (auto& name : doc["header_order"].GetArray()) record.headerOrder.push_back(name.GetString());
  const rapidjson::Value& b64 = doc["body_b64"];
  DWORD size = 0;
  if (b64.GetStringLength() > 0) {
    CryptStringToBinaryA(b64.GetString(), b64.GetStringLength(), CRYPT_STRING_BASE64, nullptr, &size, nullptr,
                         nullptr);
    record.body.resize(size);
    CryptStringToBinaryA(b64.GetString(), b64.GetStringLength(), CRYPT_STRING_BASE64,
                         reinterpret_cast<BYTE*>(&record.body[0]), &size, nullptr, nullptr);
    record.body.resize(size);
  }
  record.ok = true;
  return record;
}

Rule::Rule(const std::string& path, const std::string& action, int port, const std::string& method, int times) {
  std::wstring folder = serverDir() + L"rules\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring name = ts::uniqueName(L"rule");
  std::string json = "{\"port\": " + std::to_string(port) + ", \"path\": \"" + path + "\", \"action\": \"" + action +
                     "\"" + (method.empty() ? "" : ", \"method\": \"" + method + "\"") +
                     (times > 0 ? ", \"times\": " + std::to_string(times) : std::string()) + "}";
  // Written aside, then renamed: the server skips names not ending in .json.
  ts::writeFile(folder + name + L".tmp", json);
  file_ = folder + name + L".json";
  MoveFileExW((folder + name + L".tmp").c_str(), file_.c_str(), MOVEFILE_REPLACE_EXISTING);
}

Rule::~Rule() { DeleteFileW(file_.c_str()); }

}  // namespace test_server
