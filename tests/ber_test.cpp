// BER headers, value decoding and element encoding.
#include <gtest/gtest.h>
#include <string.h>

#include <limits>
#include <random>

#include "internal.h"
#include "test_util.h"

TEST(BerReadHeader, Cases)
{
   struct Case
   {
      const char *hex;
      int ok;
      uint32_t type, length, header;
   };
   const Case cases[] = {
      {"02 01", 1, 0x02, 1, 2},
      {"30 82 01 00", 1, 0x30, 256, 4},
      {"04 81 05", 1, 0x04, 5, 3},
      {"04 84 00 00 00 05", 1, 0x04, 5, 6},
      {"A2 00", 1, 0xA2, 0, 2},
      {"30 84 FF FF FF FF", 1, 0x30, 0xFFFFFFFF, 6},  // content beyond the data is allowed
      {"30 80", 0},                                     // indefinite form
      {"30 85 00 00 00 00 01", 0},                      // five length octets
      {"1F 01", 0},
      {"9F 01", 0},
      {"30", 0},            // no length octet
      {"30 82 01", 0},      // length octets run past the data
      {"", 0},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.hex);
      std::vector<uint8_t> bytes = Hex(c.hex);
      uint32_t type = 77, length = 77, header = 77;
      const uint8_t *content = nullptr;
      int ok = BerReadHeader(bytes.data(), (uint32_t)bytes.size(), &type, &length, &content,
                             &header);
      EXPECT_EQ(ok, c.ok);
      if (ok)
      {
         EXPECT_EQ(type, c.type);
         EXPECT_EQ(length, c.length);
         EXPECT_EQ(header, c.header);
         EXPECT_EQ(content, bytes.data() + c.header);
      }
      else
      {
         EXPECT_EQ(type, 77u);  // outputs untouched on failure
      }
   }
}

TEST(BerDecodeValue, Integers)
{
   struct Case
   {
      uint32_t type;
      const char *hex;
      int ok;
      uint32_t value;
   };
   const Case cases[] = {
      {ASN_TYPE_INTEGER, "05", 1, 5},
      {ASN_TYPE_INTEGER, "FF", 1, 0xFFFFFFFF},
      {ASN_TYPE_INTEGER, "80", 1, (uint32_t)-128},
      {ASN_TYPE_INTEGER, "00 80", 1, 128},
      {ASN_TYPE_INTEGER, "7F FF FF FF", 1, 0x7FFFFFFF},
      {ASN_TYPE_INTEGER, "80 00 00 00", 1, 0x80000000},
      {ASN_TYPE_COUNTER32, "00 FF FF FF FF", 1, 0xFFFFFFFF},
      {ASN_TYPE_COUNTER32, "FF", 1, 0xFFFFFFFF},
      {ASN_TYPE_COUNTER32, "01 00 00 00 00", 1, 0},
      {ASN_TYPE_TIMETICKS, "30 39", 1, 12345},
      {ASN_TYPE_COUNTER32, "", 0, 0},
      {ASN_TYPE_INTEGER, "00 00 00 00 00 01", 0, 0},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.hex);
      std::vector<uint8_t> bytes = Hex(c.hex);
      uint32_t out = 0xA5A5A5A5;
      EXPECT_EQ(BerDecodeValue(c.type, bytes.data(), (uint32_t)bytes.size(), &out), c.ok);
      EXPECT_EQ(out, c.ok ? c.value : 0xA5A5A5A5);
   }
}

TEST(BerDecodeValue, Counter64)
{
   struct Case
   {
      const char *hex;
      int ok;
      uint64_t value;
   };
   const Case cases[] = {
      {"01", 1, 1},
      {"00 FF FF FF FF FF FF FF FF", 1, UINT64_MAX},
      {"80", 1, ~(uint64_t)0x7F},
      {"00 00 00 00 00 00 00 00 00 00", 0, 0},
      {"", 0, 0},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.hex);
      std::vector<uint8_t> bytes = Hex(c.hex);
      uint64_t out = 42;
      EXPECT_EQ(BerDecodeValue(ASN_TYPE_COUNTER64, bytes.data(), (uint32_t)bytes.size(), &out),
                c.ok);
      EXPECT_EQ(out, c.ok ? c.value : 42u);
   }
}

