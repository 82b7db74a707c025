/* USM keys: password to key, localisation, and the privacy keys of DES and
   AES with the two known extensions for keys longer than the hash. */
#include "security/usm.h"

#include <string.h>

struct AuthRow
{
   ZbHash hash;
   uint32_t digestLength;
};

/* Indexed by SNMP_AUTH_MD5 - 1 .. SNMP_AUTH_SHA512 - 1. */
static const AuthRow s_auth[] = {
   {ZB_HASH_MD5, 12},    {ZB_HASH_SHA1, 12},   {ZB_HASH_SHA224, 16},
   {ZB_HASH_SHA256, 24}, {ZB_HASH_SHA384, 32}, {ZB_HASH_SHA512, 48},
};

uint32_t ZbUsmDigestLength(uint32_t authMethod)
{
   if (authMethod < SNMP_AUTH_MD5 || authMethod > SNMP_AUTH_SHA512)
      return 0;
   return s_auth[authMethod - 1].digestLength;
}

int ZbUsmAuthHash(uint32_t authMethod, ZbHash *hash)
{
   if (authMethod < SNMP_AUTH_MD5 || authMethod > SNMP_AUTH_SHA512)
      return 0;
   *hash = s_auth[authMethod - 1].hash;
   return 1;
}

/* Indexed by SNMP_PRIV_DES - 1 .. SNMP_PRIV_AES256_C - 1. */
static const ZbUsmPrivInfo s_priv[] = {
   {ZB_CIPHER_DES_CBC, 16, USM_EXTEND_NONE},
   {ZB_CIPHER_AES128_CFB, 16, USM_EXTEND_NONE},
   {ZB_CIPHER_AES192_CFB, 24, USM_EXTEND_HASH},
   {ZB_CIPHER_AES256_CFB, 32, USM_EXTEND_HASH},
   {ZB_CIPHER_AES192_CFB, 24, USM_EXTEND_LOCALIZE},
   {ZB_CIPHER_AES256_CFB, 32, USM_EXTEND_LOCALIZE},
};

int ZbUsmPrivInfoOf(uint32_t privMethod, ZbUsmPrivInfo *info)
{
   if (privMethod < SNMP_PRIV_DES || privMethod > SNMP_PRIV_AES256_C)
      return 0;
   *info = s_priv[privMethod - 1];
   return 1;
}

int ZbUsmPasswordToKey(ZbHash hash, const uint8_t *password, size_t length, uint8_t *out)
{
   if (password == nullptr || length == 0)
      return 0;
   return ZbDigestRepeated(hash, password, length, USM_PASSWORD_EXPANSION, out);
}

int ZbUsmLocalizeKey(ZbHash hash, const uint8_t *key, const uint8_t *engineId,
                     uint32_t engineIdLength, uint8_t *out)
{
   size_t n = ZbHashSize(hash);
   ZbBytes parts[3] = {{key, n}, {engineId, engineIdLength}, {key, n}};
   uint8_t digest[ZB_HASH_MAX_SIZE];
   int ok = ZbDigestParts(hash, parts, 3, digest);
   if (ok)
      memcpy(out, digest, n);
   ZbCleanse(digest, sizeof(digest));
   return ok;
}

int ZbUsmExtendKey(ZbUsmExtension extension, ZbHash hash, const uint8_t *engineId,
                   uint32_t engineIdLength, uint8_t *key, uint32_t have, uint32_t need)
{
   if (need > USM_MAX_PRIV_KEY || have == 0)
      return 0;
   uint32_t n = ZbHashSize(hash);
   uint8_t block[ZB_HASH_MAX_SIZE];
   int ok = 1;
   while (ok && have < need)
   {
      if (extension == USM_EXTEND_HASH)
      {
         /* The hash of all the key so far. */
         ZbBytes part = {key, have};
         ok = ZbDigestParts(hash, &part, 1, block);
      }
      else if (extension == USM_EXTEND_LOCALIZE)
      {
         /* The key so far taken as a password, and localised again. */
         ok = ZbUsmPasswordToKey(hash, key, have, block) &&
              ZbUsmLocalizeKey(hash, block, engineId, engineIdLength, block);
      }
      else
      {
         ok = 0;
      }
      uint32_t take = (need - have < n) ? need - have : n;
      if (ok)
         memcpy(key + have, block, take);
      have += take;
   }
   ZbCleanse(block, sizeof(block));
   return ok;
}

int ZbUsmPrivKey(const ZbUsmPrivInfo &info, ZbHash hash, const uint8_t *masterKey,
                 const uint8_t *engineId, uint32_t engineIdLength, uint8_t *out)
{
   uint8_t key[USM_MAX_PRIV_KEY + ZB_HASH_MAX_SIZE];
   uint32_t n = ZbHashSize(hash);
   int ok = ZbUsmLocalizeKey(hash, masterKey, engineId, engineIdLength, key);
   if (ok && n < info.keyLength)
      ok = ZbUsmExtendKey(info.extension, hash, engineId, engineIdLength, key, n, info.keyLength);
   if (ok)
      memcpy(out, key, info.keyLength);
   ZbCleanse(key, sizeof(key));
   return ok;
}
