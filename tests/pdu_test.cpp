// SNMP_PDU: parsing, trap normalisation and encoding.
#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>

#include "internal.h"
#include "test_util.h"

static std::unique_ptr<SNMP_PDU> ParsePdu(const std::string &hex, int expectOk = 1)
{
   std::vector<uint8_t> bytes = Hex(hex);
   auto pdu = std::make_unique<SNMP_PDU>();
   EXPECT_EQ(pdu->Parse(bytes.data(), (uint32_t)bytes.size()), expectOk) << hex;
   return pdu;
}

static std::string EncodeHex(SNMP_PDU *pdu)
{
   uint8_t *buf = nullptr;
   uint32_t n = pdu->Encode(&buf);
   std::string hex = ToHex(buf, n);
   free(buf);
   return hex;
}

// version 1, community "", response, id 1, one binding 1.3 = INTEGER 5
static const char kResponse[] =
    "30 1A 02 01 01 04 00 A2 13 02 01 01 02 01 00 02 01 00 30 08 30 06 06 01 2B 02 01 05";

TEST(PduParse, Response)
{
   auto pdu = ParsePdu(kResponse);
   EXPECT_EQ(pdu->GetVersion(), 1u);
   EXPECT_STREQ(pdu->GetCommunity(), "");
   EXPECT_EQ(pdu->GetCommand(), (uint32_t)SNMP_CMD_RESPONSE);
   EXPECT_EQ(pdu->GetRequestId(), 1u);
   EXPECT_EQ(pdu->GetErrorCode(), 0u);
   ASSERT_EQ(pdu->GetNumVariables(), 1u);
   EXPECT_STREQ(pdu->GetVariable(0)->GetName()->GetValueAsText(), ".1.3");
   EXPECT_EQ(pdu->GetVariable(0)->GetValueAsInt(), 5);
   EXPECT_EQ(pdu->GetVariable(1), nullptr);
   EXPECT_EQ(pdu->GetVariable(0xFFFFFFFF), nullptr);
}

TEST(PduParse, Failures)
{
   const char *cases[] = {
      // version 2
      "30 1A 02 01 02 04 00 A2 13 02 01 01 02 01 00 02 01 00 30 08 30 06 06 01 2B 02 01 05",
      // PDU tag A9 (no SNMP PDU) and a universal tag
      "30 1A 02 01 01 04 00 A9 13 02 01 01 02 01 00 02 01 00 30 08 30 06 06 01 2B 02 01 05",
      "30 1A 02 01 01 04 00 30 13 02 01 01 02 01 00 02 01 00 30 08 30 06 06 01 2B 02 01 05",
      // binding list one octet longer than its bindings
      "30 1B 02 01 01 04 00 A2 14 02 01 01 02 01 00 02 01 00 30 09 30 06 06 01 2B 02 01 05 00",
      // binding longer than the list
      "30 1A 02 01 01 04 00 A2 13 02 01 01 02 01 00 02 01 00 30 08 30 07 06 01 2B 02 01 05",
      // not a SEQUENCE
      "31 1A 02 01 01 04 00 A2 13 02 01 01 02 01 00 02 01 00 30 08 30 06 06 01 2B 02 01 05",
      // community is not an OCTET STRING
      "30 1A 02 01 01 02 00 A2 13 02 01 01 02 01 00 02 01 00 30 08 30 06 06 01 2B 02 01 05",
      // request id of six octets
      "30 1F 02 01 01 04 00 A2 18 02 06 00 00 00 00 00 01 02 01 00 02 01 00 30 08 30 06 06 01 2B 02 01 05",
      // outer length beyond the data
      "30 1B 02 01 01 04 00 A2 13 02 01 01 02 01 00 02 01 00 30 08 30 06 06 01 2B 02 01 05",
      // binding that is not a SEQUENCE
      "30 1A 02 01 01 04 00 A2 13 02 01 01 02 01 00 02 01 00 30 08 31 06 06 01 2B 02 01 05",
      // binding name with an arc of 2^32 (2B 90 80 80 80 00)
      "30 1F 02 01 01 04 00 A2 18 02 01 01 02 01 00 02 01 00 30 0D 30 0B 06 06 2B 90 80 80 80 00 02 01 05",
      // SNMPv1 trap whose enterprise holds an arc of 2^32
      "30 20 02 01 00 04 00 A4 19 06 06 2B 90 80 80 80 00 40 04 0A 00 00 01 02 01 06 02 01 01 43 01 64 30 00",
   };
   for (const char *hex : cases)
   {
      SCOPED_TRACE(hex);
      ParsePdu(hex, 0);
   }
}

