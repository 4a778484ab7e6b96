// The skin steps of start-up.
#pragma once

#include <windows.h>

namespace resources {

// On the UI thread, before any window: gives SkinResources the module and the language
// "zh_CN", the "skin" folder next to the program (when it exists) and the package of resource
// 129 with "multi_language.tsv", then logs "skinInit2 end". Missing parts leave the store
// empty; nothing here stops the program.
void initSkin(HINSTANCE instance);

}  // namespace resources
