#include "print/global_memory.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <new>

namespace {

struct Block {
  void* data = nullptr;
  size_t size = 0;
  unsigned locks = 0;
};

// Handles are keys into this table, so that an unknown or freed handle is
// recognised instead of followed.
std::map<HGLOBAL, Block>& Blocks() {
  static auto* blocks = new std::map<HGLOBAL, Block>();
  return *blocks;
}

Block* Find(HGLOBAL h) {
  if (h == nullptr) return nullptr;
  auto it = Blocks().find(h);
  return it == Blocks().end() ? nullptr : &it->second;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, size_t bytes) {
  // One byte at least, so that every live block has its own address.
  void* p = (flags & GMEM_ZEROINIT) != 0 ? std::calloc(bytes == 0 ? 1 : bytes, 1)
                                         : std::malloc(bytes == 0 ? 1 : bytes);
  if (p == nullptr) return nullptr;
  // The handle is the data address: unique while the block lives.
  HGLOBAL h = p;
  Blocks()[h] = Block{p, bytes, 0};
  return h;
}

void* GlobalLock(HGLOBAL h) {
  Block* b = Find(h);
  if (b == nullptr) return nullptr;
  if (b->locks < GMEM_LOCKCOUNT) ++b->locks;
  return b->data;
}

BOOL GlobalUnlock(HGLOBAL h) {
  Block* b = Find(h);
  if (b == nullptr || b->locks == 0) return 0;
  --b->locks;
  return b->locks != 0 ? 1 : 0;
}

HGLOBAL GlobalFree(HGLOBAL h) {
  Block* b = Find(h);
  if (b == nullptr) return h;
  std::free(b->data);
  Blocks().erase(h);
  return nullptr;
}

size_t GlobalSize(HGLOBAL h) {
  Block* b = Find(h);
  return b == nullptr ? 0 : b->size;
}

UINT GlobalFlags(HGLOBAL h) {
  Block* b = Find(h);
  return b == nullptr ? GMEM_INVALID_HANDLE : b->locks;
}
