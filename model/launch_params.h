// The campaign values carried by the program's file name and the game packages named on its
// command line. Pure text rules; the model logs and applies the results.
#pragma once

#include <map>
#include <string>
#include <vector>

struct FileNameParams {
  bool matched = false;   // at least four "_" tokens
  std::wstring type;      // as written
  std::wstring package;   // empty when token 2 has 5 characters or fewer
  std::wstring openId;
  std::wstring baiduId;   // tokens 4 .. last-but-one joined with "_"
  int edition = -1;       // from the lower-cased type, -1 when it names none
};

// `name` is the program's file name without folder and extension.
FileNameParams parseFileName(const std::wstring& name);

// "|"-separated key=value items (keys lower-cased, last one wins). A text longer than 5 characters
// loses one leading and one trailing double quote first.
std::map<std::wstring, std::wstring> parseCommandLineItems(const std::wstring& commandLine);

// Splits at every separator; each piece trimmed of spaces. An empty text gives no pieces.
std::vector<std::wstring> splitTrimmed(const std::wstring& text, wchar_t separator);
std::wstring trimSpaces(const std::wstring& text);
std::wstring asciiLower(std::wstring text);
