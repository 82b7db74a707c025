/* SNMP_USMIdentity: one user's level, methods and keys, its context and the
   engine learnt for it; the keys it localises are cached per engine. */
#include "security/usm.h"

#include <string.h>

#include <new>

ZbUsmIdentityData::ZbUsmIdentityData()
{
   memset(user, 0, sizeof(user));
   userLength = 0;
   level = SNMP_SEC_NO_AUTH_NO_PRIV;
   authMethod = SNMP_AUTH_NONE;
   privMethod = SNMP_PRIV_NONE;
   memset(authKey, 0, sizeof(authKey));
   authKeyLength = 0;
   authKeyForm = SNMP_KEY_MASTER;
   memset(privKey, 0, sizeof(privKey));
   privKeyLength = 0;
   privKeyForm = SNMP_KEY_MASTER;
   memset(contextName, 0, sizeof(contextName));
   contextNameLength = 0;
   memset(contextEngineId, 0, sizeof(contextEngineId));
   contextEngineIdLength = 0;
   ZbUsmEngineReset(&peer.engine);
   memset(&peer.keys, 0, sizeof(peer.keys));
   generation = 1;
   /* RFC 3826 3.1.2.1: the salt starts at an arbitrary value. */
   salt = 0;
   ZbRandomBytes((uint8_t *)&salt, sizeof(salt));
}

ZbUsmIdentityData::~ZbUsmIdentityData()
{
   ZbCleanse(authKey, sizeof(authKey));
   ZbCleanse(privKey, sizeof(privKey));
   ZbCleanse(&peer.keys, sizeof(peer.keys));
}

uint32_t ZbUsmCheckIdentity(const ZbUsmIdentityData *d)
{
   if (d == nullptr || d->userLength == 0)
      return SNMP_RC_BAD_PARAMETERS;
   if (d->level == SNMP_SEC_NO_AUTH_NO_PRIV)
      return SNMP_RC_SUCCESS;
   if (d->authKeyLength == 0 || (d->level == SNMP_SEC_AUTH_PRIV && d->privKeyLength == 0))
      return SNMP_RC_BAD_PARAMETERS;
   return SNMP_RC_SUCCESS;
}

/* Makes both keys of the identity for one engine into keys. */
static int Localize(const ZbUsmIdentityData *d, const uint8_t *engineId, uint32_t engineIdLength,
                    ZbUsmLocalKeys *keys)
{
   ZbHash hash;
   if (!ZbUsmAuthHash(d->authMethod, &hash) || d->authKeyLength != ZbHashSize(hash))
      return 0;
   if (d->authKeyForm == SNMP_KEY_LOCALIZED)
      memcpy(keys->auth, d->authKey, d->authKeyLength);
   else if (!ZbUsmLocalizeKey(hash, d->authKey, engineId, engineIdLength, keys->auth))
      return 0;
   if (d->privKeyLength == 0)
      return 1;
   ZbUsmPrivInfo info;
   if (!ZbUsmPrivInfoOf(d->privMethod, &info))
      return 0;
   if (d->privKeyForm == SNMP_KEY_LOCALIZED)
   {
      memcpy(keys->priv, d->privKey, info.keyLength);
      return 1;
   }
   return ZbUsmPrivKey(info, hash, d->privKey, engineId, engineIdLength, keys->priv);
}

void ZbUsmIdentityChanged(ZbUsmIdentityData *d)
{
   if (++d->generation == 0)
      d->generation = 1;
}

const ZbUsmLocalKeys *ZbUsmKeysFor(ZbUsmIdentityData *d, ZbUsmPeer *peer, const uint8_t *engineId,
                                   uint32_t engineIdLength)
{
   if (engineIdLength > USM_MAX_ENGINE_ID)
      return nullptr;
   ZbUsmLocalKeys *keys = peer != nullptr ? &peer->keys : &d->peer.keys;
   if (keys->generation == d->generation && keys->engineIdLength == engineIdLength &&
       (engineIdLength == 0 || memcmp(keys->engineId, engineId, engineIdLength) == 0))
      return keys;
   keys->generation = 0;
   if (d->authKeyLength == 0)
      return keys; /* nothing to localise (noAuthNoPriv) */
   if (!Localize(d, engineId, engineIdLength, keys))
   {
      ZbCleanse(keys, sizeof(*keys));
      return nullptr;
   }
   if (engineIdLength > 0)
      memcpy(keys->engineId, engineId, engineIdLength);
   keys->engineIdLength = engineIdLength;
   keys->generation = d->generation;
   return keys;
}

ZbUsmIdentityData *ZbUsmAccess::Data(SNMP_USMIdentity *identity)
{
   return identity != nullptr ? identity->m_data : nullptr;
}

