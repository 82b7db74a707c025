// ZFile: plain and compressed body streams.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>

#include "test_util.h"
#include "mib/zfile.h"

static std::vector<uint8_t> Pattern(size_t n)
{
   std::vector<uint8_t> v(n);
   std::mt19937 rng((unsigned)n);
   for (size_t i = 0; i < n; i++)
      v[i] = (i % 7 == 0) ? (uint8_t)rng() : (uint8_t)(i / 13);
   return v;
}

static void WriteBody(const std::string &path, const std::vector<uint8_t> &data, bool byteByByte,
                      bool pieces = false)
{
   FILE *f = fopen(path.c_str(), "wb");
   ASSERT_NE(f, nullptr);
   ZFile z(f, 1, 1);
   z.SetPieces(pieces);
   if (byteByByte)
   {
      for (uint8_t b : data)
         ASSERT_EQ(z.PutByte(b), b);
   }
   else if (!data.empty())
   {
      ASSERT_EQ(z.WriteBytes(data.data(), (int)data.size()), (int)data.size());
   }
   EXPECT_EQ(z.Close(), 0);
}

TEST(ZFile, CompressedRoundTripSizes)
{
   const size_t sizes[] = {1, 65535, 65536, 65537, 3 * 65536 + 100};
   std::string dir = TempDir();
   for (size_t n : sizes)
   {
      for (bool byteByByte : {false, true})
      {
         SCOPED_TRACE(std::to_string(n) + (byteByByte ? " bytewise" : " block"));
         std::vector<uint8_t> data = Pattern(n);
         std::string path = dir + "/z" + std::to_string(n);
         WriteBody(path, data, byteByByte);

         // zlib's own one-shot inflater decodes the body.
         std::vector<uint8_t> file = ReadFileBytes(path);
         std::vector<uint8_t> plain(n);
         uLongf plainLen = (uLongf)n;
         ASSERT_EQ(uncompress(plain.data(), &plainLen, file.data(), (uLong)file.size()), Z_OK);
         EXPECT_EQ(plainLen, n);
         EXPECT_EQ(plain, data);

         // The bytes of zlib's compress2 at level 9, as files have always
         // been; in pieces too for a body within one piece.
         std::vector<uint8_t> one(compressBound((uLong)n));
         uLongf oneLen = (uLongf)one.size();
         ASSERT_EQ(compress2(one.data(), &oneLen, data.data(), (uLong)n, 9), Z_OK);
         one.resize(oneLen);
         EXPECT_EQ(file, one);
         if (n <= ZFILE_DEFLATE_PIECE)
         {
            WriteBody(path + "p", data, byteByByte, true);
            EXPECT_EQ(ReadFileBytes(path + "p"), one);
         }

         FILE *f = fopen(path.c_str(), "rb");
         ZFile r(f, 1, 0);
         std::vector<uint8_t> back(n);
         if (byteByByte)
            for (size_t i = 0; i < n; i++)
               back[i] = (uint8_t)r.GetByte();
         else
            ASSERT_EQ(r.ReadBytes(back.data(), (int)n), (int)n);
         EXPECT_EQ(back, data);
         EXPECT_EQ(r.GetByte(), -1);  // after the last byte
         uint8_t extra;
         EXPECT_EQ(r.ReadBytes(&extra, 1), 0);
         r.Close();
      }
   }
}

// A body of many pieces is deflated on helper threads, each piece primed with
// the 32 KiB before it: one zlib stream that zlib's own inflater and ours
// read, the same bytes at every write, hardly larger than one deflate of the
// whole.
TEST(ZFile, LargeBodyInPiecesIsOneStream)
{
   std::string dir = TempDir();
   for (size_t n : {(size_t)ZFILE_DEFLATE_PIECE + 1, (size_t)ZFILE_DEFLATE_PIECE * 40 + 5})
   {
      SCOPED_TRACE(n);
      std::vector<uint8_t> data = Pattern(n);
      WriteBody(dir + "/a", data, false, true);
      WriteBody(dir + "/b", data, false, true);
      std::vector<uint8_t> file = ReadFileBytes(dir + "/a");
      EXPECT_EQ(file, ReadFileBytes(dir + "/b"));
      std::vector<uint8_t> plain(n);
      uLongf plainLen = (uLongf)n;
      ASSERT_EQ(uncompress(plain.data(), &plainLen, file.data(), (uLong)file.size()), Z_OK);
      ASSERT_EQ(plainLen, n);
      EXPECT_EQ(plain, data);
      std::vector<uint8_t> one(compressBound((uLong)n));
      uLongf oneLen = (uLongf)one.size();
      ASSERT_EQ(compress2(one.data(), &oneLen, data.data(), (uLong)n, 9), Z_OK);
      EXPECT_LE(file.size(), oneLen + oneLen / 100 + 64);

      FILE *f = fopen((dir + "/a").c_str(), "rb");
      ZFile r(f, 1, 0);
      std::vector<uint8_t> back(n);
      ASSERT_EQ(r.ReadBytes(back.data(), (int)n), (int)n);
      EXPECT_EQ(back, data);
      EXPECT_EQ(r.VerifyEnd(), 1);
      r.Close();
   }
}

