// SNMPv3 against Net-SNMP's snmpd: discovery, then GET and SET for every
// authentication and privacy method snmpd accepts, through the v3 message
// functions over a plain UDP socket; values compared with snmpget -v3.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include "peer_util.h"
#include "security/v3_exchange.h"
#include "socket_util.h"
#include "v3_test_util.h"
#include "v3_users.h"

namespace
{
const char kSysDescr[] = ".1.3.6.1.2.1.1.1.0";
const char kSysLocation[] = ".1.3.6.1.2.1.1.6.0";

class V3AgentTest : public V3AgentSuite
{
protected:
   void SetUp() override
   {
      V3AgentSuite::SetUp();
      if (HasFatalFailure() || IsSkipped())
         return;
      m_socket = socket(AF_INET, SOCK_DGRAM, 0);
      struct sockaddr_in sa = {};
      sa.sin_family = AF_INET;
      sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      sa.sin_port = htons(Agent()->Port());
      ASSERT_EQ(connect(m_socket, (struct sockaddr *)&sa, sizeof(sa)), 0);
   }
   void TearDown() override
   {
      if (m_socket >= 0)
         close(m_socket);
   }

   // The exchange as a blocking request would run it: each attempt sends the
   // current message and waits up to the time-out; progress (discovery done,
   // time re-synchronised) sends at once without using up an attempt.
   uint32_t Request(SNMP_USMIdentity *id, SNMP_PDU *request, std::unique_ptr<SNMP_PDU> *response,
                    int *sends = nullptr, uint32_t timeoutMs = 1000, uint32_t attempts = 2)
   {
      std::vector<uint8_t> pdu = PduElement(request);
      ZbV3Exchange exchange(ZbUsmAccess::Data(id), nullptr, pdu.data(), (uint32_t)pdu.size(),
                            65507);
      int sent = 0;
      uint32_t result = SNMP_RC_TIMEOUT;
      for (uint32_t attempt = 0; attempt < attempts; attempt++)
      {
         bool sendNow = true;
         auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
         for (int rounds = 0; rounds < 100; rounds++)
         {
            if (sendNow)
            {
               const uint8_t *msg;
               uint32_t length;
               uint32_t rc = exchange.Next(ZbMonotonicSeconds(), &msg, &length);
               if (rc != SNMP_RC_SUCCESS)
                  return rc;
               EXPECT_EQ(send(m_socket, msg, length, 0), (ssize_t)length);
               sent++;
               sendNow = false;
            }
            int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(
                           deadline - std::chrono::steady_clock::now())
                           .count();
            struct pollfd pfd = {m_socket, POLLIN, 0};
            if (left <= 0 || poll(&pfd, 1, left) <= 0)
               break;
            uint8_t buf[65536];
            ssize_t n = recv(m_socket, buf, sizeof(buf), 0);
            if (n <= 0)
               continue;
            ZbV3Step step = exchange.Receive(buf, (uint32_t)n, ZbMonotonicSeconds());
            if (step == V3_STEP_SEND_NEXT)
               sendNow = true;
            if (step == V3_STEP_DONE)
            {
               if (sends)
                  *sends = sent;
               result = exchange.Result();
               if (result == SNMP_RC_SUCCESS)
                  response->reset(exchange.TakeResponse());
               return result;
            }
         }
      }
      if (sends)
         *sends = sent;
      return result;
   }

   uint32_t Get(SNMP_USMIdentity *id, const char *oid, std::string *value, int *sends = nullptr)
   {
      SNMP_PDU req(SNMP_CMD_GET_REQUEST, "", ++m_requestId, SNMP_VERSION_2C);
      req.BindVariable(new SNMP_Variable(oid));
      std::unique_ptr<SNMP_PDU> resp;
      uint32_t rc = Request(id, &req, &resp, sends);
      if (rc == SNMP_RC_SUCCESS)
      {
         EXPECT_EQ(resp->GetCommand(), (uint32_t)SNMP_CMD_RESPONSE);
         EXPECT_EQ(resp->GetRequestId(), m_requestId);
         if (resp->GetNumVariables() != 1)
            return SNMP_RC_PARSE_ERROR;
         if (resp->GetErrorCode() != 0)
            return 100 + resp->GetErrorCode(); // the agent's error-status, told apart
         char buf[1024];
         *value = resp->GetVariable(0)->GetValueAsString(buf, sizeof(buf));
      }
      return rc;
   }

