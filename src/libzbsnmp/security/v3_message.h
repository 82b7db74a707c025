/* The SNMPv3 message (RFC 3412 6) around a PDU, with the USM security
   parameters (RFC 3414 2.4) and the scopedPDU, plain or encrypted. The PDU
   travels as bytes: its whole element (tag, length, content) as the PDU
   encoder writes it and the PDU parser reads it. Internal; not installed. */
#ifndef ZBSNMP_SECURITY_V3_MESSAGE_H
#define ZBSNMP_SECURITY_V3_MESSAGE_H

#include "security/usm.h"

/* msgFlags (RFC 3412 6.4) */
#define V3_FLAG_AUTH 0x01
#define V3_FLAG_PRIV 0x02
#define V3_FLAG_REPORTABLE 0x04
#define V3_SECURITY_MODEL_USM 3
#define V3_MIN_MAX_SIZE 484 /* the least msgMaxSize an engine may announce */
#define V3_MAX_INT 0x7FFFFFFFu
#define V3_OUR_MAX_SIZE 32768 /* msgMaxSize we announce: the UDP transport's receive buffer */

/* How one message is protected: the level and, above noAuthNoPriv, the
   keys localised for the authoritative engine. */
struct ZbV3Security
{
   uint32_t level;
   const uint8_t *user;
   uint32_t userLength;
   uint32_t authMethod;
   const uint8_t *authKey; /* ZbHashSize of the method's hash */
   uint32_t privMethod;
   const uint8_t *privKey; /* the method's key length */
   const uint8_t *engineId;
   uint32_t engineIdLength;
   uint32_t boots;
   uint32_t time;
   uint64_t salt;          /* the privacy salt of this message */
};

struct ZbV3Outgoing
{
   uint32_t msgId;   /* 0 .. 2^31 - 1 */
   uint32_t maxSize; /* 484 .. 2^31 - 1 */
   bool reportable;
   ZbV3Security security;
   const uint8_t *contextEngineId;
   uint32_t contextEngineIdLength;
   const uint8_t *contextName;
   uint32_t contextNameLength;
   const uint8_t *pdu; /* the PDU element */
   uint32_t pduLength;
};

/* Writes the whole message into a new malloc block stored in *out and
   returns its length. The digest is computed over the finished message
   with its placeholder of zeros, then written in place. 0 (nothing
   allocated, *out untouched) when a field is out of range, a key is
   missing at the level, or libcrypto fails. */
uint32_t ZbV3Encode(const ZbV3Outgoing *m, uint8_t **out);

/* A received message, parsed but not yet authenticated or decrypted. The
   pointers point into the received bytes. */
struct ZbV3Message
{
   const uint8_t *data;     /* the message element */
   uint32_t length;
   uint32_t msgId;
   uint32_t maxSize;
   uint32_t flags;
   uint32_t securityModel;
   const uint8_t *engineId;
   uint32_t engineIdLength;
   uint32_t boots;
   uint32_t time;
   const uint8_t *user;
   uint32_t userLength;
   const uint8_t *authParams;
   uint32_t authParamsLength;
   const uint8_t *privParams;
   uint32_t privParamsLength;
   const uint8_t *scoped;   /* plain: the scopedPDU element; encrypted: the ciphertext */
   uint32_t scopedLength;
};

/* RFC 3412 7.2 steps 1-2 and the USM parameters of RFC 3414 3.2 step 1:
   version 3, msgGlobalData in range (msgID and msgMaxSize within their
   ranges, msgFlags one octet and not priv without auth), security model
   USM, the parameters' SEQUENCE, and a scopedPDU of the kind the flags say.
   Octets behind the message are ignored. 1 on success; *out is written
   only then. */
int ZbV3ParseMessage(const uint8_t *data, uint32_t length, ZbV3Message *out);

/* 1 when the message's digest is the method's HMAC of the message with the
   digest's place zeroed, compared in constant time. */
int ZbV3CheckDigest(const ZbV3Message *m, uint32_t authMethod, const uint8_t *authKey);

/* The scopedPDU's fields, pointing into the message or the plaintext. */
struct ZbV3Scoped
{
   const uint8_t *contextEngineId;
   uint32_t contextEngineIdLength;
   const uint8_t *contextName;
   uint32_t contextNameLength;
   const uint8_t *pdu; /* the PDU element */
   uint32_t pduLength;
};

/* Reads a scopedPDU element (SEQUENCE of contextEngineID, contextName and
   the PDU); octets behind it (the padding of DES) are ignored. 1 on success. */
int ZbV3ParseScoped(const uint8_t *data, uint32_t length, ZbV3Scoped *out);

/* Decrypts the scopedPDU of an authPriv message into a new malloc block in
   *plain (length in *plainLength; the caller wipes and frees it with
   ZbV3FreePlain). SNMP_RC_SUCCESS, or SNMP_RC_DECRYPTION_ERROR for
   privacy parameters of the wrong size, a DES ciphertext that is not whole
   blocks, or plaintext that does not begin with a whole SEQUENCE. */
uint32_t ZbV3Decrypt(const ZbV3Message *m, uint32_t privMethod, const uint8_t *privKey,
                     uint8_t **plain, uint32_t *plainLength);
