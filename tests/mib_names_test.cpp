// Names and value texts on a MIB tree: OID to name with every kind of row
// INDEX, names to OIDs in Net-SNMP's forms, and value texts as Net-SNMP 5.9's
// tools print them (the expected texts are theirs, for the same definitions).
#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "internal.h"
#include "mib_tree_util.h"
#include "test_util.h"

namespace
{
// A small tree with one row of each INDEX kind, shaped after the real modules.
const MibNodeDef kTree[] = {
   {".0", "ccitt", "", MIB_TYPE_OTHER},
   {".0.0", "zeroDotZero", "SNMPv2-SMI", MIB_TYPE_OBJECT_IDENTITY},
   {".1", "iso", "", MIB_TYPE_OTHER},
   {".1.3", "org", "SNMPv2-SMI", MIB_TYPE_OTHER},
   {".1.3.6", "dod", "SNMPv2-SMI", MIB_TYPE_OTHER},
   {".1.3.6.1", "internet", "SNMPv2-SMI", MIB_TYPE_OTHER},
   {".1.3.6.1.2", "mgmt", "SNMPv2-SMI", MIB_TYPE_OTHER},
   {".1.3.6.1.2.1", "mib-2", "SNMPv2-SMI", MIB_TYPE_OTHER},
   {".1.3.6.1.2.1.1", "system", "SNMPv2-MIB", MIB_TYPE_OTHER},
   {".1.3.6.1.2.1.1.1", "sysDescr", "SNMPv2-MIB", MIB_TYPE_DISPLAY_STRING, "255a"},
   {".1.3.6.1.2.1.1.2", "sysObjectID", "SNMPv2-MIB", MIB_TYPE_OBJECT_ID},
   {".1.3.6.1.2.1.1.3", "sysUpTime", "SNMPv2-MIB", MIB_TYPE_TIMETICKS},
   {".1.3.6.1.2.1.1.3.0", "sysUpTimeInstance", "DISMAN-EXPRESSION-MIB", MIB_TYPE_OBJECT_IDENTITY},
   {".1.3.6.1.2.1.2", "interfaces", "IF-MIB", MIB_TYPE_OTHER},
   {".1.3.6.1.2.1.2.2", "ifTable", "IF-MIB", MIB_TYPE_TABLE},
   {".1.3.6.1.2.1.2.2.1", "ifEntry", "IF-MIB", MIB_TYPE_ROW, "", "", "ifIndex"},
   {".1.3.6.1.2.1.2.2.1.1", "ifIndex", "IF-MIB", MIB_TYPE_INTERFACE_INDEX},
   {".1.3.6.1.2.1.2.2.1.2", "ifDescr", "IF-MIB", MIB_TYPE_DISPLAY_STRING, "255a"},
   {".1.3.6.1.2.1.2.2.1.3", "ifType", "IF-MIB", MIB_TYPE_INTEGER, "",
    "other(1) ethernetCsmacd(6) softwareLoopback(24)"},
   {".1.3.6.1.2.1.2.2.1.5", "ifSpeed", "IF-MIB", MIB_TYPE_GAUGE32},
   {".1.3.6.1.2.1.2.2.1.6", "ifPhysAddress", "IF-MIB", MIB_TYPE_PHYS_ADDRESS, "1x:"},
   {".1.3.6.1.2.1.2.2.1.7", "ifAdminStatus", "IF-MIB", MIB_TYPE_INTEGER, "", "up(1) down(2) testing(3)"},
   {".1.3.6.1.2.1.2.2.1.9", "ifLastChange", "IF-MIB", MIB_TYPE_TIME_STAMP},
   {".1.3.6.1.2.1.2.2.1.10", "ifInOctets", "IF-MIB", MIB_TYPE_COUNTER32},
   {".1.3.6.1.2.1.3.1.1.3", "atNetAddress", "RFC1213-MIB", MIB_TYPE_NETWORK_ADDRESS},
   {".1.3.6.1.2.1.4", "ip", "IP-MIB", MIB_TYPE_OTHER},
   {".1.3.6.1.2.1.4.13", "ipReasmTimeout", "IP-MIB", MIB_TYPE_INTEGER32, "", "", "", 0, "seconds"},
   {".1.3.6.1.2.1.4.20.1", "ipAddrEntry", "IP-MIB", MIB_TYPE_ROW, "", "", "ipAdEntAddr"},
   {".1.3.6.1.2.1.4.20.1.1", "ipAdEntAddr", "IP-MIB", MIB_TYPE_IP_ADDRESS},
   {".1.3.6.1.2.1.4.34.1", "ipAddressEntry", "IP-MIB", MIB_TYPE_ROW, "", "",
    "ipAddressAddrType ipAddressAddr"},
   {".1.3.6.1.2.1.4.34.1.1", "ipAddressAddrType", "IP-MIB", MIB_TYPE_INET_ADDRESS_TYPE, "",
    "unknown(0) ipv4(1) ipv6(2) ipv4z(3) ipv6z(4) dns(16)"},
   {".1.3.6.1.2.1.4.34.1.2", "ipAddressAddr", "IP-MIB", MIB_TYPE_INET_ADDRESS, "", "", "", 0, "",
    "InetAddress"},
   {".1.3.6.1.2.1.4.34.1.3", "ipAddressIfIndex", "IP-MIB", MIB_TYPE_INTERFACE_INDEX},
   {".1.3.6.1.2.1.10.127.1.1.1.1.6", "docsIfDownChannelPower", "DOCS-IF-MIB", MIB_TYPE_INTEGER32,
    "d-1", "", "", 0, "dBmV"},
   {".1.3.6.1.2.1.17.4.3.1", "dot1dTpFdbEntry", "BRIDGE-MIB", MIB_TYPE_ROW, "", "",
    "dot1dTpFdbAddress"},
   {".1.3.6.1.2.1.17.4.3.1.1", "dot1dTpFdbAddress", "BRIDGE-MIB", MIB_TYPE_MAC_ADDRESS, "1x:", "",
    "", 6},
   {".1.3.6.1.2.1.17.4.3.1.2", "dot1dTpFdbPort", "BRIDGE-MIB", MIB_TYPE_INTEGER32},
   {".1.3.6.1.2.1.25.1.2", "hrSystemDate", "HOST-RESOURCES-MIB", MIB_TYPE_DATE_AND_TIME,
    "2d-1d-1d,1d:1d:1d.1d,1a1d:1d"},
   {".1.3.6.1.2.1.88.1.4.2.1", "mteEventEntry", "DISMAN-EVENT-MIB", MIB_TYPE_ROW, "", "",
    "mteOwner IMPLIED mteEventName"},
   {".1.3.6.1.2.1.88.1.4.2.1.1", "mteEventName", "DISMAN-EVENT-MIB", MIB_TYPE_SNMP_ADMIN_STRING, "255t"},
   {".1.3.6.1.2.1.88.1.4.2.1.2", "mteEventComment", "DISMAN-EVENT-MIB", MIB_TYPE_SNMP_ADMIN_STRING, "255t"},
   {".1.3.6.1.2.1.88.1.4.2.1.3", "mteEventActions", "DISMAN-EVENT-MIB", MIB_TYPE_BITS, "",
    "notification(0) set(1)"},
   {".1.3.6.1.2.1.88.1.2.2.1.1", "mteOwner", "DISMAN-EVENT-MIB", MIB_TYPE_SNMP_ADMIN_STRING, "255t"},
   {".1.3.6.1.4.1", "enterprises", "SNMPv2-SMI", MIB_TYPE_OTHER},
   {".1.3.6.1.4.1.2021.10.1.7", "laLoadFloat", "UCD-SNMP-MIB", MIB_TYPE_OPAQUE},
   {".1.3.6.1.4.1.8072.1.2.1.1", "nsModuleEntry", "NET-SNMP-AGENT-MIB", MIB_TYPE_ROW, "", "",
    "nsmContextName nsmRegistrationPoint nsmRegistrationPriority"},
   {".1.3.6.1.4.1.8072.1.2.1.1.1", "nsmContextName", "NET-SNMP-AGENT-MIB", MIB_TYPE_SNMP_ADMIN_STRING, "255t"},
   {".1.3.6.1.4.1.8072.1.2.1.1.2", "nsmRegistrationPoint", "NET-SNMP-AGENT-MIB", MIB_TYPE_OBJECT_ID},
   {".1.3.6.1.4.1.8072.1.2.1.1.3", "nsmRegistrationPriority", "NET-SNMP-AGENT-MIB", MIB_TYPE_INTEGER32},
   {".1.3.6.1.4.1.8072.1.2.1.1.4", "nsModuleName", "NET-SNMP-AGENT-MIB", MIB_TYPE_DISPLAY_STRING, "255a"},
   {".1.3.6.1.4.1.8072.1.5.3.1", "nsCacheEntry", "NET-SNMP-AGENT-MIB", MIB_TYPE_ROW, "", "",
    "IMPLIED nsCachedOID"},
   {".1.3.6.1.4.1.8072.1.5.3.1.1", "nsCachedOID", "NET-SNMP-AGENT-MIB", MIB_TYPE_OBJECT_ID},
   {".1.3.6.1.4.1.8072.1.5.3.1.2", "nsCacheTimeout", "NET-SNMP-AGENT-MIB", MIB_TYPE_INTEGER},
   {".1.3.6.1.4.1.8072.3.2.10", "linux", "NET-SNMP-TC", MIB_TYPE_OTHER},
   {".1.3.6.1.6", "snmpV2", "SNMPv2-SMI", MIB_TYPE_OTHER},
   {".1.3.6.1.6.3.1.1.5.4", "linkUp", "IF-MIB", MIB_TYPE_NOTIFICATION_TYPE},
   {".1.3.6.1.6.3.16.1.2.1", "vacmSecurityToGroupEntry", "SNMP-VIEW-BASED-ACM-MIB", MIB_TYPE_ROW,
    "", "", "vacmSecurityModel vacmSecurityName"},
   {".1.3.6.1.6.3.16.1.2.1.1", "vacmSecurityModel", "SNMP-VIEW-BASED-ACM-MIB", MIB_TYPE_INTEGER32},
   {".1.3.6.1.6.3.16.1.2.1.2", "vacmSecurityName", "SNMP-VIEW-BASED-ACM-MIB", MIB_TYPE_SNMP_ADMIN_STRING, "255t"},
   {".1.3.6.1.6.3.16.1.2.1.3", "vacmGroupName", "SNMP-VIEW-BASED-ACM-MIB", MIB_TYPE_SNMP_ADMIN_STRING, "255t"},
   {".1.3.6.1.6.3.16.1.4.1", "vacmAccessEntry", "SNMP-VIEW-BASED-ACM-MIB", MIB_TYPE_ROW, "", "",
    "vacmGroupName vacmAccessContextPrefix vacmAccessSecurityModel vacmAccessSecurityLevel"},
   {".1.3.6.1.6.3.16.1.4.1.1", "vacmAccessContextPrefix", "SNMP-VIEW-BASED-ACM-MIB", MIB_TYPE_SNMP_ADMIN_STRING, "255t"},
   {".1.3.6.1.6.3.16.1.4.1.2", "vacmAccessSecurityModel", "SNMP-VIEW-BASED-ACM-MIB", MIB_TYPE_INTEGER32},
   {".1.3.6.1.6.3.16.1.4.1.3", "vacmAccessSecurityLevel", "SNMP-VIEW-BASED-ACM-MIB", MIB_TYPE_INTEGER,
    "", "noAuthNoPriv(1) authNoPriv(2) authPriv(3)"},
   {".1.3.6.1.6.3.16.1.4.1.9", "vacmAccessStatus", "SNMP-VIEW-BASED-ACM-MIB", MIB_TYPE_ROW_STATUS, "",
    "active(1) notInService(2) notReady(3) createAndGo(4) createAndWait(5) destroy(6)"},
   // A name that two modules define at two OIDs: the lower OID is found first.
   {".1.3.6.1.4.1.2021.250.15", "aix", "UCD-SNMP-MIB", MIB_TYPE_OTHER},
   {".1.3.6.1.4.1.8072.3.2.15", "aix", "NET-SNMP-TC", MIB_TYPE_OTHER},
};

class MIBNamesTest : public ::testing::Test
{
protected:
   void SetUp() override
   {
      ASSERT_EQ(SNMP_RC_SUCCESS,
                names.SetTree(BuildMibTree(kTree, sizeof(kTree) / sizeof(kTree[0])), true));
   }

