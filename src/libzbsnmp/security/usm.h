/* The User-based Security Model (RFC 3414, RFC 3826, RFC 7860): keys from
   passwords, localised keys, the engines a manager talks to and their time
   windows, and the data behind SNMP_USMIdentity. Internal; not installed. */
#ifndef ZBSNMP_SECURITY_USM_H
#define ZBSNMP_SECURITY_USM_H

#include "internal.h"
#include "security/crypto.h"

/* ---- Limits (RFC 3411 SnmpEngineID, SnmpAdminString; RFC 3414) ---- */
#define USM_MAX_ENGINE_ID 32      /* octets of an engine ID */
#define USM_MAX_NAME 32           /* octets of a user or context name */
#define USM_MAX_PRIV_KEY 32       /* AES-256 */
#define USM_MAX_PASSWORD 1024     /* octets of a password we take */
#define USM_PASSWORD_EXPANSION 1048576 /* RFC 3414 A.2: one megabyte of password */
#define USM_TIME_WINDOW 150       /* seconds, RFC 3414 2.2.3 */
#define USM_MAX_BOOTS 2147483647u /* snmpEngineBoots latched at 2^31 - 1 */
#define USM_SALT_LENGTH 8         /* msgPrivacyParameters of DES and AES */

/* ---- Methods ---- */

/* Hash and truncated digest length (octets in msgAuthenticationParameters)
   of an authentication method: MD5 and SHA-1 12 (RFC 3414), SHA-224 16,
   SHA-256 24, SHA-384 32, SHA-512 48 (RFC 7860). 0 for SNMP_AUTH_NONE and
   unknown methods. */
uint32_t ZbUsmDigestLength(uint32_t authMethod);
/* 1 and the hash for SNMP_AUTH_MD5 .. SNMP_AUTH_SHA512; 0 otherwise. */
int ZbUsmAuthHash(uint32_t authMethod, ZbHash *hash);

/* How a privacy key longer than the localised key is made. */
enum ZbUsmExtension
{
   USM_EXTEND_NONE,       /* the localised key is long enough, or cut */
   USM_EXTEND_HASH,       /* K = K || H(K), repeated (draft-blumenthal-aes-usm) */
   USM_EXTEND_LOCALIZE,   /* K = K || localize(passwordToKey(K)), repeated
                             (draft-reeder-snmpv3-usm-3desede) */
};
struct ZbUsmPrivInfo
{
   ZbCipher cipher;
   uint32_t keyLength;      /* localised key octets used: DES 16 (key and pre-IV), AES 16/24/32 */
   ZbUsmExtension extension;
};
/* 1 and the cipher facts for SNMP_PRIV_DES .. SNMP_PRIV_AES256_C; 0 otherwise. */
int ZbUsmPrivInfoOf(uint32_t privMethod, ZbUsmPrivInfo *info);

/* ---- Keys ---- */

/* RFC 3414 A.2.1 (and RFC 7860 4.2.2 for SHA-2): the hash of one megabyte
   of the password repeated; out gets ZbHashSize(hash) octets. 0 for an
   empty password or when libcrypto fails. */
int ZbUsmPasswordToKey(ZbHash hash, const uint8_t *password, size_t length, uint8_t *out);
/* RFC 3414 A.2.2: H(key || engineID || key), key of ZbHashSize(hash)
   octets; out gets as many (out may be key). 1 on success. */
int ZbUsmLocalizeKey(ZbHash hash, const uint8_t *key, const uint8_t *engineId,
                     uint32_t engineIdLength, uint8_t *out);
/* The privacy key of a method for an engine from the master privacy key
   (ZbHashSize(hash) octets): localised, then extended to the method's key
   length; out gets that many octets (USM_MAX_PRIV_KEY at most). 1 on
   success. */
int ZbUsmPrivKey(const ZbUsmPrivInfo &info, ZbHash hash, const uint8_t *masterKey,
                 const uint8_t *engineId, uint32_t engineIdLength, uint8_t *out);
/* Extends key, which holds have octets (a localised key), to need octets
   (at most USM_MAX_PRIV_KEY) in place. 1 on success. */
int ZbUsmExtendKey(ZbUsmExtension extension, ZbHash hash, const uint8_t *engineId,
                   uint32_t engineIdLength, uint8_t *key, uint32_t have, uint32_t need);

/* ---- Authoritative engines and time windows (RFC 3414 2.3, 3.2 step 7) ---- */

/* Seconds of a monotonic local clock. */
int64_t ZbMonotonicSeconds(void);

/* An authoritative engine as the non-authoritative side knows it. */
struct ZbUsmEngine
{
   uint8_t id[USM_MAX_ENGINE_ID];
   uint32_t idLength;      /* 0: not learnt yet */
   uint32_t boots;         /* snmpEngineBoots as last learnt */
   uint32_t time;          /* snmpEngineTime as last learnt */
   uint32_t latestTime;    /* latestReceivedEngineTime */
   int64_t learntAt;       /* ZbMonotonicSeconds() when boots and time were learnt */
   bool timeKnown;         /* boots and time known (else both are sent as 0) */
   bool synced;            /* ... from an authenticated message */
   bool answered;          /* a request of ours has been answered (not with a Report) */
};
/* Forgets everything (the next exchange discovers the engine again). */
void ZbUsmEngineReset(ZbUsmEngine *engine);
/* Sets the engine ID; forgets boots and time when the ID changes. 0 for a
   length above USM_MAX_ENGINE_ID. */
