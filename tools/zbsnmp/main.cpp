// zbsnmp: SNMP v1/v2c/v3 manager commands and MIB tree files from the shell.
// Dispatch, usage and the options every request command shares.
#include <arpa/inet.h>
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "cli.h"

// ---- Usage ----

static const char *const kUsage =
    "usage: zbsnmp COMMAND [OPTIONS] ARGS...\n"
    "\n"
    "commands:\n"
    "  get   [-v 1|2c|3] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] OID...\n"
    "  next  [-v 1|2c|3] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] OID...\n"
    "  walk  [-v 1|2c|3] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] [-Cr N] [--getnext] HOST[:PORT] [OID]\n"
    "  bulkget [-v 2c|3] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] [-Cn N] [-Cr N] HOST[:PORT] OID...\n"
    "  set   [-v 1|2c|3] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] OID TYPE VALUE...\n"
    "  traps [-p PORT] [-a ADDRESS] [-n COUNT] [-t TIMEOUT_MS] [-U USERS] [-m FILE] [-On]\n"
    "  poll  -f TARGETS [-v 1|2c|3] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] [-o text|json] OID...\n"
    "  mib print FILE\n"
    "  mib info FILE\n"
    "  mib export FILE\n"
    "  mib build [-z] [--no-descriptions] TSV FILE\n"
    "  mib compile [-z] [--no-descriptions] [-v] [-o FILE] DIR|FILE...\n"
    "\n"
    "SNMPv3 (-v 3), on every request command, as Net-SNMP's tools take it:\n"
    "  -u USER -l noAuthNoPriv|authNoPriv|authPriv -a MD5|SHA|SHA-224|SHA-256|SHA-384|SHA-512\n"
    "  -A PASSWORD -x DES|AES|AES-192|AES-256|AES-192-C|AES-256-C -X PASSWORD [-e ENGINEID]\n"
    "  [-E CONTEXTENGINEID] [-n CONTEXT]\n"
    "\n"
    "Request commands and traps also take -m FILE (a MIB tree file; default $ZBSNMP_MIBS):\n"
    "OIDs may then be names (IF-MIB::ifDescr.3) and output follows Net-SNMP's tools;\n"
    "-On keeps OIDs as numbers.\n"
    "\n"
    "Run 'zbsnmp COMMAND --help' for the details of a command.\n";

