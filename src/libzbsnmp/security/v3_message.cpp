/* The SNMPv3 message with USM: writing and protecting an outgoing message,
   parsing, authenticating and decrypting a received one, and the Reports. */
#include "security/v3_message.h"

#include <string.h>

/* ---- Writing ---- */

static uint32_t IntLength(uint32_t v)
{
   return BerContentLength(ASN_TYPE_INTEGER, &v, 4);
}

/* Octets of an element with a content of this many octets. */
static uint64_t ElementSize(uint64_t content)
{
   return (content > V3_MAX_INT) ? content : BerHeaderLength((uint32_t)content) + content;
}

static uint8_t *PutHeader(uint8_t *p, uint32_t type, uint32_t length)
{
   return p + BerWriteHeader(type, length, p);
}

static uint8_t *PutInt(uint8_t *p, uint32_t v)
{
   p = PutHeader(p, ASN_TYPE_INTEGER, IntLength(v));
   return p + BerEncodeValue(ASN_TYPE_INTEGER, &v, 4, p);
}

static uint8_t *PutOctets(uint8_t *p, const uint8_t *data, uint32_t length)
{
   p = PutHeader(p, ASN_TYPE_OCTET_STRING, length);
   if (length > 0)
      memcpy(p, data, length);
   return p + length;
}

/* The IV of a privacy method from the key, the salt and the message's boots
   and time: DES (RFC 3414 8.1.1.1) the pre-IV (key octets 8..15) xor the
   salt; AES (RFC 3826 3.1.2.1) boots, time and the salt. */
static void MakeIv(ZbCipher cipher, const uint8_t *privKey, const uint8_t *salt, uint32_t boots,
                   uint32_t time, uint8_t *iv)
{
   if (cipher == ZB_CIPHER_DES_CBC)
   {
      for (int i = 0; i < 8; i++)
         iv[i] = (uint8_t)(privKey[8 + i] ^ salt[i]);
      return;
   }
   PutBE32(iv, boots);
   PutBE32(iv + 4, time);
   memcpy(iv + 8, salt, USM_SALT_LENGTH);
}

/* The HMAC of the whole message with the digest's place as zeros. */
static int MessageDigest(uint32_t authMethod, const uint8_t *authKey, const uint8_t *message,
                         uint32_t length, const uint8_t *digestAt, uint32_t digestLength,
                         uint8_t *out)
{
   ZbHash hash;
   if (!ZbUsmAuthHash(authMethod, &hash))
      return 0;
   size_t before = (size_t)(digestAt - message);
   ZbBytes parts[3] = {
      {message, before},
      {nullptr, digestLength},
      {digestAt + digestLength, length - before - digestLength},
   };
   return ZbHmacParts(hash, authKey, ZbHashSize(hash), parts, 3, out);
}