int ZbUsmEngineSetId(ZbUsmEngine *engine, const uint8_t *id, uint32_t length);
/* The engine time to put in an outgoing message now: the learnt time plus
   the seconds since, latched at 2^31 - 1. */
uint32_t ZbUsmEngineTimeNow(const ZbUsmEngine *engine, int64_t now);
/* RFC 3414 3.2 step 7b, on an authenticated message from the engine: 1 when
   it is inside the time window; boots and time are learnt first when they
   are newer (boots larger, or equal boots and a later time). */
int ZbUsmEngineAccept(ZbUsmEngine *engine, uint32_t boots, uint32_t time, int64_t now);
/* Takes boots and time from an unauthenticated message (the Report that
   answers discovery) as a first estimate, until an authenticated message
   has been accepted; the first authenticated one then replaces them
   whatever they are, so that a forged Report cannot lock the engine out. */
void ZbUsmEngineSeed(ZbUsmEngine *engine, uint32_t boots, uint32_t time, int64_t now);
/* RFC 3414 3.2 step 7a, the authoritative side's check of a message against
   its own boots and time: 1 when inside the window. */
int ZbUsmInTimeWindow(uint32_t localBoots, uint32_t localTime, uint32_t msgBoots,
                      uint32_t msgTime);

/* ---- One identity (the data behind SNMP_USMIdentity) ---- */

/* Keys localised for one engine. */
struct ZbUsmLocalKeys
{
   uint8_t engineId[USM_MAX_ENGINE_ID];
   uint32_t engineIdLength;
   uint32_t generation;             /* the identity's generation they were made of; 0: none */
   uint8_t auth[ZB_HASH_MAX_SIZE];  /* ZbHashSize of the auth hash */
   uint8_t priv[USM_MAX_PRIV_KEY];  /* ZbUsmPrivInfo keyLength */
};

/* What a manager knows of one agent for an identity: its engine and the
   identity's keys localised for it. An identity has one of its own; an
   engine that polls many agents with one identity keeps one per agent. */
struct ZbUsmPeer
{
   ZbUsmEngine engine;
   ZbUsmLocalKeys keys;
};

struct ZbUsmIdentityData
{
   char user[USM_MAX_NAME + 1];
   uint32_t userLength;
   uint32_t level;
   uint32_t authMethod;
   uint32_t privMethod;
   /* Master keys (Ku) or keys localised already (form SNMP_KEY_LOCALIZED). */
   uint8_t authKey[ZB_HASH_MAX_SIZE];
   uint32_t authKeyLength;
   uint32_t authKeyForm;
   uint8_t privKey[ZB_HASH_MAX_SIZE];
   uint32_t privKeyLength;
   uint32_t privKeyForm;
   char contextName[USM_MAX_NAME + 1];
   uint32_t contextNameLength;
   uint8_t contextEngineId[USM_MAX_ENGINE_ID];
   uint32_t contextEngineIdLength; /* 0: the authoritative engine's ID */
   ZbUsmPeer peer;                 /* the agent it talks to (when no other peer is given) */
   uint32_t generation;            /* +1 whenever a key, method or level changes */
   uint64_t salt;                  /* privacy salt: random start, +1 per message */

   ZbUsmIdentityData();
   ~ZbUsmIdentityData();
   ZbUsmIdentityData(const ZbUsmIdentityData &) = delete;
   ZbUsmIdentityData &operator=(const ZbUsmIdentityData &) = delete;
};

/* SNMP_RC_SUCCESS when the identity can protect messages at its level (user
   set, auth key for authNoPriv and above, priv key for authPriv);
   SNMP_RC_BAD_PARAMETERS otherwise. */
uint32_t ZbUsmCheckIdentity(const ZbUsmIdentityData *d);
/* The identity's keys for an engine, cached in the peer (NULL: the
   identity's own): from the cache when it holds that engine and the
   identity has not changed since, else localised (one hash, or the
   extension's megabyte for USM_EXTEND_LOCALIZE) and cached. NULL when a key
   is missing or libcrypto fails. An identity without keys (noAuthNoPriv)
   gets its cache entry with no keys in it. */
const ZbUsmLocalKeys *ZbUsmKeysFor(ZbUsmIdentityData *d, ZbUsmPeer *peer, const uint8_t *engineId,
                                   uint32_t engineIdLength);
/* Marks the identity's keys as changed: every peer's cache is stale. */
void ZbUsmIdentityChanged(ZbUsmIdentityData *d);

/* Reaches the data of a public identity. */
struct ZbUsmAccess
{
   static ZbUsmIdentityData *Data(SNMP_USMIdentity *identity);
};

#endif