#ifndef _WIN32
// A write that fails while pieces are deflated is reported by Close.
TEST(ZFile, FailedWriteOfPiecesIsReported)
{
   FILE *f = fopen("/dev/full", "wb");
   if (f == nullptr)
      GTEST_SKIP() << "no /dev/full here";
   std::vector<uint8_t> data = Pattern((size_t)ZFILE_DEFLATE_PIECE * 9 + 3);
   ZFile w(f, 1, 1);
   w.SetPieces(true);
   w.WriteBytes(data.data(), (int)data.size());
   EXPECT_EQ(w.Close(), -1);
}
#endif

TEST(ZFile, EdgeResults)
{
   std::string path = TempDir() + "/edge";
   FILE *f = fopen(path.c_str(), "wb");
   ZFile w(f, 1, 1);
   EXPECT_EQ(w.WriteBytes("x", 0), 0);
   EXPECT_EQ(w.PutByte(-1), -1);  // returns the value passed in; writes 0xFF
   EXPECT_EQ(w.Close(), 0);
   f = fopen(path.c_str(), "rb");
   ZFile r(f, 1, 0);
   uint8_t buf[4];
   EXPECT_EQ(r.ReadBytes(buf, 0), 0);
   EXPECT_EQ(r.GetByte(), 255);
   EXPECT_EQ(r.ReadBytes(buf, 4), 0);  // more than the body holds
   r.Close();
}

TEST(ZFile, PlainModePassesThrough)
{
   std::string path = TempDir() + "/plain";
   FILE *f = fopen(path.c_str(), "wb");
   ZFile w(f, 0, 1);
   EXPECT_EQ(w.WriteBytes("abc", 3), 3);
   EXPECT_EQ(w.PutByte('d'), 'd');
   EXPECT_EQ(w.Close(), 0);
   EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'a', 'b', 'c', 'd'}));
   f = fopen(path.c_str(), "rb");
   ZFile r(f, 0, 0);
   char buf[8];
   EXPECT_EQ(r.ReadBytes(buf, 8), 4);
   EXPECT_EQ(r.GetByte(), EOF);
   r.Close();
}

TEST(ZFile, CorruptAndTrailingData)
{
   std::string dir = TempDir();
   // Not a zlib stream: the first read fails.
   WriteFileBytes(dir + "/junk", std::vector<uint8_t>(100, 0x41));
   FILE *f = fopen((dir + "/junk").c_str(), "rb");
   ZFile r(f, 1, 0);
   EXPECT_EQ(r.GetByte(), -1);
   EXPECT_EQ(r.GetByte(), -1);
   r.Close();

   // Bytes after the end of the stream are not part of the body.
   WriteBody(dir + "/tail", Pattern(10), false);
   std::vector<uint8_t> file = ReadFileBytes(dir + "/tail");
   file.insert(file.end(), 50, 0x00);
   WriteFileBytes(dir + "/tail", file);
   f = fopen((dir + "/tail").c_str(), "rb");
   ZFile t(f, 1, 0);
   uint8_t buf[10];
   EXPECT_EQ(t.ReadBytes(buf, 10), 10);
   EXPECT_EQ(t.GetByte(), -1);
   t.Close();
}

// The check value of a stream is computed in 32-byte steps: it agrees with
// zlib's for every length around the step and the reduction bound, from any
// start value, on bytes of 255 (the largest sums) and on mixed bytes.
TEST(ZFile, Adler32AgreesWithZlib)
{
   std::vector<uint8_t> mixed = Pattern(200000), full(200000, 0xFF);
   const size_t lengths[] = {0, 1, 31, 32, 33, 63, 64, 65, 5520, 5551, 5552, 5553, 5584, 65536, 200000};
   const uint32_t starts[] = {1, 0xFFF0FFF0, 0x12345678 % 65521};
   for (const std::vector<uint8_t> *data : {&mixed, &full})
      for (size_t offset : {0, 3})
         for (size_t n : lengths)
            for (uint32_t start : starts)
            {
               if (n + offset > data->size())
                  continue;
               SCOPED_TRACE(std::to_string(n) + " at " + std::to_string(offset));
               EXPECT_EQ(ZbAdler32(start, data->data() + offset, n),
                         (uint32_t)adler32(start, data->data() + offset, (uInt)n));
            }
}