   std::string ToText(const std::string &oid, uint32_t flags = 0)
   {
      uint32_t ids[256];
      uint32_t n = SNMPParseOID(oid.c_str(), ids, 256);
      char text[1024];
      uint32_t len = names.OIDToText(ids, n, text, sizeof(text), flags);
      EXPECT_EQ(len, strlen(text));
      return text;
   }

   std::string ToOid(const std::string &text)
   {
      uint32_t ids[256];
      uint32_t n = names.TextToOID(text.c_str(), ids, 256);
      if (n == 0)
         return "FAIL";
      char out[2048];
      return SNMPConvertOIDToText(n, ids, out, sizeof(out));
   }

   SNMP_MIBTranslator names;
};

// A variable named oid whose value is the BER element valueHex.
std::unique_ptr<SNMP_Variable> Var(const std::string &oid, const std::string &valueHex)
{
   uint32_t ids[128];
   uint32_t n = SNMPParseOID(oid.c_str(), ids, 128);
   std::vector<uint8_t> binding(1024);
   uint32_t used = BerWriteElement(ASN_TYPE_OBJECT_ID, ids, 4 * n, binding.data(), 1024);
   std::vector<uint8_t> value = Hex(valueHex);
   memcpy(binding.data() + used, value.data(), value.size());
   auto var = std::make_unique<SNMP_Variable>();
   EXPECT_EQ(1, var->Parse(binding.data(), used + (uint32_t)value.size())) << oid << " " << valueHex;
   return var;
}
}  // namespace

