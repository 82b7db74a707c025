/* ZbV3Listener: SNMPv3 traps and informs taken in, the Reports that answer
   discovery and the USM errors, and the acknowledgement of informs. */
#include "security/v3_listener.h"

#include <stdio.h>
#include <string.h>

#include <chrono>
#include <new>

#include "security/v3_pdu.h"

ZbV3Listener *ZbV3ListenerNew()
{
   ZbV3Listener *l = (ZbV3Listener *)calloc(1, sizeof(ZbV3Listener));
   if (l != nullptr)
      l->lastStatus = SNMP_RC_SUCCESS;
   return l;
}

void ZbV3ListenerFree(ZbV3Listener *l)
{
   if (l == nullptr)
      return;
   if (l->users != nullptr)
   {
      ZbCleanse(l->users, (size_t)l->userCapacity * sizeof(ZbV3ListenerUser));
      free(l->users);
   }
   free(l);
}

int ZbV3ListenerAddUser(ZbV3Listener *l, SNMP_USMIdentity *identity)
{
   if (ZbUsmAccess::Data(identity) == nullptr)
      return 0;
   for (uint32_t i = 0; i < l->userCount; i++)
      if (l->users[i].identity == identity)
         return 0;
   if (l->userCount == l->userCapacity)
   {
      uint32_t capacity = l->userCapacity < 4 ? 4 : l->userCapacity * 2;
      if (capacity > 0xFFFFFF)
         return 0;
      ZbV3ListenerUser *users =
          (ZbV3ListenerUser *)calloc(capacity, sizeof(ZbV3ListenerUser));
      if (users == nullptr)
         return 0;
      if (l->userCount > 0)
         memcpy(users, l->users, (size_t)l->userCount * sizeof(ZbV3ListenerUser));
      if (l->users != nullptr)
      {
         ZbCleanse(l->users, (size_t)l->userCapacity * sizeof(ZbV3ListenerUser));
         free(l->users);
      }
      l->users = users;
      l->userCapacity = capacity;
   }
   ZbV3ListenerUser &u = l->users[l->userCount++];
   memset(&u, 0, sizeof(u));
   u.identity = identity;
   return 1;
}

int ZbV3ListenerRemoveUser(ZbV3Listener *l, SNMP_USMIdentity *identity)
{
   for (uint32_t i = 0; i < l->userCount; i++)
   {
      if (l->users[i].identity != identity)
         continue;
      memmove(&l->users[i], &l->users[i + 1],
              (size_t)(l->userCount - i - 1) * sizeof(ZbV3ListenerUser));
      l->userCount--;
      ZbCleanse(&l->users[l->userCount], sizeof(ZbV3ListenerUser));
      return 1;
   }
   return 0;
}

int ZbV3ListenerSetEngine(ZbV3Listener *l, const uint8_t *engineId, uint32_t length,
                          uint32_t boots, int64_t now)
{
   /* RFC 3411 SnmpEngineID: 5 to 32 octets; snmpEngineBoots below the latch. */
   if (engineId == nullptr || length < 5 || length > USM_MAX_ENGINE_ID || boots == 0 ||
       boots >= USM_MAX_BOOTS)
      return 0;
   memcpy(l->engineId, engineId, length);
   l->engineIdLength = length;
   l->boots = boots;
   l->startedAt = now;
   /* Keys localised for the old engine are of no use any more. */
   for (uint32_t i = 0; i < l->userCount; i++)
      ZbCleanse(&l->users[i].informPeer, sizeof(ZbUsmPeer));
   return 1;
}

int ZbV3ListenerEngine(ZbV3Listener *l, int64_t now)
{
   if (l->engineIdLength > 0)
      return 1;
   uint8_t id[13] = {0x80, 0x00, 0x00, 0x00, 0x05};
   if (!ZbRandomBytes(id + 5, 8))
   {
      /* Without libcrypto (noAuthNoPriv only) the ID needs to be unique, not
         secret: the clocks and where this listener lives, mixed. */
      uint64_t v = (uint64_t)std::chrono::system_clock::now().time_since_epoch().count() ^
                   ((uint64_t)std::chrono::steady_clock::now().time_since_epoch().count() << 17) ^
                   (uint64_t)(uintptr_t)l;
      v = (v ^ (v >> 30)) * 0xBF58476D1CE4E5B9ULL;
      v = (v ^ (v >> 27)) * 0x94D049BB133111EBULL;
      v ^= v >> 31;
      for (int i = 0; i < 8; i++)
         id[5 + i] = (uint8_t)(v >> (8 * i));
   }
   return ZbV3ListenerSetEngine(l, id, sizeof(id), 1, now);
}

