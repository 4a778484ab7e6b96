// Unpacking of the skin package: a 7z archive held in memory (LZMA/LZMA2, solid blocks,
// per-file CRC-32 values, UTF-16 entry names with "/" separators).
#pragma once

#include <cstddef>
#include <map>
#include <string>

// Extracts every file entry (folders carry no data and are skipped) into name -> bytes, in
// archive order, checking each entry's CRC when it has one; a later entry of the same name
// replaces the earlier one. A damaged archive or a CRC mismatch stops the extraction: what was
// stored before stays. True only when every entry came out. Logs nothing; any thread.
bool unpackSkinArchive(const void* data, size_t size, std::map<std::wstring, std::string>& files);
