// The loopback test server as tests see it: files it serves, its URLs, its request log and
// records, rule files; and the lines this process writes to its log.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "log_tail.h"

namespace test_server {

// Writes size deterministic bytes (every byte value occurs) to a new uniquely named file under the
// server's www folder; returns its name (relative to www) and the bytes.
std::wstring serveFile(const std::wstring& prefix, size_t size, std::string* bytes = nullptr);
std::wstring wwwPath(const std::wstring& name);

// Plain HTTP on the test port; HTTPS on the port of the given offset (443 trusted, 444 names
// another host, 445 comes from a CA nobody trusts), always through the name localhost.
std::wstring httpUrl(const std::wstring& path);
std::wstring httpsUrl(const std::wstring& path, int offset = 443);
std::string narrow(const std::wstring& text);  // ASCII URLs for libcurl

// Lines of the server's request log whose path (with query) contains the text.
std::vector<std::string> requestsFor(const std::string& pathPart);

// Files STATE/records/<name>/*.json, in sequence order.
std::vector<std::wstring> recordFiles(const std::wstring& name);

// One recorded POST: lower-cased header names, the names in the order sent, the raw body.
struct Record {
  bool ok = false;
  std::string path;
  std::map<std::string, std::string> headers;
  std::vector<std::string> headerOrder;
  std::string body;
};
Record readRecord(const std::wstring& file);

// A rule of the server for as long as the object lives.
class Rule {
 public:
  // action as the server's README lists it; port 0 for any port; times 0 for every request.
  Rule(const std::string& path, const std::string& action, int port = 0, const std::string& method = "",
       int times = 0);
  ~Rule();
  Rule(const Rule&) = delete;
  Rule& operator=(const Rule&) = delete;

 private:
  std::wstring file_;
};

// Starts this process's log writer once (into a temp file) and reads what was written since the
// object was made.
using testing_support::LogTail;

}  // namespace test_server
