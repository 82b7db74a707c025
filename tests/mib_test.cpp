// MIB tree nodes and the MIB tree file.
#include <gtest/gtest.h>
#include <string.h>
#include <zlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "test_util.h"
#include "zbsnmp.h"

using Tree = std::unique_ptr<SNMP_MIBObject>;

TEST(MIBObject, DefaultsAndLinks)
{
   SNMP_MIBObject root;
   EXPECT_EQ(root.OID(), 0u);
   EXPECT_EQ(root.Name(), nullptr);
   EXPECT_EQ(root.Description(), nullptr);
   EXPECT_EQ(root.Type(), -1);
   EXPECT_EQ(root.Status(), -1);
   EXPECT_EQ(root.Access(), -1);
   EXPECT_EQ(root.Parent(), nullptr);
   EXPECT_EQ(root.FirstChild(), nullptr);
   EXPECT_EQ(root.FindChildByID(1), nullptr);

   SNMP_MIBObject *x = new SNMP_MIBObject(1, "x"), *y = new SNMP_MIBObject(2, nullptr),
                  *z = new SNMP_MIBObject(1, "z", 1, 2, 3, "desc");
   root.AddChild(x);
   root.AddChild(y);
   root.AddChild(z);
   EXPECT_EQ(root.FirstChild(), x);
   EXPECT_EQ(root.LastChild(), z);
   EXPECT_EQ(x->Next(), y);
   EXPECT_EQ(y->Next(), z);
   EXPECT_EQ(z->Next(), nullptr);
   EXPECT_EQ(z->Prev(), y);
   EXPECT_EQ(y->Prev(), x);
   EXPECT_EQ(x->Prev(), nullptr);
   for (SNMP_MIBObject *c : {x, y, z})
      EXPECT_EQ(c->Parent(), &root);
   EXPECT_EQ(y->Name(), nullptr);
   EXPECT_EQ(y->Type(), -1);
   EXPECT_EQ(root.FindChildByID(1), x);  // the first of two with the same OID
   EXPECT_EQ(root.FindChildByID(2), y);
   EXPECT_STREQ(z->Description(), "desc");
   EXPECT_EQ(z->Access(), 3);
}

TEST(MIBObject, SetNameAndInfoWithOwnText)
{
   SNMP_MIBObject node(5, "name", 1, 1, 1, "description");
   node.SetName(node.Name());
   EXPECT_STREQ(node.Name(), "name");
   node.SetInfo(4, 5, 6, node.Description());
   EXPECT_STREQ(node.Description(), "description");
   EXPECT_EQ(node.Type(), 4);
   node.SetName(nullptr);
   node.SetInfo(1, 2, 3, nullptr);
   EXPECT_EQ(node.Name(), nullptr);
   EXPECT_EQ(node.Description(), nullptr);
}

static std::string PrintOf(SNMP_MIBObject *node, int indent)
{
   testing::internal::CaptureStdout();
   node->Print(indent);
   return testing::internal::GetCapturedStdout();
}

TEST(MIBObject, Print)
{
   SNMP_MIBObject root;
   SNMP_MIBObject *iso = new SNMP_MIBObject(1, "iso");
   iso->AddChild(new SNMP_MIBObject(3, "org"));
   root.AddChild(iso);
   root.AddChild(new SNMP_MIBObject(2, "joint"));
   EXPECT_EQ(PrintOf(&root, 0), "[root]\n  iso(1)\n    org(3)\n  joint(2)\n");
   SNMP_MIBObject a(5, nullptr), b(0, nullptr), c(0, "x"), d(4294967295u, "x");
   EXPECT_EQ(PrintOf(&a, 0), "(null)(5)\n");
   EXPECT_EQ(PrintOf(&b, 2), "  (null)(0)\n");
   EXPECT_EQ(PrintOf(&c, 0), "x(0)\n");
   EXPECT_EQ(PrintOf(&d, 0), "x(4294967295)\n");
}

TEST(MIBObject, DeepTreeIsDestroyedWithoutRecursion)
{
   SNMP_MIBObject *root = new SNMP_MIBObject();
   SNMP_MIBObject *node = root;
   for (int i = 0; i < 200000; i++)
   {
      SNMP_MIBObject *child = new SNMP_MIBObject((uint32_t)i, "n");
      node->AddChild(child);
      node->AddChild(new SNMP_MIBObject(7, "leaf"));
      node = child;
   }
   delete root;
}

// ---- Files ----