TEST(PduParse, EmptyBindingListAndTrailingBytes)
{
   auto pdu = ParsePdu("30 12 02 01 01 04 00 A2 0B 02 01 01 02 01 00 02 01 00 30 00");
   EXPECT_EQ(pdu->GetNumVariables(), 0u);
   // Octets behind the message are ignored.
   auto trailing = ParsePdu(std::string(kResponse) + " DE AD");
   EXPECT_EQ(trailing->GetNumVariables(), 1u);
}

// SNMPv1 trap: enterprise E, agent 10.0.0.1, generic G, specific S, time-stamp 100
static std::string V1Trap(const char *enterpriseHex, int generic, int specific)
{
   char body[256];
   std::vector<uint8_t> ent = Hex(enterpriseHex);
   snprintf(body, sizeof(body), "06 %02X %s 40 04 0A 00 00 01 02 01 %02X 02 01 %02X 43 01 64 30 00",
            (unsigned)ent.size(), enterpriseHex, generic & 0xFF, specific & 0xFF);
   std::vector<uint8_t> pdu = Hex(body);
   char head[64];
   snprintf(head, sizeof(head), "30 %02X 02 01 00 04 00 A4 %02X ", (unsigned)(pdu.size() + 7),
            (unsigned)pdu.size());
   return std::string(head) + body;
}

TEST(PduParse, V1TrapNormalisation)
{
   struct Case
   {
      int generic, specific;
      const char *trapId;
   };
   const Case cases[] = {
      {3, 0, ".1.3.6.1.6.3.1.1.5.4"},
      {0, 0, ".1.3.6.1.6.3.1.1.5.1"},
      {5, 9, ".1.3.6.1.6.3.1.1.5.6"},
      {6, 17, ".1.3.6.1.4.1.8072.0.17"},
      {7, 2, ".1.3.6.1.4.1.8072.0.2"},
      {-1, 4, ".1.3.6.1.4.1.8072.0.4"},  // negative generic: like enterprise-specific
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.trapId);
      auto pdu = ParsePdu(V1Trap("2B 06 01 04 01 BF 08", c.generic, c.specific));
      EXPECT_EQ(pdu->GetCommand(), (uint32_t)SNMP_CMD_TRAP);
      EXPECT_STREQ(pdu->GetTrapId()->GetValueAsText(), c.trapId);
      EXPECT_EQ(pdu->GetTrapType(), c.generic);
      EXPECT_EQ(pdu->GetSpecificTrapType(), c.specific);
   }
}

TEST(PduParse, V1TrapFailures)
{
   // agent address of five octets
   ParsePdu("30 1C 02 01 00 04 00 A4 15 06 01 2B 40 05 0A 00 00 01 01 02 01 03 02 01 00 43 01 64 30 00",
            0);
   // time-stamp as INTEGER
   ParsePdu("30 1B 02 01 00 04 00 A4 14 06 01 2B 40 04 0A 00 00 01 02 01 03 02 01 00 02 01 64 30 00",
            0);
}

// SNMPv2 trap (or, with the tag A6, an inform) whose snmpTrapOID.0 value is
// the given OID content.
static std::string V2Trap(const std::string &trapOidHex, const char *secondType = "06",
                          const char *tag = "A7")
{
   std::vector<uint8_t> oid = Hex(trapOidHex);
   char b2[64];
   snprintf(b2, sizeof(b2), "30 %02X 06 0A 2B 06 01 06 03 01 01 04 01 00 %s %02X ",
            (unsigned)(oid.size() + 14), secondType, (unsigned)oid.size());
   std::string bindings = "30 0D 06 08 2B 06 01 02 01 01 03 00 43 01 64 " + std::string(b2) +
                          trapOidHex;
   size_t blen = Hex(bindings).size();
   char h[64];
   snprintf(h, sizeof(h), "30 %02X ", (unsigned)blen);
   std::string pdu = "02 01 07 02 01 00 02 01 00 " + std::string(h) + bindings;
   size_t plen = Hex(pdu).size();
   char m[64];
   snprintf(m, sizeof(m), "30 %02X 02 01 01 04 00 %s %02X ", (unsigned)(plen + 7), tag,
            (unsigned)plen);
   return std::string(m) + pdu;
}

