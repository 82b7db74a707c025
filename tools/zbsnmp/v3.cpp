// SNMPv3 options: security levels, methods and engine IDs as Net-SNMP's
// tools take them, the identity they make, and the users file of 'traps'.
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"

namespace
{
struct Name
{
   const char *text;
   uint32_t code;
};

// The words of -l, -a and -x, any letter case, and the short forms that
// Net-SNMP also takes.
const Name kLevels[] = {
   {"noAuthNoPriv", SNMP_SEC_NO_AUTH_NO_PRIV}, {"noauth", SNMP_SEC_NO_AUTH_NO_PRIV},
   {"nanp", SNMP_SEC_NO_AUTH_NO_PRIV},         {"1", SNMP_SEC_NO_AUTH_NO_PRIV},
   {"authNoPriv", SNMP_SEC_AUTH_NO_PRIV},      {"auth", SNMP_SEC_AUTH_NO_PRIV},
   {"anp", SNMP_SEC_AUTH_NO_PRIV},             {"2", SNMP_SEC_AUTH_NO_PRIV},
   {"authPriv", SNMP_SEC_AUTH_PRIV},           {"priv", SNMP_SEC_AUTH_PRIV},
   {"ap", SNMP_SEC_AUTH_PRIV},                 {"3", SNMP_SEC_AUTH_PRIV},
};
const Name kAuth[] = {
   {"MD5", SNMP_AUTH_MD5},         {"SHA", SNMP_AUTH_SHA1},       {"SHA1", SNMP_AUTH_SHA1},
   {"SHA-1", SNMP_AUTH_SHA1},      {"SHA-224", SNMP_AUTH_SHA224}, {"SHA224", SNMP_AUTH_SHA224},
   {"SHA-256", SNMP_AUTH_SHA256},  {"SHA256", SNMP_AUTH_SHA256},  {"SHA-384", SNMP_AUTH_SHA384},
   {"SHA384", SNMP_AUTH_SHA384},   {"SHA-512", SNMP_AUTH_SHA512}, {"SHA512", SNMP_AUTH_SHA512},
};
const Name kPriv[] = {
   {"DES", SNMP_PRIV_DES},           {"AES", SNMP_PRIV_AES128},        {"AES-128", SNMP_PRIV_AES128},
   {"AES128", SNMP_PRIV_AES128},     {"AES-192", SNMP_PRIV_AES192},    {"AES192", SNMP_PRIV_AES192},
   {"AES-256", SNMP_PRIV_AES256},    {"AES256", SNMP_PRIV_AES256},     {"AES-192-C", SNMP_PRIV_AES192_C},
   {"AES192C", SNMP_PRIV_AES192_C},  {"AES-256-C", SNMP_PRIV_AES256_C}, {"AES256C", SNMP_PRIV_AES256_C},
};

template <size_t N>
bool Lookup(const Name (&names)[N], const char *text, uint32_t *code)
{
   for (const Name &n : names)
      if (strcasecmp(n.text, text) == 0)
      {
         *code = n.code;
         return true;
      }
   return false;
}
}  // namespace

bool ParseSecurityLevel(const char *text, uint32_t *level)
{
   return Lookup(kLevels, text, level);
}

bool ParseAuthMethod(const char *text, uint32_t *method)
{
   return Lookup(kAuth, text, method);
}

bool ParsePrivMethod(const char *text, uint32_t *method)
{
   return Lookup(kPriv, text, method);
}

bool ParseEngineId(const char *text, std::vector<uint8_t> *out)
{
   if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
      text += 2;
   size_t n = strlen(text);
   // RFC 3411 SnmpEngineID: 5 to 32 octets.
   if (n % 2 != 0 || n < 10 || n > 64)
      return false;
   std::vector<uint8_t> octets;
   for (size_t i = 0; i < n; i += 2)
   {
      if (!isxdigit((unsigned char)text[i]) || !isxdigit((unsigned char)text[i + 1]))
         return false;
      char pair[3] = {text[i], text[i + 1], 0};
      octets.push_back((uint8_t)strtoul(pair, nullptr, 16));
   }
   *out = octets;
   return true;
}

std::string EngineIdText(const uint8_t *id, uint32_t length)
{
   std::string s = "0x";
   char b[3];
   for (uint32_t i = 0; i < length; i++)
   {
      snprintf(b, sizeof(b), "%02x", id[i]);
      s += b;
   }
   return s;
}

const char *SecurityLevelName(uint32_t level)
{
   return level == SNMP_SEC_AUTH_PRIV      ? "authPriv"
          : level == SNMP_SEC_AUTH_NO_PRIV ? "authNoPriv"
                                           : "noAuthNoPriv";
}

