// SNMP_Variable: parsing, encoding and value conversions.
#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <memory>
#include <string>

#include "internal.h"
#include "test_util.h"

static std::unique_ptr<SNMP_Variable> ParseVar(const char *hex, int expectOk = 1)
{
   std::vector<uint8_t> bytes = Hex(hex);
   auto var = std::make_unique<SNMP_Variable>();
   EXPECT_EQ(var->Parse(bytes.data(), (uint32_t)bytes.size()), expectOk) << hex;
   return var;
}

static std::string Text(SNMP_Variable *v, uint32_t size = 64)
{
   char buf[64];
   return v->GetValueAsString(buf, size);
}

TEST(Variable, Default)
{
   SNMP_Variable v;
   EXPECT_EQ(v.GetName(), nullptr);
   EXPECT_EQ(v.GetType(), (uint32_t)ASN_TYPE_NULL);
   EXPECT_EQ(v.GetValueLength(), 0u);
   EXPECT_EQ(v.GetValue(), nullptr);
   EXPECT_EQ(Text(&v), "");
   EXPECT_EQ(v.GetValueAsUInt(), 0u);
   uint8_t buf[32];
   EXPECT_EQ(v.Encode(buf, sizeof(buf)), 0u);  // no name: nothing to encode
}

TEST(Variable, NameFromText)
{
   SNMP_Variable a(".1.3.6.1.2.1.1.1.0");
   EXPECT_EQ(a.GetName()->Length(), 9u);
   SNMP_Variable b("1.3.x");
   EXPECT_EQ(b.GetName()->Length(), 0u);
   SNMP_Variable c((const char *)nullptr);
   EXPECT_EQ(c.GetName()->Length(), 0u);
   const uint32_t ids[] = {1, 3, 6};
   SNMP_Variable d(ids, 3);
   EXPECT_STREQ(d.GetName()->GetValueAsText(), ".1.3.6");
}

TEST(Variable, ParseValues)
{
   struct Case
   {
      const char *hex;
      uint32_t type;
      uint32_t length;
      const char *text;
      uint32_t asUInt;
   };
   const Case cases[] = {
      {"06 08 2B 06 01 02 01 01 01 00 04 03 61 62 63", 0x04, 3, "abc", 0},
      {"06 01 2B 02 01 FF", 0x02, 4, "-1", 0xFFFFFFFF},
      {"06 01 2B 41 05 00 FF FF FF FF", 0x41, 4, "4294967295", 0xFFFFFFFF},
      {"06 01 2B 46 09 00 FF FF FF FF FF FF FF FF", 0x46, 8, "18446744073709551615", 0xFFFFFFFF},
      {"06 01 2B 43 02 30 39", 0x43, 4, "12345", 12345},
      {"06 01 2B 80 00", 0x80, 0, "", 0},
      {"06 01 2B 40 04 C0 A8 01 01", 0x40, 4, "192.168.1.1", 0x0101A8C0},  // little-endian host
      {"06 01 2B 40 03 C0 A8 01", 0x40, 3, "", 0},  // short address: nothing past the value
      {"06 01 2B 06 03 2B 06 01", 0x06, 16, ".1.3.6.1", 0},
      {"06 01 2B 05 00", 0x05, 0, "", 0},
      {"06 01 2B 04 00", 0x04, 0, "", 0},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.hex);
      auto v = ParseVar(c.hex);
      EXPECT_EQ(v->GetType(), c.type);
      EXPECT_EQ(v->GetValueLength(), c.length);
      EXPECT_EQ(Text(v.get()), c.text);
      EXPECT_EQ(v->GetValueAsUInt(), c.asUInt);  // IpAddress: octets as they lie in memory
   }
   auto v = ParseVar("06 08 2B 06 01 02 01 01 01 00 04 03 61 62 63");
   EXPECT_STREQ(v->GetName()->GetValueAsText(), ".1.3.6.1.2.1.1.1.0");
   EXPECT_EQ(Text(v.get(), 3), "ab");
   auto neg = ParseVar("06 01 2B 02 01 FF");
   EXPECT_EQ(neg->GetValueAsInt(), -1);
}

