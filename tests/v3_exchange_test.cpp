// ZbV3Exchange against a scripted agent built from the same message
// functions: discovery, one re-synchronisation, one re-discovery, late
// answers, and what is dropped.
#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <vector>

#include "security/v3_exchange.h"
#include "test_util.h"
#include "v3_test_util.h"

namespace
{
const char kAuthPass[] = "authpass1234", kPrivPass[] = "privpass5678";

// A PDU element from a PDU made by the v2c encoder, its tag replaced.
std::vector<uint8_t> Element(uint32_t command, uint32_t requestId, const char *oid,
                             uint32_t type, const char *value, uint8_t tag = 0)
{
   SNMP_PDU pdu(command, "", requestId, SNMP_VERSION_2C);
   SNMP_Variable *v = new SNMP_Variable(oid);
   v->SetValueFromString(type, value);
   pdu.BindVariable(v);
   std::vector<uint8_t> e = PduElement(&pdu);
   if (tag != 0)
      e[0] = tag;
   return e;
}

// An authoritative engine that answers the way an agent does.
struct FakeAgent
{
   std::vector<uint8_t> engine = Hex("80 00 1f 88 80 01 02 03 04");
   uint32_t boots = 4, time = 500;
   bool alwaysLate = false;     // every authenticated request is outside its window
   bool newEngineEachTime = false;
   SNMP_USMIdentity user;
   uint64_t salt = 99;

   FakeAgent(uint32_t level)
   {
      user.SetUser("zbuser");
      user.SetAuthPassword(SNMP_AUTH_SHA256, kAuthPass);
      user.SetPrivPassword(SNMP_PRIV_AES128, kPrivPass);
      user.SetSecurityLevel(level);
   }

   std::vector<uint8_t> Reply(const ZbV3Message &m, uint32_t level, const std::vector<uint8_t> &pdu)
   {
      const ZbUsmLocalKeys *keys =
          ZbUsmKeysFor(ZbUsmAccess::Data(&user), nullptr, engine.data(), (uint32_t)engine.size());
      ZbV3Outgoing o;
      memset(&o, 0, sizeof(o));
      o.msgId = m.msgId;
      o.maxSize = 65507;
      o.security = {level, m.user, m.userLength, SNMP_AUTH_SHA256, keys->auth, SNMP_PRIV_AES128,
                    keys->priv, engine.data(), (uint32_t)engine.size(), boots, time, salt++};
      return EncodeV3(o, pdu, engine);
   }