uint32_t ZbV3Encode(const ZbV3Outgoing *m, uint8_t **out)
{
   if (m == nullptr || out == nullptr || m->pdu == nullptr || m->pduLength == 0)
      return 0;
   const ZbV3Security &s = m->security;
   if (m->msgId > V3_MAX_INT || m->maxSize < V3_MIN_MAX_SIZE || m->maxSize > V3_MAX_INT ||
       s.boots > V3_MAX_INT || s.time > V3_MAX_INT || s.engineIdLength > USM_MAX_ENGINE_ID ||
       s.userLength > USM_MAX_NAME || m->contextEngineIdLength > USM_MAX_ENGINE_ID ||
       m->contextNameLength > USM_MAX_NAME || m->pduLength > V3_MAX_INT)
      return 0;
   if (s.level < SNMP_SEC_NO_AUTH_NO_PRIV || s.level > SNMP_SEC_AUTH_PRIV)
      return 0;
   bool auth = s.level >= SNMP_SEC_AUTH_NO_PRIV, priv = s.level == SNMP_SEC_AUTH_PRIV;
   uint32_t digestLength = 0;
   if (auth && ((digestLength = ZbUsmDigestLength(s.authMethod)) == 0 || s.authKey == nullptr))
      return 0;
   ZbUsmPrivInfo info = {ZB_CIPHER_AES128_CFB, 0, USM_EXTEND_NONE};
   if (priv && (!ZbUsmPrivInfoOf(s.privMethod, &info) || s.privKey == nullptr))
      return 0;

   uint64_t scopedContent = ElementSize(m->contextEngineIdLength) +
                            ElementSize(m->contextNameLength) + m->pduLength;
   uint64_t scopedSize = ElementSize(scopedContent);
   uint64_t cipherLength = scopedSize;
   if (priv && info.cipher == ZB_CIPHER_DES_CBC)
      cipherLength = (scopedSize + 7) / 8 * 8; /* RFC 3414 8.1.1.2: padded to whole blocks */
   uint64_t scopedField = priv ? ElementSize(cipherLength) : scopedSize;
   uint64_t usmContent = ElementSize(s.engineIdLength) + ElementSize(IntLength(s.boots)) +
                         ElementSize(IntLength(s.time)) + ElementSize(s.userLength) +
                         ElementSize(digestLength) + ElementSize(priv ? USM_SALT_LENGTH : 0);
   uint64_t globalContent = ElementSize(IntLength(m->msgId)) + ElementSize(IntLength(m->maxSize)) +
                            ElementSize(1) + ElementSize(IntLength(V3_SECURITY_MODEL_USM));
   uint64_t messageContent = ElementSize(IntLength(SNMP_VERSION_3)) + ElementSize(globalContent) +
                             ElementSize(ElementSize(usmContent)) + scopedField;
   uint64_t total = ElementSize(messageContent);
   if (total > V3_MAX_INT)
      return 0;
   uint8_t *buffer = (uint8_t *)malloc((size_t)total);
   if (buffer == nullptr)
      return 0;

   uint8_t salt[USM_SALT_LENGTH];
   if (info.cipher == ZB_CIPHER_DES_CBC)
   {
      /* RFC 3414 8.1.1.1: snmpEngineBoots, then a local 32-bit integer. A
         manager has no boots of its own: the authoritative engine's stand in
         (the receiver takes the salt as it comes). */
      PutBE32(salt, s.boots);
      PutBE32(salt + 4, (uint32_t)s.salt);
   }
   else
   {
      PutBE32(salt, (uint32_t)(s.salt >> 32));
      PutBE32(salt + 4, (uint32_t)s.salt);
   }
   uint8_t flags = (uint8_t)((auth ? V3_FLAG_AUTH : 0) | (priv ? V3_FLAG_PRIV : 0) |
                             (m->reportable ? V3_FLAG_REPORTABLE : 0));

   uint8_t *p = PutHeader(buffer, ASN_TYPE_SEQUENCE, (uint32_t)messageContent);
   p = PutInt(p, SNMP_VERSION_3);
   p = PutHeader(p, ASN_TYPE_SEQUENCE, (uint32_t)globalContent);
   p = PutInt(p, m->msgId);
   p = PutInt(p, m->maxSize);
   p = PutOctets(p, &flags, 1);
   p = PutInt(p, V3_SECURITY_MODEL_USM);
   p = PutHeader(p, ASN_TYPE_OCTET_STRING, (uint32_t)ElementSize(usmContent));
   p = PutHeader(p, ASN_TYPE_SEQUENCE, (uint32_t)usmContent);
   p = PutOctets(p, s.engineId, s.engineIdLength);
   p = PutInt(p, s.boots);
   p = PutInt(p, s.time);
   p = PutOctets(p, s.user, s.userLength);
   p = PutHeader(p, ASN_TYPE_OCTET_STRING, digestLength);
   uint8_t *digestAt = p;
   memset(p, 0, digestLength); /* the placeholder, filled once the message is whole */
   p += digestLength;
   p = PutOctets(p, salt, priv ? USM_SALT_LENGTH : 0);
   if (priv)
      p = PutHeader(p, ASN_TYPE_OCTET_STRING, (uint32_t)cipherLength);
   uint8_t *plain = p;
   p = PutHeader(p, ASN_TYPE_SEQUENCE, (uint32_t)scopedContent);
   p = PutOctets(p, m->contextEngineId, m->contextEngineIdLength);
   p = PutOctets(p, m->contextName, m->contextNameLength);
   memcpy(p, m->pdu, m->pduLength);
   p += m->pduLength;

   int ok = 1;
   if (priv)
   {
      memset(p, 0, (size_t)(cipherLength - scopedSize));
      uint8_t iv[16];
      MakeIv(info.cipher, s.privKey, salt, s.boots, s.time, iv);
      ok = ZbCipherRun(info.cipher, 1, s.privKey, iv, plain, (size_t)cipherLength, plain);
      p = plain + cipherLength;
   }
   if (ok && auth)
   {
      uint8_t digest[ZB_HASH_MAX_SIZE];
      ok = MessageDigest(s.authMethod, s.authKey, buffer, (uint32_t)total, digestAt, digestLength,
                         digest);
      if (ok)
         memcpy(digestAt, digest, digestLength);
   }
   if (!ok || p != buffer + total)
   {
      ZbCleanse(buffer, (size_t)total);
      free(buffer);
      return 0;
   }
   *out = buffer;
   return (uint32_t)total;
}