TEST(BerDecodeValue, ObjectIds)
{
   struct Case
   {
      const char *hex;
      int ok;
      std::vector<uint32_t> ids;
   };
   const Case cases[] = {
      {"2B 06 01 02 01", 1, {1, 3, 6, 1, 2, 1}},
      {"2B 06 01 04 01 82 37", 1, {1, 3, 6, 1, 4, 1, 311}},
      {"00", 1, {0, 0}},
      {"", 1, {}},
      // The first sub-identifier v holds two arcs: 0.v, 1.(v - 40), 2.(v - 80).
      {"27", 1, {0, 39}},
      {"28", 1, {1, 0}},
      {"4F", 1, {1, 39}},
      {"50", 1, {2, 0}},
      {"78", 1, {2, 40}},
      {"7F", 1, {2, 47}},
      {"88 37 01", 1, {2, 999, 1}},            // v spans two octets
      {"90 80 80 80 4F", 1, {2, 4294967295u}},  // v = 2^32 + 79: the largest second arc
      {"80 80 2B", 1, {1, 3}},                  // leading 0x80 octets carry no value
      {"2B 80 01", 1, {1, 3, 1}},
      {"2B 8F FF FF FF 7F", 1, {1, 3, 4294967295u}},
      // An arc of 2^32 or more cannot be held: the OID fails instead of
      // aliasing the OID that its low 32 bits would name.
      {"2B 90 80 80 80 00", 0, {}},
      {"2B 81 80 80 80 80 01", 0, {}},
      {"90 80 80 80 50", 0, {}},                // second arc 2^32 under 2
      {"2B 06 01 FF FF FF FF FF FF FF FF FF 7F", 0, {}},
      // A content that ends inside a sub-identifier is no OID.
      {"2B 86", 0, {}},
      {"88", 0, {}},
      {"2B 06 81", 0, {}},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.hex);
      std::vector<uint8_t> bytes = Hex(c.hex);
      BerOidValue oid = {0, nullptr};
      EXPECT_EQ(BerDecodeValue(ASN_TYPE_OBJECT_ID, bytes.data(), (uint32_t)bytes.size(), &oid), c.ok);
      EXPECT_EQ(std::vector<uint32_t>(oid.ids, oid.ids + oid.count), c.ids);
      if (c.ids.empty())
         EXPECT_EQ(oid.ids, nullptr);  // nothing allocated on failure or for an empty content
      free(oid.ids);
   }
}

TEST(BerDecodeValue, RawCopies)
{
   std::vector<uint8_t> bytes = Hex("C0 A8 01 01");
   uint8_t out[4] = {0};
   EXPECT_EQ(BerDecodeValue(ASN_TYPE_IP_ADDRESS, bytes.data(), 4, out), 1);
   EXPECT_EQ(ToHex(out, 4), "C0 A8 01 01");
   EXPECT_EQ(BerDecodeValue(ASN_TYPE_OCTET_STRING, bytes.data(), 0, out), 1);
}

static std::string OidString(const std::vector<uint32_t> &ids)
{
   std::string s;
   for (uint32_t v : ids)
      s += "." + std::to_string(v);
   return s;
}

static std::string Element(uint32_t type, const void *data, uint32_t length)
{
   uint8_t out[80000];
   uint32_t n = BerWriteElement(type, data, length, out, sizeof(out));
   return ToHex(out, n);
}

