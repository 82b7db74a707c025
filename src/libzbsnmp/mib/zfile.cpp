/* ZFile: plain or deflate-compressed body stream. */
#include "zfile.h"

#include "internal.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>


#ifdef _WIN32
#include <io.h>
#define SyncFile(f) _commit(_fileno(f))
#else
#include <unistd.h>
#define SyncFile(f) fsync(fileno(f))
#endif

ZFile::ZFile(FILE *file, int compress, int write)
    : m_compress(compress), m_write(write), m_file(file), m_initResult(Z_OK), m_pending(0),
      m_dataBuffer(nullptr), m_compBuffer(nullptr), m_readPos(nullptr), m_error(false),
      m_streamEnded(false), m_overLimit(false), m_limit(UINT64_MAX), m_total(0)
{
   memset(&m_stream, 0, sizeof(m_stream));
   /* Both modes go through the 64 KiB data buffer: the body is written and
      read in large blocks, whatever the callers' sizes. */
   uint8_t *block = (uint8_t *)malloc(ZFILE_MAX_TAKE + ZFILE_BUFFER_SIZE);
   m_dataBuffer = (block != nullptr) ? block + ZFILE_MAX_TAKE : nullptr;
   m_readPos = m_dataBuffer;
   if (m_compress)
   {
      m_stream.zalloc = Z_NULL;
      m_stream.zfree = Z_NULL;
      m_stream.opaque = Z_NULL;
      m_stream.next_in = Z_NULL;
      m_stream.avail_in = 0;
      m_initResult = m_write ? deflateInit(&m_stream, 9) : inflateInit(&m_stream);
#ifdef ZFILE_OWN_CHECK
      /* The check value is computed here, faster (Produce compares it). */
      if (!m_write && m_initResult == Z_OK)
         m_initResult = inflateValidate(&m_stream, 0);
#endif
      m_compBuffer = (uint8_t *)malloc(ZFILE_BUFFER_SIZE);
      if (m_compBuffer == nullptr)
         m_error = true;
   }
   if (m_initResult != Z_OK || m_dataBuffer == nullptr)
      m_error = true;
}

ZFile::~ZFile()
{
   StopDeflater();
   if (m_piece != nullptr)
      free(m_piece - ZFILE_DEFLATE_WINDOW);
   if (m_dataBuffer != nullptr)
      free(m_dataBuffer - ZFILE_MAX_TAKE);
   free(m_compBuffer);
}

/* Counts n body bytes against the limit; returns how many of them fit (all
   of them while the limit holds). Past the limit the stream fails. */
int ZFile::CountBytes(uint32_t n)
{
   uint64_t room = m_limit - m_total;
   if (n > room)
   {
      n = (uint32_t)room;
      m_overLimit = m_error = true;
   }
   m_total += n;
   return (int)n;
}

/* Writes the pending bytes out: plain, or deflated with the given flush mode.
   Returns 0 on success, -1 on a failed deflate or short write, or when the
   bytes pass the limit (then nothing is written). */
int ZFile::FlushData(int flush)
{
   int result = 0;
   if (CountBytes((uint32_t)m_pending) != m_pending)
   {
      m_pending = 0;
      return -1;
   }
   if (!m_compress)
   {
      if (m_pending > 0 && fwrite(m_dataBuffer, 1, (size_t)m_pending, m_file) != (size_t)m_pending)
         result = -1;
      m_pending = 0;
      if (result != 0)
         m_error = true;
      return result;
   }
   result = DeflateCompressed(flush);
   m_pending = 0;
   if (result != 0)
      m_error = true;
   return result;
}

/* Deflates length bytes at data with the stream and writes what comes out;
   0, or -1 on a failed deflate or short write. */
int ZFile::DeflateOut(const uint8_t *data, size_t length, int flush)
{
   int result = 0;
   m_stream.next_in = (Bytef *)data;
   m_stream.avail_in = (uInt)length;
   for (;;)
   {
      m_stream.next_out = m_compBuffer;
      m_stream.avail_out = ZFILE_BUFFER_SIZE;
      int rc = deflate(&m_stream, flush);
      if (rc == Z_STREAM_ERROR)
      {
         result = -1;
         break;
      }
      size_t produced = ZFILE_BUFFER_SIZE - m_stream.avail_out;
      if (produced > 0 && fwrite(m_compBuffer, 1, produced, m_file) != produced)
         result = -1;
      if (flush == Z_FINISH ? rc == Z_STREAM_END : m_stream.avail_in == 0)
         break;
      if (rc == Z_BUF_ERROR && produced == 0)
      {
         /* No progress possible: stop instead of looping for ever. */
         result = -1;
         break;
      }
   }
   return result;
}