TEST(PduParse, V2TrapNormalisation)
{
   struct Case
   {
      const char *oidHex;
      const char *trapId;
      int type, specific;
   };
   const Case cases[] = {
      {"2B 06 01 06 03 01 01 05 03", ".1.3.6.1.6.3.1.1.5.3", 2, 0},
      {"2B 06 01 06 03 01 01 05 04", ".1.3.6.1.6.3.1.1.5.4", 3, 0},
      {"2B 06 01 04 01 BF 08 02 03 00 05", ".1.3.6.1.4.1.8072.2.3.0.5", 6, 5},
      {"2B 06 01 06 03 01 01 05", ".1.3.6.1.6.3.1.1.5", 6, 5},
      {"2B 06 01 06 03 01 01 05 01 02", ".1.3.6.1.6.3.1.1.5.1.2", 6, 2},
   };
   // An InformRequest (A6) carries its notification as an SNMPv2 trap does, and
   // is normalised the same way: only the command tells them apart.
   for (const char *tag : {"A7", "A6"})
   {
      SCOPED_TRACE(tag);
      uint32_t command = !strcmp(tag, "A6") ? SNMP_CMD_INFORM_REQUEST : SNMP_CMD_TRAP;
      for (const Case &c : cases)
      {
         SCOPED_TRACE(c.trapId);
         auto pdu = ParsePdu(V2Trap(c.oidHex, "06", tag));
         EXPECT_EQ(pdu->GetCommand(), command);
         ASSERT_NE(pdu->GetTrapId(), nullptr);
         EXPECT_STREQ(pdu->GetTrapId()->GetValueAsText(), c.trapId);
         EXPECT_EQ(pdu->GetTrapType(), c.type);
         EXPECT_EQ(pdu->GetSpecificTrapType(), c.specific);
         EXPECT_EQ(pdu->GetRequestId(), 7u);
      }
      ParsePdu(V2Trap("", "06", tag), 0);    // empty trap identifier
      ParsePdu(V2Trap("05", "02", tag), 0);  // second binding is an INTEGER
      // only one binding
      ParsePdu(std::string("30 24 02 01 01 04 00 ") + tag +
                   " 1D 02 01 07 02 01 00 02 01 00 30 12 30 10 06 0A 2B 06 01 06 03 01 01 04 01 "
                   "00 06 02 2B 06",
               0);
      // no bindings at all
      ParsePdu(std::string("30 12 02 01 01 04 00 ") + tag + " 0B 02 01 07 02 01 00 02 01 00 30 00",
               0);
   }
}

TEST(PduEncode, GetRequest)
{
   SNMP_PDU pdu(SNMP_CMD_GET_REQUEST, "", 1, SNMP_VERSION_2C);
   EXPECT_EQ(EncodeHex(&pdu), "30 12 02 01 01 04 00 A0 0B 02 01 01 02 01 00 02 01 00 30 00");
   pdu.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.1.0"));
   uint8_t *buf = nullptr;
   uint32_t n = pdu.Encode(&buf);
   EXPECT_EQ(n, 34u);
   EXPECT_EQ(ToHex(buf, n), "30 20 02 01 01 04 00 A0 19 02 01 01 02 01 00 02 01 00 30 0E 30 0C "
                            "06 08 2B 06 01 02 01 01 01 00 05 00");
   uint8_t *buf2 = nullptr;
   EXPECT_EQ(pdu.Encode(&buf2), 34u);
   EXPECT_NE(buf, buf2);
   EXPECT_EQ(memcmp(buf, buf2, 34), 0);
   free(buf);
   free(buf2);
}

TEST(PduEncode, NullBindingIsIgnored)
{
   SNMP_PDU pdu(SNMP_CMD_GET_REQUEST, "", 1, SNMP_VERSION_2C);
   pdu.BindVariable(nullptr);
   pdu.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.1.0"));
   pdu.BindVariable(nullptr);
   EXPECT_EQ(pdu.GetNumVariables(), 1u);
   EXPECT_EQ(EncodeHex(&pdu), "30 20 02 01 01 04 00 A0 19 02 01 01 02 01 00 02 01 00 30 0E 30 0C "
                              "06 08 2B 06 01 02 01 01 01 00 05 00");
}