static std::string Body(const std::vector<uint8_t> &file)
{
   return ToHex(file.data() + 16, file.size() - 16);
}

TEST(MIBFile, DefaultRootBytes)
{
   std::string dir = TempDir();
   SNMP_MIBObject root;
   ASSERT_EQ(SNMPSaveMIBTree((dir + "/a").c_str(), &root, 0), (uint32_t)SNMP_RC_SUCCESS);
   std::vector<uint8_t> f = ReadFileBytes(dir + "/a");
   ASSERT_EQ(f.size(), 38u);
   EXPECT_EQ(ToHex(f.data(), 12), "5A 42 4D 49 42 20 10 01 00 00 00 00");
   EXPECT_EQ(Body(f), "01 02 00 00 82 07 00 87 05 FF 85 04 FF 84 06 FF 86 03 00 00 83 81");
   uint32_t ts = 0;
   ASSERT_EQ(SNMPGetMIBTreeTimestamp((dir + "/a").c_str(), &ts), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_LE(ts, (uint32_t)time(nullptr));
   EXPECT_GE(ts + 60, (uint32_t)time(nullptr));

   ASSERT_EQ(SNMPSaveMIBTree((dir + "/b").c_str(), &root, MIB_SAVE_NO_DESCRIPTIONS), 0u);
   f = ReadFileBytes(dir + "/b");
   ASSERT_EQ(f.size(), 34u);
   EXPECT_EQ(ToHex(f.data() + 8, 2), "00 02");
   EXPECT_EQ(Body(f), "01 02 00 00 82 07 00 87 05 FF 85 04 FF 84 06 FF 86 81");

   SNMP_MIBObject *loaded = nullptr;
   ASSERT_EQ(SNMPLoadMIBTree((dir + "/a").c_str(), &loaded), (uint32_t)SNMP_RC_SUCCESS);
   Tree t(loaded);
   EXPECT_EQ(t->OID(), 0u);
   EXPECT_EQ(t->Name(), nullptr);
   EXPECT_EQ(t->Description(), nullptr);
   EXPECT_EQ(t->Type(), 255);
   EXPECT_EQ(t->FirstChild(), nullptr);
}

TEST(MIBFile, FieldForms)
{
   struct Case
   {
      uint32_t oid;
      const char *name;
      const char *fragment;
   };
   const Case cases[] = {{255, nullptr, "07 FF 87"},       {256, nullptr, "08 01 00 88"},
                         {65535, nullptr, "08 FF FF 88"},  {65536, nullptr, "09 00 01 00 00 89"},
                         {1, "x", "02 00 01 78 82"}};
   std::string dir = TempDir();
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.fragment);
      SNMP_MIBObject node(c.oid, c.name);
      ASSERT_EQ(SNMPSaveMIBTree((dir + "/f").c_str(), &node, MIB_SAVE_NO_DESCRIPTIONS), 0u);
      EXPECT_NE(Body(ReadFileBytes(dir + "/f")).find(c.fragment), std::string::npos);
   }
}

// A tree of n nodes with depth up to maxDepth, realistic names and descriptions.
static SNMP_MIBObject *BuildTree(int n, int maxDepth, unsigned seed)
{
   std::mt19937 rng(seed);
   SNMP_MIBObject *root = new SNMP_MIBObject();
   std::vector<std::pair<SNMP_MIBObject *, int>> nodes = {{root, 0}};
   for (int i = 1; i < n; i++)
   {
      auto parent = nodes[rng() % nodes.size()];
      if (parent.second >= maxDepth)
         parent = nodes[0];
      uint32_t oid = (rng() % 4 == 0) ? rng() : rng() % 300;
      std::string name = "object" + std::to_string(i) + "Entry";
      std::string desc = (rng() % 3 == 0) ? "" : std::string(rng() % 400, 'a' + (char)(i % 26));
      SNMP_MIBObject *node = new SNMP_MIBObject(oid, name.c_str(), (int)(rng() % 256),
                                                (int)(rng() % 256), (int)(rng() % 256),
                                                desc.empty() ? nullptr : desc.c_str());
      parent.first->AddChild(node);
      nodes.push_back({node, parent.second + 1});
   }
   return root;
}