static const std::map<std::string, std::string> kCommandHelp = {
   {"get",
    "usage: zbsnmp get [-v 1|2c|3] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] OID...\n"
    "Sends one GET request for the given OIDs and prints the bindings of the answer.\n"
    "  -v VERSION    SNMP version, 1 or 2c (default 2c)\n"
    "  -c COMMUNITY  community (default public)\n"
    "  -t TIMEOUT_MS time-out of each attempt in milliseconds (default 1000)\n"
    "  -r ATTEMPTS   number of attempts (default 3)\n"
    "  -m FILE       MIB tree file (default: $ZBSNMP_MIBS): OIDs may be names, and the\n"
    "                output shows names and values as Net-SNMP's tools do\n"
    "  -On           with a MIB tree, OIDs printed as numbers\n"
    "  HOST[:PORT]   agent name, IPv4 address or IPv6 address, port 161 by default:\n"
    "                router, 192.0.2.7:1161, 2001:db8::7, [2001:db8::7]:1161; udp:HOST\n"
    "                asks for IPv4 only, udp6:HOST for IPv6 only (udp6:[::1]:1161)\n"
    "SNMPv3 (-v 3; any of these options alone implies it):\n"
    "  -u USER       security name (user)\n"
    "  -l LEVEL      noAuthNoPriv, authNoPriv or authPriv (default: what the passwords\n"
    "                given allow)\n"
    "  -a PROTOCOL   MD5 (default), SHA, SHA-224, SHA-256, SHA-384 or SHA-512\n"
    "  -A PASSWORD   authentication password\n"
    "  -x PROTOCOL   DES (default), AES, AES-192, AES-256, AES-192-C or AES-256-C (the\n"
    "                AES-192/256 key extension many Cisco devices use)\n"
    "  -X PASSWORD   privacy password\n"
    "  -e ENGINEID   the agent's engine ID in hex (default: discovered)\n"
    "  -E ENGINEID   context engine ID (default: the agent's)\n"
    "  -n CONTEXT    context name (default: empty)\n"},
   {"next",
    "usage: zbsnmp next [-v 1|2c|3] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] OID...\n"
    "Sends one GET-NEXT request and prints the bindings of the answer.\n"
    "Options as for 'zbsnmp get'.\n"},
   {"walk",
    "usage: zbsnmp walk [-v 1|2c|3] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] [-Cr N] [--getnext]\n"
    "                   HOST[:PORT] [OID]\n"
    "Walks the subtree under OID (default .1.3.6.1.2.1) until the answer leaves the subtree,\n"
    "the agent reports the end of its view, or an OID does not increase. SNMPv2c and SNMPv3\n"
    "walk with GETBULK requests, SNMPv1 with GET-NEXT ones.\n"
    "  -Cr N         max-repetitions of each GETBULK (default 25)\n"
    "  --getnext     walk with GET-NEXT requests in SNMPv2c too\n"
    "Other options as for 'zbsnmp get'.\n"},
   {"bulkget",
    "usage: zbsnmp bulkget [-v 2c|3] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] [-Cn N] [-Cr N]\n"
    "                      HOST[:PORT] OID...\n"
    "Sends one GETBULK request (SNMPv2c or SNMPv3) and prints the bindings of the answer: the successor\n"
    "of each of the first N OIDs once, and up to max-repetitions successors of each other one.\n"
    "  -Cn N         non-repeaters (default 0)\n"
    "  -Cr N         max-repetitions (default 10)\n"
    "Other options as for 'zbsnmp get'.\n"},
   {"set",
    "usage: zbsnmp set [-v 1|2c|3] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS] HOST[:PORT] OID TYPE "
    "VALUE [OID TYPE VALUE ...]\n"
    "Sends one SET request. TYPE is one of INT, INTEGER, STRING, OID, IPADDR, COUNTER32,\n"
    "GAUGE32, TIMETICKS, COUNTER64, UINT32, UINTEGER32 (any letter case).\n"
    "Options as for 'zbsnmp get' (the community defaults to public: pass -c for a write\n"
    "community).\n"},
   {"traps",
    "usage: zbsnmp traps [-p PORT] [-a ADDRESS] [-n COUNT] [-t TIMEOUT_MS] [-U USERS] [-m FILE] [-On]\n"
    "Listens for SNMP v1, v2c and v3 traps and informs on a UDP port and prints each one;\n"
    "every inform is acknowledged to its sender.\n"
    "  -U USERS      SNMPv3 users, one a line: USER ENGINEID [AUTH AUTHPASS [PRIV PRIVPASS]]\n"
    "                ENGINEID: the sender's snmpEngineID in hex for its traps, or - for\n"
    "                informs (sent to this listener's engine, which they discover); AUTH\n"
    "                and PRIV as -a and -x of 'zbsnmp get'; the level is the one the line's\n"
    "                passwords make, and lower ones are refused; '#' starts a comment\n"
    "  -p PORT       UDP port (default 162, which needs privileges)\n"
    "  -a ADDRESS    local IPv4 or IPv6 address to listen on (default: every local address,\n"
    "                IPv6 and IPv4)\n"
    "  -n COUNT      stop after COUNT traps (default: run until interrupted)\n"
    "  -t TIMEOUT_MS give up when no trap comes for this long (default: wait for ever)\n"
    "  -m FILE, -On  MIB tree file and numeric OIDs, as for 'zbsnmp get'\n"},
   {"poll",
    "usage: zbsnmp poll -f TARGETS [-v 1|2c] [-c COMMUNITY] [-t TIMEOUT_MS] [-r ATTEMPTS]\n"
    "                   [--window N] [--rate N] [--backoff] [-o text|json] OID...\n"
    "       zbsnmp poll -f TARGETS --walk [-Cr N | --getnext] [OPTIONS] OID\n"
    "GETs the OIDs from every agent of TARGETS at once (or, with --walk, walks the subtree\n"
    "under OID of every agent), over one socket, and prints each answer as it comes; a\n"
    "summary (answered, timed out, errors, time) goes to standard error, with a progress\n"
    "line while it runs when standard error is a terminal.\n"
    "  -f TARGETS    one agent a line: HOST[:PORT] [COMMUNITY or SNMPv3 USER] ('#' starts a\n"
    "                comment)\n"
    "  -v, -c        version and community of agents whose line names none (default 2c, public)\n"
    "  -v 3 -u -l -a -A -x -X -e -n   SNMPv3 as for 'zbsnmp get'; a line's USER takes the same\n"
    "                methods and passwords, or its own from -U USERS (one user a line: USER\n"
    "                ENGINEID|- [AUTH AUTHPASS [PRIV PRIVPASS]], as 'traps' reads it)\n"
    "  -t TIMEOUT_MS time-out of each attempt (default 1000)\n"
    "  -r ATTEMPTS   number of attempts (default 2)\n"
    "  --window N    most requests outstanding at once (default 10000)\n"
    "  --rate N      most new requests per second (default: no limit)\n"
    "  --backoff     each retransmission waits twice as long as the one before\n"
    "  -m FILE, -On  MIB tree file: OIDs may be names, text lines show names (JSON keeps\n"
    "                numbers); -On keeps numbers in text too\n"
    "  --walk        walk the subtree: GETBULK requests (-Cr N repetitions each, default 50)\n"
    "                in SNMPv2c, GET-NEXT in SNMPv1 or with --getnext\n"
    "  -o FORMAT     text (default): AGENT OID = VALUE lines; json: one JSON object a line,\n"
    "                {\"agent\",\"oid\",\"type\",\"value\"} or {\"agent\",\"error\"}\n"
    "Exit status: 0 when every agent answered, 1 otherwise, 2 for a usage error.\n"},
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

// Numbers on the command line are decimal, as Net-SNMP's tools read them: a
// leading zero is no octal prefix, and "0x10" is no number.
bool ParseUnsigned(const char *text, uint64_t max, uint64_t *out)
{
   if (text == nullptr || *text == 0 || *text == '-' || *text == '+' || *text == ' ')
      return false;
   errno = 0;
   char *end = nullptr;
   unsigned long long v = strtoull(text, &end, 10);
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
   long long v = strtoll(text, &end, 10);
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


bool CheckIpv6Text(const std::string &host, const std::string &original, std::string *error)
{
   if (host.find('%') != std::string::npos)
   {
      *error = "IPv6 zones are not supported: '" + original + "'";
      return false;
   }
   struct in6_addr addr;
   if (inet_pton(AF_INET6, host.c_str(), &addr) != 1)
   {
      *error = "invalid IPv6 address '" + host + "' in '" + original + "'";
      return false;
   }
   return true;
}

static bool TakePort(const std::string &text, const std::string &original, Target *out,
                     std::string *error)
{
   uint64_t port;
   if (!ParseUnsigned(text.c_str(), 65535, &port) || port == 0)
   {
      *error = "invalid port in '" + original + "'";
      return false;
   }
   out->port = (uint16_t)port;
   return true;
}

bool ParseTarget(const char *text, Target *out, std::string *error)
{
   const std::string original = text;
   std::string s = original;
   int family = AF_UNSPEC;
   std::string lower = s.substr(0, 5);
   for (char &ch : lower)
      ch = (char)tolower((unsigned char)ch);
   if (lower.rfind("udp6:", 0) == 0)
   {
      family = AF_INET6;
      s = s.substr(5);
   }
   else if (lower.rfind("udp:", 0) == 0)
   {
      family = AF_INET;
      s = s.substr(4);
   }
   bool ipv6 = false;
   if (!s.empty() && s[0] == '[')
   {
      // [IPV6] or [IPV6]:PORT
      size_t close = s.find(']');
      if (close == std::string::npos)
      {
         *error = "invalid address '" + original + "': no ']' after the IPv6 address";
         return false;
      }
      std::string rest = s.substr(close + 1);
      s = s.substr(1, close - 1);
      if (!rest.empty() && (rest[0] != ':' || !TakePort(rest.substr(1), original, out, error)))
      {
         if (rest[0] != ':')
            *error = "invalid address '" + original + "': expected ':PORT' after ']'";
         return false;
      }
      ipv6 = true;
   }
   else if (std::count(s.begin(), s.end(), ':') >= 2)
   {
      ipv6 = true;  // a bare IPv6 address, no port (brackets give one)
   }
   else if (s.find(':') != std::string::npos)
   {
      size_t colon = s.find(':');
      if (!TakePort(s.substr(colon + 1), original, out, error))
         return false;
      s = s.substr(0, colon);
   }
   if (s.empty())
   {
      *error = "invalid host '" + original + "'";
      return false;
   }
   if (ipv6 || s.find('%') != std::string::npos)
   {
      if (!CheckIpv6Text(s, original, error))
         return false;
      if (family == AF_INET)
      {
         *error = "'udp:' is for IPv4: use 'udp6:' for '" + original + "'";
         return false;
      }
      family = AF_INET6;
   }
   out->host = s;
   out->family = family;
   return true;
}

std::string TargetText(const Target &target)
{
   bool ipv6 = target.host.find(':') != std::string::npos;
   return (ipv6 ? "[" + target.host + "]" : target.host) + ":" + std::to_string(target.port);
}


OptionWord ClassifyWord(const std::string &a)
{
   if (a == "--")
      return OPTIONS_END;
   if (a.size() < 2 || a[0] != '-' || isdigit((unsigned char)a[1]) || a[1] == '.')
      return ARGUMENT;
   return OPTION_WORD;
}

int ParseRequestOptions(const char *command, int argc, char **argv, RequestOptions *o)
{
   o->command = command;
   int i = 0;
   for (; i < argc; i++)
   {
      std::string a = argv[i];
      OptionWord word = ClassifyWord(a);
      if (word != OPTION_WORD)
      {
         i += (word == OPTIONS_END);
         break;
      }
      if (a == "--getnext")
      {
         if (strcmp(command, "walk") != 0)
            return UsageError("option --getnext is for walk", command);
         o->getNext = true;
         continue;
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
      int security = ParseSecurityOption(a, value, &o->security, command);
      if (security != -1)
      {
         if (security != EXIT_OK)
            return security;
         o->security.given = true;
      }
      else if (a == "-v")
      {
         o->versionGiven = true;
         if (!strcmp(value, "1"))
            o->version = SNMP_VERSION_1;
         else if (!strcmp(value, "2c") || !strcmp(value, "2"))
            o->version = SNMP_VERSION_2C;
         else if (!strcmp(value, "3"))
            o->version = SNMP_VERSION_3;
         else
            return UsageError("invalid version '" + std::string(value) + "' (use 1, 2c or 3)",
                              command);
      }
      else if (a == "-c")
      {
         o->community = value;
      }
      else if (a == "-m")
      {
         o->mibFile = value;
      }
      else if (a == "-O")
      {
         if (strcmp(value, "n") != 0)
            return UsageError("invalid output option '-O" + std::string(value) + "' (use -On)", command);
         o->numericOids = true;
      }
      else if (a == "-C")
      {
         // -Cr N, -CrN, -C rN: max-repetitions; -Cn N: non-repeaters (bulkget).
         bool bulkget = !strcmp(command, "bulkget");
         char flag = value[0];
         if (strcmp(command, "walk") != 0 && !bulkget)
            return UsageError("option -C is for walk and bulkget", command);
         if (flag != 'r' && !(flag == 'n' && bulkget))
            return UsageError("unknown option -C" + std::string(value), command);
         const char *number = value + 1;
         if (*number == 0)
         {
            if (i + 1 >= argc)
               return UsageError(std::string("option -C") + flag + " needs a value", command);
            number = argv[++i];
         }
         // RFC 3416: both are INTEGER (0..2147483647); a walk needs at least one repetition.
         uint64_t least = (flag == 'r' && !bulkget) ? 1 : 0;
         if (!ParseUnsigned(number, 0x7FFFFFFF, &n) || n < least)
            return UsageError(std::string(flag == 'r' ? "invalid max-repetitions '"
                                                      : "invalid non-repeaters '") +
                                  number + "' (" + std::to_string(least) + " to 2147483647)",
                              command);
         (flag == 'r' ? o->maxRepetitions : o->nonRepeaters) = (uint32_t)n;
         o->maxRepetitionsGiven |= (flag == 'r');
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
   // The SNMPv3 options ask for SNMPv3: given alone they imply it.
   if (o->security.given && !o->versionGiven)
      o->version = SNMP_VERSION_3;
   if (o->security.given && o->version != SNMP_VERSION_3)
      return UsageError("options -u, -l, -a, -A, -x, -X, -e, -E and -n are for SNMPv3 (-v 3)",
                        command);
   if (i >= argc)
      return UsageError("missing HOST", command);
   std::string error;
   if (!ParseTarget(argv[i], &o->target, &error))
      return UsageError(error, command);
   for (i++; i < argc; i++)
      o->args.push_back(argv[i]);
   return LoadMibTree(o->mibFile, o->numericOids);
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
   if (command == "bulkget")
      return CmdBulkGet(n, args);
   if (command == "set")
      return CmdSet(n, args);
   if (command == "traps")
      return CmdTraps(n, args);
   if (command == "poll")
      return CmdPoll(n, args);
   return CmdMib(n, args);
}
