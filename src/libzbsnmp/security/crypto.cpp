/* Digests, HMAC and ciphers through OpenSSL's EVP interface; single DES
   through libcrypto's own DES routines, since OpenSSL 3 keeps DES-CBC out of
   its default provider. */
#include "security/crypto.h"

#include <string.h>

#ifdef ZBSNMP_HAVE_V3
/* The DES routines are marked deprecated in OpenSSL 3; they stay the one way
   to reach single DES without loading the legacy provider. */
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#if !defined(OPENSSL_NO_DES) && !defined(OPENSSL_NO_DEPRECATED_3_0)
#include <openssl/des.h>
#define ZB_HAVE_SINGLE_DES 1
#endif
#endif

static const uint32_t s_hashSize[] = {16, 20, 28, 32, 48, 64};

uint32_t ZbHashSize(ZbHash hash)
{
   return s_hashSize[hash];
}

int ZbConstantTimeEqual(const void *a, const void *b, size_t length)
{
#ifdef ZBSNMP_HAVE_V3
   return CRYPTO_memcmp(a, b, length) == 0;
#else
   const volatile uint8_t *x = (const volatile uint8_t *)a, *y = (const volatile uint8_t *)b;
   uint8_t diff = 0;
   for (size_t i = 0; i < length; i++)
      diff |= (uint8_t)(x[i] ^ y[i]);
   return diff == 0;
#endif
}

void ZbCleanse(void *p, size_t length)
{
   if (p == nullptr || length == 0)
      return;
#ifdef ZBSNMP_HAVE_V3
   OPENSSL_cleanse(p, length);
#else
   volatile uint8_t *v = (volatile uint8_t *)p;
   for (size_t i = 0; i < length; i++)
      v[i] = 0;
#endif
}

#ifdef ZBSNMP_HAVE_V3

int ZbCryptoAvailable(void)
{
   return 1;
}

int ZbCipherAvailable(ZbCipher cipher)
{
#ifdef ZB_HAVE_SINGLE_DES
   (void)cipher;
   return 1;
#else
   return cipher != ZB_CIPHER_DES_CBC;
#endif
}

/* OpenSSL 3 looks an algorithm up in its providers on every use of a
   legacy handle such as EVP_sha256(); fetched once, the handles are
   immutable and shared by every thread (made on first use, thread-safe by
   C++11, kept for the life of the process). */
struct Algorithms
{
   EVP_MD *md[6];
   EVP_CIPHER *cfb[3];
   EVP_MAC *hmac;
   Algorithms()
   {
      static const char *const mds[] = {"MD5", "SHA1", "SHA224", "SHA256", "SHA384", "SHA512"};
      static const char *const cfbs[] = {"AES-128-CFB", "AES-192-CFB", "AES-256-CFB"};
      for (int i = 0; i < 6; i++)
         md[i] = EVP_MD_fetch(nullptr, mds[i], nullptr);
      for (int i = 0; i < 3; i++)
         cfb[i] = EVP_CIPHER_fetch(nullptr, cfbs[i], nullptr);
      hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
   }
};

static const Algorithms &Algo()
{
   static const Algorithms algorithms;
   return algorithms;
}

static const EVP_MD *Md(ZbHash hash)
{
   return Algo().md[hash];
}

static const char *MdName(ZbHash hash)
{
   static const char *const names[] = {"MD5", "SHA1", "SHA224", "SHA256", "SHA384", "SHA512"};
   return names[hash];
}

struct MdCtx
{
   EVP_MD_CTX *ctx = EVP_MD_CTX_new();
   ~MdCtx() { EVP_MD_CTX_free(ctx); }
};

int ZbDigestParts(ZbHash hash, const ZbBytes *parts, uint32_t count, uint8_t *out)
{
   MdCtx md;
   if (md.ctx == nullptr || Md(hash) == nullptr ||
       EVP_DigestInit_ex(md.ctx, Md(hash), nullptr) != 1)
      return 0;
   for (uint32_t i = 0; i < count; i++)
      if (parts[i].length > 0 && EVP_DigestUpdate(md.ctx, parts[i].data, parts[i].length) != 1)
         return 0;
   return EVP_DigestFinal_ex(md.ctx, out, nullptr) == 1;
}

int ZbDigestRepeated(ZbHash hash, const uint8_t *pattern, size_t patternLength, size_t total,
                     uint8_t *out)
{
   if (patternLength == 0)
      return 0;
   MdCtx md;
   if (md.ctx == nullptr || Md(hash) == nullptr ||
       EVP_DigestInit_ex(md.ctx, Md(hash), nullptr) != 1)
      return 0;
   /* Whole repetitions of the pattern in one chunk, hashed chunk by chunk:
      each chunk starts at the pattern's first octet again. */
   uint8_t chunk[8192];
   const uint8_t *src = pattern;
   size_t chunkLength = patternLength;
   if (patternLength <= sizeof(chunk) / 2)
   {
      chunkLength = (sizeof(chunk) / patternLength) * patternLength;
      for (size_t i = 0; i < chunkLength; i += patternLength)
         memcpy(chunk + i, pattern, patternLength);
      src = chunk;
   }
   int ok = 1;
   for (size_t done = 0; done < total && ok;)
   {
      size_t n = (total - done < chunkLength) ? total - done : chunkLength;
      ok = EVP_DigestUpdate(md.ctx, src, n) == 1;
      done += n;
   }
   if (src == chunk)
      ZbCleanse(chunk, chunkLength);
   return ok && EVP_DigestFinal_ex(md.ctx, out, nullptr) == 1;
}

