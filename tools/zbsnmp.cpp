// zbsnmp: SNMP v1/v2c manager commands and MIB tree files from the shell.
// Built on the library's public header alone.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "zbsnmp.h"

enum ExitCode
{
   EXIT_OK = 0,
   EXIT_FAILURE_SNMP = 1,
   EXIT_USAGE = 2,
};

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
    "  mib build [-z] [--no-descriptions] TSV FILE\n"
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
    "       zbsnmp mib build [-z] [--no-descriptions] TSV FILE\n"
    "print: the tree of a MIB tree file, one node per line.\n"
    "info:  creation time (UTC), flags, number of nodes and depth of the tree.\n"
    "build: makes a MIB tree file from a table of OID, name, type, access, status and module\n"
    "       (tab-separated, '#' comments); -z compresses the body; --no-descriptions leaves the\n"
    "       module names out.\n"},
};

static int UsageError(const std::string &message, const char *command = nullptr)
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

static bool ParseUnsigned(const char *text, uint64_t max, uint64_t *out)
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

static bool ParseSigned32(const char *text, int32_t *out)
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

static bool ParseOid(const char *text, std::vector<uint32_t> *out)
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

static std::string OidText(const std::vector<uint32_t> &oid)
{
   std::string s;
   for (uint32_t v : oid)
      s += "." + std::to_string(v);
   return s;
}

struct Target
{
   std::string host;
   uint16_t port = 161;
};

static bool ParseTarget(const char *text, Target *out, std::string *error)
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

// ---- Output ----

static const char *ErrorStatusName(uint32_t code)
{
   static const char *const names[] = {
      "noError",        "tooBig",          "noSuchName",          "badValue",
      "readOnly",       "genErr",          "noAccess",            "wrongType",
      "wrongLength",    "wrongEncoding",   "wrongValue",          "noCreation",
      "inconsistentValue", "resourceUnavailable", "commitFailed", "undoFailed",
      "authorizationError", "notWritable",  "inconsistentName",
   };
   return code < sizeof(names) / sizeof(names[0]) ? names[code] : "unknownError";
}

static std::string FormatValue(SNMP_Variable *v)
{
   char buf[2048];
   const uint8_t *value = v->GetValue();
   uint32_t len = v->GetValueLength();
   switch (v->GetType())
   {
      case ASN_TYPE_INTEGER:
         return std::string("INTEGER: ") + v->GetValueAsString(buf, sizeof(buf));
      case ASN_TYPE_COUNTER32:
         return std::string("Counter32: ") + v->GetValueAsString(buf, sizeof(buf));
      case ASN_TYPE_GAUGE32:
         return std::string("Gauge32: ") + v->GetValueAsString(buf, sizeof(buf));
      case ASN_TYPE_UINTEGER32:
         return std::string("UInteger32: ") + v->GetValueAsString(buf, sizeof(buf));
      case ASN_TYPE_COUNTER64:
         return std::string("Counter64: ") + v->GetValueAsString(buf, sizeof(buf));
      case ASN_TYPE_TIMETICKS:
      {
         uint32_t t = v->GetValueAsUInt();
         uint32_t days = t / 8640000;
         char dayText[32] = "";
         if (days > 0)
            snprintf(dayText, sizeof(dayText), "%u day%s, ", days, days == 1 ? "" : "s");
         snprintf(buf, sizeof(buf), "Timeticks: (%u) %s%u:%02u:%02u.%02u", t, dayText,
                  (t / 360000) % 24, (t / 6000) % 60, (t / 100) % 60, t % 100);
         return buf;
      }
      case ASN_TYPE_OBJECT_ID:
      {
         std::unique_ptr<SNMP_ObjectId> oid(v->GetValueAsObjectId());
         return std::string("OID: ") + oid->GetValueAsText();
      }
      case ASN_TYPE_IP_ADDRESS:
         if (len == 4)
            return std::string("IpAddress: ") + v->GetValueAsIPAddr(buf);
         break;
      case ASN_TYPE_NULL:
         return "NULL";
      case ASN_TYPE_NO_SUCH_OBJECT:
         return "noSuchObject";
      case ASN_TYPE_NO_SUCH_INSTANCE:
         return "noSuchInstance";
      case ASN_TYPE_END_OF_MIB_VIEW:
         return "endOfMibView";
      case ASN_TYPE_OCTET_STRING:
      {
         bool printable = true;
         for (uint32_t i = 0; i < len; i++)
         {
            uint8_t c = value[i];
            if ((c < 0x20 || c > 0x7E) && c != '\n' && c != '\r' && c != '\t' &&
                !(c == 0 && i == len - 1))
               printable = false;
         }
         if (len == 0)
            return "\"\"";  // as the Net-SNMP tools show an empty string
         if (printable)
         {
            std::string s = "STRING: \"";
            for (uint32_t i = 0; i < len && value[i] != 0; i++)
            {
               if (value[i] == '"' || value[i] == '\\')
                  s += '\\';
               s += (char)value[i];
            }
            return s + "\"";
         }
         break;
      }
      default:
         break;
   }
   std::string s = (v->GetType() == ASN_TYPE_OCTET_STRING) ? "Hex-STRING:" : "";
   if (s.empty())
   {
      snprintf(buf, sizeof(buf), "Wrong Type (0x%02X): Hex-STRING:", (unsigned)v->GetType());
      s = buf;
   }
   for (uint32_t i = 0; i < len; i++)
   {
      snprintf(buf, sizeof(buf), " %02X", value[i]);
      s += buf;
   }
   return s;
}

