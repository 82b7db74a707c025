// SNMPv3 through the request engine against snmpd: every user of
// tests/snmpd-v3.conf at once over one socket (discovery and keys per agent
// and identity, learnt once), a walk, and the failures' own codes.
#include <gtest/gtest.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "peer_util.h"
#include "socket_util.h"
#include "v3_users.h"

namespace
{

class EngineV3Test : public V3AgentSuite
{
protected:
   socklen_t Address(struct sockaddr_storage *sa)
   {
      memset(sa, 0, sizeof(*sa));
      struct sockaddr_in *in = (struct sockaddr_in *)sa;
      in->sin_family = AF_INET;
      in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      in->sin_port = htons(Agent()->Port());
      return sizeof(*in);
   }
};

struct Answer
{
   uint32_t status = 0xFFFF;
   std::string value;
   uint32_t level = 0;
   int calls = 0;
};

void Answered(uint32_t status, SNMP_PDU *response, void *context)
{
   Answer *a = (Answer *)context;
   a->status = status;
   a->calls++;
   if (response != nullptr)
   {
      char text[256];
      SNMP_Variable *v = response->GetVariable(0);
      a->value = (v != nullptr) ? v->GetValueAsString(text, sizeof(text)) : "";
      a->level = response->GetSecurityLevel();
      delete response;
   }
}

SNMP_PDU *GetSysDescr()
{
   SNMP_PDU *pdu = new SNMP_PDU(SNMP_CMD_GET_REQUEST, nullptr, 0, SNMP_VERSION_3);
   pdu->BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.1.0"));
   return pdu;
}

}  // namespace

// Two GETs for every user, all submitted before any engine is known: each
// user's identity gets the agent's engine once, and every answer is right.
TEST_F(EngineV3Test, EveryUserAtOnce)
{
   std::vector<V3User> users = AllV3Users();
   std::vector<std::unique_ptr<SNMP_USMIdentity>> ids;
   std::vector<Answer> answers(users.size() * 2);
   SNMP_RequestEngine engine;
   struct sockaddr_storage sa;
   socklen_t len = Address(&sa);
   for (size_t i = 0; i < users.size(); i++)
   {
      ids.emplace_back(new SNMP_USMIdentity());
      ConfigureV3(ids.back().get(), users[i]);
      engine.SetSecurity(ids.back().get());
      for (int k = 0; k < 2; k++)
         ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS,
                   engine.Submit((struct sockaddr *)&sa, len, GetSysDescr(), 2000, 2, 0, Answered,
                                 &answers[i * 2 + k]));
   }
   engine.SetSecurity(nullptr);
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(60000));
   for (size_t i = 0; i < answers.size(); i++)
   {
      SCOPED_TRACE(users[i / 2].name);
      EXPECT_EQ(1, answers[i].calls);
      EXPECT_EQ((uint32_t)SNMP_RC_SUCCESS, answers[i].status) << SNMPGetErrorText(answers[i].status);
      EXPECT_EQ("zbsnmp test agent (loopback only)", answers[i].value);
      EXPECT_EQ(users[i / 2].level, answers[i].level);
   }
   // Once the engine is known, a request needs no discovery: one more GET
   // of the first authPriv user is answered in its first exchange.
   engine.SetSecurity(ids[2].get());
   Answer again;
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS,
             engine.Submit((struct sockaddr *)&sa, len, GetSysDescr(), 2000, 1, 0, Answered, &again));
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(10000));
   EXPECT_EQ((uint32_t)SNMP_RC_SUCCESS, again.status);
}

namespace
{
struct WalkNames
{
   std::vector<std::string> names;
   uint32_t status = 0xFFFF;
};
bool OnBinding(SNMP_Variable *v, void *context)
{
   ((WalkNames *)context)->names.push_back(v->GetName()->GetValueAsText());
   return true;
}
void OnDone(uint32_t status, uint32_t, void *context)
{
   ((WalkNames *)context)->status = status;
}
}  // namespace

