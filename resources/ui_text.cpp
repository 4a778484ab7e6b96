#include "resources/ui_text.h"

#include <windows.h>

#include "resources/skin_resources.h"

std::wstring getUiText(const char* key) {
  std::wstring wideKey;
  if (key && *key) {
    int units = MultiByteToWideChar(CP_ACP, 0, key, -1, nullptr, 0);
    if (units > 1) {
      wideKey.resize(static_cast<size_t>(units));
      MultiByteToWideChar(CP_ACP, 0, key, -1, &wideKey[0], units);
      wideKey.resize(static_cast<size_t>(units - 1));
    }
    if (wideKey.size() > 127) wideKey.resize(127);  // the keys are short ASCII names
  }
  SkinResources& skin = SkinResources::instance();
  if (const std::wstring* text = skin.getText(wideKey)) return *text;
  skin.setText(wideKey, wideKey);
  return wideKey;
}
