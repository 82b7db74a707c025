// Loaded MIB trees: their nodes, texts and optional fields live in blocks the
// tree shares, and named numbers are written once as shared sets. A loaded
// tree must still behave like one built with new: its texts replaced, heap
// nodes added to it, it attached under another tree, deleted through its root.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "mib/zfile.h"
#include "test_util.h"
#include "zbsnmp.h"

namespace
{
using Tree = std::unique_ptr<SNMP_MIBObject>;

uint32_t Load(const std::string &path, Tree *out)
{
   SNMP_MIBObject *root = nullptr;
   uint32_t rc = SNMPLoadMIBTree(path.c_str(), &root);
   if (rc == SNMP_RC_SUCCESS)
      out->reset(root);
   return rc;
}

// root
//   m(1) module M, description
//     x(1) DisplayString, up(1) down(2)
//     y(2) the same named numbers as x
//     z(3) other named numbers
//     row(4) INDEX { x, IMPLIED y }
SNMP_MIBObject *EnumTree()
{
   SNMP_MIBObject *root = new SNMP_MIBObject();
   SNMP_MIBObject *m = new SNMP_MIBObject(1, "m", 0, 0, 0, "the module's node");
   m->SetModule("M");
   root->AddChild(m);
   const char *names[] = {"x", "y", "z", "row"};
   for (uint32_t i = 0; i < 4; i++)
   {
      SNMP_MIBObject *n = new SNMP_MIBObject(i + 1, names[i]);
      n->SetModule("M");
      if (i < 2)
      {
         n->SetTextualConvention("DisplayString");
         n->AddEnum(1, "up");
         n->AddEnum(2, "down");
      }
      else if (i == 2)
      {
         n->AddEnum(1, "up");
      }
      else
      {
         n->AddIndex("x");
         n->AddIndex("y");
         n->SetIndexImplied(true);
      }
      m->AddChild(n);
   }
   return root;
}

TEST(MIBFileEnumSets, WrittenOnceAndReferenced)
{
   Tree tree(EnumTree());
   std::string path = TempDir() + "/sets";
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), MIB_SAVE_NO_DESCRIPTIONS), 0u);
   std::string body = ToHex(ReadFileBytes(path));
   // x defines set 0, y refers to it, z defines set 1.
   const std::string set0 = ToHex(Hex("12 00 02 00 00 00 01 00 02 75 70 00 00 00 02 00 04 64 6F 77 6E 92"));
   const std::string ref0 = ToHex(Hex("13 00 00 00 00 93"));
   const std::string set1 = ToHex(Hex("12 00 01 00 00 00 01 00 02 75 70 92"));
   size_t a = body.find(set0), b = body.find(ref0), c = body.find(set1);
   ASSERT_NE(a, std::string::npos);
   ASSERT_NE(b, std::string::npos);
   ASSERT_NE(c, std::string::npos);
   EXPECT_LT(a, b);
   EXPECT_LT(b, c);
   EXPECT_EQ(body.find(set0, a + 1), std::string::npos);

   Tree back;
   ASSERT_EQ(Load(path, &back), 0u);
   SNMP_MIBObject *x = back->FirstChild()->FirstChild(), *y = x->Next(), *z = y->Next();
   for (SNMP_MIBObject *n : {x, y})
   {
      ASSERT_EQ(n->EnumCount(), 2u);
      EXPECT_STREQ(n->FindEnumLabel(2), "down");
   }
   EXPECT_EQ(x->EnumLabel(0), y->EnumLabel(0));   // one copy for both
   ASSERT_EQ(z->EnumCount(), 1u);
   EXPECT_STREQ(z->EnumLabel(0), "up");
   EXPECT_EQ(z->Next()->IndexCount(), 2u);
}

std::vector<uint8_t> V2File(const std::string &bodyHex)
{
   std::vector<uint8_t> f = {'Z', 'B', 'M', 'I', 'B', ' ', 16, 2, 0, 0x06, 0, 0, 0, 0, 0, 1};
   std::vector<uint8_t> body = Hex(bodyHex);
   f.insert(f.end(), body.begin(), body.end());
   return f;
}