uint32_t ZbV3ListenerTime(const ZbV3Listener *l, int64_t now)
{
   int64_t t = now > l->startedAt ? now - l->startedAt : 0;
   return t > (int64_t)V3_MAX_INT ? V3_MAX_INT : (uint32_t)t;
}

static bool IsUser(const ZbUsmIdentityData *d, const uint8_t *user, uint32_t length)
{
   return ZbV3SameOctets((const uint8_t *)d->user, d->userLength, user, length);
}

/* The identity of the user for traps from the engine; *userKnown tells
   whether the user is there for another engine. */
static ZbV3ListenerUser *FindTrapUser(ZbV3Listener *l, const ZbV3Message &m, bool *userKnown)
{
   *userKnown = false;
   for (uint32_t i = 0; i < l->userCount; i++)
   {
      ZbUsmIdentityData *d = ZbUsmAccess::Data(l->users[i].identity);
      if (!IsUser(d, m.user, m.userLength))
         continue;
      *userKnown = true;
      const ZbUsmEngine &e = d->peer.engine;
      if (e.idLength > 0 && ZbV3SameOctets(e.id, e.idLength, m.engineId, m.engineIdLength))
         return &l->users[i];
   }
   return nullptr;
}

/* The identity of the user for informs to the local engine: one without an
   engine of its own, or with the local engine's ID. */
static ZbV3ListenerUser *FindInformUser(ZbV3Listener *l, const uint8_t *user, uint32_t length)
{
   for (uint32_t i = 0; i < l->userCount; i++)
   {
      ZbUsmIdentityData *d = ZbUsmAccess::Data(l->users[i].identity);
      const ZbUsmEngine &e = d->peer.engine;
      if (IsUser(d, user, length) &&
          (e.idLength == 0 || ZbV3SameOctets(e.id, e.idLength, l->engineId, l->engineIdLength)))
         return &l->users[i];
   }
   return nullptr;
}

/* The fields of a message from the local engine (a Report or a Response)
   that answers msgId for the user, at the level: with the identity's
   methods and the keys above noAuthNoPriv. The caller adds the context and
   the PDU element. */
static void StartReply(const ZbV3Listener *l, uint32_t msgId, uint32_t level, const uint8_t *user,
                       uint32_t userLength, ZbUsmIdentityData *id, const ZbUsmLocalKeys *keys,
                       int64_t now, ZbV3Outgoing *o)
{
   memset(o, 0, sizeof(*o));
   o->msgId = msgId;
   o->maxSize = V3_OUR_MAX_SIZE;
   o->reportable = false; /* RFC 3412 7.1 step 3: responses and Reports never are */
   ZbV3Security &s = o->security;
   s.level = level;
   s.user = user;
   s.userLength = userLength;
   if (level >= SNMP_SEC_AUTH_NO_PRIV)
   {
      s.authMethod = id->authMethod;
      s.authKey = keys->auth;
      s.privMethod = id->privMethod;
      s.privKey = keys->priv;
      if (level == SNMP_SEC_AUTH_PRIV)
         s.salt = id->salt++;
   }
   s.engineId = l->engineId;
   s.engineIdLength = l->engineIdLength;
   s.boots = l->boots;
   s.time = ZbV3ListenerTime(l, now);
}

/* Counts the error and, when the message asks for Reports, writes the one
   that tells its sender (RFC 3412 7.1 step 3, RFC 3414 3.2): our engine's
   ID, boots and time, the usmStats counter as its binding, the request-id
   when it could be read (else 0). Unauthenticated, except notInTimeWindow
   (authNoPriv with keys, RFC 3414 3.2 step 7a). */