// A GETBULK walk of the system group through the engine over SNMPv3 gives
// the names a walk with SNMP_Walker over DoRequest gives.
TEST_F(EngineV3Test, WalkAsTheWalkerWalks)
{
   SNMP_USMIdentity id;
   ConfigureV3(&id, FindV3User("v3sha512_aes256"));
   static const uint32_t system[] = {1, 3, 6, 1, 2, 1, 1};
   std::vector<std::string> expected;
   {
      SNMP_UDPTransport t;
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, t.CreateUDPTransport("127.0.0.1", 0, Agent()->Port()));
      t.SetSecurity(&id);
      SNMP_Walker walker(&t, SNMP_VERSION_3, nullptr);
      walker.SetMaxRepetitions(7);
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, walker.Start(system, 7));
      SNMP_Variable *v = nullptr;
      while (walker.Next(&v) == SNMP_RC_SUCCESS && v != nullptr)
         expected.push_back(v->GetName()->GetValueAsText());
   }
   ASSERT_GT(expected.size(), 5u);
   SNMP_USMIdentity fresh;   // another identity: its own discovery in the engine
   ConfigureV3(&fresh, FindV3User("v3sha512_aes256"));
   SNMP_RequestEngine engine;
   engine.SetSecurity(&fresh);
   struct sockaddr_storage sa;
   socklen_t len = Address(&sa);
   WalkNames walk;
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS,
             engine.SubmitWalk((struct sockaddr *)&sa, len, SNMP_VERSION_3, nullptr, system, 7, 7,
                               2000, 2, 0, OnBinding, OnDone, &walk));
   engine.SetSecurity(nullptr);   // the walk keeps the identity it was submitted with
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(20000));
   EXPECT_EQ((uint32_t)SNMP_RC_SUCCESS, walk.status);
   EXPECT_EQ(expected, walk.names);
}

TEST_F(EngineV3Test, FailuresGiveTheirOwnCodes)
{
   struct Case
   {
      const char *what, *user, *name, *authPass, *privPass;
      uint32_t rc;
   } cases[] = {
      {"wrong authentication password", "v3sha256_aes", nullptr, "wrongpass1234", kV3PrivPass,
       SNMP_RC_WRONG_DIGEST},
      {"unknown user", "v3sha_aes", "nosuchuser", kV3AuthPass, kV3PrivPass, SNMP_RC_UNKNOWN_USER_NAME},
      {"wrong privacy password", "v3sha_aes", nullptr, kV3AuthPass, "wrongpriv5678",
       SNMP_RC_ENCRYPTED_UNANSWERED},
   };
   SNMP_RequestEngine engine;
   struct sockaddr_storage sa;
   socklen_t len = Address(&sa);
   std::vector<std::unique_ptr<SNMP_USMIdentity>> ids;
   std::vector<Answer> answers(sizeof(cases) / sizeof(cases[0]));
   for (size_t i = 0; i < answers.size(); i++)
   {
      V3User u = FindV3User(cases[i].user);
      if (cases[i].name != nullptr)
         u.name = cases[i].name;
      ids.emplace_back(new SNMP_USMIdentity());
      ConfigureV3(ids.back().get(), u, cases[i].authPass, cases[i].privPass);
      engine.SetSecurity(ids.back().get());
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS,
                engine.Submit((struct sockaddr *)&sa, len, GetSysDescr(), 500, 2, 0, Answered, &answers[i]));
   }
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(20000));
   for (size_t i = 0; i < answers.size(); i++)
   {
      SCOPED_TRACE(cases[i].what);
      EXPECT_EQ(1, answers[i].calls);
      EXPECT_EQ(cases[i].rc, answers[i].status) << SNMPGetErrorText(answers[i].status);
   }
   // Without an identity a version-3 request is refused, its callback never called.
   engine.SetSecurity(nullptr);
   Answer none;
   EXPECT_EQ((uint32_t)SNMP_RC_BAD_PARAMETERS,
             engine.Submit((struct sockaddr *)&sa, len, GetSysDescr(), 500, 1, 0, Answered, &none));
   EXPECT_EQ(0, none.calls);
}