   std::vector<uint8_t> Answer(const uint8_t *request, uint32_t length)
   {
      ZbV3Message m;
      if (!ZbV3ParseMessage(request, length, &m))
         return {};
      bool known = m.engineIdLength == engine.size() &&
                   memcmp(m.engineId, engine.data(), engine.size()) == 0;
      if (!known)
      {
         std::vector<uint8_t> report =
             Reply(m, SNMP_SEC_NO_AUTH_NO_PRIV,
                   Element(SNMP_CMD_RESPONSE, 0, ".1.3.6.1.6.3.15.1.1.4.0", ASN_TYPE_COUNTER32,
                           "1", ASN_PDU_REPORT));
         if (newEngineEachTime)
            engine.back()++;
         return report;
      }
      bool auth = (m.flags & V3_FLAG_AUTH) != 0;
      if (auth && (alwaysLate || m.time > time + 150 || m.time + 150 < time))
         return Reply(m, SNMP_SEC_AUTH_NO_PRIV,
                      Element(SNMP_CMD_RESPONSE, 0, ".1.3.6.1.6.3.15.1.1.2.0", ASN_TYPE_COUNTER32,
                              "1", ASN_PDU_REPORT));
      // The request itself: answer its request-id.
      const ZbUsmLocalKeys *keys =
          ZbUsmKeysFor(ZbUsmAccess::Data(&user), nullptr, engine.data(), (uint32_t)engine.size());
      uint8_t *plain = nullptr;
      uint32_t plainLength = 0;
      const uint8_t *scoped = m.scoped;
      uint32_t scopedLength = m.scopedLength;
      uint32_t level = auth ? SNMP_SEC_AUTH_NO_PRIV : SNMP_SEC_NO_AUTH_NO_PRIV;
      if (m.flags & V3_FLAG_PRIV)
      {
         if (ZbV3Decrypt(&m, SNMP_PRIV_AES128, keys->priv, &plain, &plainLength) != SNMP_RC_SUCCESS)
            return {};
         scoped = plain;
         scopedLength = plainLength;
         level = SNMP_SEC_AUTH_PRIV;
      }
      ZbV3Scoped s;
      EXPECT_EQ(ZbV3ParseScoped(scoped, scopedLength, &s), 1);
      auto req = ParsePduElement(s.pdu, s.pduLength);
      ZbV3FreePlain(plain, plainLength);
      return Reply(m, level, Element(SNMP_CMD_RESPONSE, req->GetRequestId(), ".1.3.6.1.2.1.1.1.0",
                                     ASN_TYPE_OCTET_STRING, "fake agent"));
   }
};

struct Client
{
   SNMP_USMIdentity id;
   std::vector<uint8_t> pdu = Element(SNMP_CMD_GET_REQUEST, 31337, ".1.3.6.1.2.1.1.1.0",
                                      ASN_TYPE_NULL, "");
   std::unique_ptr<ZbV3Exchange> exchange;
   std::vector<uint8_t> last;

   Client(uint32_t level)
   {
      id.SetUser("zbuser");
      id.SetAuthPassword(SNMP_AUTH_SHA256, kAuthPass);
      id.SetPrivPassword(SNMP_PRIV_AES128, kPrivPass);
      id.SetSecurityLevel(level);
      exchange.reset(new ZbV3Exchange(ZbUsmAccess::Data(&id), nullptr, pdu.data(),
                                      (uint32_t)pdu.size(), 65507));
   }
   const std::vector<uint8_t> &Send()
   {
      const uint8_t *msg;
      uint32_t n;
      EXPECT_EQ(exchange->Next(1000, &msg, &n), (uint32_t)SNMP_RC_SUCCESS);
      last.assign(msg, msg + n);
      return last;
   }
   ZbV3Step Take(const std::vector<uint8_t> &answer)
   {
      return exchange->Receive(answer.data(), (uint32_t)answer.size(), 1000);
   }
   // Sends, lets the agent answer, takes the answer; repeats while the
   // exchange asks to send again (at most ten times).
   ZbV3Step Run(FakeAgent &agent, int *sends)
   {
      ZbV3Step step = V3_STEP_SEND_NEXT;
      for (*sends = 0; step == V3_STEP_SEND_NEXT && *sends < 10; ++*sends)
      {
         const std::vector<uint8_t> &m = Send();
         step = Take(agent.Answer(m.data(), (uint32_t)m.size()));
      }
      return step;
   }
};
}  // namespace

