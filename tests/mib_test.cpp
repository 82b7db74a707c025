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

#include "mib_tree_util.h"
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
                                MIB_SAVE_COMPRESS | MIB_SAVE_NO_DESCRIPTIONS,
                                MIB_SAVE_COMPRESS | MIB_SAVE_PARALLEL_DEFLATE};
   for (uint32_t flags : flagSets)
   {
      SCOPED_TRACE(flags);
      std::string path = dir + "/tree" + std::to_string(flags);
      ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), flags), (uint32_t)SNMP_RC_SUCCESS);
      std::vector<uint8_t> file = ReadFileBytes(path);
      EXPECT_EQ(file[8], 0);  // the save option is no header flag
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
   // ... byte for byte one deflate of it at level 9, as files have always
   // been; deflated in pieces, a zlib stream of the same body.
   std::vector<uint8_t> one(compressBound((uLong)inflated.size()));
   uLongf oneLen = (uLongf)one.size();
   ASSERT_EQ(compress2(one.data(), &oneLen, inflated.data(), (uLong)inflated.size(), 9), Z_OK);
   EXPECT_TRUE(comp.size() == 16 + oneLen && std::equal(one.begin(), one.begin() + oneLen, comp.begin() + 16));
   std::vector<uint8_t> pieces = ReadFileBytes(dir + "/tree" + std::to_string(MIB_SAVE_COMPRESS | MIB_SAVE_PARALLEL_DEFLATE));
   len = (uLongf)inflated.size();
   ASSERT_EQ(uncompress(inflated.data(), &len, pieces.data() + 16, (uLong)(pieces.size() - 16)), Z_OK);
   ASSERT_EQ(len, plain.size() - 16);
   EXPECT_TRUE(std::equal(inflated.begin(), inflated.end(), plain.begin() + 16));
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
   for (uint32_t flags : {0u, (uint32_t)MIB_SAVE_COMPRESS, (uint32_t)(MIB_SAVE_COMPRESS | MIB_SAVE_PARALLEL_DEFLATE)})
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
   for (uint32_t flags : {0u, (uint32_t)MIB_SAVE_COMPRESS, (uint32_t)(MIB_SAVE_COMPRESS | MIB_SAVE_PARALLEL_DEFLATE)})
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
   for (uint32_t flags : {0u, (uint32_t)MIB_SAVE_COMPRESS, (uint32_t)(MIB_SAVE_COMPRESS | MIB_SAVE_PARALLEL_DEFLATE)})
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

// ---- Saving keeps what the user had ----
#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>

static struct stat StatOf(const std::string &path, bool follow = true)
{
   struct stat st;
   memset(&st, 0, sizeof(st));
   if (follow)
      stat(path.c_str(), &st);
   else
      lstat(path.c_str(), &st);
   return st;
}

// Saves a one-node tree named name and checks that path then loads to it.
static void SaveNamed(const std::string &path, const char *name, uint32_t rc = SNMP_RC_SUCCESS)
{
   SNMP_MIBObject node(1, name);
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), &node, 0), rc);
}

static std::string LoadedName(const std::string &path)
{
   SNMP_MIBObject *root = nullptr;
   if (SNMPLoadMIBTree(path.c_str(), &root) != SNMP_RC_SUCCESS)
      return "<no tree>";
   Tree t(root);
   return t->Name() != nullptr ? t->Name() : "<no name>";
}

static int FilesIn(const std::string &dir)
{
   int n = 0;
   for (auto &e : std::filesystem::directory_iterator(dir))
      n += e.is_symlink() || e.is_regular_file() || e.is_fifo() ? 1 : 0;
   return n;
}

TEST(MIBFileSave, KeepsTheModeOfTheFile)
{
   std::string dir = TempDir();
   for (mode_t mode : {0600, 0640, 0604, 0700, 0755})
   {
      SCOPED_TRACE(mode);
      std::string path = dir + "/m" + std::to_string(mode);
      SaveNamed(path, "old");
      ASSERT_EQ(chmod(path.c_str(), mode), 0);
      ino_t before = StatOf(path).st_ino;
      SaveNamed(path, "new");
      EXPECT_EQ(StatOf(path).st_mode & 07777, mode);
      EXPECT_NE(StatOf(path).st_ino, before);  // replaced whole, by a rename
      EXPECT_EQ(LoadedName(path), "new");
   }
   // A new file gets 0666 less the umask.
   for (mode_t mask : {022, 077, 002})
   {
      SCOPED_TRACE(mask);
      std::string path = dir + "/u" + std::to_string(mask);
      mode_t old = umask(mask);
      SaveNamed(path, "new");
      umask(old);
      EXPECT_EQ(StatOf(path).st_mode & 07777, 0666 & ~mask);
   }
   EXPECT_EQ(FilesIn(dir), 8);  // no temporary file left
}

