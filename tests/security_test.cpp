// SNMPv3 and USM: keys (RFC 3414 A.3), the message codec, authentication,
// privacy, time windows and Reports, with messages captured from Net-SNMP.
#include <gtest/gtest.h>
#include <string.h>

#include <new>
#include <string>
#include <vector>

#include "security/v3_message.h"
#include "test_util.h"
#include "v3_test_util.h"

#define REQUIRE_CRYPTO()                                                      \
   do                                                                         \
   {                                                                          \
      if (!ZbCryptoAvailable())                                               \
         GTEST_SKIP() << "built without libcrypto: no SNMPv3 authentication"; \
   } while (0)

namespace
{
const std::vector<uint8_t> kRfcEngine = Hex("00 00 00 00 00 00 00 00 00 00 00 02");

// An identity made through the public API; its data for the internal calls.
struct Identity
{
   SNMP_USMIdentity pub;
   Identity(const char *user, uint32_t level, uint32_t auth, const char *authPass, uint32_t priv,
            const char *privPass)
   {
      EXPECT_EQ(pub.SetUser(user), (uint32_t)SNMP_RC_SUCCESS);
      if (auth != SNMP_AUTH_NONE)
         EXPECT_EQ(pub.SetAuthPassword(auth, authPass), (uint32_t)SNMP_RC_SUCCESS);
      if (priv != SNMP_PRIV_NONE)
         EXPECT_EQ(pub.SetPrivPassword(priv, privPass), (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(pub.SetSecurityLevel(level), (uint32_t)SNMP_RC_SUCCESS);
   }
   ZbUsmIdentityData *Data() { return ZbUsmAccess::Data(&pub); }
};

std::vector<uint8_t> GetSysDescrPdu(uint32_t requestId)
{
   SNMP_PDU pdu(SNMP_CMD_GET_REQUEST, "", requestId, SNMP_VERSION_2C);
   pdu.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.1.0"));
   return PduElement(&pdu);
}
}  // namespace

// ---- Keys ----

TEST(UsmKeys, Rfc3414AppendixA3)
{
   REQUIRE_CRYPTO();
   struct Case
   {
      ZbHash hash;
      const char *ku, *kul;
   };
   const Case cases[] = {
      {ZB_HASH_MD5, "9f af 32 83 88 4e 92 83 4e bc 98 47 d8 ed d9 63",
       "52 6f 5e ed 9f cc e2 6f 89 64 c2 93 07 87 d8 2b"},
      {ZB_HASH_SHA1, "9f b5 cc 03 81 49 7b 37 93 52 89 39 ff 78 8d 5d 79 14 52 11",
       "66 95 fe bc 92 88 e3 62 82 23 5f c7 15 1f 12 84 97 b3 8f 3f"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.ku);
      uint8_t ku[ZB_HASH_MAX_SIZE], kul[ZB_HASH_MAX_SIZE];
      ASSERT_EQ(ZbUsmPasswordToKey(c.hash, (const uint8_t *)"maplesyrup", 10, ku), 1);
      EXPECT_EQ(ToHex(ku, ZbHashSize(c.hash)), ToHex(Hex(c.ku)));
      ASSERT_EQ(ZbUsmLocalizeKey(c.hash, ku, kRfcEngine.data(), (uint32_t)kRfcEngine.size(), kul),
                1);
      EXPECT_EQ(ToHex(kul, ZbHashSize(c.hash)), ToHex(Hex(c.kul)));
   }
}

TEST(UsmKeys, PasswordToKeyOfEveryLength)
{
   REQUIRE_CRYPTO();
   // The chunked hashing must equal hashing the megabyte itself, whatever
   // the password's length against the chunk.
   for (size_t length : {1, 3, 8, 10, 64, 4095, 4097, 5000})
   {
      SCOPED_TRACE(length);
      std::string password;
      for (size_t i = 0; i < length; i++)
         password += (char)('a' + i % 26);
      std::vector<uint8_t> megabyte(USM_PASSWORD_EXPANSION);
      for (size_t i = 0; i < megabyte.size(); i++)
         megabyte[i] = (uint8_t)password[i % length];
      uint8_t expected[ZB_HASH_MAX_SIZE], got[ZB_HASH_MAX_SIZE];
      ZbBytes whole = {megabyte.data(), megabyte.size()};
      ASSERT_EQ(ZbDigestParts(ZB_HASH_SHA256, &whole, 1, expected), 1);
      ASSERT_EQ(ZbUsmPasswordToKey(ZB_HASH_SHA256, (const uint8_t *)password.data(), length, got),
                1);
      EXPECT_EQ(ToHex(got, 32), ToHex(expected, 32));
   }
   uint8_t out[ZB_HASH_MAX_SIZE];
   EXPECT_EQ(ZbUsmPasswordToKey(ZB_HASH_MD5, (const uint8_t *)"", 0, out), 0);
}

TEST(UsmKeys, PrivacyKeyExtensions)
{
   REQUIRE_CRYPTO();
   uint8_t ku[ZB_HASH_MAX_SIZE], kul[ZB_HASH_MAX_SIZE];
   ASSERT_EQ(ZbUsmPasswordToKey(ZB_HASH_MD5, (const uint8_t *)"maplesyrup", 10, ku), 1);
   ASSERT_EQ(ZbUsmLocalizeKey(ZB_HASH_MD5, ku, kRfcEngine.data(), 12, kul), 1);
   // AES-256 from MD5's 16 octets: the localised key, then 16 more octets
   // made one way or the other.
   uint8_t hashed[32], relocalized[32];
   ZbUsmPrivInfo aes256, aes256c;
   ASSERT_EQ(ZbUsmPrivInfoOf(SNMP_PRIV_AES256, &aes256), 1);
   ASSERT_EQ(ZbUsmPrivInfoOf(SNMP_PRIV_AES256_C, &aes256c), 1);
   ASSERT_EQ(ZbUsmPrivKey(aes256, ZB_HASH_MD5, ku, kRfcEngine.data(), 12, hashed), 1);
   ASSERT_EQ(ZbUsmPrivKey(aes256c, ZB_HASH_MD5, ku, kRfcEngine.data(), 12, relocalized), 1);
   EXPECT_EQ(ToHex(hashed, 16), ToHex(kul, 16));
   EXPECT_EQ(ToHex(relocalized, 16), ToHex(kul, 16));
   uint8_t h[ZB_HASH_MAX_SIZE], k2[ZB_HASH_MAX_SIZE];
   ZbBytes part = {kul, 16};
   ASSERT_EQ(ZbDigestParts(ZB_HASH_MD5, &part, 1, h), 1);
   EXPECT_EQ(ToHex(hashed + 16, 16), ToHex(h, 16));
   ASSERT_EQ(ZbUsmPasswordToKey(ZB_HASH_MD5, kul, 16, k2), 1);
   ASSERT_EQ(ZbUsmLocalizeKey(ZB_HASH_MD5, k2, kRfcEngine.data(), 12, k2), 1);
   EXPECT_EQ(ToHex(relocalized + 16, 16), ToHex(k2, 16));

   // SHA-256 gives 32 octets: no extension either way.
   uint8_t ku256[32], kul256[32], a[32], b[32];
   ASSERT_EQ(ZbUsmPasswordToKey(ZB_HASH_SHA256, (const uint8_t *)"maplesyrup", 10, ku256), 1);
   ASSERT_EQ(ZbUsmLocalizeKey(ZB_HASH_SHA256, ku256, kRfcEngine.data(), 12, kul256), 1);
   ASSERT_EQ(ZbUsmPrivKey(aes256, ZB_HASH_SHA256, ku256, kRfcEngine.data(), 12, a), 1);
   ASSERT_EQ(ZbUsmPrivKey(aes256c, ZB_HASH_SHA256, ku256, kRfcEngine.data(), 12, b), 1);
   EXPECT_EQ(ToHex(a, 32), ToHex(kul256, 32));
   EXPECT_EQ(ToHex(b, 32), ToHex(kul256, 32));
}

TEST(UsmKeys, LocalisedKeysAreCachedPerEngine)
{
   REQUIRE_CRYPTO();
   Identity id("u", SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA1, "authpass1234", SNMP_PRIV_AES128,
               "privpass1234");
   const uint8_t e1[] = {0x80, 0, 0, 0, 1}, e2[] = {0x80, 0, 0, 0, 2};
   const ZbUsmLocalKeys *k1 = ZbUsmKeysFor(id.Data(), nullptr, e1, 5);
   ASSERT_NE(k1, nullptr);
   std::string auth1 = ToHex(k1->auth, 20);
   EXPECT_EQ(ZbUsmKeysFor(id.Data(), nullptr, e1, 5), k1);
   const ZbUsmLocalKeys *k2 = ZbUsmKeysFor(id.Data(), nullptr, e2, 5);
   ASSERT_NE(k2, nullptr);
   EXPECT_NE(ToHex(k2->auth, 20), auth1);
   EXPECT_EQ(ToHex(ZbUsmKeysFor(id.Data(), nullptr, e1, 5)->auth, 20), auth1);
}

// ---- The identity's setters ----

TEST(UsmIdentity, SettersCheckTheirArguments)
{
   SNMP_USMIdentity id;
   EXPECT_EQ(id.SetUser(""), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetUser(nullptr), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetUser(std::string(33, 'u').c_str()), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetUser(std::string(32, 'u').c_str()), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(id.SetSecurityLevel(0), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetSecurityLevel(4), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetContextName(std::string(33, 'c').c_str()), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetContextName(""), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(id.SetEngineId(nullptr, 0), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   uint8_t engine[33] = {0x80};
   EXPECT_EQ(id.SetEngineId(engine, 33), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetAuthPassword(7, "authpass1234"), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetAuthPassword(SNMP_AUTH_NONE, "authpass1234"), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetAuthPassword(SNMP_AUTH_MD5, ""), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetPrivPassword(9, "privpass1234"), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   if (!ZbCryptoAvailable())
   {
      EXPECT_EQ(id.SetAuthPassword(SNMP_AUTH_MD5, "authpass1234"),
                (uint32_t)SNMP_RC_SECURITY_UNAVAILABLE);
      return;
   }
   // The privacy password needs the authentication hash.
   EXPECT_EQ(id.SetPrivPassword(SNMP_PRIV_AES128, "privpass1234"),
             (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetAuthPassword(SNMP_AUTH_SHA256, "authpass1234"), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(id.SetPrivPassword(SNMP_PRIV_AES128, "privpass1234"), (uint32_t)SNMP_RC_SUCCESS);
   uint8_t key[64] = {1};
   EXPECT_EQ(id.SetAuthKey(SNMP_AUTH_SHA256, key, 20, SNMP_KEY_MASTER),
             (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetAuthKey(SNMP_AUTH_SHA256, key, 32, 2), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetPrivKey(SNMP_PRIV_AES256, key, 24, SNMP_KEY_LOCALIZED),
             (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(id.SetPrivKey(SNMP_PRIV_AES256, key, 32, SNMP_KEY_LOCALIZED),
             (uint32_t)SNMP_RC_SUCCESS);
   // A level above the keys that are set is refused when a message is made.
   SNMP_USMIdentity bare("bare");
   EXPECT_EQ(bare.SetSecurityLevel(SNMP_SEC_AUTH_NO_PRIV), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(ZbUsmCheckIdentity(ZbUsmAccess::Data(&bare)), (uint32_t)SNMP_RC_BAD_PARAMETERS);
}

TEST(UsmIdentity, KeysAreWipedWhenTheIdentityDies)
{
   REQUIRE_CRYPTO();
   // The identity's data in storage of our own, so that it can be looked at
   // after its destructor has run.
   alignas(ZbUsmIdentityData) unsigned char storage[sizeof(ZbUsmIdentityData)];
   ZbUsmIdentityData *d = new (storage) ZbUsmIdentityData();
   uint8_t key[20];
   memset(key, 0xA5, sizeof(key));
   memcpy(d->authKey, key, sizeof(key));
   d->authKeyLength = 20;
   d->authMethod = SNMP_AUTH_SHA1;
   memcpy(d->privKey, key, 16);
   d->privKeyLength = 16;
   d->privMethod = SNMP_PRIV_AES128;
   d->level = SNMP_SEC_AUTH_PRIV;
   strcpy(d->user, "u");
   d->userLength = 1;
   const uint8_t engine[] = {0x80, 0, 0, 0, 1};
   ASSERT_NE(ZbUsmKeysFor(d, nullptr, engine, sizeof(engine)), nullptr);
   d->~ZbUsmIdentityData();
   const ZbUsmIdentityData *dead = (const ZbUsmIdentityData *)storage;
   const uint8_t zero[ZB_HASH_MAX_SIZE] = {0};
   EXPECT_EQ(memcmp(dead->authKey, zero, sizeof(dead->authKey)), 0);
   EXPECT_EQ(memcmp(dead->privKey, zero, sizeof(dead->privKey)), 0);
   EXPECT_EQ(memcmp(dead->peer.keys.auth, zero, sizeof(dead->peer.keys.auth)), 0);
   EXPECT_EQ(memcmp(dead->peer.keys.priv, zero, sizeof(dead->peer.keys.priv)), 0);
}

TEST(UsmIdentity, StatusTexts)
{
   const struct
   {
      uint32_t code;
      const char *text;
   } cases[] = {
      {SNMP_RC_UNKNOWN_ENGINE_ID, "Unknown SNMP engine ID"},
      {SNMP_RC_NOT_IN_TIME_WINDOW, "Message not in time window"},
      {SNMP_RC_UNKNOWN_USER_NAME, "Unknown user name"},
      {SNMP_RC_WRONG_DIGEST, "Wrong digest (authentication failed)"},
      {SNMP_RC_DECRYPTION_ERROR, "Decryption error"},
      {SNMP_RC_UNSUPPORTED_SEC_LEVEL, "Unsupported security level"},
      {SNMP_RC_REPORT, "Agent sent a report"},
      {SNMP_RC_SECURITY_UNAVAILABLE, "Security method not available in this build"},
      {SNMP_RC_CANCELLED, "Request cancelled"},
      {SNMP_RC_ENCRYPTED_UNANSWERED,
       "Encrypted request unanswered (wrong privacy password or method?)"},
      {SNMP_RC_ENCRYPTED_UNANSWERED + 1, "Unknown error"},
   };
   for (const auto &c : cases)
      EXPECT_STREQ(SNMPGetErrorText(c.code), c.text) << c.code;
}

// ---- Messages captured from Net-SNMP ----

// snmpget -v3 -u zbuser -l authPriv -a A -A authpass1234 -x X -X privpass5678
//   -e 0x80001f8880aabbccdd11223344 -n ctx HOST .1.3.6.1.2.1.1.1.0
// (boots and time 0, msgMaxSize 65507), captured on loopback.
struct Capture
{
   uint32_t auth, priv;
   const char *name;
   const char *hex;
};
static const Capture kCaptures[] = {
   {SNMP_AUTH_MD5, SNMP_PRIV_DES, "MD5/DES",
    "308189020103301102046f5a2e77020300ffe304010702010304373035040d80001f8880aabbccdd112233440201"
    "0002010004067a6275736572040c552006780d0c79d7e26b80da040800000001566e6cec043893d76ee6d572f868"
    "64f9ab46d1f40f5f49a18dcd73ba34e21e590f5382bf89e8a31df6c8ffed9bdb52621bf81b3d143a69e5d9848656"
    "05ac"},
   {SNMP_AUTH_SHA1, SNMP_PRIV_AES128, "SHA/AES",
    "308185020103301102047826f93a020300ffe304010702010304373035040d80001f8880aabbccdd112233440201"
    "0002010004067a6275736572040c9d9aa1fcf1f6adf8a0b46647040875aff9a9510ff3a8043478a087fe7eac200e"
    "f66528c286f9f288fccb700e5e9d85d4532edecf9a681157d7970e3a4f3ec01f1e5ff356fd4f6beba8f72e20"},
   {SNMP_AUTH_SHA224, SNMP_PRIV_AES192_C, "SHA-224/AES-192-C",
    "3081890201033011020441a8adf5020300ffe3040107020103043b3039040d80001f8880aabbccdd112233440201"
    "0002010004067a62757365720410fa43805a674eb7835bdbeda14e6a6b8b04083d494c48456681dc043412379"
    "5a584fecc68fc487889d03198cb729da9ac632c3ac218409e4c0b3b134036b0efc84e2483c61db47dccdb348a9f5e"
    "faf93d"},
   {SNMP_AUTH_SHA256, SNMP_PRIV_AES192, "SHA-256/AES-192",
    "3081910201033011020416d3cc65020300ffe304010702010304433041040d80001f8880aabbccdd112233440201"
    "0002010004067a627573657204186304143f6ae71d912ad7a6b803064eff38a9abfce35ce1110408265dc71336"
    "42e9350434dd6b828182c5680cb26729c8be85fc4c59967a0a21100d1cf643c728dc77e2bc80b7389f9c3f5e3ee1e"
    "c4ee21a48dfd08b0e71d7"},
   {SNMP_AUTH_SHA384, SNMP_PRIV_AES256_C, "SHA-384/AES-256-C",
    "3081990201033011020414b24898020300ffe3040107020103044b3049040d80001f8880aabbccdd112233440201"
    "0002010004067a62757365720420871087da5d5963e56272a8a5261a379175a0abe11ee1c95953d3ac94bfabd8"
    "9504082a9b3352a844eec2043443cc9d077467982d81d11b1b48b4f77477666a533a08f75dafe73c59d4418afae28"
    "1c9077b99bb489c1d947aab4c891a084313ee"},
   {SNMP_AUTH_SHA512, SNMP_PRIV_AES256, "SHA-512/AES-256",
    "3081a90201033011020406791351020300ffe3040107020103045b3059040d80001f8880aabbccdd112233440201"
    "0002010004067a62757365720430aaf6098e04d491aab2bdea35189ee2f23cecfb33d883df825fa17bb8602c86"
    "3f0656abbd29a493ea870916ddb29008850408d651b3d0cb47b4b10434b596a597c39b2272a45e2a72f47b0b7da2"
    "7c8a20a7a8524edfe89850aa0d4c1996335c97ef89f2f13bad9393bd3b98d5df55ba72"},
   {SNMP_AUTH_SHA1, SNMP_PRIV_DES, "SHA/DES",
    "3081890201033011020437433f3b020300ffe304010702010304373035040d80001f8880aabbccdd112233440201"
    "0002010004067a6275736572040c70bdc65706c4df15f45c8a24040800000001fc3d81780438aa00184649d273e4"
    "7ae9a411f29484f8c0c3b522cb9092a30b6ad4d298d4efe9748234bcebe26d13dd8c12349e16d710bc0e2ac3820a"
    "b22c"},
   {SNMP_AUTH_MD5, SNMP_PRIV_AES256, "MD5/AES-256",
    "3081850201033011020408370e2e020300ffe304010702010304373035040d80001f8880aabbccdd112233440201"
    "0002010004067a6275736572040c7b67502760c55652d0ae17e104089aaa522690e2f7da0434da4eb9ff1c9a98ec"
    "1f3a02031f155dd77fd3a5c70409b222710b5a2147d129e76de718f1c6a2f2d9496ac57fd6b63ce0bc3579af"},
   {SNMP_AUTH_SHA1, SNMP_PRIV_AES192, "SHA/AES-192",
    "308185020103301102045f599465020300ffe304010702010304373035040d80001f8880aabbccdd112233440201"
    "0002010004067a6275736572040c8fd6aa250056294a753d1c040408bc32e773a1b6740c0434afd87d16568b2de8"
    "df850ba5e6baccf769e83e9f1e4c8fad69605e4996b866a414a6b26f6efe8ffb8a7e764065a284ae9694165c"},
   {SNMP_AUTH_MD5, SNMP_PRIV_AES192_C, "MD5/AES-192-C",
    "308185020103301102045bc7b983020300ffe304010702010304373035040d80001f8880aabbccdd112233440201"
    "0002010004067a6275736572040c4b3df9829c131bfad6c01b9d0408377a97a3276a9be404348fb636422ab20055"
    "2884c27f7ba5bd2e9f76b6f0702a60e9724c1829c9fbbb546cd3bf518b73766266c5ade9c8f4db4ebc1466d3"},
};

TEST(V3Capture, NetSnmpRequestsAuthenticateDecryptAndEncodeAgain)
{
   REQUIRE_CRYPTO();
   const std::vector<uint8_t> engine = Hex("80001f8880aabbccdd11223344");
   for (const Capture &c : kCaptures)
   {
      SCOPED_TRACE(c.name);
      ZbCipher cipher = c.priv == SNMP_PRIV_DES ? ZB_CIPHER_DES_CBC : ZB_CIPHER_AES128_CFB;
      if (!ZbCipherAvailable(cipher))
         continue;
      Identity id("zbuser", SNMP_SEC_AUTH_PRIV, c.auth, "authpass1234", c.priv, "privpass5678");
      std::vector<uint8_t> wire = Hex(c.hex);
      ZbV3Received r;
      ASSERT_EQ(ZbV3Receive(id.Data(), nullptr, wire.data(), (uint32_t)wire.size(), 100, &r),
                (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_TRUE(r.authenticated);
      EXPECT_EQ(r.message.authParamsLength, ZbUsmDigestLength(c.auth));
      EXPECT_EQ(ToHex(r.scoped.contextEngineId, r.scoped.contextEngineIdLength), ToHex(engine));
      EXPECT_EQ(std::string((const char *)r.scoped.contextName, r.scoped.contextNameLength), "ctx");
      auto pdu = ParsePduElement(r.scoped.pdu, r.scoped.pduLength);
      ASSERT_NE(pdu, nullptr);
      EXPECT_EQ(pdu->GetCommand(), (uint32_t)SNMP_CMD_GET_REQUEST);
      ASSERT_EQ(pdu->GetNumVariables(), 1u);
      EXPECT_STREQ(pdu->GetVariable(0)->GetName()->GetValueAsText(), ".1.3.6.1.2.1.1.1.0");
      // The engine was learnt from the authenticated message.
      uint32_t learnt = 0;
      id.pub.GetEngineId(&learnt);
      EXPECT_EQ(learnt, engine.size());

      // Written again with the same fields and salt, the message is the same
      // octets (DES: Net-SNMP's salt does not begin with the boots we write).
      if (c.priv == SNMP_PRIV_DES)
      {
         ZbV3ReceivedFree(&r);
         continue;
      }
      const ZbUsmLocalKeys *keys =
          ZbUsmKeysFor(id.Data(), nullptr, engine.data(), (uint32_t)engine.size());
      ZbV3Outgoing o;
      memset(&o, 0, sizeof(o));
      o.msgId = r.message.msgId;
      o.maxSize = r.message.maxSize;
      o.reportable = true;
      o.security = {
          SNMP_SEC_AUTH_PRIV,
          (const uint8_t *)"zbuser",
          6,
          c.auth,
          keys->auth,
          c.priv,
          keys->priv,
          engine.data(),
          (uint32_t)engine.size(),
          0,
          0,
          ((uint64_t)GetBE32(r.message.privParams) << 32) | GetBE32(r.message.privParams + 4)};
      o.contextEngineId = engine.data();
      o.contextEngineIdLength = (uint32_t)engine.size();
      o.contextName = (const uint8_t *)"ctx";
      o.contextNameLength = 3;
      o.pdu = r.scoped.pdu;
      o.pduLength = r.scoped.pduLength;
      uint8_t *out = nullptr;
      uint32_t n = ZbV3Encode(&o, &out);
      EXPECT_EQ(ToHex(out, n), ToHex(wire));
      free(out);
      ZbV3ReceivedFree(&r);
   }
}

// ---- Our own messages ----

namespace
{
const uint8_t kEngine[] = {0x80, 0x00, 0x1f, 0x88, 0x80, 0x11, 0x22, 0x33, 0x44};

// A sender that knows the engine (boots 3, time 1000) and a receiver that
// does not, with the same user and passwords.
struct Pair
{
   Identity sender, receiver;
   Pair(uint32_t level, uint32_t auth, uint32_t priv)
       : sender("zbuser", level, auth, "authpass1234", priv, "privpass5678"),
         receiver("zbuser", level, auth, "authpass1234", priv, "privpass5678")
   {
      EXPECT_EQ(sender.pub.SetEngineId(kEngine, sizeof(kEngine)), (uint32_t)SNMP_RC_SUCCESS);
      ZbUsmEngineSeed(&sender.Data()->peer.engine, 3, 1000, 0);
      sender.pub.SetContextName("ctx");
   }
   std::vector<uint8_t> Message(const std::vector<uint8_t> &pdu, uint32_t msgId = 77)
   {
      uint8_t *out = nullptr;
      uint32_t n = 0;
      EXPECT_EQ(ZbV3EncodeRequest(sender.Data(), nullptr, msgId, 65507, pdu.data(),
                                  (uint32_t)pdu.size(), 0, &out, &n),
                (uint32_t)SNMP_RC_SUCCESS);
      std::vector<uint8_t> v(out, out + n);
      free(out);
      return v;
   }
};

uint32_t Receive(Identity &id, const std::vector<uint8_t> &wire, int64_t now = 0)
{
   ZbV3Received r;
   uint32_t rc = ZbV3Receive(id.Data(), nullptr, wire.data(), (uint32_t)wire.size(), now, &r);
   if (rc == SNMP_RC_SUCCESS)
      ZbV3ReceivedFree(&r);
   return rc;
}
}  // namespace

TEST(V3Message, EveryLevelAndMethodRoundTrips)
{
   REQUIRE_CRYPTO();
   struct Combo
   {
      uint32_t level, auth, priv;
   };
   std::vector<Combo> combos = {{SNMP_SEC_NO_AUTH_NO_PRIV, SNMP_AUTH_NONE, SNMP_PRIV_NONE}};
   for (uint32_t auth = SNMP_AUTH_MD5; auth <= SNMP_AUTH_SHA512; auth++)
   {
      combos.push_back({SNMP_SEC_AUTH_NO_PRIV, auth, SNMP_PRIV_NONE});
      for (uint32_t priv = SNMP_PRIV_DES; priv <= SNMP_PRIV_AES256_C; priv++)
         if (priv != SNMP_PRIV_DES || ZbCipherAvailable(ZB_CIPHER_DES_CBC))
            combos.push_back({SNMP_SEC_AUTH_PRIV, auth, priv});
   }
   // Bindings of every size, so that the DES padding takes every length.
   for (const Combo &c : combos)
   {
      SCOPED_TRACE(testing::Message()
                   << "level " << c.level << " auth " << c.auth << " priv " << c.priv);
      Pair pair(c.level, c.auth, c.priv);
      for (int extra = 0; extra < 9; extra++)
      {
         SNMP_PDU request(SNMP_CMD_SET_REQUEST, "", 4242 + extra, SNMP_VERSION_2C);
         SNMP_Variable *v = new SNMP_Variable(".1.3.6.1.2.1.1.6.0");
         v->SetValueFromString(ASN_TYPE_OCTET_STRING, std::string(extra, 'x').c_str());
         request.BindVariable(v);
         std::vector<uint8_t> pdu = PduElement(&request);
         std::vector<uint8_t> wire = pair.Message(pdu);
         ZbV3Received r;
         ASSERT_EQ(
             ZbV3Receive(pair.receiver.Data(), nullptr, wire.data(), (uint32_t)wire.size(), 0, &r),
             (uint32_t)SNMP_RC_SUCCESS);
         EXPECT_EQ(r.authenticated, c.level != SNMP_SEC_NO_AUTH_NO_PRIV);
         EXPECT_EQ(r.message.flags, (c.level == SNMP_SEC_NO_AUTH_NO_PRIV ? 0u
                                     : c.level == SNMP_SEC_AUTH_NO_PRIV  ? 1u
                                                                         : 3u) |
                                        V3_FLAG_REPORTABLE);
         EXPECT_EQ(r.message.authParamsLength, ZbUsmDigestLength(c.auth));
         EXPECT_EQ(r.message.privParamsLength, c.priv != SNMP_PRIV_NONE ? 8u : 0u);
         if (c.priv == SNMP_PRIV_DES)
            EXPECT_EQ(r.message.scopedLength % 8, 0u);
         EXPECT_EQ(ToHex(r.scoped.pdu, r.scoped.pduLength), ToHex(pdu));
         EXPECT_EQ(std::string((const char *)r.scoped.contextName, r.scoped.contextNameLength),
                   "ctx");
         ZbV3ReceivedFree(&r);
      }
      if (c.level != SNMP_SEC_NO_AUTH_NO_PRIV)
      {
         EXPECT_EQ(pair.receiver.pub.GetEngineBoots(), 3u);
         uint32_t length = 0;
         pair.receiver.pub.GetEngineId(&length);
         EXPECT_EQ(length, sizeof(kEngine));
      }
   }
}

TEST(V3Message, RFC7860DigestLengths)
{
   const uint32_t expected[] = {0, 12, 12, 16, 24, 32, 48, 0};
   for (uint32_t m = 0; m < 8; m++)
      EXPECT_EQ(ZbUsmDigestLength(m), expected[m]) << m;
}

TEST(V3Message, ChangedOctetsNeverAuthenticate)
{
   REQUIRE_CRYPTO();
   for (uint32_t priv : {SNMP_PRIV_NONE, SNMP_PRIV_AES128})
   {
      SCOPED_TRACE(priv);
      Pair pair(priv ? SNMP_SEC_AUTH_PRIV : SNMP_SEC_AUTH_NO_PRIV, SNMP_AUTH_SHA256, priv);
      std::vector<uint8_t> wire = pair.Message(GetSysDescrPdu(9));
      ASSERT_EQ(Receive(pair.receiver, wire), (uint32_t)SNMP_RC_SUCCESS);
      for (size_t i = 0; i < wire.size(); i++)
      {
         for (uint8_t bit : {0x01, 0x80})
         {
            std::vector<uint8_t> changed = wire;
            changed[i] ^= bit;
            // Clearing the auth flag makes it an unauthenticated response,
            // which an authenticated identity refuses too.
            EXPECT_NE(Receive(pair.receiver, changed), (uint32_t)SNMP_RC_SUCCESS) << "octet " << i;
         }
      }
      // Every strict prefix fails to parse.
      for (size_t n = 0; n < wire.size(); n++)
      {
         std::vector<uint8_t> prefix(wire.begin(), wire.begin() + n);
         EXPECT_EQ(Receive(pair.receiver, prefix), (uint32_t)SNMP_RC_PARSE_ERROR) << n;
      }
   }
}

TEST(V3Message, ReceiverChecksGiveTheirOwnResults)
{
   REQUIRE_CRYPTO();
   Pair pair(SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA1, SNMP_PRIV_AES128);
   std::vector<uint8_t> wire = pair.Message(GetSysDescrPdu(5));

   Identity otherUser("someone", SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA1, "authpass1234",
                      SNMP_PRIV_AES128, "privpass5678");
   EXPECT_EQ(Receive(otherUser, wire), (uint32_t)SNMP_RC_UNKNOWN_USER_NAME);
   Identity wrongAuth("zbuser", SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA1, "authpass9999",
                      SNMP_PRIV_AES128, "privpass5678");
   EXPECT_EQ(Receive(wrongAuth, wire), (uint32_t)SNMP_RC_WRONG_DIGEST);
   Identity wrongPriv("zbuser", SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA1, "authpass1234",
                      SNMP_PRIV_AES128, "privpass9999");
   EXPECT_EQ(Receive(wrongPriv, wire), (uint32_t)SNMP_RC_DECRYPTION_ERROR);
   Identity authOnly("zbuser", SNMP_SEC_AUTH_NO_PRIV, SNMP_AUTH_SHA1, "authpass1234",
                     SNMP_PRIV_NONE, nullptr);
   EXPECT_EQ(Receive(authOnly, wire), (uint32_t)SNMP_RC_UNSUPPORTED_SEC_LEVEL);
   Identity otherEngine("zbuser", SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA1, "authpass1234",
                        SNMP_PRIV_AES128, "privpass5678");
   const uint8_t engine2[] = {0x80, 0, 0, 0, 9};
   otherEngine.pub.SetEngineId(engine2, sizeof(engine2));
   EXPECT_EQ(Receive(otherEngine, wire), (uint32_t)SNMP_RC_UNKNOWN_ENGINE_ID);

   // Time: the receiver has seen boots 3 at time 1000; 200 s later a message
   // stamped 1000 is outside the window, and so is one of an older boot.
   EXPECT_EQ(Receive(pair.receiver, wire, 0), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(Receive(pair.receiver, wire, 149), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(Receive(pair.receiver, wire, 200), (uint32_t)SNMP_RC_NOT_IN_TIME_WINDOW);
   ZbUsmEngineSeed(&pair.sender.Data()->peer.engine, 2, 5000, 0);
   pair.sender.Data()->peer.engine.synced = false;
   EXPECT_EQ(Receive(pair.receiver, pair.Message(GetSysDescrPdu(6)), 0),
             (uint32_t)SNMP_RC_NOT_IN_TIME_WINDOW);
   // A failed message teaches nothing.
   EXPECT_EQ(pair.receiver.pub.GetEngineBoots(), 3u);
}

TEST(V3Message, PrivacyParametersAndCiphertextChecked)
{
   REQUIRE_CRYPTO();
   if (!ZbCipherAvailable(ZB_CIPHER_DES_CBC))
      GTEST_SKIP() << "libcrypto without single DES";
   Identity id("zbuser", SNMP_SEC_AUTH_PRIV, SNMP_AUTH_MD5, "authpass1234", SNMP_PRIV_DES,
               "privpass5678");
   const ZbUsmLocalKeys *keys = ZbUsmKeysFor(id.Data(), nullptr, kEngine, sizeof(kEngine));
   ASSERT_NE(keys, nullptr);
   const uint8_t salt[8] = {0, 0, 0, 1, 2, 3, 4, 5};
   uint8_t cipher[16] = {0};
   ZbV3Message m;
   memset(&m, 0, sizeof(m));
   m.privParams = salt;
   m.scoped = cipher;
   uint8_t *plain = nullptr;
   uint32_t plainLength = 0;
   struct Case
   {
      uint32_t saltLength, cipherLength;
   };
   for (Case c : {Case{7, 16}, Case{9, 16}, Case{8, 15}, Case{8, 0}, Case{8, 16}})
   {
      m.privParamsLength = c.saltLength;
      m.scopedLength = c.cipherLength;
      // The last: whole blocks that do not decrypt to a SEQUENCE.
      EXPECT_EQ(ZbV3Decrypt(&m, SNMP_PRIV_DES, keys->priv, &plain, &plainLength),
                (uint32_t)SNMP_RC_DECRYPTION_ERROR)
          << c.saltLength << " " << c.cipherLength;
   }
}

// The discovery request of msgID 0x1234 around a GET of no bindings.
static const char kDiscovery[] =
    "30 39 02 01 03 30 0F 02 02 12 34 02 03 00 FF E3 04 01 04 02 01 03 04 10 30 0E 04 00 02 01 00"
    " 02 01 00 04 00 04 00 04 00 30 11 04 00 04 00 A0 0B 02 01 2A 02 01 00 02 01 00 30 00";

TEST(V3Message, DiscoveryRequest)
{
   std::vector<uint8_t> pdu = Hex("A0 0B 02 01 2A 02 01 00 02 01 00 30 00");
   uint8_t *out = nullptr;
   uint32_t n = ZbV3EncodeDiscovery(0x1234, 65507, pdu.data(), (uint32_t)pdu.size(), &out);
   // version 3; msgID 0x1234, maxSize 65507, flags reportable, USM; empty
   // engine, boots 0, time 0, empty user, digest and salt; scopedPDU with
   // empty context engine and name.
   EXPECT_EQ(ToHex(out, n),
             ToHex(Hex(kDiscovery)));
   free(out);
   // Out of range: msgID 2^31, msgMaxSize under 484, no PDU.
   EXPECT_EQ(ZbV3EncodeDiscovery(0x80000000u, 65507, pdu.data(), (uint32_t)pdu.size(), &out), 0u);
   EXPECT_EQ(ZbV3EncodeDiscovery(1, 483, pdu.data(), (uint32_t)pdu.size(), &out), 0u);
   EXPECT_EQ(ZbV3EncodeDiscovery(1, 65507, nullptr, 0, &out), 0u);
}

TEST(V3Message, ParseRejectsWhatRFC3412Discards)
{
   struct Case
   {
      const char *what, *hex;
      int ok;
   };
   // The discovery request above (it parses), changed field by field.
   const Case cases[] = {
      {"the request itself", kDiscovery, 1},
      {"version 1",
       "30 39 02 01 01 30 0F 02 02 12 34 02 03 00 FF E3 04 01 04 02 01 03 04 10 30 0E 04 00"
       " 02 01 00 02 01 00 04 00 04 00 04 00 30 11 04 00 04 00 A0 0B 02 01 2A 02 01 00 02 01"
       " 00 30 00", 0},
      {"maxSize 483",
       "30 39 02 01 03 30 0F 02 02 12 34 02 03 00 01 E3 04 01 04 02 01 03 04 10 30 0E 04 00"
       " 02 01 00 02 01 00 04 00 04 00 04 00 30 11 04 00 04 00 A0 0B 02 01 2A 02 01 00 02 01"
       " 00 30 00", 0},
      {"negative msgID",
       "30 39 02 01 03 30 0F 02 02 F2 34 02 03 00 FF E3 04 01 04 02 01 03 04 10 30 0E 04 00"
       " 02 01 00 02 01 00 04 00 04 00 04 00 30 11 04 00 04 00 A0 0B 02 01 2A 02 01 00 02 01"
       " 00 30 00", 0},
      {"two flag octets",
       "30 3A 02 01 03 30 10 02 02 12 34 02 03 00 FF E3 04 02 04 00 02 01 03 04 10 30 0E 04"
       " 00 02 01 00 02 01 00 04 00 04 00 04 00 30 11 04 00 04 00 A0 0B 02 01 2A 02 01 00 02"
       " 01 00 30 00", 0},
      {"priv without auth",
       "30 39 02 01 03 30 0F 02 02 12 34 02 03 00 FF E3 04 01 06 02 01 03 04 10 30 0E 04 00"
       " 02 01 00 02 01 00 04 00 04 00 04 00 30 11 04 00 04 00 A0 0B 02 01 2A 02 01 00 02 01"
       " 00 30 00", 0},
      {"security model 2",
       "30 39 02 01 03 30 0F 02 02 12 34 02 03 00 FF E3 04 01 04 02 01 02 04 10 30 0E 04 00"
       " 02 01 00 02 01 00 04 00 04 00 04 00 30 11 04 00 04 00 A0 0B 02 01 2A 02 01 00 02 01"
       " 00 30 00", 0},
      {"negative boots",
       "30 39 02 01 03 30 0F 02 02 12 34 02 03 00 FF E3 04 01 04 02 01 03 04 10 30 0E 04 00"
       " 02 01 FF 02 01 00 04 00 04 00 04 00 30 11 04 00 04 00 A0 0B 02 01 2A 02 01 00 02 01"
       " 00 30 00", 0},
      {"parameters not in an OCTET STRING",
       "30 39 02 01 03 30 0F 02 02 12 34 02 03 00 FF E3 04 01 04 02 01 03 30 10 30 0E 04 00"
       " 02 01 00 02 01 00 04 00 04 00 04 00 30 11 04 00 04 00 A0 0B 02 01 2A 02 01 00 02 01"
       " 00 30 00", 0},
      {"plain scopedPDU as OCTET STRING",
       "30 39 02 01 03 30 0F 02 02 12 34 02 03 00 FF E3 04 01 04 02 01 03 04 10 30 0E 04 00"
       " 02 01 00 02 01 00 04 00 04 00 04 00 04 11 04 00 04 00 A0 0B 02 01 2A 02 01 00 02 01"
       " 00 30 00", 0},
      {"no scopedPDU",
       "30 26 02 01 03 30 0F 02 02 12 34 02 03 00 FF E3 04 01 04 02 01 03 04 10 30 0E 04 00"
       " 02 01 00 02 01 00 04 00 04 00 04 00", 0},
      {"user of 33 octets",
       "30 5A 02 01 03 30 0F 02 02 12 34 02 03 00 FF E3 04 01 04 02 01 03 04 31 30 2F 04 00"
       " 02 01 00 02 01 00 04 21 75 75 75 75 75 75 75 75 75 75 75 75 75 75 75 75 75 75 75 75"
       " 75 75 75 75 75 75 75 75 75 75 75 75 75 04 00 04 00 30 11 04 00 04 00 A0 0B 02 01 2A"
       " 02 01 00 02 01 00 30 00", 0},
   };
   for (const Case &c : cases)
   {
      std::vector<uint8_t> wire = Hex(c.hex);
      ZbV3Message m;
      EXPECT_EQ(ZbV3ParseMessage(wire.data(), (uint32_t)wire.size(), &m), c.ok) << c.what;
   }
}

// ---- Engines and time windows ----

TEST(UsmEngine, NonAuthoritativeTimeWindow)
{
   struct Case
   {
      int64_t now;
      uint32_t boots, time;
      int ok;
      uint32_t bootsAfter;
   };
   // Learnt: boots 5, time 1000, at local second 0.
   const Case cases[] = {
      {0, 5, 1000, 1, 5},   {0, 5, 850, 1, 5},   {0, 5, 849, 0, 5},
      {100, 5, 950, 1, 5},  {100, 5, 949, 0, 5}, {0, 4, 5000, 0, 5},
      {0, 6, 0, 1, 6},      {0, 5, 9000, 1, 5},
   };
   for (const Case &c : cases)
   {
      ZbUsmEngine e;
      ZbUsmEngineReset(&e);
      ASSERT_EQ(ZbUsmEngineAccept(&e, 5, 1000, 0), 1);
      EXPECT_EQ(ZbUsmEngineAccept(&e, c.boots, c.time, c.now), c.ok)
          << c.now << " " << c.boots << " " << c.time;
      EXPECT_EQ(e.boots, c.bootsAfter);
   }
   // The estimate runs on with the local clock; boots latched at 2^31 - 1 is
   // never inside the window.
   ZbUsmEngine e;
   ZbUsmEngineReset(&e);
   ZbUsmEngineAccept(&e, 5, 1000, 10);
   EXPECT_EQ(ZbUsmEngineTimeNow(&e, 70), 1060u);
   ZbUsmEngineReset(&e);
   EXPECT_EQ(ZbUsmEngineAccept(&e, USM_MAX_BOOTS, 1, 0), 0);
}

TEST(UsmEngine, UnauthenticatedSeedIsReplacedByAuthenticatedTime)
{
   ZbUsmEngine e;
   ZbUsmEngineReset(&e);
   // A forged discovery Report claims a huge boots count...
   ZbUsmEngineSeed(&e, 1000000, 5, 0);
   EXPECT_TRUE(e.timeKnown);
   EXPECT_FALSE(e.synced);
   // ... the agent's first authenticated answer still gets through.
   EXPECT_EQ(ZbUsmEngineAccept(&e, 7, 300, 0), 1);
   EXPECT_EQ(e.boots, 7u);
   // Once synchronised, a seed changes nothing.
   ZbUsmEngineSeed(&e, 9, 9, 0);
   EXPECT_EQ(e.boots, 7u);
}

TEST(UsmEngine, AuthoritativeTimeWindow)
{
   struct Case
   {
      uint32_t localBoots, localTime, boots, time;
      int ok;
   };
   const Case cases[] = {
      {5, 1000, 5, 1000, 1}, {5, 1000, 5, 1150, 1}, {5, 1000, 5, 1151, 0},
      {5, 1000, 5, 850, 1},  {5, 1000, 5, 849, 0},  {5, 1000, 4, 1000, 0},
      {5, 1000, 6, 1000, 0}, {USM_MAX_BOOTS, 0, USM_MAX_BOOTS, 0, 0},
   };
   for (const Case &c : cases)
      EXPECT_EQ(ZbUsmInTimeWindow(c.localBoots, c.localTime, c.boots, c.time), c.ok)
          << c.boots << " " << c.time;
}

// ---- Reports ----

TEST(V3Report, CounterNamesGiveDistinctCodes)
{
   struct Case
   {
      const char *oid;
      uint32_t code;
   };
   const Case cases[] = {
      {".1.3.6.1.6.3.15.1.1.1.0", SNMP_RC_UNSUPPORTED_SEC_LEVEL},
      {".1.3.6.1.6.3.15.1.1.2.0", SNMP_RC_NOT_IN_TIME_WINDOW},
      {".1.3.6.1.6.3.15.1.1.3.0", SNMP_RC_UNKNOWN_USER_NAME},
      {".1.3.6.1.6.3.15.1.1.4.0", SNMP_RC_UNKNOWN_ENGINE_ID},
      {".1.3.6.1.6.3.15.1.1.5.0", SNMP_RC_WRONG_DIGEST},
      {".1.3.6.1.6.3.15.1.1.6.0", SNMP_RC_DECRYPTION_ERROR},
      {".1.3.6.1.6.3.15.1.1.4", SNMP_RC_UNKNOWN_ENGINE_ID},
      {".1.3.6.1.6.3.15.1.1.7.0", SNMP_RC_REPORT},
      {".1.3.6.1.6.3.15.1.1.0.0", SNMP_RC_REPORT},
      {".1.3.6.1.6.3.15.1.1.4.1", SNMP_RC_REPORT},
      {".1.3.6.1.6.3.15.1.1.4.0.0", SNMP_RC_REPORT},
      {".1.3.6.1.6.3.11.2.1.3.0", SNMP_RC_REPORT},  // snmpUnknownPDUHandlers
      {".1.3.6.1.6.3.15.1.1", SNMP_RC_REPORT},
   };
   for (const Case &c : cases)
   {
      uint32_t ids[32];
      uint32_t n = SNMPParseOID(c.oid, ids, 32);
      EXPECT_EQ(ZbUsmReportCode(ids, n), c.code) << c.oid;
   }
}

TEST(V3Report, ReadReportPdu)
{
   struct Case
   {
      const char *hex;
      int ok;
      uint32_t requestId, status;
   };
   const Case cases[] = {
      // request-id 42, usmStatsUnknownEngineIDs.0 = Counter32 1
      {"A8 1C 02 01 2A 02 01 00 02 01 00 30 11 30 0F 06 0A 2B 06 01 06 03 0F 01 01 04 00 41 01 01",
       1, 42, SNMP_RC_UNKNOWN_ENGINE_ID},
      // usmStatsWrongDigests.0, request-id -1
      {"A8 1C 02 01 FF 02 01 00 02 01 00 30 11 30 0F 06 0A 2B 06 01 06 03 0F 01 01 05 00 41 01 07",
       1, 0xFFFFFFFF, SNMP_RC_WRONG_DIGEST},
      // no bindings
      {"A8 0B 02 01 01 02 01 00 02 01 00 30 00", 1, 1, SNMP_RC_REPORT},
      // a Response, not a Report
      {"A2 0B 02 01 01 02 01 00 02 01 00 30 00", 0, 0, 0},
      // binding without a name
      {"A8 0F 02 01 01 02 01 00 02 01 00 30 04 30 02 05 00", 0, 0, 0},
      // truncated
      {"A8 1C 02 01 2A 02 01 00 02 01 00 30 11 30 0F 06 0A 2B 06 01", 0, 0, 0},
   };
   for (const Case &c : cases)
   {
      std::vector<uint8_t> pdu = Hex(c.hex);
      uint32_t id = 0, status = 0;
      ASSERT_EQ(ZbV3ReadReport(pdu.data(), (uint32_t)pdu.size(), &id, &status), c.ok) << c.hex;
      if (c.ok)
      {
         EXPECT_EQ(id, c.requestId);
         EXPECT_EQ(status, c.status);
      }
   }
}

TEST(UsmKeys, PeersKeepTheirOwnEngineAndKeys)
{
   REQUIRE_CRYPTO();
   // One identity polling two agents: each peer learns its engine and keeps
   // the keys localised for it; changing the identity's keys makes both stale.
   Identity id("zbuser", SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA1, "authpass1234", SNMP_PRIV_AES128,
               "privpass5678");
   const uint8_t e1[] = {0x80, 0, 0, 0, 1}, e2[] = {0x80, 0, 0, 0, 2};
   ZbUsmPeer p1, p2;
   memset(&p1, 0, sizeof(p1));
   memset(&p2, 0, sizeof(p2));
   const ZbUsmLocalKeys *k1 = ZbUsmKeysFor(id.Data(), &p1, e1, 5);
   const ZbUsmLocalKeys *k2 = ZbUsmKeysFor(id.Data(), &p2, e2, 5);
   ASSERT_TRUE(k1 == &p1.keys && k2 == &p2.keys);
   std::string a1 = ToHex(k1->auth, 20), a2 = ToHex(k2->auth, 20);
   EXPECT_NE(a1, a2);
   // Alternating between them localises nothing again.
   uint32_t generation = p1.keys.generation;
   EXPECT_EQ(ZbUsmKeysFor(id.Data(), &p2, e2, 5), k2);
   EXPECT_EQ(ZbUsmKeysFor(id.Data(), &p1, e1, 5), k1);
   EXPECT_EQ(p1.keys.generation, generation);
   // A new password: both caches are made again.
   ASSERT_EQ(id.pub.SetAuthPassword(SNMP_AUTH_SHA1, "otherpass1234"), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_NE(ToHex(ZbUsmKeysFor(id.Data(), &p1, e1, 5)->auth, 20), a1);
   EXPECT_NE(ToHex(ZbUsmKeysFor(id.Data(), &p2, e2, 5)->auth, 20), a2);

   // Messages through a peer teach that peer, not the identity's own.
   Pair pair(SNMP_SEC_AUTH_PRIV, SNMP_AUTH_SHA1, SNMP_PRIV_AES128);
   std::vector<uint8_t> wire = pair.Message(GetSysDescrPdu(3));
   ZbUsmPeer peer;
   memset(&peer, 0, sizeof(peer));
   ZbV3Received r;
   ASSERT_EQ(ZbV3Receive(pair.receiver.Data(), &peer, wire.data(), (uint32_t)wire.size(), 0, &r),
             (uint32_t)SNMP_RC_SUCCESS);
   ZbV3ReceivedFree(&r);
   EXPECT_EQ(peer.engine.idLength, sizeof(kEngine));
   EXPECT_EQ(peer.engine.boots, 3u);
   uint32_t own = 0;
   pair.receiver.pub.GetEngineId(&own);
   EXPECT_EQ(own, 0u);
}