TEST(Variable, ParseFailures)
{
   const char *cases[] = {
      "06 01 2B 02 06 00 00 00 00 00 01",  // six-octet integer
      "02 01 05 02 01 05",                 // name is not an OID
      "06 01 2B 46 00",                    // empty Counter64
      "06 05 2B 06",                       // name runs past the data
      "06 01 2B 04 05 61 62",              // value runs past the data
      "06 01 2B",                          // no value
      "06 01 2B 04 80",                    // indefinite length
      "06 06 2B 90 80 80 80 00 05 00",     // name with an arc of 2^32
      "06 02 2B 86 05 00",                 // name ends inside a sub-identifier
      "06 01 2B 06 06 2B 90 80 80 80 00",  // OID value with an arc of 2^32
      "06 01 2B 06 01 88",                 // OID value ends inside a sub-identifier
      "",
   };
   for (const char *hex : cases)
   {
      SCOPED_TRACE(hex);
      ParseVar(hex, 0);  // and deleting it is safe
   }
}

// Names and OID values under the first arc 2 take a multi-octet first
// sub-identifier; OIDs that cannot be written to read back the same are not
// encoded at all.
TEST(Variable, ObjectIdArcs)
{
   auto v = ParseVar("06 03 88 37 01 06 03 88 37 02");
   EXPECT_STREQ(v->GetName()->GetValueAsText(), ".2.999.1");
   EXPECT_EQ(Text(v.get()), ".2.999.2");

   struct Case
   {
      const char *name, *oidValue;
      const char *hex;  // NULL: Encode gives 0
   };
   const Case cases[] = {
      {".2.999.1", nullptr, "30 07 06 03 88 37 01 05 00"},
      {".1.3", ".2.999", "30 07 06 01 2B 06 02 88 37"},
      {".1.40", nullptr, nullptr},
      {".3.1", nullptr, nullptr},
      {".1.3", ".1.40.1", nullptr},
      {".1.3", ".4", "30 05 06 01 2B 06 00"},  // fewer than two arcs: an empty content
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(std::string(c.name) + " " + (c.oidValue ? c.oidValue : ""));
      SNMP_Variable var(c.name);
      if (c.oidValue != nullptr)
         var.SetValueFromString(ASN_TYPE_OBJECT_ID, c.oidValue);
      uint8_t buf[64];
      uint32_t n = var.Encode(buf, sizeof(buf));
      EXPECT_EQ(ToHex(buf, n), c.hex ? c.hex : "");
   }
}

TEST(Variable, EmptyOidValue)
{
   auto v = ParseVar("06 01 2B 06 00");
   EXPECT_EQ(v->GetType(), (uint32_t)ASN_TYPE_OBJECT_ID);
   EXPECT_EQ(v->GetValueLength(), 0u);
   EXPECT_EQ(v->GetValue(), nullptr);
   std::unique_ptr<SNMP_ObjectId> oid(v->GetValueAsObjectId());
   ASSERT_NE(oid, nullptr);
   EXPECT_EQ(oid->Length(), 0u);
}

TEST(Variable, MacAndIpAddress)
{
   auto mac = ParseVar("06 01 2B 04 06 00 1A 2B 3C 4D 5E");
   char buf[32];
   EXPECT_STREQ(mac->GetValueAsMACAddr(buf), "00:1A:2B:3C:4D:5E");
   auto shortMac = ParseVar("06 01 2B 04 05 00 1A 2B 3C 4D");
   EXPECT_STREQ(shortMac->GetValueAsMACAddr(buf), "00:00:00:00:00:00");
   auto ip = ParseVar("06 01 2B 40 04 C0 A8 01 01");
   EXPECT_STREQ(ip->GetValueAsIPAddr(buf), "192.168.1.1");
   EXPECT_STREQ(ip->GetValueAsMACAddr(buf), "00:00:00:00:00:00");
   EXPECT_STREQ(ip->GetValueAsString(buf, 15), "");
   auto shortIp = ParseVar("06 01 2B 40 02 C0 A8");
   EXPECT_STREQ(shortIp->GetValueAsIPAddr(buf), "0.0.0.0");
   auto integer = ParseVar("06 01 2B 02 04 0A 00 00 01");
   // The type is not looked at: the INTEGER's bytes as held in (little-endian) memory.
   EXPECT_STREQ(integer->GetValueAsIPAddr(buf), "1.0.0.10");
   EXPECT_EQ(ip->GetValueAsObjectId(), nullptr);
   EXPECT_EQ(ip->GetValueAsString(nullptr, 10), nullptr);
   EXPECT_EQ(ip->GetValueAsString(buf, 0), nullptr);
}

