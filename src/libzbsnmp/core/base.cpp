/* Small base routines: heap copies, address text, 64-bit parsing and swap. */
#include "internal.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

void *zb_memdup(const void *src, uint32_t size)
{
   if (size == 0)
      return nullptr;
   void *p = malloc(size);
   if (p != nullptr)
      memcpy(p, src, size);
   return p;
}

char *zb_strdup(const char *s)
{
   size_t len = (s != nullptr) ? strlen(s) + 1 : 0;
   if (len == 0 || len > 0xFFFFFFFFu)
      return nullptr;
   return (char *)zb_memdup(s, (uint32_t)len);
}

char *IpToStr(uint32_t addr, char *buffer)
{
   snprintf(buffer, 16, "%u.%u.%u.%u", (unsigned)(addr >> 24), (unsigned)((addr >> 16) & 0xFF),
            (unsigned)((addr >> 8) & 0xFF), (unsigned)(addr & 0xFF));
   return buffer;
}

static int DigitValue(char ch)
{
   if (ch >= '0' && ch <= '9')
      return ch - '0';
   if (ch >= 'a' && ch <= 'z')
      return ch - 'a' + 10;
   if (ch >= 'A' && ch <= 'Z')
      return ch - 'A' + 10;
   return 99;
}

uint64_t zb_strtoull(const char *text, char **end, int base)
{
   const char *p = text;
   while (isspace((unsigned char)*p))
      p++;
   bool negative = false;
   if (*p == '+' || *p == '-')
   {
      negative = (*p == '-');
      p++;
   }
   if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
       DigitValue(p[2]) < 16)
   {
      base = 16;
      p += 2;
   }
   else if (base == 0)
   {
      base = (p[0] == '0') ? 8 : 10;
   }
   const char *digits = p;
   uint64_t value = 0;
   bool overflow = false;
   for (int d; (d = DigitValue(*p)) < base; p++)
   {
      if (value > (UINT64_MAX - (uint64_t)d) / (uint64_t)base)
         overflow = true;
      else
         value = value * (uint64_t)base + (uint64_t)d;
   }
   if (end != nullptr)
      *end = (char *)((p == digits) ? text : p);
   if (overflow)
      return UINT64_MAX;
   return negative ? (uint64_t)0 - value : value;
}

uint64_t zb_bswap_64(uint64_t v)
{
   v = ((v & 0x00000000FFFFFFFFULL) << 32) | (v >> 32);
   v = ((v & 0x0000FFFF0000FFFFULL) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFULL);
   v = ((v & 0x00FF00FF00FF00FFULL) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFULL);
   return v;
}

/* Defined in every build, so that code compiled with the checks links with a
   library compiled without them. */
void ZbCheckFailed(const char *what, const char *file, int line)
{
   fprintf(stderr, "libzbsnmp: internal check failed: %s (%s:%d)\n", what, file, line);
   abort();
}
