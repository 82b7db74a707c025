// Loaded MIB trees: their nodes, texts and optional fields live in blocks the
// tree shares, and named numbers are written once as shared sets. A loaded
// tree must still behave like one built with new: its texts replaced, heap
// nodes added to it, it attached under another tree, deleted through its root.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>
#ifdef __linux__
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "mib/zfile.h"
#include "mib_tree_util.h"
#include "test_util.h"
#include "zbsnmp.h"

namespace
{
using Tree = std::unique_ptr<SNMP_MIBObject>;

uint32_t Load(const std::string &path, Tree *out)
{
   return LoadMibTree(path, out);
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

TEST(MIBFileSyntaxes, WrittenOnceAndReferenced)
{
   Tree tree(EnumTree());
   std::string path = TempDir() + "/sets";
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), MIB_SAVE_NO_DESCRIPTIONS), 0u);
   std::string body = ToHex(ReadFileBytes(path));
   // x defines syntax 0, y refers to it, z defines syntax 1.
   const std::string syntax0 = ToHex(Hex("12 0B 00 0D 44 69 73 70 6C 61 79 53 74 72 69 6E 67 8B "
                                         "16 00 02 01 02 75 70 02 04 64 6F 77 6E 96 92"));
   const std::string ref0 = ToHex(Hex("13 00 00 00 00 93"));
   const std::string syntax1 = ToHex(Hex("12 16 00 01 01 02 75 70 96 92"));
   size_t a = body.find(syntax0), b = body.find(ref0), c = body.find(syntax1);
   ASSERT_NE(a, std::string::npos);
   ASSERT_NE(b, std::string::npos);
   ASSERT_NE(c, std::string::npos);
   EXPECT_LT(a, b);
   EXPECT_LT(b, c);
   EXPECT_EQ(body.find(syntax0, a + 1), std::string::npos);

   Tree back;
   ASSERT_EQ(Load(path, &back), 0u);
   SNMP_MIBObject *x = back->FirstChild()->FirstChild(), *y = x->Next(), *z = y->Next();
   for (SNMP_MIBObject *n : {x, y})
   {
      ASSERT_EQ(n->EnumCount(), 2u);
      EXPECT_STREQ(n->FindEnumLabel(2), "down");
      EXPECT_STREQ(n->TextualConvention(), "DisplayString");
      EXPECT_STREQ(n->Module(), "M");
   }
   EXPECT_EQ(x->EnumLabel(0), y->EnumLabel(0));   // one copy for both
   ASSERT_EQ(z->EnumCount(), 1u);
   EXPECT_STREQ(z->EnumLabel(0), "up");
   EXPECT_EQ(z->TextualConvention(), nullptr);
   EXPECT_EQ(z->Next()->IndexCount(), 2u);
   EXPECT_EQ(z->Next()->EnumCount(), 0u);
}

std::vector<uint8_t> V2File(const std::string &bodyHex)
{
   return MibFileBytes(2, MIB_SAVE_NO_DESCRIPTIONS | MIB_FILE_OPTIONAL_FIELDS, Hex(bodyHex));
}