TEST(Variable, SetValueFromString)
{
   struct Case
   {
      uint32_t type;
      const char *text;
      uint32_t length;
      const char *shown;
   };
   const Case cases[] = {
      {ASN_TYPE_INTEGER, "0x10", 4, "16"},
      {ASN_TYPE_INTEGER, "010", 4, "8"},
      {ASN_TYPE_INTEGER, "-5", 4, "-5"},
      {ASN_TYPE_INTEGER, "99999999999", 4, "2147483647"},
      {ASN_TYPE_COUNTER32, "4294967295", 4, "4294967295"},
      {ASN_TYPE_GAUGE32, "-1", 4, "4294967295"},
      {ASN_TYPE_TIMETICKS, "0x100", 4, "256"},
      {ASN_TYPE_COUNTER64, "18446744073709551615", 8, "18446744073709551615"},
      {ASN_TYPE_IP_ADDRESS, "10.1.2.3", 4, "10.1.2.3"},
      {ASN_TYPE_IP_ADDRESS, "not an address", 4, "255.255.255.255"},
      {ASN_TYPE_OCTET_STRING, "", 0, ""},
      {ASN_TYPE_OCTET_STRING, "hello", 5, "hello"},
      {ASN_TYPE_OBJECT_ID, ".1.3.6.1", 16, ".1.3.6.1"},
      {ASN_TYPE_OBJECT_ID, "no oid", 8, ".0.0"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.text);
      SNMP_Variable v(".1.3");
      v.SetValueFromString(c.type, c.text);
      EXPECT_EQ(v.GetType(), c.type);
      EXPECT_EQ(v.GetValueLength(), c.length);
      EXPECT_EQ(Text(&v), c.shown);
   }
}

TEST(Variable, NullTypeKeepsValueButEncodesEmpty)
{
   SNMP_Variable v(".1.3");
   v.SetValueFromString(ASN_TYPE_INTEGER, "7");
   v.SetValueFromString(ASN_TYPE_NULL, "ignored");
   EXPECT_EQ(v.GetType(), (uint32_t)ASN_TYPE_NULL);
   EXPECT_EQ(v.GetValueLength(), 4u);
   uint8_t buf[16];
   uint32_t n = v.Encode(buf, sizeof(buf));
   EXPECT_EQ(ToHex(buf, n), "30 05 06 01 2B 05 00");
}

TEST(Variable, Encode)
{
   SNMP_Variable v(".1.3.6.1.2.1.1.1.0");
   uint8_t buf[64];
   uint32_t n = v.Encode(buf, sizeof(buf));
   EXPECT_EQ(ToHex(buf, n), "30 0C 06 08 2B 06 01 02 01 01 01 00 05 00");
   EXPECT_EQ(v.Encode(buf, 14), 14u);
   EXPECT_EQ(v.Encode(buf, 13), 0u);

   // Every value kind survives encode and parse.
   struct Case
   {
      uint32_t type;
      const char *text;
   };
   const Case cases[] = {{ASN_TYPE_INTEGER, "-129"},          {ASN_TYPE_COUNTER32, "4294967295"},
                         {ASN_TYPE_COUNTER64, "4294967296"},   {ASN_TYPE_OBJECT_ID, ".1.3.6.1.4.1.311"},
                         {ASN_TYPE_IP_ADDRESS, "192.0.2.7"},   {ASN_TYPE_OCTET_STRING, "hello, manager"},
                         {ASN_TYPE_UINTEGER32, "1"},           {ASN_TYPE_TIMETICKS, "360000"}};
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.text);
      SNMP_Variable src(".1.3.6.1.4.1.8072.2.3.2.1");
      src.SetValueFromString(c.type, c.text);
      n = src.Encode(buf, sizeof(buf));
      ASSERT_GT(n, 2u);
      SNMP_Variable back;
      ASSERT_EQ(back.Parse(buf + 2, n - 2), 1);
      EXPECT_EQ(back.GetType(), c.type);
      EXPECT_EQ(Text(&back), c.text);
      EXPECT_STREQ(back.GetName()->GetValueAsText(), ".1.3.6.1.4.1.8072.2.3.2.1");
   }
}

TEST(Variable, EncodeLargeSubIdsIsSizedFromRealLength)
{
   // Sub-identifiers of 2^28 and more take five octets each.
   std::vector<uint32_t> ids = {1, 3};
   for (int i = 0; i < 100; i++)
      ids.push_back(0xF0000000u + i);
   SNMP_Variable v(ids.data(), (uint32_t)ids.size());
   v.SetValueFromString(ASN_TYPE_OBJECT_ID, "1.3.4294967295.4294967295");
   std::vector<uint8_t> buf(1024);
   uint32_t n = v.Encode(buf.data(), (uint32_t)buf.size());
   ASSERT_GT(n, 500u);
   EXPECT_EQ(v.Encode(buf.data(), n - 1), 0u);
   SNMP_Variable back;
   ASSERT_EQ(back.Parse(buf.data() + 4, n - 4), 1);  // long-form header of 4 octets
   EXPECT_EQ(std::vector<uint32_t>(back.GetName()->GetValue(),
                                   back.GetName()->GetValue() + back.GetName()->Length()),
             ids);
}