/* ---- Parsing ---- */

/* An INTEGER element as its 32 bits. */
static int GetInteger(BerCursor *c, uint32_t *out)
{
   uint32_t type;
   BerCursor content;
   if (!BerGetElement(c, &type, &content) || type != ASN_TYPE_INTEGER)
      return 0;
   return BerDecodeValue(type, content.p, content.left, out);
}

/* An INTEGER element in 0 .. 2^31 - 1 (a negative one reads as 2^31 or more). */
static int GetInt31(BerCursor *c, uint32_t *out)
{
   uint32_t v;
   if (!GetInteger(c, &v) || v > V3_MAX_INT)
      return 0;
   *out = v;
   return 1;
}

static int GetOctets(BerCursor *c, const uint8_t **data, uint32_t *length)
{
   uint32_t type;
   BerCursor content;
   if (!BerGetElement(c, &type, &content) || type != ASN_TYPE_OCTET_STRING)
      return 0;
   *data = content.p;
   *length = content.left;
   return 1;
}

int ZbV3ParseMessage(const uint8_t *data, uint32_t length, ZbV3Message *out)
{
   ZbV3Message m;
   memset(&m, 0, sizeof(m));
   BerCursor c = {data, length}, msg, global, params, usm;
   uint32_t type, version;
   if (!BerGetElement(&c, &type, &msg) || type != ASN_TYPE_SEQUENCE)
      return 0;
   m.data = data;
   m.length = length - c.left;
   if (!GetInt31(&msg, &version) || version != SNMP_VERSION_3)
      return 0;

   const uint8_t *flags;
   uint32_t flagsLength;
   if (!BerGetElement(&msg, &type, &global) || type != ASN_TYPE_SEQUENCE ||
       !GetInt31(&global, &m.msgId) || !GetInt31(&global, &m.maxSize) ||
       !GetOctets(&global, &flags, &flagsLength) || !GetInt31(&global, &m.securityModel))
      return 0;
   /* RFC 3412 7.2 step 3: msgMaxSize of at least 484, one octet of flags,
      and privacy only with authentication. */
   if (m.maxSize < V3_MIN_MAX_SIZE || flagsLength != 1 || m.securityModel != V3_SECURITY_MODEL_USM)
      return 0;
   m.flags = flags[0];
   if ((m.flags & (V3_FLAG_AUTH | V3_FLAG_PRIV)) == V3_FLAG_PRIV)
      return 0;

   /* RFC 3414 2.4: the USM parameters are a SEQUENCE inside an OCTET STRING. */
   if (!BerGetElement(&msg, &type, &params) || type != ASN_TYPE_OCTET_STRING ||
       !BerGetElement(&params, &type, &usm) || type != ASN_TYPE_SEQUENCE ||
       !GetOctets(&usm, &m.engineId, &m.engineIdLength) || !GetInt31(&usm, &m.boots) ||
       !GetInt31(&usm, &m.time) || !GetOctets(&usm, &m.user, &m.userLength) ||
       !GetOctets(&usm, &m.authParams, &m.authParamsLength) ||
       !GetOctets(&usm, &m.privParams, &m.privParamsLength))
      return 0;
   if (m.engineIdLength > USM_MAX_ENGINE_ID || m.userLength > USM_MAX_NAME)
      return 0;

   const uint8_t *scopedStart = msg.p;
   BerCursor scoped;
   if (!BerGetElement(&msg, &type, &scoped))
      return 0;
   if (m.flags & V3_FLAG_PRIV)
   {
      if (type != ASN_TYPE_OCTET_STRING)
         return 0;
      m.scoped = scoped.p;
      m.scopedLength = scoped.left;
   }
   else
   {
      if (type != ASN_TYPE_SEQUENCE)
         return 0;
      m.scoped = scopedStart;
      m.scopedLength = (uint32_t)(scoped.p + scoped.left - scopedStart);
   }
   *out = m;
   return 1;
}

