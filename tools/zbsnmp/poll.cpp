// poll: a GET (or a walk) of every agent of a list at once, through the
// library's request engine.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"

namespace
{

struct Agent
{
   std::string name;   // as printed: host:port
   struct sockaddr_storage address;
   socklen_t addressLength = 0;
   std::string community;   // SNMPv1 and v2c; for SNMPv3 the user name (or "")
   SNMP_USMIdentity *identity = nullptr;   // SNMPv3
};

struct PollOptions
{
   std::string targets;
   uint32_t version = SNMP_VERSION_2C;
   std::string community = "public";
   uint32_t timeout = 1000;
   uint32_t attempts = 2;
   uint32_t window = 10000;
   uint32_t rate = 0;
   bool backoff = false;
   bool json = false;
   bool walk = false;
   uint32_t maxRepetitions = 50;  // of each GETBULK of a walk; 0 asks GET-NEXT
   std::vector<std::vector<uint32_t>> oids;
   std::string mibFile;        // -m FILE (else $ZBSNMP_MIBS): names in, names out in text
   bool numericOids = false;   // -On
   bool versionGiven = false;
   SecurityOptions security;   // SNMPv3: -u -l -a -A -x -X -e -E -n
   std::string usersFile;      // -U: SNMPv3 users by name, as 'traps' reads them
};

struct Totals
{
   uint64_t answered = 0;
   uint64_t timedOut = 0;
   uint64_t errors = 0;
   uint64_t done = 0;
};

struct PollState
{
   const PollOptions *options;
   std::vector<Agent> *agents;
   Totals totals;
};

PollState *g_state = nullptr;

std::string JsonEscape(const std::string &s)
{
   std::string out;
   for (unsigned char c : s)
   {
      if (c == '"' || c == '\\')
      {
         out += '\\';
         out += (char)c;
      }
      else if (c < 0x20)
      {
         char buf[8];
         snprintf(buf, sizeof(buf), "\\u%04x", c);
         out += buf;
      }
      else
         out += (char)c;
   }
   return out;
}

// A binding as one JSON object: the type in Net-SNMP's word, and the value
// as data (numbers as digits, an OCTET STRING as its octets, or as hex
// octets when they are no text, an OID and an address in dotted form).
std::string JsonBinding(const std::string &agent, SNMP_Variable *v)
{
   std::string type, value;
   char buf[64];
   switch (v->GetType())
   {
      case ASN_TYPE_OCTET_STRING:
      {
         const uint8_t *p = v->GetValue();
         uint32_t n = v->GetValueLength();
         bool printable = true;
         for (uint32_t i = 0; i < n; i++)
            if ((p[i] < 0x20 || p[i] > 0x7E) && !(p[i] >= '\t' && p[i] <= '\r'))
               printable = false;
         if (printable)
         {
            type = "STRING";  // also for the empty string, which Net-SNMP shows as ""
            value.assign((const char *)p, n);
         }
         else
         {
            type = "Hex-STRING";
            value.clear();
            for (uint32_t i = 0; i < n; i++)
            {
               snprintf(buf, sizeof(buf), i ? " %02X" : "%02X", p[i]);
               value += buf;
            }
         }
         break;
      }
      case ASN_TYPE_INTEGER:
      case ASN_TYPE_COUNTER32:
      case ASN_TYPE_GAUGE32:
      case ASN_TYPE_TIMETICKS:
      case ASN_TYPE_UINTEGER32:
      case ASN_TYPE_COUNTER64:
      {
         static const struct
         {
            uint32_t asn;
            const char *word;
         } words[] = {{ASN_TYPE_INTEGER, "INTEGER"},     {ASN_TYPE_COUNTER32, "Counter32"},
                      {ASN_TYPE_GAUGE32, "Gauge32"},     {ASN_TYPE_TIMETICKS, "Timeticks"},
                      {ASN_TYPE_UINTEGER32, "UInteger32"}, {ASN_TYPE_COUNTER64, "Counter64"}};
         for (const auto &w : words)
            if (w.asn == v->GetType())
               type = w.word;
         value = v->GetValueAsString(buf, sizeof(buf));
         break;
      }
      default:
      {
         // The rest as the tool prints them: "TYPE: value", or a word alone
         // (NULL and the exceptions).
         std::string text = FormatValue(v);
         size_t colon = text.find(": ");
         type = (colon != std::string::npos) ? text.substr(0, colon) : text;
         value = (colon != std::string::npos) ? text.substr(colon + 2) : std::string();
         break;
      }
   }
   return "{\"agent\":\"" + JsonEscape(agent) + "\",\"oid\":\"" + v->GetName()->GetValueAsText() +
          "\",\"type\":\"" + JsonEscape(type) + "\",\"value\":\"" + JsonEscape(value) + "\"}";
}

void ReportFailure(const Agent &agent, const char *what, const char *jsonWord)
{
   if (g_state->options->json)
      printf("{\"agent\":\"%s\",\"error\":\"%s\"}\n", JsonEscape(agent.name).c_str(), jsonWord);
   else
      printf("%s: %s\n", agent.name.c_str(), what);
}

void OnGetDone(uint32_t status, SNMP_PDU *response, void *context)
{
   PollState *state = g_state;
   const Agent &agent = (*state->agents)[(size_t)(uintptr_t)context];
   std::unique_ptr<SNMP_PDU> owned(response);
   state->totals.done++;
   if (status != SNMP_RC_SUCCESS)
   {
      if (status == SNMP_RC_TIMEOUT)
         state->totals.timedOut++;
      else
         state->totals.errors++;
      ReportFailure(agent, SNMPGetErrorText(status), status == SNMP_RC_TIMEOUT ? "timeout" : "error");
      return;
   }
   if (response->GetErrorCode() != 0)
   {
      state->totals.errors++;
      std::string what = std::string("agent error: ") + ErrorStatusName(response->GetErrorCode());
      if (state->options->json)
         printf("{\"agent\":\"%s\",\"error\":\"%s\"}\n", JsonEscape(agent.name).c_str(),
                ErrorStatusName(response->GetErrorCode()));
      else
         printf("%s: %s\n", agent.name.c_str(), what.c_str());
      return;
   }
   state->totals.answered++;
   for (uint32_t i = 0; i < response->GetNumVariables(); i++)
   {
      SNMP_Variable *v = response->GetVariable(i);
      if (state->options->json)
         printf("%s\n", JsonBinding(agent.name, v).c_str());
      else
         printf("%s %s = %s\n", agent.name.c_str(), OidName(v->GetName()).c_str(),
                BindingValue(v).c_str());
   }
}

// A walk's binding: printed as it comes.
bool OnWalkBinding(SNMP_Variable *v, void *context)
{
   const Agent &agent = (*g_state->agents)[(size_t)(uintptr_t)context];
   if (g_state->options->json)
      printf("%s\n", JsonBinding(agent.name, v).c_str());
   else
      printf("%s %s = %s\n", agent.name.c_str(), OidName(v->GetName()).c_str(), BindingValue(v).c_str());
   return true;
}

void OnWalkDone(uint32_t status, uint32_t, void *context)
{
   PollState *state = g_state;
   const Agent &agent = (*state->agents)[(size_t)(uintptr_t)context];
   state->totals.done++;
   if (status == SNMP_RC_SUCCESS)
      state->totals.answered++;
   else if (status == SNMP_RC_TIMEOUT)
      state->totals.timedOut++;
   else
      state->totals.errors++;
   if (status != SNMP_RC_SUCCESS)
      ReportFailure(agent, SNMPGetErrorText(status), status == SNMP_RC_TIMEOUT ? "timeout" : "error");
}

// Reads the target list: one agent a line, "host[:port] [community]"; '#'
// starts a comment. Names are resolved here, before anything is sent.
bool LoadTargets(const PollOptions &o, std::vector<Agent> *agents)
{
   std::ifstream in(o.targets);
   if (!in)
   {
      fprintf(stderr, "zbsnmp: cannot read '%s'\n", o.targets.c_str());
      return false;
   }
   std::string line;
   size_t lineNo = 0;
   while (std::getline(in, line))
   {
      lineNo++;
      size_t hash = line.find('#');
      if (hash != std::string::npos)
         line.resize(hash);
      std::istringstream fields(line);
      std::string host, community;
      if (!(fields >> host))
         continue;
      fields >> community;
      Target target;
      std::string error;
      if (!ParseTarget(host.c_str(), &target, &error))
      {
         fprintf(stderr, "zbsnmp: %s:%zu: %s\n", o.targets.c_str(), lineNo, error.c_str());
         return false;
      }
      Agent a;
      a.community = community.empty() ? o.community : community;
      memset(&a.address, 0, sizeof(a.address));
      struct sockaddr_in *in4 = (struct sockaddr_in *)&a.address;
      struct sockaddr_in6 *in6 = (struct sockaddr_in6 *)&a.address;
      if (inet_pton(AF_INET, target.host.c_str(), &in4->sin_addr) == 1)
      {
         in4->sin_family = AF_INET;
         in4->sin_port = htons(target.port);
         a.addressLength = sizeof(*in4);
      }
      else if (inet_pton(AF_INET6, target.host.c_str(), &in6->sin6_addr) == 1)
      {
         in6->sin6_family = AF_INET6;
         in6->sin6_port = htons(target.port);
         a.addressLength = sizeof(*in6);
      }
      else
      {
         struct addrinfo hints, *res = nullptr;
         memset(&hints, 0, sizeof(hints));
         hints.ai_socktype = SOCK_DGRAM;
         if (getaddrinfo(target.host.c_str(), nullptr, &hints, &res) != 0 || res == nullptr)
         {
            fprintf(stderr, "zbsnmp: %s:%zu: %s: '%s'\n", o.targets.c_str(), lineNo,
                    SNMPGetErrorText(SNMP_RC_BAD_HOSTNAME), target.host.c_str());
            return false;
         }
         memcpy(&a.address, res->ai_addr, res->ai_addrlen);
         a.addressLength = (socklen_t)res->ai_addrlen;
         if (res->ai_family == AF_INET)
            in4->sin_port = htons(target.port);
         else
            in6->sin6_port = htons(target.port);
         freeaddrinfo(res);
      }
      bool v6 = a.address.ss_family == AF_INET6;
      a.name = (v6 ? "[" + target.host + "]" : target.host) + ":" + std::to_string(target.port);
      agents->push_back(a);
   }
   return true;
}

void DrawProgress(const Totals &t, size_t total, double seconds, bool last)
{
   const int width = 30;
   int filled = total ? (int)(width * t.done / total) : width;
   char bar[width + 1];
   for (int i = 0; i < width; i++)
      bar[i] = (i < filled) ? '#' : '.';
   bar[width] = 0;
   double rate = seconds > 0 ? t.done / seconds : 0;
   fprintf(stderr, "\r[%s] %llu/%zu %.0f/s  answered %llu  timed out %llu  errors %llu%s", bar,
           (unsigned long long)t.done, total, rate, (unsigned long long)t.answered,
           (unsigned long long)t.timedOut, (unsigned long long)t.errors, last ? "\n" : "");
   fflush(stderr);
}

int ParsePollOptions(int argc, char **argv, PollOptions *o)
{
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
      if (a == "--json")
      {
         o->json = true;
         continue;
      }
      if (a == "--backoff")
      {
         o->backoff = true;
         continue;
      }
      if (a == "-On")
      {
         o->numericOids = true;
         continue;
      }
      if (a == "--walk")
      {
         o->walk = true;
         continue;
      }
      if (a == "--getnext")
      {
         o->maxRepetitions = 0;
         continue;
      }
      if (a.compare(0, 3, "-Cr") == 0)
      {
         // -CrN or -Cr N
         const char *number = a.c_str() + 3;
         if (*number == 0)
         {
            if (i + 1 >= argc)
               return UsageError("option " + a + " needs a value", "poll");
            number = argv[++i];
         }
         uint64_t n;
         if (!ParseUnsigned(number, 0x7FFFFFFF, &n) || n == 0)
            return UsageError("invalid max-repetitions '" + std::string(number) + "' (1 to 2147483647)", "poll");
         o->maxRepetitions = (uint32_t)n;
         continue;
      }
      if (i + 1 >= argc)
         return UsageError("option " + a + " needs a value", "poll");
      const char *value = argv[++i];
      uint64_t n;
      if (a == "-f")
         o->targets = value;
      else if (a == "-m")
         o->mibFile = value;
      else if (a == "-o")
      {
         if (!strcmp(value, "json"))
            o->json = true;
         else if (strcmp(value, "text") != 0)
            return UsageError("invalid output format '" + std::string(value) + "' (use text or json)", "poll");
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
            return UsageError("invalid version '" + std::string(value) + "' (use 1, 2c or 3)", "poll");
      }
      else if (a == "-U")
      {
         o->usersFile = value;
         o->security.given = true;
      }
      else if (a == "-c")
         o->community = value;
      else if (a == "-t")
      {
         if (!ParseUnsigned(value, 0xFFFFFFFEu, &n) || n == 0)
            return UsageError("invalid time-out '" + std::string(value) + "'", "poll");
         o->timeout = (uint32_t)n;
      }
      else if (a == "-r")
      {
         if (!ParseUnsigned(value, 1000, &n) || n == 0)
            return UsageError("invalid number of attempts '" + std::string(value) + "'", "poll");
         o->attempts = (uint32_t)n;
      }
      else if (a == "--window")
      {
         if (!ParseUnsigned(value, 10000000, &n) || n == 0)
            return UsageError("invalid window '" + std::string(value) + "'", "poll");
         o->window = (uint32_t)n;
      }
      else if (a == "--rate")
      {
         if (!ParseUnsigned(value, 100000000, &n))
            return UsageError("invalid rate '" + std::string(value) + "'", "poll");
         o->rate = (uint32_t)n;
      }
      else
      {
         int rc = ParseSecurityOption(a, value, &o->security, "poll");
         if (rc == -1)
            return UsageError("unknown option " + a, "poll");
         if (rc != EXIT_OK)
            return rc;
         o->security.given = true;
      }
   }
   if (o->security.given && !o->versionGiven)
      o->version = SNMP_VERSION_3;
   if (o->security.given && o->version != SNMP_VERSION_3)
      return UsageError("SNMPv3 options are for -v 3", "poll");
   if (o->targets.empty())
      return UsageError("missing -f TARGETS", "poll");
   int loaded = LoadMibTree(o->mibFile, o->numericOids);
   if (loaded != EXIT_OK)
      return loaded;
   for (; i < argc; i++)
   {
      std::vector<uint32_t> oid;
      if (!ParseName(argv[i], &oid))
         return UsageError("invalid OID '" + std::string(argv[i]) + "'", "poll");
      o->oids.push_back(oid);
   }
   if (o->oids.empty())
      return UsageError("missing OID", "poll");
   if (o->walk && o->oids.size() != 1)
      return UsageError("--walk takes one OID", "poll");
   return EXIT_OK;
}

}  // namespace