static void PrintBinding(SNMP_Variable *v)
{
   printf("%s = %s\n", v->GetName()->GetValueAsText(), FormatValue(v).c_str());
}

// ---- Requests ----

struct RequestOptions
{
   const char *command = nullptr;
   uint32_t version = SNMP_VERSION_2C;
   std::string community = "public";
   uint32_t timeout = 1000;
   uint32_t attempts = 3;
   Target target;
   std::vector<std::string> args;
};

static int ParseRequestOptions(const char *command, int argc, char **argv, RequestOptions *o)
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

class Session
{
public:
   int Open(const RequestOptions &o)
   {
      m_options = o;
      uint32_t rc = m_transport.CreateUDPTransport(o.target.host.c_str(), 0, o.target.port);
      if (rc == SNMP_RC_BAD_HOSTNAME)
         return UsageError(std::string(SNMPGetErrorText(rc)) + ": '" + o.target.host + "'",
                           o.command);
      if (rc != SNMP_RC_SUCCESS)
      {
         fprintf(stderr, "zbsnmp: %s\n", SNMPGetErrorText(rc));
         return EXIT_FAILURE_SNMP;
      }
      m_requestId = ((uint32_t)time(nullptr) ^ ((uint32_t)getpid() << 16)) & 0x7FFFFFFF;
      return EXIT_OK;
   }

   // One exchange; on failure prints the reason and returns NULL.
   std::unique_ptr<SNMP_PDU> Request(SNMP_PDU *request)
   {
      request->SetRequestId(++m_requestId & 0x7FFFFFFF);
      SNMP_PDU *response = nullptr;
      uint32_t rc = m_transport.DoRequest(request, &response, m_options.timeout, m_options.attempts);
      if (rc != SNMP_RC_SUCCESS)
      {
         fprintf(stderr, "zbsnmp: %s (%s:%u)\n", SNMPGetErrorText(rc), m_options.target.host.c_str(),
                 m_options.target.port);
         return nullptr;
      }
      return std::unique_ptr<SNMP_PDU>(response);
   }

   const RequestOptions &Options() const { return m_options; }

private:
   SNMP_UDPTransport m_transport;
   RequestOptions m_options;
   uint32_t m_requestId = 0;
};

// Prints the bindings, or the agent's error; returns the exit code.
static int ReportResponse(SNMP_PDU *response)
{
   if (response->GetErrorCode() != 0)
   {
      uint32_t index = response->GetErrorIndex();
      fprintf(stderr, "zbsnmp: agent error: %s (error index %u)", ErrorStatusName(response->GetErrorCode()),
              index);
      if (index >= 1 && index <= response->GetNumVariables())
         fprintf(stderr, " at %s", response->GetVariable(index - 1)->GetName()->GetValueAsText());
      fprintf(stderr, "\n");
      return EXIT_FAILURE_SNMP;
   }
   for (uint32_t i = 0; i < response->GetNumVariables(); i++)
      PrintBinding(response->GetVariable(i));
   return EXIT_OK;
}

