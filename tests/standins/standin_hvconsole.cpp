// Stand-in for the emulator's console tool. Understands the two commands the downloader gives:
//   installapk --index 0 --filename "<package file>" --wait --hide
//   modify --index 0 --resolution <resolution>
// Exit codes: the control's "exit_code" (default 0) when the command is understood and, for
// installapk, the package file exists; 2 when the package file is missing; 1 for anything else.
#include "standin_common.h"

int wmain() {
  standin::Start start = standin::begin(L"hvconsole");
  std::wstring args = standin::argumentsOf(start.commandLine);
  size_t pos = 0;
  std::wstring command = standin::takeValue(args, pos);
  std::wstring value;
  int success = static_cast<int>(start.control.getInt(start.program, L"exit_code", 0));
  if (command == L"installapk") {
    if (!standin::optionValue(args, L"--filename", value) || value.empty()) return 1;
    DWORD attributes = GetFileAttributesW(value.c_str());
    bool isFile = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    return isFile ? success : 2;
  }
  if (command == L"modify") return standin::optionValue(args, L"--resolution", value) && !value.empty() ? success : 1;
  return 1;
}
