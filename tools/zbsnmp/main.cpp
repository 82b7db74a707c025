// zbsnmp: SNMP v1/v2c manager commands and MIB tree files from the shell.
// Dispatch, usage and the options every request command shares.
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "cli.h"

// ---- Usage ----

static const char *const kUsage =
    "usage: zbsnmp COMMAND [OPTIONS] ARGS...\n"
    "\n"
    "commands:\n"
    "  get   [-v 1|2c] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] OID...\n"
    "  next  [-v 1|2c] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] OID...\n"
    "  walk  [-v 1|2c] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] [OID]\n"
    "  set   [-v 1|2c] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] OID TYPE VALUE...\n"
    "  traps [-p PORT] [-n COUNT] [-t TIMEOUT_MS]\n"
    "  mib print FILE\n"
    "  mib info FILE\n"
    "  mib export FILE\n"
    "  mib build [-z] [--no-descriptions] TSV FILE\n"
    "  mib compile [-z] [--no-descriptions] [-v] [-o FILE] DIR|FILE...\n"
    "\n"
    "Run 'zbsnmp COMMAND --help' for the details of a command.\n";

static const std::map<std::string, std::string> kCommandHelp = {
   {"get",
    "usage: zbsnmp get [-v 1|2c] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] OID...\n"
    "Sends one GET request for the given OIDs and prints the bindings of the answer.\n"
    "  -v VERSION    SNMP version, 1 or 2c (default 2c)\n"
    "  -c COMMUNITY  community (default public)\n"
    "  -t TIMEOUT_MS time-out of each attempt in milliseconds (default 1000)\n"
    "  -r ATTEMPTS   number of attempts (default 3)\n"
    "  HOST[:PORT]   agent name or IPv4 address, port 161 by default\n"},
   {"next",
    "usage: zbsnmp next [-v 1|2c] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] OID...\n"
    "Sends one GET-NEXT request and prints the bindings of the answer.\n"
    "Options as for 'zbsnmp get'.\n"},
   {"walk",
    "usage: zbsnmp walk [-v 1|2c] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] [OID]\n"
    "Walks the subtree under OID (default .1.3.6.1.2.1) with GET-NEXT requests until the\n"
    "answer leaves the subtree, the agent reports the end of its view, or an OID does not\n"
    "increase. Options as for 'zbsnmp get'.\n"},
   {"set",
    "usage: zbsnmp set [-v 1|2c] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] OID TYPE "
    "VALUE [OID TYPE VALUE ...]\n"
    "Sends one SET request. TYPE is one of INT, INTEGER, STRING, OID, IPADDR, COUNTER32,\n"
    "GAUGE32, TIMETICKS, COUNTER64, UINT32, UINTEGER32 (any letter case).\n"
    "Options as for 'zbsnmp get' (the community defaults to public: pass -c for a write\n"
    "community).\n"},
   {"traps",
    "usage: zbsnmp traps [-p PORT] [-n COUNT] [-t TIMEOUT_MS]\n"
    "Listens for SNMP v1 and v2c traps on a UDP port of every local address and prints each one.\n"
    "  -p PORT       UDP port (default 162, which needs privileges)\n"
    "  -n COUNT      stop after COUNT traps (default: run until interrupted)\n"
    "  -t TIMEOUT_MS give up when no trap comes for this long (default: wait for ever)\n"},
   {"mib",
    "usage: zbsnmp mib print FILE\n"
    "       zbsnmp mib info FILE\n"
    "       zbsnmp mib export FILE\n"
    "       zbsnmp mib build [-z] [--no-descriptions] TSV FILE\n"
    "       zbsnmp mib compile [-z] [--no-descriptions] [-v] [-o FILE] DIR|FILE...\n"
    "print:   the tree of a MIB tree file, one node per line.\n"
    "info:    creation time (UTC), format version, flags, number of nodes and depth of the tree.\n"
    "export:  the tree as a table on standard output, one node per line, depth first and\n"
    "         children by sub-identifier: OID, name, type, access, status and module,\n"
    "         tab-separated, in Net-SNMP's words ('-' where a node has none).\n"
    "build:   makes a MIB tree file from such a table ('#' comments; the first line of an\n"
    "         OID wins); -z compresses the body; --no-descriptions leaves descriptions out.\n"
    "compile: makes a MIB tree file from MIB modules (SMIv1 and SMIv2): every module of the\n"
    "         files given and of the folders given (searched recursively), imports resolved\n"
    "         among them by module name. Definitions a module gets wrong are left out and\n"
    "         reported with file and line; the rest of the module is kept.\n"
    "  -o FILE             the tree file to write (default mibs.zbmib)\n"
    "  -z                  compress the body\n"
    "  --no-descriptions   leave the DESCRIPTION texts out (a much smaller file)\n"
    "  -v                  report every error and warning, not only those that lose definitions\n"},
};



int UsageError(const std::string &message, const char *command)
{
   fprintf(stderr, "zbsnmp: %s\n", message.c_str());
   if (command != nullptr)
      fprintf(stderr, "Run 'zbsnmp %s --help' for usage.\n", command);
   else
      fputs(kUsage, stderr);
   return EXIT_USAGE;
}

static bool WantsHelp(int argc, char **argv)
{
   for (int i = 0; i < argc; i++)
      if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h"))
         return true;
   return false;
}

// ---- Numbers, OIDs, hosts ----