static int CmdGet(const char *command, uint32_t pduCommand, int argc, char **argv)
{
   RequestOptions o;
   int rc = ParseRequestOptions(command, argc, argv, &o);
   if (rc != EXIT_OK)
      return rc;
   if (o.args.empty())
      return UsageError("missing OID", command);
   std::vector<std::vector<uint32_t>> oids;
   for (const std::string &a : o.args)
   {
      std::vector<uint32_t> oid;
      if (!ParseOid(a.c_str(), &oid))
         return UsageError("invalid OID '" + a + "'", command);
      oids.push_back(oid);
   }
   Session session;
   if ((rc = session.Open(o)) != EXIT_OK)
      return rc;
   SNMP_PDU request(pduCommand, o.community.c_str(), 0, o.version);
   for (auto &oid : oids)
      request.BindVariable(new SNMP_Variable(oid.data(), (uint32_t)oid.size()));
   auto response = session.Request(&request);
   if (!response)
      return EXIT_FAILURE_SNMP;
   return ReportResponse(response.get());
}

// Lexicographic order of two OIDs: <0, 0, >0.
static int OidOrder(const uint32_t *a, uint32_t an, const uint32_t *b, uint32_t bn)
{
   for (uint32_t i = 0; i < an && i < bn; i++)
      if (a[i] != b[i])
         return a[i] < b[i] ? -1 : 1;
   return (an == bn) ? 0 : (an < bn ? -1 : 1);
}

static int CmdWalk(int argc, char **argv)
{
   RequestOptions o;
   int rc = ParseRequestOptions("walk", argc, argv, &o);
   if (rc != EXIT_OK)
      return rc;
   if (o.args.size() > 1)
      return UsageError("walk takes one OID", "walk");
   std::vector<uint32_t> root = {1, 3, 6, 1, 2, 1};
   if (!o.args.empty() && !ParseOid(o.args[0].c_str(), &root))
      return UsageError("invalid OID '" + o.args[0] + "'", "walk");
   Session session;
   if ((rc = session.Open(o)) != EXIT_OK)
      return rc;
   std::vector<uint32_t> current = root;
   uint32_t count = 0;
   for (;;)
   {
      SNMP_PDU request(SNMP_CMD_GET_NEXT_REQUEST, o.community.c_str(), 0, o.version);
      request.BindVariable(new SNMP_Variable(current.data(), (uint32_t)current.size()));
      auto response = session.Request(&request);
      if (!response)
         return EXIT_FAILURE_SNMP;
      if (response->GetErrorCode() == 2 && o.version == SNMP_VERSION_1)
         break;  // noSuchName: the end of the agent's view
      if (response->GetErrorCode() != 0)
         return ReportResponse(response.get());
      SNMP_Variable *v = response->GetVariable(0);
      if (v == nullptr || v->GetType() == ASN_TYPE_END_OF_MIB_VIEW)
         break;
      SNMP_ObjectId *name = v->GetName();
      if (name->Length() <= root.size() ||
          name->Compare(root.data(), (uint32_t)root.size()) != OID_CMP_LONGER)
         break;  // left the subtree
      if (OidOrder(name->GetValue(), name->Length(), current.data(), (uint32_t)current.size()) <= 0)
      {
         fprintf(stderr, "zbsnmp: OID not increasing: %s\n", name->GetValueAsText());
         return EXIT_FAILURE_SNMP;
      }
      PrintBinding(v);
      count++;
      current.assign(name->GetValue(), name->GetValue() + name->Length());
   }
   if (count == 0)
   {
      // Nothing below the OID: it may be a leaf itself.
      SNMP_PDU request(SNMP_CMD_GET_REQUEST, o.community.c_str(), 0, o.version);
      request.BindVariable(new SNMP_Variable(root.data(), (uint32_t)root.size()));
      auto response = session.Request(&request);
      if (response && response->GetErrorCode() == 0 && response->GetNumVariables() == 1)
      {
         uint32_t type = response->GetVariable(0)->GetType();
         if (type != ASN_TYPE_NO_SUCH_OBJECT && type != ASN_TYPE_NO_SUCH_INSTANCE &&
             type != ASN_TYPE_END_OF_MIB_VIEW)
            PrintBinding(response->GetVariable(0));
      }
   }
   return EXIT_OK;
}