int ZbHmacParts(ZbHash hash, const uint8_t *key, size_t keyLength, const ZbBytes *parts,
                uint32_t count, uint8_t *out)
{
   if (Algo().hmac == nullptr || Md(hash) == nullptr)
      return 0;
   EVP_MAC_CTX *ctx = EVP_MAC_CTX_new(Algo().hmac);
   if (ctx == nullptr)
      return 0;
   OSSL_PARAM params[2];
   params[0] = OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, (char *)MdName(hash), 0);
   params[1] = OSSL_PARAM_construct_end();
   int ok = EVP_MAC_init(ctx, key, keyLength, params) == 1;
   for (uint32_t i = 0; ok && i < count; i++)
   {
      if (parts[i].length == 0)
         continue;
      if (parts[i].data != nullptr)
      {
         ok = EVP_MAC_update(ctx, parts[i].data, parts[i].length) == 1;
         continue;
      }
      static const uint8_t zeros[ZB_HASH_MAX_SIZE] = {0};
      for (size_t left = parts[i].length; ok && left > 0;)
      {
         size_t n = left < sizeof(zeros) ? left : sizeof(zeros);
         ok = EVP_MAC_update(ctx, zeros, n) == 1;
         left -= n;
      }
   }
   size_t written = 0;
   ok = ok && EVP_MAC_final(ctx, out, &written, ZB_HASH_MAX_SIZE) == 1 &&
        written == ZbHashSize(hash);
   EVP_MAC_CTX_free(ctx);
   return ok;
}

static const EVP_CIPHER *Cfb(ZbCipher cipher)
{
   switch (cipher)
   {
      case ZB_CIPHER_AES128_CFB: return Algo().cfb[0];
      case ZB_CIPHER_AES192_CFB: return Algo().cfb[1];
      case ZB_CIPHER_AES256_CFB: return Algo().cfb[2];
      default: return nullptr;
   }
}

int ZbCipherRun(ZbCipher cipher, int encrypt, const uint8_t *key, const uint8_t *iv,
                const uint8_t *in, size_t length, uint8_t *out)
{
   if (cipher == ZB_CIPHER_DES_CBC)
   {
#ifdef ZB_HAVE_SINGLE_DES
      if (length % 8 != 0)
         return 0;
      DES_cblock keyBlock, ivBlock;
      DES_key_schedule schedule;
      memcpy(keyBlock, key, 8);
      memcpy(ivBlock, iv, 8);
      DES_set_key_unchecked(&keyBlock, &schedule);
      DES_ncbc_encrypt(in, out, (long)length, &schedule, &ivBlock,
                       encrypt ? DES_ENCRYPT : DES_DECRYPT);
      ZbCleanse(&schedule, sizeof(schedule));
      ZbCleanse(keyBlock, sizeof(keyBlock));
      return 1;
#else
      return 0;
#endif
   }
   const EVP_CIPHER *type = Cfb(cipher);
   if (type == nullptr || length > 0x7FFFFFFF)
      return 0;
   EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
   if (ctx == nullptr)
      return 0;
   int n = 0, tail = 0;
   int ok = EVP_CipherInit_ex(ctx, type, nullptr, key, iv, encrypt ? 1 : 0) == 1 &&
            EVP_CipherUpdate(ctx, out, &n, in, (int)length) == 1 &&
            EVP_CipherFinal_ex(ctx, out + n, &tail) == 1 && (size_t)(n + tail) == length;
   EVP_CIPHER_CTX_free(ctx); /* wipes the key schedule */
   return ok;
}

int ZbRandomBytes(uint8_t *out, size_t length)
{
   return length <= 0x7FFFFFFF && RAND_bytes(out, (int)length) == 1;
}

#else /* built without libcrypto */

int ZbCryptoAvailable(void)
{
   return 0;
}

int ZbCipherAvailable(ZbCipher)
{
   return 0;
}

int ZbDigestParts(ZbHash, const ZbBytes *, uint32_t, uint8_t *)
{
   return 0;
}

int ZbDigestRepeated(ZbHash, const uint8_t *, size_t, size_t, uint8_t *)
{
   return 0;
}

int ZbHmacParts(ZbHash, const uint8_t *, size_t, const ZbBytes *, uint32_t, uint8_t *)
{
   return 0;
}

int ZbCipherRun(ZbCipher, int, const uint8_t *, const uint8_t *, const uint8_t *, size_t, uint8_t *)
{
   return 0;
}

int ZbRandomBytes(uint8_t *, size_t)
{
   return 0;
}

#endif