TEST_F(MIBNamesTest, OidToNameFollowsTheRowIndex)
{
   struct Case
   {
      const char *oid;
      const char *text;
   };
   const Case cases[] = {
      // integer index; a scalar's instance; a node that is an instance itself
      {".1.3.6.1.2.1.2.2.1.2.3", "IF-MIB::ifDescr.3"},
      {".1.3.6.1.2.1.1.1.0", "SNMPv2-MIB::sysDescr.0"},
      {".1.3.6.1.2.1.1.1.5.6", "SNMPv2-MIB::sysDescr.5.6"},
      {".1.3.6.1.2.1.1.3.0", "DISMAN-EXPRESSION-MIB::sysUpTimeInstance"},
      {".1.3.6.1.2.1.1.3.1", "SNMPv2-MIB::sysUpTime.1"},
      // strings in quotes, an integer index with named numbers
      {".1.3.6.1.6.3.16.1.4.1.9.5.103.114.111.117.112.0.3.1",
       "SNMP-VIEW-BASED-ACM-MIB::vacmAccessStatus.\"group\".\"\".3.noAuthNoPriv"},
      {".1.3.6.1.6.3.16.1.4.1.9.5.103.114.111.117.112.0.3.9",
       "SNMP-VIEW-BASED-ACM-MIB::vacmAccessStatus.\"group\".\"\".3.9"},
      {".1.3.6.1.6.3.16.1.2.1.3.1.2.1.2", "SNMP-VIEW-BASED-ACM-MIB::vacmGroupName.1.\"..\""},
      {".1.3.6.1.6.3.16.1.2.1.3.1.3.65.34.66", "SNMP-VIEW-BASED-ACM-MIB::vacmGroupName.1.\"A\"B\""},
      // a string longer than the OID, or with a sub-identifier above 255: numbers
      {".1.3.6.1.6.3.16.1.2.1.3.1.9.65", "SNMP-VIEW-BASED-ACM-MIB::vacmGroupName.1.9.65"},
      {".1.3.6.1.6.3.16.1.2.1.3.1.2.65.256", "SNMP-VIEW-BASED-ACM-MIB::vacmGroupName.1.2.65.256"},
      {".1.3.6.1.6.3.16.1.2.1.3.1", "SNMP-VIEW-BASED-ACM-MIB::vacmGroupName.1"},
      // IMPLIED: the last string without its length, in single quotes
      {".1.3.6.1.2.1.88.1.4.2.1.2.6.95.115.110.109.112.100.95.108.105.110.107.68.111.119.110",
       "DISMAN-EVENT-MIB::mteEventComment.\"_snmpd\".'_linkDown'"},
      {".1.3.6.1.2.1.88.1.4.2.1.2.1.65", "DISMAN-EVENT-MIB::mteEventComment.\"A\""},
      // a fixed-length string: no length, single quotes; too short or too long
      {".1.3.6.1.2.1.17.4.3.1.1.0.1.2.3.4.5", "BRIDGE-MIB::dot1dTpFdbAddress.'......'"},
      {".1.3.6.1.2.1.17.4.3.1.2.65.66.67.68.69.70", "BRIDGE-MIB::dot1dTpFdbPort.'ABCDEF'"},
      {".1.3.6.1.2.1.17.4.3.1.1.0.1.2.3.4", "BRIDGE-MIB::dot1dTpFdbAddress.0.1.2.3.4"},
      {".1.3.6.1.2.1.17.4.3.1.1.0.1.2.3.4.5.6", "BRIDGE-MIB::dot1dTpFdbAddress.'......'.6"},
      // IpAddress: four numbers, else the numbers as they are
      {".1.3.6.1.2.1.4.20.1.1.10.0.0.1", "IP-MIB::ipAdEntAddr.10.0.0.1"},
      {".1.3.6.1.2.1.4.20.1.1.10.0.0", "IP-MIB::ipAdEntAddr.10.0.0"},
      {".1.3.6.1.2.1.4.20.1.1.10.0.0.300", "IP-MIB::ipAdEntAddr.10.0.0.300"},
      // InetAddress after its InetAddressType
      {".1.3.6.1.2.1.4.34.1.3.1.4.127.0.0.1", "IP-MIB::ipAddressIfIndex.ipv4.\"127.0.0.1\""},
      {".1.3.6.1.2.1.4.34.1.3.2.16.254.128.0.0.0.0.0.0.0.0.0.0.0.0.0.1",
       "IP-MIB::ipAddressIfIndex.ipv6.\"fe:80:00:00:00:00:00:00:00:00:00:00:00:00:00:01\""},
      {".1.3.6.1.2.1.4.34.1.3.3.8.192.168.1.1.0.0.0.5", "IP-MIB::ipAddressIfIndex.ipv4z.\"192.168.1.1%5\""},
      {".1.3.6.1.2.1.4.34.1.3.2.4.127.0.0.1", "IP-MIB::ipAddressIfIndex.ipv6.\"....\""},
      {".1.3.6.1.2.1.4.34.1.3.16.4.65.66.67.68", "IP-MIB::ipAddressIfIndex.dns.\"ABCD\""},
      {".1.3.6.1.2.1.4.34.1.3.1.4.127.0.0.1.7", "IP-MIB::ipAddressIfIndex.ipv4.\"127.0.0.1\".7"},
      {".1.3.6.1.2.1.4.34.1.3.1.5.127.0.0.1", "IP-MIB::ipAddressIfIndex.ipv4.5.127.0.0.1"},
      // OBJECT IDENTIFIER index: its numbers (with the length when not IMPLIED)
      {".1.3.6.1.4.1.8072.1.2.1.1.4.0.1.0.0", "NET-SNMP-AGENT-MIB::nsModuleName.\"\".1.0.0"},
      {".1.3.6.1.4.1.8072.1.5.3.1.2.1.3.6.1.2.1.2.2", "NET-SNMP-AGENT-MIB::nsCacheTimeout.1.3.6.1.2.1.2.2"},
      // a row, an unknown column, nodes the tree does not hold
      {".1.3.6.1.2.1.2.2.1", "IF-MIB::ifEntry"},
      {".1.3.6.1.2.1.2.2.1.99.5", "IF-MIB::ifEntry.99.5"},
      {".1.3.6.1.4.1.99999.1.2", "SNMPv2-SMI::enterprises.99999.1.2"},
      {".1.3.6.1.2.1.99", "SNMPv2-SMI::mib-2.99"},
      // a nameless node on the way: the last named node, then numbers
      {".1.3.6.1.2.1.3.1.1.7", "SNMPv2-SMI::mib-2.3.1.1.7"},
      {".1.3.6.1.2.1.3.1.1.3.1.2", "RFC1213-MIB::atNetAddress.1.2"},
      {".1", "iso"},
      {".0.0", "SNMPv2-SMI::zeroDotZero"},
      {".3.1", ".3.1"},
      {"", ""},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.oid);
      EXPECT_EQ(c.text, ToText(c.oid));
   }
   EXPECT_EQ(".1.3.6.1.2.1.2.2.1.2.3", ToText(".1.3.6.1.2.1.2.2.1.2.3", SNMP_TEXT_NUMERIC_OIDS));
   EXPECT_EQ("ifDescr.3", ToText(".1.3.6.1.2.1.2.2.1.2.3", SNMP_TEXT_NO_MODULE));
}