// Checks a SET value against its type before anything is sent.
static bool ValidValue(uint32_t type, const char *value)
{
   uint64_t u;
   int32_t s;
   struct in_addr addr;
   switch (type)
   {
      case ASN_TYPE_INTEGER: return ParseSigned32(value, &s);
      case ASN_TYPE_COUNTER32:
      case ASN_TYPE_GAUGE32:
      case ASN_TYPE_TIMETICKS:
      case ASN_TYPE_UINTEGER32: return ParseUnsigned(value, 0xFFFFFFFFu, &u);
      case ASN_TYPE_COUNTER64: return ParseUnsigned(value, UINT64_MAX, &u);
      case ASN_TYPE_IP_ADDRESS: return inet_pton(AF_INET, value, &addr) == 1;
      case ASN_TYPE_OBJECT_ID:
      {
         std::vector<uint32_t> oid;
         return ParseOid(value, &oid);
      }
      default: return true;
   }
}

static int CmdSet(int argc, char **argv)
{
   RequestOptions o;
   int rc = ParseRequestOptions("set", argc, argv, &o);
   if (rc != EXIT_OK)
      return rc;
   if (o.args.empty() || o.args.size() % 3 != 0)
      return UsageError("expected OID TYPE VALUE triples", "set");
   std::vector<std::unique_ptr<SNMP_Variable>> vars;
   for (size_t i = 0; i < o.args.size(); i += 3)
   {
      std::vector<uint32_t> oid;
      if (!ParseOid(o.args[i].c_str(), &oid))
         return UsageError("invalid OID '" + o.args[i] + "'", "set");
      uint32_t type = SNMPResolveDataType(o.args[i + 1].c_str());
      if (type == ASN_TYPE_NULL)
         return UsageError("invalid type '" + o.args[i + 1] + "'", "set");
      if (!ValidValue(type, o.args[i + 2].c_str()))
         return UsageError("invalid value '" + o.args[i + 2] + "' for type " + o.args[i + 1], "set");
      auto v = std::make_unique<SNMP_Variable>(oid.data(), (uint32_t)oid.size());
      v->SetValueFromString(type, o.args[i + 2].c_str());
      vars.push_back(std::move(v));
   }
   Session session;
   if ((rc = session.Open(o)) != EXIT_OK)
      return rc;
   SNMP_PDU request(SNMP_CMD_SET_REQUEST, o.community.c_str(), 0, o.version);
   for (auto &v : vars)
      request.BindVariable(v.release());
   auto response = session.Request(&request);
   if (!response)
      return EXIT_FAILURE_SNMP;
   return ReportResponse(response.get());
}

// ---- Traps ----

static const char *GenericTrapName(int type)
{
   static const char *const names[] = {"coldStart", "warmStart", "linkDown", "linkUp",
                                       "authenticationFailure", "egpNeighborLoss",
                                       "enterpriseSpecific"};
   return (type >= 0 && type <= 6) ? names[type] : "unknown";
}

