// Cost of one common::log call on the caller's thread, with the writer running, from 1 and from
// 4 threads at once. Prints the median and the 90th percentile of per-call times.
//   build/x86_64/wine-run.sh build/x86_64/bench/log_bench.exe [calls per thread]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <thread>
#include <vector>

#include "common/log.h"

namespace {

double ticksToNs(long long ticks) {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  return static_cast<double>(ticks) * 1e9 / static_cast<double>(freq.QuadPart);
}

// Per-call times in ns of `calls` calls, spaced so that the writer keeps up and no line is dropped.
std::vector<double> measure(int calls) {
  std::vector<double> times;
  times.reserve(static_cast<size_t>(calls));
  for (int i = 0; i < calls; ++i) {
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    common::log("LogBench::measure", __LINE__, L"download progress %d of %s, speed %d KB/s", i,
                L"C:\\Users\\user\\AppData\\Roaming\\qxinst_9.0.exe", i * 3);
    QueryPerformanceCounter(&b);
    times.push_back(ticksToNs(b.QuadPart - a.QuadPart));
    if (i % 50 == 49) Sleep(1);
  }
  return times;
}

void report(const char* label, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  std::printf("%-10s calls=%zu median=%.0f ns p90=%.0f ns\n", label, times.size(), times[times.size() / 2],
              times[times.size() * 9 / 10]);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int calls = argc > 1 ? _wtoi(argv[1]) : 20000;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring file = std::wstring(temp) + L"log_bench.log";
  DeleteFileW(file.c_str());
  common::installLogSink();
  common::startLogWriter(file);

  report("1 thread", measure(calls));
  std::vector<std::vector<double>> perThread(4);
  std::vector<std::thread> threads;
  for (auto& t : perThread) threads.emplace_back([&t, calls] { t = measure(calls); });
  for (auto& t : threads) t.join();
  std::vector<double> all;
  for (auto& t : perThread) all.insert(all.end(), t.begin(), t.end());
  report("4 threads", all);
  common::stopLogWriter();
  DeleteFileW(file.c_str());
  return 0;
}