static uint32_t Refuse(ZbV3Listener *l, uint32_t status, ZbUsmStat stat, const ZbV3Message &m,
                       uint32_t requestId, ZbUsmIdentityData *id, const ZbUsmLocalKeys *keys,
                       int64_t now, uint8_t **reply, uint32_t *replyLength)
{
   l->stats[stat]++;
   if ((m.flags & V3_FLAG_REPORTABLE) == 0)
      return status;
   SNMP_PDU report(SNMP_CMD_REPORT, "", requestId, SNMP_VERSION_3);
   uint32_t name[ZB_USM_STATS_PREFIX_LENGTH + 2];
   memcpy(name, ZB_USM_STATS_PREFIX, sizeof(ZB_USM_STATS_PREFIX));
   name[ZB_USM_STATS_PREFIX_LENGTH] = (uint32_t)stat + 1;   /* usmStats N.0 */
   name[ZB_USM_STATS_PREFIX_LENGTH + 1] = 0;
   SNMP_Variable *counter = new (std::nothrow) SNMP_Variable(name, sizeof(name) / sizeof(name[0]));
   if (counter == nullptr)
      return status;
   char text[16];
   snprintf(text, sizeof(text), "%u", l->stats[stat]);
   counter->SetValueFromString(ASN_TYPE_COUNTER32, text);
   report.BindVariable(counter);
   uint8_t *element = nullptr;
   uint32_t elementLength = ZbPduAccess::EncodeElement(&report, &element);
   if (elementLength == 0)
      return status;
   ZbV3Outgoing o;
   StartReply(l, m.msgId, keys != nullptr ? SNMP_SEC_AUTH_NO_PRIV : SNMP_SEC_NO_AUTH_NO_PRIV,
              m.user, m.userLength, id, keys, now, &o);
   o.contextEngineId = l->engineId;
   o.contextEngineIdLength = l->engineIdLength;
   o.pdu = element;
   o.pduLength = elementLength;
   uint8_t *out = nullptr;
   uint32_t n = ZbV3Encode(&o, &out);
   free(element);
   if (n > 0)
   {
      *reply = out;
      *replyLength = n;
   }
   return status;
}

/* The request-id of a plain scopedPDU, for the Report that answers it. */
static uint32_t PlainRequestId(const uint8_t *scoped, uint32_t length)
{
   ZbV3Scoped s;
   uint32_t id = 0;
   if (!ZbV3ParseScoped(scoped, length, &s) || !ZbV3RequestIdOf(s.pdu, s.pduLength, &id))
      return 0;
   return id;
}