static void ExpectSameTree(SNMP_MIBObject *a, SNMP_MIBObject *b, bool descriptions)
{
   std::vector<std::pair<SNMP_MIBObject *, SNMP_MIBObject *>> stack = {{a, b}};
   size_t count = 0;
   while (!stack.empty())
   {
      auto [x, y] = stack.back();
      stack.pop_back();
      count++;
      ASSERT_EQ(x->OID(), y->OID());
      ASSERT_STREQ(x->Name(), y->Name());
      if (descriptions)
      {
         ASSERT_STREQ(x->Description(), y->Description());
      }
      else
      {
         ASSERT_EQ(y->Description(), nullptr);
      }
      ASSERT_EQ(x->Type() & 0xFF, y->Type());
      ASSERT_EQ(x->Status() & 0xFF, y->Status());
      ASSERT_EQ(x->Access() & 0xFF, y->Access());
      SNMP_MIBObject *cx = x->FirstChild(), *cy = y->FirstChild();
      for (; cx != nullptr && cy != nullptr; cx = cx->Next(), cy = cy->Next())
         stack.push_back({cx, cy});
      ASSERT_EQ(cx, nullptr);
      ASSERT_EQ(cy, nullptr);
   }
   EXPECT_GT(count, 0u);
}

TEST(MIBFile, LargeTreeRoundTrips)
{
   Tree tree(BuildTree(100000, 30, 99));
   std::string long_desc(70000, 'L');
   tree->FirstChild()->SetInfo(1, 2, 3, long_desc.c_str());
   std::string dir = TempDir();
   const uint32_t flagSets[] = {0, MIB_SAVE_COMPRESS, MIB_SAVE_NO_DESCRIPTIONS,
                                MIB_SAVE_COMPRESS | MIB_SAVE_NO_DESCRIPTIONS};
   for (uint32_t flags : flagSets)
   {
      SCOPED_TRACE(flags);
      std::string path = dir + "/tree" + std::to_string(flags);
      ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), flags), (uint32_t)SNMP_RC_SUCCESS);
      std::vector<uint8_t> file = ReadFileBytes(path);
      EXPECT_EQ(file[9], (uint8_t)flags);
      SNMP_MIBObject *loaded = nullptr;
      ASSERT_EQ(SNMPLoadMIBTree(path.c_str(), &loaded), (uint32_t)SNMP_RC_SUCCESS);
      Tree back(loaded);
      bool desc = !(flags & MIB_SAVE_NO_DESCRIPTIONS);
      if (desc)
      {
         // A description over 65535 bytes keeps its first 65535.
         EXPECT_EQ(std::string(back->FirstChild()->Description()), long_desc.substr(0, 65535));
         back->FirstChild()->SetInfo(1, 2, 3, long_desc.c_str());
      }
      ExpectSameTree(tree.get(), back.get(), desc);
   }
   // The compressed body is a standard zlib stream holding the plain body.
   std::vector<uint8_t> plain = ReadFileBytes(dir + "/tree0");
   std::vector<uint8_t> comp = ReadFileBytes(dir + "/tree1");
   std::vector<uint8_t> inflated(plain.size() - 16);
   uLongf len = (uLongf)inflated.size();
   ASSERT_EQ(uncompress(inflated.data(), &len, comp.data() + 16, (uLong)(comp.size() - 16)), Z_OK);
   ASSERT_EQ(len, plain.size() - 16);
   EXPECT_TRUE(std::equal(inflated.begin(), inflated.end(), plain.begin() + 16));
   EXPECT_GT(plain.size(), 3u * 65536);
}

TEST(MIBFile, BodyOfExactly65536BytesCompressed)
{
   // Root with one child whose name fills the body to exactly 65536 bytes:
   // root record 22 + child record 22 + name length.
   std::string dir = TempDir();
   SNMP_MIBObject root;
   std::string name(65536 - 44, 'n');
   root.AddChild(new SNMP_MIBObject(1, name.c_str()));
   std::string path = dir + "/exact";
   ASSERT_EQ(SNMPSaveMIBTree((path + "p").c_str(), &root, 0), 0u);
   ASSERT_EQ(ReadFileBytes(path + "p").size(), 16u + 65536);
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), &root, MIB_SAVE_COMPRESS), 0u);
   SNMP_MIBObject *loaded = nullptr;
   ASSERT_EQ(SNMPLoadMIBTree(path.c_str(), &loaded), 0u);
   Tree back(loaded);
   EXPECT_EQ(std::string(back->FirstChild()->Name()), name);
}