TEST(V3Exchange, DiscoveryThenRequestAtEveryLevel)
{
   if (!ZbCryptoAvailable())
      GTEST_SKIP() << "built without libcrypto";
   for (uint32_t level : {SNMP_SEC_NO_AUTH_NO_PRIV, SNMP_SEC_AUTH_NO_PRIV, SNMP_SEC_AUTH_PRIV})
   {
      SCOPED_TRACE(level);
      FakeAgent agent(level);
      Client client(level);
      EXPECT_TRUE(client.exchange->Discovering());
      int sends = 0;
      ASSERT_EQ(client.Run(agent, &sends), V3_STEP_DONE);
      EXPECT_EQ(sends, 2);
      ASSERT_EQ(client.exchange->Result(), (uint32_t)SNMP_RC_SUCCESS);
      std::unique_ptr<SNMP_PDU> resp(client.exchange->TakeResponse());
      ASSERT_NE(resp, nullptr);
      EXPECT_EQ(resp->GetRequestId(), 31337u);
      EXPECT_EQ(resp->GetVersion(), (uint32_t)SNMP_VERSION_3);
      EXPECT_EQ(resp->GetSecurityLevel(), level);
      EXPECT_STREQ(resp->GetUser(), "zbuser");
      uint32_t engineLength = 0;
      const uint8_t *engine = resp->GetEngineId(&engineLength);
      EXPECT_EQ(std::vector<uint8_t>(engine, engine + engineLength), agent.engine);
      EXPECT_EQ(client.exchange->TakeResponse(), nullptr);  // handed over once
      EXPECT_EQ(client.id.GetEngineBoots(), 4u);
      // A second exchange of the same identity needs no discovery.
      ZbV3Exchange again(ZbUsmAccess::Data(&client.id), nullptr, client.pdu.data(),
                         (uint32_t)client.pdu.size(), 65507);
      EXPECT_FALSE(again.Discovering());
   }
}