TEST(MIBFileSave, WritesThroughSymbolicLinks)
{
   struct Case
   {
      const char *what;
      const char *link;    // the name saved to, in dir a
      const char *target;  // what the link holds
      const char *file;    // the file that gets the tree
   };
   const Case cases[] = {
      {"relative, same folder", "a/l1", "real1", "a/real1"},
      {"relative, other folder", "a/l2", "../b/real2", "b/real2"},
      {"absolute", "a/l3", "@/b/real3", "b/real3"},
      {"chain of two links", "a/l4", "l1", "a/real1"},
      {"dangling: the named file is made", "a/l5", "../b/new5", "b/new5"},
   };
   std::string dir = TempDir();
   std::filesystem::create_directories(dir + "/a");
   std::filesystem::create_directories(dir + "/b");
   for (const char *f : {"a/real1", "b/real2", "b/real3"})
      SaveNamed(dir + "/" + f, "old");
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      std::string target = c.target[0] == '@' ? dir + (c.target + 1) : c.target;
      std::string link = dir + "/" + c.link;
      ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
      SaveNamed(link, c.what);
      EXPECT_TRUE(S_ISLNK(StatOf(link, false).st_mode));
      char held[4096] = "";
      ASSERT_GT(readlink(link.c_str(), held, sizeof(held) - 1), 0);
      EXPECT_EQ(std::string(held), target);
      EXPECT_TRUE(S_ISREG(StatOf(dir + "/" + c.file, false).st_mode));
      EXPECT_EQ(LoadedName(dir + "/" + c.file), c.what);
   }
   EXPECT_EQ(FilesIn(dir + "/a"), 6);  // real1 and five links
   EXPECT_EQ(FilesIn(dir + "/b"), 3);

   // A loop of links is an I/O error, and nothing is made.
   std::string loop = dir + "/a/loop";
   ASSERT_EQ(symlink("loop", loop.c_str()), 0);
   SaveNamed(loop, "x", SNMP_RC_FILE_IO_ERROR);
   EXPECT_EQ(FilesIn(dir + "/a"), 7);
}

TEST(MIBFileSave, WritesInPlaceWhatCannotBeReplaced)
{
   std::string dir = TempDir();
   // A file with two names: both still name the same file, which holds the tree.
   std::string a = dir + "/a", b = dir + "/b";
   SaveNamed(a, "old");
   ASSERT_EQ(link(a.c_str(), b.c_str()), 0);
   SaveNamed(b, "new");
   EXPECT_EQ(StatOf(a).st_ino, StatOf(b).st_ino);
   EXPECT_EQ(LoadedName(a), "new");

   // A pipe stays a pipe; its reader gets the file (small enough for the
   // pipe's buffer, so the save never waits).
   std::string fifo = dir + "/fifo";
   ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
   int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
   ASSERT_GE(reader, 0);
   SaveNamed(fifo, "piped");
   uint8_t got[256];
   ssize_t n = read(reader, got, sizeof(got));
   close(reader);
   EXPECT_TRUE(S_ISFIFO(StatOf(fifo).st_mode));
   ASSERT_GE(n, 16);
   EXPECT_EQ(ToHex(got, 6), "5A 42 4D 49 42 20");

   // A folder is not a file.
   SaveNamed(dir, "x", SNMP_RC_FILE_IO_ERROR);
   EXPECT_EQ(FilesIn(dir), 3);
}

