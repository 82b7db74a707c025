// Base routines, status texts and type keywords.
#include <gtest/gtest.h>
#include <string.h>

#include "internal.h"

TEST(Base, MemdupCopiesAndZeroSizeIsFreeable)
{
   const char src[] = "abc";
   char *copy = (char *)zb_memdup(src, 4);
   ASSERT_NE(copy, nullptr);
   EXPECT_STREQ(copy, "abc");
   EXPECT_NE((const void *)copy, (const void *)src);
   free(copy);
   free(zb_memdup(nullptr, 0));
}

TEST(Base, IpToStr)
{
   char buf[16];
   EXPECT_STREQ(IpToStr(0xC0A80001, buf), "192.168.0.1");
   EXPECT_STREQ(IpToStr(0xFFFFFFFF, buf), "255.255.255.255");
   EXPECT_STREQ(IpToStr(0, buf), "0.0.0.0");
}

TEST(Base, StrToULLAndSwap)
{
   EXPECT_EQ(zb_strtoull("18446744073709551615", nullptr, 0), UINT64_MAX);
   EXPECT_EQ(zb_strtoull("0x10", nullptr, 0), 16u);
   EXPECT_EQ(zb_strtoull("010", nullptr, 0), 8u);
   EXPECT_EQ(zb_strtoull("99999999999999999999", nullptr, 0), UINT64_MAX);
   EXPECT_EQ(zb_strtoull("", nullptr, 0), 0u);
   uint64_t v = 0x0102030405060708ULL;
   EXPECT_EQ(zb_bswap_64(v), 0x0807060504030201ULL);
   EXPECT_EQ(zb_bswap_64(zb_bswap_64(v)), v);
}

TEST(Codes, ErrorTexts)
{
   EXPECT_STREQ(SNMPGetErrorText(SNMP_RC_SUCCESS), "Operation completed successfully");
   EXPECT_STREQ(SNMPGetErrorText(SNMP_RC_PARSE_ERROR), "Rrror parsing PDU");
   EXPECT_STREQ(SNMPGetErrorText(SNMP_RC_BAD_FILE_DATA), "Invalid or corrupted file data");
   // Codes above the file codes: SNMPv3, then the request engine; past the
   // last, "Unknown error".
   EXPECT_STREQ(SNMPGetErrorText(SNMP_RC_UNKNOWN_ENGINE_ID), "Unknown SNMP engine ID");
   EXPECT_STREQ(SNMPGetErrorText(SNMP_RC_CANCELLED), "Request cancelled");
   EXPECT_STREQ(SNMPGetErrorText(SNMP_RC_ENCRYPTED_UNANSWERED + 1), "Unknown error");
   EXPECT_STREQ(SNMPGetErrorText(0xFFFFFFFF), "Unknown error");
   EXPECT_EQ(SNMPGetErrorText(SNMP_RC_TIMEOUT), SNMPGetErrorText(SNMP_RC_TIMEOUT));
}

TEST(Codes, ResolveDataType)
{
   struct Case
   {
      const char *keyword;
      uint32_t type;
   };
   const Case cases[] = {
      {"integer", 0x02}, {"Integer", 0x02}, {"INT", 0x02},        {"STRING", 0x04},
      {"oid", 0x06},     {"IpAddr", 0x40},  {"counter32", 0x41},  {"GAUGE32", 0x42},
      {"TimeTicks", 0x43}, {"counter64", 0x46}, {"uint32", 0x47}, {"uinteger32", 0x47},
      {"NULL", 0x05},    {"", 0x05},        {"INT ", 0x05},       {" INT", 0x05},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.keyword);
      EXPECT_EQ(SNMPResolveDataType(c.keyword), c.type);
   }
}
