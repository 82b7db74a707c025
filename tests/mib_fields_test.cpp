// SNMP_MIBObject's optional fields and the type/access/status vocabulary.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "zbsnmp.h"

TEST(MIBFields, AbsentUntilSet)
{
   SNMP_MIBObject node(8, "ifOperStatus");
   EXPECT_EQ(nullptr, node.Module());
   EXPECT_EQ(nullptr, node.TextualConvention());
   EXPECT_EQ(nullptr, node.DisplayHint());
   EXPECT_EQ(nullptr, node.Units());
   EXPECT_EQ(0u, node.FixedLength());
   EXPECT_EQ(0u, node.EnumCount());
   EXPECT_EQ(nullptr, node.EnumLabel(0));
   EXPECT_EQ(0, node.EnumValue(0));
   EXPECT_EQ(nullptr, node.FindEnumLabel(1));
   EXPECT_EQ(0, node.FindEnumValue("up", nullptr));
   EXPECT_EQ(0u, node.IndexCount());
   EXPECT_EQ(nullptr, node.IndexName(0));
   EXPECT_FALSE(node.IsIndexImplied());
   // Clearing what is not there allocates nothing and changes nothing.
   node.SetModule(nullptr);
   node.SetFixedLength(0);
   node.SetIndexImplied(false);
   EXPECT_EQ(nullptr, node.Module());
}

// Every text setter copies before it releases, so a node's own text may be
// handed back to it; NULL removes the field.
TEST(MIBFields, TextSettersCopyTheirArgument)
{
   struct Field
   {
      const char *name;
      void (SNMP_MIBObject::*set)(const char *);
      const char *(SNMP_MIBObject::*get)() const;
   };
   const Field fields[] = {
      {"module", &SNMP_MIBObject::SetModule, &SNMP_MIBObject::Module},
      {"tc", &SNMP_MIBObject::SetTextualConvention, &SNMP_MIBObject::TextualConvention},
      {"hint", &SNMP_MIBObject::SetDisplayHint, &SNMP_MIBObject::DisplayHint},
      {"units", &SNMP_MIBObject::SetUnits, &SNMP_MIBObject::Units},
   };
   for (const Field &f : fields)
   {
      SCOPED_TRACE(f.name);
      SNMP_MIBObject node;
      char text[] = "IF-MIB";
      (node.*f.set)(text);
      text[0] = 'X';  // the node holds its own copy
      ASSERT_STREQ("IF-MIB", (node.*f.get)());
      (node.*f.set)((node.*f.get)());  // its own text
      EXPECT_STREQ("IF-MIB", (node.*f.get)());
      (node.*f.set)((node.*f.get)() + 3);  // a pointer into its own text
      EXPECT_STREQ("MIB", (node.*f.get)());
      (node.*f.set)(nullptr);
      EXPECT_EQ(nullptr, (node.*f.get)());
   }
}

TEST(MIBFields, EnumerationKeepsOrderAndFindsBothWays)
{
   SNMP_MIBObject node(8, "ifOperStatus");
   const char *labels[] = {"up", "down", "testing", "unknown", "dormant", "notPresent",
                           "lowerLayerDown"};
   for (int i = 0; i < 7; i++)
      ASSERT_EQ(1, node.AddEnum(i + 1, labels[i]));
   ASSERT_EQ(0, node.AddEnum(9, nullptr));
   ASSERT_EQ(7u, node.EnumCount());
   for (uint32_t i = 0; i < 7; i++)
   {
      EXPECT_EQ((int32_t)i + 1, node.EnumValue(i));
      EXPECT_STREQ(labels[i], node.EnumLabel(i));
   }
   EXPECT_STREQ("dormant", node.FindEnumLabel(5));
   EXPECT_EQ(nullptr, node.FindEnumLabel(0));
   int32_t v = -1;
   EXPECT_EQ(1, node.FindEnumValue("lowerLayerDown", &v));
   EXPECT_EQ(7, v);
   EXPECT_EQ(0, node.FindEnumValue("Up", &v));  // labels are case-sensitive
   // A repeated value finds its first label; negative values are kept.
   ASSERT_EQ(1, node.AddEnum(1, "alsoUp"));
   ASSERT_EQ(1, node.AddEnum(-5, "negative"));
   EXPECT_STREQ("up", node.FindEnumLabel(1));
   EXPECT_STREQ("negative", node.FindEnumLabel(-5));
}

TEST(MIBFields, IndexOfARow)
{
   SNMP_MIBObject row(1, "vacmAccessEntry");
   ASSERT_EQ(1, row.AddIndex("vacmGroupName"));
   ASSERT_EQ(1, row.AddIndex("vacmAccessContextPrefix"));
   ASSERT_EQ(1, row.AddIndex("vacmAccessSecurityModel"));
   ASSERT_EQ(0, row.AddIndex(nullptr));
   row.SetIndexImplied(true);
   ASSERT_EQ(3u, row.IndexCount());
   EXPECT_STREQ("vacmAccessContextPrefix", row.IndexName(1));
   EXPECT_EQ(nullptr, row.IndexName(3));
   EXPECT_TRUE(row.IsIndexImplied());
   row.SetFixedLength(6);
   EXPECT_EQ(6u, row.FixedLength());
}

