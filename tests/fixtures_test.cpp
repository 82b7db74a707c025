// Messages captured on the wire from Net-SNMP's tools and agent: each parses
// to the fields that tshark decoded for it, and encodes back to the same fields.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <memory>
#include <regex>
#include <string>

#include "internal.h"
#include "test_util.h"

namespace
{
std::string Match(const std::string &text, const char *pattern)
{
   std::smatch m;
   if (std::regex_search(text, m, std::regex(pattern)))
      return m[1];
   return "";
}

struct Binding
{
   std::string name, type, value;
};

// "1.3.6...=Type[0xNN] value, 1.3...=..." as tshark printed them
std::vector<Binding> ParseBindings(const std::string &tshark)
{
   std::vector<Binding> out;
   size_t start = tshark.find("varbind");
   if (start == std::string::npos)
      return out;
   start = tshark.find(": ", start) + 2;
   size_t end = tshark.find(" | ", start);
   std::string list = tshark.substr(start, end - start);
   std::regex item("(\\d[\\d.]*)=\\w+\\[0x([0-9a-f]{2})\\]( [^]*?)?(?=, \\d[\\d.]*=\\w+\\[0x|$)");
   for (auto it = std::sregex_iterator(list.begin(), list.end(), item);
        it != std::sregex_iterator(); ++it)
   {
      std::string value = (*it)[3].matched ? (*it)[3].str().substr(1) : "";
      out.push_back({"." + (*it)[1].str(), (*it)[2].str(), value});
   }
   return out;
}

// The value as tshark shows it, from our variable.
std::string Shown(SNMP_Variable *v)
{
   char buf[512];
   switch (v->GetType())
   {
      case ASN_TYPE_OCTET_STRING:
      {
         bool printable = true;
         for (uint32_t i = 0; i < v->GetValueLength(); i++)
            if (v->GetValue()[i] < 0x20 || v->GetValue()[i] > 0x7E)
               printable = false;
         if (printable)
            return "\"" + std::string(v->GetValueAsString(buf, sizeof(buf))) + "\"";
         std::string hex = "0x";
         for (uint32_t i = 0; i < v->GetValueLength(); i++)
         {
            char b[3];
            snprintf(b, sizeof(b), "%02x", v->GetValue()[i]);
            hex += b;
         }
         return hex;
      }
      case ASN_TYPE_OBJECT_ID:
         return std::string(v->GetValueAsString(buf, sizeof(buf))).substr(1);
      default:
         return v->GetValueAsString(buf, sizeof(buf));
   }
}

// An SNMPv1 trap that is not one of the six standard ones goes out with its
// normalised identifier as the enterprise: the received enterprise is not
// restored, so its identifier is not compared.
void ExpectSameFields(SNMP_PDU *a, SNMP_PDU *b)
{
   bool v1Enterprise = a->GetVersion() == SNMP_VERSION_1 && a->GetCommand() == SNMP_CMD_TRAP &&
                       (a->GetTrapType() < 0 || a->GetTrapType() > 5);
   EXPECT_EQ(a->GetVersion(), b->GetVersion());
   EXPECT_EQ(a->GetCommand(), b->GetCommand());
   EXPECT_STREQ(a->GetCommunity(), b->GetCommunity());
   EXPECT_EQ(a->GetRequestId(), b->GetRequestId());
   EXPECT_EQ(a->GetErrorCode(), b->GetErrorCode());
   EXPECT_EQ(a->GetErrorIndex(), b->GetErrorIndex());
   EXPECT_EQ(a->GetTrapType(), b->GetTrapType());
   EXPECT_EQ(a->GetSpecificTrapType(), b->GetSpecificTrapType());
   if (a->GetTrapId() != nullptr && !v1Enterprise)
      EXPECT_STREQ(a->GetTrapId()->GetValueAsText(), b->GetTrapId()->GetValueAsText());
   ASSERT_EQ(a->GetNumVariables(), b->GetNumVariables());
   for (uint32_t i = 0; i < a->GetNumVariables(); i++)
   {
      SNMP_Variable *x = a->GetVariable(i), *y = b->GetVariable(i);
      EXPECT_STREQ(x->GetName()->GetValueAsText(), y->GetName()->GetValueAsText());
      EXPECT_EQ(x->GetType(), y->GetType());
      ASSERT_EQ(x->GetValueLength(), y->GetValueLength());
      if (x->GetValueLength() > 0)
         EXPECT_EQ(ToHex(x->GetValue(), x->GetValueLength()),
                   ToHex(y->GetValue(), y->GetValueLength()));
   }
}
}  // namespace

