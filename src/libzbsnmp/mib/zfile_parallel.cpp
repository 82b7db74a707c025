/* ZFile's helper threads: a large compressed body deflated in pieces.
   Internal to the library. */
#include "zfile.h"

#include "internal.h"

#include <stdlib.h>
#include <string.h>
#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

/* Writing in pieces. Each piece of ZFILE_DEFLATE_PIECE body bytes becomes
   a job: raw deflate at level 9, primed with the 32 KiB of body before it,
   ended with a sync flush (the last with the stream's end), so that the
   pieces' output, written in order behind a zlib header and followed by the
   body's Adler-32, is one zlib stream that any inflater reads. Each piece's
   output depends only on its bytes and the 32 KiB before them: the file is
   the same however many helpers ran. */
#define ZFILE_DEFLATE_MAX_HELPERS 4

struct ZFileJob
{
   uint8_t *data = nullptr; /* ZFILE_DEFLATE_WINDOW bytes of dictionary room, then the piece */
   size_t dictLength = 0, length = 0;
   bool last = false;
   uint8_t *out = nullptr;
   size_t outLength = 0;
   int state = 0; /* 0 waiting or running, 1 done, -1 failed */
};

struct ZFileDeflater
{
   std::mutex lock;
   std::condition_variable changed;
   std::thread helpers[ZFILE_DEFLATE_MAX_HELPERS];
   z_stream streams[ZFILE_DEFLATE_MAX_HELPERS];
   unsigned helperCount = 0;
   ZFileJob *jobs[2 * ZFILE_DEFLATE_MAX_HELPERS] = {nullptr};
   unsigned slots = 2;      /* jobs in flight at most: twice the helpers */
   uint64_t submitted = 0, started = 0, written = 0;
   bool stop = false;
};

/* Deflates one piece with a raw stream of its own; 1, or 0 when it fails. */
static int RunDeflateJob(z_stream *zs, ZFileJob *job)
{
   if (deflateReset(zs) != Z_OK ||
       (job->dictLength > 0 &&
        deflateSetDictionary(zs, job->data + ZFILE_DEFLATE_WINDOW - job->dictLength, (uInt)job->dictLength) != Z_OK))
      return 0;
   size_t room = deflateBound(zs, (uLong)job->length) + 64;
   job->out = (uint8_t *)malloc(room);
   if (job->out == nullptr)
      return 0;
   zs->next_in = job->data + ZFILE_DEFLATE_WINDOW;
   zs->avail_in = (uInt)job->length;
   for (;;)
   {
      zs->next_out = job->out + job->outLength;
      zs->avail_out = (uInt)(room - job->outLength);
      int rc = deflate(zs, job->last ? Z_FINISH : Z_SYNC_FLUSH);
      job->outLength = room - zs->avail_out;
      if (rc == Z_STREAM_ERROR)
         return 0;
      if (job->last ? rc == Z_STREAM_END : (zs->avail_in == 0 && zs->avail_out > 0))
         return 1;
      /* The bound was short: more room, and go on. */
      uint8_t *more = (uint8_t *)realloc(job->out, room * 2);
      if (more == nullptr)
         return 0;
      job->out = more;
      room *= 2;
   }
}

static void FreeDeflateJob(ZFileJob *job)
{
   if (job == nullptr)
      return;
   free(job->data);
   free(job->out);
   delete job;
}

static void DeflateHelper(ZFileDeflater *d, unsigned index)
{
   for (;;)
   {
      ZFileJob *job;
      {
         std::unique_lock<std::mutex> hold(d->lock);
         d->changed.wait(hold, [d] { return d->stop || d->started < d->submitted; });
         if (d->started == d->submitted)
            return; /* stopped, and nothing left to take */
         job = d->jobs[d->started++ % d->slots];
      }
      int ok = RunDeflateJob(&d->streams[index], job);
      {
         std::lock_guard<std::mutex> hold(d->lock);
         job->state = ok ? 1 : -1;
      }
      d->changed.notify_all();
   }
}

/* Writes the zlib header and starts the helpers; 0 (nothing written) when
   not even one can start. */