// A variable whose OCTET STRING value is the text followed by a NUL, so that
// the value itself can be handed back as a C string.
static std::unique_ptr<SNMP_Variable> StringVar(const std::string &text)
{
   std::vector<uint8_t> b = {0x06, 0x01, 0x2B, 0x04, (uint8_t)(text.size() + 1)};
   b.insert(b.end(), text.begin(), text.end());
   b.push_back(0);
   auto v = std::make_unique<SNMP_Variable>();
   EXPECT_EQ(v->Parse(b.data(), (uint32_t)b.size()), 1);
   return v;
}

static std::string OidOf(SNMP_ObjectId *oid)
{
   return oid->GetValueAsText();
}

// Every setter copies its source before it releases what it replaces: a
// source inside the object's own value is read whole (checked under ASan).
TEST(Setters, SourceInsideOwnValue)
{
   const std::string longText(60, 'x');  // beyond a variable's inline value bytes
   const std::string shortText = "inline value";
   std::vector<uint32_t> longOid = {1, 3, 6, 1, 4, 1, 8072};
   for (uint32_t i = 0; i < 20; i++)
      longOid.push_back(100 + i);  // beyond an OID's inline sub-identifiers
   const std::string longOidText = [&] {
      std::string t;
      for (uint32_t v : longOid)
         t += "." + std::to_string(v);
      return t;
   }();
   struct Case
   {
      const char *what;
      std::function<std::string()> run;
      std::string expected;
   };
   const Case cases[] = {
      {"string from its own heap value",
       [&] {
          auto v = StringVar(longText);
          v->SetValueFromString(ASN_TYPE_OCTET_STRING, (const char *)v->GetValue());
          return Text(v.get());
       },
       longText},
      {"string from the tail of its heap value",
       [&] {
          auto v = StringVar(longText + "tail");
          v->SetValueFromString(ASN_TYPE_OCTET_STRING, (const char *)v->GetValue() + 58);
          return Text(v.get());
       },
       "xxtail"},
      {"string from inside its inline value",
       [&] {
          auto v = StringVar(shortText);
          v->SetValueFromString(ASN_TYPE_OCTET_STRING, (const char *)v->GetValue() + 7);
          return Text(v.get());
       },
       "value"},
      {"OID from its own text",
       [&] {
          auto v = StringVar(longOidText);
          v->SetValueFromString(ASN_TYPE_OBJECT_ID, (const char *)v->GetValue());
          return Text(v.get(), 64);
       },
       longOidText.substr(0, 63)},
      {"integer from its own text",
       [&] {
          auto v = StringVar("-12345");
          v->SetValueFromString(ASN_TYPE_INTEGER, (const char *)v->GetValue());
          return Text(v.get());
       },
       "-12345"},
      {"object id from its own heap array",
       [&] {
          SNMP_ObjectId oid((uint32_t)longOid.size(), longOid.data());
          oid.SetValue(oid.GetValue(), oid.Length());
          return OidOf(&oid);
       },
       longOidText},
      {"object id from the tail of its heap array",
       [&] {
          SNMP_ObjectId oid((uint32_t)longOid.size(), longOid.data());
          oid.SetValue(oid.GetValue() + 24, 3);
          return OidOf(&oid);
       },
       ".117.118.119"},
      {"object id from inside its inline array",
       [&] {
          const uint32_t ids[] = {1, 3, 6, 1, 2, 1};
          SNMP_ObjectId oid(6, ids);
          oid.SetValue(oid.GetValue() + 2, 4);
          return OidOf(&oid);
       },
       ".6.1.2.1"},
      {"MIB node name from its own name",
       [&] {
          SNMP_MIBObject node(5, "sysName");
          node.SetName(node.Name());
          node.SetName(node.Name() + 3);
          return std::string(node.Name());
       },
       "Name"},
      {"MIB node description from its own description",
       [&] {
          SNMP_MIBObject node(5, "sysName", 1, 2, 3, "An administratively-assigned name");
          node.SetInfo(4, 5, 6, node.Description());
          node.SetInfo(4, 5, 6, node.Description() + 3);
          return std::string(node.Description());
       },
       "administratively-assigned name"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      EXPECT_EQ(c.run(), c.expected);
   }
}