// Runs fn in a child process and returns its exit status. When the tests run
// as root, the child first becomes the unprivileged user 65534, so that file
// permissions really apply to it; 77 when it cannot.
static int RunUnprivileged(const std::function<int()> &fn)
{
   fflush(nullptr);
   pid_t pid = fork();
   if (pid == 0)
   {
      if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
         _exit(77);
      _exit(fn());
   }
   int status = 0;
   waitpid(pid, &status, 0);
   return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(MIBFileSave, FolderThatCannotBeWritten)
{
   // A writable file in a folder the user cannot write is saved in place; a
   // file the user cannot write is refused and left as it was.
   std::string dir = TempDir();
   std::string ro = dir + "/ro", rw = dir + "/rw";
   std::filesystem::create_directories(ro);
   std::filesystem::create_directories(rw);
   std::string inRo = ro + "/tree", locked = rw + "/locked";
   SaveNamed(inRo, "old");
   SaveNamed(locked, "old");
   ino_t before = StatOf(inRo).st_ino;
   uid_t user = geteuid() == 0 ? 65534 : geteuid();
   ASSERT_EQ(chown(inRo.c_str(), user, (gid_t)-1), 0);
   ASSERT_EQ(chmod(inRo.c_str(), 0640), 0);
   ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
   ASSERT_EQ(chmod(rw.c_str(), 0777), 0);
   ASSERT_EQ(chmod(ro.c_str(), 0555), 0);
   ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
   int rc = RunUnprivileged([&] {
      if (access(ro.c_str(), W_OK) == 0 || access(inRo.c_str(), W_OK) != 0 ||
          access(locked.c_str(), W_OK) == 0)
         return 77;  // the permissions do not hold for this user
      SNMP_MIBObject node(1, "new");
      if (SNMPSaveMIBTree(inRo.c_str(), &node, MIB_SAVE_COMPRESS) != SNMP_RC_SUCCESS)
         return 1;
      if (SNMPSaveMIBTree(locked.c_str(), &node, 0) != SNMP_RC_FILE_IO_ERROR)
         return 2;
      return 0;
   });
   chmod(ro.c_str(), 0755);
   if (rc == 77)
      GTEST_SKIP() << "cannot make a folder unwritable for this user (running as uid "
                   << geteuid() << ")";
   ASSERT_EQ(rc, 0);
   EXPECT_EQ(LoadedName(inRo), "new");
   EXPECT_EQ(StatOf(inRo).st_ino, before);
   EXPECT_EQ(StatOf(inRo).st_mode & 07777, 0640u);
   EXPECT_EQ(LoadedName(locked), "old");
   EXPECT_EQ(FilesIn(ro), 1);
   EXPECT_EQ(FilesIn(rw), 1);
}

TEST(MIBFileSave, KeepsTheOwnerOrWritesInPlace)
{
   if (geteuid() != 0)
      GTEST_SKIP() << "needs root to give a file another owner";
   // Root saving another user's file keeps its owner and group.
   std::string dir = TempDir();
   std::string path = dir + "/owned";
   SaveNamed(path, "old");
   ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
   ASSERT_EQ(chmod(path.c_str(), 0640), 0);
   SaveNamed(path, "new");
   struct stat st = StatOf(path);
   EXPECT_EQ(st.st_uid, 65534u);
   EXPECT_EQ(st.st_gid, 65534u);
   EXPECT_EQ(st.st_mode & 07777, 0640u);
   EXPECT_EQ(LoadedName(path), "new");

   // A user who may write a file that is not theirs, in a folder they may
   // write, cannot give a new file its owner: the file is written in place.
   std::string shared = dir + "/shared";
   std::filesystem::create_directories(shared);
   ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
   std::string other = shared + "/rootfile";
   SaveNamed(other, "old");
   ASSERT_EQ(chmod(other.c_str(), 0666), 0);
   ino_t before = StatOf(other).st_ino;
   int rc = RunUnprivileged([&] {
      SNMP_MIBObject node(1, "new");
      return (int)SNMPSaveMIBTree(other.c_str(), &node, 0);
   });
   ASSERT_EQ(rc, 0);
   EXPECT_EQ(StatOf(other).st_uid, 0u);
   EXPECT_EQ(StatOf(other).st_ino, before);
   EXPECT_EQ(LoadedName(other), "new");
   EXPECT_EQ(FilesIn(shared), 1);
}
#endif

// ---- Loads are bounded and survive allocation failure ----
#include "internal.h"

#ifndef _WIN32
#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
#define ZB_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZB_UNDER_ASAN 1
#endif
#endif
#ifndef ZB_UNDER_ASAN
#define ZB_UNDER_ASAN 0
#endif
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#define ZB_UNDER_VALGRIND (RUNNING_ON_VALGRIND != 0)
#else
#define ZB_UNDER_VALGRIND false
#endif

// A MIB file whose compressed body is the tag stream that write() produces,
// given to it in pieces; deflated at level 1 unless told (fast; any zlib
// stream loads).
static void WriteCompressedFile(const std::string &path,
                                const std::function<void(const std::function<void(const std::string &)> &)> &write,
                                int level = 1)
{
   FILE *f = fopen(path.c_str(), "wb");
   ASSERT_NE(f, nullptr);
   const uint8_t header[16] = {'Z', 'B', 'M', 'I', 'B', ' ', 16, 1, 0, MIB_SAVE_COMPRESS};
   fwrite(header, 1, sizeof(header), f);
   z_stream zs;
   memset(&zs, 0, sizeof(zs));
   ASSERT_EQ(deflateInit(&zs, level), Z_OK);
   std::vector<uint8_t> out(1 << 16);
   auto pump = [&](const std::string &bytes, int flush) {
      zs.next_in = (Bytef *)bytes.data();
      zs.avail_in = (uInt)bytes.size();
      do
      {
         zs.next_out = out.data();
         zs.avail_out = (uInt)out.size();
         deflate(&zs, flush);
         fwrite(out.data(), 1, out.size() - zs.avail_out, f);
      } while (zs.avail_out == 0);
   };
   write([&](const std::string &bytes) { pump(bytes, Z_NO_FLUSH); });
   pump("", Z_FINISH);
   deflateEnd(&zs);
   fclose(f);
}

// The body of a root with n - 1 empty children: n nodes.
static void EmptyNodes(uint32_t n, const std::function<void(const std::string &)> &put)
{
   put("\x01");
   std::string chunk;
   for (int i = 0; i < 4096; i++)
      chunk += "\x01\x81";
   uint32_t left = n - 1;
   for (; left >= 4096; left -= 4096)
      put(chunk);
   put(chunk.substr(0, 2 * left) + "\x81");
}

// Current size of this process's address space.
static rlim_t AddressSpace()
{
   return (rlim_t)AddressSpaceBytes();
}

// Loads path in a child process under an address-space limit (1: 16 MiB
// more than the child holds; none under ASan or valgrind, which need the room
// for themselves); the load's result, or 100 + the signal that killed the
// child.
static int LoadInChild(const std::string &path, rlim_t limit, bool checkFreed)
{
   fflush(nullptr);
   pid_t pid = fork();
   if (pid == 0)
   {
      if (limit == 1)
      {
         // Room for 16 MiB more: what earlier tests left free in the heap is
         // taken first, so that the limit really holds.
         size_t spare = mallinfo2().fordblks;
         for (size_t i = 0; i <= spare / 1024; i++)
            if (malloc(1024) == nullptr)
               break;
         limit = AddressSpace() + (16u << 20);
      }
      size_t before = mallinfo2().uordblks;
      if (limit != 0 && !ZB_UNDER_ASAN && !ZB_UNDER_VALGRIND)
      {
         struct rlimit rl = {limit, limit};
         setrlimit(RLIMIT_AS, &rl);
      }
      SNMP_MIBObject *root = nullptr;
      uint32_t rc = SNMPLoadMIBTree(path.c_str(), &root);
      if (rc == SNMP_RC_SUCCESS)
         delete root;
      // The partial tree is freed: the heap holds what it held before.
      if (checkFreed && mallinfo2().uordblks > before + 256 * 1024)
         _exit(99);
      _exit((int)rc);
   }
   int status = 0;
   waitpid(pid, &status, 0);
   return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(MIBFileLoad, FiveMillionEmptyNodesUnder256MiB)
{
   // About 10 KB of compressed body that would build five million nodes.
   std::string path = TempDir() + "/hostile";
   WriteCompressedFile(path, [](auto put) { EmptyNodes(5000000, put); }, 9);
   EXPECT_LT(ReadFileBytes(path).size(), 20000u);
   EXPECT_EQ(LoadInChild(path, 256u << 20, false), SNMP_RC_BAD_FILE_DATA);
}

TEST(MIBFileLoad, AllocationFailureIsBadDataAndFreesThePartialTree)
{
   if (ZB_UNDER_ASAN || ZB_UNDER_VALGRIND)
      GTEST_SKIP() << "an address-space limit cannot hold under ASan or valgrind";
   // 900,000 nodes are within the bound but need far more than 16 MiB.
   std::string dir = TempDir();
   for (bool compressed : {false, true})
   {
      SCOPED_TRACE(compressed);
      std::string path = dir + (compressed ? "/z" : "/p");
      if (compressed)
      {
         WriteCompressedFile(path, [](auto put) { EmptyNodes(900000, put); });
      }
      else
      {
         std::string body;
         EmptyNodes(900000, [&](const std::string &b) { body += b; });
         std::vector<uint8_t> file = {'Z', 'B', 'M', 'I', 'B', ' ', 16, 1, 0, 0, 0, 0, 0, 0, 0, 0};
         file.insert(file.end(), body.begin(), body.end());
         WriteFileBytes(path, file);
      }
      EXPECT_EQ(LoadInChild(path, 0, true), SNMP_RC_SUCCESS);  // loads with room
      EXPECT_EQ(LoadInChild(path, 1, true), SNMP_RC_BAD_FILE_DATA);
   }
}

TEST(MIBFileLoad, NodeBoundEdge)
{
   // A tree of exactly MIB_MAX_LOAD_NODES nodes saves and loads; one more
   // node is refused by the save and, written by hand, by the load.
   Tree tree(new SNMP_MIBObject());
   for (uint32_t i = 1; i < MIB_MAX_LOAD_NODES; i++)
      tree->AddChild(new SNMP_MIBObject(i & 0xFF, nullptr));
   std::string path = TempDir() + "/edge";
   ASSERT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), MIB_SAVE_NO_DESCRIPTIONS), 0u);
   SNMP_MIBObject *root = nullptr;
   ASSERT_EQ(SNMPLoadMIBTree(path.c_str(), &root), (uint32_t)SNMP_RC_SUCCESS);
   uint32_t count = 1;
   for (SNMP_MIBObject *c = root->FirstChild(); c != nullptr; c = c->Next())
      count++;
   delete root;
   EXPECT_EQ(count, MIB_MAX_LOAD_NODES);

   tree->AddChild(new SNMP_MIBObject(1, nullptr));
   EXPECT_EQ(SNMPSaveMIBTree(path.c_str(), tree.get(), 0), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   std::vector<uint8_t> file = ReadFileBytes(path);  // the earlier file, intact
   std::vector<uint8_t> extra = Hex("01 81");
   file.insert(file.end() - 1, extra.begin(), extra.end());
   root = nullptr;
   EXPECT_EQ(LoadBytes(file, &root), (uint32_t)SNMP_RC_BAD_FILE_DATA);
   EXPECT_EQ(root, nullptr);
}