int ZFile::StartDeflater()
{
   ZFileDeflater *d = nullptr;
   try
   {
      d = new ZFileDeflater;
   }
   catch (...)
   {
      return 0;
   }
#ifndef _WIN32
   /* The helpers take no signals: the program's threads handle them as
      before (a new thread starts with the mask of the one that makes it). */
   sigset_t all, before;
   sigfillset(&all);
   pthread_sigmask(SIG_SETMASK, &all, &before);
#endif
   unsigned cores = std::thread::hardware_concurrency();
   unsigned wanted = (cores < 1) ? 1 : (cores > ZFILE_DEFLATE_MAX_HELPERS) ? ZFILE_DEFLATE_MAX_HELPERS : cores;
   for (unsigned i = 0; i < wanted; i++)
   {
      memset(&d->streams[i], 0, sizeof(z_stream));
      if (deflateInit2(&d->streams[i], 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
         break;
      try
      {
         d->helpers[i] = std::thread(DeflateHelper, d, i);
      }
      catch (...)
      {
         deflateEnd(&d->streams[i]);
         break;
      }
      d->helperCount++;
   }
#ifndef _WIN32
   pthread_sigmask(SIG_SETMASK, &before, nullptr);
#endif
   if (d->helperCount == 0)
   {
      delete d;
      return 0;
   }
   d->slots = 2 * d->helperCount;
   m_deflater = d;
   /* CMF: deflate with a 32 KiB window; FLG: level 9, no dictionary, and the
      check bits (RFC 1950), as zlib writes them. */
   static const uint8_t kHeader[2] = {0x78, 0xDA};
   if (fwrite(kHeader, 1, 2, m_file) != 2)
      m_error = true;
   return 1;
}

/* Writes the oldest job's output, once it is done; 0, or -1 when it or the
   write failed. */
static int WriteOldestJob(ZFileDeflater *d, FILE *file, bool failed)
{
   ZFileJob *job;
   {
      std::unique_lock<std::mutex> hold(d->lock);
      job = d->jobs[d->written % d->slots];
      d->changed.wait(hold, [job] { return job->state != 0; });
      d->jobs[d->written % d->slots] = nullptr;
      d->written++;
   }
   d->changed.notify_all();
   int rc = (job->state == 1 && !failed && fwrite(job->out, 1, job->outLength, file) == job->outLength) ? 0 : -1;
   FreeDeflateJob(job);
   return rc;
}

/* Hands the gathered piece to the helpers (the last one ends the stream). */
int ZFile::SubmitPiece(bool last)
{
   ZFileDeflater *d = m_deflater;
   int result = 0;
   ZFileJob *job = new (std::nothrow) ZFileJob;
   uint8_t *data = last ? nullptr : (uint8_t *)malloc(ZFILE_DEFLATE_WINDOW + ZFILE_DEFLATE_PIECE);
   if (job == nullptr || (data == nullptr && !last))
   {
      delete job;
      free(data);
      m_pieceUsed = 0;
      return -1;
   }
   /* The job takes the piece's block; the next piece gathers in a new one.
      A piece's block has ZFILE_DEFLATE_WINDOW bytes in front of the piece,
      where its dictionary goes: the end of the piece before, which was a
      whole one (only the last piece is shorter). */
   job->data = m_piece - ZFILE_DEFLATE_WINDOW;
   job->length = m_pieceUsed;
   job->last = last;
   job->dictLength = m_pieceDict;
   m_bodyCheck = ZbAdler32(m_bodyCheck, m_piece, m_pieceUsed);
   if (!last)
   {
      m_pieceDict = (m_pieceUsed < ZFILE_DEFLATE_WINDOW) ? m_pieceUsed : ZFILE_DEFLATE_WINDOW;
      memcpy(data + ZFILE_DEFLATE_WINDOW - m_pieceDict, m_piece + m_pieceUsed - m_pieceDict, m_pieceDict);
   }
   m_piece = last ? nullptr : data + ZFILE_DEFLATE_WINDOW;
   m_pieceUsed = 0;
   while (d->submitted - d->written >= d->slots)
      if (WriteOldestJob(d, m_file, m_error) != 0)
         result = -1;
   {
      std::lock_guard<std::mutex> hold(d->lock);
      d->jobs[d->submitted % d->slots] = job;
      d->submitted++;
   }
   d->changed.notify_all();
   return result;
}

/* Writes every job's output in order, then the body's Adler-32. */
int ZFile::FinishDeflater()
{
   ZFileDeflater *d = m_deflater;
   int result = 0;
   while (d->written < d->submitted)
      if (WriteOldestJob(d, m_file, m_error || result != 0) != 0)
         result = -1;
   uint8_t trailer[4] = {(uint8_t)(m_bodyCheck >> 24), (uint8_t)(m_bodyCheck >> 16), (uint8_t)(m_bodyCheck >> 8),
                         (uint8_t)m_bodyCheck};
   if (result == 0 && fwrite(trailer, 1, 4, m_file) != 4)
      result = -1;
   return result;
}

/* Stops and joins the helpers and frees what they held. */
void ZFile::StopDeflater()
{
   ZFileDeflater *d = m_deflater;
   if (d == nullptr)
      return;
   {
      std::lock_guard<std::mutex> hold(d->lock);
      d->stop = true;
   }
   d->changed.notify_all();
   /* Joining threads other than the caller's, started by this stream, has
      nothing to fail on. */
   for (unsigned i = 0; i < d->helperCount; i++)
   {
      if (d->helpers[i].joinable())
         d->helpers[i].join();
      deflateEnd(&d->streams[i]);
   }
   for (ZFileJob *job : d->jobs)
      FreeDeflateJob(job);
   delete d;
   m_deflater = nullptr;
}
