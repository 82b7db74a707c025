/* ZbMibArena: the large blocks that hold a loaded MIB tree's nodes, names
   and optional fields, so that a load makes a few dozen heap blocks instead
   of one per node and per text. Internal to the library. */
#ifndef ZBSNMP_MIB_ARENA_H
#define ZBSNMP_MIB_ARENA_H

#include <stddef.h>
#include <stdint.h>

/* The arena lives as long as anything in it is used: it counts the nodes it
   holds (and one hold of its creator's, during the load), and frees all its
   blocks when the count drops to zero. The nodes of one arena belong to one
   tree, which one thread uses at a time, so the count needs no atomics.

   Objects are taken from the bottom of the current block, aligned for
   pointers; texts from its top, unaligned. Nothing is freed on its own:
   what a node stops using stays until the arena goes, except the text taken
   last, which PopText can give back (the loader does that for a field read
   again, so that a body that repeats one field does not pile up copies). */
struct ZbMibArenaBlock;

struct ZbMibArena
{
   size_t users;
   ZbMibArenaBlock *blocks;   /* newest first */
   uint8_t *low;              /* next free byte for objects */
   uint8_t *high;             /* end of the free room: texts are taken below it */
   size_t nextSize;           /* size of the next block */
};

/* A new arena with one user (the creator); NULL when it cannot be allocated.
   expected: the bytes the caller expects to take (0: a few), which sizes the
   first blocks. */
ZbMibArena *ZbMibArenaNew(size_t expected);
/* Drops one user; the last one frees the arena with all its blocks. */
void ZbMibArenaRelease(ZbMibArena *arena);

/* The size of the largest blocks (a transparent huge page on Linux); a
   request of more than a quarter of it gets a block of its own. */
#define ZB_MIB_ARENA_MAX_BLOCK (2u << 20)

void *ZbMibArenaObjectSlow(ZbMibArena *arena, size_t size);
char *ZbMibArenaTextSlow(ZbMibArena *arena, size_t size);

/* size bytes aligned for any object that holds pointers and 64-bit numbers;
   NULL when no block can be allocated. */
static inline void *ZbMibArenaObject(ZbMibArena *arena, size_t size)
{
   size = (size + 7) & ~(size_t)7;
   if ((size_t)(arena->high - arena->low) >= size)
   {
      void *p = arena->low;
      arena->low += size;
      return p;
   }
   return ZbMibArenaObjectSlow(arena, size);
}

/* size bytes for text (no alignment); NULL when no block can be allocated. */
static inline char *ZbMibArenaText(ZbMibArena *arena, size_t size)
{
   if ((size_t)(arena->high - arena->low) >= size)
   {
      arena->high -= size;
      return (char *)arena->high;
   }
   return ZbMibArenaTextSlow(arena, size);
}

/* Gives back the text of size bytes at text when it is the last one taken
   from the current block; otherwise it stays where it is. */
static inline void ZbMibArenaPopText(ZbMibArena *arena, const char *text, size_t size)
{
   if ((const uint8_t *)text == arena->high)
      arena->high += size;
}

#endif
