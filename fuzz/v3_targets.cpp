// The SNMPv3 fuzz target: received messages through the manager's checks,
// the exchange and the listener up to the PDU they deliver, and scopedPDUs
// of every length through encryption and back, and through the listener.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "security/v3_exchange.h"
#include "security/v3_listener.h"
#include "security/v3_pdu.h"
#include "targets.h"

namespace
{
struct Setup
{
   uint32_t level, auth, priv;
};
// Indexed by the low bits of the first input octet.
const Setup kSetups[] = {
   {SNMP_SEC_NO_AUTH_NO_PRIV, SNMP_AUTH_NONE, SNMP_PRIV_NONE},
   {SNMP_SEC_AUTH_NO_PRIV, SNMP_AUTH_MD5, SNMP_PRIV_NONE},
   {SNMP_SEC_AUTH_NO_PRIV, SNMP_AUTH_SHA1, SNMP_PRIV_NONE},
   {SNMP_SEC_AUTH_NO_PRIV, SNMP_AUTH_SHA224, SNMP_PRIV_NONE},
   {SNMP_SEC_AUTH_NO_PRIV, SNMP_AUTH_SHA256, SNMP_PRIV_NONE},
   {SNMP_SEC_AUTH_NO_PRIV, SNMP_AUTH_SHA384, SNMP_PRIV_NONE},
   {SNMP_SEC_AUTH_NO_PRIV, SNMP_AUTH_SHA512, SNMP_PRIV_NONE},
   {SNMP_SEC_AUTH_PRIV, SNMP_AUTH_MD5, SNMP_PRIV_DES},
   {SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA1, SNMP_PRIV_AES128},
   {SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA224, SNMP_PRIV_AES192},
   {SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA256, SNMP_PRIV_AES256},
   {SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA384, SNMP_PRIV_AES192_C},
   {SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA512, SNMP_PRIV_AES256_C},
   {SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA1, SNMP_PRIV_DES},
   {SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA256, SNMP_PRIV_AES128},
   {SNMP_SEC_AUTH_PRIV, SNMP_AUTH_MD5, SNMP_PRIV_AES256},
};
const uint8_t kEngine[] = {0x80, 0x00, 0x1f, 0x88, 0x80, 0xde, 0xad, 0xbe, 0xef};

// The fuzz identity: user "fuzz", keys given localised (no megabyte of
// hashing per input): 0x11 octets for authentication, 0x22 for privacy.
bool MakeIdentity(SNMP_USMIdentity *id, const Setup &s, bool knowEngine)
{
   id->SetUser("fuzz");
   uint8_t key[64];
   if (s.auth != SNMP_AUTH_NONE)
   {
      memset(key, 0x11, sizeof(key));
      ZbHash hash;
      ZbUsmAuthHash(s.auth, &hash);
      if (id->SetAuthKey(s.auth, key, ZbHashSize(hash), SNMP_KEY_LOCALIZED) != SNMP_RC_SUCCESS)
         return false;
   }
   if (s.priv != SNMP_PRIV_NONE)
   {
      ZbUsmPrivInfo info;
      ZbUsmPrivInfoOf(s.priv, &info);
      memset(key, 0x22, sizeof(key));
      if (id->SetPrivKey(s.priv, key, info.keyLength, SNMP_KEY_LOCALIZED) != SNMP_RC_SUCCESS)
         return false;
   }
   id->SetSecurityLevel(s.level);
   if (knowEngine)
   {
      id->SetEngineId(kEngine, sizeof(kEngine));
      ZbUsmEngineSeed(&ZbUsmAccess::Data(id)->peer.engine, 1, 100, 0);
   }
   return true;
}

bool Within(const uint8_t *p, uint32_t n, const uint8_t *base, size_t size)
{
   return p >= base && (size_t)(p - base) <= size && n <= size - (size_t)(p - base);
}

// A listener of engine kEngine (boots 1, time 100 at second 100) whose
// user is the fuzz identity: for informs, or with the engine ID for traps.
struct FuzzListener
{
   ZbV3Listener *l = ZbV3ListenerNew();
   SNMP_USMIdentity user;
   FuzzListener(const Setup &s, bool traps)
   {
      MakeIdentity(&user, s, false);
      if (traps)
         user.SetEngineId(kEngine, sizeof(kEngine));
      CHECK(l != nullptr && ZbV3ListenerSetEngine(l, kEngine, sizeof(kEngine), 1, 0) &&
            ZbV3ListenerAddUser(l, &user));
   }
   ~FuzzListener() { ZbV3ListenerFree(l); }
   // The message through the listener: a reply is a whole message of our
   // engine that answers the message's msgID; a delivered PDU is of version 3.
   uint32_t Take(const uint8_t *data, uint32_t length, SNMP_PDU **pdu)
   {
      uint8_t *reply = nullptr;
      uint32_t replyLength = 0;
      uint32_t rc = ZbV3ListenerReceive(l, nullptr, data, length, 100, pdu, &reply, &replyLength);
      /* Success delivers a PDU, or answers discovery; a PDU comes with success alone. */
      CHECK(rc != SNMP_RC_SUCCESS || *pdu != nullptr || reply != nullptr);
      CHECK(*pdu == nullptr || rc == SNMP_RC_SUCCESS);
      if (*pdu != nullptr)
         CHECK((*pdu)->GetVersion() == SNMP_VERSION_3 && reply == nullptr);
      if (reply != nullptr)
      {
         ZbV3Message in, out;
         CHECK(ZbV3ParseMessage(data, length, &in) && ZbV3ParseMessage(reply, replyLength, &out));
         CHECK(out.msgId == in.msgId && (out.flags & V3_FLAG_REPORTABLE) == 0 &&
               out.engineIdLength == sizeof(kEngine) &&
               memcmp(out.engineId, kEngine, sizeof(kEngine)) == 0);
         free(reply);
      }
      return rc;
   }
};
}  // namespace

