// Object identifiers: text parsing and formatting, SNMP_ObjectId.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "zbsnmp.h"

static std::vector<uint32_t> Parse(const char *text, uint32_t capacity = 128)
{
   std::vector<uint32_t> buf(capacity + 1, 0xDEADBEEF);
   uint32_t n = SNMPParseOID(text, buf.data(), capacity);
   buf.resize(n);
   return buf;
}

TEST(ParseOID, ValidTexts)
{
   struct Case
   {
      const char *text;
      std::vector<uint32_t> ids;
   };
   const Case cases[] = {
      {".1.3.6.1.2.1.1.1.0", {1, 3, 6, 1, 2, 1, 1, 1, 0}},
      {"1.3.6.1.2.1.1.1.0", {1, 3, 6, 1, 2, 1, 1, 1, 0}},
      {"1..2", {1, 0, 2}},
      {"1.2.", {1, 2, 0}},
      {"..", {0, 0}},
      {"4294967295", {4294967295u}},
      {"4294967296", {4294967295u}},
      {"99999999999", {4294967295u}},
      {"000000000000001", {1}},  // 15 digits are accepted
      {"007", {7}},              // no octal
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.text);
      EXPECT_EQ(Parse(c.text), c.ids);
   }
}

TEST(ParseOID, InvalidTexts)
{
   const char *cases[] = {"", ".", "1.a", "1. 3", " 1.3", "1.-3", "-1", "0000000000000001",
                          "1.3.6x", "1,3"};
   for (const char *text : cases)
   {
      SCOPED_TRACE(text);
      uint32_t buf[128];
      EXPECT_EQ(SNMPParseOID(text, buf, 128), 0u);
      EXPECT_EQ(SNMPIsCorrectOID(text), 0);
   }
   uint32_t buf[4];
   EXPECT_EQ(SNMPParseOID(nullptr, buf, 4), 0u);
}

TEST(ParseOID, CapacityStopsParsing)
{
   EXPECT_EQ(Parse("1.2.3", 2), (std::vector<uint32_t>{1, 2}));
   EXPECT_EQ(Parse("1.2.x", 2), (std::vector<uint32_t>{1, 2}));
   EXPECT_EQ(Parse("1.2", 0), (std::vector<uint32_t>{}));
   EXPECT_EQ(SNMPIsCorrectOID("1.3.6"), 1);
   EXPECT_EQ(SNMPIsCorrectOID("1.3."), 1);
   EXPECT_EQ(SNMPIsCorrectOID(".."), 1);
}

TEST(ConvertOIDToText, CutsToBuffer)
{
   const uint32_t oid[] = {1, 3, 6, 1};
   struct Case
   {
      uint32_t size;
      const char *text;
   };
   const Case cases[] = {{16, ".1.3.6.1"}, {9, ".1.3.6.1"}, {8, ".1.3.6."}, {5, ".1.3"},
                         {4, ".1."},       {1, ""}};
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.size);
      char buf[32];
      memset(buf, 'X', sizeof(buf));
      EXPECT_STREQ(SNMPConvertOIDToText(4, oid, buf, c.size), c.text);
      EXPECT_EQ(buf[c.size], 'X');  // nothing written past the given size
   }
   char buf[4] = "abc";
   EXPECT_EQ(SNMPConvertOIDToText(4, oid, buf, 0), buf);
   EXPECT_STREQ(buf, "abc");  // size 0 writes nothing
   EXPECT_STREQ(SNMPConvertOIDToText(0, oid, buf, 4), "");
   const uint32_t big[] = {4294967295u};
   char out[32];
   EXPECT_STREQ(SNMPConvertOIDToText(1, big, out, 32), ".4294967295");
   const uint32_t half[] = {2147483648u};
   EXPECT_STREQ(SNMPConvertOIDToText(1, half, out, 32), ".2147483648");
}

TEST(ObjectId, DefaultAndExtend)
{
   SNMP_ObjectId oid;
   EXPECT_EQ(oid.Length(), 0u);
   EXPECT_EQ(oid.GetValue(), nullptr);
   EXPECT_STREQ(oid.GetValueAsText(), "(null)");
   const uint32_t x[] = {1};
   EXPECT_EQ(oid.Compare(x, 1), OID_CMP_ERROR);
   EXPECT_EQ(oid.Compare(".1"), OID_CMP_ERROR);
   oid.Extend(5);
   EXPECT_EQ(oid.Length(), 1u);
   EXPECT_STREQ(oid.GetValueAsText(), ".5");
}

TEST(ObjectId, TextIsCompleteForLargeSubIds)
{
   const uint32_t million[] = {1000000};
   SNMP_ObjectId a(1, million);
   EXPECT_STREQ(a.GetValueAsText(), ".1000000");
   const uint32_t maxes[] = {4294967295u, 4294967295u, 4294967295u};
   SNMP_ObjectId b(3, maxes);
   EXPECT_STREQ(b.GetValueAsText(), ".4294967295.4294967295.4294967295");
}

