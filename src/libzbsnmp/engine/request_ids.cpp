/* Request ids of the engine: unpredictable values from the system's random
   source, and the table that maps the ids of pending requests to their
   slots. */
#include "engine/engine.h"

#include <string.h>

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <fcntl.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/random.h>
#endif
#endif

/* Fills buffer from the system's cryptographic random source; 1 on success. */
static int SystemRandom(void *buffer, size_t size)
{
#ifdef _WIN32
   return BCryptGenRandom(nullptr, (PUCHAR)buffer, (ULONG)size, BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
#else
   uint8_t *p = (uint8_t *)buffer;
#if defined(__linux__)
   while (size > 0)
   {
      ssize_t n = getrandom(p, size, 0);
      if (n <= 0)
         break;
      p += n;
      size -= (size_t)n;
   }
   if (size == 0)
      return 1;
#endif
   int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
   if (fd < 0)
      return 0;
   while (size > 0)
   {
      ssize_t n = read(fd, p, size);
      if (n <= 0)
         break;
      p += n;
      size -= (size_t)n;
   }
   close(fd);
   return size == 0;
#endif
}

void ZbIdSource::Refill()
{
   if (!SystemRandom(m_pool, sizeof(m_pool)))
   {
      /* No random source at all (it does not happen on a working system):
         ids stay distinct, if predictable. */
      static const uint32_t golden = 0x9E3779B9u;
      uint32_t seed = (uint32_t)ZbMonotonicMicros();
      for (uint32_t i = 0; i < 256; i++)
         m_pool[i] = (seed += golden) * 2654435761u;
   }
   m_left = 256;
}

uint32_t ZbIdSource::Next()
{
   for (;;)
   {
      if (m_left == 0)
         Refill();
      uint32_t v = m_pool[--m_left] & 0x7FFFFFFF;
      if (v != 0)
         return v;
   }
}

ZbIdTable::~ZbIdTable()
{
   free(m_ids);
   free(m_slots);
}

static inline uint32_t Hash(uint32_t id)
{
   /* The ids are random already; mixing keeps probing short for any ids. */
   id ^= id >> 16;
   id *= 0x45D9F3Bu;
   id ^= id >> 16;
   return id;
}

uint32_t ZbIdTable::Find(uint32_t id) const
{
   if (m_capacity == 0 || id == 0)
      return UINT32_MAX;
   uint32_t mask = m_capacity - 1;
   for (uint32_t i = Hash(id) & mask;; i = (i + 1) & mask)
   {
      if (m_ids[i] == id)
         return m_slots[i];
      if (m_ids[i] == 0)
         return UINT32_MAX;
   }
}

int ZbIdTable::Grow()
{
   uint32_t capacity = (m_capacity == 0) ? 64 : m_capacity * 2;
   if (capacity == 0)
      return 0;
   uint32_t *ids = (uint32_t *)calloc(capacity, sizeof(uint32_t));
   uint32_t *slots = (uint32_t *)malloc((size_t)capacity * sizeof(uint32_t));
   if (ids == nullptr || slots == nullptr)
   {
      free(ids);
      free(slots);
      return 0;
   }
   uint32_t mask = capacity - 1;
   for (uint32_t j = 0; j < m_capacity; j++)
   {
      if (m_ids[j] == 0)
         continue;
      uint32_t i = Hash(m_ids[j]) & mask;
      while (ids[i] != 0)
         i = (i + 1) & mask;
      ids[i] = m_ids[j];
      slots[i] = m_slots[j];
   }
   free(m_ids);
   free(m_slots);
   m_ids = ids;
   m_slots = slots;
   m_capacity = capacity;
   return 1;
}

int ZbIdTable::Insert(uint32_t id, uint32_t slot)
{
   /* At most half full: probes stay short. */
   if ((m_count + 1) * 2 > m_capacity && !Grow())
      return 0;
   uint32_t mask = m_capacity - 1;
   uint32_t i = Hash(id) & mask;
   while (m_ids[i] != 0)
      i = (i + 1) & mask;
   m_ids[i] = id;
   m_slots[i] = slot;
   m_count++;
   return 1;
}

void ZbIdTable::Erase(uint32_t id)
{
   if (m_capacity == 0 || id == 0)
      return;
   uint32_t mask = m_capacity - 1;
   uint32_t i = Hash(id) & mask;
   while (m_ids[i] != id)
   {
      if (m_ids[i] == 0)
         return;
      i = (i + 1) & mask;
   }
   /* Backward shift: move later entries of the probe run into the hole, so
      that no tombstones are needed. */
   for (uint32_t j = (i + 1) & mask; m_ids[j] != 0; j = (j + 1) & mask)
   {
      uint32_t home = Hash(m_ids[j]) & mask;
      /* The entry at j may move to i when its home is not in (i, j]. */
      bool between = (i <= j) ? (home > i && home <= j) : (home > i || home <= j);
      if (!between)
      {
         m_ids[i] = m_ids[j];
         m_slots[i] = m_slots[j];
         i = j;
      }
   }
   m_ids[i] = 0;
   m_count--;
}