int SNMPIsSecurityAvailable(void)
{
   return ZbCryptoAvailable();
}

/* ---- The public class ---- */

SNMP_USMIdentity::SNMP_USMIdentity() : m_data(new (std::nothrow) ZbUsmIdentityData())
{
}

SNMP_USMIdentity::SNMP_USMIdentity(const char *userName) : SNMP_USMIdentity()
{
   SetUser(userName);
}

SNMP_USMIdentity::~SNMP_USMIdentity()
{
   delete m_data;
}

/* Copies a text of at most USM_MAX_NAME octets; 0 when longer or NULL. */
static int CopyName(const char *text, char *out, uint32_t *length, bool allowEmpty)
{
   if (text == nullptr)
      return 0;
   size_t n = strlen(text);
   if (n > USM_MAX_NAME || (n == 0 && !allowEmpty))
      return 0;
   memcpy(out, text, n + 1);
   *length = (uint32_t)n;
   return 1;
}

uint32_t SNMP_USMIdentity::SetUser(const char *userName)
{
   if (m_data == nullptr || !CopyName(userName, m_data->user, &m_data->userLength, false))
      return SNMP_RC_BAD_PARAMETERS;
   return SNMP_RC_SUCCESS;
}

uint32_t SNMP_USMIdentity::SetSecurityLevel(uint32_t level)
{
   if (m_data == nullptr || level < SNMP_SEC_NO_AUTH_NO_PRIV || level > SNMP_SEC_AUTH_PRIV)
      return SNMP_RC_BAD_PARAMETERS;
   m_data->level = level;
   ZbUsmIdentityChanged(m_data);
   return SNMP_RC_SUCCESS;
}

/* Checks a password and turns it into a master key of the hash. */
static uint32_t PasswordKey(uint32_t authMethod, const char *password, uint8_t *key,
                            uint32_t *keyLength)
{
   ZbHash hash;
   if (password == nullptr || !ZbUsmAuthHash(authMethod, &hash))
      return SNMP_RC_BAD_PARAMETERS;
   size_t n = strlen(password);
   if (n == 0 || n > USM_MAX_PASSWORD)
      return SNMP_RC_BAD_PARAMETERS;
   if (!ZbCryptoAvailable())
      return SNMP_RC_SECURITY_UNAVAILABLE;
   if (!ZbUsmPasswordToKey(hash, (const uint8_t *)password, n, key))
      return SNMP_RC_SECURITY_UNAVAILABLE;
   *keyLength = ZbHashSize(hash);
   return SNMP_RC_SUCCESS;
}

/* Hands the password's master key to store, then wipes it. */
template <typename Store>
static uint32_t WithPasswordKey(uint32_t authMethod, const char *password, Store store)
{
   uint8_t key[ZB_HASH_MAX_SIZE];
   uint32_t length = 0;
   uint32_t rc = PasswordKey(authMethod, password, key, &length);
   if (rc == SNMP_RC_SUCCESS)
      rc = store(key, length);
   ZbCleanse(key, sizeof(key));
   return rc;
}

uint32_t SNMP_USMIdentity::SetAuthPassword(uint32_t authMethod, const char *password)
{
   if (m_data == nullptr)
      return SNMP_RC_BAD_PARAMETERS;
   return WithPasswordKey(authMethod, password, [&](const uint8_t *key, uint32_t length) {
      return SetAuthKey(authMethod, key, length, SNMP_KEY_MASTER);
   });
}

uint32_t SNMP_USMIdentity::SetAuthKey(uint32_t authMethod, const uint8_t *key, uint32_t length,
                                      uint32_t form)
{
   ZbHash hash;
   if (m_data == nullptr || key == nullptr || !ZbUsmAuthHash(authMethod, &hash) ||
       length != ZbHashSize(hash) || (form != SNMP_KEY_MASTER && form != SNMP_KEY_LOCALIZED))
      return SNMP_RC_BAD_PARAMETERS;
   if (!ZbCryptoAvailable())
      return SNMP_RC_SECURITY_UNAVAILABLE;
   /* A new hash makes a privacy key of the old one unusable. */
   if (authMethod != m_data->authMethod)
   {
      ZbCleanse(m_data->privKey, sizeof(m_data->privKey));
      m_data->privKeyLength = 0;
   }
   m_data->authMethod = authMethod;
   memcpy(m_data->authKey, key, length);
   m_data->authKeyLength = length;
   m_data->authKeyForm = form;
   ZbUsmIdentityChanged(m_data);
   return SNMP_RC_SUCCESS;
}