TEST(PduEncode, RequestIdsAsSignedIntegers)
{
   SNMP_PDU a(SNMP_CMD_GET_REQUEST, "", 4294967295u, SNMP_VERSION_1);
   EXPECT_NE(EncodeHex(&a).find("A0 0B 02 01 FF"), std::string::npos);
   SNMP_PDU b(SNMP_CMD_GET_REQUEST, "", 128, SNMP_VERSION_1);
   EXPECT_NE(EncodeHex(&b).find("A0 0C 02 02 00 80"), std::string::npos);
   std::vector<uint8_t> bytes = Hex(EncodeHex(&a));
   SNMP_PDU back;
   ASSERT_EQ(back.Parse(bytes.data(), (uint32_t)bytes.size()), 1);
   EXPECT_EQ(back.GetRequestId(), 4294967295u);
   SNMP_PDU c(SNMP_CMD_GET_REQUEST, "", 1, 5);
   EXPECT_EQ(EncodeHex(&c).substr(0, 14), "30 12 02 01 05");
}

TEST(PduEncode, Unencodable)
{
   struct Case
   {
      uint32_t command, version;
   };
   const Case cases[] = {{SNMP_CMD_INVALID, 1}, {SNMP_CMD_TRAP, 2}, {SNMP_CMD_TRAP, 0}};
   for (const Case &c : cases)
   {
      SNMP_PDU pdu(c.command, "public", 1, c.version);
      uint8_t *slot = (uint8_t *)&pdu;  // any marker value
      EXPECT_EQ(pdu.Encode(&slot), 0u);
      EXPECT_EQ(slot, (uint8_t *)&pdu);  // slot untouched
   }
   SNMP_PDU empty;  // no community
   uint8_t *slot = nullptr;
   EXPECT_EQ(empty.Encode(&slot), 0u);
   EXPECT_EQ(slot, nullptr);
   SNMP_PDU nullCommunity(SNMP_CMD_GET_REQUEST, nullptr, 1, 1);
   EXPECT_STREQ(nullCommunity.GetCommunity(), "(null)");
}

TEST(PduEncode, UnwritableOidFailsTheMessage)
{
   // 1.40 has no BER form that reads back as 1.40: the message is not sent
   // with a binding that would name another object.
   SNMP_PDU pdu(SNMP_CMD_GET_REQUEST, "public", 1, SNMP_VERSION_2C);
   pdu.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.5.0"));
   pdu.BindVariable(new SNMP_Variable(".1.40.1"));
   uint8_t *slot = nullptr;
   EXPECT_EQ(pdu.Encode(&slot), 0u);
   EXPECT_EQ(slot, nullptr);
   // Under the first arc 2 every second arc is written.
   SNMP_PDU ok(SNMP_CMD_GET_REQUEST, "", 1, SNMP_VERSION_2C);
   ok.BindVariable(new SNMP_Variable(".2.999.1"));
   std::string hex = EncodeHex(&ok);
   EXPECT_EQ(hex, "30 1B 02 01 01 04 00 A0 14 02 01 01 02 01 00 02 01 00 30 09 30 07 06 03 88 37 01 "
                  "05 00");
   auto back = ParsePdu(hex);
   EXPECT_STREQ(back->GetVariable(0)->GetName()->GetValueAsText(), ".2.999.1");
}

TEST(PduEncode, V1TrapReencodesNormalised)
{
   auto pdu = ParsePdu("30 1B 02 01 00 04 00 A4 14 06 01 2B 40 04 0A 00 00 01 02 01 03 02 01 00 43 "
                       "01 64 30 00");
   std::string out = EncodeHex(pdu.get());
   EXPECT_EQ(out, "30 23 02 01 00 04 00 A4 1C 06 09 2B 06 01 06 03 01 01 05 04 40 04 0A 00 00 01 "
                  "02 01 03 02 01 00 43 01 64 30 00");
   auto again = ParsePdu(out);
   EXPECT_STREQ(again->GetTrapId()->GetValueAsText(), ".1.3.6.1.6.3.1.1.5.4");
   EXPECT_EQ(again->GetTrapType(), 3);
   EXPECT_EQ(EncodeHex(again.get()), out);
}

