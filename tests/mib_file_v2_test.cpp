// MIB tree files with the nodes' optional fields (format version 2), and the
// guarantee that trees without them still save as format version 1.
#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "mib_tree_util.h"
#include "test_util.h"
#include "zbsnmp.h"

namespace
{
using Tree = std::unique_ptr<SNMP_MIBObject>;

std::string Body(const std::vector<uint8_t> &file)
{
   return ToHex(file.data() + 16, file.size() - 16);
}

uint32_t Load(const std::string &path, Tree *out)
{
   return LoadMibTree(path, out);
}

// root
//   a(1): every optional field
//     b(2): same module as a (inherited, no module field)
//     c(3): no module under a parent with one (an empty module field)
SNMP_MIBObject *SmallTree()
{
   SNMP_MIBObject *root = new SNMP_MIBObject();
   SNMP_MIBObject *a = new SNMP_MIBObject(1, "a", MIB_TYPE_OCTET_STRING, MIB_STATUS_CURRENT,
                                          MIB_ACCESS_READ_ONLY, "text");
   a->SetModule("M");
   a->SetTextualConvention("T");
   a->SetDisplayHint("1x:");
   a->SetUnits("s");
   a->SetFixedLength(6);
   a->AddEnum(1, "up");
   a->AddEnum(-1, "");
   a->AddIndex("i");
   a->AddIndex("j");
   a->SetIndexImplied(true);
   root->AddChild(a);
   SNMP_MIBObject *b = new SNMP_MIBObject(2, "b");
   b->SetModule("M");
   a->AddChild(b);
   a->AddChild(new SNMP_MIBObject(3, "c"));
   return root;
}

const char kSmallTreeBody[] =
   "01 14 00 FF FF FF 00 00 00 94 "                                      // root: OID 0, no name
   "01 14 01 00 02 17 00 00 01 61 94 "                                   // a: OID 1, attributes, name
   "0A 00 01 4D 8A "                                                     // module M
   "12 0B 00 01 54 8B 0C 00 03 31 78 3A 8C 0D 00 01 73 8D "              // syntax 0: T, 1x:, s,
   "0E 00 00 00 06 8E "                                                  //   fixed length 6,
   "16 00 02 01 02 75 70 8F FF FF FF 7F 00 96 92 "                       //   up(1), ""(-1)
   "10 00 01 69 90 10 00 01 6A 90 11 01 91 "                             // INDEX { i, IMPLIED j }
   "01 14 02 FF FF FF 00 00 01 62 94 81 "                                // b
   "01 14 03 FF FF FF 00 00 01 63 94 0A 00 00 8A 81 "                    // c
   "81 81";

TEST(MIBFileOptionalFields, ByteExactRecords)
{
   Tree tree(SmallTree());
   std::string path = TempDir() + "/v2";
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), MIB_SAVE_NO_DESCRIPTIONS), 0u);
   std::vector<uint8_t> f = ReadFileBytes(path);
   // Version 2; flags: no descriptions and optional fields.
   EXPECT_EQ(ToHex(f.data(), 12), "5A 42 4D 49 42 20 10 02 00 06 00 00");
   EXPECT_EQ(Body(f), ToHex(Hex(kSmallTreeBody)));

   Tree back;
   ASSERT_EQ(Load(path, &back), 0u);
   SNMP_MIBObject *a = back->FirstChild();
   ASSERT_NE(a, nullptr);
   EXPECT_EQ(back->Module(), nullptr);
   EXPECT_STREQ(a->Module(), "M");
   EXPECT_STREQ(a->TextualConvention(), "T");
   EXPECT_STREQ(a->DisplayHint(), "1x:");
   EXPECT_STREQ(a->Units(), "s");
   EXPECT_EQ(a->FixedLength(), 6u);
   ASSERT_EQ(a->EnumCount(), 2u);
   EXPECT_EQ(a->EnumValue(0), 1);
   EXPECT_STREQ(a->EnumLabel(0), "up");
   EXPECT_EQ(a->EnumValue(1), -1);
   EXPECT_STREQ(a->EnumLabel(1), "");  // an empty label is no missing label
   ASSERT_EQ(a->IndexCount(), 2u);
   EXPECT_STREQ(a->IndexName(1), "j");
   EXPECT_TRUE(a->IsIndexImplied());
   EXPECT_STREQ(a->FirstChild()->Module(), "M");   // inherited
   EXPECT_EQ(a->LastChild()->Module(), nullptr);   // an empty module field
   EXPECT_EQ(a->Type(), MIB_TYPE_OCTET_STRING);
}