// Header + the given body bytes.
static std::vector<uint8_t> FileWithBody(const std::string &bodyHex, uint8_t headerSize = 16,
                                         uint8_t flags = 0)
{
   std::vector<uint8_t> f = {'Z', 'B', 'M', 'I', 'B', ' ', headerSize, 1, 0, flags, 0, 0, 0, 0, 0, 1};
   f.resize(headerSize, 0xEE);
   std::vector<uint8_t> body = Hex(bodyHex);
   f.insert(f.end(), body.begin(), body.end());
   return f;
}

static uint32_t LoadBytes(const std::vector<uint8_t> &bytes, SNMP_MIBObject **out)
{
   std::string path = TempDir() + "/load";
   WriteFileBytes(path, bytes);
   return SNMPLoadMIBTree(path.c_str(), out);
}

TEST(MIBFile, ReaderIsTolerantOfOrderRepeatsAndLongForms)
{
   SNMP_MIBObject *t = nullptr;
   // children before fields, repeated name, OID 5 in the long form, header of 20 bytes
   ASSERT_EQ(LoadBytes(FileWithBody("01 01 07 02 87 81 02 00 01 61 82 09 00 00 00 05 89 02 00 01 62 "
                                    "82 06 09 86 81",
                                    20),
                       &t),
             (uint32_t)SNMP_RC_SUCCESS);
   Tree tree(t);
   EXPECT_EQ(tree->OID(), 5u);
   EXPECT_STREQ(tree->Name(), "b");
   EXPECT_EQ(tree->Type(), 9);
   ASSERT_NE(tree->FirstChild(), nullptr);
   EXPECT_EQ(tree->FirstChild()->OID(), 2u);
}

TEST(MIBFile, BadFilesGiveExactCodes)
{
   struct Case
   {
      const char *what;
      std::vector<uint8_t> bytes;
      uint32_t rc;
      bool rootTouched;
   };
   std::vector<uint8_t> good = FileWithBody("01 02 00 01 78 82 07 05 87 81");
   std::vector<uint8_t> badMagic = good;
   badMagic[0] = 'X';
   const Case cases[] = {
      {"not 01 first", FileWithBody("02 00 00 82 81"), SNMP_RC_BAD_FILE_DATA, false},
      {"undefined tag", FileWithBody("01 0A 81"), SNMP_RC_BAD_FILE_DATA, true},
      {"wrong closing tag", FileWithBody("01 02 00 01 78 83 81"), SNMP_RC_BAD_FILE_DATA, true},
      {"string cut short", FileWithBody("01 03 FF FF 41 41"), SNMP_RC_BAD_FILE_DATA, true},
      {"no final 81", FileWithBody("01 01 81"), SNMP_RC_BAD_FILE_DATA, true},
      {"bad magic", badMagic, SNMP_RC_BAD_FILE_HEADER, false},
      {"short header", std::vector<uint8_t>(good.begin(), good.begin() + 10),
       SNMP_RC_BAD_FILE_HEADER, false},
      {"empty file", {}, SNMP_RC_BAD_FILE_HEADER, false},
      {"corrupt compressed body", FileWithBody("01 02 03 04 05 06", 16, 1), SNMP_RC_BAD_FILE_DATA,
       false},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      SNMP_MIBObject marker;
      SNMP_MIBObject *root = &marker;
      EXPECT_EQ(LoadBytes(c.bytes, &root), c.rc);
      if (c.rootTouched)
         EXPECT_EQ(root, nullptr);
      else
         EXPECT_EQ(root, &marker);
   }
   SNMP_MIBObject *root = nullptr;
   EXPECT_EQ(SNMPLoadMIBTree("/nonexistent/dir/file", &root), (uint32_t)SNMP_RC_FILE_IO_ERROR);
   uint32_t ts = 7;
   EXPECT_EQ(SNMPGetMIBTreeTimestamp("/nonexistent/dir/file", &ts), (uint32_t)SNMP_RC_FILE_IO_ERROR);
   std::string path = TempDir() + "/magic";
   WriteFileBytes(path, badMagic);
   EXPECT_EQ(SNMPGetMIBTreeTimestamp(path.c_str(), &ts), (uint32_t)SNMP_RC_BAD_FILE_HEADER);
   EXPECT_EQ(ts, 7u);
   SNMP_MIBObject node;
   EXPECT_EQ(SNMPSaveMIBTree("/nonexistent/dir/file", &node, 0), (uint32_t)SNMP_RC_FILE_IO_ERROR);
}

