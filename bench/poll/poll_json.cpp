#include "poll_json.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>

static bool ParseNumber(const char *text, uint64_t max, uint64_t *out)
{
   if (text == nullptr || *text < '0' || *text > '9')
      return false;
   char *end = nullptr;
   errno = 0;
   unsigned long long v = strtoull(text, &end, 10);
   if (errno != 0 || *end != 0 || v > max)
      return false;
   *out = v;
   return true;
}

bool PollParseOid(const std::string &text, std::vector<uint32_t> *out)
{
   std::vector<uint32_t> ids;
   size_t i = (!text.empty() && text[0] == '.') ? 1 : 0;
   if (i >= text.size())
      return false;
   while (i <= text.size())
   {
      size_t dot = text.find('.', i);
      if (dot == std::string::npos)
         dot = text.size();
      uint64_t v;
      if (dot == i || !ParseNumber(text.substr(i, dot - i).c_str(), UINT32_MAX, &v))
         return false;
      ids.push_back((uint32_t)v);
      i = dot + 1;
   }
   if (ids.size() < 2 || ids.size() > 128)
      return false;
   *out = ids;
   return true;
}

bool PollParseArgs(int argc, char **argv, PollOptions *o, std::string *error)
{
   for (int i = 1; i < argc; i++)
   {
      std::string a = argv[i];
      const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
      uint64_t n;
      if (a == "-f" && value != nullptr)
         o->file = argv[++i];
      else if (a == "-t" && ParseNumber(value, 3600000, &n) && n > 0)
         o->timeoutMs = (uint32_t)n, i++;
      else if (a == "-r" && ParseNumber(value, 100, &n) && n > 0)
         o->attempts = (uint32_t)n, i++;
      else if (a == "-o" && value != nullptr && strcmp(value, "json") == 0)
         i++;
      else if (a == "--walk")
         o->walk = true;
      else if (a == "-Cr" && ParseNumber(value, 1000, &n) && n > 0)
         o->repetitions = (uint32_t)n, i++;
      else if (a.compare(0, 3, "-Cr") == 0 && ParseNumber(a.c_str() + 3, 1000, &n) && n > 0)
         o->repetitions = (uint32_t)n;
      else if (!a.empty() && a[0] != '-')
      {
         std::vector<uint32_t> ids;
         if (!PollParseOid(a, &ids))
         {
            *error = "invalid OID '" + a + "'";
            return false;
         }
         o->oids.push_back(ids);
      }
      else
      {
         *error = "invalid option or value '" + a + "'";
         return false;
      }
   }
   if (o->file == nullptr || o->oids.empty() || (o->walk && o->oids.size() != 1))
   {
      *error = "usage: -f TARGETS [-t MS] [-r ATTEMPTS] [-o json] OID... | -f TARGETS --walk [-Cr N] OID";
      return false;
   }
   return true;
}

bool PollReadTargets(const char *file, std::vector<PollTarget> *out, std::string *error)
{
   std::ifstream in(file);
   if (!in)
   {
      *error = std::string("cannot read ") + file;
      return false;
   }
   std::string line;
   int number = 0;
   while (std::getline(in, line))
   {
      number++;
      size_t start = line.find_first_not_of(" \t\r");
      if (start == std::string::npos || line[start] == '#')
         continue;
      size_t end = line.find_first_of(" \t\r", start);
      std::string host = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
      PollTarget t;
      t.community = "public";
      if (end != std::string::npos)
      {
         size_t c = line.find_first_not_of(" \t\r", end);
         if (c != std::string::npos)
            t.community = line.substr(c, line.find_first_of(" \t\r", c) - c);
      }
      // HOST, HOST:PORT, [V6] or [V6]:PORT
      std::string port = "161";
      size_t colon = host[0] == '[' ? host.find("]:") : host.rfind(':');
      if (colon != std::string::npos)
      {
         size_t p = host[0] == '[' ? colon + 2 : colon + 1;
         port = host.substr(p);
         host.erase(host[0] == '[' ? colon + 1 : colon);
      }
      uint64_t n;
      if (host.empty() || !ParseNumber(port.c_str(), 65535, &n) || n == 0)
      {
         *error = std::string(file) + ":" + std::to_string(number) + ": bad target '" + line + "'";
         return false;
      }
      t.agent = host + ":" + port;
      out->push_back(t);
   }
   return true;
}

void PollHex(const uint8_t *p, size_t len, std::string *value)
{
   static const char digits[] = "0123456789ABCDEF";
   value->clear();
   for (size_t i = 0; i < len; i++)
   {
      if (i > 0)
         *value += ' ';
      *value += digits[p[i] >> 4];
      *value += digits[p[i] & 15];
   }
}

void PollOctets(const uint8_t *p, size_t len, const char **type, std::string *value)
{
   for (size_t i = 0; i < len; i++)
      if (p[i] < 0x20 || p[i] > 0x7E)
      {
         *type = "Hex-STRING";
         PollHex(p, len, value);
         return;
      }
   *type = "STRING";
   value->assign((const char *)p, len);
}

static void JsonString(std::string *out, const std::string &s)
{
   *out += '"';
   for (unsigned char c : s)
   {
      if (c == '"' || c == '\\')
      {
         *out += '\\';
         *out += (char)c;
      }
      else if (c < 0x20)
      {
         char buf[8];
         snprintf(buf, sizeof(buf), "\\u%04x", c);
         *out += buf;
      }
      else
         *out += (char)c;
   }
   *out += '"';
}

void PollJsonBinding(std::string *out, const std::string &agent, const std::string &oid,
                     const char *type, const std::string &value)
{
   *out += "{\"agent\":";
   JsonString(out, agent);
   *out += ",\"oid\":\"";
   *out += oid;
   *out += "\",\"type\":\"";
   *out += type;
   *out += "\",\"value\":";
   JsonString(out, value);
   *out += "}\n";
}

void PollJsonError(std::string *out, const std::string &agent, const char *error)
{
   *out += "{\"agent\":";
   JsonString(out, agent);
   *out += ",\"error\":";
   JsonString(out, error);
   *out += "}\n";
}
