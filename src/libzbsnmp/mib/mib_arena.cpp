/* ZbMibArena: block allocator of loaded MIB trees. */
#include "mib_arena.h"

#include <stdlib.h>

#if defined(__linux__)
#include <sys/mman.h>

/* A leak checker running in the process (LeakSanitizer) does not look into
   mappings of our own: each is registered with it as a place that holds
   pointers, or what only a loaded tree points to (the arena, texts a setter
   put on the heap) would count as leaked. Weak: without the checker these
   are NULL. */
extern "C" void __lsan_register_root_region(const void *p, size_t size) __attribute__((weak));
extern "C" void __lsan_unregister_root_region(const void *p, size_t size) __attribute__((weak));
#endif

struct ZbMibArenaBlock
{
   ZbMibArenaBlock *next;
   uint32_t mapped;   /* 1: a mapping of its own (freed with munmap), 0: a heap block */
   uint32_t unused;
   size_t size;       /* bytes of the mapping, this header included */
};

/* Without a hint the first block is small, so that a tree of a few nodes
   costs little; each further one doubles up to ZB_MIB_ARENA_MAX_BLOCK. */
#define ZB_MIB_ARENA_FIRST_BLOCK (16u << 10)

ZbMibArena *ZbMibArenaNew(size_t expected)
{
   ZbMibArena *arena = (ZbMibArena *)malloc(sizeof(ZbMibArena));
   if (arena == nullptr)
      return nullptr;
   arena->users = 1;
   arena->blocks = nullptr;
   arena->low = arena->high = nullptr;
   arena->nextSize = ZB_MIB_ARENA_FIRST_BLOCK;
   /* A large tree starts with large blocks. */
   while (arena->nextSize < ZB_MIB_ARENA_MAX_BLOCK && arena->nextSize < expected)
      arena->nextSize *= 2;
   return arena;
}

static void FreeBlock(ZbMibArenaBlock *b)
{
#if defined(__linux__)
   if (b->mapped)
   {
      if (__lsan_unregister_root_region != nullptr)
         __lsan_unregister_root_region(b, b->size);
      munmap(b, b->size);
      return;
   }
#endif
   free(b);
}

void ZbMibArenaRelease(ZbMibArena *arena)
{
   if (arena == nullptr || --arena->users > 0)
      return;
   for (ZbMibArenaBlock *b = arena->blocks; b != nullptr;)
   {
      ZbMibArenaBlock *next = b->next;
      FreeBlock(b);
      b = next;
   }
   free(arena);
}

/* A block of the largest size, bytes bytes in all. On Linux it is a mapping
   aligned to its size and marked for transparent huge pages: the memory of a
   large tree is then faulted in a few large pages instead of a thousand
   small ones, which is most of what a load costs beyond inflating. NULL
   when there is no such mapping (the caller then takes a heap block). */
static ZbMibArenaBlock *MapBlock(size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
   size_t span = bytes + ZB_MIB_ARENA_MAX_BLOCK;
   void *map = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
   if (map == MAP_FAILED)
      return nullptr;
   uintptr_t start = (uintptr_t)map;
   uintptr_t aligned = (start + ZB_MIB_ARENA_MAX_BLOCK - 1) & ~(uintptr_t)(ZB_MIB_ARENA_MAX_BLOCK - 1);
   if (aligned > start)
      munmap(map, aligned - start);
   if (start + span > aligned + bytes)
      munmap((void *)(aligned + bytes), start + span - (aligned + bytes));
   madvise((void *)aligned, bytes, MADV_HUGEPAGE);   /* advice only: it may be refused */
   if (__lsan_register_root_region != nullptr)
      __lsan_register_root_region((void *)aligned, bytes);
   ZbMibArenaBlock *b = (ZbMibArenaBlock *)aligned;
   b->mapped = 1;
   return b;
#else
   (void)bytes;
   return nullptr;
#endif
}

/* A block with room for size bytes. A request larger than a quarter of the
   largest block gets a block of its own, linked behind the current one so
   that the current one keeps its free room; otherwise the new block becomes
   the current one. NULL when it cannot be allocated. */
static uint8_t *NewBlock(ZbMibArena *arena, size_t size, bool *own)
{
   *own = size > ZB_MIB_ARENA_MAX_BLOCK / 4 && arena->blocks != nullptr;
   if (size > SIZE_MAX - sizeof(ZbMibArenaBlock) - ZB_MIB_ARENA_MAX_BLOCK)
      return nullptr;
   size_t bytes = sizeof(ZbMibArenaBlock) + size;
   if (!*own && bytes < arena->nextSize)
      bytes = arena->nextSize;
   ZbMibArenaBlock *b = nullptr;
   if (!*own && bytes == ZB_MIB_ARENA_MAX_BLOCK)
      b = MapBlock(bytes);
   if (b == nullptr)
   {
      b = (ZbMibArenaBlock *)malloc(bytes);
      if (b == nullptr)
         return nullptr;
      b->mapped = 0;
   }
   b->size = bytes;
   uint8_t *data = (uint8_t *)(b + 1);
   if (*own)
   {
      b->next = arena->blocks->next;
      arena->blocks->next = b;
   }
   else
   {
      b->next = arena->blocks;
      arena->blocks = b;
      arena->low = data;
      arena->high = (uint8_t *)b + bytes;
      if (arena->nextSize < ZB_MIB_ARENA_MAX_BLOCK)
         arena->nextSize *= 2;
   }
   return data;
}

void *ZbMibArenaObjectSlow(ZbMibArena *arena, size_t size)
{
   if (size == 0)
      size = 8;
   bool own;
   uint8_t *data = NewBlock(arena, size, &own);
   if (data == nullptr || own)
      return data;
   arena->low += size;
   return data;
}

char *ZbMibArenaTextSlow(ZbMibArena *arena, size_t size)
{
   bool own;
   uint8_t *data = NewBlock(arena, size, &own);
   if (data == nullptr || own)
      return (char *)data;
   arena->high -= size;
   return (char *)arena->high;
}