bool ParseUnsigned(const char *text, uint64_t max, uint64_t *out)
{
   if (text == nullptr || *text == 0 || *text == '-' || *text == '+' || *text == ' ')
      return false;
   errno = 0;
   char *end = nullptr;
   unsigned long long v = strtoull(text, &end, 0);
   if (errno != 0 || *end != 0 || v > max)
      return false;
   *out = v;
   return true;
}

bool ParseSigned32(const char *text, int32_t *out)
{
   if (text == nullptr || *text == 0 || *text == ' ')
      return false;
   errno = 0;
   char *end = nullptr;
   long long v = strtoll(text, &end, 0);
   if (errno != 0 || *end != 0 || v < INT32_MIN || v > INT32_MAX)
      return false;
   *out = (int32_t)v;
   return true;
}

bool ParseOid(const char *text, std::vector<uint32_t> *out)
{
   uint32_t ids[128];
   if (text == nullptr || strlen(text) == 0)
      return false;
   // Every component must hold digits: "1..2" and "1.2." are typing mistakes here.
   const char *p = (*text == '.') ? text + 1 : text;
   if (*p == 0 || p[strlen(p) - 1] == '.' || strstr(p, "..") != nullptr)
      return false;
   uint32_t n = SNMPParseOID(text, ids, 128);
   if (n == 0)
      return false;
   // More than 128 components would be cut silently: refuse them.
   size_t dots = 0;
   for (const char *q = p; *q; q++)
      dots += (*q == '.');
   if (dots + 1 != n)
      return false;
   out->assign(ids, ids + n);
   return true;
}

std::string OidText(const std::vector<uint32_t> &oid)
{
   std::string s;
   for (uint32_t v : oid)
      s += "." + std::to_string(v);
   return s;
}


bool ParseTarget(const char *text, Target *out, std::string *error)
{
   std::string s = text;
   size_t colon = s.rfind(':');
   if (colon != std::string::npos)
   {
      uint64_t port;
      if (!ParseUnsigned(s.c_str() + colon + 1, 65535, &port) || port == 0)
      {
         *error = "invalid port in '" + s + "'";
         return false;
      }
      out->port = (uint16_t)port;
      s = s.substr(0, colon);
   }
   if (s.empty())
   {
      *error = "invalid host '" + std::string(text) + "'";
      return false;
   }
   out->host = s;
   return true;
}


int ParseRequestOptions(const char *command, int argc, char **argv, RequestOptions *o)
{
   o->command = command;
   int i = 0;
   for (; i < argc; i++)
   {
      std::string a = argv[i];
      if (a.size() < 2 || a[0] != '-' || isdigit((unsigned char)a[1]) || a[1] == '.')
         break;
      if (a == "--")
      {
         i++;
         break;
      }
      // "-v 1" and "-v1" are both accepted.
      const char *value;
      if (a.size() > 2)
      {
         value = argv[i] + 2;
         a = a.substr(0, 2);
      }
      else if (i + 1 < argc)
      {
         value = argv[++i];
      }
      else
      {
         return UsageError("option " + a + " needs a value", command);
      }
      uint64_t n;
      if (a == "-v")
      {
         if (!strcmp(value, "1"))
            o->version = SNMP_VERSION_1;
         else if (!strcmp(value, "2c") || !strcmp(value, "2"))
            o->version = SNMP_VERSION_2C;
         else
            return UsageError("invalid version '" + std::string(value) + "' (use 1 or 2c)", command);
      }
      else if (a == "-c")
      {
         o->community = value;
      }
      else if (a == "-t")
      {
         if (!ParseUnsigned(value, 0xFFFFFFFEu, &n) || n == 0)
            return UsageError("invalid time-out '" + std::string(value) + "'", command);
         o->timeout = (uint32_t)n;
      }
      else if (a == "-r")
      {
         if (!ParseUnsigned(value, 1000, &n) || n == 0)
            return UsageError("invalid number of attempts '" + std::string(value) + "'", command);
         o->attempts = (uint32_t)n;
      }
      else
      {
         return UsageError("unknown option " + a, command);
      }
   }
   if (i >= argc)
      return UsageError("missing HOST", command);
   std::string error;
   if (!ParseTarget(argv[i], &o->target, &error))
      return UsageError(error, command);
   for (i++; i < argc; i++)
      o->args.push_back(argv[i]);
   return EXIT_OK;
}

int main(int argc, char **argv)
{
   if (argc < 2)
      return UsageError("missing command");
   std::string command = argv[1];
   if (command == "--help" || command == "-h" || command == "help")
   {
      fputs(kUsage, stdout);
      return EXIT_OK;
   }
   auto help = kCommandHelp.find(command);
   if (help == kCommandHelp.end())
      return UsageError("unknown command '" + command + "'");
   if (WantsHelp(argc - 2, argv + 2))
   {
      fputs(help->second.c_str(), stdout);
      return EXIT_OK;
   }
   int n = argc - 2;
   char **args = argv + 2;
   if (command == "get")
      return CmdGet("get", SNMP_CMD_GET_REQUEST, n, args);
   if (command == "next")
      return CmdGet("next", SNMP_CMD_GET_NEXT_REQUEST, n, args);
   if (command == "walk")
      return CmdWalk(n, args);
   if (command == "set")
      return CmdSet(n, args);
   if (command == "traps")
      return CmdTraps(n, args);
   return CmdMib(n, args);
}
