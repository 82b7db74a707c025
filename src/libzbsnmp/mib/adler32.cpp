/* Adler-32 (RFC 1950 8.2), the check value of a zlib stream, 32 bytes a step
   with SSE2 where the processor has it. */
#include "zfile.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define ZB_ADLER_SSE2 1
#endif

#define ADLER_BASE 65521u
/* The most bytes that can be summed before s2 must be reduced: the largest
   n with 255 n (n + 1) / 2 + (n + 1) (BASE - 1) < 2^32 (RFC 1950's NMAX). */
#define ADLER_NMAX 5552u

static void AddBytes(uint32_t *s1, uint32_t *s2, const uint8_t *p, size_t n)
{
   uint32_t a = *s1, b = *s2;
   for (size_t i = 0; i < n; i++)
   {
      a += p[i];
      b += a;
   }
   *s1 = a % ADLER_BASE;
   *s2 = b % ADLER_BASE;
}

#ifdef ZB_ADLER_SSE2
/* Horizontal sum of four 32-bit lanes. */
static inline uint32_t Lanes(__m128i v)
{
   v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
   v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
   return (uint32_t)_mm_cvtsi128_si32(v);
}

/* For a run of k steps of 32 bytes b[0..31] each, starting from s1 and s2:
   s1 grows by the sum of the bytes and s2 by 32 s1 per step plus the bytes
   weighted 32 down to 1. The lanes hold the sums of the bytes (sad), the
   sums of s1 before each step (ps) and the weighted sums (madd). */
static void AddSteps(uint32_t *s1, uint32_t *s2, const uint8_t *p, size_t steps)
{
   const __m128i zero = _mm_setzero_si128();
   const __m128i w1 = _mm_setr_epi16(32, 31, 30, 29, 28, 27, 26, 25);
   const __m128i w2 = _mm_setr_epi16(24, 23, 22, 21, 20, 19, 18, 17);
   const __m128i w3 = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
   const __m128i w4 = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
   __m128i sum = zero, prefix = zero, weighted = zero;
   for (size_t i = 0; i < steps; i++, p += 32)
   {
      __m128i a = _mm_loadu_si128((const __m128i *)p);
      __m128i b = _mm_loadu_si128((const __m128i *)(p + 16));
      prefix = _mm_add_epi32(prefix, sum);
      sum = _mm_add_epi32(sum, _mm_add_epi32(_mm_sad_epu8(a, zero), _mm_sad_epu8(b, zero)));
      __m128i w = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(a, zero), w1),
                                _mm_madd_epi16(_mm_unpackhi_epi8(a, zero), w2));
      w = _mm_add_epi32(w, _mm_madd_epi16(_mm_unpacklo_epi8(b, zero), w3));
      w = _mm_add_epi32(w, _mm_madd_epi16(_mm_unpackhi_epi8(b, zero), w4));
      weighted = _mm_add_epi32(weighted, w);
   }
   /* In 64 bits: 32 times the prefix sums alone may pass 2^32. */
   uint64_t b2 = *s2 + (uint64_t)*s1 * 32 * steps + 32 * (uint64_t)Lanes(prefix) + Lanes(weighted);
   *s1 = (uint32_t)((*s1 + (uint64_t)Lanes(sum)) % ADLER_BASE);
   *s2 = (uint32_t)(b2 % ADLER_BASE);
}
#endif

uint32_t ZbAdler32(uint32_t adler, const uint8_t *data, size_t length)
{
   uint32_t s1 = adler & 0xFFFF, s2 = adler >> 16;
#ifdef ZB_ADLER_SSE2
   while (length >= 32)
   {
      size_t steps = length / 32;
      if (steps > ADLER_NMAX / 32)
         steps = ADLER_NMAX / 32;
      AddSteps(&s1, &s2, data, steps);
      data += steps * 32;
      length -= steps * 32;
   }
#endif
   while (length > 0)
   {
      size_t n = (length < ADLER_NMAX) ? length : ADLER_NMAX;
      AddBytes(&s1, &s2, data, n);
      data += n;
      length -= n;
   }
   return (s2 << 16) | s1;
}
