// Conversions between the program's UTF-16 texts and UTF-8 or the system ANSI code page.
#pragma once

#include <string>

std::wstring utf8ToWide(const std::string& text);
std::string wideToUtf8(const std::wstring& text);
std::wstring ansiToWide(const std::string& text);
std::string wideToAnsi(const std::wstring& text);