// Syntaxes as the reader takes them: numbered in the order defined, a
// reference only to one defined before. A syntax gives the node the texts
// and fixed length it has (replacing the node's) and appends its named
// numbers to those the node has, in the order read.
TEST(MIBFileSyntaxes, ReaderRules)
{
   struct Case
   {
      const char *what;
      const char *body;
      const char *fields;   // the second child's "TC: value label ...", NULL: bad data
   };
   // The first child defines syntax 0: T, a(7).
   const char *first = "01 07 01 87 12 0B 00 01 54 8B 0F 00 00 00 07 00 01 61 8F 92 81 ";
   const Case cases[] = {
      {"a reference to syntax 0", "13 00 00 00 00 93", "T: 7a"},
      {"a reference to a syntax not defined", "13 00 00 00 01 93", nullptr},
      {"a reference cut short", "13 00 00 00", nullptr},
      {"wrong closing tag", "13 00 00 00 00 92", nullptr},
      {"an empty syntax", "12 92", "-:"},
      {"a single number, then the syntax", "0F 00 00 00 01 00 01 62 8F 13 00 00 00 00 93", "T: 1b 7a"},
      {"the syntax, then a single number", "13 00 00 00 00 93 0F FF FF FF FF 00 00 8F", "T: 7a -1"},
      {"the syntax twice", "13 00 00 00 00 93 13 00 00 00 00 93", "T: 7a 7a"},
      {"a syntax of its own, then syntax 0", "12 0F 00 00 00 02 00 00 8F 92 13 00 00 00 00 93", "T: 2 7a"},
      {"its own convention, then syntax 0", "0B 00 01 58 8B 13 00 00 00 00 93", "T: 7a"},
      {"syntax 0, then its own convention", "13 00 00 00 00 93 0B 00 01 58 8B", "X: 7a"},
      {"a syntax without a convention keeps the node's", "0B 00 01 58 8B 12 0F 00 00 00 02 00 00 8F 92", "X: 2"},
      {"a field a syntax cannot hold", "12 10 00 01 69 90 92", nullptr},
      {"a syntax inside a syntax", "12 12 92 92", nullptr},
      {"a syntax left open", "12 0F 00 00 00 02 00 00 8F", nullptr},
      {"a list of named numbers", "16 00 03 05 01 63 8F FF FF FF 7F 00 81 00 01 64 96", "-: 5c -1 128d"},
      {"a list, then syntax 0", "16 00 01 02 00 96 13 00 00 00 00 93", "T: 2 7a"},
      {"a list in a syntax", "12 16 00 01 09 01 65 96 92", "-: 9e"},
      {"a list whose count passes its numbers", "16 00 02 05 01 63 96", nullptr},
      {"a list with a value of six groups", "16 00 01 80 80 80 80 80 01 00 96", nullptr},
      {"a list with a label past the end", "16 00 01 05 09 63 96", nullptr},
      {"a head field", "14 82 00 FF FF FF 00 00 01 62 94", "-:"},
      {"a head field with an OID of 2^32 - 1", "14 8F FF FF FF 7F FF FF FF 00 00 00 94", "-:"},
      {"a head field with an OID of 2^32", "14 90 80 80 80 00 FF FF FF 00 00 00 94", nullptr},
      {"a head field with six OID groups", "14 80 80 80 80 80 01 FF FF FF 00 00 00 94", nullptr},
   };
   std::string path = TempDir() + "/r";
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      std::string body = std::string("01 ") + first + "01 07 02 87 " + c.body + " 81 81";
      WriteFileBytes(path, V2File(body));
      Tree t;
      uint32_t rc = Load(path, &t);
      if (c.fields == nullptr)
      {
         EXPECT_EQ(rc, (uint32_t)SNMP_RC_BAD_FILE_DATA);
         continue;
      }
      ASSERT_EQ(rc, 0u);
      SNMP_MIBObject *n = t->LastChild();
      std::string got = n->TextualConvention() != nullptr ? n->TextualConvention() : "-";
      got += ":";
      for (uint32_t i = 0; i < n->EnumCount(); i++)
         got += " " + std::to_string(n->EnumValue(i)) + n->EnumLabel(i);
      EXPECT_EQ(got, c.fields);
      EXPECT_STREQ(t->FirstChild()->EnumLabel(0), "a");
      EXPECT_STREQ(t->FirstChild()->TextualConvention(), "T");
   }
   // The head field: OID in base 128, then status, access, type and name.
   WriteFileBytes(path, V2File("01 14 82 00 05 04 06 00 00 01 62 94 81"));
   Tree t;
   ASSERT_EQ(Load(path, &t), 0u);
   EXPECT_EQ(t->OID(), 256u);
   EXPECT_STREQ(t->Name(), "b");
   EXPECT_EQ(t->Status(), 5);
   EXPECT_EQ(t->Access(), 4);
   EXPECT_EQ(t->Type(), 6);
}