static uint32_t CheckPrivMethod(uint32_t privMethod, ZbUsmPrivInfo *info)
{
   if (!ZbUsmPrivInfoOf(privMethod, info))
      return SNMP_RC_BAD_PARAMETERS;
   if (!ZbCryptoAvailable() || !ZbCipherAvailable(info->cipher))
      return SNMP_RC_SECURITY_UNAVAILABLE;
   return SNMP_RC_SUCCESS;
}

uint32_t SNMP_USMIdentity::SetPrivPassword(uint32_t privMethod, const char *password)
{
   if (m_data == nullptr)
      return SNMP_RC_BAD_PARAMETERS;
   ZbUsmPrivInfo info;
   uint32_t rc = CheckPrivMethod(privMethod, &info);
   if (rc != SNMP_RC_SUCCESS)
      return rc;
   return WithPasswordKey(m_data->authMethod, password, [&](const uint8_t *key, uint32_t length) {
      return SetPrivKey(privMethod, key, length, SNMP_KEY_MASTER);
   });
}

uint32_t SNMP_USMIdentity::SetPrivKey(uint32_t privMethod, const uint8_t *key, uint32_t length,
                                      uint32_t form)
{
   if (m_data == nullptr || key == nullptr)
      return SNMP_RC_BAD_PARAMETERS;
   ZbUsmPrivInfo info;
   uint32_t rc = CheckPrivMethod(privMethod, &info);
   if (rc != SNMP_RC_SUCCESS)
      return rc;
   ZbHash hash;
   uint32_t expected;
   if (form == SNMP_KEY_LOCALIZED)
      expected = info.keyLength;
   else if (form == SNMP_KEY_MASTER && ZbUsmAuthHash(m_data->authMethod, &hash))
      expected = ZbHashSize(hash);
   else
      return SNMP_RC_BAD_PARAMETERS;
   if (length != expected)
      return SNMP_RC_BAD_PARAMETERS;
   m_data->privMethod = privMethod;
   memcpy(m_data->privKey, key, length);
   m_data->privKeyLength = length;
   m_data->privKeyForm = form;
   ZbUsmIdentityChanged(m_data);
   return SNMP_RC_SUCCESS;
}

uint32_t SNMP_USMIdentity::SetContextName(const char *contextName)
{
   if (m_data == nullptr ||
       !CopyName(contextName, m_data->contextName, &m_data->contextNameLength, true))
      return SNMP_RC_BAD_PARAMETERS;
   return SNMP_RC_SUCCESS;
}

uint32_t SNMP_USMIdentity::SetContextEngineId(const uint8_t *engineId, uint32_t length)
{
   if (m_data == nullptr || length > USM_MAX_ENGINE_ID || (length > 0 && engineId == nullptr))
      return SNMP_RC_BAD_PARAMETERS;
   if (length > 0)
      memcpy(m_data->contextEngineId, engineId, length);
   m_data->contextEngineIdLength = length;
   return SNMP_RC_SUCCESS;
}

uint32_t SNMP_USMIdentity::SetEngineId(const uint8_t *engineId, uint32_t length)
{
   if (m_data == nullptr || engineId == nullptr || length == 0 ||
       !ZbUsmEngineSetId(&m_data->peer.engine, engineId, length))
      return SNMP_RC_BAD_PARAMETERS;
   return SNMP_RC_SUCCESS;
}

void SNMP_USMIdentity::ForgetEngine()
{
   if (m_data != nullptr)
      ZbUsmEngineReset(&m_data->peer.engine);
}

const char *SNMP_USMIdentity::GetUser() const
{
   return m_data != nullptr ? m_data->user : "";
}

uint32_t SNMP_USMIdentity::GetSecurityLevel() const
{
   return m_data != nullptr ? m_data->level : SNMP_SEC_NO_AUTH_NO_PRIV;
}

uint32_t SNMP_USMIdentity::GetAuthMethod() const
{
   return m_data != nullptr ? m_data->authMethod : SNMP_AUTH_NONE;
}

uint32_t SNMP_USMIdentity::GetPrivMethod() const
{
   return m_data != nullptr ? m_data->privMethod : SNMP_PRIV_NONE;
}

const char *SNMP_USMIdentity::GetContextName() const
{
   return m_data != nullptr ? m_data->contextName : "";
}

const uint8_t *SNMP_USMIdentity::GetEngineId(uint32_t *length) const
{
   if (length != nullptr)
      *length = m_data != nullptr ? m_data->peer.engine.idLength : 0;
   return m_data != nullptr ? m_data->peer.engine.id : nullptr;
}

uint32_t SNMP_USMIdentity::GetEngineBoots() const
{
   return m_data != nullptr ? m_data->peer.engine.boots : 0;
}

uint32_t SNMP_USMIdentity::GetEngineTime() const
{
   return m_data != nullptr ? ZbUsmEngineTimeNow(&m_data->peer.engine, ZbMonotonicSeconds()) : 0;
}