int ZbV3CheckDigest(const ZbV3Message *m, uint32_t authMethod, const uint8_t *authKey)
{
   uint32_t digestLength = ZbUsmDigestLength(authMethod);
   if (digestLength == 0 || m->authParamsLength != digestLength || authKey == nullptr)
      return 0;
   uint8_t digest[ZB_HASH_MAX_SIZE];
   if (!MessageDigest(authMethod, authKey, m->data, m->length, m->authParams, digestLength, digest))
      return 0;
   return ZbConstantTimeEqual(digest, m->authParams, digestLength);
}

int ZbV3ParseScoped(const uint8_t *data, uint32_t length, ZbV3Scoped *out)
{
   BerCursor c = {data, length}, scoped, pdu;
   uint32_t type;
   ZbV3Scoped s;
   if (!BerGetElement(&c, &type, &scoped) || type != ASN_TYPE_SEQUENCE ||
       !GetOctets(&scoped, &s.contextEngineId, &s.contextEngineIdLength) ||
       !GetOctets(&scoped, &s.contextName, &s.contextNameLength))
      return 0;
   s.pdu = scoped.p;
   if (!BerGetElement(&scoped, &type, &pdu))
      return 0;
   s.pduLength = (uint32_t)(pdu.p + pdu.left - s.pdu);
   *out = s;
   return 1;
}

void ZbV3FreePlain(uint8_t *plain, uint32_t length)
{
   if (plain == nullptr)
      return;
   ZbCleanse(plain, length);
   free(plain);
}

uint32_t ZbV3Decrypt(const ZbV3Message *m, uint32_t privMethod, const uint8_t *privKey,
                     uint8_t **plain, uint32_t *plainLength)
{
   ZbUsmPrivInfo info;
   if (!ZbUsmPrivInfoOf(privMethod, &info) || privKey == nullptr ||
       m->privParamsLength != USM_SALT_LENGTH || m->scopedLength == 0)
      return SNMP_RC_DECRYPTION_ERROR;
   /* RFC 3414 8.3.2 step 2: DES ciphertext comes in whole blocks. */
   if (info.cipher == ZB_CIPHER_DES_CBC && m->scopedLength % 8 != 0)
      return SNMP_RC_DECRYPTION_ERROR;
   uint8_t *buffer = (uint8_t *)malloc(m->scopedLength);
   if (buffer == nullptr)
      return SNMP_RC_DECRYPTION_ERROR;
   uint8_t iv[16];
   MakeIv(info.cipher, privKey, m->privParams, m->boots, m->time, iv);
   BerCursor c = {buffer, m->scopedLength}, content;
   uint32_t type;
   if (!ZbCipherRun(info.cipher, 0, privKey, iv, m->scoped, m->scopedLength, buffer) ||
       !BerGetElement(&c, &type, &content) || type != ASN_TYPE_SEQUENCE)
   {
      ZbV3FreePlain(buffer, m->scopedLength);
      return SNMP_RC_DECRYPTION_ERROR;
   }
   *plain = buffer;
   *plainLength = m->scopedLength;
   return SNMP_RC_SUCCESS;
}