int FuzzV3(const uint8_t *data, size_t size)
{
   if (size < 1 || size > 0xFFFFFF)
      return 0;
   const Setup &setup = kSetups[data[0] % (sizeof(kSetups) / sizeof(kSetups[0]))];
   bool roundTrip = (data[0] & 0x40) != 0, knowEngine = (data[0] & 0x80) == 0;
   SNMP_USMIdentity id;
   if (!MakeIdentity(&id, setup, knowEngine))
      return 0;  // a method this build lacks
   ZbUsmIdentityData *d = ZbUsmAccess::Data(&id);
   std::vector<uint8_t> in(data + 1, data + size);

   if (roundTrip)
   {
      // The input as the content of a PDU: encrypted, authenticated, and
      // read back to the same octets, whatever its length.
      std::vector<uint8_t> pdu(BER_MAX_HEADER + in.size());
      uint32_t h = BerWriteHeader(ASN_PDU_GET_RESPONSE, (uint32_t)in.size(), pdu.data());
      if (!in.empty())
         memcpy(pdu.data() + h, in.data(), in.size());
      pdu.resize(h + in.size());
      if (!knowEngine)
         id.SetEngineId(kEngine, sizeof(kEngine));
      uint8_t *out = nullptr;
      uint32_t n = 0;
      CHECK(ZbV3EncodeRequest(d, nullptr, 1, 65507, pdu.data(), (uint32_t)pdu.size(), 0, &out,
                              &n) == SNMP_RC_SUCCESS);
      SNMP_USMIdentity peer;
      MakeIdentity(&peer, setup, false);
      ZbV3Received r;
      CHECK(ZbV3Receive(ZbUsmAccess::Data(&peer), nullptr, out, n, 0, &r) == SNMP_RC_SUCCESS);
      CHECK(r.authenticated == (setup.level != SNMP_SEC_NO_AUTH_NO_PRIV));
      CHECK(r.scoped.pduLength == pdu.size() && memcmp(r.scoped.pdu, pdu.data(), pdu.size()) == 0);
      if (setup.priv == SNMP_PRIV_DES)
         CHECK(r.message.scopedLength % 8 == 0);
      ZbV3ReceivedFree(&r);
      free(out);

      // The same octets as an inform to the listener's engine: the checks
      // pass at every level, so it is delivered (and acknowledged) when it
      // parses as an inform, and a parse error otherwise; an engine whose
      // boots were never learnt is outside the window.
      pdu[0] = ASN_PDU_INFORM_REQUEST;
      CHECK(ZbV3EncodeRequest(d, nullptr, 2, 65507, pdu.data(), (uint32_t)pdu.size(), 0, &out,
                              &n) == SNMP_RC_SUCCESS);
      FuzzListener listener(setup, false);
      SNMP_PDU *inform = nullptr;
      uint32_t rc = listener.Take(out, n, &inform);
      free(out);
      if (!knowEngine && setup.level != SNMP_SEC_NO_AUTH_NO_PRIV)
         CHECK(rc == SNMP_RC_NOT_IN_TIME_WINDOW);
      else
         CHECK(rc == SNMP_RC_SUCCESS || rc == SNMP_RC_PARSE_ERROR);
      if (inform != nullptr)
      {
         CHECK(inform->GetCommand() == SNMP_CMD_INFORM_REQUEST && inform->GetMessageId() == 2 &&
               inform->GetSecurityLevel() == setup.level);
         uint8_t *ack = nullptr;
         uint32_t ackLength = ZbV3ListenerAcknowledge(listener.l, inform, 100, &ack);
         if (ackLength > 0)
         {
            // The sender reads the acknowledgement of its own inform.
            ZbV3Received back;
            CHECK(ZbV3Receive(d, nullptr, ack, ackLength, 0, &back) == SNMP_RC_SUCCESS);
            uint32_t requestId;
            CHECK(back.scoped.pdu[0] == ASN_PDU_GET_RESPONSE &&
                  ZbV3RequestIdOf(back.scoped.pdu, back.scoped.pduLength, &requestId) &&
                  requestId == inform->GetRequestId());
            ZbV3ReceivedFree(&back);
            free(ack);
         }
         delete inform;
      }
      return 0;
   }

   // Any received message: the checks never read outside it, and what they
   // accept points inside it or its plaintext.
   ZbV3Received r;
   uint32_t rc = ZbV3Receive(d, nullptr, in.data(), (uint32_t)in.size(), 50, &r);
   if (rc == SNMP_RC_SUCCESS)
   {
      const uint8_t *base = r.plain != nullptr ? r.plain : in.data();
      size_t baseSize = r.plain != nullptr ? r.plainLength : in.size();
      CHECK(Within(r.scoped.pdu, r.scoped.pduLength, base, baseSize));
      CHECK(Within(r.scoped.contextName, r.scoped.contextNameLength, base, baseSize));
      CHECK(r.message.engineIdLength <= USM_MAX_ENGINE_ID && r.message.userLength <= USM_MAX_NAME);
      if (r.authenticated)
         CHECK(ZbV3CheckDigest(
             &r.message, setup.auth,
             ZbUsmKeysFor(d, nullptr, r.message.engineId, r.message.engineIdLength)->auth));
      uint32_t requestId, status;
      if (ZbV3ReadReport(r.scoped.pdu, r.scoped.pduLength, &requestId, &status))
         CHECK(status == SNMP_RC_REPORT ||
               (status >= SNMP_RC_UNKNOWN_ENGINE_ID && status <= SNMP_RC_UNSUPPORTED_SEC_LEVEL));
      ZbV3ReceivedFree(&r);
   }
   // The same message handed to an exchange that sent nothing is dropped.
   uint8_t get[] = {0xA0, 0x0B, 0x02, 0x01, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x00};
   ZbV3Exchange exchange(d, nullptr, get, sizeof(get), 65507);
   CHECK(exchange.Receive(in.data(), (uint32_t)in.size(), 50) == V3_STEP_IGNORED);

   // An exchange that sent its msgID takes it up to the PDU it delivers: a
   // response to its own request id, of version 3, or a status code.
   ZbV3Message head;
   if (ZbV3ParseMessage(in.data(), (uint32_t)in.size(), &head))
   {
      const uint8_t *msg;
      uint32_t msgLength;
      ZbV3Exchange waiting(d, nullptr, get, sizeof(get), 65507);
      if (waiting.Next(50, head.msgId, &msg, &msgLength) == SNMP_RC_SUCCESS &&
          waiting.Receive(in.data(), (uint32_t)in.size(), 50) == V3_STEP_DONE)
      {
         SNMP_PDU *response = waiting.TakeResponse();
         CHECK((waiting.Result() == SNMP_RC_SUCCESS) == (response != nullptr));
         if (response != nullptr)
            CHECK(response->GetVersion() == SNMP_VERSION_3 && response->GetRequestId() == 1 &&
                  response->GetMessageId() == head.msgId);
         delete response;
      }
   }
   // And the listeners, for informs and for traps.
   for (bool traps : {false, true})
   {
      FuzzListener listener(setup, traps);
      SNMP_PDU *pdu = nullptr;
      listener.Take(in.data(), (uint32_t)in.size(), &pdu);
      delete pdu;
   }
   return 0;
}