// Loaded nodes share the module text they inherit; each node still owns
// its field: changing or removing it touches no other node.
TEST(MIBFileOptionalFields, InheritedModulesStayEachNodesOwn)
{
   Tree tree(SmallTree());
   std::string path = TempDir() + "/share";
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), 0), 0u);
   Tree back;
   ASSERT_EQ(Load(path, &back), 0u);
   SNMP_MIBObject *a = back->FirstChild(), *b = a->FirstChild();
   ASSERT_STREQ(b->Module(), "M");
   a->SetModule("IF-MIB");
   EXPECT_STREQ(b->Module(), "M");
   b->SetModule(b->Module());   // its own (shared) text
   EXPECT_STREQ(b->Module(), "M");
   a->SetModule(nullptr);
   b->SetModule(nullptr);
   EXPECT_EQ(a->Module(), nullptr);
   EXPECT_EQ(b->Module(), nullptr);
   // And a tree whose nodes still share is freed once (the sanitizer build checks).
   Tree again;
   ASSERT_EQ(Load(path, &again), 0u);
   EXPECT_STREQ(again->FirstChild()->FirstChild()->Module(), "M");
}

// A tree without optional fields is written as today's version 1, byte for
// byte, whatever flag bits the caller passes; also when a field was set and
// cleared again.
TEST(MIBFileOptionalFields, TreeWithoutThemSavesAsVersion1)
{
   SNMP_MIBObject root;
   SNMP_MIBObject *x = new SNMP_MIBObject(1, "x");
   x->SetModule("IF-MIB");
   x->SetModule(nullptr);
   x->SetFixedLength(4);
   x->SetFixedLength(0);
   root.AddChild(x);
   std::string path = TempDir() + "/v1";
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), &root, MIB_SAVE_NO_DESCRIPTIONS | MIB_FILE_OPTIONAL_FIELDS), 0u);
   std::vector<uint8_t> f = ReadFileBytes(path);
   EXPECT_EQ(ToHex(f.data(), 12), "5A 42 4D 49 42 20 10 01 00 02 00 00");
   EXPECT_EQ(Body(f), "01 02 00 00 82 07 00 87 05 FF 85 04 FF 84 06 FF 86 "
                      "01 02 00 01 78 82 07 01 87 05 FF 85 04 FF 84 06 FF 86 81 81");
}

// A tree with random optional fields everywhere comes back whole, plain and
// compressed, with and without descriptions.
TEST(MIBFileOptionalFields, RandomTreesRoundTrip)
{
   std::mt19937 rng(13);
   const char *modules[] = {"IF-MIB", "SNMPv2-MIB", "IP-MIB", nullptr};
   Tree tree(new SNMP_MIBObject());
   std::vector<SNMP_MIBObject *> nodes = {tree.get()};
   for (int i = 1; i < 5000; i++)
   {
      SNMP_MIBObject *parent = nodes[rng() % nodes.size()];
      std::string name = "n" + std::to_string(i);
      SNMP_MIBObject *n = new SNMP_MIBObject(rng() % 70000, name.c_str(), (int)(rng() % 90),
                                             (int)(rng() % 5), (int)(rng() % 6), "d");
      // Mostly the parent's module, as compiled trees are.
      n->SetModule(rng() % 4 ? parent->Module() : modules[rng() % 4]);
      if (rng() % 3 == 0)
         n->SetTextualConvention("DisplayString");
      if (rng() % 5 == 0)
         n->SetDisplayHint("255a");
      if (rng() % 7 == 0)
         n->SetUnits("seconds");
      if (rng() % 6 == 0)
         n->SetFixedLength(rng());
      for (uint32_t e = rng() % 4; e > 0; e--)
         n->AddEnum((int32_t)rng(), ("label" + std::to_string(e)).c_str());
      for (uint32_t e = rng() % 3; e > 0; e--)
         n->AddIndex(("index" + std::to_string(e)).c_str());
      n->SetIndexImplied(rng() % 9 == 0);
      parent->AddChild(n);
      nodes.push_back(n);
   }
   std::string dir = TempDir();
   for (uint32_t flags : {0u, (uint32_t)MIB_SAVE_COMPRESS, (uint32_t)MIB_SAVE_NO_DESCRIPTIONS,
                          (uint32_t)(MIB_SAVE_COMPRESS | MIB_SAVE_NO_DESCRIPTIONS)})
   {
      SCOPED_TRACE(flags);
      std::string path = dir + "/t" + std::to_string(flags);
      ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), flags), 0u);
      Tree back;
      ASSERT_EQ(Load(path, &back), 0u);
      std::vector<std::pair<SNMP_MIBObject *, SNMP_MIBObject *>> stack = {{tree.get(), back.get()}};
      size_t count = 0;
      while (!stack.empty())
      {
         auto [x, y] = stack.back();
         stack.pop_back();
         count++;
         ASSERT_STREQ(x->Name(), y->Name());
         ASSERT_EQ(x->OID(), y->OID());
         ASSERT_STREQ(flags & MIB_SAVE_NO_DESCRIPTIONS ? nullptr : x->Description(), y->Description());
         ASSERT_STREQ(x->Module(), y->Module());
         ASSERT_STREQ(x->TextualConvention(), y->TextualConvention());
         ASSERT_STREQ(x->DisplayHint(), y->DisplayHint());
         ASSERT_STREQ(x->Units(), y->Units());
         ASSERT_EQ(x->FixedLength(), y->FixedLength());
         ASSERT_EQ(x->EnumCount(), y->EnumCount());
         for (uint32_t i = 0; i < x->EnumCount(); i++)
         {
            ASSERT_EQ(x->EnumValue(i), y->EnumValue(i));
            ASSERT_STREQ(x->EnumLabel(i), y->EnumLabel(i));
         }
         ASSERT_EQ(x->IndexCount(), y->IndexCount());
         for (uint32_t i = 0; i < x->IndexCount(); i++)
            ASSERT_STREQ(x->IndexName(i), y->IndexName(i));
         ASSERT_EQ(x->IsIndexImplied(), y->IsIndexImplied());
         SNMP_MIBObject *cx = x->FirstChild(), *cy = y->FirstChild();
         for (; cx != nullptr && cy != nullptr; cx = cx->Next(), cy = cy->Next())
            stack.push_back({cx, cy});
         ASSERT_EQ(cx, nullptr);
         ASSERT_EQ(cy, nullptr);
      }
      EXPECT_EQ(count, nodes.size());
   }
}