// A wide tree where every node carries every field is freed exactly once
// (the sanitizer and valgrind builds check it).
TEST(MIBFields, TreeWithFieldsIsFreed)
{
   SNMP_MIBObject *root = new SNMP_MIBObject();
   SNMP_MIBObject *parent = root;
   for (uint32_t i = 0; i < 2000; i++)
   {
      SNMP_MIBObject *node = new SNMP_MIBObject(i, "n");
      node->SetModule("M");
      node->SetDisplayHint("255a");
      for (int e = 0; e < 5; e++)
         node->AddEnum(e, "label");
      node->AddIndex("x");
      parent->AddChild(node);
      if (i % 100 == 0)
         parent = node;
   }
   delete root;
}

TEST(MIBVocabulary, WordsRoundTrip)
{
   struct Case
   {
      int code;
      const char *word;
      int base;
      uint32_t asnType;
   };
   const Case types[] = {
      {MIB_TYPE_OTHER, "other", MIB_TYPE_OTHER, ASN_TYPE_NULL},
      {MIB_TYPE_MODULE_IDENTITY, "MODULE-IDENTITY", MIB_TYPE_MODULE_IDENTITY, ASN_TYPE_NULL},
      {MIB_TYPE_NOTIFICATION_TYPE, "NOTIFICATION-TYPE", MIB_TYPE_NOTIFICATION_TYPE, ASN_TYPE_NULL},
      {MIB_TYPE_INTEGER, "INTEGER", MIB_TYPE_INTEGER, ASN_TYPE_INTEGER},
      {MIB_TYPE_UNSIGNED32, "Unsigned32", MIB_TYPE_UNSIGNED32, ASN_TYPE_GAUGE32},
      {MIB_TYPE_COUNTER64, "Counter64", MIB_TYPE_COUNTER64, ASN_TYPE_COUNTER64},
      {MIB_TYPE_OCTET_STRING, "OCTET STRING", MIB_TYPE_OCTET_STRING, ASN_TYPE_OCTET_STRING},
      {MIB_TYPE_OBJECT_ID, "OBJECT IDENTIFIER", MIB_TYPE_OBJECT_ID, ASN_TYPE_OBJECT_ID},
      {MIB_TYPE_BITS, "BITS", MIB_TYPE_BITS, ASN_TYPE_OCTET_STRING},
      {MIB_TYPE_OPAQUE, "Opaque", MIB_TYPE_OPAQUE, 0x44},
      {MIB_TYPE_UINTEGER32, "UInteger32", MIB_TYPE_UINTEGER32, ASN_TYPE_UINTEGER32},
      {MIB_TYPE_DISPLAY_STRING, "DisplayString", MIB_TYPE_OCTET_STRING, ASN_TYPE_OCTET_STRING},
      {MIB_TYPE_TIME_STAMP, "TimeStamp", MIB_TYPE_TIMETICKS, ASN_TYPE_TIMETICKS},
      {MIB_TYPE_INTERFACE_INDEX, "InterfaceIndex", MIB_TYPE_INTEGER32, ASN_TYPE_INTEGER},
   };
   for (const Case &c : types)
   {
      SCOPED_TRACE(c.word);
      EXPECT_STREQ(c.word, SNMPGetMIBTypeName(c.code));
      EXPECT_EQ(c.code, SNMPResolveMIBType(c.word));
      EXPECT_EQ(c.base, SNMPGetMIBBaseType(c.code));
      EXPECT_EQ(c.asnType, SNMPGetMIBValueType(c.code));
   }
   EXPECT_EQ(nullptr, SNMPGetMIBTypeName(-1));
   EXPECT_EQ(nullptr, SNMPGetMIBTypeName(255));
   EXPECT_EQ(-1, SNMPResolveMIBType("octet string"));
   EXPECT_EQ(-1, SNMPResolveMIBType(nullptr));
   EXPECT_EQ(255, SNMPGetMIBBaseType(255));  // a caller's own code stays itself
   EXPECT_EQ((uint32_t)ASN_TYPE_NULL, SNMPGetMIBValueType(255));

   // Every code of the access and status vocabularies has a distinct word.
   for (int code = 0; code <= MIB_ACCESS_WRITE_ONLY; code++)
      EXPECT_EQ(code, SNMPResolveMIBAccess(SNMPGetMIBAccessName(code)));
   for (int code = 0; code <= MIB_STATUS_OPTIONAL; code++)
      EXPECT_EQ(code, SNMPResolveMIBStatus(SNMPGetMIBStatusName(code)));
   EXPECT_STREQ("read-create", SNMPGetMIBAccessName(MIB_ACCESS_READ_CREATE));
   EXPECT_STREQ("deprecated", SNMPGetMIBStatusName(MIB_STATUS_DEPRECATED));
   EXPECT_EQ(nullptr, SNMPGetMIBAccessName(6));
   EXPECT_EQ(-1, SNMPResolveMIBStatus("-"));
}
