// The program's lookup of a UI language text by key.
#pragma once

#include <string>

// The text of the key in SkinResources' table; a missing key is added with itself as its text,
// so it shows as the key name from then on. Never fails. UI thread only.
std::wstring getUiText(const char* key);