int CmdPoll(int argc, char **argv)
{
   PollOptions o;
   int rc = ParsePollOptions(argc, argv, &o);
   if (rc != EXIT_OK)
      return rc;
   std::vector<Agent> agents;
   if (!LoadTargets(o, &agents))
      return EXIT_FAILURE_SNMP;

   // SNMPv3: a line's second field names its user: one of the -U file, or
   // the options' methods and passwords under that name; no name, the -u user.
   std::vector<std::unique_ptr<SNMP_USMIdentity>> identities;
   if (o.version == SNMP_VERSION_3)
   {
      std::map<std::string, SNMP_USMIdentity *> byUser;
      if (!o.usersFile.empty())
      {
         if ((rc = LoadUsersFile(o.usersFile, &identities)) != EXIT_OK)
            return rc;
         for (auto &id : identities)
            byUser[id->GetUser()] = id.get();
      }
      for (Agent &a : agents)
      {
         std::string user = a.community.empty() || a.community == o.community ? o.security.user
                                                                              : a.community;
         auto found = byUser.find(user);
         if (found == byUser.end())
         {
            if (!o.usersFile.empty() && o.security.user.empty())
            {
               fprintf(stderr, "zbsnmp: %s: no user '%s' in %s\n", a.name.c_str(), user.c_str(),
                       o.usersFile.c_str());
               return EXIT_USAGE;
            }
            SecurityOptions s = o.security;
            s.user = user;
            identities.emplace_back(new SNMP_USMIdentity());
            std::string error;
            if (!MakeIdentity(s, identities.back().get(), &error))
               return UsageError(error, "poll");
            found = byUser.emplace(user, identities.back().get()).first;
         }
         a.identity = found->second;
      }
   }

   PollState state;
   state.options = &o;
   state.agents = &agents;
   g_state = &state;

   auto start = std::chrono::steady_clock::now();
   SNMP_RequestEngine engine;
   engine.SetWindow(o.window);
   engine.SetRateLimit(o.rate);
   for (size_t i = 0; i < agents.size(); i++)
   {
      uint32_t flags = o.backoff ? SNMP_ENGINE_BACKOFF : 0;
      const struct sockaddr *to = (const struct sockaddr *)&agents[i].address;
      engine.SetSecurity(agents[i].identity);
      uint32_t status;
      if (o.walk)
      {
         const std::vector<uint32_t> &root = o.oids[0];
         status = engine.SubmitWalk(to, agents[i].addressLength, o.version, agents[i].community.c_str(),
                                    root.data(), (uint32_t)root.size(), o.maxRepetitions, o.timeout,
                                    o.attempts, flags, OnWalkBinding, OnWalkDone, (void *)i);
      }
      else
      {
         SNMP_PDU *request = new SNMP_PDU(SNMP_CMD_GET_REQUEST, agents[i].community.c_str(), 0, o.version);
         for (const auto &oid : o.oids)
            request->BindVariable(new SNMP_Variable(oid.data(), (uint32_t)oid.size()));
         status = engine.Submit(to, agents[i].addressLength, request, o.timeout, o.attempts, flags,
                                OnGetDone, (void *)i);
      }
      if (status != SNMP_RC_SUCCESS)
      {
         state.totals.done++;
         state.totals.errors++;
         ReportFailure(agents[i], SNMPGetErrorText(status), "error");
      }
   }

   bool progress = isatty(STDERR_FILENO) != 0;
   auto seconds = [&] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
   };
   while (engine.GetPendingCount() > 0)
   {
      engine.Run(progress ? 100 : 0xFFFFFFFF);
      if (progress)
         DrawProgress(state.totals, agents.size(), seconds(), false);
   }
   fflush(stdout);
   if (progress)
      DrawProgress(state.totals, agents.size(), seconds(), true);
   fprintf(stderr, "%zu agents: %llu answered, %llu timed out, %llu errors, %.3f s\n", agents.size(),
           (unsigned long long)state.totals.answered, (unsigned long long)state.totals.timedOut,
           (unsigned long long)state.totals.errors, seconds());
   g_state = nullptr;
   return (state.totals.answered == agents.size()) ? EXIT_OK : EXIT_FAILURE_SNMP;
}
