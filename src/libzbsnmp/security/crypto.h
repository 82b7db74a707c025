/* The library's one window on OpenSSL's libcrypto: digests, HMAC, the USM
   ciphers, constant-time comparison, wiping and random bytes. Nothing else
   in the library includes OpenSSL. Built without libcrypto (ZBSNMP_HAVE_V3
   undefined), every routine that needs it fails (0) and ZbCryptoAvailable
   says so; ZbCleanse and ZbConstantTimeEqual still work. */
#ifndef ZBSNMP_SECURITY_CRYPTO_H
#define ZBSNMP_SECURITY_CRYPTO_H

#include <stddef.h>
#include <stdint.h>

enum ZbHash
{
   ZB_HASH_MD5,
   ZB_HASH_SHA1,
   ZB_HASH_SHA224,
   ZB_HASH_SHA256,
   ZB_HASH_SHA384,
   ZB_HASH_SHA512,
};
#define ZB_HASH_MAX_SIZE 64 /* SHA-512 */
#define ZB_HASH_BLOCK 64    /* the input block of MD5, SHA-1, SHA-224 and SHA-256 */

enum ZbCipher
{
   ZB_CIPHER_DES_CBC,     /* 8-octet key, 8-octet IV, whole blocks only */
   ZB_CIPHER_AES128_CFB,  /* CFB128: 16-octet IV, any length */
   ZB_CIPHER_AES192_CFB,
   ZB_CIPHER_AES256_CFB,
};

/* 1 when the library was built with libcrypto. */
int ZbCryptoAvailable(void);
/* 1 when this cipher works with the libcrypto at hand (single DES may be
   compiled out of it). */
int ZbCipherAvailable(ZbCipher cipher);

/* Output octets of a hash: 16, 20, 28, 32, 48, 64. */
uint32_t ZbHashSize(ZbHash hash);

/* One piece of a message that is hashed or authenticated in parts; data may
   be NULL for length zero octets (a digest placeholder). */
struct ZbBytes
{
   const uint8_t *data;
   size_t length;
};

/* Digest of the concatenation of the parts into out (ZbHashSize octets).
   1 on success; 0 leaves out unspecified. */
int ZbDigestParts(ZbHash hash, const ZbBytes *parts, uint32_t count, uint8_t *out);
/* Digest of length octets repeated from pattern (patternLength >= 1) up to
   total octets: the password-to-key input of RFC 3414 A.2 without building
   it. 1 on success. */
int ZbDigestRepeated(ZbHash hash, const uint8_t *pattern, size_t patternLength, size_t total,
                     uint8_t *out);
/* HMAC of the concatenation of the parts, full length into out (ZbHashSize
   octets). 1 on success. */
int ZbHmacParts(ZbHash hash, const uint8_t *key, size_t keyLength, const ZbBytes *parts,
                uint32_t count, uint8_t *out);

/* Encrypts (encrypt 1) or decrypts length octets from in to out (which may
   be in) with the key of the cipher's size and its IV. DES-CBC takes whole
   blocks only and adds no padding. 1 on success; 0 leaves out unspecified. */
int ZbCipherRun(ZbCipher cipher, int encrypt, const uint8_t *key, const uint8_t *iv,
                const uint8_t *in, size_t length, uint8_t *out);

/* 1 when the two ranges are equal, in time that does not depend on where
   they differ. */
int ZbConstantTimeEqual(const void *a, const void *b, size_t length);
/* Overwrites a secret so that the compiler cannot drop the stores. */
void ZbCleanse(void *p, size_t length);
/* Cryptographically strong random octets. 1 on success. */
int ZbRandomBytes(uint8_t *out, size_t length);

#endif