/* The pending bytes of a compressed writer. Without pieces the stream
   deflates them as they come. With pieces they gather into a piece; a body
   that ends within its first piece is deflated in one call at the end, and
   one that passes it goes on in pieces on helper threads. Where memory or
   threads are short the stream deflates the bytes as they come. */
int ZFile::DeflateCompressed(int flush)
{
   const uint8_t *data = m_dataBuffer;
   size_t left = (size_t)m_pending;
   if (!m_direct && m_piece == nullptr && m_deflater == nullptr)
   {
      /* Room in front of the piece for the dictionary of its job. */
      uint8_t *block = (uint8_t *)malloc(ZFILE_DEFLATE_WINDOW + ZFILE_DEFLATE_PIECE);
      m_piece = (block != nullptr) ? block + ZFILE_DEFLATE_WINDOW : nullptr;
      m_direct = (m_piece == nullptr);
   }
   if (m_direct)
      return DeflateOut(data, left, flush);
   while (left > 0)
   {
      /* A whole piece goes once a byte comes after it: a body of exactly one
         piece is still deflated in one go. */
      if (m_pieceUsed < ZFILE_DEFLATE_PIECE)
      {
         size_t take = ZFILE_DEFLATE_PIECE - m_pieceUsed;
         if (take > left)
            take = left;
         memcpy(m_piece + m_pieceUsed, data, take);
         m_pieceUsed += take;
         data += take;
         left -= take;
         continue;
      }
      if (m_deflater == nullptr && !StartDeflater())
      {
         /* No helpers: the stream takes this piece and the rest as they come. */
         int rc = DeflateOut(m_piece, m_pieceUsed, Z_NO_FLUSH);
         free(m_piece - ZFILE_DEFLATE_WINDOW);
         m_piece = nullptr;
         m_pieceUsed = 0;
         m_direct = true;
         return (DeflateOut(data, left, flush) != 0 || rc != 0) ? -1 : 0;
      }
      if (SubmitPiece(false) != 0)
         return -1;
   }
   if (flush != Z_FINISH)
      return 0;
   if (m_deflater != nullptr)
      return (SubmitPiece(true) == 0 && FinishDeflater() == 0) ? 0 : -1;
   int rc = DeflateOut(m_piece, m_pieceUsed, Z_FINISH);
   m_pieceUsed = 0;
   return rc;
}

int ZFile::WriteBytes(const void *data, int length)
{
   if (length <= 0)
      return 0;
   if (m_error)
      return -1;
   const uint8_t *src = (const uint8_t *)data;
   int result = 0;
   int remaining = length;
   while (remaining > 0)
   {
      int take = ZFILE_BUFFER_SIZE - m_pending;
      if (take > remaining)
         take = remaining;
      memcpy(m_dataBuffer + m_pending, src, (size_t)take);
      m_pending += take;
      src += take;
      remaining -= take;
      if (m_pending == ZFILE_BUFFER_SIZE && FlushData(Z_NO_FLUSH) != 0)
         result = -1;
      if (result != -1)
         result += take;
   }
   return result;
}

int ZFile::PutByte(int value)
{
   uint8_t b = (uint8_t)value;
   if (m_pending < ZFILE_BUFFER_SIZE - 1 && !m_error)
   {
      m_dataBuffer[m_pending++] = b; /* fast path: room in the buffer */
      return value;
   }
   return (WriteBytes(&b, 1) == 1) ? value : -1;
}

/* Fills the data buffer with the next body bytes: their count (0 while
   inflate takes in the stream's header, for instance), or -1 at the end of
   the data or on a failure. */
int ZFile::Produce()
{
   if (m_error || m_streamEnded || m_dataBuffer == nullptr)
      return -1;
   if (!m_compress)
   {
      size_t n = fread(m_dataBuffer, 1, ZFILE_BUFFER_SIZE, m_file);
      return (n == 0) ? -1 : CountBytes((uint32_t)n);
   }
   if (m_stream.avail_in == 0)
   {
#ifdef ZFILE_OWN_CHECK
      if (m_stream.next_in != Z_NULL)
         KeepTail(m_compBuffer, (size_t)(m_stream.next_in - m_compBuffer));
#endif
      size_t n = fread(m_compBuffer, 1, ZFILE_BUFFER_SIZE, m_file);
      if (n == 0)
         return -1;
      m_stream.next_in = m_compBuffer;
      m_stream.avail_in = (uInt)n;
   }
   m_stream.next_out = m_dataBuffer;
   m_stream.avail_out = ZFILE_BUFFER_SIZE;
   int rc = inflate(&m_stream, Z_NO_FLUSH);
   if (rc != Z_OK && rc != Z_STREAM_END)
   {
      m_error = true;
      return -1;
   }
   uint32_t produced = (uint32_t)(ZFILE_BUFFER_SIZE - m_stream.avail_out);
#ifdef ZFILE_OWN_CHECK
   m_check = ZbAdler32(m_check, m_dataBuffer, produced);
#endif
   if (rc == Z_STREAM_END)
   {
      m_streamEnded = true; /* what remains in the file is not part of the body */
#ifdef ZFILE_OWN_CHECK
      /* The stream ends with the Adler-32 of its data, big-endian (RFC 1950):
         the last 4 bytes inflate took, which may begin in the earlier input. */
      KeepTail(m_compBuffer, (size_t)(m_stream.next_in - m_compBuffer));
      m_stream.next_in = m_compBuffer;   /* taken into the tail once */
      if (GetBE32(m_tail) != m_check)
      {
         m_error = true;
         return -1;
      }
#endif
   }
   return CountBytes(produced);
}