TEST_F(MIBNamesTest, NamesToOids)
{
   struct Case
   {
      const char *text;
      const char *oid;   // "FAIL" when the text must be refused
   };
   const Case cases[] = {
      {"IF-MIB::ifDescr.3", ".1.3.6.1.2.1.2.2.1.2.3"},
      {"ifDescr.3", ".1.3.6.1.2.1.2.2.1.2.3"},
      {"IF-MIB::ifDescr", ".1.3.6.1.2.1.2.2.1.2"},
      {".1.3.6.1.2.1.2.2.1.2.3", ".1.3.6.1.2.1.2.2.1.2.3"},
      {"1.3.6.1.2.1.1.1.0", ".1.3.6.1.2.1.1.1.0"},
      {"iso.3.6.1.2.1.1.1.0", ".1.3.6.1.2.1.1.1.0"},
      {".iso.org.dod.internet.mgmt.mib-2.system.sysDescr.0", ".1.3.6.1.2.1.1.1.0"},
      {".1.3.6.1.2.1.interfaces.2.1", ".1.3.6.1.2.1.2.2.1"},
      {"IF-MIB::ifEntry.ifDescr.3", ".1.3.6.1.2.1.2.2.1.2.3"},
      {"SNMPv2-SMI::mib-2.1.1.0", ".1.3.6.1.2.1.1.1.0"},
      {"DISMAN-EXPRESSION-MIB::sysUpTimeInstance", ".1.3.6.1.2.1.1.3.0"},
      {"IF-MIB::ifDescr.0x10", ".1.3.6.1.2.1.2.2.1.2.16"},
      {"IF-MIB::ifDescr.010", ".1.3.6.1.2.1.2.2.1.2.8"},
      // strings: "..." with its length, '...' without; named numbers of an index
      {"SNMP-VIEW-BASED-ACM-MIB::vacmAccessStatus.\"group\".\"\".3.noAuthNoPriv",
       ".1.3.6.1.6.3.16.1.4.1.9.5.103.114.111.117.112.0.3.1"},
      {"SNMP-VIEW-BASED-ACM-MIB::vacmAccessStatus.\"group\"", ".1.3.6.1.6.3.16.1.4.1.9.5.103.114.111.117.112"},
      {"SNMP-VIEW-BASED-ACM-MIB::vacmGroupName.1.5.99.111.109.109.49",
       ".1.3.6.1.6.3.16.1.2.1.3.1.5.99.111.109.109.49"},
      {"DISMAN-EVENT-MIB::mteEventComment.\"_snmpd\".'_linkDown'",
       ".1.3.6.1.2.1.88.1.4.2.1.2.6.95.115.110.109.112.100.95.108.105.110.107.68.111.119.110"},
      {"BRIDGE-MIB::dot1dTpFdbAddress.0.1.2.3.4.5", ".1.3.6.1.2.1.17.4.3.1.1.0.1.2.3.4.5"},
      {"BRIDGE-MIB::dot1dTpFdbAddress.'ABCDEF'", ".1.3.6.1.2.1.17.4.3.1.1.65.66.67.68.69.70"},
      {"IP-MIB::ipAdEntAddr.10.0.0.1", ".1.3.6.1.2.1.4.20.1.1.10.0.0.1"},
      {"IP-MIB::ipAddressIfIndex.ipv4.\"127.0.0.1\"", ".1.3.6.1.2.1.4.34.1.3.1.9.49.50.55.46.48.46.48.46.49"},
      {"IP-MIB::ipAddressIfIndex.1.4.127.0.0.1", ".1.3.6.1.2.1.4.34.1.3.1.4.127.0.0.1"},
      {"NET-SNMP-AGENT-MIB::nsCacheTimeout.1.3.6", ".1.3.6.1.4.1.8072.1.5.3.1.2.1.3.6"},
      {"NET-SNMP-AGENT-MIB::nsCacheTimeout.\".1.3\"", ".1.3.6.1.4.1.8072.1.5.3.1.2.4.46.49.46.51"},
      {"NET-SNMP-AGENT-MIB::nsModuleName.\"\".1.0.0", ".1.3.6.1.4.1.8072.1.2.1.1.4.0.1.0.0"},
      {"SNMPv2-MIB::sysDescr.\"a.b\"", ".1.3.6.1.2.1.1.1.3.97.46.98"},
      {"SNMPv2-MIB::sysDescr.'ab'", ".1.3.6.1.2.1.1.1.97.98"},
      {"IF-MIB::ifTable.1.2.3", ".1.3.6.1.2.1.2.2.1.2.3"},
      // a repeated name: the lower OID; with its module, that module's
      {"aix", ".1.3.6.1.4.1.2021.250.15"},
      {"NET-SNMP-TC::aix", ".1.3.6.1.4.1.8072.3.2.15"},
      // refused, as snmptranslate refuses them
      {"IF-MIB::nope.1", "FAIL"},
      {"BOGUS-MIB::ifDescr.1", "FAIL"},
      {"SNMPv2-MIB::ifDescr.1", "FAIL"},
      {"ifdescr.3", "FAIL"},
      {"IF-MIB::ifDescr.-1", "FAIL"},
      {"IF-MIB::ifDescr.4294967296", "FAIL"},
      {"IF-MIB::ifDescr.\"3\"", "FAIL"},
      {"IF-MIB::ifDescr.3.ipv4", "FAIL"},
      {"IF-MIB::ifDescr..3", "FAIL"},
      {"IF-MIB::ifDescr.3.", "FAIL"},
      {"IF-MIB::ifDescr.\"3", "FAIL"},
      {"IF-MIB::ifDescr.12x", "FAIL"},
      {"SNMPv2-MIB::sysDescr.\"a\"b", "FAIL"},
      {"SNMP-VIEW-BASED-ACM-MIB::vacmGroupName.1.'comm1'", "FAIL"},
      {"DISMAN-EVENT-MIB::mteEventComment.\"a\".\"b\"", "FAIL"},
      {"BRIDGE-MIB::dot1dTpFdbAddress.\"ABCDEF\"", "FAIL"},
      {"BRIDGE-MIB::dot1dTpFdbAddress.'ABC'", "FAIL"},
      {"IP-MIB::ipAddressIfIndex.ipv9", "FAIL"},
      {"IP-MIB::ipAdEntAddr.10.0.256.1", "FAIL"},
      {"SNMPv2-MIB::sysDescr.ipv4", "FAIL"},
      {"::sysDescr", "FAIL"},
      {"", "FAIL"},
      {".", "FAIL"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.text);
      EXPECT_EQ(c.oid, ToOid(c.text));
   }
   // Too small a buffer refuses the name rather than cutting it.
   uint32_t ids[4];
   EXPECT_EQ(0u, names.TextToOID("IF-MIB::ifDescr.3", ids, 4));
   EXPECT_EQ(4u, names.TextToOID("iso.3.6.1", ids, 4));
}

