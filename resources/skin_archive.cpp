#include "resources/skin_archive.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "7z.h"
#include "7zCrc.h"

namespace {

// An ILookInStream over a block of memory: Look hands out the rest of the block in place.
struct MemoryLookStream {
  ILookInStream vt;
  const Byte* data;
  size_t size;
  size_t pos;
};

MemoryLookStream* streamOf(ILookInStreamPtr p) {
  return const_cast<MemoryLookStream*>(reinterpret_cast<const MemoryLookStream*>(p));
}

SRes lookMemory(ILookInStreamPtr p, const void** buf, size_t* size) {
  MemoryLookStream* s = streamOf(p);
  size_t rest = s->size - s->pos;
  if (*size > rest) *size = rest;
  *buf = s->data + s->pos;
  return SZ_OK;
}

SRes skipMemory(ILookInStreamPtr p, size_t offset) {
  MemoryLookStream* s = streamOf(p);
  size_t rest = s->size - s->pos;
  s->pos += offset < rest ? offset : rest;
  return SZ_OK;
}

SRes readMemory(ILookInStreamPtr p, void* buf, size_t* size) {
  MemoryLookStream* s = streamOf(p);
  size_t rest = s->size - s->pos;
  if (*size > rest) *size = rest;
  if (*size) std::memcpy(buf, s->data + s->pos, *size);
  s->pos += *size;
  return SZ_OK;
}

SRes seekMemory(ILookInStreamPtr p, Int64* pos, ESzSeek origin) {
  MemoryLookStream* s = streamOf(p);
  Int64 base = origin == SZ_SEEK_SET   ? 0
               : origin == SZ_SEEK_CUR ? static_cast<Int64>(s->pos)
                                       : static_cast<Int64>(s->size);
  Int64 target = base + *pos;
  if (target < 0 || static_cast<UInt64>(target) > s->size) return SZ_ERROR_PARAM;
  s->pos = static_cast<size_t>(target);
  *pos = target;
  return SZ_OK;
}

void* allocMemory(ISzAllocPtr, size_t size) { return size ? std::malloc(size) : nullptr; }
void freeMemory(ISzAllocPtr, void* address) { std::free(address); }

const ISzAlloc kAlloc = {allocMemory, freeMemory};

// Owns what the decoder allocates for one archive.
struct OpenArchive {
  CSzArEx db;
  Byte* block = nullptr;  // the decoded solid block, reused by consecutive entries
  size_t blockSize = 0;
  OpenArchive() { SzArEx_Init(&db); }
  ~OpenArchive() {
    ISzAlloc_Free(&kAlloc, block);
    SzArEx_Free(&db, &kAlloc);
  }
  OpenArchive(const OpenArchive&) = delete;
  OpenArchive& operator=(const OpenArchive&) = delete;
};

}  // namespace

bool unpackSkinArchive(const void* data, size_t size, std::map<std::wstring, std::string>& files) {
  static std::once_flag crcTable;
  std::call_once(crcTable, [] { CrcGenerateTable(); });
  if (!data || size == 0) return false;

  MemoryLookStream stream;
  stream.vt.Look = lookMemory;
  stream.vt.Skip = skipMemory;
  stream.vt.Read = readMemory;
  stream.vt.Seek = seekMemory;
  stream.data = static_cast<const Byte*>(data);
  stream.size = size;
  stream.pos = 0;

  OpenArchive archive;
  if (SzArEx_Open(&archive.db, &stream.vt, &kAlloc, &kAlloc) != SZ_OK) return false;

  UInt32 blockIndex = 0xFFFFFFFF;
  std::vector<UInt16> name;
  for (UInt32 i = 0; i < archive.db.NumFiles; ++i) {
    if (SzArEx_IsDir(&archive.db, i)) continue;
    size_t offset = 0;
    size_t length = 0;
    if (SzArEx_Extract(&archive.db, &stream.vt, i, &blockIndex, &archive.block, &archive.blockSize, &offset, &length,
                       &kAlloc, &kAlloc) != SZ_OK)
      return false;
    size_t nameLength = SzArEx_GetFileNameUtf16(&archive.db, i, nullptr);  // counts the terminating zero
    name.assign(nameLength, 0);
    SzArEx_GetFileNameUtf16(&archive.db, i, name.data());
    std::wstring key(name.begin(), name.end() - (nameLength ? 1 : 0));
    std::string& bytes = files[key];
    if (length)
      bytes.assign(reinterpret_cast<const char*>(archive.block + offset), length);
    else
      bytes.clear();
  }
  return true;
}