/* Keeps the last 4 of the bytes that inflate has taken so far: those of the
   tail before, then the n bytes at data. */
void ZFile::KeepTail(const uint8_t *data, size_t n)
{
   if (n >= 4)
   {
      memcpy(m_tail, data + n - 4, 4);
      return;
   }
   memmove(m_tail, m_tail + n, 4 - n);
   memcpy(m_tail + 4 - n, data, n);
}

/* Makes bytes available in the data buffer; 1, or 0 at the end of the data or
   on a failure. A call may make no bytes available: the caller then refills
   again. */
int ZFile::Refill()
{
   if (m_pending > 0)
      return 1;
   int n = Produce();
   if (n < 0)
      return 0;
   m_pending = n;
   m_readPos = m_dataBuffer;
   return 1;
}

int ZFile::ReadBytesSlow(void *buffer, int length)
{
   if (length <= 0)
      return m_compress ? length : 0;
   uint8_t *dst = (uint8_t *)buffer;
   int delivered = 0;
   while (delivered < length)
   {
      if (!Refill() || (m_pending == 0 && m_streamEnded))
         /* Plain mode reports what it read, as fread does; a compressed
            stream that ends early fails the whole read. */
         return m_compress ? 0 : delivered;
      int take = length - delivered;
      if (take > m_pending)
         take = m_pending;
      memcpy(dst + delivered, m_readPos, (size_t)take);
      m_readPos += take;
      m_pending -= take;
      delivered += take;
   }
   return length;
}

const uint8_t *ZFile::TakeSlow(uint32_t n)
{
   if (n == 0 || n > ZFILE_MAX_TAKE)
      return nullptr;
   while ((uint32_t)m_pending < n)
   {
      /* The few bytes still pending go just in front of the buffer, which
         the next bytes then fill. */
      uint8_t *front = m_dataBuffer - m_pending;
      if (m_pending > 0 && m_readPos != front)
         memmove(front, m_readPos, (size_t)m_pending);
      m_readPos = front;
      int got = Produce();
      if (got < 0)
         return nullptr;
      m_pending += got;
   }
   const uint8_t *p = m_readPos;
   m_readPos += n;
   m_pending -= (int)n;
   return p;
}

int ZFile::VerifyEnd()
{
   if (!m_compress)
      return 1;
   while (!m_streamEnded)
   {
      m_pending = 0; /* bytes behind the tree are not part of it */
      if (!Refill())
         return 0;
   }
   return m_error ? 0 : 1; /* the end may lie past the limit */
}

int ZFile::GetByteSlow()
{
   uint8_t b;
   return (ReadBytes(&b, 1) == 1) ? b : -1;
}

int ZFile::Close()
{
   if (m_write)
   {
      if (m_compress)
      {
         if (m_initResult == Z_OK && m_dataBuffer != nullptr && m_compBuffer != nullptr)
         {
            FlushData(Z_FINISH);
            StopDeflater();
            deflateEnd(&m_stream);
         }
      }
      else if (m_dataBuffer != nullptr)
      {
         FlushData(Z_NO_FLUSH);
      }
   }
   else if (m_compress && m_initResult == Z_OK)
   {
      inflateEnd(&m_stream);
   }
   /* A writer's bytes must be on the disk before the caller relies on them.
      A pipe or a device cannot be synchronised (EINVAL, EROFS): flushed is
      all it takes. */
   if (m_write && (fflush(m_file) != 0 || (SyncFile(m_file) != 0 && errno != EINVAL && errno != EROFS)))
      m_error = true;
   if (fclose(m_file) != 0)
      m_error = true;
   m_file = nullptr;
   return m_error ? -1 : 0;
}