bool MakeIdentity(const SecurityOptions &s, SNMP_USMIdentity *id, std::string *error)
{
   if (s.user.empty() || s.user.size() > 32)
   {
      *error = s.user.empty() ? "SNMPv3 needs a user (-u USER)"
                              : "user name '" + s.user + "' is longer than 32 octets";
      return false;
   }
   // Without -l, the level the passwords given make.
   uint32_t level = s.level != 0                ? s.level
                    : !s.privPassword.empty() ? SNMP_SEC_AUTH_PRIV
                    : !s.authPassword.empty() ? SNMP_SEC_AUTH_NO_PRIV
                                              : SNMP_SEC_NO_AUTH_NO_PRIV;
   if (level >= SNMP_SEC_AUTH_NO_PRIV && s.authPassword.empty())
   {
      *error = std::string(SecurityLevelName(level)) + " needs an authentication password (-A)";
      return false;
   }
   if (level == SNMP_SEC_AUTH_PRIV && s.privPassword.empty())
   {
      *error = "authPriv needs a privacy password (-X)";
      return false;
   }
   auto failed = [&](uint32_t rc, const std::string &what) {
      if (rc == SNMP_RC_SUCCESS)
         return false;
      *error = what + ": " + SNMPGetErrorText(rc);
      return true;
   };
   if (failed(id->SetUser(s.user.c_str()), "user '" + s.user + "'"))
      return false;
   // As Net-SNMP's tools: MD5 and DES unless -a and -x say otherwise.
   if (level >= SNMP_SEC_AUTH_NO_PRIV &&
       failed(id->SetAuthPassword(s.authMethod != SNMP_AUTH_NONE ? s.authMethod : SNMP_AUTH_MD5,
                                  s.authPassword.c_str()),
              "authentication password"))
      return false;
   if (level == SNMP_SEC_AUTH_PRIV &&
       failed(id->SetPrivPassword(s.privMethod != SNMP_PRIV_NONE ? s.privMethod : SNMP_PRIV_DES,
                                  s.privPassword.c_str()),
              "privacy password"))
      return false;
   if (failed(id->SetSecurityLevel(level), "security level"))
      return false;
   if (!s.engineId.empty() &&
       failed(id->SetEngineId(s.engineId.data(), (uint32_t)s.engineId.size()), "engine ID"))
      return false;
   if (!s.contextEngineId.empty() &&
       failed(id->SetContextEngineId(s.contextEngineId.data(), (uint32_t)s.contextEngineId.size()),
              "context engine ID"))
      return false;
   if (failed(id->SetContextName(s.context.c_str()), "context name '" + s.context + "'"))
      return false;
   return true;
}

int ParseSecurityOption(const std::string &option, const char *value, SecurityOptions *s,
                        const char *command)
{
   if (option == "-u")
      s->user = value;
   else if (option == "-l")
   {
      if (!ParseSecurityLevel(value, &s->level))
         return UsageError("invalid security level '" + std::string(value) +
                               "' (use noAuthNoPriv, authNoPriv or authPriv)",
                           command);
   }
   else if (option == "-a")
   {
      if (!ParseAuthMethod(value, &s->authMethod))
         return UsageError("invalid authentication protocol '" + std::string(value) +
                               "' (use MD5, SHA, SHA-224, SHA-256, SHA-384 or SHA-512)",
                           command);
   }
   else if (option == "-A")
      s->authPassword = value;
   else if (option == "-x")
   {
      if (!ParsePrivMethod(value, &s->privMethod))
         return UsageError("invalid privacy protocol '" + std::string(value) +
                               "' (use DES, AES, AES-192, AES-256, AES-192-C or AES-256-C)",
                           command);
   }
   else if (option == "-X")
      s->privPassword = value;
   else if (option == "-e" || option == "-E")
   {
      if (!ParseEngineId(value, option == "-e" ? &s->engineId : &s->contextEngineId))
         return UsageError("invalid engine ID '" + std::string(value) +
                               "' (5 to 32 octets in hex, 0x optional)",
                           command);
   }
   else if (option == "-n")
      s->context = value;
   else
      return -1;
   return EXIT_OK;
}

// One user a line: USER ENGINEID [AUTH AUTHPASS [PRIV PRIVPASS]], blanks
// between the fields, '#' to the end of a line a comment. ENGINEID is the
// sender's snmpEngineID for traps, or '-' for informs (sent to this
// listener's own engine).
int LoadUsersFile(const std::string &file, std::vector<std::unique_ptr<SNMP_USMIdentity>> *users)
{
   std::ifstream in(file);
   if (!in)
   {
      fprintf(stderr, "zbsnmp: cannot read users file '%s'\n", file.c_str());
      return EXIT_FAILURE_SNMP;
   }
   std::string line;
   for (int number = 1; std::getline(in, line); number++)
   {
      size_t hash = line.find('#');
      if (hash != std::string::npos)
         line.erase(hash);
      std::istringstream fields(line);
      std::vector<std::string> f;
      std::string word;
      while (fields >> word)
         f.push_back(word);
      if (f.empty())
         continue;
      std::string where = file + ":" + std::to_string(number) + ": ";
      if (f.size() != 2 && f.size() != 4 && f.size() != 6)
         return UsageError(where + "expected USER ENGINEID [AUTH AUTHPASS [PRIV PRIVPASS]]", "traps");
      SecurityOptions s;
      s.user = f[0];
      if (f[1] != "-" && !ParseEngineId(f[1].c_str(), &s.engineId))
         return UsageError(where + "invalid engine ID '" + f[1] + "' (hex, or - for informs)", "traps");
      if (f.size() >= 4)
      {
         if (!ParseAuthMethod(f[2].c_str(), &s.authMethod))
            return UsageError(where + "invalid authentication protocol '" + f[2] + "'", "traps");
         s.authPassword = f[3];
      }
      if (f.size() == 6)
      {
         if (!ParsePrivMethod(f[4].c_str(), &s.privMethod))
            return UsageError(where + "invalid privacy protocol '" + f[4] + "'", "traps");
         s.privPassword = f[5];
      }
      auto id = std::make_unique<SNMP_USMIdentity>();
      std::string error;
      if (!MakeIdentity(s, id.get(), &error))
         return UsageError(where + error, "traps");
      users->push_back(std::move(id));
   }
   return EXIT_OK;
}