TEST(NetSnmpWire, EveryCapturedMessage)
{
   std::vector<WireMessage> messages = LoadWireMessages();
   ASSERT_GE(messages.size(), 40u);
   for (const WireMessage &m : messages)
   {
      SCOPED_TRACE(m.name);
      const std::vector<uint8_t> &bytes = m.bytes;
      SNMP_PDU pdu;
      int ok = pdu.Parse(bytes.data(), (uint32_t)bytes.size());
      ASSERT_EQ(ok, 1);
      std::string tshark = m.description.substr(m.description.find("tshark: "));
      EXPECT_EQ(std::to_string(pdu.GetVersion()), Match(tshark, "tshark: \\S+ \\((\\d)\\)"));
      EXPECT_EQ(pdu.GetCommunity(), Match(tshark, "community=(\\S*)"));
      std::string reqId = Match(tshark, "request-id=(\\d+)");
      if (!reqId.empty())
      {
         EXPECT_EQ(std::to_string(pdu.GetRequestId()), reqId);
         EXPECT_EQ(std::to_string(pdu.GetErrorCode()), Match(tshark, "error-status=\\w+\\((\\d+)\\)"));
         EXPECT_EQ(std::to_string(pdu.GetErrorIndex()), Match(tshark, "error-index=(\\d+)"));
      }
      std::string generic = Match(tshark, "generic-trap=\\w+\\((\\d+)\\)");
      if (!generic.empty())
      {
         EXPECT_EQ(pdu.GetCommand(), (uint32_t)SNMP_CMD_TRAP);
         int g = atoi(generic.c_str());
         int s = atoi(Match(tshark, "specific-trap=(\\d+)").c_str());
         EXPECT_EQ(pdu.GetTrapType(), g);
         EXPECT_EQ(pdu.GetSpecificTrapType(), s);
         std::string expected = (g < 6) ? ".1.3.6.1.6.3.1.1.5." + std::to_string(g + 1)
                                        : "." + Match(tshark, "enterprise=([\\d.]+)") + ".0." +
                                              std::to_string(s);
         EXPECT_EQ(pdu.GetTrapId()->GetValueAsText(), expected);
      }
      bool inform = tshark.find("informRequest") != std::string::npos;
      if (tshark.find("snmpV2-trap") != std::string::npos || inform)
      {
         EXPECT_EQ(pdu.GetCommand(), inform ? (uint32_t)SNMP_CMD_INFORM_REQUEST : (uint32_t)SNMP_CMD_TRAP);
         char buf[256];
         EXPECT_STREQ(pdu.GetTrapId()->GetValueAsText(),
                      pdu.GetVariable(1)->GetValueAsString(buf, sizeof(buf)));
      }
      std::vector<Binding> bindings = ParseBindings(tshark);
      ASSERT_EQ(pdu.GetNumVariables(), bindings.size());
      for (uint32_t i = 0; i < bindings.size(); i++)
      {
         SNMP_Variable *v = pdu.GetVariable(i);
         EXPECT_EQ(v->GetName()->GetValueAsText(), bindings[i].name);
         EXPECT_EQ(v->GetType(), strtoul(bindings[i].type.c_str(), nullptr, 16));
         if (v->GetType() != ASN_TYPE_NULL && v->GetType() < 0x80)
            EXPECT_EQ(Shown(v), bindings[i].value) << bindings[i].name;
      }

      // Encode and parse again: the same fields come back.
      uint8_t *out = nullptr;
      uint32_t n = pdu.Encode(&out);
      ASSERT_GT(n, 0u);
      SNMP_PDU again;
      ASSERT_EQ(again.Parse(out, n), 1);
      ExpectSameFields(&pdu, &again);
      // Messages that Net-SNMP built minimally come back byte for byte (the v1
      // traps carry a normalised enterprise and are not).
      if (generic.empty())
         EXPECT_EQ(ToHex(out, n), ToHex(bytes));
      free(out);
   }
}

// The Response that acknowledges Net-SNMP's inform is, byte for byte, the one
// snmptrapd sent for it.
TEST(NetSnmpWire, InformAcknowledgementMatchesSnmptrapd)
{
   std::vector<uint8_t> request, response;
   for (const WireMessage &m : LoadWireMessages())
   {
      if (m.name == "v2c_inform.request")
         request = m.bytes;
      if (m.name == "v2c_inform.response")
         response = m.bytes;
   }
   ASSERT_FALSE(request.empty());
   ASSERT_FALSE(response.empty());
   SNMP_PDU inform;
   ASSERT_EQ(inform.Parse(request.data(), (uint32_t)request.size()), 1);
   EXPECT_EQ(inform.GetCommand(), (uint32_t)SNMP_CMD_INFORM_REQUEST);
   EXPECT_STREQ(inform.GetTrapId()->GetValueAsText(), ".1.3.6.1.4.1.8072.2.3.0.5");
   EXPECT_EQ(inform.GetTrapType(), SNMP_TRAP_ENTERPRISE_SPECIFIC);
   EXPECT_EQ(inform.GetSpecificTrapType(), 5);
   uint8_t *out = nullptr;
   uint32_t n = ZbPduAccess::EncodeInformResponse(&inform, &out);
   ASSERT_GT(n, 0u);
   EXPECT_EQ(ToHex(out, n), ToHex(response));
   free(out);
   // Anything but an inform has no acknowledgement.
   SNMP_PDU answer;
   ASSERT_EQ(answer.Parse(response.data(), (uint32_t)response.size()), 1);
   out = nullptr;
   EXPECT_EQ(ZbPduAccess::EncodeInformResponse(&answer, &out), 0u);
   EXPECT_EQ(out, nullptr);
}