// A head's name is written as the count of its first bytes that it shares
// with the name of the head before it in the file, and the rest.
TEST(MIBFileHeads, NamesShareTheirStartWithTheHeadBefore)
{
   // As written: each node's head after the last one's.
   Tree tree(new SNMP_MIBObject(0, "ifTable"));
   SNMP_MIBObject *entry = new SNMP_MIBObject(1, "ifEntry");
   tree->AddChild(entry);
   entry->SetModule("IF-MIB");   // version 2
   entry->AddChild(new SNMP_MIBObject(1, "ifIndex"));
   entry->AddChild(new SNMP_MIBObject(2, "ifInOctets"));
   entry->AddChild(new SNMP_MIBObject(3, "ifInOctets"));
   entry->AddChild(new SNMP_MIBObject(4, nullptr));
   entry->AddChild(new SNMP_MIBObject(5, "if"));
   std::string path = TempDir() + "/heads";
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), MIB_SAVE_NO_DESCRIPTIONS), 0u);
   std::string body = ToHex(ReadFileBytes(path));
   const char *heads[] = {
      "14 00 FF FF FF 00 00 07 69 66 54 61 62 6C 65 94",   // ifTable: nothing before it
      "14 01 FF FF FF 02 00 05 45 6E 74 72 79 94",         // if + Entry
      "14 01 FF FF FF 02 00 05 49 6E 64 65 78 94",         // if + Index
      "14 02 FF FF FF 04 00 06 4F 63 74 65 74 73 94",      // ifIn + Octets
      "14 03 FF FF FF 0A 00 00 94",                        // all ten bytes
      "14 04 FF FF FF 00 00 00 94",                        // no name
      "14 05 FF FF FF 00 00 02 69 66 94",                  // after no name: nothing shared
   };
   size_t at = 0;
   for (const char *h : heads)
   {
      SCOPED_TRACE(h);
      size_t found = body.find(ToHex(Hex(h)), at);
      ASSERT_NE(found, std::string::npos);
      at = found;
   }
   Tree back;
   ASSERT_EQ(Load(path, &back), 0u);
   SNMP_MIBObject *c = back->FirstChild()->FirstChild();
   const char *names[] = {"ifIndex", "ifInOctets", "ifInOctets", nullptr, "if"};
   for (const char *name : names)
   {
      ASSERT_NE(c, nullptr);
      EXPECT_STREQ(c->Name(), name);
      c = c->Next();
   }

   // As read: the last head counts, whatever node it named; a version-1 name
   // field does not count; a count past the last head's name is bad data.
   struct Case
   {
      const char *what, *children, *name;   // the last child's name; NULL: bad data
   };
   const Case cases[] = {
      {"from the root's head", "01 14 01 FF FF FF 02 00 01 78 94 81", "abx"},
      {"from the sibling before", "01 14 01 FF FF FF 02 00 01 78 94 81 01 14 02 FF FF FF 03 00 00 94 81", "abx"},
      {"a name field between", "01 14 01 FF FF FF 01 00 01 78 94 81 01 02 00 01 7A 82 81 "
                               "01 14 03 FF FF FF 02 00 01 71 94 81", "axq"},
      {"a head read twice", "01 14 01 FF FF FF 01 00 01 78 94 14 01 FF FF FF 02 00 01 79 94 81", "axy"},
      {"a count past the last name", "01 14 01 FF FF FF 04 00 00 94 81", nullptr},
      {"a count past a shorter last name", "01 14 01 FF FF FF 00 00 01 78 94 81 01 14 02 FF FF FF 02 00 00 94 81",
       nullptr},
   };
   for (const Case &k : cases)
   {
      SCOPED_TRACE(k.what);
      WriteFileBytes(path, V2File(std::string("01 14 00 FF FF FF 00 00 03 61 62 63 94 ") + k.children + " 81"));
      Tree t;
      uint32_t rc = Load(path, &t);
      if (k.name == nullptr)
      {
         EXPECT_EQ(rc, (uint32_t)SNMP_RC_BAD_FILE_DATA);
         continue;
      }
      ASSERT_EQ(rc, 0u);
      EXPECT_STREQ(t->Name(), "abc");
      EXPECT_STREQ(t->LastChild()->Name(), k.name);
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
// own fields, a syntax it defines included, are heap copies of its own; its
// children come from the file and share with each other what they may.
TEST(MIBLoadedTree, ReadFromFileIntoACallersNode)
{
   // After the 01: head "m", module M, syntax 0 (T, up(1)); children x
   // (syntax 0) and y (a module of its own); the 81.
   const char *record =
      "14 01 00 00 00 00 00 01 6D 94 0A 00 01 4D 8A "
      "12 0B 00 01 54 8B 0F 00 00 00 01 00 02 75 70 8F 92 "
      "01 14 01 FF FF FF 00 00 01 78 94 13 00 00 00 00 93 81 "
      "01 14 02 FF FF FF 00 00 01 79 94 0A 00 01 4E 8A 81 "
      "81";
   std::string body = TempDir() + "/body";
   WriteFileBytes(body, Hex(record));
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
      EXPECT_STREQ(node.TextualConvention(), "T");
      ASSERT_EQ(node.EnumCount(), 1u);
      SNMP_MIBObject *x = node.FirstChild(), *y = x->Next();
      EXPECT_STREQ(x->Module(), "M");   // inherited from the caller's node
      EXPECT_STREQ(x->TextualConvention(), "T");
      EXPECT_STREQ(x->EnumLabel(0), "up");
      EXPECT_STREQ(y->Module(), "N");
      node.SetModule("CHANGED");
      node.AddEnum(2, "down");
      EXPECT_STREQ(x->Module(), "M");
      EXPECT_EQ(x->EnumCount(), 1u);
   }
   z.Close();
}