TEST(MIBFile, EveryTruncationFails)
{
   Tree tree(BuildTree(40, 6, 5));
   std::string dir = TempDir();
   for (uint32_t flags : {0u, (uint32_t)MIB_SAVE_COMPRESS})
   {
      std::string path = dir + "/t" + std::to_string(flags);
      ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), flags), 0u);
      std::vector<uint8_t> file = ReadFileBytes(path);
      for (size_t len = 0; len < file.size(); len++)
      {
         SCOPED_TRACE(len);
         SNMP_MIBObject *root = nullptr;
         uint32_t rc = LoadBytes(std::vector<uint8_t>(file.begin(), file.begin() + (long)len), &root);
         EXPECT_TRUE(rc == SNMP_RC_BAD_FILE_DATA || rc == SNMP_RC_BAD_FILE_HEADER) << rc;
         EXPECT_EQ(root, nullptr);
      }
   }
}

TEST(MIBFile, NestingDepthIsBounded)
{
   std::string deep;
   for (int i = 0; i < 100000; i++)
      deep += "01 ";
   SNMP_MIBObject *root = nullptr;
   EXPECT_EQ(LoadBytes(FileWithBody(deep), &root), (uint32_t)SNMP_RC_BAD_FILE_DATA);
   EXPECT_EQ(root, nullptr);

   // 1024 levels load; a tree deeper than that is not saved.
   SNMP_MIBObject top;
   SNMP_MIBObject *node = &top;
   for (int i = 1; i < 1024; i++)
   {
      SNMP_MIBObject *child = new SNMP_MIBObject((uint32_t)i, nullptr);
      node->AddChild(child);
      node = child;
   }
   std::string path = TempDir() + "/deep";
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), &top, 0), (uint32_t)SNMP_RC_SUCCESS);
   ASSERT_EQ(SNMPLoadMIBTree(path.c_str(), &root), (uint32_t)SNMP_RC_SUCCESS);
   delete root;
   node->AddChild(new SNMP_MIBObject(1, nullptr));
   EXPECT_EQ(SNMPSaveMIBTree(path.c_str(), &top, 0), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(SNMPLoadMIBTree(path.c_str(), &root), (uint32_t)SNMP_RC_SUCCESS);  // old file intact
   delete root;
}

TEST(MIBFile, MutatedFilesNeverCrash)
{
   Tree tree(BuildTree(60, 8, 11));
   std::string dir = TempDir();
   std::mt19937 rng(3);
   for (uint32_t flags : {0u, (uint32_t)MIB_SAVE_COMPRESS})
   {
      std::string path = dir + "/m" + std::to_string(flags);
      ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), flags), 0u);
      std::vector<uint8_t> file = ReadFileBytes(path);
      for (int i = 0; i < 300; i++)
      {
         std::vector<uint8_t> m = file;
         for (int e = 0; e < 3; e++)
            m[16 + rng() % (m.size() - 16)] = (uint8_t)rng();
         SNMP_MIBObject *root = nullptr;
         uint32_t rc = LoadBytes(m, &root);
         if (rc == SNMP_RC_SUCCESS)
            delete root;
         else
            EXPECT_EQ(rc, (uint32_t)SNMP_RC_BAD_FILE_DATA);
      }
   }
}

#ifndef _WIN32
// A save that hits the file-size limit fails and leaves the earlier file intact.
TEST(MIBFile, FullDiskIsReportedAndOldFileKept)
{
   Tree tree(BuildTree(20000, 20, 1));
   std::string path = TempDir() + "/full";
   SNMP_MIBObject small(1, "small");
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), &small, 0), 0u);
   for (uint32_t flags : {0u, (uint32_t)MIB_SAVE_COMPRESS})
   {
      fflush(nullptr);
      pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0)
      {
         signal(SIGXFSZ, SIG_IGN);
         struct rlimit rl = {4096, 4096};
         setrlimit(RLIMIT_FSIZE, &rl);
         _exit((int)SNMPSaveMIBTree(path.c_str(), tree.get(), flags));
      }
      int status = 0;
      waitpid(pid, &status, 0);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), SNMP_RC_FILE_IO_ERROR);
   }
   SNMP_MIBObject *root = nullptr;
   ASSERT_EQ(SNMPLoadMIBTree(path.c_str(), &root), 0u);
   EXPECT_STREQ(root->Name(), "small");
   delete root;
   // No temporary file is left behind.
   std::string dir = path.substr(0, path.rfind('/'));
   int files = 0;
   for (auto &e : std::filesystem::directory_iterator(dir))
      files += e.is_regular_file() ? 1 : 0;
   EXPECT_EQ(files, 1);
}
#endif
