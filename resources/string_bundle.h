// The model's string bundle: "language\downloader_<code>.xml", a root element whose "String"
// children carry an "id" attribute and their text.
#pragma once

#include <map>
#include <string>

// Parses the bundle text (UTF-16; a leading byte-order mark is allowed) and sets id -> text for
// every "String" child of the root with a non-empty id and text, later ones replacing earlier
// ones. True when the document was well formed, even if it held no usable entry. Logs under the
// model's tag, whose loadLanguage forwards here.
bool loadStringBundle(const std::wstring& text, std::map<std::wstring, std::wstring>& texts);