TEST(BerWriteElement, Integers)
{
   struct Case
   {
      uint32_t type;
      uint32_t value;
      const char *hex;
   };
   const Case cases[] = {
      {ASN_TYPE_INTEGER, 0, "02 01 00"},
      {ASN_TYPE_INTEGER, 127, "02 01 7F"},
      {ASN_TYPE_INTEGER, 128, "02 02 00 80"},
      {ASN_TYPE_INTEGER, 256, "02 02 01 00"},
      {ASN_TYPE_INTEGER, (uint32_t)-1, "02 01 FF"},
      {ASN_TYPE_INTEGER, (uint32_t)-128, "02 01 80"},
      {ASN_TYPE_INTEGER, (uint32_t)-129, "02 02 FF 7F"},
      {ASN_TYPE_INTEGER, 0x7FFFFFFF, "02 04 7F FF FF FF"},
      {ASN_TYPE_INTEGER, 0x80000000, "02 04 80 00 00 00"},
      {ASN_TYPE_COUNTER32, 0, "41 01 00"},
      {ASN_TYPE_COUNTER32, 255, "41 02 00 FF"},
      {ASN_TYPE_COUNTER32, 0xFFFFFFFF, "41 05 00 FF FF FF FF"},
      {ASN_TYPE_GAUGE32, 0x8000, "42 03 00 80 00"},
      {ASN_TYPE_TIMETICKS, 12345, "43 02 30 39"},
      {ASN_TYPE_UINTEGER32, 1, "47 01 01"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.hex);
      EXPECT_EQ(Element(c.type, &c.value, 4), c.hex);
   }
   uint64_t zero = 0, top = 0x8000000000000000ULL;
   EXPECT_EQ(Element(ASN_TYPE_COUNTER64, &zero, 8), "46 01 00");
   EXPECT_EQ(Element(ASN_TYPE_COUNTER64, &top, 8), "46 09 00 80 00 00 00 00 00 00 00");
   EXPECT_EQ(Element(ASN_TYPE_NULL, "xyz", 3), "05 00");
}

TEST(BerWriteElement, ObjectIds)
{
   struct Case
   {
      std::vector<uint32_t> ids;
      const char *hex;  // NULL: the OID cannot be written so that it reads back the same
   };
   const Case cases[] = {
      {{1, 3, 6, 1, 2, 1}, "06 05 2B 06 01 02 01"},
      {{1, 3, 6, 1, 4, 1, 311}, "06 07 2B 06 01 04 01 82 37"},
      {{1, 3, 128}, "06 03 2B 81 00"},
      {{1, 3, 4294967295u}, "06 06 2B 8F FF FF FF 7F"},
      {{1, 3, 0x0FFFFFFF, 0x10000000}, "06 0A 2B FF FF FF 7F 81 80 80 80 00"},
      {{0, 39}, "06 01 27"},
      {{1, 39}, "06 01 4F"},
      {{2, 0}, "06 01 50"},
      {{2, 40}, "06 01 78"},
      {{2, 999, 1}, "06 03 88 37 01"},
      {{2, 4294967295u, 7}, "06 06 90 80 80 80 4F 07"},
      {{5}, "06 00"},
      {{}, "06 00"},
      {{3, 0}, nullptr},
      {{7, 1, 2}, nullptr},
      {{0, 40}, nullptr},
      {{1, 40, 5}, nullptr},
      {{1, 4294967295u}, nullptr},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(OidString(c.ids));
      uint32_t length = (uint32_t)c.ids.size() * 4;
      if (c.hex == nullptr)
      {
         uint8_t out[64];
         EXPECT_EQ(BerWriteElement(ASN_TYPE_OBJECT_ID, c.ids.data(), length, out, sizeof(out)), 0u);
         continue;
      }
      EXPECT_EQ(Element(ASN_TYPE_OBJECT_ID, c.ids.data(), length), c.hex);
      EXPECT_EQ(BerContentLength(ASN_TYPE_OBJECT_ID, c.ids.data(), length), Hex(c.hex).size() - 2);
      EXPECT_LE(Hex(c.hex).size() - 2, BerContentBound(ASN_TYPE_OBJECT_ID, length));
   }
}

