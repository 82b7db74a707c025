/* Status texts and the type keyword table. */
#include "internal.h"

#include <string.h>
#ifndef _WIN32
#include <strings.h>
#endif

#ifdef _WIN32
#define strcasecmp _stricmp
#endif

static const char *const s_errorText[] = {
   "Operation completed successfully",
   "Request timed out",
   "Invalid parameters passed to function",
   "Unable to create socket",
   "Communication error",
   "Rrror parsing PDU",
   "No such object",
   "Invalid hostname or IP address",
   "OID is incorrect",
   "Agent error",
   "Unknown variable data type",
   "File I/O error",
   "Invalid file header",
   "Invalid or corrupted file data",
   "Unknown SNMP engine ID",
   "Message not in time window",
   "Unknown user name",
   "Wrong digest (authentication failed)",
   "Decryption error",
   "Unsupported security level",
   "Agent sent a report",
   "Security method not available in this build",
   "Request cancelled",
   "Encrypted request unanswered (wrong privacy password or method?)",
};

const char *SNMPGetErrorText(uint32_t errorCode)
{
   if (errorCode < sizeof(s_errorText) / sizeof(s_errorText[0]))
      return s_errorText[errorCode];
   return "Unknown error";
}

struct TypeKeyword
{
   const char *name;
   uint32_t type;
};

static const TypeKeyword s_typeKeywords[] = {
   {"INT", ASN_TYPE_INTEGER},          {"INTEGER", ASN_TYPE_INTEGER},
   {"STRING", ASN_TYPE_OCTET_STRING},  {"OID", ASN_TYPE_OBJECT_ID},
   {"IPADDR", ASN_TYPE_IP_ADDRESS},    {"COUNTER32", ASN_TYPE_COUNTER32},
   {"GAUGE32", ASN_TYPE_GAUGE32},      {"TIMETICKS", ASN_TYPE_TIMETICKS},
   {"COUNTER64", ASN_TYPE_COUNTER64},  {"UINT32", ASN_TYPE_UINTEGER32},
   {"UINTEGER32", ASN_TYPE_UINTEGER32}, {nullptr, 0},
};

uint32_t SNMPResolveDataType(const char *typeName)
{
   if (typeName == nullptr)
      return ASN_TYPE_NULL;
   for (const TypeKeyword *k = s_typeKeywords; k->name != nullptr; k++)
      if (strcasecmp(k->name, typeName) == 0)
         return k->type;
   return ASN_TYPE_NULL;
}