TEST(V3Exchange, ResynchronisesAndRediscoversOnlyOnce)
{
   if (!ZbCryptoAvailable())
      GTEST_SKIP() << "built without libcrypto";
   int sends = 0;
   {
      SCOPED_TRACE("notInTimeWindow every time");
      FakeAgent agent(SNMP_SEC_AUTH_PRIV);
      agent.alwaysLate = true;
      Client client(SNMP_SEC_AUTH_PRIV);
      ASSERT_EQ(client.Run(agent, &sends), V3_STEP_DONE);
      EXPECT_EQ(sends, 3);  // discovery, the request, once more
      EXPECT_EQ(client.exchange->Result(), (uint32_t)SNMP_RC_NOT_IN_TIME_WINDOW);
   }
   {
      SCOPED_TRACE("the agent's clock moved on");
      FakeAgent agent(SNMP_SEC_AUTH_PRIV);
      Client client(SNMP_SEC_AUTH_PRIV);
      ASSERT_EQ(client.Run(agent, &sends), V3_STEP_DONE);
      agent.boots = 5;
      agent.time = 10;
      client.exchange.reset(new ZbV3Exchange(ZbUsmAccess::Data(&client.id), nullptr,
                                             client.pdu.data(), (uint32_t)client.pdu.size(),
                                             65507));
      ASSERT_EQ(client.Run(agent, &sends), V3_STEP_DONE);
      EXPECT_EQ(sends, 2);
      EXPECT_EQ(client.exchange->Result(), (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(client.id.GetEngineBoots(), 5u);
   }
   {
      SCOPED_TRACE("an engine ID given that is not the agent's");
      FakeAgent agent(SNMP_SEC_AUTH_NO_PRIV);
      Client client(SNMP_SEC_AUTH_NO_PRIV);
      const uint8_t wrong[] = {0x80, 0, 0, 0, 7};
      client.id.SetEngineId(wrong, sizeof(wrong));
      client.exchange.reset(new ZbV3Exchange(ZbUsmAccess::Data(&client.id), nullptr,
                                             client.pdu.data(), (uint32_t)client.pdu.size(),
                                             65507));
      ASSERT_EQ(client.Run(agent, &sends), V3_STEP_DONE);
      EXPECT_EQ(sends, 3);  // the request, discovery, the request again
      EXPECT_EQ(client.exchange->Result(), (uint32_t)SNMP_RC_SUCCESS);
   }
   {
      SCOPED_TRACE("an engine whose ID keeps changing");
      FakeAgent agent(SNMP_SEC_AUTH_NO_PRIV);
      agent.newEngineEachTime = true;
      Client client(SNMP_SEC_AUTH_NO_PRIV);
      ASSERT_EQ(client.Run(agent, &sends), V3_STEP_DONE);
      EXPECT_EQ(client.exchange->Result(), (uint32_t)SNMP_RC_UNKNOWN_ENGINE_ID);
      EXPECT_LE(sends, 4);
   }
}

TEST(V3Exchange, LateAnswersCountAndStrangersAreDropped)
{
   if (!ZbCryptoAvailable())
      GTEST_SKIP() << "built without libcrypto";
   FakeAgent agent(SNMP_SEC_AUTH_PRIV);
   Client client(SNMP_SEC_AUTH_PRIV);
   std::vector<uint8_t> discovery = client.Send();
   // During discovery only a Report counts: a Response is dropped.
   std::vector<uint8_t> early = agent.Reply(
       [&] {
          ZbV3Message m;
          ZbV3ParseMessage(discovery.data(), (uint32_t)discovery.size(), &m);
          return m;
       }(),
       SNMP_SEC_NO_AUTH_NO_PRIV,
       Element(SNMP_CMD_RESPONSE, 1, ".1.3.6.1.2.1.1.1.0", ASN_TYPE_OCTET_STRING, "early"));
   EXPECT_EQ(client.Take(early), V3_STEP_IGNORED);
   ASSERT_EQ(client.Take(agent.Answer(discovery.data(), (uint32_t)discovery.size())),
             V3_STEP_SEND_NEXT);

   // Two sends of the request (a retry); the answer to the first still counts.
   std::vector<uint8_t> first = client.Send();
   client.Send();
   std::vector<uint8_t> answer = agent.Answer(first.data(), (uint32_t)first.size());
   std::vector<uint8_t> bad = answer;
   bad[bad.size() - 1] ^= 1;  // in the ciphertext: the digest fails
   EXPECT_EQ(client.Take(bad), V3_STEP_IGNORED);
   EXPECT_EQ(client.Take(Hex("30 03 02 01 03")), V3_STEP_IGNORED);
   // The same answer under a msgID never sent.
   ZbV3Message m;
   ASSERT_EQ(ZbV3ParseMessage(first.data(), (uint32_t)first.size(), &m), 1);
   m.msgId ^= 0x40;
   std::vector<uint8_t> stranger = agent.Reply(
       m, SNMP_SEC_AUTH_PRIV,
       Element(SNMP_CMD_RESPONSE, 31337, ".1.3.6.1.2.1.1.1.0", ASN_TYPE_OCTET_STRING, "stranger"));
   EXPECT_EQ(client.Take(stranger), V3_STEP_IGNORED);
   EXPECT_EQ(client.Take(answer), V3_STEP_DONE);
   EXPECT_EQ(client.exchange->Result(), (uint32_t)SNMP_RC_SUCCESS);
}

TEST(V3Exchange, ReportsEndTheExchangeWithTheirCode)
{
   if (!ZbCryptoAvailable())
      GTEST_SKIP() << "built without libcrypto";
   FakeAgent agent(SNMP_SEC_AUTH_PRIV);
   Client client(SNMP_SEC_AUTH_PRIV);
   int sends = 0;
   ASSERT_EQ(client.Run(agent, &sends), V3_STEP_DONE);
   client.exchange.reset(new ZbV3Exchange(ZbUsmAccess::Data(&client.id), nullptr, client.pdu.data(),
                                          (uint32_t)client.pdu.size(), 65507));
   const std::vector<uint8_t> &request = client.Send();
   ZbV3Message m;
   ASSERT_EQ(ZbV3ParseMessage(request.data(), (uint32_t)request.size(), &m), 1);
   // The agent could not check the digest: an unauthenticated Report.
   std::vector<uint8_t> report =
       agent.Reply(m, SNMP_SEC_NO_AUTH_NO_PRIV,
                   Element(SNMP_CMD_RESPONSE, 0, ".1.3.6.1.6.3.15.1.1.5.0", ASN_TYPE_COUNTER32,
                           "3", ASN_PDU_REPORT));
   EXPECT_EQ(client.Take(report), V3_STEP_DONE);
   EXPECT_EQ(client.exchange->Result(), (uint32_t)SNMP_RC_WRONG_DIGEST);
}
