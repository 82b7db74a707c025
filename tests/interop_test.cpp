// Against Net-SNMP's own agent (snmpd) and tools (snmpwalk, snmptrap).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <sstream>
#include <string>

#include "internal.h"
#include "peer_util.h"
#include "socket_util.h"

namespace
{
class AgentTest : public AgentSuite
{
protected:
   void SetUp() override
   {
      AgentSuite::SetUp();
      if (IsSkipped() || HasFatalFailure())
         return;
      ASSERT_EQ(transport.CreateUDPTransport("127.0.0.1", 0, Agent()->Port()),
                (uint32_t)SNMP_RC_SUCCESS);
   }

   // One exchange; the response (owned by the caller) or NULL.
   std::unique_ptr<SNMP_PDU> Exchange(uint32_t command, const char *community, uint32_t version,
                                      const char *oid, uint32_t *rc,
                                      uint32_t valueType = ASN_TYPE_NULL, const char *value = "",
                                      uint32_t attempts = 2)
   {
      return ExchangeOne(&transport, command, community, version, ++requestId, oid, rc, valueType,
                         value, attempts);
   }

   SNMP_UDPTransport transport;
   uint32_t requestId = 1000;
};
}  // namespace

TEST_F(AgentTest, GetSysDescrV1AndV2c)
{
   for (uint32_t version : {SNMP_VERSION_1, SNMP_VERSION_2C})
   {
      SCOPED_TRACE(version);
      uint32_t rc;
      auto resp = Exchange(SNMP_CMD_GET_REQUEST, "public", version, ".1.3.6.1.2.1.1.1.0", &rc);
      ASSERT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(resp->GetCommand(), (uint32_t)SNMP_CMD_RESPONSE);
      EXPECT_EQ(resp->GetVersion(), version);
      ASSERT_EQ(resp->GetNumVariables(), 1u);
      EXPECT_EQ(ValueText(resp->GetVariable(0)), "zbsnmp test agent (loopback only)");
   }
}

TEST_F(AgentTest, WalkMatchesSnmpwalk)
{
   REQUIRE_PEER(HaveProgram("snmpwalk"), "snmpwalk");
   std::string expected = RunPeerCommand("snmpwalk -v2c -c public -On -Oe " +
                                         Agent()->Address() + " .1.3.6.1.2.1.1");
   const uint32_t root[] = {1, 3, 6, 1, 2, 1, 1};
   std::string ours;
   SNMP_ObjectId current(7, root);
   for (int i = 0; i < 1000; i++)
   {
      uint32_t rc;
      auto resp = Exchange(SNMP_CMD_GET_NEXT_REQUEST, "public", SNMP_VERSION_2C,
                           current.GetValueAsText(), &rc);
      ASSERT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS);
      SNMP_Variable *v = resp->GetVariable(0);
      if (v->GetType() == ASN_TYPE_END_OF_MIB_VIEW ||
          v->GetName()->Compare(root, 7) != OID_CMP_LONGER)
         break;
      std::string value = ValueText(v);
      const char *type = "";
      switch (v->GetType())
      {
         case ASN_TYPE_OCTET_STRING: type = "STRING: "; value = "\"" + value + "\""; break;
         case ASN_TYPE_OBJECT_ID: type = "OID: "; break;
         case ASN_TYPE_INTEGER: type = "INTEGER: "; break;
         case ASN_TYPE_TIMETICKS: type = "Timeticks: "; value = "X"; break;
         default: type = "?: "; break;
      }
      ours += std::string(v->GetName()->GetValueAsText()) + " = " + type + value + "\n";
      current.SetValue(v->GetName()->GetValue(), v->GetName()->Length());
   }
   // Timeticks change between the two walks: compare them by presence only.
   std::stringstream in(expected);
   std::string line, theirs;
   while (std::getline(in, line))
   {
      if (line.rfind("Created directory", 0) == 0)
         continue;  // the tool's note about its private state directory
      size_t t = line.find("Timeticks: ");
      if (t != std::string::npos)
         line = line.substr(0, t) + "Timeticks: X";
      theirs += line + "\n";
   }
   EXPECT_EQ(ours, theirs);
   EXPECT_NE(ours.find(".1.3.6.1.2.1.1.5.0 = STRING: \"zbsnmp-test-agent\""), std::string::npos);
}

TEST_F(AgentTest, SetSysLocationTakesEffect)
{
   uint32_t rc;
   auto set = Exchange(SNMP_CMD_SET_REQUEST, "private", SNMP_VERSION_2C, ".1.3.6.1.2.1.1.6.0", &rc,
                       ASN_TYPE_OCTET_STRING, "Rack 42");
   ASSERT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(set->GetErrorCode(), 0u);
   auto get = Exchange(SNMP_CMD_GET_REQUEST, "public", SNMP_VERSION_1, ".1.3.6.1.2.1.1.6.0", &rc);
   ASSERT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(ValueText(get->GetVariable(0)), "Rack 42");
   // The read-only community may not set it.
   auto denied = Exchange(SNMP_CMD_SET_REQUEST, "public", SNMP_VERSION_2C, ".1.3.6.1.2.1.1.6.0",
                          &rc, ASN_TYPE_OCTET_STRING, "x");
   ASSERT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_NE(denied->GetErrorCode(), 0u);
}