// What OIDToText writes reads back to the same OID, but for the address
// forms of an InetAddress index, which Net-SNMP itself reads as text.
TEST_F(MIBNamesTest, NamesReadBackToTheirOids)
{
   for (const char *oid : {".1.3.6.1.2.1.2.2.1.2.3", ".1.3.6.1.6.3.16.1.4.1.9.5.103.114.111.117.112.0.3.1",
                           ".1.3.6.1.2.1.88.1.4.2.1.2.6.95.115.110.109.112.100.95.108.105.110.107.68.111.119.110",
                           ".1.3.6.1.2.1.17.4.3.1.1.0.1.2.3.4.5", ".1.3.6.1.2.1.4.20.1.1.10.0.0.1",
                           ".1.3.6.1.4.1.8072.1.2.1.1.4.0.1.0.0", ".1.3.6.1.2.1.2.2.1.99.5",
                           ".1.3.6.1.4.1.8072.1.5.3.1.2.1.3.6.1.2.1.2.2", ".1.3.6.1.2.1.4.34.1.3.16.4.65.66.67.68",
                           ".1.3.6.1.6.3.16.1.2.1.3.1.9.65", ".1.3.6.1.2.1.1.3.0", ".1.3.6.1.4.1.99999.1.2"})
   {
      SCOPED_TRACE(oid);
      std::string text = ToText(oid);
      if (text.find("'.") != std::string::npos || text.find(".\".") != std::string::npos)
         continue;  // a string shown with dots for octets that print as none
      EXPECT_EQ(oid, ToOid(text)) << text;
   }
}

TEST_F(MIBNamesTest, NodesByNameAndOid)
{
   SNMP_MIBObject *node = names.FindNodeByName("IF-MIB::ifDescr");
   ASSERT_NE(nullptr, node);
   EXPECT_EQ(node, names.FindNodeByName("ifDescr"));
   EXPECT_EQ(nullptr, names.FindNodeByName("SNMPv2-MIB::ifDescr"));
   EXPECT_EQ(nullptr, names.FindNodeByName("::ifDescr"));
   uint32_t ids[32];
   ASSERT_EQ(10u, names.GetNodeOID(node, ids, 32));
   EXPECT_EQ(2u, ids[9]);
   EXPECT_EQ(0u, names.GetNodeOID(node, ids, 9));
   SNMP_MIBObject stranger(1, "x");
   EXPECT_EQ(0u, names.GetNodeOID(&stranger, ids, 32));
   uint32_t matched = 99;
   EXPECT_EQ(node, names.FindNode(ids, 10, &matched));
   EXPECT_EQ(10u, matched);
   ids[10] = 3;
   EXPECT_EQ(node, names.FindNode(ids, 11, &matched));
   EXPECT_EQ(10u, matched);
   ids[0] = 7;
   EXPECT_EQ(nullptr, names.FindNode(ids, 11, &matched));
   EXPECT_EQ(0u, matched);
}

// Children found by sub-identifier whatever the order they were added in; of
// two with one sub-identifier, the first added, as FindChildByID finds it.
TEST(MIBNames, ChildrenInAnyOrder)
{
   SNMP_MIBObject *root = new SNMP_MIBObject();
   for (uint32_t id : {5u, 1u, 300u, 2u, 70000u})
      root->AddChild(new SNMP_MIBObject(id, ("n" + std::to_string(id)).c_str()));
   root->AddChild(new SNMP_MIBObject(2, "second2"));
   SNMP_MIBTranslator names;
   ASSERT_EQ(SNMP_RC_SUCCESS, names.SetTree(root, true));
   for (uint32_t id : {1u, 2u, 5u, 300u, 70000u})
   {
      uint32_t matched;
      SNMP_MIBObject *node = names.FindNode(&id, 1, &matched);
      ASSERT_NE(nullptr, node);
      EXPECT_EQ(id, node->OID());
      EXPECT_EQ("n" + std::to_string(id), node->Name());
   }
   uint32_t missing = 3, matched;
   EXPECT_EQ(nullptr, names.FindNode(&missing, 1, &matched));
   // A translator without a tree: numbers both ways.
   SNMP_MIBTranslator empty;
   char text[64];
   uint32_t ids[] = {1, 3, 6};
   EXPECT_EQ(6u, empty.OIDToText(ids, 3, text, sizeof(text), 0));
   EXPECT_STREQ(".1.3.6", text);
   EXPECT_EQ(3u, empty.TextToOID(".1.3.6", ids, 3));
   EXPECT_EQ(0u, empty.TextToOID("iso.3", ids, 3));
   EXPECT_EQ(nullptr, empty.FindNodeByName("iso"));
}

TEST_F(MIBNamesTest, TextsAreCutLikeSnprintf)
{
   uint32_t ids[] = {1, 3, 6, 1, 2, 1, 2, 2, 1, 2, 3};
   char text[8];
   EXPECT_EQ(17u, names.OIDToText(ids, 11, text, sizeof(text), 0));
   EXPECT_STREQ("IF-MIB:", text);
   EXPECT_EQ(17u, names.OIDToText(ids, 11, nullptr, 0, 0));
   auto v = Var(".1.3.6.1.2.1.2.2.1.7.1", "02 01 01");
   EXPECT_EQ(14u, names.FormatValue(v.get(), text, sizeof(text), 0));
   EXPECT_STREQ("INTEGER", text);
   // Labels of any length come whole.
   SNMP_MIBObject node(1, "x", MIB_TYPE_INTEGER, 0, 0, nullptr);
   std::string label(300, 'a');
   node.AddEnum(1, label.c_str());
   char big[512];
   SNMPFormatValue(v.get(), &node, big, sizeof(big));
   EXPECT_EQ("INTEGER: " + label + "(1)", std::string(big));
}