void ZbV3FreePlain(uint8_t *plain, uint32_t length);

/* A message received by the non-authoritative side (a response or a
   Report), after every check. */
struct ZbV3Received
{
   ZbV3Message message;
   ZbV3Scoped scoped;
   bool authenticated;  /* it carried a digest, and the digest was right */
   uint8_t *plain;      /* the decrypted scopedPDU, owned (see ZbV3ReceivedFree) */
   uint32_t plainLength;
};
void ZbV3ReceivedFree(ZbV3Received *r);

/* Whether a datagram is an SNMPv3 message: version 3 in its outer SEQUENCE
   (RFC 3412 6); the rest is not checked. */
bool ZbV3IsMessage(const uint8_t *data, uint32_t length);

/* The security level that msgFlags give (RFC 3412 6.4). */
uint32_t ZbV3LevelOf(uint32_t flags);

/* Whether two octet strings are the same. */
bool ZbV3SameOctets(const uint8_t *a, uint32_t aLength, const uint8_t *b, uint32_t bLength);

/* Whether a message of the level may be taken with the identity: it holds
   the keys the level needs, and the level is the identity's (exact), or
   at least the identity's (atLeast, a notification receiver), or for a
   Report no higher than the identity's. */
bool ZbV3LevelAccepted(const ZbUsmIdentityData *id, uint32_t level, bool report, bool atLeast);

/* RFC 3414 3.2 for a manager: parses the message, and when it is
   authenticated checks user, engine, digest and time window (learning the
   engine's boots and time, step 7b, into the peer: NULL for the identity's
   own) and decrypts it. A message that is not
   a Report must come at the identity's level (RFC 3412 7.2 step 13), or
   with atLeast (a notification receiver) at that level or above; a
   Report may come lower, unauthenticated too, and is then taken as it is.
   Any level needs the identity's keys for it.
   Results: SNMP_RC_SUCCESS (*out filled; release with ZbV3ReceivedFree),
   SNMP_RC_PARSE_ERROR, SNMP_RC_UNKNOWN_USER_NAME (another user),
   SNMP_RC_UNKNOWN_ENGINE_ID (another engine than the one learnt),
   SNMP_RC_UNSUPPORTED_SEC_LEVEL (a level the identity cannot check, or
   another level than the identity's), SNMP_RC_WRONG_DIGEST,
   SNMP_RC_NOT_IN_TIME_WINDOW, SNMP_RC_DECRYPTION_ERROR. Nothing is learnt
   from a message that fails. */
uint32_t ZbV3Receive(ZbUsmIdentityData *id, ZbUsmPeer *peer, const uint8_t *data,
                     uint32_t length, int64_t now, ZbV3Received *out, bool atLeast = false);

/* The request of an identity: at its level, to the engine the peer (NULL:
   the identity's own) has learnt
   (or with engine ID, boots and time empty when it knows none, which an
   agent answers with a Report), with the engine's estimated time and the
   identity's next salt. SNMP_RC_SUCCESS (*out, *outLength: the message),
   SNMP_RC_BAD_PARAMETERS (identity incomplete or fields out of range) or
   SNMP_RC_SECURITY_UNAVAILABLE. */
uint32_t ZbV3EncodeRequest(ZbUsmIdentityData *id, ZbUsmPeer *peer, uint32_t msgId,
                           uint32_t maxSize, const uint8_t *pdu, uint32_t pduLength, int64_t now,
                           uint8_t **out, uint32_t *outLength);

/* The discovery request of RFC 3414 4: noAuthNoPriv, reportable, empty
   engine ID, user and context, around the given PDU (a GET with no
   bindings, as agents expect). Its length, or 0. */
uint32_t ZbV3EncodeDiscovery(uint32_t msgId, uint32_t maxSize, const uint8_t *pdu,
                             uint32_t pduLength, uint8_t **out);

/* The status code of a Report by the name of its first binding: the usmStats
   counters of RFC 3414 (1.3.6.1.6.3.15.1.1.N, with or without the .0) give
   SNMP_RC_UNSUPPORTED_SEC_LEVEL (1), SNMP_RC_NOT_IN_TIME_WINDOW (2),
   SNMP_RC_UNKNOWN_USER_NAME (3), SNMP_RC_UNKNOWN_ENGINE_ID (4),
   SNMP_RC_WRONG_DIGEST (5), SNMP_RC_DECRYPTION_ERROR (6); any other name
   SNMP_RC_REPORT. */
uint32_t ZbUsmReportCode(const uint32_t *name, uint32_t length);
/* RFC 3414 5: the usmStats counters are ZB_USM_STATS_PREFIX.N.0. */
#define ZB_USM_STATS_PREFIX_LENGTH 9
extern const uint32_t ZB_USM_STATS_PREFIX[ZB_USM_STATS_PREFIX_LENGTH];

/* Reads a Report PDU element (tag ASN_PDU_REPORT): its request-id and the
   status code of its first binding (a Report without bindings gives
   SNMP_RC_REPORT). 1 on success, 0 when it is no well-formed Report. */
int ZbV3ReadReport(const uint8_t *pdu, uint32_t length, uint32_t *requestId, uint32_t *status);

#endif
