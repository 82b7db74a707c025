// SNMPv3 through the library's API against Net-SNMP: DoRequest, SNMP_Walker
// (GETBULK) and SET for every user of tests/snmpd-v3.conf beside snmpget and
// snmpbulkwalk on the same user, the status codes of each failure, the
// exchange driven by hand the way a request engine drives it, and the
// listener taking snmptrap -v3 and snmpinform -v3 at every level.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "peer_util.h"
#include "security/v3_exchange.h"
#include "socket_util.h"
#include "v3_test_util.h"
#include "v3_users.h"

namespace
{
const uint32_t kSysDescr[] = {1, 3, 6, 1, 2, 1, 1, 1, 0};
const uint32_t kSysLocation[] = {1, 3, 6, 1, 2, 1, 1, 6, 0};
const uint32_t kSysOrTable[] = {1, 3, 6, 1, 2, 1, 1, 9};

std::string Formatted(SNMP_Variable *v)
{
   char buf[2048];
   SNMPFormatValue(v, nullptr, buf, sizeof(buf));
   return std::string(v->GetName()->GetValueAsText()) + " = " + buf;
}

class V3ApiTest : public V3AgentSuite
{
protected:
   // A transport to the agent that carries the identity.
   static std::unique_ptr<SNMP_UDPTransport> Connect(SNMP_USMIdentity *id)
   {
      auto t = std::make_unique<SNMP_UDPTransport>();
      EXPECT_EQ(t->ConnectUDPTransport("127.0.0.1", Agent()->Port()), (uint32_t)SNMP_RC_SUCCESS);
      t->SetSecurity(id);
      return t;
   }

   // One binding's request of version 3; the response (or NULL) and the code.
   std::unique_ptr<SNMP_PDU> Request(SNMP_Transport *t, uint32_t command, const uint32_t *oid,
                                     uint32_t length, uint32_t *rc, const char *value = nullptr,
                                     uint32_t timeout = 1000, uint32_t attempts = 2)
   {
      SNMP_PDU req(command, nullptr, ++m_requestId, SNMP_VERSION_3);
      SNMP_Variable *v = new SNMP_Variable(oid, length);
      if (value != nullptr)
         v->SetValueFromString(ASN_TYPE_OCTET_STRING, value);
      req.BindVariable(v);
      SNMP_PDU *resp = nullptr;
      *rc = t->DoRequest(&req, &resp, timeout, attempts);
      EXPECT_EQ(req.GetVersion(), (uint32_t)SNMP_VERSION_3);  // the request is left as it was
      return std::unique_ptr<SNMP_PDU>(resp);
   }

   // Net-SNMP's tool on the same user: its output lines.
   std::vector<std::string> Peer(const std::string &tool, const V3User &u, const std::string &args)
   {
      int status = -1;
      std::string cmd = tool + " -On -r 1 -t 2 " + V3Options(u) + " " + Agent()->Address() + " " + args;
      std::string out = RunPeerCommand(cmd, &status);
      EXPECT_EQ(status, 0) << cmd << ": " << out;
      return PeerLines(out);
   }

   uint32_t m_requestId = 51000;
};
}  // namespace

