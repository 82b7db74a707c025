// SNMPv3 wired into SNMP_PDU, DoRequest and the listener: the PDU element
// and the Report, the listener's checks and Reports without sockets, and
// DoRequest against scripted answers on loopback.
#include <gtest/gtest.h>
#include <string.h>
#ifndef _WIN32
#include <poll.h>
#endif

#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "security/v3_listener.h"
#include "security/v3_pdu.h"
#include "socket_util.h"
#include "test_util.h"
#include "v3_test_util.h"

#define REQUIRE_CRYPTO()                                           \
   do                                                              \
   {                                                               \
      if (!ZbCryptoAvailable())                                    \
         GTEST_SKIP() << "built without libcrypto: no SNMPv3 keys"; \
   } while (0)

#ifdef _WIN32
#define poll WSAPoll
#endif

static SocketsStartup s_startup;

namespace
{
const char kAuthPass[] = "authpass1234", kPrivPass[] = "privpass5678";
const std::vector<uint8_t> kLocal = Hex("80 00 00 00 05 01 02 03 04 05 06 07 08");
const std::vector<uint8_t> kSender = Hex("80 00 1f 88 04 73 65 6e 64");

// A user with keys of SHA-256 and AES-128 from the passwords, at a level.
std::unique_ptr<SNMP_USMIdentity> MakeUser(const char *user, uint32_t level,
                                           const char *authPass = kAuthPass,
                                           const char *privPass = kPrivPass)
{
   auto id = std::make_unique<SNMP_USMIdentity>(user);
   if (ZbCryptoAvailable())
   {
      EXPECT_EQ(id->SetAuthPassword(SNMP_AUTH_SHA256, authPass), (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(id->SetPrivPassword(SNMP_PRIV_AES128, privPass), (uint32_t)SNMP_RC_SUCCESS);
   }
   EXPECT_EQ(id->SetSecurityLevel(level), (uint32_t)SNMP_RC_SUCCESS);
   return id;
}

std::string ValueOf(SNMP_Variable *v)
{
   char buf[256];
   return v != nullptr ? v->GetValueAsString(buf, sizeof(buf)) : "";
}

// The element of a notification: an inform or an SNMPv2 trap of linkUp.
std::vector<uint8_t> Notification(uint32_t command, uint32_t requestId)
{
   SNMP_PDU pdu(command, nullptr, requestId, SNMP_VERSION_3);
   SNMP_Variable *up = new SNMP_Variable(".1.3.6.1.2.1.1.3.0");
   up->SetValueFromString(ASN_TYPE_TIMETICKS, "4242");
   pdu.BindVariable(up);
   SNMP_Variable *oid = new SNMP_Variable(".1.3.6.1.6.3.1.1.4.1.0");
   oid->SetValueFromString(ASN_TYPE_OBJECT_ID, ".1.3.6.1.6.3.1.1.5.4");
   pdu.BindVariable(oid);
   return PduElement(&pdu);
}

// A message from the sender's side, at a level its keys allow, to or from
// the engine: with a fixed salt, so that its octets are the same each run.
std::vector<uint8_t> Message(SNMP_USMIdentity *sender, const std::vector<uint8_t> &engine,
                             uint32_t level, uint32_t boots, uint32_t time, bool reportable,
                             const std::vector<uint8_t> &pdu, uint32_t msgId = 77)
{
   ZbUsmIdentityData *d = ZbUsmAccess::Data(sender);
   ZbUsmPeer peer;
   memset(&peer, 0, sizeof(peer));
   const ZbUsmLocalKeys *keys = ZbUsmKeysFor(d, &peer, engine.data(), (uint32_t)engine.size());
   ZbV3Outgoing o;
   memset(&o, 0, sizeof(o));
   o.msgId = msgId;
   o.maxSize = 65507;
   o.reportable = reportable;
   o.security = {level, (const uint8_t *)d->user, d->userLength, d->authMethod, keys->auth,
                 d->privMethod, keys->priv, engine.data(), (uint32_t)engine.size(), boots, time,
                 0x1122334455667788ULL};
   o.contextName = (const uint8_t *)"ctx";
   o.contextNameLength = 3;
   return EncodeV3(o, pdu, engine);
}

// A listener with a local engine (boots 7, started at second 1000).
struct Listener
{
   ZbV3Listener *l = ZbV3ListenerNew();
   Listener() { EXPECT_EQ(ZbV3ListenerSetEngine(l, kLocal.data(), (uint32_t)kLocal.size(), 7, 1000), 1); }
   ~Listener() { ZbV3ListenerFree(l); }
   uint32_t Take(const std::vector<uint8_t> &msg, int64_t now, std::unique_ptr<SNMP_PDU> *pdu,
                 std::vector<uint8_t> *reply, ZbUsmIdentityData *own = nullptr)
   {
      SNMP_PDU *p = nullptr;
      uint8_t *r = nullptr;
      uint32_t n = 0;
      uint32_t rc = ZbV3ListenerReceive(l, own, msg.data(), (uint32_t)msg.size(), now, &p, &r, &n);
      pdu->reset(p);
      reply->assign(r, r + n);
      free(r);
      return rc;
   }
};

// The status code a Report stands for, and its message.
uint32_t ReportOf(const std::vector<uint8_t> &reply, ZbV3Message *m)
{
   ZbV3Scoped s;
   uint32_t requestId, status;
   if (!ZbV3ParseMessage(reply.data(), (uint32_t)reply.size(), m) ||
       (m->flags & V3_FLAG_PRIV) != 0 || !ZbV3ParseScoped(m->scoped, m->scopedLength, &s) ||
       !ZbV3ReadReport(s.pdu, s.pduLength, &requestId, &status))
      return 0;
   return status;
}
}  // namespace

// ---- The PDU element ----

TEST(V3Pdu, ElementIsTheMessagesPduAndReportOnlyInV3)
{
   SNMP_PDU v2(SNMP_CMD_GET_REQUEST, "public", 1, SNMP_VERSION_2C);
   v2.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.1.0"));
   SNMP_PDU v3(SNMP_CMD_GET_REQUEST, "public", 1, SNMP_VERSION_3);
   v3.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.1.0"));
   // The element alone: the message of v2c without its version and community.
   EXPECT_EQ(ToHex(PduElement(&v3)), "A0 19 02 01 01 02 01 00 02 01 00 30 0E 30 0C 06 08 2B 06 01 "
                                     "02 01 01 01 00 05 00");
   EXPECT_EQ(PduElement(&v3), PduElement(&v2));
   uint8_t *buf = nullptr;
   EXPECT_EQ(v3.Encode(&buf), 0u);  // a v3 message needs its security
   EXPECT_EQ(buf, nullptr);

   struct Case
   {
      uint32_t command, version;
      const char *tag;  // first octet of the element, or NULL: none
   };
   const Case cases[] = {
      {SNMP_CMD_REPORT, SNMP_VERSION_3, "A8"},     {SNMP_CMD_REPORT, SNMP_VERSION_2C, nullptr},
      {SNMP_CMD_TRAP, SNMP_VERSION_3, "A7"},       {SNMP_CMD_INFORM_REQUEST, SNMP_VERSION_3, "A6"},
      {SNMP_CMD_GET_BULK_REQUEST, SNMP_VERSION_3, "A5"}, {SNMP_CMD_RESPONSE, SNMP_VERSION_3, "A2"},
      {SNMP_CMD_GET_REQUEST, SNMP_VERSION_1, nullptr}, // SNMPv1 has no place in a v3 message
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(std::to_string(c.command) + "/" + std::to_string(c.version));
      SNMP_PDU pdu(c.command, "", 5, c.version);
      std::vector<uint8_t> e = PduElement(&pdu);
      EXPECT_EQ(e.empty() ? std::string() : ToHex(e.data(), 1), c.tag ? c.tag : "");
   }
   // The SNMPv1 trap layout never goes into a v3 message, whatever its fields.
   SNMP_PDU v1trap(SNMP_CMD_TRAP, "", 5, SNMP_VERSION_1);
   EXPECT_TRUE(PduElement(&v1trap).empty());
}

TEST(V3Pdu, ElementParsing)
{
   struct Case
   {
      const char *hex;
      int ok;
      uint32_t command;
   };
   const Case cases[] = {
      // A Report (request layout) with usmStatsUnknownEngineIDs.0 = 1.
      {"A8 1C 02 01 00 02 01 00 02 01 00 30 11 30 0F 06 0A 2B 06 01 06 03 0F 01 01 04 00 41 01 01",
       1, SNMP_CMD_REPORT},
      {"A2 0B 02 01 07 02 01 00 02 01 00 30 00", 1, SNMP_CMD_RESPONSE},
      {"A2 0B 02 01 07 02 01 00 02 01 00 30 00 FF FF", 1, SNMP_CMD_RESPONSE},  // padding behind
      {"A4 0E 06 01 2B 40 04 0A 00 00 01 02 01 03 02 01 00 43 01 64 30 00", 0, 0},  // SNMPv1 trap
      {"A9 0B 02 01 07 02 01 00 02 01 00 30 00", 0, 0},
      {"A2 0C 02 01 07 02 01 00 02 01 00 30 00", 0, 0},  // runs past the octets
      {"", 0, 0},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.hex);
      std::vector<uint8_t> e = Hex(c.hex);
      auto pdu = ParsePduElement(e.data(), (uint32_t)e.size());
      EXPECT_EQ(pdu != nullptr, c.ok == 1);
      if (pdu)
         EXPECT_EQ(pdu->GetCommand(), c.command);
   }
   // A Report inside a v2c message stays what it was: no message.
   std::vector<uint8_t> msg = Hex("30 12 02 01 01 04 00 A8 0B 02 01 07 02 01 00 02 01 00 30 00");
   SNMP_PDU pdu;
   EXPECT_EQ(pdu.Parse(msg.data(), (uint32_t)msg.size()), 0);
}

// ---- The listener: informs (we are the authoritative engine) ----

TEST(V3Listener, InformIsTakenAndAcknowledgedAtItsLevel)
{
   REQUIRE_CRYPTO();
   for (uint32_t level : {SNMP_SEC_NO_AUTH_NO_PRIV, SNMP_SEC_AUTH_NO_PRIV, SNMP_SEC_AUTH_PRIV})
   {
      SCOPED_TRACE(level);
      Listener l;
      // The receiver has the keys; its level is the least it takes.
      auto receiver = MakeUser("zbuser", SNMP_SEC_NO_AUTH_NO_PRIV);
      ASSERT_EQ(ZbV3ListenerAddUser(l.l, receiver.get()), 1);
      auto sender = MakeUser("zbuser", SNMP_SEC_AUTH_PRIV);
      std::vector<uint8_t> msg =
          Message(sender.get(), kLocal, level, 7, 20, true, Notification(SNMP_CMD_INFORM_REQUEST, 99), 4711);
      std::unique_ptr<SNMP_PDU> inform;
      std::vector<uint8_t> reply;
      ASSERT_EQ(l.Take(msg, 1010, &inform, &reply), (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_TRUE(reply.empty());
      ASSERT_NE(inform, nullptr);
      EXPECT_EQ(inform->GetCommand(), (uint32_t)SNMP_CMD_INFORM_REQUEST);
      EXPECT_EQ(inform->GetVersion(), (uint32_t)SNMP_VERSION_3);
      EXPECT_EQ(inform->GetTrapType(), SNMP_TRAP_LINK_UP);
      EXPECT_EQ(inform->GetMessageId(), 4711u);
      EXPECT_EQ(inform->GetSecurityLevel(), level);
      EXPECT_STREQ(inform->GetUser(), "zbuser");
      EXPECT_STREQ(inform->GetContextName(), "ctx");
      uint32_t length;
      const uint8_t *engine = inform->GetEngineId(&length);
      EXPECT_EQ(std::vector<uint8_t>(engine, engine + length), kLocal);

      // The acknowledgement: the same msgID, level and context, from our
      // engine (boots 7, time 10), and the sender reads it.
      uint8_t *ack = nullptr;
      uint32_t n = ZbV3ListenerAcknowledge(l.l, inform.get(), 1010, &ack);
      ASSERT_GT(n, 0u);
      ZbV3Message m;
      ASSERT_EQ(ZbV3ParseMessage(ack, n, &m), 1);
      EXPECT_EQ(m.msgId, 4711u);
      EXPECT_EQ(ZbV3LevelOf(m.flags), level);
      EXPECT_EQ(m.flags & V3_FLAG_REPORTABLE, 0u);
      EXPECT_EQ(m.boots, 7u);
      EXPECT_EQ(m.time, 10u);
      sender->SetSecurityLevel(level);
      ZbUsmPeer peer;
      memset(&peer, 0, sizeof(peer));
      ZbUsmEngineSetId(&peer.engine, kLocal.data(), (uint32_t)kLocal.size());
      ZbV3Received r;
      ASSERT_EQ(ZbV3Receive(ZbUsmAccess::Data(sender.get()), &peer, ack, n, 1010, &r),
                (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(r.authenticated, level != SNMP_SEC_NO_AUTH_NO_PRIV);
      EXPECT_EQ(std::string((const char *)r.scoped.contextName, r.scoped.contextNameLength), "ctx");
      auto response = ParsePduElement(r.scoped.pdu, r.scoped.pduLength);
      ASSERT_NE(response, nullptr);
      EXPECT_EQ(response->GetCommand(), (uint32_t)SNMP_CMD_RESPONSE);
      EXPECT_EQ(response->GetRequestId(), 99u);
      EXPECT_EQ(response->GetErrorCode(), 0u);
      EXPECT_EQ(response->GetNumVariables(), 2u);
      ZbV3ReceivedFree(&r);
      free(ack);
   }
}

// Each way an inform can fail the checks gets its Report, unauthenticated
// but for notInTimeWindow, which teaches the sender our boots and time.
TEST(V3Listener, RefusedInformsAreReported)
{
   REQUIRE_CRYPTO();
   Listener l;
   auto receiver = MakeUser("zbuser", SNMP_SEC_AUTH_PRIV);
   ASSERT_EQ(ZbV3ListenerAddUser(l.l, receiver.get()), 1);
   auto sender = MakeUser("zbuser", SNMP_SEC_AUTH_PRIV);
   auto stranger = MakeUser("stranger", SNMP_SEC_AUTH_PRIV);
   auto wrongAuth = MakeUser("zbuser", SNMP_SEC_AUTH_PRIV, "wrongpass1234");
   auto wrongPriv = MakeUser("zbuser", SNMP_SEC_AUTH_PRIV, kAuthPass, "wrongpriv5678");
   const std::vector<uint8_t> inform = Notification(SNMP_CMD_INFORM_REQUEST, 99);
   const std::vector<uint8_t> other = Hex("80 00 1f 88 04 6f 74 68 65 72");
   uint8_t *probe = nullptr;
   std::vector<uint8_t> get = Hex("A0 0B 02 01 2A 02 01 00 02 01 00 30 00");
   uint32_t probeLength = ZbV3EncodeDiscovery(31, 65507, get.data(), (uint32_t)get.size(), &probe);
   struct Case
   {
      const char *what;
      std::vector<uint8_t> message;
      uint32_t rc, report;
      bool authenticated;
   };
   const Case cases[] = {
      {"discovery", std::vector<uint8_t>(probe, probe + probeLength), SNMP_RC_SUCCESS,
       SNMP_RC_UNKNOWN_ENGINE_ID, false},
      {"another engine", Message(sender.get(), other, SNMP_SEC_AUTH_PRIV, 7, 10, true, inform),
       SNMP_RC_UNKNOWN_ENGINE_ID, SNMP_RC_UNKNOWN_ENGINE_ID, false},
      {"unknown user", Message(stranger.get(), kLocal, SNMP_SEC_AUTH_PRIV, 7, 10, true, inform),
       SNMP_RC_UNKNOWN_USER_NAME, SNMP_RC_UNKNOWN_USER_NAME, false},
      {"below the user's level",
       Message(sender.get(), kLocal, SNMP_SEC_AUTH_NO_PRIV, 7, 10, true, inform),
       SNMP_RC_UNSUPPORTED_SEC_LEVEL, SNMP_RC_UNSUPPORTED_SEC_LEVEL, false},
      {"wrong digest", Message(wrongAuth.get(), kLocal, SNMP_SEC_AUTH_PRIV, 7, 10, true, inform),
       SNMP_RC_WRONG_DIGEST, SNMP_RC_WRONG_DIGEST, false},
      {"time far behind", Message(sender.get(), kLocal, SNMP_SEC_AUTH_PRIV, 7, 500, true, inform),
       SNMP_RC_NOT_IN_TIME_WINDOW, SNMP_RC_NOT_IN_TIME_WINDOW, true},
      {"older boots", Message(sender.get(), kLocal, SNMP_SEC_AUTH_PRIV, 6, 10, true, inform),
       SNMP_RC_NOT_IN_TIME_WINDOW, SNMP_RC_NOT_IN_TIME_WINDOW, true},
      {"wrong privacy key", Message(wrongPriv.get(), kLocal, SNMP_SEC_AUTH_PRIV, 7, 10, true, inform),
       SNMP_RC_DECRYPTION_ERROR, SNMP_RC_DECRYPTION_ERROR, false},
   };
   free(probe);
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      std::unique_ptr<SNMP_PDU> pdu;
      std::vector<uint8_t> reply;
      EXPECT_EQ(l.Take(c.message, 1010, &pdu, &reply), c.rc);
      EXPECT_EQ(pdu, nullptr);
      ZbV3Message m, in;
      ASSERT_EQ(ZbV3ParseMessage(c.message.data(), (uint32_t)c.message.size(), &in), 1);
      if (c.authenticated)
      {
         // Authenticated with the user's key for our engine: the sender's
         // own checks take it, and learn our boots and time from it.
         ZbUsmPeer peer;
         memset(&peer, 0, sizeof(peer));
         ZbUsmEngineSetId(&peer.engine, kLocal.data(), (uint32_t)kLocal.size());
         ZbV3Received r;
         ASSERT_EQ(ZbV3Receive(ZbUsmAccess::Data(sender.get()), &peer, reply.data(),
                               (uint32_t)reply.size(), 1010, &r),
                   (uint32_t)SNMP_RC_SUCCESS);
         EXPECT_TRUE(r.authenticated);
         EXPECT_EQ(peer.engine.boots, 7u);
         EXPECT_EQ(peer.engine.time, 10u);
         ZbV3ReceivedFree(&r);
         ASSERT_EQ(ZbV3ParseMessage(reply.data(), (uint32_t)reply.size(), &m), 1);
         EXPECT_EQ(m.flags & (V3_FLAG_AUTH | V3_FLAG_PRIV), (uint32_t)V3_FLAG_AUTH);
      }
      else
      {
         EXPECT_EQ(ReportOf(reply, &m), c.report);
         EXPECT_EQ(m.flags, 0u);
      }
      EXPECT_EQ(m.msgId, in.msgId);
      EXPECT_EQ(std::vector<uint8_t>(m.engineId, m.engineId + m.engineIdLength), kLocal);
      EXPECT_EQ(m.boots, 7u);
      EXPECT_EQ(m.time, 10u);
   }
   // The same refusals of a message that asks for no Report are silent.
   std::unique_ptr<SNMP_PDU> pdu;
   std::vector<uint8_t> reply;
   EXPECT_EQ(l.Take(Message(wrongAuth.get(), kLocal, SNMP_SEC_AUTH_PRIV, 7, 10, false, inform),
                    1010, &pdu, &reply),
             (uint32_t)SNMP_RC_UNKNOWN_ENGINE_ID);  // a trap names its sender's engine: ours is no sender's
   EXPECT_TRUE(reply.empty());
   // The counters behind the Reports count on.
   EXPECT_EQ(l.l->stats[USM_STAT_UNKNOWN_ENGINE_IDS], 3u);
   EXPECT_EQ(l.l->stats[USM_STAT_NOT_IN_TIME_WINDOWS], 2u);
}

TEST(V3Listener, WithoutUsersNothingIsAnswered)
{
   Listener l;
   uint8_t *probe = nullptr;
   std::vector<uint8_t> get = Hex("A0 0B 02 01 2A 02 01 00 02 01 00 30 00");
   uint32_t n = ZbV3EncodeDiscovery(31, 65507, get.data(), (uint32_t)get.size(), &probe);
   std::unique_ptr<SNMP_PDU> pdu;
   std::vector<uint8_t> reply;
   EXPECT_EQ(l.Take(std::vector<uint8_t>(probe, probe + n), 1010, &pdu, &reply),
             (uint32_t)SNMP_RC_UNKNOWN_USER_NAME);
   EXPECT_TRUE(reply.empty());
   free(probe);
   EXPECT_EQ(l.Take(Hex("30 03 02 01 03"), 1010, &pdu, &reply), (uint32_t)SNMP_RC_PARSE_ERROR);
}

TEST(V3Listener, LocalEngine)
{
   ZbV3Listener *l = ZbV3ListenerNew();
   ASSERT_NE(l, nullptr);
   EXPECT_EQ(ZbV3ListenerSetEngine(l, kLocal.data(), 4, 1, 0), 0);    // below 5 octets
   EXPECT_EQ(ZbV3ListenerSetEngine(l, kLocal.data(), 33, 1, 0), 0);   // above 32
   EXPECT_EQ(ZbV3ListenerSetEngine(l, kLocal.data(), 13, 0, 0), 0);   // boots 0
   EXPECT_EQ(ZbV3ListenerSetEngine(l, kLocal.data(), 13, 0x7FFFFFFF, 0), 0);  // latched
   EXPECT_EQ(l->engineIdLength, 0u);
   {
      // Made when first needed: enterprise 0, format 5, 8 random octets.
      ASSERT_EQ(ZbV3ListenerEngine(l, 100), 1);
      EXPECT_EQ(ToHex(l->engineId, 5), "80 00 00 00 05");
      EXPECT_EQ(l->engineIdLength, 13u);
      EXPECT_EQ(l->boots, 1u);
      EXPECT_EQ(ZbV3ListenerTime(l, 160), 60u);
      std::vector<uint8_t> first(l->engineId, l->engineId + 13);
      ZbV3Listener *other = ZbV3ListenerNew();
      ASSERT_EQ(ZbV3ListenerEngine(other, 100), 1);
      EXPECT_NE(std::vector<uint8_t>(other->engineId, other->engineId + 13), first);
      ZbV3ListenerFree(other);
   }
   ZbV3ListenerFree(l);
}

// ---- The listener: traps (the sender is the authoritative engine) ----

TEST(V3Listener, TrapsComeAtTheUsersLevelOrAbove)
{
   REQUIRE_CRYPTO();
   Listener l;
   // The least level taken is authNoPriv; the privacy key is there too.
   auto receiver = MakeUser("zbuser", SNMP_SEC_AUTH_NO_PRIV);
   ASSERT_EQ(receiver->SetEngineId(kSender.data(), (uint32_t)kSender.size()), (uint32_t)SNMP_RC_SUCCESS);
   ASSERT_EQ(ZbV3ListenerAddUser(l.l, receiver.get()), 1);
   EXPECT_EQ(ZbV3ListenerAddUser(l.l, receiver.get()), 0);
   auto sender = MakeUser("zbuser", SNMP_SEC_AUTH_PRIV);
   auto stranger = MakeUser("stranger", SNMP_SEC_AUTH_PRIV);
   const std::vector<uint8_t> trap = Notification(SNMP_CMD_TRAP, 5);
   const std::vector<uint8_t> other = Hex("80 00 1f 88 04 6f 74 68 65 72");
   struct Case
   {
      const char *what;
      std::vector<uint8_t> message;
      uint32_t rc;
   };
   const Case cases[] = {
      {"authPriv", Message(sender.get(), kSender, SNMP_SEC_AUTH_PRIV, 3, 100, false, trap),
       SNMP_RC_SUCCESS},
      {"authNoPriv", Message(sender.get(), kSender, SNMP_SEC_AUTH_NO_PRIV, 3, 101, false, trap),
       SNMP_RC_SUCCESS},
      {"noAuthNoPriv", Message(sender.get(), kSender, SNMP_SEC_NO_AUTH_NO_PRIV, 3, 101, false, trap),
       SNMP_RC_UNSUPPORTED_SEC_LEVEL},
      {"another engine", Message(sender.get(), other, SNMP_SEC_AUTH_PRIV, 3, 100, false, trap),
       SNMP_RC_UNKNOWN_ENGINE_ID},
      {"unknown user", Message(stranger.get(), kSender, SNMP_SEC_AUTH_PRIV, 3, 100, false, trap),
       SNMP_RC_UNKNOWN_USER_NAME},
      // Learnt boots 3 and time 101: an older boot, or a time more than
      // 150 s behind, is a replay.
      {"older boots", Message(sender.get(), kSender, SNMP_SEC_AUTH_PRIV, 2, 5000, false, trap),
       SNMP_RC_NOT_IN_TIME_WINDOW},
      {"an earlier time within 150 s",
       Message(sender.get(), kSender, SNMP_SEC_AUTH_PRIV, 3, 1, false, trap, 78), SNMP_RC_SUCCESS},
      {"a new boot", Message(sender.get(), kSender, SNMP_SEC_AUTH_PRIV, 4, 0, false, trap),
       SNMP_RC_SUCCESS},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      std::unique_ptr<SNMP_PDU> pdu;
      std::vector<uint8_t> reply;
      EXPECT_EQ(l.Take(c.message, 1010, &pdu, &reply), c.rc) << SNMPGetErrorText(l.l->lastStatus);
      EXPECT_EQ(pdu != nullptr, c.rc == SNMP_RC_SUCCESS);
      if (pdu)
      {
         EXPECT_EQ(pdu->GetCommand(), (uint32_t)SNMP_CMD_TRAP);
         EXPECT_EQ(pdu->GetTrapType(), SNMP_TRAP_LINK_UP);
         uint32_t length;
         const uint8_t *engine = pdu->GetEngineId(&length);
         EXPECT_EQ(std::vector<uint8_t>(engine, engine + length), kSender);
      }
   }
   // The engine learnt from the traps is the listener's, not the identity's.
   const ZbUsmEngine &learnt = l.l->users[0].trapPeer.engine;
   EXPECT_EQ(learnt.boots, 4u);
   EXPECT_EQ(ZbUsmAccess::Data(receiver.get())->peer.engine.boots, 0u);
   EXPECT_EQ(ZbV3ListenerRemoveUser(l.l, receiver.get()), 1);
   EXPECT_EQ(ZbV3ListenerRemoveUser(l.l, receiver.get()), 0);
}

// ---- DoRequest over scripted answers ----

namespace
{
// A socket on loopback that answers each of the first count v3 requests
// with what the script makes of it (nothing: no answer).
struct Responder
{
   SNMP_SOCKET s;
   uint16_t port;
   std::thread thread;
   std::vector<std::vector<uint8_t>> received;
   Responder(int count, std::function<std::vector<std::vector<uint8_t>>(const ZbV3Message &)> script)
   {
      s = BoundSocket(&port);
      thread = std::thread([this, count, script] {
         for (int i = 0; i < count; i++)
         {
            struct pollfd pfd = {s, POLLIN, 0};
            if (poll(&pfd, 1, 3000) <= 0)
               return;
            std::vector<uint8_t> buf(65536);
            struct sockaddr_in from;
            socklen_t len = sizeof(from);
            int n = (int)recvfrom(s, (char *)buf.data(), (int)buf.size(), 0,
                                  (struct sockaddr *)&from, &len);
            ZbV3Message m;
            if (n <= 0 || !ZbV3ParseMessage(buf.data(), (uint32_t)n, &m))
               continue;
            received.emplace_back(buf.data(), buf.data() + n);
            for (const std::vector<uint8_t> &answer : script(m))
               sendto(s, (const char *)answer.data(), (int)answer.size(), 0,
                      (struct sockaddr *)&from, len);
         }
      });
   }
   void Join()
   {
      if (thread.joinable())
         thread.join();
   }
   ~Responder()
   {
      Join();
      CloseSock(s);
   }
};

std::vector<uint8_t> NoAuthAnswer(const ZbV3Message &m, const std::vector<uint8_t> &engine,
                                  uint32_t requestId)
{
   SNMP_PDU pdu(SNMP_CMD_RESPONSE, nullptr, requestId, SNMP_VERSION_3);
   SNMP_Variable *v = new SNMP_Variable(".1.3.6.1.2.1.1.5.0");
   v->SetValueFromString(ASN_TYPE_OCTET_STRING, "scripted");
   pdu.BindVariable(v);
   std::vector<uint8_t> element = PduElement(&pdu);
   ZbV3Outgoing o;
   memset(&o, 0, sizeof(o));
   o.msgId = m.msgId;
   o.maxSize = 65507;
   o.security.level = SNMP_SEC_NO_AUTH_NO_PRIV;
   o.security.user = m.user;
   o.security.userLength = m.userLength;
   o.security.engineId = engine.data();
   o.security.engineIdLength = (uint32_t)engine.size();
   return EncodeV3(o, element, {});
}
}  // namespace

// Late answers and answers to another request do not end the exchange:
// the one for this request does, within the same attempt.
TEST(V3DoRequest, TheAnswerToThisRequestEndsIt)
{
   SNMP_USMIdentity id("zbuser");
   ASSERT_EQ(id.SetEngineId(kSender.data(), (uint32_t)kSender.size()), (uint32_t)SNMP_RC_SUCCESS);
   Responder agent(1, [](const ZbV3Message &m) {
      ZbV3Message stale = m;
      stale.msgId = m.msgId ^ 1;
      return std::vector<std::vector<uint8_t>>{
         NoAuthAnswer(stale, kSender, 900),  // another msgID
         NoAuthAnswer(m, kSender, 901),      // another request id
         NoAuthAnswer(m, kSender, 900),
      };
   });
   SNMP_UDPTransport t;
   ASSERT_EQ(t.ConnectUDPTransport("127.0.0.1", agent.port), (uint32_t)SNMP_RC_SUCCESS);
   t.SetSecurity(&id);
   SNMP_PDU req(SNMP_CMD_GET_REQUEST, nullptr, 900, SNMP_VERSION_3);
   req.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.5.0"));
   SNMP_PDU *resp = nullptr;
   ASSERT_EQ(t.DoRequest(&req, &resp, 2000, 1), (uint32_t)SNMP_RC_SUCCESS);
   std::unique_ptr<SNMP_PDU> owned(resp);
   EXPECT_EQ(resp->GetRequestId(), 900u);
   EXPECT_EQ(ValueOf(resp->GetVariable(0)), "scripted");
}

// An engine not yet known is discovered, inside the caller's attempts: an
// agent that never answers sees one discovery request per attempt, each
// announcing our 32768-octet buffer.
TEST(V3DoRequest, DiscoveryWithinTheAttempts)
{
   SNMP_USMIdentity id("zbuser");
   Responder agent(2, [](const ZbV3Message &) { return std::vector<std::vector<uint8_t>>{}; });
   SNMP_UDPTransport t;
   ASSERT_EQ(t.ConnectUDPTransport("127.0.0.1", agent.port), (uint32_t)SNMP_RC_SUCCESS);
   t.SetSecurity(&id);
   SNMP_PDU req(SNMP_CMD_GET_REQUEST, nullptr, 900, SNMP_VERSION_3);
   req.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.5.0"));
   SNMP_PDU *resp = (SNMP_PDU *)&id;
   EXPECT_EQ(t.DoRequest(&req, &resp, 150, 2), (uint32_t)SNMP_RC_TIMEOUT);
   EXPECT_EQ(resp, nullptr);
   agent.Join();
   ASSERT_EQ(agent.received.size(), 2u);
   for (const std::vector<uint8_t> &msg : agent.received)
   {
      ZbV3Message m;
      ASSERT_EQ(ZbV3ParseMessage(msg.data(), (uint32_t)msg.size(), &m), 1);
      EXPECT_EQ(m.maxSize, 32768u);
      EXPECT_EQ(m.engineIdLength, 0u);
      EXPECT_EQ(m.flags, (uint32_t)V3_FLAG_REPORTABLE);
   }
   ZbV3Message a, b;
   ZbV3ParseMessage(agent.received[0].data(), (uint32_t)agent.received[0].size(), &a);
   ZbV3ParseMessage(agent.received[1].data(), (uint32_t)agent.received[1].size(), &b);
   EXPECT_NE(a.msgId, b.msgId);  // every message its own msgID
}

// A transport that cannot carry raw messages cannot carry SNMPv3.
TEST(V3DoRequest, BaseTransportHasNoRawMessages)
{
   SNMP_Transport base;
   SNMP_USMIdentity id("zbuser");
   base.SetSecurity(&id);
   SNMP_PDU req(SNMP_CMD_GET_REQUEST, nullptr, 900, SNMP_VERSION_3);
   SNMP_PDU *resp = nullptr;
   EXPECT_EQ(base.DoRequest(&req, &resp, 100, 3), (uint32_t)SNMP_RC_COMM_ERROR);
   // A PDU that has no element in v3 (an SNMPv1 trap cannot be one) is no request.
   SNMP_PDU v1(SNMP_CMD_TRAP, nullptr, 1, SNMP_VERSION_1);
   EXPECT_TRUE(PduElement(&v1).empty());
}
