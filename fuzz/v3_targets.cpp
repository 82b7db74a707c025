// The SNMPv3 fuzz target: received messages through the manager's checks,
// and scopedPDUs of every length through encryption and back.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "security/v3_exchange.h"
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
   return 0;
}