TEST_F(MIBNamesTest, ValueTexts)
{
   struct Case
   {
      const char *oid;    // the variable's name: it leads to the node
      const char *value;  // the value element as on the wire
      const char *text;
   };
   const std::string longHex(17 * 2, '0');
   const Case cases[] = {
      // named numbers, units, integer display hints
      {".1.3.6.1.2.1.2.2.1.7.1", "02 01 01", "INTEGER: up(1)"},
      {".1.3.6.1.2.1.2.2.1.7.1", "02 01 09", "INTEGER: 9"},
      {".1.3.6.1.2.1.2.2.1.3.1", "02 01 18", "INTEGER: softwareLoopback(24)"},
      {".1.3.6.1.2.1.4.13.0", "02 01 00", "INTEGER: 0 seconds"},
      {".1.3.6.1.2.1.10.127.1.1.1.1.6.1", "02 01 05", "INTEGER: .5 dBmV"},
      {".1.3.6.1.2.1.10.127.1.1.1.1.6.1", "02 02 04 D2", "INTEGER: 123.4 dBmV"},
      {".1.3.6.1.2.1.10.127.1.1.1.1.6.1", "02 01 FB", "INTEGER: -.5 dBmV"},
      {".1.3.6.1.2.1.2.2.1.5.1", "42 04 00 98 96 80", "Gauge32: 10000000"},
      {".1.3.6.1.2.1.2.2.1.10.1", "41 01 05", "Counter32: 5"},
      // octet strings under their display hints
      {".1.3.6.1.2.1.2.2.1.6.1", "04 06 02 FC 00 00 00 01", "STRING: 2:fc:0:0:0:1"},
      {".1.3.6.1.2.1.2.2.1.6.1", "04 00", "STRING: "},
      {".1.3.6.1.2.1.2.2.1.2.1", "04 02 6C 6F", "STRING: lo"},
      {".1.3.6.1.2.1.2.2.1.2.1", "04 03 41 00 42", "STRING: A.B"},
      {".1.3.6.1.2.1.2.2.1.2.1", "04 04 41 0A 42 09", "STRING: A\nB\t"},
      {".1.3.6.1.2.1.25.1.2.0", "04 0B 07 EA 0C 0A 0B 03 00 00 2B 00 00", "STRING: 2026-12-10,11:3:0.0,+0:0"},
      {".1.3.6.1.2.1.25.1.2.0", "04 08 00 00 01 01 00 00 00 00", "STRING: 0-1-1,0:0:0.0"},
      {".1.3.6.1.2.1.88.1.4.2.1.3.1.65.1.66", "04 01 C0", "BITS: C0 notification(0) set(1) "},
      {".1.3.6.1.2.1.88.1.4.2.1.3.1.65.1.66", "04 00", "BITS: "},
      {".1.3.6.1.2.1.88.1.4.2.1.3.1.65.1.66", "04 02 80 01", "BITS: 80 01 notification(0) 15 "},
      // OID values as names, network addresses, opaque floats
      {".1.3.6.1.2.1.1.2.0", "06 0A 2B 06 01 04 01 BF 08 03 02 0A", "OID: NET-SNMP-TC::linux"},
      {".1.3.6.1.2.1.1.2.0", "06 01 00", "OID: SNMPv2-SMI::zeroDotZero"},
      {".1.3.6.1.2.1.1.2.0", "06 0A 2B 06 01 02 01 02 02 01 08 03", "OID: IF-MIB::ifEntry.8.3"},
      {".1.3.6.1.2.1.3.1.1.3.1.1", "40 04 C0 00 02 01", "Network Address: C0:00:02:01"},
      {".1.3.6.1.4.1.2021.10.1.7.1", "44 07 9F 78 04 3F 00 00 00", "Opaque: Float: 0.500000"},
      // a value of another type than the node's
      {".1.3.6.1.2.1.2.2.1.2.1", "02 01 05", "Wrong Type (should be OCTET STRING): INTEGER: 5"},
      {".1.3.6.1.2.1.2.2.1.5.1", "41 01 05", "Wrong Type (should be Gauge32 or Unsigned32): Counter32: 5"},
      {".1.3.6.1.2.1.2.2.1.7.1", "05 00", "Wrong Type (should be INTEGER): NULL"},
      {".1.3.6.1.2.1.1.2.0", "04 01 41", "Wrong Type (should be OBJECT IDENTIFIER): STRING: \"A\""},
      {".1.3.6.1.2.1.3.1.1.3.1.1", "04 04 C0 00 02 01",
       "Wrong Type (should be NetworkAddress): Hex-STRING: C0 00 02 01 "},
      {".1.3.6.1.4.1.2021.10.1.7.1", "04 01 41", "Wrong Type (should be Opaque): STRING: \"A\""},
      // exceptions whatever the node
      {".1.3.6.1.2.1.2.2.1.7.1", "80 00", "No Such Object available on this agent at this OID"},
      // nodes without syntax: the value's own type
      {".1.3.6.1.2.1.1.3.0", "43 02 01 9B", "Timeticks: (411) 0:00:04.11"},
      {".1.3.6.1.2.1.2.2.1.99.1", "02 01 05", "INTEGER: 5"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(std::string(c.oid) + " " + c.value);
      auto v = Var(c.oid, c.value);
      char text[1024];
      uint32_t len = names.FormatValue(v.get(), text, sizeof(text), 0);
      EXPECT_EQ(c.text, std::string(text));
      EXPECT_EQ(len, strlen(text));
   }
   auto v = Var(".1.3.6.1.2.1.1.2.0", "06 0A 2B 06 01 04 01 BF 08 03 02 0A");
   char text[256];
   names.FormatValue(v.get(), text, sizeof(text), SNMP_TEXT_NUMERIC_OIDS);
   EXPECT_STREQ("OID: .1.3.6.1.4.1.8072.3.2.10", text);
}

// Without a node the value's type decides, as Net-SNMP prints values of
// objects that no loaded module defines.
TEST(MIBNames, ValueTextsWithoutANode)
{
   struct Case
   {
      const char *value;
      const char *text;
   };
   const Case cases[] = {
      {"02 04 80 00 00 00", "INTEGER: -2147483648"},
      {"41 05 00 FF FF FF FF", "Counter32: 4294967295"},
      {"42 01 05", "Gauge32: 5"},
      {"47 01 05", "5"},   // UInteger32: Net-SNMP writes the number alone
      {"46 09 00 FF FF FF FF FF FF FF FF", "Counter64: 18446744073709551615"},
      {"43 04 7F FF FF FF", "Timeticks: (2147483647) 248 days, 13:13:56.47"},
      {"43 04 00 83 D6 00", "Timeticks: (8640000) 1 day, 0:00:00.00"},
      {"43 03 01 51 80", "Timeticks: (86400) 0:14:24.00"},
      {"04 03 41 42 43", "STRING: \"ABC\""},
      {"04 05 41 22 0A 5C 09", "STRING: \"A\\\"\n\\\\\t\""},
      {"04 00", "\"\""},
      {"04 04 41 42 43 00", "Hex-STRING: 41 42 43 00 "},
      {"04 03 41 FF 42", "Hex-STRING: 41 FF 42 "},
      {"04 11 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10",
       "Hex-STRING: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n10 "},
      {"06 08 2B 06 01 02 01 02 02 01", "OID: .1.3.6.1.2.1.2.2.1"},
      {"40 04 C0 A8 01 01", "IpAddress: 192.168.1.1"},
      {"40 03 C0 A8 01", "Wrong Type (should be IpAddress): Hex-STRING: C0 A8 01 "},
      {"05 00", "NULL"},
      {"44 07 9F 78 04 3F 00 00 00", "Opaque: Float: 0.500000"},
      {"44 07 9F 78 04 47 C3 50 00", "Opaque: Float: 100000.000000"},
      {"44 0B 9F 79 08 3F F0 00 00 00 00 00 00", "Opaque: Float: 1.000000"},
      {"44 04 9F 76 01 05", "Opaque: Counter64: 5"},
      {"44 04 9F 7A 01 FB", "Opaque: Int64: -5"},
      {"44 04 9F 7B 01 85", "Opaque: UInt64: 133"},
      {"44 03 41 42 43", "OPAQUE: 41 42 43 "},
      {"44 05 9F 78 02 3F 00", "OPAQUE: 9F 78 02 3F 00 "},
      {"44 00", "OPAQUE: "},
      {"80 00", "No Such Object available on this agent at this OID"},
      {"81 00", "No Such Instance currently exists at this OID"},
      {"82 00", "No more variables left in this MIB View (It is past the end of the MIB tree)"},
      {"45 02 01 02", "Variable has bad type"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.value);
      auto v = Var(".1.3.6.1.4.1.9999.1", c.value);
      char text[512];
      uint32_t len = SNMPFormatValue(v.get(), nullptr, text, sizeof(text));
      EXPECT_EQ(c.text, std::string(text));
      EXPECT_EQ(len, strlen(text));
   }
}

// Octet-string display hints (RFC 2579) with Net-SNMP's readings of the
// corners: a one-octet hex value without separator at the end of the hint
// gets two digits, a value short of its width reads as if zeros followed.
TEST(MIBNames, OctetStringDisplayHints)
{
   struct Case
   {
      const char *hint;
      const char *octets;
      const char *text;
   };
   const Case cases[] = {
      {"1x:", "02 FC 00 00 00 01", "STRING: 2:fc:0:0:0:1"},
      {"1x", "0A 0B", "STRING: 0a0b"},
      {"x", "0A 0B 0C", "STRING: 0a0b0c"},
      {"1x1x", "0A 0B 0C", "STRING: a0b0c"},
      {"1x-1x", "0A 0B 0C", "STRING: a-0b0c"},
      {"2x:", "01 02 03 04 05", "STRING: 102:304:500"},
      {"2x", "00 0A 00 0B", "STRING: ab"},
      {"1d.1d.1d.1d", "C0 A8 01 01", "STRING: 192.168.1.1"},
      {"1d.1d.1d.1d", "C0 A8", "STRING: 192.168"},
      {"1d.1d.1d.1d", "C0 A8 01 01 02", "STRING: 192.168.1.12"},
      {"1d.1d.1d.1d/2d", "C0 A8 01 01 00 FF", "STRING: 192.168.1.1/255"},
      {"4x-2x-2x-1x1x-6x", "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF",
       "STRING: 112233-4455-6677-8899-aabbccddeeff"},
      {"4d", "FF FF FF FF", "STRING: 4294967295"},
      {"1o", "08 09", "STRING: 1011"},
      {"1a", "41 42 00 43", "STRING: AB.C"},
      {"255t", "41 C3 A9 43", "STRING: A\xC3\xA9" "C"},
      {"*1x:", "02 01 02", "STRING: 1:2"},
      {"*1x:", "00", "STRING: "},
      {"1b", "05", "(Bad hint ignored: 1b) Hex-STRING: 05 "},
      {"1h:", "41", "(Bad hint ignored: 1h:) STRING: \"A\""},
      {"1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1b", "41",
       "(Bad hint ignored: 1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1x:1b) "
       "STRING: \"A\""},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(std::string(c.hint) + " " + c.octets);
      SNMP_MIBObject node(1, "x", MIB_TYPE_OCTET_STRING, 0, 0, nullptr);
      node.SetDisplayHint(c.hint);
      std::vector<uint8_t> octets = Hex(c.octets);
      std::vector<uint8_t> element = {ASN_TYPE_OCTET_STRING, (uint8_t)octets.size()};
      element.insert(element.end(), octets.begin(), octets.end());
      auto v = Var(".1.3.6.1.4.1.9999.1", ToHex(element));
      char text[512];
      SNMPFormatValue(v.get(), &node, text, sizeof(text));
      EXPECT_EQ(c.text, std::string(text));
   }
}

TEST(MIBNames, IntegerDisplayHints)
{
   struct Case
   {
      int type;
      const char *hint;
      const char *value;
      const char *text;
   };
   const Case cases[] = {
      {MIB_TYPE_INTEGER32, "d-2", "02 01 05", "INTEGER: .05"},
      {MIB_TYPE_INTEGER32, "d-2", "02 02 30 39", "INTEGER: 123.45"},
      {MIB_TYPE_INTEGER32, "d-3", "02 01 F4", "INTEGER: -.012"},
      {MIB_TYPE_INTEGER32, "d-0", "02 01 05", "INTEGER: 5"},
      {MIB_TYPE_INTEGER32, "x", "02 02 00 FF", "INTEGER: ff"},
      {MIB_TYPE_INTEGER32, "x", "02 01 FF", "INTEGER: ffffffffffffffff"},
      {MIB_TYPE_INTEGER32, "o", "02 01 08", "INTEGER: 10"},
      {MIB_TYPE_INTEGER32, "b", "02 01 05", "INTEGER: 00000000000000000000000000000101"},
      {MIB_TYPE_UNSIGNED32, "x", "42 02 00 FF", "Gauge32: ff"},
      {MIB_TYPE_UNSIGNED32, "d-2", "42 02 04 D2", "Gauge32: 12.34"},
      {MIB_TYPE_COUNTER32, "d-1", "41 01 05", "Counter32: 5"},   // counters take no hint
      {MIB_TYPE_UINTEGER32, "d-1", "47 01 05", ".5"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(std::string(c.hint) + " " + c.value);
      SNMP_MIBObject node(1, "x", c.type, 0, 0, nullptr);
      node.SetDisplayHint(c.hint);
      auto v = Var(".1.3.6.1.4.1.9999.1", c.value);
      char text[256];
      SNMPFormatValue(v.get(), &node, text, sizeof(text));
      EXPECT_EQ(c.text, std::string(text));
   }
}

// Net-SNMP's tree of the shipped modules: 33,000 nodes translate without a
// scan of siblings, and every named node's own OID comes back as its name.
TEST(MIBNames, NetSnmpTreeRoundTrips)
{
   SNMP_MIBObject *root = BuildMibTreeFromTsv(std::string(ZBSNMP_TEST_DATA) + "/netsnmp-mib-tree-rfc.tsv");
   ASSERT_NE(nullptr, root);
   SNMP_MIBTranslator names;
   ASSERT_EQ(SNMP_RC_SUCCESS, names.SetTree(root, true));
   uint64_t nodes = 0, checked = 0;
   std::vector<SNMP_MIBObject *> stack = {root};
   while (!stack.empty())
   {
      SNMP_MIBObject *n = stack.back();
      stack.pop_back();
      nodes++;
      for (SNMP_MIBObject *c = n->FirstChild(); c != nullptr; c = c->Next())
         stack.push_back(c);
      if (n == root || n->Module() == nullptr)
         continue;
      uint32_t ids[128];
      uint32_t count = names.GetNodeOID(n, ids, 128);
      ASSERT_GT(count, 0u);
      char text[512];
      names.OIDToText(ids, count, text, sizeof(text), 0);
      ASSERT_EQ(std::string(n->Module()) + "::" + n->Name(), text);
      uint32_t back[128];
      ASSERT_EQ(count, names.TextToOID(text, back, 128)) << text;
      ASSERT_EQ(0, memcmp(ids, back, count * 4)) << text;
      checked++;
   }
   EXPECT_GT(nodes, 33000u);
   EXPECT_GT(checked, 33000u);
}

// Texts, OIDs and values made at random from the pieces that matter (quotes,
// dots, names, indexes, hints): every call ends, within its buffer, and what
// TextToOID accepts fits the buffer it was given.
TEST_F(MIBNamesTest, HostileInputsNeverCrash)
{
   uint64_t seed = 0x2545F4914F6CDD1Dull;
   auto next = [&seed](uint32_t n) {
      seed ^= seed << 13;
      seed ^= seed >> 7;
      seed ^= seed << 17;
      return (uint32_t)(seed % n);
   };
   const char *pieces[] = {".", ".", "\"", "'", "::", "IF-MIB", "ifDescr", "vacmAccessStatus", "ipv4",
                           "noAuthNoPriv", "0", "1", "255", "256", "4294967295", "4294967296", "0x1F",
                           "010", "ab", "-", "iso", "SNMP-VIEW-BASED-ACM-MIB", "mteEventComment",
                           "DISMAN-EVENT-MIB", "dot1dTpFdbAddress", "BRIDGE-MIB", "nsCacheTimeout",
                           "NET-SNMP-AGENT-MIB", "ipAddressIfIndex", "IP-MIB", " ", "\\"};
   const size_t kPieces = sizeof(pieces) / sizeof(pieces[0]);
   for (int round = 0; round < 20000; round++)
   {
      std::string text;
      for (uint32_t k = next(12); k > 0; k--)
         text += pieces[next((uint32_t)kPieces)];
      uint32_t ids[16];
      uint32_t n = names.TextToOID(text.c_str(), ids, 1 + next(16));
      ASSERT_LE(n, 16u);
   }
   const char *bases[] = {".1.3.6.1.6.3.16.1.4.1.9", ".1.3.6.1.2.1.88.1.4.2.1.2", ".1.3.6.1.2.1.17.4.3.1.1",
                          ".1.3.6.1.2.1.4.34.1.3", ".1.3.6.1.4.1.8072.1.2.1.1.4", ".1.3.6.1.4.1.8072.1.5.3.1.2",
                          ".1.3.6.1.2.1.4.20.1.1", ".1.3.6.1.2.1.2.2.1.7"};
   const char *values[] = {"02 01 01", "04 03 41 00 42", "06 03 2B 06 01", "40 02 01 02", "44 03 9F 78 00",
                           "04 01 FF", "43 01 05", "47 01 05", "05 00", "81 00", "46 01 05", "42 01 05"};
   for (int round = 0; round < 5000; round++)
   {
      uint32_t ids[64];
      uint32_t n = SNMPParseOID(bases[next(8)], ids, 64);
      for (uint32_t k = next(20); k > 0 && n < 64; k--)
         ids[n++] = next(4) == 0 ? 0xFFFFFFFFu - next(3) : next(300);
      char text[64];
      uint32_t len = names.OIDToText(ids, n, text, 1 + next(64), 0);
      ASSERT_LT(strlen(text), 64u);
      (void)len;
      SNMP_Variable var(ids, n);
      std::vector<uint8_t> value = Hex(values[next(12)]);
      std::vector<uint8_t> binding(512);
      uint32_t used = BerWriteElement(ASN_TYPE_OBJECT_ID, ids, 4 * n, binding.data(), 512);
      memcpy(binding.data() + used, value.data(), value.size());
      SNMP_Variable parsed;
      if (parsed.Parse(binding.data(), used + (uint32_t)value.size()))
         names.FormatValue(&parsed, text, 1 + next(64), next(4));
   }
   // Hints made of random pieces, on random octets.
   const char *hintPieces[] = {"1", "2", "8", "255", "*", "x", "d", "o", "a", "t", ":", ".", "-", "b", ""};
   for (int round = 0; round < 5000; round++)
   {
      std::string hint;
      for (uint32_t k = 1 + next(8); k > 0; k--)
         hint += hintPieces[next(15)];
      SNMP_MIBObject node(1, "x", next(2) ? MIB_TYPE_OCTET_STRING : MIB_TYPE_INTEGER32, 0, 0, nullptr);
      node.SetDisplayHint(hint.c_str());
      std::vector<uint8_t> element = {ASN_TYPE_OCTET_STRING, (uint8_t)next(40)};
      for (uint32_t k = 0; k < element[1]; k++)
         element.push_back((uint8_t)next(256));
      if (node.Type() == MIB_TYPE_INTEGER32)
         element = {ASN_TYPE_INTEGER, 4, (uint8_t)next(256), (uint8_t)next(256), 0, 1};
      auto v = Var(".1.3.6.1.4.1.9999.1", ToHex(element));
      char text[128];
      SNMPFormatValue(v.get(), &node, text, 1 + next(128));
   }
}