void ZbV3ReceivedFree(ZbV3Received *r)
{
   ZbV3FreePlain(r->plain, r->plainLength);
   r->plain = nullptr;
   r->plainLength = 0;
}

bool ZbV3IsMessage(const uint8_t *data, uint32_t length)
{
   BerCursor c = {data, length}, message, version;
   uint32_t type, v = 0;
   return BerGetElement(&c, &type, &message) && type == ASN_TYPE_SEQUENCE &&
          BerGetElement(&message, &type, &version) && type == ASN_TYPE_INTEGER &&
          BerDecodeValue(type, version.p, version.left, &v) && v == SNMP_VERSION_3;
}

uint32_t ZbV3LevelOf(uint32_t flags)
{
   if ((flags & V3_FLAG_AUTH) == 0)
      return SNMP_SEC_NO_AUTH_NO_PRIV;
   return (flags & V3_FLAG_PRIV) ? SNMP_SEC_AUTH_PRIV : SNMP_SEC_AUTH_NO_PRIV;
}

bool ZbV3SameOctets(const uint8_t *a, uint32_t aLength, const uint8_t *b, uint32_t bLength)
{
   return aLength == bLength && (aLength == 0 || memcmp(a, b, aLength) == 0);
}

/* 1 when the identity holds the keys that a message of the level needs. */
static bool HasKeysFor(const ZbUsmIdentityData *id, uint32_t level)
{
   return (level < SNMP_SEC_AUTH_NO_PRIV || id->authKeyLength > 0) &&
          (level < SNMP_SEC_AUTH_PRIV || id->privKeyLength > 0);
}

/* RFC 3412 7.2 step 13 for a manager: a response comes at the request's
   level (exact), a notification at the receiver's level or above (at
   least); a Report may come lower (the agent could not authenticate us). */
bool ZbV3LevelAccepted(const ZbUsmIdentityData *id, uint32_t level, bool report, bool atLeast)
{
   if (!HasKeysFor(id, level))
      return false;
   if (atLeast)
      return report || level >= id->level;
   return report ? level <= id->level : level == id->level;
}

