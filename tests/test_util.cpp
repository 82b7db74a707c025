#include "test_util.h"

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <filesystem>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

std::vector<uint8_t> Hex(const std::string &text)
{
   std::vector<uint8_t> out;
   int high = -1;
   for (char ch : text)
   {
      int v;
      if (ch >= '0' && ch <= '9')
         v = ch - '0';
      else if (ch >= 'a' && ch <= 'f')
         v = ch - 'a' + 10;
      else if (ch >= 'A' && ch <= 'F')
         v = ch - 'A' + 10;
      else
         continue;
      if (high < 0)
         high = v;
      else
      {
         out.push_back((uint8_t)(high * 16 + v));
         high = -1;
      }
   }
   return out;
}

std::string ToHex(const uint8_t *data, size_t length)
{
   static const char digits[] = "0123456789ABCDEF";
   std::string s;
   for (size_t i = 0; i < length; i++)
   {
      if (i > 0)
         s += ' ';
      s += digits[data[i] >> 4];
      s += digits[data[i] & 15];
   }
   return s;
}

namespace
{
struct TempRoot
{
   std::filesystem::path path;
   int counter = 0;
   TempRoot()
   {
      path = std::filesystem::temp_directory_path() /
             ("zbsnmp-test-" + std::to_string((long)getpid()) + "-" +
              std::to_string((unsigned long long)std::chrono::steady_clock::now()
                                 .time_since_epoch()
                                 .count()));
      std::filesystem::create_directories(path);
   }
   ~TempRoot()
   {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
   }
};
}  // namespace

std::string TempDir()
{
   static TempRoot root;
   auto dir = root.path / std::to_string(root.counter++);
   std::filesystem::create_directories(dir);
   return dir.string();
}

std::vector<uint8_t> ReadFileBytes(const std::string &path)
{
   std::vector<uint8_t> out;
   FILE *f = fopen(path.c_str(), "rb");
   if (f == nullptr)
      return out;
   uint8_t buf[65536];
   size_t n;
   while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
      out.insert(out.end(), buf, buf + n);
   fclose(f);
   return out;
}

void WriteFileBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
   FILE *f = fopen(path.c_str(), "wb");
   if (f == nullptr)
      return;
   if (!bytes.empty())
      fwrite(bytes.data(), 1, bytes.size(), f);
   fclose(f);
}

std::vector<WireMessage> LoadWireMessages()
{
   std::vector<WireMessage> out;
   std::ifstream in(ZBSNMP_TEST_DATA "/netsnmp-wire.tsv");
   std::string line;
   while (std::getline(in, line))
   {
      if (line.empty() || line[0] == '#')
         continue;
      size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
      out.push_back({line.substr(0, t1), Hex(line.substr(t1 + 1, t2 - t1 - 1)), line.substr(t2 + 1)});
   }
   return out;
}

std::string ReadFileText(const std::string &path)
{
   std::vector<uint8_t> bytes = ReadFileBytes(path);
   return std::string(bytes.begin(), bytes.end());
}

void WriteFileText(const std::string &path, const std::string &text)
{
   WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}
