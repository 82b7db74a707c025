// GETBULK walks, informs and IPv6 against Net-SNMP's own agent (snmpd) and
// tools (snmpbulkwalk, snmptrap, snmpinform).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "internal.h"
#include "peer_util.h"
#include "socket_util.h"

namespace
{
std::vector<uint32_t> Oid(const char *text)
{
   uint32_t buf[128];
   uint32_t n = SNMPParseOID(text, buf, 128);
   return std::vector<uint32_t>(buf, buf + n);
}

// Names and raw values of a walk made by SNMP_Walker.
struct Walked
{
   uint32_t rc;
   std::vector<std::string> names;
   uint32_t requests;
};

Walked WalkWith(SNMP_Transport *t, uint32_t version, bool getNext, uint32_t maxRepetitions,
                const char *root)
{
   SNMP_Walker walker(t, version, "public");
   // snmpd may stop answering for a while when it refreshes its process table.
   walker.SetTimeout(3000, 3);
   walker.SetGetNext(getNext);
   EXPECT_EQ(walker.SetMaxRepetitions(maxRepetitions), (uint32_t)SNMP_RC_SUCCESS);
   std::vector<uint32_t> r = Oid(root);
   Walked w;
   w.rc = walker.Start(r.data(), (uint32_t)r.size());
   SNMP_Variable *v;
   while (w.rc == SNMP_RC_SUCCESS && (w.rc = walker.Next(&v)) == SNMP_RC_SUCCESS && v != nullptr)
      w.names.push_back(v->GetName()->GetValueAsText());
   w.requests = walker.GetRequestCount();
   return w;
}

// The OIDs that a Net-SNMP walking tool printed (-On), in order.
std::vector<std::string> PrintedNames(const std::string &output)
{
   std::vector<std::string> names;
   std::istringstream in(output);
   std::string line;
   while (std::getline(in, line))
      if (line.rfind(".", 0) == 0 && line.find("No more variables") == std::string::npos)
         names.push_back(line.substr(0, line.find(' ')));
   return names;
}

class BulkWalkTest : public AgentSuite
{
};

class Ipv6AgentTest : public Ipv6AgentSuite
{
protected:
   void SetUp() override
   {
      Ipv6AgentSuite::SetUp();
      if (IsSkipped() || HasFatalFailure())
         return;
      ASSERT_EQ(transport.ConnectUDPTransport("::1", Agent()->Port()), (uint32_t)SNMP_RC_SUCCESS);
   }
   std::unique_ptr<SNMP_PDU> Exchange(uint32_t command, const char *community, const char *oid,
                                      uint32_t valueType = ASN_TYPE_NULL, const char *value = "")
   {
      uint32_t rc;
      auto resp = ExchangeOne(&transport, command, community, SNMP_VERSION_2C, ++requestId, oid,
                              &rc, valueType, value);
      EXPECT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS);
      return resp;
   }
   SNMP_UDPTransport transport;
   uint32_t requestId = 3000;
};
}  // namespace

