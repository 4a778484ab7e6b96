// Stand-in for the game launcher: journals its start and exits with the control's "exit_code"
// (default 0), after its "sleep_ms" if one is given, so a test can find it running.
#include "standin_common.h"

int wmain() {
  standin::Start start = standin::begin(L"gormandel");
  return static_cast<int>(start.control.getInt(start.program, L"exit_code", 0));
}