/* RFC 3414 3.2 as the authoritative engine: an inform (or discovery). */
static uint32_t ReceiveAuthoritative(ZbV3Listener *l, const ZbV3Message &m, int64_t now,
                                     SNMP_PDU **pdu, uint8_t **reply, uint32_t *replyLength)
{
   bool priv = (m.flags & V3_FLAG_PRIV) != 0;
   uint32_t requestId = priv ? 0 : PlainRequestId(m.scoped, m.scopedLength);
   /* A listener without users has no engine to show: nothing would pass. */
   if (l->userCount == 0)
   {
      l->stats[USM_STAT_UNKNOWN_USER_NAMES]++;
      return SNMP_RC_UNKNOWN_USER_NAME;
   }
   if (!ZbV3ListenerEngine(l, now))
      return SNMP_RC_SECURITY_UNAVAILABLE;
   /* Step 3: an engine ID that is not ours. An empty one is discovery
      (RFC 3414 4): answered the same way, and nothing wrong. */
   if (!ZbV3SameOctets(m.engineId, m.engineIdLength, l->engineId, l->engineIdLength))
      return Refuse(l, m.engineIdLength == 0 ? SNMP_RC_SUCCESS : SNMP_RC_UNKNOWN_ENGINE_ID,
                    USM_STAT_UNKNOWN_ENGINE_IDS, m, requestId, nullptr, nullptr, now, reply,
                    replyLength);
   /* Step 4: the user. */
   ZbV3ListenerUser *u = FindInformUser(l, m.user, m.userLength);
   if (u == nullptr)
      return Refuse(l, SNMP_RC_UNKNOWN_USER_NAME, USM_STAT_UNKNOWN_USER_NAMES, m, requestId,
                    nullptr, nullptr, now, reply, replyLength);
   ZbUsmIdentityData *d = ZbUsmAccess::Data(u->identity);
   /* Step 5: a level the user is configured for (this one or above). */
   uint32_t level = ZbV3LevelOf(m.flags);
   if (!ZbV3LevelAccepted(d, level, false, true))
      return Refuse(l, SNMP_RC_UNSUPPORTED_SEC_LEVEL, USM_STAT_UNSUPPORTED_SEC_LEVELS, m,
                    requestId, nullptr, nullptr, now, reply, replyLength);
   const uint8_t *scoped = m.scoped;
   uint32_t scopedLength = m.scopedLength;
   uint8_t *plain = nullptr;
   uint32_t plainLength = 0;
   if (level >= SNMP_SEC_AUTH_NO_PRIV)
   {
      const ZbUsmLocalKeys *keys = ZbUsmKeysFor(d, &u->informPeer, l->engineId, l->engineIdLength);
      if (keys == nullptr)
         return SNMP_RC_SECURITY_UNAVAILABLE;
      /* Step 6: the digest. */
      if (!ZbV3CheckDigest(&m, d->authMethod, keys->auth))
         return Refuse(l, SNMP_RC_WRONG_DIGEST, USM_STAT_WRONG_DIGESTS, m, requestId, nullptr,
                       nullptr, now, reply, replyLength);
      /* Step 7a: our boots, and our time within 150 s of the message's. */
      if (!ZbUsmInTimeWindow(l->boots, ZbV3ListenerTime(l, now), m.boots, m.time))
         return Refuse(l, SNMP_RC_NOT_IN_TIME_WINDOW, USM_STAT_NOT_IN_TIME_WINDOWS, m, requestId, d,
                       keys, now, reply, replyLength);
      /* Step 8: decryption. */
      if (priv)
      {
         if (ZbV3Decrypt(&m, d->privMethod, keys->priv, &plain, &plainLength) != SNMP_RC_SUCCESS)
            return Refuse(l, SNMP_RC_DECRYPTION_ERROR, USM_STAT_DECRYPTION_ERRORS, m, requestId,
                          nullptr, nullptr, now, reply, replyLength);
         scoped = plain;
         scopedLength = plainLength;
      }
   }
   ZbV3Scoped s;
   uint32_t rc = SNMP_RC_PARSE_ERROR;
   if (ZbV3ParseScoped(scoped, scopedLength, &s) && (*pdu = ZbV3MakePdu(m, s)) != nullptr)
      rc = SNMP_RC_SUCCESS;
   ZbV3FreePlain(plain, plainLength);
   return rc;
}

/* RFC 3414 3.2 as a non-authoritative receiver: a trap from its sender's
   engine, or a response to a request of the own identity. */
static uint32_t ReceiveNonAuthoritative(ZbV3Listener *l, ZbUsmIdentityData *own,
                                        const ZbV3Message &m, const uint8_t *data,
                                        uint32_t length, int64_t now, SNMP_PDU **pdu)
{
   ZbUsmIdentityData *d;
   ZbUsmPeer *peer;
   bool atLeast;
   const ZbUsmEngine *ownEngine = own != nullptr ? &own->peer.engine : nullptr;
   if (own != nullptr && IsUser(own, m.user, m.userLength) &&
       (ownEngine->idLength == 0 ||
        ZbV3SameOctets(ownEngine->id, ownEngine->idLength, m.engineId, m.engineIdLength)))
   {
      d = own;
      peer = nullptr;
      atLeast = false;
   }
   else
   {
      bool userKnown;
      ZbV3ListenerUser *u = FindTrapUser(l, m, &userKnown);
      if (u == nullptr)
      {
         ZbUsmStat stat = userKnown ? USM_STAT_UNKNOWN_ENGINE_IDS : USM_STAT_UNKNOWN_USER_NAMES;
         l->stats[stat]++;
         return userKnown ? SNMP_RC_UNKNOWN_ENGINE_ID : SNMP_RC_UNKNOWN_USER_NAME;
      }
      d = ZbUsmAccess::Data(u->identity);
      peer = &u->trapPeer;
      ZbUsmEngineSetId(&peer->engine, d->peer.engine.id, d->peer.engine.idLength);
      atLeast = true;
   }
   ZbV3Received r;
   uint32_t rc = ZbV3Receive(d, peer, data, length, now, &r, atLeast);
   if (rc != SNMP_RC_SUCCESS)
   {
      if (rc == SNMP_RC_WRONG_DIGEST)
         l->stats[USM_STAT_WRONG_DIGESTS]++;
      else if (rc == SNMP_RC_NOT_IN_TIME_WINDOW)
         l->stats[USM_STAT_NOT_IN_TIME_WINDOWS]++;
      else if (rc == SNMP_RC_UNSUPPORTED_SEC_LEVEL)
         l->stats[USM_STAT_UNSUPPORTED_SEC_LEVELS]++;
      else if (rc == SNMP_RC_DECRYPTION_ERROR)
         l->stats[USM_STAT_DECRYPTION_ERRORS]++;
      return rc;
   }
   *pdu = ZbV3MakePdu(r.message, r.scoped);
   ZbV3ReceivedFree(&r);
   return *pdu != nullptr ? SNMP_RC_SUCCESS : SNMP_RC_PARSE_ERROR;
}