uint32_t ZbV3Receive(ZbUsmIdentityData *id, ZbUsmPeer *peer, const uint8_t *data,
                     uint32_t length, int64_t now, ZbV3Received *out, bool atLeast)
{
   if (peer == nullptr)
      peer = &id->peer;
   ZbV3Received r;
   memset(&r, 0, sizeof(r));
   if (!ZbV3ParseMessage(data, length, &r.message))
      return SNMP_RC_PARSE_ERROR;
   const ZbV3Message &m = r.message;
   if ((m.flags & V3_FLAG_AUTH) == 0)
   {
      if (!ZbV3ParseScoped(m.scoped, m.scopedLength, &r.scoped))
         return SNMP_RC_PARSE_ERROR;
      if (!ZbV3LevelAccepted(id, SNMP_SEC_NO_AUTH_NO_PRIV, r.scoped.pdu[0] == ASN_PDU_REPORT, atLeast))
         return SNMP_RC_UNSUPPORTED_SEC_LEVEL;
      *out = r;
      return SNMP_RC_SUCCESS;
   }

   /* RFC 3414 3.2 steps 3-8, as the non-authoritative side. */
   uint32_t level = ZbV3LevelOf(m.flags);
   bool priv = (level == SNMP_SEC_AUTH_PRIV);
   /* A level the identity cannot check, or (a response) above its own:
      refused before any work. Whether the PDU may come at it is known once
      the PDU is read. */
   if (!HasKeysFor(id, level) || (!atLeast && level > id->level))
      return SNMP_RC_UNSUPPORTED_SEC_LEVEL;
   if (!ZbV3SameOctets(m.user, m.userLength, (const uint8_t *)id->user, id->userLength))
      return SNMP_RC_UNKNOWN_USER_NAME;
   if (peer->engine.idLength > 0 &&
       !ZbV3SameOctets(m.engineId, m.engineIdLength, peer->engine.id, peer->engine.idLength))
      return SNMP_RC_UNKNOWN_ENGINE_ID;
   const ZbUsmLocalKeys *keys = ZbUsmKeysFor(id, peer, m.engineId, m.engineIdLength);
   if (keys == nullptr)
      return SNMP_RC_SECURITY_UNAVAILABLE;
   if (!ZbV3CheckDigest(&m, id->authMethod, keys->auth))
      return SNMP_RC_WRONG_DIGEST;
   ZbUsmEngine engine = peer->engine;
   if (engine.idLength == 0)
      ZbUsmEngineSetId(&engine, m.engineId, m.engineIdLength);
   if (!ZbUsmEngineAccept(&engine, m.boots, m.time, now))
      return SNMP_RC_NOT_IN_TIME_WINDOW;
   const uint8_t *scoped = m.scoped;
   uint32_t scopedLength = m.scopedLength;
   if (priv)
   {
      uint32_t rc = ZbV3Decrypt(&m, id->privMethod, keys->priv, &r.plain, &r.plainLength);
      if (rc != SNMP_RC_SUCCESS)
         return rc;
      scoped = r.plain;
      scopedLength = r.plainLength;
   }
   if (!ZbV3ParseScoped(scoped, scopedLength, &r.scoped))
   {
      ZbV3ReceivedFree(&r);
      return SNMP_RC_PARSE_ERROR;
   }
   if (!ZbV3LevelAccepted(id, level, r.scoped.pdu[0] == ASN_PDU_REPORT, atLeast))
   {
      ZbV3ReceivedFree(&r);
      return SNMP_RC_UNSUPPORTED_SEC_LEVEL;
   }
   peer->engine = engine;
   r.authenticated = true;
   *out = r;
   return SNMP_RC_SUCCESS;
}

/* ---- Requests ---- */

uint32_t ZbV3EncodeRequest(ZbUsmIdentityData *id, ZbUsmPeer *peer, uint32_t msgId,
                           uint32_t maxSize, const uint8_t *pdu, uint32_t pduLength, int64_t now,
                           uint8_t **out, uint32_t *outLength)
{
   if (peer == nullptr && id != nullptr)
      peer = &id->peer;
   uint32_t rc = ZbUsmCheckIdentity(id);
   if (rc != SNMP_RC_SUCCESS)
      return rc;
   const ZbUsmEngine &engine = peer->engine;
   const ZbUsmLocalKeys *keys = ZbUsmKeysFor(id, peer, engine.id, engine.idLength);
   if (keys == nullptr)
      return SNMP_RC_SECURITY_UNAVAILABLE;
   ZbV3Outgoing o;
   memset(&o, 0, sizeof(o));
   o.msgId = msgId;
   o.maxSize = maxSize;
   o.reportable = true;
   ZbV3Security &s = o.security;
   s.level = id->level;
   s.user = (const uint8_t *)id->user;
   s.userLength = id->userLength;
   s.authMethod = id->authMethod;
   s.authKey = keys->auth;
   s.privMethod = id->privMethod;
   s.privKey = keys->priv;
   s.engineId = engine.id;
   s.engineIdLength = engine.idLength;
   s.boots = engine.timeKnown ? engine.boots : 0;
   s.time = ZbUsmEngineTimeNow(&engine, now);
   if (id->level == SNMP_SEC_AUTH_PRIV)
      s.salt = id->salt++;
   if (id->contextEngineIdLength > 0)
   {
      o.contextEngineId = id->contextEngineId;
      o.contextEngineIdLength = id->contextEngineIdLength;
   }
   else
   {
      o.contextEngineId = engine.id;
      o.contextEngineIdLength = engine.idLength;
   }
   o.contextName = (const uint8_t *)id->contextName;
   o.contextNameLength = id->contextNameLength;
   o.pdu = pdu;
   o.pduLength = pduLength;
   uint32_t n = ZbV3Encode(&o, out);
   if (n == 0)
      return SNMP_RC_BAD_PARAMETERS;
   *outLength = n;
   return SNMP_RC_SUCCESS;
}

