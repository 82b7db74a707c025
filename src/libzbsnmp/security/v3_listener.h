/* The receiving side of SNMPv3 notifications, without I/O: traps, whose
   sender is the authoritative engine (RFC 3414 1.5.1: a user table keyed
   by user name and the sender's engine ID), and informs, whose receiver is
   (a local engine with its own ID, boots and time, which answers discovery
   and the USM errors with Reports, RFC 3412 7.1 and RFC 3414 3.2).
   Internal; not installed. */
#ifndef ZBSNMP_SECURITY_V3_LISTENER_H
#define ZBSNMP_SECURITY_V3_LISTENER_H

#include "security/v3_message.h"

/* One identity of the table, with what the listener keeps for it: the
   engine it learnt from the identity's traps and the keys localised for
   it, or for informs the keys localised for the local engine. */
struct ZbV3ListenerUser
{
   SNMP_USMIdentity *identity;  /* lent */
   ZbUsmPeer trapPeer;          /* the sender's engine (traps) */
   ZbUsmPeer informPeer;        /* the keys for the local engine (informs) */
};

/* usmStats counters of RFC 3414 5, in their order (1 .. 6). */
enum ZbUsmStat
{
   USM_STAT_UNSUPPORTED_SEC_LEVELS,
   USM_STAT_NOT_IN_TIME_WINDOWS,
   USM_STAT_UNKNOWN_USER_NAMES,
   USM_STAT_UNKNOWN_ENGINE_IDS,
   USM_STAT_WRONG_DIGESTS,
   USM_STAT_DECRYPTION_ERRORS,
   USM_STAT_COUNT,
};

struct ZbV3Listener
{
   uint8_t engineId[USM_MAX_ENGINE_ID];
   uint32_t engineIdLength;   /* 0 until made or set */
   uint32_t boots;
   int64_t startedAt;         /* ZbMonotonicSeconds() at engine time 0 */
   ZbV3ListenerUser *users;   /* malloc'ed, userCount of userCapacity used */
   uint32_t userCount;
   uint32_t userCapacity;
   uint32_t stats[USM_STAT_COUNT];
   uint32_t lastStatus;       /* of the last v3 message taken in */
};

/* A listener with no users and no engine yet; NULL when no memory is left.
   ZbV3ListenerFree wipes the keys it made and frees it (NULL is allowed). */
ZbV3Listener *ZbV3ListenerNew();
void ZbV3ListenerFree(ZbV3Listener *l);

/* Adds an identity (lent; the same one twice is refused): with an engine
   ID (SNMP_USMIdentity::SetEngineId) it takes traps from that engine;
   without one, informs to the local engine. 1 on success. */
int ZbV3ListenerAddUser(ZbV3Listener *l, SNMP_USMIdentity *identity);
/* Removes it; 0 when it was not there. */
int ZbV3ListenerRemoveUser(ZbV3Listener *l, SNMP_USMIdentity *identity);

/* The local engine: ID (5 to 32 octets), boots (1 .. 2^31 - 2) and a time
   that starts at 0 now. 0 for values out of range. */
int ZbV3ListenerSetEngine(ZbV3Listener *l, const uint8_t *engineId, uint32_t length,
                          uint32_t boots, int64_t now);
/* The local engine's ID; made on first use when none was set: the RFC 3411
   format with enterprise number 0 (no one's: 80 00 00 00), format 5
   (octets) and 8 random octets (without libcrypto, octets mixed from the
   clocks), with boots 1. 1 on success. */
int ZbV3ListenerEngine(ZbV3Listener *l, int64_t now);
/* snmpEngineTime now (seconds since the engine started, latched at
   2^31 - 1). */
uint32_t ZbV3ListenerTime(const ZbV3Listener *l, int64_t now);

/* Takes one received SNMPv3 message. own is the identity of requests sent
   from the same socket (its responses and Reports are taken with it) or
   NULL. Results: SNMP_RC_SUCCESS and a new PDU in *pdu (the caller's),
   or with *pdu NULL for discovery (an empty engine ID) answered with a
   Report; SNMP_RC_PARSE_ERROR for a message that does not parse (nothing
   sent); otherwise why it was dropped (the RFC's error indications). A
   reportable message that is not delivered gets the Report to send back to
   its sender in a new malloc block (*reply, *replyLength; NULL when there
   is none). */
uint32_t ZbV3ListenerReceive(ZbV3Listener *l, ZbUsmIdentityData *own, const uint8_t *data,
                             uint32_t length, int64_t now, SNMP_PDU **pdu, uint8_t **reply,
                             uint32_t *replyLength);

/* The Response that acknowledges an inform the listener took in (RFC 3416
   4.2.7, RFC 3412 7.1 step 3): its msgID, level, user and context, from
   the local engine, not reportable. Its length and a new malloc block in
   *out, or 0 when the PDU is no v3 inform of this listener's users or
   does not encode. */
uint32_t ZbV3ListenerAcknowledge(ZbV3Listener *l, SNMP_PDU *inform, int64_t now, uint8_t **out);

#endif