TEST_F(AgentTest, WrongCommunityTimesOutAfterAllAttempts)
{
   uint32_t rc;
   auto start = std::chrono::steady_clock::now();
   SNMP_PDU req(SNMP_CMD_GET_REQUEST, "wrong", 7, SNMP_VERSION_2C);
   req.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.1.0"));
   SNMP_PDU *resp = nullptr;
   rc = transport.DoRequest(&req, &resp, 300, 3);
   auto elapsed = std::chrono::steady_clock::now() - start;
   EXPECT_EQ(rc, (uint32_t)SNMP_RC_TIMEOUT);
   EXPECT_EQ(resp, nullptr);
   EXPECT_GE(elapsed, std::chrono::milliseconds(850));  // three waits of 300 ms
}

TEST_F(AgentTest, MissingObject)
{
   uint32_t rc;
   auto v2 = Exchange(SNMP_CMD_GET_REQUEST, "public", SNMP_VERSION_2C, ".1.3.6.1.2.1.1.99.0", &rc);
   ASSERT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS);
   uint32_t type = v2->GetVariable(0)->GetType();
   EXPECT_TRUE(type == ASN_TYPE_NO_SUCH_OBJECT || type == ASN_TYPE_NO_SUCH_INSTANCE) << type;
   auto v1 = Exchange(SNMP_CMD_GET_REQUEST, "public", SNMP_VERSION_1, ".1.3.6.1.2.1.1.99.0", &rc);
   ASSERT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(v1->GetErrorCode(), 2u);  // noSuchName
   EXPECT_EQ(v1->GetErrorIndex(), 1u);
}

// ---- Traps sent by snmptrap to a listener the test binds ----

struct ReceivedTrap
{
   std::unique_ptr<SNMP_PDU> pdu;
   struct sockaddr_in from;
};

static ReceivedTrap SendAndReceive(const std::string &args)
{
   uint16_t port;
   SNMP_SOCKET s = BoundSocket(&port);
   SNMP_UDPTransport listener(s);
   int status = 0;
   std::string out =
       RunPeerCommand("snmptrap -c public " + args.substr(0, args.find(' ')) + " 127.0.0.1:" +
                          std::to_string(port) + args.substr(args.find(' ')),
                      &status);
   EXPECT_EQ(status, 0) << out;
   ReceivedTrap r;
   SNMP_PDU *pdu = nullptr;
   socklen_t len = sizeof(r.from);
   int n = listener.Read(&pdu, 3000, (struct sockaddr *)&r.from, &len);
   EXPECT_GT(n, 0);
   r.pdu.reset(pdu);
   return r;
}

TEST(TrapListener, SnmptrapV1AndV2c)
{
   REQUIRE_PEER(HaveProgram("snmptrap"), "snmptrap");
   struct Case
   {
      const char *args;
      uint32_t version;
      const char *trapId;
      int type, specific;
      uint32_t bindings;
   };
   const Case cases[] = {
      {"-v1 .1.3.6.1.4.1.8072.3.2.10 10.0.0.1 3 0 12345 .1.3.6.1.2.1.2.2.1.1.2 i 2",
       SNMP_VERSION_1, ".1.3.6.1.6.3.1.1.5.4", 3, 0, 1},
      {"-v2c 12345 .1.3.6.1.6.3.1.1.5.4 .1.3.6.1.2.1.2.2.1.1.2 i 2", SNMP_VERSION_2C,
       ".1.3.6.1.6.3.1.1.5.4", 3, 0, 3},
      {"-v1 .1.3.6.1.4.1.8072.2.3 10.0.0.1 6 17 12345 .1.3.6.1.2.1.1.5.0 s peer", SNMP_VERSION_1,
       ".1.3.6.1.4.1.8072.2.3.0.17", 6, 17, 1},
      {"-v1 .1.3.6.1.4.1.8072.3.2.10 10.0.0.1 0 0 12345", SNMP_VERSION_1, ".1.3.6.1.6.3.1.1.5.1", 0,
       0, 0},
      {"-v2c 12345 .1.3.6.1.6.3.1.1.5.1", SNMP_VERSION_2C, ".1.3.6.1.6.3.1.1.5.1", 0, 0, 2},
      {"-v2c 12345 .1.3.6.1.4.1.8072.2.3.0.5 .1.3.6.1.4.1.8072.2.3.2.1 i -5", SNMP_VERSION_2C,
       ".1.3.6.1.4.1.8072.2.3.0.5", 6, 5, 3},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.args);
      ReceivedTrap r = SendAndReceive(c.args);
      ASSERT_NE(r.pdu, nullptr);
      EXPECT_EQ(r.pdu->GetCommand(), (uint32_t)SNMP_CMD_TRAP);
      EXPECT_EQ(r.pdu->GetVersion(), c.version);
      EXPECT_STREQ(r.pdu->GetCommunity(), "public");
      EXPECT_STREQ(r.pdu->GetTrapId()->GetValueAsText(), c.trapId);
      EXPECT_EQ(r.pdu->GetTrapType(), c.type);
      EXPECT_EQ(r.pdu->GetSpecificTrapType(), c.specific);
      EXPECT_EQ(r.pdu->GetNumVariables(), c.bindings);
      EXPECT_EQ(r.from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
      EXPECT_NE(r.from.sin_port, 0);
   }
}