TEST(ObjectId, EmptyValueHasEmptyText)
{
   const uint32_t x[] = {1};
   SNMP_ObjectId a(0, x);
   EXPECT_STREQ(a.GetValueAsText(), "");
   SNMP_ObjectId b;
   b.SetValue(x, 0);
   EXPECT_STREQ(b.GetValueAsText(), "");
   EXPECT_EQ(b.Compare(x, 1), OID_CMP_ERROR);
}

TEST(ObjectId, Compare)
{
   const uint32_t v[] = {1, 3, 6, 1, 2, 1};
   SNMP_ObjectId oid(6, v);
   struct Case
   {
      const char *text;
      int result;
   };
   const Case cases[] = {
      {"1.3.6.1", OID_CMP_LONGER},    {".1.3.6.1.2.1.1", OID_CMP_SHORTER},
      {"1.3.6.1.2.1", OID_CMP_EQUAL}, {"1.3.6.1.4.1", OID_CMP_DIFFERENT},
      {"1.3.7", OID_CMP_DIFFERENT},   {"abc", OID_CMP_ERROR},
      {"", OID_CMP_ERROR},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.text);
      EXPECT_EQ(oid.Compare(c.text), c.result);
      uint32_t buf[128];
      uint32_t n = SNMPParseOID(c.text, buf, 128);
      EXPECT_EQ(oid.Compare(n ? buf : nullptr, n), c.result);
   }
   EXPECT_EQ(oid.Compare(nullptr, 3), OID_CMP_ERROR);
   EXPECT_EQ(oid.Compare(v, 0), OID_CMP_ERROR);
}

TEST(ObjectId, SetValueFromOwnArrayAndExtend)
{
   const uint32_t v[] = {1, 3, 6, 1, 4, 1, 9};
   SNMP_ObjectId oid(7, v);
   EXPECT_STREQ(oid.GetValueAsText(), ".1.3.6.1.4.1.9");
   oid.SetValue(oid.GetValue(), 3);  // its own array as the source
   EXPECT_STREQ(oid.GetValueAsText(), ".1.3.6");
   oid.SetValue(v, 7);
   oid.Extend(0);
   oid.Extend(5);
   EXPECT_EQ(oid.Length(), 9u);
   EXPECT_STREQ(oid.GetValueAsText(), ".1.3.6.1.4.1.9.0.5");
}

TEST(ObjectId, CompareOrderIsTotalAndLexicographic)
{
   // Sorted: each text sorts strictly before the next one. The sub-identifiers
   // compare as unsigned numbers (4294967295 after 2), not as text.
   const char *sorted[] = {
      "",        "0",         "1",           "1.3",         "1.3.6",     "1.3.6.0",
      "1.3.6.1", "1.3.6.1.0", "1.3.6.2",     "1.3.6.10",    "1.3.6.4294967295",
      "1.4",     "2",         "2147483648",  "4294967295",  "4294967295.0",
   };
   const size_t n = sizeof(sorted) / sizeof(sorted[0]);
   std::vector<std::vector<uint32_t>> ids(n);
   for (size_t i = 0; i < n; i++)
   {
      uint32_t buf[128];
      ids[i].assign(buf, buf + SNMPParseOID(sorted[i], buf, 128));
   }
   for (size_t i = 0; i < n; i++)
   {
      SNMP_ObjectId a((uint32_t)ids[i].size(), ids[i].data());
      for (size_t j = 0; j < n; j++)
      {
         SCOPED_TRACE(std::string(sorted[i]) + " vs " + sorted[j]);
         int expected = (i < j) ? -1 : (i == j ? 0 : 1);
         SNMP_ObjectId b((uint32_t)ids[j].size(), ids[j].data());
         EXPECT_EQ(a.CompareOrder(ids[j].data(), (uint32_t)ids[j].size()), expected);
         EXPECT_EQ(a.CompareOrder(&b), expected);
      }
   }
   // Objects without a value sort first, like the empty OID.
   SNMP_ObjectId none, one(1, ids[2].data());
   EXPECT_EQ(none.CompareOrder(nullptr, 0), 0);
   EXPECT_EQ(none.CompareOrder(&one), -1);
   EXPECT_EQ(one.CompareOrder(&none), 1);
   EXPECT_EQ(one.CompareOrder(nullptr), 1);
   EXPECT_EQ(one.CompareOrder(nullptr, 5), 1);  // a NULL array is the empty OID
   // Compare keeps its own results beside the order.
   EXPECT_EQ(one.Compare(ids[3].data(), 2), OID_CMP_SHORTER);
}