TEST(PduEncode, V2TrapInV1MessageUsesV1Layout)
{
   std::string hex = V2Trap("2B 06 01 06 03 01 01 05 04");
   hex.replace(hex.find("02 01 01 04 00 A7"), 17, "02 01 00 04 00 A7");
   auto pdu = ParsePdu(hex);
   EXPECT_EQ(pdu->GetVersion(), 0u);
   std::string out = EncodeHex(pdu.get());
   EXPECT_NE(out.find("A4"), std::string::npos);
   EXPECT_NE(out.find("40 04 00 00 00 00"), std::string::npos);
}

// Names with many sub-identifiers of 2^28 and more: no binding is ever left out.
TEST(PduEncode, ThousandBindingsWithFiveOctetSubIds)
{
   SNMP_PDU pdu(SNMP_CMD_SET_REQUEST, "private", 77, SNMP_VERSION_2C);
   for (uint32_t i = 0; i < 1000; i++)
   {
      std::vector<uint32_t> ids = {1, 3, 6, 1, 4, 1};
      for (int j = 0; j < 20; j++)
         ids.push_back(0xF0000000u + i + j);
      SNMP_Variable *v = new SNMP_Variable(ids.data(), (uint32_t)ids.size());
      v->SetValueFromString(ASN_TYPE_GAUGE32, std::to_string(i).c_str());
      pdu.BindVariable(v);
   }
   uint8_t *buf = nullptr;
   uint32_t n = pdu.Encode(&buf);
   ASSERT_GT(n, 0u);
   SNMP_PDU back;
   ASSERT_EQ(back.Parse(buf, n), 1);
   free(buf);
   ASSERT_EQ(back.GetNumVariables(), 1000u);
   for (uint32_t i = 0; i < 1000; i++)
   {
      SNMP_Variable *v = back.GetVariable(i);
      ASSERT_EQ(v->GetName()->Length(), 26u);
      EXPECT_EQ(v->GetName()->GetValue()[25], 0xF0000000u + i + 19);
      EXPECT_EQ(v->GetValueAsUInt(), i);
   }
}

// GETBULK requests as snmpbulkget sent them (captured on loopback):
// -Cn1 -Cr10 .1.3.6.1.2.1.1.1 .1.3.6.1.2.1.2.2.1.2, and -Cn0 -Cr0 .1.3.6.1.2.1.1.
TEST(PduGetBulk, EncodesAndParsesAsSnmpbulkget)
{
   struct Case
   {
      uint32_t requestId, nonRepeaters, maxRepetitions;
      std::vector<const char *> names;
      const char *hex;
   };
   const Case cases[] = {
      {0x6887D17A, 1, 10, {".1.3.6.1.2.1.1.1", ".1.3.6.1.2.1.2.2.1.2"},
       "30 37 02 01 01 04 06 70 75 62 6C 69 63 A5 2A 02 04 68 87 D1 7A 02 01 01 02 01 0A 30 1C "
       "30 0B 06 07 2B 06 01 02 01 01 01 05 00 30 0D 06 09 2B 06 01 02 01 02 02 01 02 05 00"},
      {0x171E44CD, 0, 0, {".1.3.6.1.2.1.1"},
       "30 27 02 01 01 04 06 70 75 62 6C 69 63 A5 1A 02 04 17 1E 44 CD 02 01 00 02 01 00 30 0C "
       "30 0A 06 06 2B 06 01 02 01 01 05 00"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.hex);
      SNMP_PDU pdu(SNMP_CMD_GET_BULK_REQUEST, "public", c.requestId, SNMP_VERSION_2C,
                   c.nonRepeaters, c.maxRepetitions);
      for (const char *name : c.names)
         pdu.BindVariable(new SNMP_Variable(name));
      EXPECT_EQ(EncodeHex(&pdu), c.hex);

      auto parsed = ParsePdu(c.hex);
      EXPECT_EQ(parsed->GetCommand(), (uint32_t)SNMP_CMD_GET_BULK_REQUEST);
      EXPECT_EQ(parsed->GetRequestId(), c.requestId);
      EXPECT_EQ(parsed->GetNonRepeaters(), c.nonRepeaters);
      EXPECT_EQ(parsed->GetMaxRepetitions(), c.maxRepetitions);
      // The same two fields as error-status and error-index.
      EXPECT_EQ(parsed->GetErrorCode(), c.nonRepeaters);
      EXPECT_EQ(parsed->GetErrorIndex(), c.maxRepetitions);
      ASSERT_EQ(parsed->GetNumVariables(), c.names.size());
      EXPECT_EQ(EncodeHex(parsed.get()), c.hex);
   }
   SNMP_PDU set(SNMP_CMD_GET_BULK_REQUEST, "", 1, SNMP_VERSION_2C);
   set.SetNonRepeaters(3);
   set.SetMaxRepetitions(25);
   EXPECT_EQ(EncodeHex(&set), "30 12 02 01 01 04 00 A5 0B 02 01 01 02 01 03 02 01 19 30 00");
}