TEST(BerWriteElement, LengthFormsAndRoom)
{
   std::vector<uint8_t> data(65536, 0xAB);
   struct Case
   {
      uint32_t length;
      const char *prefix;
   };
   const Case cases[] = {{127, "04 7F AB"}, {128, "04 81 80 AB"}, {255, "04 81 FF AB"},
                         {256, "04 82 01 00 AB"}, {65536, "04 83 01 00 00 AB"}};
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.length);
      std::string hex = Element(ASN_TYPE_OCTET_STRING, data.data(), c.length);
      EXPECT_EQ(hex.substr(0, strlen(c.prefix)), c.prefix);
   }
   // An element of T octets fits exactly T octets of room, not T - 1.
   uint32_t value = 0x12345678;
   uint8_t out[8];
   EXPECT_EQ(BerWriteElement(ASN_TYPE_INTEGER, &value, 4, out, 6), 6u);
   EXPECT_EQ(BerWriteElement(ASN_TYPE_INTEGER, &value, 4, out, 5), 0u);
   EXPECT_EQ(BerWriteElement(ASN_TYPE_NULL, nullptr, 0, out, 1), 0u);
   EXPECT_EQ(BerWriteElement(ASN_TYPE_NULL, nullptr, 0, out, 0), 0u);
   EXPECT_EQ(BerWriteElement(ASN_TYPE_OCTET_STRING, data.data(), 200, out, 8), 0u);
}

// Decoding what was encoded gives the value back, for a spread of values.
TEST(BerRoundTrip, IntegersAndCounter64)
{
   std::mt19937_64 rng(12345);
   std::vector<uint64_t> values = {0, 1, 127, 128, 255, 256, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                                   0x100000000ULL, UINT64_MAX, 0x8000000000000000ULL};
   for (int i = 0; i < 2000; i++)
      values.push_back(rng() >> (rng() % 64));
   const uint32_t kinds[] = {ASN_TYPE_INTEGER, ASN_TYPE_COUNTER32, ASN_TYPE_GAUGE32,
                             ASN_TYPE_TIMETICKS, ASN_TYPE_UINTEGER32};
   for (uint64_t v : values)
   {
      uint8_t out[16];
      for (uint32_t kind : kinds)
      {
         uint32_t v32 = (uint32_t)v, back = 0;
         uint32_t n = BerWriteElement(kind, &v32, 4, out, sizeof(out));
         ASSERT_GT(n, 0u);
         ASSERT_EQ(BerDecodeValue(kind, out + 2, n - 2, &back), 1);
         ASSERT_EQ(back, v32) << kind;
      }
      uint64_t back64 = 0;
      uint32_t n = BerWriteElement(ASN_TYPE_COUNTER64, &v, 8, out, sizeof(out));
      ASSERT_EQ(BerDecodeValue(ASN_TYPE_COUNTER64, out + 2, n - 2, &back64), 1);
      ASSERT_EQ(back64, v);
   }
}

// Every OID that can be written reads back the same.
TEST(BerRoundTrip, ObjectIds)
{
   std::mt19937 rng(7);
   for (int i = 0; i < 2000; i++)
   {
      uint32_t first = rng() % 3;
      uint32_t second = (first < 2) ? rng() % 40 : rng() >> (rng() % 32);
      std::vector<uint32_t> ids = {first, second};
      size_t n = rng() % 40;
      for (size_t j = 0; j < n; j++)
         ids.push_back(rng() >> (rng() % 32));
      SCOPED_TRACE(OidString(ids));
      uint8_t out[512];
      uint32_t len = BerWriteElement(ASN_TYPE_OBJECT_ID, ids.data(), (uint32_t)ids.size() * 4,
                                     out, sizeof(out));
      ASSERT_GT(len, 0u);
      ASSERT_LE(len - 2, BerContentBound(ASN_TYPE_OBJECT_ID, (uint32_t)ids.size() * 4));
      uint32_t type, clen, hdr;
      const uint8_t *content;
      ASSERT_EQ(BerReadHeader(out, len, &type, &clen, &content, &hdr), 1);
      BerOidValue oid = {0, nullptr};
      ASSERT_EQ(BerDecodeValue(type, content, clen, &oid), 1);
      EXPECT_EQ(std::vector<uint32_t>(oid.ids, oid.ids + oid.count), ids);
      free(oid.ids);
   }
}