static int CmdTraps(int argc, char **argv)
{
   uint64_t port = 162, count = 0, timeout = 0xFFFFFFFF;
   for (int i = 0; i < argc; i++)
   {
      std::string a = argv[i];
      if (i + 1 >= argc)
         return UsageError(a[0] == '-' ? "option " + a + " needs a value" : "unexpected argument '" + a + "'",
                           "traps");
      const char *value = argv[++i];
      if (a == "-p")
      {
         if (!ParseUnsigned(value, 65535, &port) || port == 0)
            return UsageError("invalid port '" + std::string(value) + "'", "traps");
      }
      else if (a == "-n")
      {
         if (!ParseUnsigned(value, 0xFFFFFFFFu, &count) || count == 0)
            return UsageError("invalid count '" + std::string(value) + "'", "traps");
      }
      else if (a == "-t")
      {
         if (!ParseUnsigned(value, 0xFFFFFFFEu, &timeout) || timeout == 0)
            return UsageError("invalid time-out '" + std::string(value) + "'", "traps");
      }
      else
      {
         return UsageError("unknown option " + a, "traps");
      }
   }
   int s = socket(AF_INET, SOCK_DGRAM, 0);
   struct sockaddr_in sa;
   memset(&sa, 0, sizeof(sa));
   sa.sin_family = AF_INET;
   sa.sin_addr.s_addr = htonl(INADDR_ANY);
   sa.sin_port = htons((uint16_t)port);
   if (s < 0 || bind(s, (struct sockaddr *)&sa, sizeof(sa)) != 0)
   {
      fprintf(stderr, "zbsnmp: cannot listen on UDP port %u: %s\n", (unsigned)port, strerror(errno));
      if (s >= 0)
         close(s);
      return EXIT_FAILURE_SNMP;
   }
   SNMP_UDPTransport listener(s);
   fprintf(stderr, "Listening for traps on UDP port %u\n", (unsigned)port);
   fflush(stderr);
   uint64_t received = 0;
   while (count == 0 || received < count)
   {
      SNMP_PDU *pdu = nullptr;
      struct sockaddr_in from;
      socklen_t fromLen = sizeof(from);
      int n = listener.Read(&pdu, (uint32_t)timeout, (struct sockaddr *)&from, &fromLen);
      if (n == 0 && timeout != 0xFFFFFFFF)
      {
         fprintf(stderr, "zbsnmp: %s\n", SNMPGetErrorText(SNMP_RC_TIMEOUT));
         return EXIT_FAILURE_SNMP;
      }
      if (n < 0)
      {
         fprintf(stderr, "zbsnmp: %s\n", SNMPGetErrorText(SNMP_RC_COMM_ERROR));
         return EXIT_FAILURE_SNMP;
      }
      if (n == 0)
         continue;
      std::unique_ptr<SNMP_PDU> trap(pdu);
      char addr[INET_ADDRSTRLEN] = "?";
      inet_ntop(AF_INET, &from.sin_addr, addr, sizeof(addr));
      if (!trap)
      {
         fprintf(stderr, "zbsnmp: %s (%d bytes from %s:%u)\n", SNMPGetErrorText(SNMP_RC_PARSE_ERROR),
                 n, addr, ntohs(from.sin_port));
         continue;
      }
      if (trap->GetCommand() != SNMP_CMD_TRAP)
         continue;  // not a trap: requests and responses are not ours to show
      received++;
      printf("Trap from %s:%u: version %s, community \"%s\"\n", addr, ntohs(from.sin_port),
             trap->GetVersion() == SNMP_VERSION_1 ? "1" : "2c", trap->GetCommunity());
      printf("  trap OID %s, generic %d (%s), specific %d\n", trap->GetTrapId()->GetValueAsText(),
             trap->GetTrapType(), GenericTrapName(trap->GetTrapType()), trap->GetSpecificTrapType());
      for (uint32_t i = 0; i < trap->GetNumVariables(); i++)
      {
         printf("  ");
         PrintBinding(trap->GetVariable(i));
      }
      fflush(stdout);
   }
   return EXIT_OK;
}

// ---- MIB tree files ----

static int ReportMibError(uint32_t rc, const char *file)
{
   fprintf(stderr, "zbsnmp: %s: %s\n", file, SNMPGetErrorText(rc));
   return EXIT_FAILURE_SNMP;
}