std::vector<uint8_t> File(uint8_t version, uint8_t flags, const std::string &bodyHex)
{
   return MibFileBytes(version, flags, Hex(bodyHex));
}

// The new tags mean something only in a file that announces them: version 2
// with the optional-fields flag. Elsewhere they stay undefined tags.
TEST(MIBFileOptionalFields, TagsOnlyWhereAnnounced)
{
   struct Case
   {
      const char *what;
      uint8_t version, flags;
      const char *body;
      uint32_t rc;
   };
   const Case cases[] = {
      {"announced", 2, 0x04, "01 0A 00 01 4D 8A 81", SNMP_RC_SUCCESS},
      {"version 1 with the flag", 1, 0x04, "01 0A 00 01 4D 8A 81", SNMP_RC_BAD_FILE_DATA},
      {"version 2 without the flag", 2, 0x00, "01 0A 00 01 4D 8A 81", SNMP_RC_BAD_FILE_DATA},
      {"wrong closing tag", 2, 0x04, "01 0A 00 01 4D 8B 81", SNMP_RC_BAD_FILE_DATA},
      {"undefined tag 14", 2, 0x04, "01 14 81", SNMP_RC_BAD_FILE_DATA},
      {"shared named numbers in version 1", 1, 0x04, "01 12 00 00 92 81", SNMP_RC_BAD_FILE_DATA},
      {"enum cut in its value", 2, 0x04, "01 0F 00 00", SNMP_RC_BAD_FILE_DATA},
      {"index with a length past the end", 2, 0x04, "01 10 00 09 61 90 81", SNMP_RC_BAD_FILE_DATA},
      {"implied without its byte", 2, 0x04, "01 11", SNMP_RC_BAD_FILE_DATA},
      {"fields in any order, repeated", 2, 0x04,
       "01 10 00 01 69 90 0A 00 01 41 8A 02 00 01 78 82 0A 00 01 4D 8A 11 00 91 81", SNMP_RC_SUCCESS},
   };
   std::string path = TempDir() + "/f";
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      WriteFileBytes(path, File(c.version, c.flags, c.body));
      Tree t;
      EXPECT_EQ(Load(path, &t), c.rc);
      if (c.rc == SNMP_RC_SUCCESS)
         EXPECT_STREQ(t->Module(), "M");  // the last one read wins
   }
}

// Every strict prefix of a version-2 body fails cleanly.
TEST(MIBFileOptionalFields, EveryCutIsBadData)
{
   std::vector<uint8_t> whole = File(2, 0x06, kSmallTreeBody);
   std::string path = TempDir() + "/cut";
   for (size_t n = 17; n < whole.size(); n++)
   {
      SCOPED_TRACE(n);
      WriteFileBytes(path, std::vector<uint8_t>(whole.begin(), whole.begin() + n));
      Tree t;
      ASSERT_EQ(Load(path, &t), (uint32_t)SNMP_RC_BAD_FILE_DATA);
   }
   WriteFileBytes(path, whole);
   Tree t;
   EXPECT_EQ(Load(path, &t), 0u);
}
}  // namespace