// GET, a GETBULK walk and SET for every user, each beside Net-SNMP's tool on
// the same user.
TEST_F(V3ApiTest, EveryUserGetsWalksAndSetsLikeNetSnmp)
{
   REQUIRE_PEER(HaveProgram("snmpbulkwalk"), "snmpbulkwalk");
   for (const V3User &u : AllV3Users())
   {
      SCOPED_TRACE(u.name);
      SNMP_USMIdentity id;
      ConfigureV3(&id, u);
      auto t = Connect(&id);

      uint32_t rc;
      auto get = Request(t.get(), SNMP_CMD_GET_REQUEST, kSysDescr, 9, &rc);
      ASSERT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS) << SNMPGetErrorText(rc);
      EXPECT_EQ(get->GetCommand(), (uint32_t)SNMP_CMD_RESPONSE);
      EXPECT_EQ(get->GetVersion(), (uint32_t)SNMP_VERSION_3);
      EXPECT_EQ(get->GetSecurityLevel(), u.level);
      EXPECT_STREQ(get->GetUser(), u.name.c_str());
      EXPECT_STREQ(get->GetCommunity(), "");
      EXPECT_EQ(get->GetRequestId(), m_requestId);
      ASSERT_EQ(get->GetNumVariables(), 1u);
      EXPECT_EQ(std::vector<std::string>{Formatted(get->GetVariable(0))},
                Peer("snmpget", u, ".1.3.6.1.2.1.1.1.0"));
      uint32_t engineLength = 0, learntLength = 0;
      const uint8_t *engine = get->GetEngineId(&engineLength);
      const uint8_t *learnt = id.GetEngineId(&learntLength);
      ASSERT_GE(engineLength, 5u);
      EXPECT_EQ(std::string(engine, engine + engineLength), std::string(learnt, learnt + learntLength));

      // The walk: max-repetitions 4 over sysORTable takes several GETBULKs.
      SNMP_Walker walker(t.get(), SNMP_VERSION_3, nullptr);
      walker.SetMaxRepetitions(4);
      ASSERT_EQ(walker.Start(kSysOrTable, 8), (uint32_t)SNMP_RC_SUCCESS);
      std::vector<std::string> walked;
      SNMP_Variable *v = nullptr;
      while ((rc = walker.Next(&v)) == SNMP_RC_SUCCESS && v != nullptr)
         walked.push_back(Formatted(v));
      ASSERT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS) << SNMPGetErrorText(rc);
      EXPECT_GT(walker.GetRequestCount(), 2u);
      EXPECT_GT(walked.size(), 8u);
      EXPECT_EQ(walked, Peer("snmpbulkwalk -Cr4", u, ".1.3.6.1.2.1.1.9"));

      std::string location = "rack of " + u.name;
      auto set = Request(t.get(), SNMP_CMD_SET_REQUEST, kSysLocation, 9, &rc, location.c_str());
      ASSERT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS) << SNMPGetErrorText(rc);
      EXPECT_EQ(set->GetErrorCode(), 0u);
      EXPECT_EQ(Peer("snmpget", u, ".1.3.6.1.2.1.1.6.0"),
                std::vector<std::string>{".1.3.6.1.2.1.1.6.0 = STRING: \"" + location + "\""});
   }
}

// What the caller sees for each way of getting SNMPv3 wrong.
TEST_F(V3ApiTest, FailuresHaveTheirOwnCodes)
{
   struct Case
   {
      const char *what, *user;
      const char *name;     // another user name with the same methods, or NULL
      int priv;             // another privacy method (index), or -1
      const char *authPass, *privPass;
      uint32_t level;       // 0: the user's own
      uint32_t rc, errorStatus;
   };
   const Case cases[] = {
      {"wrong authentication password", "v3sha256_aes", nullptr, -1, "wrongpass1234", kV3PrivPass,
       0, SNMP_RC_WRONG_DIGEST, 0},
      {"wrong authentication password, authNoPriv", "v3md5", nullptr, -1, "wrongpass1234",
       kV3PrivPass, 0, SNMP_RC_WRONG_DIGEST, 0},
      {"unknown user", "v3sha_aes", "nosuchuser", -1, kV3AuthPass, kV3PrivPass, 0,
       SNMP_RC_UNKNOWN_USER_NAME, 0},
      {"a level the user does not have", "v3sha512", nullptr, 1, kV3AuthPass, kV3PrivPass,
       SNMP_SEC_AUTH_PRIV, SNMP_RC_UNSUPPORTED_SEC_LEVEL, 0},
      // snmpd's access for the user needs privacy: it answers, refusing.
      {"below the level the access needs", "v3sha_aes", nullptr, -1, kV3AuthPass, kV3PrivPass,
       SNMP_SEC_AUTH_NO_PRIV, SNMP_RC_SUCCESS, 16 /* authorizationError */},
      // snmpd cannot read the request and drops it without a Report.
      {"wrong privacy password", "v3sha_aes", nullptr, -1, kV3AuthPass, "wrongpriv5678", 0,
       SNMP_RC_ENCRYPTED_UNANSWERED, 0},
      {"wrong privacy method", "v3sha_aes", nullptr, 0, kV3AuthPass, kV3PrivPass, 0,
       SNMP_RC_ENCRYPTED_UNANSWERED, 0},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      V3User u = FindV3User(c.user);
      if (c.name != nullptr)
         u.name = c.name;
      if (c.priv >= 0)
         u.priv = &V3PrivMethods()[c.priv];
      SNMP_USMIdentity id;
      ConfigureV3(&id, u, c.authPass, c.privPass, c.level);
      auto t = Connect(&id);
      uint32_t rc;
      auto resp = Request(t.get(), SNMP_CMD_GET_REQUEST, kSysDescr, 9, &rc, nullptr, 300, 2);
      EXPECT_EQ(rc, c.rc) << SNMPGetErrorText(rc);
      if (c.rc == SNMP_RC_SUCCESS)
      {
         ASSERT_NE(resp, nullptr);
         EXPECT_EQ(resp->GetErrorCode(), c.errorStatus);
      }
      else
      {
         EXPECT_EQ(resp, nullptr);
      }
      // A walk over the same transport fails the same way.
      SNMP_Walker walker(t.get(), SNMP_VERSION_3, nullptr);
      walker.SetTimeout(300, 1);
      walker.Start(kSysOrTable, 8);
      SNMP_Variable *v = nullptr;
      uint32_t walked = walker.Next(&v);
      EXPECT_EQ(walked, c.rc == SNMP_RC_SUCCESS ? (uint32_t)SNMP_RC_AGENT_ERROR : c.rc);
   }
}