   // snmpget -v3 on the same user: the value alone.
   std::string PeerGet(const V3User &u, const char *oid)
   {
      std::string cmd = "snmpget -Oqv -r 1 -t 2 " + V3Options(u);
      int status = -1;
      std::string out = RunPeerCommand(cmd + " " + Agent()->Address() + " " + oid, &status);
      EXPECT_EQ(status, 0) << cmd << ": " << out;
      while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
         out.pop_back();
      // The value is the last line (the tools may note their state first).
      size_t eol = out.rfind('\n');
      if (eol != std::string::npos)
         out = out.substr(eol + 1);
      if (out.size() >= 2 && out.front() == '"' && out.back() == '"')
         out = out.substr(1, out.size() - 2);
      return out;
   }

   int m_socket = -1;
   uint32_t m_requestId = 7000;
};
}  // namespace

TEST_F(V3AgentTest, AgentStateIsPrivateToTheRun)
{
   struct stat st;
   ASSERT_EQ(stat(Agent()->Dir().c_str(), &st), 0);
   EXPECT_EQ(st.st_mode & 0777, 0700u) << Agent()->Dir();
   SnmpdAgent other;
   ASSERT_TRUE(other.Start(false, std::string(ZBSNMP_SOURCE_DIR) + "/tests/snmpd-v3.conf"));
   EXPECT_NE(other.Dir(), Agent()->Dir());
   // A second agent is a second engine: its own engine ID.
   SNMP_USMIdentity a("v3none"), b("v3none");
   std::string value;
   ASSERT_EQ(Get(&a, kSysDescr, &value), (uint32_t)SNMP_RC_SUCCESS);
   close(m_socket);
   m_socket = socket(AF_INET, SOCK_DGRAM, 0);
   struct sockaddr_in sa = {};
   sa.sin_family = AF_INET;
   sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
   sa.sin_port = htons(other.Port());
   ASSERT_EQ(connect(m_socket, (struct sockaddr *)&sa, sizeof(sa)), 0);
   ASSERT_EQ(Get(&b, kSysDescr, &value), (uint32_t)SNMP_RC_SUCCESS);
   uint32_t la = 0, lb = 0;
   const uint8_t *ea = a.GetEngineId(&la), *eb = b.GetEngineId(&lb);
   EXPECT_GE(la, 5u);
   EXPECT_FALSE(la == lb && memcmp(ea, eb, la) == 0);
}