#ifdef __linux__
// A tree large enough to be loaded into mapped blocks (Linux), saved.
void SaveLargeTree(const std::string &path)
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
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), MIB_SAVE_COMPRESS), 0u);
}

// A large tree's blocks (mapped apart from the heap) all go back when the
// tree is deleted: loading it again and again does not grow the process.
TEST(MIBLoadedTree, RepeatedLoadsGiveTheirBlocksBack)
{
   std::string path = TempDir() + "/big";
   SaveLargeTree(path);
   Tree warm;
   ASSERT_EQ(Load(path, &warm), 0u);
   warm.reset();
   size_t before = AddressSpaceBytes();
   for (int i = 0; i < 20; i++)
   {
      Tree t;
      ASSERT_EQ(Load(path, &t), 0u);
   }
   // Each load takes several MiB: twenty of them kept would show.
   EXPECT_LT(AddressSpaceBytes(), before + (8u << 20));
}

// A large tree still held when the process ends is no leak to a leak checker
// (LeakSanitizer in the sanitizer build, valgrind in the valgrind stage: both
// end the process with an error for a leak): it sees into the mapped blocks,
// and through them the arena and the heap texts of loaded nodes. Nodes made
// with new, in a loaded tree or a tree of their own, are each pointed to at
// the start of their block, so they are still reachable, not possibly lost.
TEST(MIBLoadedTree, HeldAtExitIsNoLeak)
{
   std::string path = TempDir() + "/held";
   SaveLargeTree(path);
   fflush(nullptr);
   pid_t pid = fork();
   if (pid == 0)
   {
      static SNMP_MIBObject *held = nullptr;
      if (SNMPLoadMIBTree(path.c_str(), &held) != SNMP_RC_SUCCESS)
         _exit(1);
      held->FirstChild()->SetName("a name on the heap");
      held->FirstChild()->SetUnits("seconds");
      held->FirstChild()->AddChild(new SNMP_MIBObject(7, "madeWithNew"));
      static SNMP_MIBObject *built = new SNMP_MIBObject(1, "root");
      built->AddChild(new SNMP_MIBObject(2, "child"));
      exit(0);
   }
   int status = 0;
   ASSERT_EQ(waitpid(pid, &status, 0), pid);
   ASSERT_TRUE(WIFEXITED(status));
   EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif
}  // namespace