// Version 3 needs an identity; versions 1 and 2c go on without one, or
// past one.
TEST_F(V3ApiTest, VersionsAndIdentity)
{
   SNMP_UDPTransport t;
   ASSERT_EQ(t.ConnectUDPTransport("127.0.0.1", Agent()->Port()), (uint32_t)SNMP_RC_SUCCESS);
   uint32_t rc;
   SNMP_PDU *slot = (SNMP_PDU *)&rc;  // must be emptied
   SNMP_PDU req(SNMP_CMD_GET_REQUEST, nullptr, 5, SNMP_VERSION_3);
   req.BindVariable(new SNMP_Variable(kSysDescr, 9));
   EXPECT_EQ(t.DoRequest(&req, &slot, 300, 1), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   SNMP_USMIdentity id;
   ConfigureV3(&id, FindV3User("v3sha_aes"));
   t.SetSecurity(&id);
   EXPECT_EQ(t.GetSecurity(), &id);
   auto v2 = ExchangeOne(&t, SNMP_CMD_GET_REQUEST, "public", SNMP_VERSION_2C, 6,
                         ".1.3.6.1.2.1.1.1.0", &rc);
   ASSERT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(v2->GetVersion(), (uint32_t)SNMP_VERSION_2C);
   EXPECT_STREQ(v2->GetCommunity(), "public");
   EXPECT_EQ(v2->GetSecurityLevel(), 0u);
   uint32_t length = 1;
   EXPECT_EQ(v2->GetEngineId(&length), nullptr);
   EXPECT_EQ(length, 0u);
   // The identity has learnt nothing from the v2c exchange.
   id.GetEngineId(&length);
   EXPECT_EQ(length, 0u);
   // A second v3 request needs no discovery: one send.
   auto first = Request(&t, SNMP_CMD_GET_REQUEST, kSysDescr, 9, &rc);
   ASSERT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS);
   auto start = std::chrono::steady_clock::now();
   auto second = Request(&t, SNMP_CMD_GET_NEXT_REQUEST, kSysDescr, 9, &rc);
   ASSERT_EQ(rc, (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
   EXPECT_EQ(second->GetMessageId() == first->GetMessageId(), false);
}

// ---- The exchange driven by hand, as a request engine drives it ----

namespace
{
// One request of the driver: its exchange, its agent and its attempts.
struct Outstanding
{
   std::unique_ptr<ZbV3Exchange> exchange;
   size_t agent;
   uint32_t attemptsLeft;
   std::chrono::steady_clock::time_point deadline;
   uint32_t result = 0xFFFFFFFF;
   std::unique_ptr<SNMP_PDU> response;
};
}  // namespace

// Many requests in flight over one unconnected socket, to two agents (two
// engines) with one identity: one ZbUsmPeer per agent, msgIDs chosen by the
// driver and matched by it, responses as SNMP_PDUs.
TEST_F(V3ApiTest, DriverKeepsOnePeerPerAgentOverOneSocket)
{
   SnmpdAgent second;
   ASSERT_TRUE(second.Start(false, std::string(ZBSNMP_SOURCE_DIR) + "/tests/snmpd-v3.conf"));
   std::vector<uint16_t> ports = {Agent()->Port(), second.Port()};
   SNMP_USMIdentity id;
   ConfigureV3(&id, FindV3User("v3sha256_aes"));
   ZbUsmIdentityData *d = ZbUsmAccess::Data(&id);
   std::vector<ZbUsmPeer> peers(2);
   for (ZbUsmPeer &p : peers)
      memset(&p, 0, sizeof(p));

   uint16_t localPort;
   SNMP_SOCKET s = BoundSocket(&localPort);
   std::map<uint32_t, size_t> byMsgId;  // msgID -> request
   uint32_t nextMsgId = 1000;
   std::vector<Outstanding> requests(8);
   auto sendNext = [&](size_t i) {
      const uint8_t *msg;
      uint32_t length;
      uint32_t msgId = nextMsgId++;
      ASSERT_EQ(requests[i].exchange->Next(ZbMonotonicSeconds(), msgId, &msg, &length),
                (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(requests[i].exchange->LastMsgId(), msgId);
      byMsgId[msgId] = i;
      SendTo(s, ports[requests[i].agent], msg, length);
   };
   for (size_t i = 0; i < requests.size(); i++)
   {
      // Every request is encoded as a PDU element and handed to an exchange
      // with its agent's peer. All start before any engine is known.
      SNMP_PDU pdu(SNMP_CMD_GET_REQUEST, nullptr, 700 + (uint32_t)i, SNMP_VERSION_3);
      pdu.BindVariable(new SNMP_Variable(kSysDescr, 9));
      std::vector<uint8_t> element = PduElement(&pdu);
      ASSERT_FALSE(element.empty());
      requests[i].agent = i % 2;
      requests[i].exchange = std::make_unique<ZbV3Exchange>(
          d, &peers[i % 2], element.data(), (uint32_t)element.size(), V3_OUR_MAX_SIZE);
      EXPECT_TRUE(requests[i].exchange->Discovering());
      requests[i].attemptsLeft = 1;
      requests[i].deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      sendNext(i);
   }
   size_t done = 0;
   for (int rounds = 0; done < requests.size() && rounds < 200; rounds++)
   {
      struct pollfd pfd = {s, POLLIN, 0};
      if (poll(&pfd, 1, 100) > 0)
      {
         uint8_t buf[65536];
         struct sockaddr_in from;
         socklen_t fromLen = sizeof(from);
         ssize_t n = recvfrom(s, buf, sizeof(buf), 0, (struct sockaddr *)&from, &fromLen);
         ZbV3Message head;
         if (n > 0 && ZbV3ParseMessage(buf, (uint32_t)n, &head) && byMsgId.count(head.msgId))
         {
            size_t i = byMsgId[head.msgId];
            Outstanding &r = requests[i];
            ASSERT_EQ(ntohs(from.sin_port), ports[r.agent]);  // the agent's answer, not another's
            ASSERT_TRUE(r.exchange->Expects(head.msgId));
            ZbV3Step step = r.exchange->Receive(buf, (uint32_t)n, ZbMonotonicSeconds());
            if (step == V3_STEP_SEND_NEXT)
               sendNext(i);
            else if (step == V3_STEP_DONE && r.result == 0xFFFFFFFF)
            {
               r.result = r.exchange->Result();
               r.response.reset(r.exchange->TakeResponse());
               done++;
            }
         }
      }
      for (size_t i = 0; i < requests.size(); i++)
      {
         Outstanding &r = requests[i];
         if (r.result == 0xFFFFFFFF && std::chrono::steady_clock::now() > r.deadline)
         {
            if (r.attemptsLeft-- == 0)
            {
               r.result = r.exchange->TimeoutResult();
               done++;
               continue;
            }
            r.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            sendNext(i);
         }
      }
   }
   CloseSock(s);
   for (size_t i = 0; i < requests.size(); i++)
   {
      SCOPED_TRACE(i);
      ASSERT_EQ(requests[i].result, (uint32_t)SNMP_RC_SUCCESS) << SNMPGetErrorText(requests[i].result);
      const SNMP_PDU *resp = requests[i].response.get();
      ASSERT_NE(resp, nullptr);
      EXPECT_EQ(resp->GetRequestId(), 700 + (uint32_t)i);
      uint32_t length;
      const uint8_t *engine = resp->GetEngineId(&length);
      const ZbUsmEngine &learnt = peers[requests[i].agent].engine;
      EXPECT_EQ(std::string(engine, engine + length),
                std::string(learnt.id, learnt.id + learnt.idLength));
   }
   // Each peer learnt its own agent's engine and keeps the keys for it;
   // the identity's own peer was never touched.
   EXPECT_GE(peers[0].engine.idLength, 5u);
   EXPECT_FALSE(peers[0].engine.idLength == peers[1].engine.idLength &&
                memcmp(peers[0].engine.id, peers[1].engine.id, peers[0].engine.idLength) == 0);
   for (const ZbUsmPeer &p : peers)
   {
      EXPECT_TRUE(p.engine.synced && p.engine.answered);
      EXPECT_EQ(p.keys.engineIdLength, p.engine.idLength);
      EXPECT_EQ(memcmp(p.keys.engineId, p.engine.id, p.engine.idLength), 0);
   }
   EXPECT_EQ(d->peer.engine.idLength, 0u);
}

// ---- The listener: snmptrap -v3 and snmpinform -v3 ----

namespace
{
// Sender configurations: a level each, and the methods of each cipher.
struct Notifier
{
   const char *user;
   uint32_t level;
};
const Notifier kNotifiers[] = {
   {"v3none", SNMP_SEC_NO_AUTH_NO_PRIV},  {"v3sha256", SNMP_SEC_AUTH_NO_PRIV},
   {"v3md5_des", SNMP_SEC_AUTH_PRIV},     {"v3sha_aes", SNMP_SEC_AUTH_PRIV},
   {"v3sha512_aes256", SNMP_SEC_AUTH_PRIV}, {"v3sha224_aes192c", SNMP_SEC_AUTH_PRIV},
};

std::string EngineHex(const std::vector<uint8_t> &engine)
{
   std::string hex = "0x";
   char b[3];
   for (uint8_t o : engine)
   {
      snprintf(b, sizeof(b), "%02x", o);
      hex += b;
   }
   return hex;
}

// A listener on a loopback socket of its own.
struct V3Listener
{
   V3Listener()
   {
      SNMP_SOCKET s = BoundSocket(&port);
      transport = std::make_unique<SNMP_UDPTransport>(s);
      address = "127.0.0.1:" + std::to_string(port);
   }
   // The next message delivered; NULL after the time-out. dropped: why the
   // last v3 message that was not delivered was dropped.
   std::unique_ptr<SNMP_PDU> Next(uint32_t timeoutMs, struct sockaddr_storage *from, socklen_t *len)
   {
      auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
      while (std::chrono::steady_clock::now() < deadline)
      {
         SNMP_PDU *pdu = nullptr;
         *len = sizeof(*from);
         int n = transport->Read(&pdu, 100, (struct sockaddr *)from, len);
         if (transport->GetSecurityStatus() != SNMP_RC_SUCCESS)
            dropped = transport->GetSecurityStatus();
         if (n > 0 && pdu != nullptr)
            return std::unique_ptr<SNMP_PDU>(pdu);
      }
      return nullptr;
   }
   uint32_t dropped = SNMP_RC_SUCCESS;
   uint16_t port = 0;
   std::unique_ptr<SNMP_UDPTransport> transport;
   std::string address;
};
class V3ListenerTest : public ::testing::Test
{
protected:
   void SetUp() override
   {
      if (!SNMPIsSecurityAvailable())
         GTEST_SKIP() << "built without libcrypto";
      REQUIRE_PEER(HaveProgram("snmptrap") && HaveProgram("snmpinform"), "snmptrap, snmpinform");
   }
   V3Listener l;
};
}  // namespace

TEST_F(V3ListenerTest, SnmptrapV3AtEveryLevel)
{
   std::vector<std::unique_ptr<SNMP_USMIdentity>> ids;
   std::vector<std::vector<uint8_t>> engines;
   for (size_t i = 0; i < sizeof(kNotifiers) / sizeof(kNotifiers[0]); i++)
   {
      // Each sender its own engine; the table holds each user for it.
      std::vector<uint8_t> engine = {0x80, 0x00, 0x1f, 0x88, 0x04, 't', 'r', 'a', 'p', (uint8_t)('0' + i)};
      engines.push_back(engine);
      ids.push_back(std::make_unique<SNMP_USMIdentity>());
      ConfigureV3(ids.back().get(), FindV3User(kNotifiers[i].user));
      ASSERT_EQ(ids.back()->SetEngineId(engine.data(), (uint32_t)engine.size()),
                (uint32_t)SNMP_RC_SUCCESS);
      ASSERT_EQ(l.transport->AddUser(ids.back().get()), (uint32_t)SNMP_RC_SUCCESS);
   }
   EXPECT_EQ(l.transport->AddUser(ids[0].get()), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   for (size_t i = 0; i < sizeof(kNotifiers) / sizeof(kNotifiers[0]); i++)
   {
      const Notifier &n = kNotifiers[i];
      SCOPED_TRACE(n.user);
      int status = -1;
      std::string out = RunPeerCommand("snmptrap " + V3Options(FindV3User(n.user)) + " -e " +
                                           EngineHex(engines[i]) + " " + l.address +
                                           " 4242 .1.3.6.1.6.3.1.1.5.4 .1.3.6.1.2.1.2.2.1.1.3 i 3",
                                       &status);
      ASSERT_EQ(status, 0) << out;
      struct sockaddr_storage from;
      socklen_t len;
      auto trap = l.Next(3000, &from, &len);
      ASSERT_NE(trap, nullptr) << SNMPGetErrorText(l.dropped);
      EXPECT_EQ(l.transport->GetSecurityStatus(), (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(l.dropped, (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(trap->GetVersion(), (uint32_t)SNMP_VERSION_3);
      EXPECT_EQ(trap->GetCommand(), (uint32_t)SNMP_CMD_TRAP);
      EXPECT_STREQ(trap->GetTrapId()->GetValueAsText(), ".1.3.6.1.6.3.1.1.5.4");
      EXPECT_EQ(trap->GetTrapType(), SNMP_TRAP_LINK_UP);
      EXPECT_EQ(trap->GetSecurityLevel(), n.level);
      EXPECT_STREQ(trap->GetUser(), n.user);
      uint32_t length;
      const uint8_t *engine = trap->GetEngineId(&length);
      EXPECT_EQ(std::vector<uint8_t>(engine, engine + length), engines[i]);
      ASSERT_EQ(trap->GetNumVariables(), 3u);
      EXPECT_EQ(trap->GetVariable(2)->GetValueAsInt(), 3);
   }

   // What the table does not hold is dropped, with the reason.
   struct Bad
   {
      const char *what, *options;
      uint32_t status;
   };
   const std::string known = EngineHex(engines[3]);
   const Bad bad[] = {
      {"an engine the user is not kept for",
       "-v3 -u v3sha_aes -l authPriv -a SHA -A authpass1234 -x AES -X privpass5678 -e 0x80001f880401020304",
       SNMP_RC_UNKNOWN_ENGINE_ID},
      {"an unknown user",
       "-v3 -u stranger -l authNoPriv -a SHA -A authpass1234 -e 0x80001f880401020304",
       SNMP_RC_UNKNOWN_USER_NAME},
      {"a wrong password", "-v3 -u v3sha_aes -l authPriv -a SHA -A wrongpass1234 -x AES -X privpass5678 -e ",
       SNMP_RC_WRONG_DIGEST},
      {"below the user's level", "-v3 -u v3sha_aes -l authNoPriv -a SHA -A authpass1234 -e ",
       SNMP_RC_UNSUPPORTED_SEC_LEVEL},
   };
   for (const Bad &b : bad)
   {
      SCOPED_TRACE(b.what);
      std::string options = b.options;
      if (options.back() == ' ')
         options += known;
      int status = -1;
      RunPeerCommand("snmptrap " + options + " " + l.address + " 4242 .1.3.6.1.6.3.1.1.5.4", &status);
      EXPECT_EQ(status, 0);
      struct sockaddr_storage from;
      socklen_t len;
      l.dropped = SNMP_RC_SUCCESS;
      EXPECT_EQ(l.Next(500, &from, &len), nullptr);
      EXPECT_EQ(l.dropped, b.status) << SNMPGetErrorText(l.dropped);
   }
}

// snmpinform -v3 discovers the listener's engine, synchronises its time
// with it, and exits 0 only when the inform is acknowledged.
TEST_F(V3ListenerTest, SnmpinformV3AtEveryLevelIsAcknowledged)
{
   std::vector<std::unique_ptr<SNMP_USMIdentity>> ids;
   for (const Notifier &n : kNotifiers)
   {
      ids.push_back(std::make_unique<SNMP_USMIdentity>());
      ConfigureV3(ids.back().get(), FindV3User(n.user));
      ASSERT_EQ(l.transport->AddUser(ids.back().get()), (uint32_t)SNMP_RC_SUCCESS);
   }
   uint32_t engineLength = 0;
   const uint8_t *engine = l.transport->GetLocalEngineId(&engineLength);
   ASSERT_EQ(engineLength, 13u);
   EXPECT_EQ(std::vector<uint8_t>(engine, engine + 5), (std::vector<uint8_t>{0x80, 0, 0, 0, 5}));
   EXPECT_EQ(l.transport->GetLocalEngineBoots(), 1u);
   for (const Notifier &n : kNotifiers)
   {
      SCOPED_TRACE(n.user);
      int status = -1;
      std::string out;
      std::thread sender([&] {
         out = RunPeerCommand("snmpinform -t 1 -r 2 " + V3Options(FindV3User(n.user)) + " " +
                                  l.address + " 4242 .1.3.6.1.6.3.1.1.5.3 .1.3.6.1.2.1.2.2.1.1.2 i 2",
                              &status);
      });
      struct sockaddr_storage from;
      socklen_t len;
      auto inform = l.Next(5000, &from, &len);
      ASSERT_NE(inform, nullptr) << SNMPGetErrorText(l.dropped);
      EXPECT_EQ(inform->GetCommand(), (uint32_t)SNMP_CMD_INFORM_REQUEST);
      EXPECT_EQ(inform->GetTrapType(), SNMP_TRAP_LINK_DOWN);
      EXPECT_EQ(inform->GetSecurityLevel(), n.level);
      EXPECT_STREQ(inform->GetUser(), n.user);
      uint32_t length;
      const uint8_t *to = inform->GetEngineId(&length);
      EXPECT_EQ(std::vector<uint8_t>(to, to + length), std::vector<uint8_t>(engine, engine + engineLength));
      EXPECT_GT(l.transport->AcknowledgeInform(inform.get(), (struct sockaddr *)&from, len), 0);
      sender.join();
      EXPECT_EQ(status, 0) << out;
   }
   // A v2c inform to the same listener is acknowledged as before.
   int status = -1;
   std::thread sender([&] {
      RunPeerCommand("snmpinform -v2c -c public -t 1 -r 1 " + l.address + " 1 .1.3.6.1.6.3.1.1.5.1",
                     &status);
   });
   struct sockaddr_storage from;
   socklen_t len;
   auto inform = l.Next(5000, &from, &len);
   ASSERT_NE(inform, nullptr);
   EXPECT_EQ(inform->GetVersion(), (uint32_t)SNMP_VERSION_2C);
   EXPECT_GT(l.transport->AcknowledgeInform(inform.get(), (struct sockaddr *)&from, len), 0);
   sender.join();
   EXPECT_EQ(status, 0);
}
