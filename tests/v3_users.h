// The SNMPv3 users of tests/snmpd-v3.conf: one for every authentication
// (none and the six) and privacy (none and the six keys Net-SNMP makes),
// with the options that name them to Net-SNMP's tools and to zbsnmp.
#ifndef ZBSNMP_V3_USERS_H
#define ZBSNMP_V3_USERS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zbsnmp.h"

struct V3Method
{
   const char *suffix, *name;  // in the user's name; as -a and -x take it
   uint32_t code;
};

inline const std::vector<V3Method> &V3AuthMethods()
{
   static const std::vector<V3Method> m = {
      {"md5", "MD5", SNMP_AUTH_MD5},          {"sha", "SHA", SNMP_AUTH_SHA1},
      {"sha224", "SHA-224", SNMP_AUTH_SHA224}, {"sha256", "SHA-256", SNMP_AUTH_SHA256},
      {"sha384", "SHA-384", SNMP_AUTH_SHA384}, {"sha512", "SHA-512", SNMP_AUTH_SHA512},
   };
   return m;
}

inline const std::vector<V3Method> &V3PrivMethods()
{
   static const std::vector<V3Method> m = {
      {"des", "DES", SNMP_PRIV_DES},           {"aes", "AES", SNMP_PRIV_AES128},
      {"aes192", "AES-192", SNMP_PRIV_AES192}, {"aes256", "AES-256", SNMP_PRIV_AES256},
      {"aes192c", "AES-192-C", SNMP_PRIV_AES192_C}, {"aes256c", "AES-256-C", SNMP_PRIV_AES256_C},
   };
   return m;
}

const char kV3AuthPass[] = "authpass1234";
const char kV3PrivPass[] = "privpass5678";

struct V3User
{
   std::string name;
   uint32_t level;
   const V3Method *auth, *priv;
};

inline std::vector<V3User> AllV3Users()
{
   std::vector<V3User> users = {{"v3none", SNMP_SEC_NO_AUTH_NO_PRIV, nullptr, nullptr}};
   for (const V3Method &a : V3AuthMethods())
   {
      users.push_back({std::string("v3") + a.suffix, SNMP_SEC_AUTH_NO_PRIV, &a, nullptr});
      for (const V3Method &p : V3PrivMethods())
         users.push_back(
             {std::string("v3") + a.suffix + "_" + p.suffix, SNMP_SEC_AUTH_PRIV, &a, &p});
   }
   return users;
}

inline V3User FindV3User(const char *name)
{
   for (const V3User &u : AllV3Users())
      if (u.name == name)
         return u;
   ADD_FAILURE() << "no user " << name;
   return AllV3Users()[0];
}

inline const char *V3LevelName(uint32_t level)
{
   return level == SNMP_SEC_NO_AUTH_NO_PRIV ? "noAuthNoPriv"
          : level == SNMP_SEC_AUTH_NO_PRIV  ? "authNoPriv"
                                            : "authPriv";
}

// "-v3 -u NAME -l LEVEL [-a A -A PASS] [-x X -X PASS]": the same for
// snmpget, snmpbulkwalk, snmpset and zbsnmp. level 0: the user's own.
inline std::string V3Options(const V3User &u, const char *authPass = kV3AuthPass,
                             const char *privPass = kV3PrivPass, uint32_t level = 0)
{
   std::string o = "-v3 -u " + u.name + " -l " + V3LevelName(level != 0 ? level : u.level);
   if (u.auth)
      o += std::string(" -a ") + u.auth->name + " -A " + authPass;
   if (u.priv)
      o += std::string(" -x ") + u.priv->name + " -X " + privPass;
   return o;
}

// The identity of the user (passwords turned into keys: a megabyte of
// hashing each). level 0: the user's own.
inline void ConfigureV3(SNMP_USMIdentity *id, const V3User &u, const char *authPass = kV3AuthPass,
                        const char *privPass = kV3PrivPass, uint32_t level = 0)
{
   ASSERT_EQ(id->SetUser(u.name.c_str()), (uint32_t)SNMP_RC_SUCCESS);
   if (u.auth != nullptr)
      ASSERT_EQ(id->SetAuthPassword(u.auth->code, authPass), (uint32_t)SNMP_RC_SUCCESS);
   if (u.priv != nullptr)
      ASSERT_EQ(id->SetPrivPassword(u.priv->code, privPass), (uint32_t)SNMP_RC_SUCCESS);
   ASSERT_EQ(id->SetSecurityLevel(level != 0 ? level : u.level), (uint32_t)SNMP_RC_SUCCESS);
}

#endif
