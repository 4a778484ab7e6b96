// Stand-in for the emulator's full installer. Reads the downloader's raw command line, then lays
// out an install folder the way the real one would as far as the downloader can see: the three
// emulator programs, the launcher icon, a "vms" folder and `InstallDir` under the edition's key.
//
// Exit codes: control "exit_code" (default 0) after installing; with "fail=1" the same key
// (default 1) without installing; 2 when the command line names no folder; 3 when the folder
// could not be laid out.
#include <string>

#include "standin_common.h"
#include "test_config.h"

namespace {

// Registry keys of the editions, by the index a control file's "edition" gives; the installer
// keeps its own copy rather than share the downloader's, so a slip in either shows up.
const wchar_t* const kEditionKeys[] = {
    L"Software\\Corvane2\\hivora",  L"Software\\tessaro\\Orvanta",   L"Software\\tessaro\\Orvanta64",
    L"Software\\tessaro\\Orvanta9", L"Software\\tessaro\\Orvanta",   L"Software\\tessaro\\Orvanta64",
};

bool isDir(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool makeDirs(const std::wstring& path) {
  for (size_t i = 0; i < path.size(); ++i) {
    if ((path[i] == L'\\' || path[i] == L'/') && i > 0 && path[i - 1] != L':' && path[i - 1] != L'\\')
      CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
  }
  CreateDirectoryW(path.c_str(), nullptr);
  return isDir(path);
}

// A 16x16 32-bit icon: enough for a shortcut to show it and for LoadImage to accept it.
std::string iconBytes() {
  const int size = 16;
  const DWORD pixelBytes = size * size * 4, maskBytes = size * 4;  // AND-mask rows pad to 32 bits
  std::string ico;
  auto put16 = [&ico](unsigned v) {
    ico.push_back(static_cast<char>(v & 0xFF));
    ico.push_back(static_cast<char>((v >> 8) & 0xFF));
  };
  auto put32 = [&put16](unsigned v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  // ICONDIR: reserved, type icon, one image; then its ICONDIRENTRY.
  put16(0);
  put16(1);
  put16(1);
  ico.push_back(static_cast<char>(size));
  ico.push_back(static_cast<char>(size));
  put16(0);  // no palette, reserved
  put16(1);  // planes
  put16(32);
  put32(sizeof(BITMAPINFOHEADER) + pixelBytes + maskBytes);
  put32(6 + 16);
  // The image: a DIB whose height counts the colour rows and the mask rows.
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = size;
  header.biHeight = size * 2;
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biSizeImage = pixelBytes;
  ico.append(reinterpret_cast<const char*>(&header), sizeof header);
  for (int i = 0; i < size * size; ++i) put32(0xFFE09030);  // opaque, BGRA
  ico.append(maskBytes, '\0');
  return ico;
}

// The stand-in sitting next to this exe, else the one in the test build's program folder (the
// tests run installers downloaded into arbitrary folders).
std::wstring sourceOf(const std::wstring& name) {
  std::wstring local = standin::moduleDir() + name;
  if (fileExists(local)) return local;
  return std::wstring(testconfig::kBinDir) + L"\\" + name;
}

bool install(const standin::Start& start, const std::wstring& path) {
  if (!makeDirs(path)) return false;
  std::wstring folder = path;
  if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';

  static const wchar_t* const kPrograms[][2] = {
      {L"standin_hivora.exe", L"hivora.exe"},
      {L"standin_gormandel.exe", L"gormandel.exe"},
      {L"standin_hvconsole.exe", L"hvconsole.exe"},
  };
  for (const auto& program : kPrograms) {
    std::wstring target = folder + program[1];
    // A copy still running from an earlier install keeps its file; it is the same program.
    if (!CopyFileW(sourceOf(program[0]).c_str(), target.c_str(), FALSE) && !fileExists(target)) return false;
  }
  if (!standin::writeBytes(folder + L"game.ico", iconBytes())) return false;
  if (!makeDirs(folder + L"vms")) return false;

  // The installed programs journal into the same file and obey the same control even when they
  // are started without this process's environment (for example through another user's token).
  std::wstring control = folder + L"standin_control.txt";
  if (lstrcmpiW(control.c_str(), start.control.path.c_str()) != 0) {
    std::string text = start.control.text;
    if (!text.empty() && text.back() != '\n') text += "\n";
    text += standin::toUtf8(L"journal=" + start.journal) + "\n";  // the last value of a key wins
    standin::writeBytes(control, text);
  }

  long edition = start.control.getInt(start.program, L"edition", 3);
  const wchar_t* key = kEditionKeys[edition >= 0 && edition <= 5 ? edition : 0];
  HKEY hkey = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hkey, nullptr) != ERROR_SUCCESS)
    return false;
  LONG result = RegSetValueExW(hkey, L"InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                               static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(hkey);
  return result == ERROR_SUCCESS;
}

}  // namespace

int wmain() {
  standin::Start start = standin::begin(L"installer");
  if (start.control.getInt(start.program, L"fail", 0) != 0)
    return static_cast<int>(start.control.getInt(start.program, L"exit_code", 1));
  standin::InstallerArgs args;
  if (!standin::parseInstallerArgs(start.commandLine, args)) return 2;
  if (!install(start, args.path)) return 3;
  return static_cast<int>(start.control.getInt(start.program, L"exit_code", 0));
}
