/* Authoritative engines as a manager learns them, and the time windows of
   RFC 3414 3.2 step 7. */
#include "security/usm.h"

#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

int64_t ZbMonotonicSeconds(void)
{
#ifdef _WIN32
   return (int64_t)(GetTickCount64() / 1000);
#else
   struct timespec ts;
   clock_gettime(CLOCK_MONOTONIC, &ts);
   return (int64_t)ts.tv_sec;
#endif
}

void ZbUsmEngineReset(ZbUsmEngine *engine)
{
   memset(engine, 0, sizeof(*engine));
}

int ZbUsmEngineSetId(ZbUsmEngine *engine, const uint8_t *id, uint32_t length)
{
   if (length > USM_MAX_ENGINE_ID)
      return 0;
   if (length == engine->idLength && (length == 0 || memcmp(engine->id, id, length) == 0))
      return 1;
   ZbUsmEngineReset(engine);
   if (length > 0)
      memcpy(engine->id, id, length);
   engine->idLength = length;
   return 1;
}

uint32_t ZbUsmEngineTimeNow(const ZbUsmEngine *engine, int64_t now)
{
   if (!engine->timeKnown)
      return 0;
   int64_t t = (int64_t)engine->time + (now > engine->learntAt ? now - engine->learntAt : 0);
   return t > (int64_t)USM_MAX_BOOTS ? USM_MAX_BOOTS : (uint32_t)t;
}

int ZbUsmEngineAccept(ZbUsmEngine *engine, uint32_t boots, uint32_t time, int64_t now)
{
   /* Step 7b: learn newer values first (boots larger, or the same boots and
      a time later than any received before). */
   if (!engine->synced || boots > engine->boots ||
       (boots == engine->boots && time > engine->latestTime))
   {
      engine->boots = boots;
      engine->time = time;
      engine->latestTime = time;
      engine->learntAt = now;
      engine->timeKnown = true;
      engine->synced = true;
   }
   /* Then the window: outside when boots is latched, older than ours, or the
      same with a time more than 150 s behind our estimate. */
   if (engine->boots >= USM_MAX_BOOTS || boots < engine->boots)
      return 0;
   uint32_t estimate = ZbUsmEngineTimeNow(engine, now);
   if (boots == engine->boots && (uint64_t)time + USM_TIME_WINDOW < estimate)
      return 0;
   return 1;
}

void ZbUsmEngineSeed(ZbUsmEngine *engine, uint32_t boots, uint32_t time, int64_t now)
{
   if (engine->synced)
      return;
   engine->boots = boots;
   engine->time = time;
   engine->latestTime = time;
   engine->learntAt = now;
   engine->timeKnown = true;
}

int ZbUsmInTimeWindow(uint32_t localBoots, uint32_t localTime, uint32_t msgBoots,
                      uint32_t msgTime)
{
   if (localBoots >= USM_MAX_BOOTS || msgBoots != localBoots)
      return 0;
   uint32_t diff = msgTime > localTime ? msgTime - localTime : localTime - msgTime;
   return diff <= USM_TIME_WINDOW;
}