static int CmdMib(int argc, char **argv)
{
   if (argc < 1)
      return UsageError("missing mib command (print, info or build)", "mib");
   std::string sub = argv[0];
   if (sub == "print" || sub == "info")
   {
      if (argc != 2)
         return UsageError("mib " + sub + " takes one FILE", "mib");
      const char *file = argv[1];
      SNMP_MIBObject *root = nullptr;
      uint32_t rc = SNMPLoadMIBTree(file, &root);
      if (rc != SNMP_RC_SUCCESS)
         return ReportMibError(rc, file);
      std::unique_ptr<SNMP_MIBObject> tree(root);
      if (sub == "print")
      {
         tree->Print(0);
         return EXIT_OK;
      }
      uint32_t timestamp = 0;
      SNMPGetMIBTreeTimestamp(file, &timestamp);
      uint8_t header[16] = {0};
      FILE *f = fopen(file, "rb");
      if (f == nullptr || fread(header, 1, 16, f) != 16)
      {
         if (f)
            fclose(f);
         return ReportMibError(SNMP_RC_FILE_IO_ERROR, file);
      }
      fclose(f);
      uint32_t flags = ((uint32_t)header[8] << 8) | header[9];
      uint64_t nodes = 0;
      uint32_t depth = 0;
      std::vector<std::pair<SNMP_MIBObject *, uint32_t>> stack = {{tree.get(), 1}};
      while (!stack.empty())
      {
         auto item = stack.back();
         stack.pop_back();
         nodes++;
         if (item.second > depth)
            depth = item.second;
         for (SNMP_MIBObject *c = item.first->FirstChild(); c != nullptr; c = c->Next())
            stack.push_back({c, item.second + 1});
      }
      time_t t = (time_t)timestamp;
      struct tm tmv;
      gmtime_r(&t, &tmv);
      char when[32];
      strftime(when, sizeof(when), "%Y-%m-%dT%H:%M:%SZ", &tmv);
      std::string flagText;
      if (flags & MIB_SAVE_COMPRESS)
         flagText += " compressed";
      if (flags & MIB_SAVE_NO_DESCRIPTIONS)
         flagText += " no-descriptions";
      printf("file:      %s\n", file);
      printf("created:   %s\n", when);
      printf("flags:     0x%04X%s\n", flags, flagText.c_str());
      printf("nodes:     %llu\n", (unsigned long long)nodes);
      printf("depth:     %u\n", depth);
      return EXIT_OK;
   }
   if (sub == "build")
   {
      uint32_t flags = 0;
      std::vector<std::string> files;
      for (int i = 1; i < argc; i++)
      {
         std::string a = argv[i];
         if (a == "-z")
            flags |= MIB_SAVE_COMPRESS;
         else if (a == "--no-descriptions")
            flags |= MIB_SAVE_NO_DESCRIPTIONS;
         else if (!a.empty() && a[0] == '-')
            return UsageError("unknown option " + a, "mib");
         else
            files.push_back(a);
      }
      if (files.size() != 2)
         return UsageError("mib build takes TSV and FILE", "mib");
      std::ifstream in(files[0]);
      if (!in)
         return ReportMibError(SNMP_RC_FILE_IO_ERROR, files[0].c_str());
      // Attribute words are numbered in the order they first appear.
      std::map<std::string, int> codes[3];
      auto code = [&](int which, const std::string &word) {
         if (word == "-" || word.empty())
            return -1;
         auto it = codes[which].find(word);
         if (it != codes[which].end())
            return it->second;
         int c = (int)codes[which].size();
         codes[which][word] = c;
         return c;
      };
      std::unique_ptr<SNMP_MIBObject> root(new SNMP_MIBObject());
      std::string line;
      size_t lineNo = 0;
      while (std::getline(in, line))
      {
         lineNo++;
         if (line.empty() || line[0] == '#')
            continue;
         std::vector<std::string> f;
         std::stringstream ss(line);
         std::string field;
         while (std::getline(ss, field, '\t'))
            f.push_back(field);
         std::vector<uint32_t> oid;
         if (f.size() < 2 || !ParseOid(f[0].c_str(), &oid))
         {
            fprintf(stderr, "zbsnmp: %s:%zu: invalid line\n", files[0].c_str(), lineNo);
            return EXIT_FAILURE_SNMP;
         }
         SNMP_MIBObject *node = root.get();
         for (uint32_t id : oid)
         {
            SNMP_MIBObject *child = node->FindChildByID(id);
            if (child == nullptr)
            {
               child = new SNMP_MIBObject(id, nullptr);
               node->AddChild(child);
            }
            node = child;
         }
         if (node->Name() == nullptr)
         {
            node->SetName(f[1].c_str());
            node->SetInfo(code(0, f.size() > 2 ? f[2] : ""), code(2, f.size() > 4 ? f[4] : ""),
                          code(1, f.size() > 3 ? f[3] : ""),
                          (f.size() > 5 && f[5] != "-") ? f[5].c_str() : nullptr);
         }
      }
      uint32_t rc = SNMPSaveMIBTree(files[1].c_str(), root.get(), flags);
      if (rc != SNMP_RC_SUCCESS)
         return ReportMibError(rc, files[1].c_str());
      return EXIT_OK;
   }
   return UsageError("unknown mib command '" + sub + "'", "mib");
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
