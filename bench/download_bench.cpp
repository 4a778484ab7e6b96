// Wall time of one large download over the three routes, alternating within each round:
// utility::CHttpDownloader::downloadToFile (WinInet), QXCurlDownloader::downloadFile (libcurl,
// capped at 20 MiB/s by design) and the curl command line tool (curl -o). Also the peak working
// set of this process while the WinInet download runs, sampled every 20 ms. The curl tool's time
// runs from its start until the file holds every byte (under Wine the handle of a Linux program
// does not wait for it).
//
//   download_bench.exe WWW_DIR [SIZE_MB=200] [ROUNDS=3] [BASE_URL] [CURL_PROGRAM]
//
// WWW_DIR is the folder a loopback server serves as BASE_URL/files/... (for the test server:
// BUILD/testdata/www, as Wine sees it); the file is created there once. BASE_URL defaults to the
// build's first download CDN (the loopback server in a test build). CURL_PROGRAM defaults to
// Z:\usr\bin\curl under Wine, otherwise curl.exe. Example, from a test build tree:
//   ./wine-run.sh bench/download_bench.exe 'Z:\path\to\build\x86_64\testdata\www' 200 3
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "build_config.h"
#include "common/text_codec.h"
#include "net/curl_downloader.h"
#include "net/http_downloader.h"

namespace {

double seconds(const LARGE_INTEGER& a, const LARGE_INTEGER& b) {
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(freq.QuadPart);
}

long long fileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool makeFile(const std::wstring& path, long long size) {
  if (fileSize(path) == size) return true;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::vector<char> block(1 << 20);
  unsigned state = 2463534242u;
  bool ok = true;
  for (long long done = 0; ok && done < size; done += static_cast<long long>(block.size())) {
    for (char& c : block) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      c = static_cast<char>(state);
    }
    DWORD chunk = static_cast<DWORD>(std::min<long long>(static_cast<long long>(block.size()), size - done));
    DWORD written = 0;
    ok = WriteFile(h, block.data(), chunk, &written, nullptr) && written == chunk;
  }
  CloseHandle(h);
  return ok;
}

size_t workingSet() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.WorkingSetSize;
}

// Runs a program and waits until it has ended and the file has reached its size (bounded).
// Under Wine a Linux program's process handle signals at once, so the file is what tells.
bool runProgram(const std::wstring& commandLine, const std::wstring& file, long long size) {
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  // Under Wine there is no exit code of a Linux program to read.
  bool failed = GetExitCodeProcess(pi.hProcess, &code) && code != 0 && code != STILL_ACTIVE;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  if (failed) return false;
  DWORD start = GetTickCount();
  while (fileSize(file) != size) {
    if (GetTickCount() - start > 600000) return false;
    Sleep(1);
  }
  return true;
}

// The path as the curl tool sees it: under Wine a Linux program needs the Unix path.
std::wstring pathForTool(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (!toUnix) return path;
  char* unixPath = toUnix(path.c_str());
  if (!unixPath) return path;
  std::wstring out = ansiToWide(unixPath);
  HeapFree(GetProcessHeap(), 0, unixPath);
  return out;
}

struct Route {
  const wchar_t* name;
  std::vector<double> times;
  bool failed = false;
};

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: download_bench WWW_DIR [SIZE_MB=200] [ROUNDS=3] [BASE_URL] [CURL_PROGRAM]\n");
    return 2;
  }
  std::wstring www = argv[1];
  if (www.back() != L'\\') www += L'\\';
  long long sizeMb = argc > 2 ? _wtoi(argv[2]) : 200;
  int rounds = argc > 3 ? _wtoi(argv[3]) : 3;
  std::wstring base = argc > 4 ? argv[4] : build::kDownloadCdn1;
  std::wstring curlProgram = argc > 5 ? argv[5] : L"";
  if (curlProgram.empty())
    curlProgram = GetFileAttributesW(L"Z:\\usr\\bin\\curl") != INVALID_FILE_ATTRIBUTES ? L"Z:\\usr\\bin\\curl" : L"curl.exe";

  long long size = sizeMb * 1000 * 1000;
  std::wstring name = L"download_bench_" + std::to_wstring(sizeMb) + L"mb.bin";
  if (!makeFile(www + name, size)) {
    std::fwprintf(stderr, L"cannot write %ls\n", (www + name).c_str());
    return 1;
  }
  std::wstring url = base + L"/files/" + name;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring target = std::wstring(temp) + L"download_bench.bin";

  std::wprintf(L"%lld MB from %ls, %d rounds, curl tool %ls\n", sizeMb, url.c_str(), rounds, curlProgram.c_str());
  Route routes[] = {{L"WinInet downloadToFile", {}, false}, {L"libcurl downloadFile", {}, false}, {L"curl -o", {}, false}};
  size_t peakDuringWinInet = 0;
  size_t baseline = workingSet();
  for (int round = 1; round <= rounds; ++round) {
    for (int which = 0; which < 3; ++which) {
      DeleteFileW(target.c_str());
      std::atomic<bool> sampling{which == 0};
      std::thread sampler;
      if (which == 0) {
        sampler = std::thread([&] {
          while (sampling) {
            peakDuringWinInet = std::max(peakDuringWinInet, workingSet());
            Sleep(20);
          }
        });
      }
      LARGE_INTEGER start, end;
      QueryPerformanceCounter(&start);
      bool ok = false;
      if (which == 0) {
        utility::CHttpDownloader downloader;
        ok = downloader.downloadToFile(url, target, nullptr);
      } else if (which == 1) {
        QXCurlDownloader downloader;
        ok = downloader.downloadFile(target, wideToAnsi(url), nullptr);
      } else {
        ok = runProgram(L"\"" + curlProgram + L"\" -s -f -o \"" + pathForTool(target) + L"\" \"" + url + L"\"", target,
                        size);
      }
      QueryPerformanceCounter(&end);
      sampling = false;
      if (sampler.joinable()) sampler.join();
      ok = ok && fileSize(target) == size;
      double t = seconds(start, end);
      std::wprintf(L"round %d  %-24ls %ls %8.2f s %9.1f MB/s\n", round, routes[which].name, ok ? L"ok    " : L"FAILED", t,
                   static_cast<double>(size) / 1e6 / t);
      if (ok) routes[which].times.push_back(t);
      else routes[which].failed = true;
    }
  }
  DeleteFileW(target.c_str());

  std::wprintf(L"\nmedian of %d rounds\n", rounds);
  for (const Route& route : routes) {
    double t = median(route.times);
    std::wprintf(L"  %-24ls %8.2f s %9.1f MB/s%ls\n", route.name, t, t > 0 ? static_cast<double>(size) / 1e6 / t : 0.0,
                 route.failed ? L"  (some rounds failed)" : L"");
  }
  std::wprintf(L"working set: %.1f MB before, peak %.1f MB during the WinInet downloads\n",
               static_cast<double>(baseline) / 1048576.0, static_cast<double>(peakDuringWinInet) / 1048576.0);
  return 0;
}
