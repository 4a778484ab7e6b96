// Start-up cost of the skin package: unpacking the archive stored in this program's resources
// (the same app.rc as the program) into memory, and the whole loadPackage step with the language
// table. Prints the sizes and the median, fastest and 90th-percentile times of repeated runs.
//   build/x86_64/wine-run.sh build/x86_64/bench/skin_bench.exe [runs]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "resources/skin_archive.h"
#include "resources/skin_resources.h"

namespace {

double nowMs() {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

void report(const char* what, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  std::printf("%-34s median %8.3f ms   fastest %8.3f ms   p90 %8.3f ms   (%zu runs)\n", what, times[times.size() / 2],
              times.front(), times[times.size() * 9 / 10], times.size());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int runs = argc > 1 ? _wtoi(argv[1]) : 101;
  if (runs < 1) runs = 1;

  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_SKIN_PACKAGE), L"ZIPRES");
  if (!found) {
    std::printf("no skin package in the resources\n");
    return 1;
  }
  DWORD packed = SizeofResource(nullptr, found);
  const void* data = LockResource(LoadResource(nullptr, found));

  std::vector<double> unpackTimes;
  std::map<std::wstring, std::string> files;
  for (int i = 0; i < runs; ++i) {
    files.clear();
    double start = nowMs();
    bool ok = unpackSkinArchive(data, packed, files);
    unpackTimes.push_back(nowMs() - start);
    if (!ok) {
      std::printf("the package did not unpack\n");
      return 1;
    }
  }
  size_t unpacked = 0;
  for (const auto& file : files) unpacked += file.second.size();

  // The start-up step itself: unpack plus the language table, on a fresh store each time.
  std::vector<double> loadTimes;
  for (int i = 0; i < runs; ++i) {
    SkinResources skin;
    skin.setModule(GetModuleHandleW(nullptr));
    skin.setLanguage(L"zh_CN", L"zh_CN");
    double start = nowMs();
    skin.loadPackage(IDR_SKIN_PACKAGE, L"multi_language.tsv");
    loadTimes.push_back(nowMs() - start);
  }

  std::printf("package: %lu bytes packed, %zu files, %zu bytes unpacked (ratio %.1f%%)\n",
              static_cast<unsigned long>(packed), files.size(), unpacked,
              unpacked ? 100.0 * packed / static_cast<double>(unpacked) : 0.0);
  report("unpackSkinArchive", unpackTimes);
  report("loadPackage (unpack + table)", loadTimes);
  return 0;
}
