// Logs a given number of lines to a given file and returns from main at once: the lines must
// still reach the file.  log_probe <file> <count>
#include <cwchar>
#include <cstdlib>

#include "common/log.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  common::installLogSink();
  common::startLogWriter(argv[1]);
  int count = _wtoi(argv[2]);
  for (int i = 0; i < count; ++i) common::log("probe", __LINE__, L"exit line %d", i);
  return 0;
}