uint32_t ZbV3ListenerReceive(ZbV3Listener *l, ZbUsmIdentityData *own, const uint8_t *data,
                             uint32_t length, int64_t now, SNMP_PDU **pdu, uint8_t **reply,
                             uint32_t *replyLength)
{
   *pdu = nullptr;
   *reply = nullptr;
   *replyLength = 0;
   ZbV3Message m;
   uint32_t rc;
   if (!ZbV3ParseMessage(data, length, &m))
      rc = SNMP_RC_PARSE_ERROR;
   /* The reportable flag marks the confirmed class (RFC 3412 6.4): the
      receiver is the authoritative engine for it. Traps, responses and
      Reports come from their authoritative sender. */
   else if (m.flags & V3_FLAG_REPORTABLE)
      rc = ReceiveAuthoritative(l, m, now, pdu, reply, replyLength);
   else
      rc = ReceiveNonAuthoritative(l, own, m, data, length, now, pdu);
   l->lastStatus = rc;
   return rc;
}

uint32_t ZbV3ListenerAcknowledge(ZbV3Listener *l, SNMP_PDU *inform, int64_t now, uint8_t **out)
{
   const ZbPduSecurity *facts = inform != nullptr ? ZbPduAccess::Security(inform) : nullptr;
   if (facts == nullptr || inform->GetCommand() != SNMP_CMD_INFORM_REQUEST ||
       !ZbV3SameOctets(facts->engineId, facts->engineIdLength, l->engineId, l->engineIdLength) ||
       l->engineIdLength == 0)
      return 0;
   uint32_t userLength = (uint32_t)strlen(facts->user);
   ZbV3ListenerUser *u = FindInformUser(l, (const uint8_t *)facts->user, userLength);
   if (u == nullptr)
      return 0;
   ZbUsmIdentityData *d = ZbUsmAccess::Data(u->identity);
   const ZbUsmLocalKeys *keys = nullptr;
   if (facts->level >= SNMP_SEC_AUTH_NO_PRIV &&
       (!ZbV3LevelAccepted(d, facts->level, false, true) ||
        (keys = ZbUsmKeysFor(d, &u->informPeer, l->engineId, l->engineIdLength)) == nullptr))
      return 0;
   uint8_t *element = nullptr;
   uint32_t elementLength = ZbPduAccess::EncodeInformResponse(inform, &element, true);
   if (elementLength == 0)
      return 0;
   ZbV3Outgoing o;
   StartReply(l, facts->msgId, facts->level, (const uint8_t *)facts->user, userLength, d, keys,
              now, &o);
   o.contextEngineId = facts->contextEngineId;
   o.contextEngineIdLength = facts->contextEngineIdLength;
   o.contextName = (const uint8_t *)facts->contextName;
   o.contextNameLength = (uint32_t)strlen(facts->contextName);
   o.pdu = element;
   o.pduLength = elementLength;
   uint32_t n = ZbV3Encode(&o, out);
   free(element);
   return n;
}
