/* The words of MIB node types, access and status, and what a type code
   means on the wire. */
#include "internal.h"

#include <string.h>

struct MibWord
{
   int code;
   const char *word;
   int base;           /* types: the SMI base type */
   uint32_t asnType;   /* types: the BER type of values */
};

static const MibWord s_types[] = {
   {MIB_TYPE_OTHER, "other", MIB_TYPE_OTHER, ASN_TYPE_NULL},
   {MIB_TYPE_OBJECT_IDENTITY, "OBJECT-IDENTITY", MIB_TYPE_OBJECT_IDENTITY, ASN_TYPE_NULL},
   {MIB_TYPE_MODULE_IDENTITY, "MODULE-IDENTITY", MIB_TYPE_MODULE_IDENTITY, ASN_TYPE_NULL},
   {MIB_TYPE_OBJECT_GROUP, "OBJECT-GROUP", MIB_TYPE_OBJECT_GROUP, ASN_TYPE_NULL},
   {MIB_TYPE_NOTIFICATION_GROUP, "NOTIFICATION-GROUP", MIB_TYPE_NOTIFICATION_GROUP, ASN_TYPE_NULL},
   {MIB_TYPE_MODULE_COMPLIANCE, "MODULE-COMPLIANCE", MIB_TYPE_MODULE_COMPLIANCE, ASN_TYPE_NULL},
   {MIB_TYPE_AGENT_CAPABILITIES, "AGENT-CAPABILITIES", MIB_TYPE_AGENT_CAPABILITIES, ASN_TYPE_NULL},
   {MIB_TYPE_NOTIFICATION_TYPE, "NOTIFICATION-TYPE", MIB_TYPE_NOTIFICATION_TYPE, ASN_TYPE_NULL},
   {MIB_TYPE_TRAP_TYPE, "TRAP-TYPE", MIB_TYPE_TRAP_TYPE, ASN_TYPE_NULL},
   {MIB_TYPE_TABLE, "SEQUENCE OF", MIB_TYPE_TABLE, ASN_TYPE_NULL},
   {MIB_TYPE_ROW, "SEQUENCE", MIB_TYPE_ROW, ASN_TYPE_NULL},
   {MIB_TYPE_INTEGER, "INTEGER", MIB_TYPE_INTEGER, ASN_TYPE_INTEGER},
   {MIB_TYPE_INTEGER32, "Integer32", MIB_TYPE_INTEGER32, ASN_TYPE_INTEGER},
   /* Unsigned32 and Gauge32 share one application tag (RFC 2578 7.1.11). */
   {MIB_TYPE_UNSIGNED32, "Unsigned32", MIB_TYPE_UNSIGNED32, ASN_TYPE_GAUGE32},
   {MIB_TYPE_GAUGE32, "Gauge32", MIB_TYPE_GAUGE32, ASN_TYPE_GAUGE32},
   {MIB_TYPE_COUNTER32, "Counter32", MIB_TYPE_COUNTER32, ASN_TYPE_COUNTER32},
   {MIB_TYPE_COUNTER64, "Counter64", MIB_TYPE_COUNTER64, ASN_TYPE_COUNTER64},
   {MIB_TYPE_TIMETICKS, "TimeTicks", MIB_TYPE_TIMETICKS, ASN_TYPE_TIMETICKS},
   {MIB_TYPE_OCTET_STRING, "OCTET STRING", MIB_TYPE_OCTET_STRING, ASN_TYPE_OCTET_STRING},
   {MIB_TYPE_OBJECT_ID, "OBJECT IDENTIFIER", MIB_TYPE_OBJECT_ID, ASN_TYPE_OBJECT_ID},
   {MIB_TYPE_IP_ADDRESS, "IpAddress", MIB_TYPE_IP_ADDRESS, ASN_TYPE_IP_ADDRESS},
   {MIB_TYPE_OPAQUE, "Opaque", MIB_TYPE_OPAQUE, ASN_TYPE_OPAQUE},
   /* BITS travel as an OCTET STRING (RFC 2578 7.1.4). */
   {MIB_TYPE_BITS, "BITS", MIB_TYPE_BITS, ASN_TYPE_OCTET_STRING},
   {MIB_TYPE_NETWORK_ADDRESS, "NetworkAddress", MIB_TYPE_NETWORK_ADDRESS, ASN_TYPE_IP_ADDRESS},
   {MIB_TYPE_UINTEGER32, "UInteger32", MIB_TYPE_UINTEGER32, ASN_TYPE_UINTEGER32},
   {MIB_TYPE_DISPLAY_STRING, "DisplayString", MIB_TYPE_OCTET_STRING, ASN_TYPE_OCTET_STRING},
   {MIB_TYPE_PHYS_ADDRESS, "PhysAddress", MIB_TYPE_OCTET_STRING, ASN_TYPE_OCTET_STRING},
   {MIB_TYPE_MAC_ADDRESS, "MacAddress", MIB_TYPE_OCTET_STRING, ASN_TYPE_OCTET_STRING},
   {MIB_TYPE_TRUTH_VALUE, "TruthValue", MIB_TYPE_INTEGER, ASN_TYPE_INTEGER},
   {MIB_TYPE_TEST_AND_INCR, "TestAndIncr", MIB_TYPE_INTEGER, ASN_TYPE_INTEGER},
   {MIB_TYPE_AUTONOMOUS_TYPE, "AutonomousType", MIB_TYPE_OBJECT_ID, ASN_TYPE_OBJECT_ID},
   {MIB_TYPE_VARIABLE_POINTER, "VariablePointer", MIB_TYPE_OBJECT_ID, ASN_TYPE_OBJECT_ID},
   {MIB_TYPE_ROW_POINTER, "RowPointer", MIB_TYPE_OBJECT_ID, ASN_TYPE_OBJECT_ID},
   {MIB_TYPE_ROW_STATUS, "RowStatus", MIB_TYPE_INTEGER, ASN_TYPE_INTEGER},
   {MIB_TYPE_TIME_STAMP, "TimeStamp", MIB_TYPE_TIMETICKS, ASN_TYPE_TIMETICKS},
   {MIB_TYPE_TIME_INTERVAL, "TimeInterval", MIB_TYPE_INTEGER, ASN_TYPE_INTEGER},
   {MIB_TYPE_DATE_AND_TIME, "DateAndTime", MIB_TYPE_OCTET_STRING, ASN_TYPE_OCTET_STRING},
   {MIB_TYPE_STORAGE_TYPE, "StorageType", MIB_TYPE_INTEGER, ASN_TYPE_INTEGER},
   {MIB_TYPE_TDOMAIN, "TDomain", MIB_TYPE_OBJECT_ID, ASN_TYPE_OBJECT_ID},
   {MIB_TYPE_TADDRESS, "TAddress", MIB_TYPE_OCTET_STRING, ASN_TYPE_OCTET_STRING},
   {MIB_TYPE_SNMP_ADMIN_STRING, "SnmpAdminString", MIB_TYPE_OCTET_STRING, ASN_TYPE_OCTET_STRING},
   {MIB_TYPE_INET_ADDRESS_TYPE, "InetAddressType", MIB_TYPE_INTEGER, ASN_TYPE_INTEGER},
   {MIB_TYPE_INET_ADDRESS, "InetAddress", MIB_TYPE_OCTET_STRING, ASN_TYPE_OCTET_STRING},
   {MIB_TYPE_INTERFACE_INDEX, "InterfaceIndex", MIB_TYPE_INTEGER32, ASN_TYPE_INTEGER},
};

