/* ZFile: the body of a MIB tree file over an open stdio stream, plain or
   zlib-compressed (level 9), through 64 KiB buffers in both modes. Internal
   to the library. */
#ifndef ZBSNMP_ZFILE_H
#define ZBSNMP_ZFILE_H

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#define ZFILE_BUFFER_SIZE 65536
/* The most bytes one Take hands out at once. The reading buffer has this
   much room in front of it, where the bytes still pending are moved before
   the buffer is filled again, so that they stay next to the new ones. */
#define ZFILE_MAX_TAKE 64

/* Adler-32 of length bytes at data, continuing from adler (1 to start):
   zlib's adler32, in larger steps. */
uint32_t ZbAdler32(uint32_t adler, const uint8_t *data, size_t length);

/* zlib 1.2.9 and later can leave the check value of the stream to its
   caller: the reader then computes it with ZbAdler32 and compares it with
   the stream's trailer itself. */
#if defined(ZLIB_VERNUM) && ZLIB_VERNUM >= 0x1290
#define ZFILE_OWN_CHECK 1
#endif

/* With SetPieces, a compressed body larger than this is deflated in pieces
   of this size on helper threads, each piece primed with the 32 KiB before it
   (one zlib stream all the same); a smaller one is deflated in one go. */
#define ZFILE_DEFLATE_PIECE (64u << 10)
/* The dictionary of each piece: the deflate window. */
#define ZFILE_DEFLATE_WINDOW 32768

struct ZFileDeflater;

class ZFile
{
public:
   /* compress: deflate/inflate the body; write: the stream writes, else reads. */
   ZFile(FILE *file, int compress, int write);
   ~ZFile();
   ZFile(const ZFile &) = delete;
   ZFile &operator=(const ZFile &) = delete;

   int WriteBytes(const void *data, int length);
   int PutByte(int value);
   int ReadBytes(void *buffer, int length)
   {
      if (length > 0 && length <= m_pending)
      {
         memcpy(buffer, m_readPos, (size_t)length);
         m_readPos += length;
         m_pending -= length;
         return length;
      }
      return ReadBytesSlow(buffer, length);
   }
   /* The next byte (0 to 255), or -1 when none can be read. */
   int GetByte()
   {
      if (m_pending > 0)
      {
         m_pending--;
         return *m_readPos++;
      }
      return GetByteSlow();
   }
   /* Reading: the body bytes at hand (*n of them, maybe none), to be looked
      at before Skip takes them; good until the next read. */
   const uint8_t *Peek(uint32_t *n) const
   {
      *n = (uint32_t)m_pending;
      return m_readPos;
   }
   /* Takes n of the bytes that Peek showed. */
   void Skip(uint32_t n)
   {
      m_readPos += n;
      m_pending -= (int)n;
   }
   /* Reading: the next n body bytes (1 to ZFILE_MAX_TAKE), one after the
      other in memory, taken from the stream; NULL when the body ends before
      them or the read fails. The pointer is good until the next read. */
   const uint8_t *Take(uint32_t n)
   {
      if ((uint32_t)m_pending >= n)
      {
         const uint8_t *p = m_readPos;
         m_readPos += n;
         m_pending -= (int)n;
         return p;
      }
      return TakeSlow(n);
   }
   /* Finishes a compressed stream and closes the file; 0 on success, -1 when
      any write, the compression or the close failed. */
   int Close();

   /* Reading, compressed mode: inflates what is left of the stream and checks
      its end (and so its checksum). 1 when the stream ended intact; always 1
      in plain mode. */
   int VerifyEnd();

   /* True once any write, deflate or initialisation step has failed. */
   bool HasError() const { return m_error; }

   /* Bounds the body bytes that pass through the stream (the uncompressed
      side): a reader hands out at most limit bytes and fails the read of the
      next one; a writer fails once it has been given more. No limit unless
      set. */
   void SetLimit(uint64_t limit) { m_limit = limit; }
   /* True once the limit stopped the stream (HasError is then true too). */
   bool OverLimit() const { return m_overLimit; }

   /* Marks the stream failed: later writes return -1 and Close reports -1. */
   void Fail() { m_error = true; }

   /* Reading: whether the body may hold the optional-field tags of format
      version 2 (the loader sets it from the header). Off by default. */
   void SetExtended(bool extended) { m_extended = extended; }
   bool Extended() const { return m_extended; }

   /* Writing, compressed mode: gather the body in pieces and deflate them on
      helper threads once it passes one piece; set before writing. Off by
      default: the stream deflates the bytes as they come, the bytes of one
      deflate of the whole body. */
   void SetPieces(bool on) { m_direct = !on; }

private:
   int GetByteSlow();
   int ReadBytesSlow(void *buffer, int length);
   const uint8_t *TakeSlow(uint32_t n);
   int Refill();
   int Produce();
   void KeepTail(const uint8_t *data, size_t n);
   int FlushData(int flush);
   int DeflateOut(const uint8_t *data, size_t length, int flush);
   int DeflateCompressed(int flush);
   int StartDeflater();
   int SubmitPiece(bool last);
   int FinishDeflater();
   void StopDeflater();
   int CountBytes(uint32_t n);

   int m_compress;
   int m_write;
   FILE *m_file;
   z_stream m_stream;
   int m_initResult;
   int m_pending;
   uint8_t *m_dataBuffer;
   uint8_t *m_compBuffer;
   uint8_t *m_readPos;
   bool m_error;
   bool m_streamEnded;
   bool m_overLimit;
   uint64_t m_limit;
   uint64_t m_total; /* body bytes counted against the limit so far */
   uint32_t m_check = 1;        /* reading: Adler-32 of the bytes inflated so far */
   uint8_t m_tail[4] = {0};     /* reading: the last 4 bytes of the earlier input */
   bool m_extended = false;
   uint8_t *m_piece = nullptr;        /* writing: the piece of body being gathered */
   size_t m_pieceUsed = 0;
   size_t m_pieceDict = 0;            /* bytes of dictionary in front of the piece */
   bool m_direct = true;              /* writing: deflate as the bytes come (no pieces) */
   ZFileDeflater *m_deflater = nullptr; /* the helper threads, once the body passed one piece */
   uint32_t m_bodyCheck = 1;          /* writing in pieces: Adler-32 of the body so far */
};

#endif