// Shared sets as the reader takes them: numbered in the order defined, a
// reference only to one defined before; single named numbers and sets append
// to what the node has, in the order read.
TEST(MIBFileEnumSets, ReaderRules)
{
   struct Case
   {
      const char *what;
      const char *body;
      const char *labels;   // the second child's named numbers, "value label " each; NULL: bad data
   };
   const char *first = "01 07 01 87 12 00 01 00 00 00 07 00 01 61 92 81 ";   // set 0: a(7)
   const Case cases[] = {
      {"a reference to set 0", "13 00 00 00 00 93", "7a "},
      {"a reference to a set not defined", "13 00 00 00 01 93", nullptr},
      {"a reference cut short", "13 00 00 00", nullptr},
      {"wrong closing tag", "13 00 00 00 00 92", nullptr},
      {"an empty set", "12 00 00 92", ""},
      {"a single number, then the set", "0F 00 00 00 01 00 01 62 8F 13 00 00 00 00 93", "1b 7a "},
      {"the set, then a single number", "13 00 00 00 00 93 0F FF FF FF FF 00 00 8F", "7a -1 "},
      {"the set twice", "13 00 00 00 00 93 13 00 00 00 00 93", "7a 7a "},
      {"a set of its own, then set 0", "12 00 01 00 00 00 02 00 00 92 13 00 00 00 00 93", "2 7a "},
      {"a set whose count passes its numbers", "12 00 02 00 00 00 02 00 01 63 92", nullptr},
   };
   std::string path = TempDir() + "/r";
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      std::string body = std::string("01 ") + first + "01 07 02 87 " + c.body + " 81 81";
      WriteFileBytes(path, V2File(body));
      Tree t;
      uint32_t rc = Load(path, &t);
      if (c.labels == nullptr)
      {
         EXPECT_EQ(rc, (uint32_t)SNMP_RC_BAD_FILE_DATA);
         continue;
      }
      ASSERT_EQ(rc, 0u);
      std::string got;
      SNMP_MIBObject *n = t->LastChild();
      for (uint32_t i = 0; i < n->EnumCount(); i++)
         got += std::to_string(n->EnumValue(i)) + n->EnumLabel(i) + " ";
      EXPECT_EQ(got, c.labels);
      EXPECT_STREQ(t->FirstChild()->EnumLabel(0), "a");
   }
}

// Every text and field of a loaded node can be replaced, also with its own
// current text, without touching the nodes that share its blocks; heap nodes
// join a loaded tree; the changed tree saves and loads again.
TEST(MIBLoadedTree, ChangesLikeABuiltTree)
{
   Tree tree(EnumTree());
   std::string dir = TempDir();
   for (uint32_t flags : {0u, (uint32_t)MIB_SAVE_COMPRESS})
   {
      SCOPED_TRACE(flags);
      std::string path = dir + "/t" + std::to_string(flags);
      ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), flags), 0u);
      Tree back;
      ASSERT_EQ(Load(path, &back), 0u);
      SNMP_MIBObject *m = back->FirstChild(), *x = m->FirstChild(), *y = x->Next(), *z = y->Next();
      SNMP_MIBObject *row = z->Next();

      x->SetName(x->Name());
      EXPECT_STREQ(x->Name(), "x");
      y->SetName("y2");
      z->SetName(nullptr);
      EXPECT_EQ(z->Name(), nullptr);
      m->SetInfo(1, 2, 3, m->Description());
      EXPECT_STREQ(m->Description(), "the module's node");
      m->SetInfo(1, 2, 3, nullptr);

      x->SetTextualConvention(x->TextualConvention());
      EXPECT_STREQ(x->TextualConvention(), "DisplayString");
      EXPECT_STREQ(y->TextualConvention(), "DisplayString");
      x->SetUnits("seconds");
      EXPECT_EQ(y->Units(), nullptr);
      // x and y share their named numbers: x grows alone.
      EXPECT_EQ(x->AddEnum(3, "testing"), 1);
      EXPECT_EQ(x->EnumCount(), 3u);
      EXPECT_EQ(y->EnumCount(), 2u);
      EXPECT_STREQ(y->FindEnumLabel(2), "down");
      // The children of m share one record holding the module: each stays its own.
      z->SetModule(nullptr);
      EXPECT_EQ(z->Module(), nullptr);
      EXPECT_STREQ(row->Module(), "M");
      m->SetModule("N");
      EXPECT_STREQ(row->Module(), "M");
      EXPECT_EQ(row->AddIndex("z"), 1);
      row->SetIndexImplied(false);
      EXPECT_FALSE(row->IsIndexImplied());
      EXPECT_STREQ(row->IndexName(1), "y");

      SNMP_MIBObject *added = new SNMP_MIBObject(9, "added", 1, 1, 1, "a heap node");
      added->AddEnum(1, "one");
      row->AddChild(added);
      added->AddChild(new SNMP_MIBObject(1, "leaf"));

      ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), back.get(), flags), 0u);
      Tree again;
      ASSERT_EQ(Load(path, &again), 0u);
      SNMP_MIBObject *m2 = again->FirstChild(), *x2 = m2->FirstChild();
      EXPECT_STREQ(m2->Module(), "N");
      EXPECT_EQ(m2->Description(), nullptr);
      EXPECT_EQ(x2->EnumCount(), 3u);
      EXPECT_STREQ(x2->Units(), "seconds");
      EXPECT_STREQ(x2->Next()->Name(), "y2");
      EXPECT_EQ(x2->Next()->EnumCount(), 2u);
      SNMP_MIBObject *row2 = m2->LastChild();
      EXPECT_EQ(row2->IndexCount(), 3u);
      ASSERT_NE(row2->FirstChild(), nullptr);
      EXPECT_STREQ(row2->FirstChild()->FirstChild()->Name(), "leaf");
      EXPECT_STREQ(row2->FirstChild()->Description(), "a heap node");
   }
}