static const MibWord s_access[] = {
   {MIB_ACCESS_NOT_ACCESSIBLE, "not-accessible", 0, 0},
   {MIB_ACCESS_ACCESSIBLE_FOR_NOTIFY, "accessible-for-notify", 0, 0},
   {MIB_ACCESS_READ_ONLY, "read-only", 0, 0},
   {MIB_ACCESS_READ_WRITE, "read-write", 0, 0},
   {MIB_ACCESS_READ_CREATE, "read-create", 0, 0},
   {MIB_ACCESS_WRITE_ONLY, "write-only", 0, 0},
};

static const MibWord s_status[] = {
   {MIB_STATUS_CURRENT, "current", 0, 0},
   {MIB_STATUS_DEPRECATED, "deprecated", 0, 0},
   {MIB_STATUS_OBSOLETE, "obsolete", 0, 0},
   {MIB_STATUS_MANDATORY, "mandatory", 0, 0},
   {MIB_STATUS_OPTIONAL, "optional", 0, 0},
};

template <size_t N>
static const MibWord *ByCode(const MibWord (&table)[N], int code)
{
   for (const MibWord &w : table)
      if (w.code == code)
         return &w;
   return nullptr;
}

template <size_t N>
static int ByWord(const MibWord (&table)[N], const char *word)
{
   if (word == nullptr)
      return -1;
   for (const MibWord &w : table)
      if (strcmp(w.word, word) == 0)
         return w.code;
   return -1;
}

const char *SNMPGetMIBTypeName(int type)
{
   const MibWord *w = ByCode(s_types, type);
   return (w != nullptr) ? w->word : nullptr;
}

const char *SNMPGetMIBAccessName(int access)
{
   const MibWord *w = ByCode(s_access, access);
   return (w != nullptr) ? w->word : nullptr;
}

const char *SNMPGetMIBStatusName(int status)
{
   const MibWord *w = ByCode(s_status, status);
   return (w != nullptr) ? w->word : nullptr;
}

int SNMPResolveMIBType(const char *name)
{
   return ByWord(s_types, name);
}

int SNMPResolveMIBAccess(const char *name)
{
   return ByWord(s_access, name);
}

int SNMPResolveMIBStatus(const char *name)
{
   return ByWord(s_status, name);
}

int SNMPGetMIBBaseType(int type)
{
   const MibWord *w = ByCode(s_types, type);
   return (w != nullptr) ? w->base : type;
}

uint32_t SNMPGetMIBValueType(int type)
{
   const MibWord *w = ByCode(s_types, type);
   return (w != nullptr) ? w->asnType : ASN_TYPE_NULL;
}