// A compressed body whose trailer (the Adler-32 of its data) is wrong fails
// at its end, also when the trailer begins in one read of the file and ends
// in the next: no byte of it may pass unchecked.
TEST(ZFile, TrailerIsChecked)
{
   std::string dir = TempDir();
   std::mt19937 rng(7);
   std::vector<uint8_t> noise(70000);
   for (uint8_t &b : noise)
      b = (uint8_t)rng();
   // Stored blocks: the stream is its data and a few bytes more, so a length
   // can be chosen that puts the trailer across the 64 KiB reads.
   for (size_t split : {0, 1, 2, 3, 4})
   {
      std::vector<uint8_t> z;
      size_t n = 65000;
      for (;; n++)
      {
         uLongf size = compressBound((uLong)n);
         z.resize(size);
         ASSERT_EQ(compress2(z.data(), &size, noise.data(), (uLong)n, 0), Z_OK);
         z.resize(size);
         if (z.size() == 65536 + split)
            break;
         ASSERT_LT(z.size(), 65536 + split);
      }
      for (int corrupt = -1; corrupt < 4; corrupt++)
      {
         SCOPED_TRACE("split " + std::to_string(split) + " byte " + std::to_string(corrupt));
         std::vector<uint8_t> file = z;
         if (corrupt >= 0)
            file[file.size() - 4 + corrupt] ^= 0x01;
         WriteFileBytes(dir + "/t", file);
         FILE *f = fopen((dir + "/t").c_str(), "rb");
         ZFile r(f, 1, 0);
         std::vector<uint8_t> back(n);
         int got = r.ReadBytes(back.data(), (int)n);
         int end = r.VerifyEnd();
         if (corrupt < 0)
         {
            EXPECT_EQ(got, (int)n);
            EXPECT_EQ(end, 1);
            EXPECT_TRUE(std::equal(back.begin(), back.end(), noise.begin()));
         }
         else
         {
            EXPECT_EQ(got == (int)n && end == 1, false);
         }
         r.Close();
      }
   }
}

// A limit of n body bytes lets exactly n through, in either direction and
// either mode, across buffer boundaries; n + 1 fails.
TEST(ZFile, LimitBoundsTheBody)
{
   const uint32_t n = 3 * 65536 + 17;
   std::vector<uint8_t> data = Pattern(n);
   std::string dir = TempDir();
   for (int compress : {0, 1})
   {
      for (uint32_t limit : {n, n - 1, 65536u})
      {
         SCOPED_TRACE(std::to_string(compress) + " limit " + std::to_string(limit));
         bool fits = limit >= n;
         std::string path = dir + "/l" + std::to_string(compress) + "." + std::to_string(limit);
         FILE *f = fopen(path.c_str(), "wb");
         ZFile w(f, compress, 1);
         w.SetLimit(limit);
         w.WriteBytes(data.data(), (int)n);
         EXPECT_EQ(w.Close(), fits ? 0 : -1);
         EXPECT_EQ(w.OverLimit(), !fits);

         // Read back a body of all n bytes under the same limit.
         f = fopen(path.c_str(), "wb");
         ZFile all(f, compress, 1);
         all.WriteBytes(data.data(), (int)n);
         ASSERT_EQ(all.Close(), 0);
         f = fopen(path.c_str(), "rb");
         ZFile r(f, compress, 0);
         r.SetLimit(limit);
         std::vector<uint8_t> back(n);
         int got = r.ReadBytes(back.data(), (int)n);
         if (fits)
            EXPECT_EQ(got, (int)n);
         else
            EXPECT_EQ(got, compress ? 0 : (int)limit);
         EXPECT_TRUE(std::equal(back.begin(), back.begin() + std::min(n, limit), data.begin()));
         EXPECT_EQ(r.VerifyEnd(), compress && !fits ? 0 : 1);
         EXPECT_EQ(r.OverLimit(), !fits);
         r.Close();
      }
   }
}

#ifndef _WIN32
#include <unistd.h>

// A body cut short or removed while it is being read fails the read; it never
// crashes or hands out bytes that were not read.
TEST(ZFile, FileTruncatedOrRemovedWhileOpen)
{
   std::string dir = TempDir();
   std::vector<uint8_t> data = Pattern(5 * 65536);
   for (int compress : {0, 1})
   {
      SCOPED_TRACE(compress);
      std::string path = dir + "/cut" + std::to_string(compress);
      FILE *f = fopen(path.c_str(), "wb");
      ZFile w(f, compress, 1);
      ASSERT_EQ(w.WriteBytes(data.data(), (int)data.size()), (int)data.size());
      ASSERT_EQ(w.Close(), 0);

      f = fopen(path.c_str(), "rb");
      ZFile r(f, compress, 0);
      std::vector<uint8_t> part(1000);
      ASSERT_EQ(r.ReadBytes(part.data(), 1000), 1000);
      EXPECT_TRUE(std::equal(part.begin(), part.end(), data.begin()));
      ASSERT_EQ(truncate(path.c_str(), 100), 0);
      remove(path.c_str());
      std::vector<uint8_t> rest(data.size());
      int got = r.ReadBytes(rest.data(), (int)rest.size());
      if (compress)
         EXPECT_EQ(got, 0);
      else
         EXPECT_LT(got, (int)rest.size() - 1000);
      // Whatever was delivered is the file's own data.
      if (got > 0)
         EXPECT_TRUE(std::equal(rest.begin(), rest.begin() + got, data.begin() + 1000));
      r.Close();
   }
}
#endif