TEST(MIBFileLoad, BodyBytesBoundEdge)
{
   if (ZB_UNDER_VALGRIND)
      GTEST_SKIP() << "inflating 512 MiB twice is too slow under valgrind";
   // A root whose name is given again and again until its record is exactly
   // MIB_MAX_LOAD_BYTES long (then one byte longer): a small compressed file.
   auto body = [](uint64_t size) {
      return [size](auto put) {
         std::string full = "\x02\xFF\xFF" + std::string(65535, 'n') + "\x82";
         uint64_t left = size - 2;  // the root's 01 and 81
         put("\x01");
         while (left > full.size() + 4)
         {
            put(full);
            left -= full.size();
         }
         // the last name: 4 bytes of tag and length, then left - 4 bytes
         uint32_t n = (uint32_t)(left - 4);
         put(std::string("\x02", 1) + (char)(n >> 8) + (char)n + std::string(n, 'm') + "\x82\x81");
      };
   };
   std::string dir = TempDir();
   WriteCompressedFile(dir + "/at", body(MIB_MAX_LOAD_BYTES));
   WriteCompressedFile(dir + "/over", body(MIB_MAX_LOAD_BYTES + 1ull));
   EXPECT_LT(ReadFileBytes(dir + "/over").size(), 4u << 20);
   SNMP_MIBObject *root = nullptr;
   ASSERT_EQ(SNMPLoadMIBTree((dir + "/at").c_str(), &root), (uint32_t)SNMP_RC_SUCCESS);
   Tree t(root);
   ASSERT_NE(t->Name(), nullptr);
   EXPECT_EQ(t->Name()[0], 'm');
   root = nullptr;
   EXPECT_EQ(SNMPLoadMIBTree((dir + "/over").c_str(), &root), (uint32_t)SNMP_RC_BAD_FILE_DATA);
}
#endif
