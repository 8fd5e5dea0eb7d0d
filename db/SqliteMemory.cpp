// Memory for SQLite's own small objects. Preparing a statement allocates, grows and
// frees hundreds of small blocks (expression nodes, name lists grown one entry at a
// time, code arrays); the C library's allocator spends about as long on them as SQLite
// spends parsing. Here blocks of up to kLargest bytes come from per-thread free lists by
// size class, carved from slabs that are kept for the life of the process, and a block
// grows in place while its class has room. Larger blocks (pages of the page cache, long
// texts) go to the C library's allocator.

#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "db/Internal.h"

namespace db::detail {

namespace {

// Every block starts with a header of 8 bytes (SQLite wants 8-byte alignment) that holds
// the usable size; the low bit marks a block of the C library's allocator.
constexpr std::size_t kHeader = 8;
constexpr std::size_t kLargest = 1024;
constexpr std::size_t kSlab = 64 * 1024;

// Usable sizes of the classes: steps of about a quarter, multiples of 8.
constexpr std::uint32_t kClassSizes[] = {8,   16,  24,  32,  48,  64,  80,  96,  128, 160,
                                         192, 256, 320, 384, 448, 512, 640, 768, 896, 1024};
constexpr std::size_t kClasses = sizeof kClassSizes / sizeof kClassSizes[0];

// The class of each request size in steps of 8 bytes: kClassOf[(n + 7) / 8].
struct ClassTable {
  unsigned char of[kLargest / 8 + 1] = {};
  constexpr ClassTable() {
    std::size_t c = 0;
    for (std::size_t i = 0; i <= kLargest / 8; ++i) {
      while (kClassSizes[c] < i * 8) ++c;
      of[i] = static_cast<unsigned char>(c);
    }
  }
};
constexpr ClassTable kClassOf;

struct FreeBlock {
  FreeBlock* next;
};

// The free blocks and the slab being carved, per thread. A block freed by another thread
// than the one that took it joins that thread's lists: the slabs are never returned, so
// any thread may use any block.
struct ThreadCache {
  FreeBlock* free[kClasses] = {};
  char* slab = nullptr;
  std::size_t slabLeft = 0;
};
thread_local ThreadCache cache;

std::uint64_t& HeaderOf(void* p) {
  return *reinterpret_cast<std::uint64_t*>(static_cast<char*>(p) - kHeader);
}

void* Large(std::size_t n) {
  n = (n + 7) & ~std::size_t{7};
  char* raw = static_cast<char*>(std::malloc(n + kHeader));
  if (raw == nullptr) return nullptr;
  *reinterpret_cast<std::uint64_t*>(raw) = static_cast<std::uint64_t>(n) | 1;
  return raw + kHeader;
}

void* Small(std::size_t n) {
  const std::size_t c = kClassOf.of[(n + 7) / 8];
  ThreadCache& t = cache;
  if (FreeBlock* b = t.free[c]) {
    t.free[c] = b->next;
    return b;
  }
  const std::size_t total = kHeader + kClassSizes[c];
  if (t.slabLeft < total) {
    // The rest of the old slab is left unused: at most one block of the largest class.
    t.slab = static_cast<char*>(std::malloc(kSlab));
    if (t.slab == nullptr) {
      t.slabLeft = 0;
      return nullptr;
    }
    t.slabLeft = kSlab;
  }
  char* raw = t.slab;
  t.slab += total;
  t.slabLeft -= total;
  *reinterpret_cast<std::uint64_t*>(raw) = kClassSizes[c];
  return raw + kHeader;
}

void* Malloc(int n) {
  if (n <= 0) return nullptr;
  const auto size = static_cast<std::size_t>(n);
  return size <= kLargest ? Small(size) : Large(size);
}

void Free(void* p) {
  if (p == nullptr) return;
  const std::uint64_t header = HeaderOf(p);
  if (header & 1) {
    std::free(static_cast<char*>(p) - kHeader);
    return;
  }
  const std::size_t c = kClassOf.of[header / 8];
  auto* b = static_cast<FreeBlock*>(p);
  b->next = cache.free[c];
  cache.free[c] = b;
}

int Size(void* p) {
  if (p == nullptr) return 0;
  return static_cast<int>(HeaderOf(p) & ~std::uint64_t{1});
}

void* Realloc(void* p, int n) {
  if (p == nullptr) return Malloc(n);
  if (n <= 0) {
    Free(p);
    return nullptr;
  }
  const auto size = static_cast<std::size_t>(n);
  const std::uint64_t header = HeaderOf(p);
  const std::size_t have = static_cast<std::size_t>(header & ~std::uint64_t{1});
  if (header & 1) {
    if (size > kLargest) {
      const std::size_t want = (size + 7) & ~std::size_t{7};
      char* raw = static_cast<char*>(std::realloc(static_cast<char*>(p) - kHeader, want + kHeader));
      if (raw == nullptr) return nullptr;
      *reinterpret_cast<std::uint64_t*>(raw) = static_cast<std::uint64_t>(want) | 1;
      return raw + kHeader;
    }
  } else if (size <= have) {
    return p;  // room in its class
  }
  void* q = Malloc(n);
  if (q == nullptr) return nullptr;
  std::memcpy(q, p, size < have ? size : have);
  Free(p);
  return q;
}

int Roundup(int n) {
  if (n <= 0) return 0;
  const auto size = static_cast<std::size_t>(n);
  if (size <= kLargest) return static_cast<int>(kClassSizes[kClassOf.of[(size + 7) / 8]]);
  return static_cast<int>((size + 7) & ~std::size_t{7});
}

int Init(void*) { return SQLITE_OK; }
void Shutdown(void*) {}

}  // namespace

bool UseSqliteMemory() {
  static const sqlite3_mem_methods methods = {Malloc,  Free, Realloc,  Size,
                                              Roundup, Init, Shutdown, nullptr};
  return sqlite3_config(SQLITE_CONFIG_MALLOC, &methods) == SQLITE_OK;
}

}  // namespace db::detail