// A loaded tree attached under a tree of heap nodes, or under another loaded
// tree, is deleted with it (the sanitizer build checks that every block goes
// exactly once).
TEST(MIBLoadedTree, AttachedUnderAnotherTree)
{
   Tree tree(EnumTree());
   std::string path = TempDir() + "/a";
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), MIB_SAVE_COMPRESS), 0u);
   SNMP_MIBObject *first = nullptr, *second = nullptr;
   ASSERT_EQ(SNMPLoadMIBTree(path.c_str(), &first), 0u);
   ASSERT_EQ(SNMPLoadMIBTree(path.c_str(), &second), 0u);
   first->LastChild()->AddChild(second);   // a loaded tree inside a loaded tree
   Tree heap(new SNMP_MIBObject(0, "top"));
   heap->AddChild(new SNMP_MIBObject(5, "before"));
   heap->AddChild(first);
   heap->AddChild(new SNMP_MIBObject(6, "after"));
   EXPECT_STREQ(heap->FirstChild()->Next()->LastChild()->LastChild()->FirstChild()->Name(), "m");
   heap.reset();
}

// ReadFromFile into a node the caller holds (here on the stack): that node's
// own fields are its own heap copies; its children come from the file.
TEST(MIBLoadedTree, ReadFromFileIntoACallersNode)
{
   Tree tree(EnumTree());
   std::string path = TempDir() + "/r";
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), 0), 0u);
   std::vector<uint8_t> file = ReadFileBytes(path);
   // m's record without its 01, up to the root's closing 81.
   std::vector<uint8_t> start = Hex("01 02 00 01 6D 82");
   auto m = std::search(file.begin(), file.end(), start.begin(), start.end());
   ASSERT_NE(m, file.end());
   std::string body = TempDir() + "/body";
   WriteFileBytes(body, std::vector<uint8_t>(m + 1, file.end() - 1));
   FILE *f = fopen(body.c_str(), "rb");
   ASSERT_NE(f, nullptr);
   ZFile z(f, 0, 0);
   z.SetExtended(true);
   {
      SNMP_MIBObject node(7, "old name");
      node.SetModule("OLD");
      ASSERT_EQ(node.ReadFromFile(&z), 1);
      EXPECT_STREQ(node.Name(), "m");
      EXPECT_STREQ(node.Module(), "M");
      EXPECT_STREQ(node.Description(), "the module's node");
      ASSERT_NE(node.FirstChild(), nullptr);
      EXPECT_STREQ(node.FirstChild()->Module(), "M");   // inherited from the caller's node
      node.SetModule("CHANGED");
      EXPECT_STREQ(node.FirstChild()->Module(), "M");
      EXPECT_EQ(node.FirstChild()->Next()->EnumCount(), 2u);
   }
   z.Close();
}

#ifdef __linux__
// Current size of this process's address space, in bytes.
size_t AddressSpace()
{
   unsigned long pages = 0;
   FILE *f = fopen("/proc/self/statm", "r");
   if (f != nullptr)
   {
      if (fscanf(f, "%lu", &pages) != 1)
         pages = 0;
      fclose(f);
   }
   return pages * 4096;
}

// A large tree's blocks (mapped apart from the heap) all go back when the
// tree is deleted: loading it again and again does not grow the process.
TEST(MIBLoadedTree, RepeatedLoadsGiveTheirBlocksBack)
{
   Tree tree(new SNMP_MIBObject());
   SNMP_MIBObject *parent = tree.get();
   for (uint32_t i = 0; i < 60000; i++)
   {
      SNMP_MIBObject *n = new SNMP_MIBObject(i, ("node" + std::to_string(i)).c_str());
      n->SetModule(i % 100 ? "SOME-MIB" : "OTHER-MIB");
      n->AddEnum((int32_t)(i % 7), "label");
      parent->AddChild(n);
      if (i % 200 == 0)
         parent = n;   // 300 levels
   }
   std::string path = TempDir() + "/big";
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), MIB_SAVE_COMPRESS), 0u);
   Tree warm;
   ASSERT_EQ(Load(path, &warm), 0u);
   warm.reset();
   size_t before = AddressSpace();
   for (int i = 0; i < 20; i++)
   {
      Tree t;
      ASSERT_EQ(Load(path, &t), 0u);
   }
   // Each load takes several MiB: twenty of them kept would show.
   EXPECT_LT(AddressSpace(), before + (8u << 20));
}
#endif
}  // namespace