uint32_t ZbV3EncodeDiscovery(uint32_t msgId, uint32_t maxSize, const uint8_t *pdu,
                             uint32_t pduLength, uint8_t **out)
{
   ZbV3Outgoing o;
   memset(&o, 0, sizeof(o));
   o.msgId = msgId;
   o.maxSize = maxSize;
   o.reportable = true;
   o.security.level = SNMP_SEC_NO_AUTH_NO_PRIV;
   o.pdu = pdu;
   o.pduLength = pduLength;
   return ZbV3Encode(&o, out);
}

/* ---- Reports ---- */

/* usmStats (RFC 3414 5): 1.3.6.1.6.3.15.1.1.N */
const uint32_t ZB_USM_STATS_PREFIX[ZB_USM_STATS_PREFIX_LENGTH] = {1, 3, 6, 1, 6, 3, 15, 1, 1};
static const uint32_t s_usmStatsCode[] = {
   SNMP_RC_UNSUPPORTED_SEC_LEVEL, SNMP_RC_NOT_IN_TIME_WINDOW, SNMP_RC_UNKNOWN_USER_NAME,
   SNMP_RC_UNKNOWN_ENGINE_ID,     SNMP_RC_WRONG_DIGEST,       SNMP_RC_DECRYPTION_ERROR,
};

uint32_t ZbUsmReportCode(const uint32_t *name, uint32_t length)
{
   const uint32_t prefix = ZB_USM_STATS_PREFIX_LENGTH;
   if (name == nullptr || length < prefix + 1 || length > prefix + 2 ||
       memcmp(name, ZB_USM_STATS_PREFIX, sizeof(ZB_USM_STATS_PREFIX)) != 0)
      return SNMP_RC_REPORT;
   if (length == prefix + 2 && name[prefix + 1] != 0)
      return SNMP_RC_REPORT;
   uint32_t n = name[prefix];
   if (n < 1 || n > sizeof(s_usmStatsCode) / sizeof(s_usmStatsCode[0]))
      return SNMP_RC_REPORT;
   return s_usmStatsCode[n - 1];
}

int ZbV3ReadReport(const uint8_t *pdu, uint32_t length, uint32_t *requestId, uint32_t *status)
{
   BerCursor c = {pdu, length}, body, list, binding, name;
   uint32_t type, id, errorStatus, errorIndex;
   if (!BerGetElement(&c, &type, &body) || type != ASN_PDU_REPORT)
      return 0;
   if (!GetInteger(&body, &id) || !GetInteger(&body, &errorStatus) ||
       !GetInteger(&body, &errorIndex) || !BerGetElement(&body, &type, &list) ||
       type != ASN_TYPE_SEQUENCE)
      return 0;
   uint32_t code = SNMP_RC_REPORT;
   if (list.left > 0)
   {
      if (!BerGetElement(&list, &type, &binding) || type != ASN_TYPE_SEQUENCE ||
          !BerGetElement(&binding, &type, &name) || type != ASN_TYPE_OBJECT_ID)
         return 0;
      /* A usmStats name is short; a longer one is some other Report. */
      uint32_t ids[16];
      uint32_t count = 0;
      if (name.left < sizeof(ids) / sizeof(ids[0]) && BerDecodeOidInto(name.p, name.left, ids, &count))
         code = ZbUsmReportCode(ids, count);
   }
   *requestId = id;
   *status = code;
   return 1;
}