TEST_F(V3AgentTest, GetEveryMethodMatchesSnmpget)
{
   REQUIRE_PEER(HaveProgram("snmpget"), "snmpget");
   for (const V3User &u : AllV3Users())
   {
      SCOPED_TRACE(u.name);
      SNMP_USMIdentity id;
      ConfigureV3(&id, u);
      std::string value;
      int sends = 0;
      ASSERT_EQ(Get(&id, kSysDescr, &value, &sends), (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(sends, 2);  // discovery, then the request
      EXPECT_EQ(value, "zbsnmp test agent (loopback only)");
      EXPECT_EQ(value, PeerGet(u, kSysDescr));
      // The engine is known now: the next request goes out alone.
      ASSERT_EQ(Get(&id, kSysDescr, &value, &sends), (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(sends, 1);
      EXPECT_GT(id.GetEngineBoots(), 0u);
   }
}

TEST_F(V3AgentTest, SetAtEveryLevel)
{
   REQUIRE_PEER(HaveProgram("snmpget"), "snmpget");
   // noAuthNoPriv, SHA-512 authNoPriv, and authPriv of each cipher.
   const char *names[] = {"v3none", "v3sha512", "v3md5_des", "v3sha_aes", "v3sha256_aes192",
                          "v3sha384_aes256", "v3md5_aes192c", "v3sha_aes256c"};
   for (const char *name : names)
   {
      SCOPED_TRACE(name);
      V3User u = FindV3User(name);
      SNMP_USMIdentity id;
      ConfigureV3(&id, u);
      std::string location = std::string("rack of ") + name;
      SNMP_PDU set(SNMP_CMD_SET_REQUEST, "", ++m_requestId, SNMP_VERSION_2C);
      SNMP_Variable *v = new SNMP_Variable(kSysLocation);
      v->SetValueFromString(ASN_TYPE_OCTET_STRING, location.c_str());
      set.BindVariable(v);
      std::unique_ptr<SNMP_PDU> resp;
      ASSERT_EQ(Request(&id, &set, &resp), (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(resp->GetErrorCode(), 0u);
      EXPECT_EQ(PeerGet(u, kSysLocation), location);
   }
}

TEST_F(V3AgentTest, FailuresGiveTheirOwnResults)
{
   std::string value;
   {
      SCOPED_TRACE("wrong authentication password");
      SNMP_USMIdentity id;
      ConfigureV3(&id, FindV3User("v3sha256_aes"), "wrongpass1234");
      EXPECT_EQ(Get(&id, kSysDescr, &value), (uint32_t)SNMP_RC_WRONG_DIGEST);
   }
   {
      SCOPED_TRACE("unknown user");
      V3User u = FindV3User("v3sha_aes");
      u.name = "nosuchuser";
      SNMP_USMIdentity id;
      ConfigureV3(&id, u);
      EXPECT_EQ(Get(&id, kSysDescr, &value), (uint32_t)SNMP_RC_UNKNOWN_USER_NAME);
   }
   {
      SCOPED_TRACE("a level the user does not have");
      V3User u = FindV3User("v3md5");
      u.priv = &V3PrivMethods()[1];
      SNMP_USMIdentity id;
      ConfigureV3(&id, u, "authpass1234", "privpass5678", SNMP_SEC_AUTH_PRIV);
      EXPECT_EQ(Get(&id, kSysDescr, &value), (uint32_t)SNMP_RC_UNSUPPORTED_SEC_LEVEL);
   }
   {
      // The user's access needs privacy: the agent answers, with the
      // error-status authorizationError (16).
      SCOPED_TRACE("below the level the access needs");
      SNMP_USMIdentity id;
      ConfigureV3(&id, FindV3User("v3sha_aes"), "authpass1234", "privpass5678", SNMP_SEC_AUTH_NO_PRIV);
      EXPECT_EQ(Get(&id, kSysDescr, &value), 100u + 16);
   }
   {
      // A wrong privacy password leaves snmpd unable to read the request:
      // it drops it without a Report.
      SCOPED_TRACE("wrong privacy password");
      SNMP_USMIdentity id;
      ConfigureV3(&id, FindV3User("v3sha_aes"), "authpass1234", "wrongpriv5678");
      SNMP_PDU req(SNMP_CMD_GET_REQUEST, "", ++m_requestId, SNMP_VERSION_2C);
      req.BindVariable(new SNMP_Variable(kSysDescr));
      std::unique_ptr<SNMP_PDU> resp;
      EXPECT_EQ(Request(&id, &req, &resp, nullptr, 300, 1), (uint32_t)SNMP_RC_TIMEOUT);
   }
}

TEST_F(V3AgentTest, TimeWindowResynchronisesOnce)
{
   SNMP_USMIdentity id;
   ConfigureV3(&id, FindV3User("v3sha256"));
   std::string value;
   ASSERT_EQ(Get(&id, kSysDescr, &value), (uint32_t)SNMP_RC_SUCCESS);
   // What we learnt is from before a restart of the agent: one boot behind.
   // The agent answers notInTimeWindow, authenticated, with its boots and
   // time, which are newer; the request goes out once more and succeeds.
   ZbUsmEngine &engine = ZbUsmAccess::Data(&id)->peer.engine;
   ASSERT_GE(engine.boots, 1u);
   engine.boots -= 1;
   int sends = 0;
   ASSERT_EQ(Get(&id, kSysDescr, &value, &sends), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(sends, 2);
}

TEST_F(V3AgentTest, WrongEngineIdIsDiscoveredAgain)
{
   SNMP_USMIdentity id;
   ConfigureV3(&id, FindV3User("v3md5_des"));
   const uint8_t bogus[] = {0x80, 0x00, 0x1f, 0x88, 0x04, 'n', 'o', 'p', 'e'};
   ASSERT_EQ(id.SetEngineId(bogus, sizeof(bogus)), (uint32_t)SNMP_RC_SUCCESS);
   std::string value;
   int sends = 0;
   ASSERT_EQ(Get(&id, kSysDescr, &value, &sends), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(sends, 3);  // the request, discovery, the request again
   uint32_t length = 0;
   const uint8_t *engine = id.GetEngineId(&length);
   EXPECT_FALSE(length == sizeof(bogus) && memcmp(engine, bogus, length) == 0);
}