TEST(PduGetBulk, BoundsAndVersions)
{
   struct Case
   {
      uint32_t command, version, nonRepeaters, maxRepetitions;
      const char *hex;  // NULL: Encode gives 0
   };
   const Case cases[] = {
      // The RFC 3416 bounds 0..2147483647 go out as positive INTEGERs...
      {SNMP_CMD_GET_BULK_REQUEST, SNMP_VERSION_2C, 0, 0x7FFFFFFF,
       "30 15 02 01 01 04 00 A5 0E 02 01 01 02 01 00 02 04 7F FF FF FF 30 00"},
      // ... and anything larger would be a negative one: refused.
      {SNMP_CMD_GET_BULK_REQUEST, SNMP_VERSION_2C, 0, 0x80000000u, nullptr},
      {SNMP_CMD_GET_BULK_REQUEST, SNMP_VERSION_2C, 0x80000000u, 10, nullptr},
      {SNMP_CMD_GET_BULK_REQUEST, SNMP_VERSION_2C, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr},
      // SNMPv1 has neither GETBULK nor InformRequest.
      {SNMP_CMD_GET_BULK_REQUEST, SNMP_VERSION_1, 0, 10, nullptr},
      {SNMP_CMD_INFORM_REQUEST, SNMP_VERSION_1, 0, 0, nullptr},
      {SNMP_CMD_INFORM_REQUEST, SNMP_VERSION_2C, 0, 0,
       "30 12 02 01 01 04 00 A6 0B 02 01 01 02 01 00 02 01 00 30 00"},
      // Other versions after 2c keep the tag...
      {SNMP_CMD_GET_BULK_REQUEST, 5, 0, 5,
       "30 12 02 01 05 04 00 A5 0B 02 01 01 02 01 00 02 01 05 30 00"},
      // ... but version 3 is SNMPv3, whose messages only a transport with an
      // identity can write: no community message of version 3.
      {SNMP_CMD_GET_BULK_REQUEST, SNMP_VERSION_3, 0, 5, nullptr},
      {SNMP_CMD_GET_REQUEST, SNMP_VERSION_3, 0, 0, nullptr},
      // Other commands keep writing error fields of any value.
      {SNMP_CMD_RESPONSE, SNMP_VERSION_2C, 0xFFFFFFFFu, 0x80000000u,
       "30 15 02 01 01 04 00 A2 0E 02 01 01 02 01 FF 02 04 80 00 00 00 30 00"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(std::to_string(c.command) + "/" + std::to_string(c.version) + "/" +
                   std::to_string(c.nonRepeaters) + "/" + std::to_string(c.maxRepetitions));
      SNMP_PDU pdu(c.command, "", 1, c.version, c.nonRepeaters, c.maxRepetitions);
      uint8_t *out = nullptr;
      uint32_t n = pdu.Encode(&out);
      if (c.hex == nullptr)
      {
         EXPECT_EQ(n, 0u);
         EXPECT_EQ(out, nullptr);
         continue;
      }
      EXPECT_EQ(ToHex(out, n), c.hex);
      free(out);
   }
   // A received GETBULK parses whatever its fields and version; the negative
   // max-repetitions is held as its 32-bit bits, and does not encode again.
   auto negative = ParsePdu("30 12 02 01 01 04 00 A5 0B 02 01 01 02 01 00 02 01 FF 30 00");
   EXPECT_EQ(negative->GetMaxRepetitions(), 0xFFFFFFFFu);
   uint8_t *out = nullptr;
   EXPECT_EQ(negative->Encode(&out), 0u);
   auto v1 = ParsePdu("30 12 02 01 00 04 00 A5 0B 02 01 01 02 01 00 02 01 0A 30 00");
   EXPECT_EQ(v1->GetCommand(), (uint32_t)SNMP_CMD_GET_BULK_REQUEST);
   EXPECT_EQ(v1->Encode(&out), 0u);
}
