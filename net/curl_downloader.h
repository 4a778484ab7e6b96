// Blocking libcurl transfers: a GET into memory, a JSON POST into memory and a GET streamed into a
// file. Each call runs to completion on the calling thread with its own easy handle; calls on
// different threads may run at the same time. Nothing is kept between calls and connections are
// never reused.
//
// TLS: peer and host are verified against the Windows certificate store (revocation checked where
// a revocation server answers), and before any request goes out the server's certificate chain is
// checked again by the program itself for the host being contacted. A certificate that fails ends
// the transfer with false, so the caller moves on to its next route.
//
// Failure: false plus log lines, never an exception. URLs and bodies are narrow (ANSI code page),
// paths wide.
#pragma once

#include <functional>
#include <string>
#include <vector>

class QXCurlDownloader {
 public:
  // Complete header lines ("Name: value"), sent in this order.
  using HeaderList = std::vector<std::string>;
  // percent (0..99), bytes so far, bytes expected. Called on the transferring thread, at most
  // once a second, never for a response without a length and never with 100.
  using ProgressCallback = std::function<void(int percent, double downloaded, double total)>;

  static constexpr long kConnectTimeoutMs = 8000;
  static constexpr long kMemoryTimeoutMs = 8000;
  // A POST endpoint that accepts and never answers must not hold its thread for good.
  static constexpr long kPostTimeoutMs = 10000;
  static constexpr long long kMaxFileSpeed = 20971520;  // bytes per second
  static constexpr long kMaxFileRedirects = 5;

  // GET; true when the transfer completed, whatever the HTTP status, with the body in response.
  // On false response keeps its previous content.
  static bool downloadMemory(std::string& response, const std::string& url, const HeaderList& headers);
  // JSON POST of body (read as ANSI text, sent as UTF-8); returns as downloadMemory.
  static bool postRequest(const std::string& body, std::string& response, const std::string& url,
                          const HeaderList& headers);
  // GET into a file created (or truncated) at path. True only when the transfer completed with a
  // final status 200..299. The file is closed on return; on failure what was written stays.
  bool downloadFile(const std::wstring& path, const std::string& url, ProgressCallback progress);
};