// GETBULK and GET-NEXT walks of the same subtrees give the same names as
// snmpbulkwalk, GETBULK with a fraction of the requests.
TEST_F(BulkWalkTest, WalkerMatchesSnmpbulkwalk)
{
   REQUIRE_PEER(HaveProgram("snmpbulkwalk"), "snmpbulkwalk");
   SNMP_UDPTransport t;
   ASSERT_EQ(t.ConnectUDPTransport("127.0.0.1", Agent()->Port()), (uint32_t)SNMP_RC_SUCCESS);
   for (const char *root : {".1.3.6.1.2.1.1", ".1.3.6.1.2.1.2", ".1.3.6.1.6.3"})
   {
      SCOPED_TRACE(root);
      std::vector<std::string> theirs = PrintedNames(RunPeerCommand(
          "snmpbulkwalk -v2c -c public -On -Cr10 " + Agent()->Address() + " " + root));
      Walked bulk = WalkWith(&t, SNMP_VERSION_2C, false, 10, root);
      Walked next = WalkWith(&t, SNMP_VERSION_2C, true, 10, root);
      Walked v1 = WalkWith(&t, SNMP_VERSION_1, false, 10, root);
      EXPECT_EQ(bulk.rc, (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(next.rc, (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(v1.rc, (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(bulk.names, theirs);
      EXPECT_EQ(next.names, theirs);
      EXPECT_GT(theirs.size(), 20u);
      // Each GETBULK answers with up to ten names; each GET-NEXT with one.
      EXPECT_EQ(next.requests, theirs.size() + 1);
      EXPECT_LE(bulk.requests, theirs.size() / 10 + 1);
      // SNMPv1 walks with GET-NEXT, and has no Counter64 (the agent skips them).
      EXPECT_EQ(v1.requests, v1.names.size() + 1);
      EXPECT_FALSE(v1.names.empty());
   }
   // A whole-agent walk ends at the agent's endOfMibView (SNMPv2c) or
   // noSuchName (SNMPv1).
   Walked all = WalkWith(&t, SNMP_VERSION_2C, false, 50, ".1");
   EXPECT_EQ(all.rc, (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_GT(all.names.size(), 500u);
   Walked v1all = WalkWith(&t, SNMP_VERSION_1, false, 10, ".1");
   EXPECT_EQ(v1all.rc, (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_GT(v1all.names.size(), 500u);
}

TEST_F(BulkWalkTest, BulkGetBeyondTheEndAndLargeMaxRepetitions)
{
   SNMP_UDPTransport t;
   ASSERT_EQ(t.ConnectUDPTransport("127.0.0.1", Agent()->Port()), (uint32_t)SNMP_RC_SUCCESS);
   // One non-repeater, then 3 repetitions of two columns.
   SNMP_PDU req(SNMP_CMD_GET_BULK_REQUEST, "public", 91, SNMP_VERSION_2C, 1, 3);
   req.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.1"));
   req.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.2.2.1.1"));
   req.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.2.2.1.2"));
   SNMP_PDU *resp = nullptr;
   ASSERT_EQ(t.DoRequest(&req, &resp, 1000, 2), (uint32_t)SNMP_RC_SUCCESS);
   std::unique_ptr<SNMP_PDU> r(resp);
   EXPECT_EQ(r->GetErrorCode(), 0u);
   ASSERT_EQ(r->GetNumVariables(), 7u);
   EXPECT_STREQ(r->GetVariable(0)->GetName()->GetValueAsText(), ".1.3.6.1.2.1.1.1.0");
   EXPECT_STREQ(r->GetVariable(1)->GetName()->GetValueAsText(), ".1.3.6.1.2.1.2.2.1.1.1");
   EXPECT_STREQ(r->GetVariable(2)->GetName()->GetValueAsText(), ".1.3.6.1.2.1.2.2.1.2.1");
   EXPECT_STREQ(r->GetVariable(3)->GetName()->GetValueAsText(), ".1.3.6.1.2.1.2.2.1.1.2");
   // Past the end of the view: endOfMibView for every repetition.
   SNMP_PDU end(SNMP_CMD_GET_BULK_REQUEST, "public", 92, SNMP_VERSION_2C, 0, 4);
   end.BindVariable(new SNMP_Variable(".1.9"));
   ASSERT_EQ(t.DoRequest(&end, &resp, 1000, 2), (uint32_t)SNMP_RC_SUCCESS);
   r.reset(resp);
   ASSERT_GE(r->GetNumVariables(), 1u);
   for (uint32_t i = 0; i < r->GetNumVariables(); i++)
      EXPECT_EQ(r->GetVariable(i)->GetType(), (uint32_t)ASN_TYPE_END_OF_MIB_VIEW);
   // The largest max-repetitions there is: the agent sends what fits.
   Walked big = WalkWith(&t, SNMP_VERSION_2C, false, 0x7FFFFFFF, ".1.3.6.1.2.1.2");
   EXPECT_EQ(big.rc, (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_GT(big.names.size(), 20u);
}

TEST_F(Ipv6AgentTest, GetWalkAndSet)
{
   auto get = Exchange(SNMP_CMD_GET_REQUEST, "public", ".1.3.6.1.2.1.1.5.0");
   ASSERT_NE(get, nullptr);
   ASSERT_EQ(get->GetNumVariables(), 1u);
   EXPECT_EQ(ValueText(get->GetVariable(0)), "zbsnmp-test-agent");

   Walked walk = WalkWith(&transport, SNMP_VERSION_2C, false, 10, ".1.3.6.1.2.1.1");
   EXPECT_EQ(walk.rc, (uint32_t)SNMP_RC_SUCCESS);
   if (HaveProgram("snmpbulkwalk"))
      EXPECT_EQ(walk.names, PrintedNames(RunPeerCommand("snmpbulkwalk -v2c -c public -On " +
                                                        Agent()->Address() + " .1.3.6.1.2.1.1")));
   EXPECT_GT(walk.names.size(), 5u);

   auto set = Exchange(SNMP_CMD_SET_REQUEST, "private", ".1.3.6.1.2.1.1.6.0", ASN_TYPE_OCTET_STRING,
                       "IPv6 rack");
   ASSERT_NE(set, nullptr);
   EXPECT_EQ(set->GetErrorCode(), 0u);
   auto back = Exchange(SNMP_CMD_GET_REQUEST, "public", ".1.3.6.1.2.1.1.6.0");
   ASSERT_NE(back, nullptr);
   EXPECT_EQ(ValueText(back->GetVariable(0)), "IPv6 rack");
}

// ---- Notifications from snmptrap and snmpinform ----

// A listener on a socket of its own (IPv4 or IPv6 loopback).
struct Listener
{
   explicit Listener(bool ipv6)
   {
      SNMP_SOCKET s = ipv6 ? BoundSocket6(&port) : BoundSocket(&port);
      transport = std::make_unique<SNMP_UDPTransport>(s);
      address = (ipv6 ? "udp6:[::1]:" : "127.0.0.1:") + std::to_string(port);
   }
   // The next notification, with its sender; NULL after the time-out.
   std::unique_ptr<SNMP_PDU> Next(uint32_t timeout, struct sockaddr_storage *from, socklen_t *len)
   {
      SNMP_PDU *pdu = nullptr;
      *len = sizeof(*from);
      if (transport->Read(&pdu, timeout, (struct sockaddr *)from, len) <= 0)
         return nullptr;
      return std::unique_ptr<SNMP_PDU>(pdu);
   }
   uint16_t port = 0;
   std::unique_ptr<SNMP_UDPTransport> transport;
   std::string address;
};

TEST(Ipv6TrapListener, SnmptrapV1AndV2c)
{
   REQUIRE_PEER(HaveProgram("snmptrap"), "snmptrap");
   REQUIRE_IPV6_LOOPBACK();
   Listener l(true);
   for (const char *args : {"-v1 -c public %s .1.3.6.1.4.1.8072.3.2.10 10.0.0.1 3 0 12345",
                            "-v2c -c public %s 12345 .1.3.6.1.6.3.1.1.5.4"})
   {
      SCOPED_TRACE(args);
      char cmd[256];
      snprintf(cmd, sizeof(cmd), args, l.address.c_str());
      int status = 0;
      std::string out = RunPeerCommand(std::string("snmptrap ") + cmd, &status);
      EXPECT_EQ(status, 0) << out;
      struct sockaddr_storage from;
      socklen_t len;
      auto trap = l.Next(3000, &from, &len);
      ASSERT_NE(trap, nullptr);
      EXPECT_EQ(trap->GetCommand(), (uint32_t)SNMP_CMD_TRAP);
      EXPECT_STREQ(trap->GetTrapId()->GetValueAsText(), ".1.3.6.1.6.3.1.1.5.4");
      EXPECT_EQ(trap->GetTrapType(), SNMP_TRAP_LINK_UP);
      ASSERT_EQ(from.ss_family, AF_INET6);
      EXPECT_EQ(len, sizeof(struct sockaddr_in6));
      const struct sockaddr_in6 *sa = (const struct sockaddr_in6 *)&from;
      EXPECT_EQ(memcmp(&sa->sin6_addr, &in6addr_loopback, 16), 0);
   }
}

// snmpinform waits for the acknowledgement and exits 0 only when it came.
static void InformAcknowledged(bool ipv6, bool dropFirst)
{
   Listener l(ipv6);
   int status = -1;
   std::string out;
   // -t 0.5 -r 3: a retry half a second after an unanswered inform.
   std::thread sender([&] {
      out = RunPeerCommand("snmpinform -v2c -c public -t 0.5 -r 3 " + l.address +
                               " 12345 .1.3.6.1.6.3.1.1.5.3 .1.3.6.1.2.1.2.2.1.1.2 i 2",
                           &status);
   });
   struct sockaddr_storage from;
   socklen_t len;
   auto inform = l.Next(5000, &from, &len);
   ASSERT_NE(inform, nullptr);
   EXPECT_EQ(inform->GetCommand(), (uint32_t)SNMP_CMD_INFORM_REQUEST);
   EXPECT_STREQ(inform->GetTrapId()->GetValueAsText(), ".1.3.6.1.6.3.1.1.5.3");
   EXPECT_EQ(inform->GetTrapType(), SNMP_TRAP_LINK_DOWN);
   EXPECT_EQ(inform->GetSpecificTrapType(), 0);
   EXPECT_EQ(inform->GetNumVariables(), 3u);
   EXPECT_EQ(from.ss_family, ipv6 ? AF_INET6 : AF_INET);
   if (dropFirst)
   {
      // Unanswered: the retry comes with the same request id, and is answered.
      auto retry = l.Next(5000, &from, &len);
      ASSERT_NE(retry, nullptr);
      EXPECT_EQ(retry->GetCommand(), (uint32_t)SNMP_CMD_INFORM_REQUEST);
      EXPECT_EQ(retry->GetRequestId(), inform->GetRequestId());
      inform = std::move(retry);
   }
   EXPECT_GT(l.transport->AcknowledgeInform(inform.get(), (struct sockaddr *)&from, len), 0);
   sender.join();
   EXPECT_EQ(status, 0) << out;
}

TEST(InformListener, SnmpinformIsAcknowledged)
{
   REQUIRE_PEER(HaveProgram("snmpinform"), "snmpinform");
   for (bool dropFirst : {false, true})
   {
      SCOPED_TRACE(dropFirst ? "retry" : "first");
      InformAcknowledged(false, dropFirst);
   }
}

TEST(InformListener, SnmpinformOverIpv6IsAcknowledged)
{
   REQUIRE_PEER(HaveProgram("snmpinform"), "snmpinform");
   REQUIRE_IPV6_LOOPBACK();
   InformAcknowledged(true, true);
}

TEST(InformListener, UnansweredSnmpinformFails)
{
   REQUIRE_PEER(HaveProgram("snmpinform"), "snmpinform");
   Listener l(false);
   int status = 0;
   RunPeerCommand("snmpinform -v2c -c public -t 0.2 -r 0 " + l.address +
                      " 12345 .1.3.6.1.6.3.1.1.5.3",
                  &status);
   EXPECT_NE(status, 0);  // what makes the exit status 0 above an acknowledgement
}
