// Authenticode verification of the full installer before it is reused or announced ready.
#pragma once

#include <string>

#include "utility/file_handle.h"

// True when the file's own embedded signature verifies (content hash and chain, no network
// revocation fetch), the signer's chain ends in a trusted root, and the signer's subject common
// name is `publisher`. The check runs on one handle opened for reading with read sharing only;
// when `keepOpen` is given and the verdict is true, that handle moves into it, so nothing can
// replace or rewrite the file until the caller lets go. Prints the CryptoAPI diagnostics to the
// standard output.
bool verifyInstallerSignature(const std::wstring& path, const std::wstring& publisher,
                              utility::FileHandle* keepOpen = nullptr);
