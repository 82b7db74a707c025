// get, next, bulkget and set: one request to one agent.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "cli.h"

int Session::Open(const RequestOptions &o)
{
   m_options = o;
   if (o.version == SNMP_VERSION_3)
   {
      std::string error;
      if (!MakeIdentity(o.security, &m_identity, &error))
         return UsageError(error, o.command);
      m_transport.SetSecurity(&m_identity);
   }
   uint32_t rc = m_transport.ConnectUDPTransport(o.target.host.c_str(), o.target.port,
                                                 o.target.family);
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

uint32_t Session::TakeRequestIds(uint32_t count)
{
   uint32_t first = (m_requestId + 1) & 0x7FFFFFFF;
   m_requestId += count;
   return first;
}

std::unique_ptr<SNMP_PDU> Session::Request(SNMP_PDU *request)
{
   request->SetRequestId(++m_requestId & 0x7FFFFFFF);
   SNMP_PDU *response = nullptr;
   uint32_t rc = m_transport.DoRequest(request, &response, m_options.timeout, m_options.attempts);
   if (rc != SNMP_RC_SUCCESS)
   {
      fprintf(stderr, "zbsnmp: %s (%s)\n", SNMPGetErrorText(rc),
              TargetText(m_options.target).c_str());
      return nullptr;
   }
   return std::unique_ptr<SNMP_PDU>(response);
}

// Prints the bindings, or the agent's error; returns the exit code.
int ReportResponse(SNMP_PDU *response)
{
   if (response->GetErrorCode() != 0)
   {
      uint32_t index = response->GetErrorIndex();
      const char *name = nullptr;
      if (index >= 1 && index <= response->GetNumVariables())
         name = response->GetVariable(index - 1)->GetName()->GetValueAsText();
      PrintAgentError(response->GetErrorCode(), index, name);
      return EXIT_FAILURE_SNMP;
   }
   for (uint32_t i = 0; i < response->GetNumVariables(); i++)
      PrintBinding(response->GetVariable(i));
   return EXIT_OK;
}

void PrintAgentError(uint32_t status, uint32_t index, const char *name)
{
   fprintf(stderr, "zbsnmp: agent error: %s (error index %u)", ErrorStatusName(status), index);
   if (name != nullptr)
      fprintf(stderr, " at %s", name);
   fprintf(stderr, "\n");
}

int CmdGet(const char *command, uint32_t pduCommand, int argc, char **argv)
{
   RequestOptions o;
   int rc = ParseRequestOptions(command, argc, argv, &o);
   if (rc != EXIT_OK)
      return rc;
   if (pduCommand == SNMP_CMD_GET_BULK_REQUEST && o.version == SNMP_VERSION_1)
      return UsageError("GETBULK needs SNMPv2c or SNMPv3 (-v 2c or -v 3)", command);
   if (o.args.empty())
      return UsageError("missing OID", command);
   std::vector<std::vector<uint32_t>> oids;
   for (const std::string &a : o.args)
   {
      std::vector<uint32_t> oid;
      if (!ParseName(a.c_str(), &oid))
         return UsageError("invalid OID '" + a + "'", command);
      oids.push_back(oid);
   }
   Session session;
   if ((rc = session.Open(o)) != EXIT_OK)
      return rc;
   bool bulk = (pduCommand == SNMP_CMD_GET_BULK_REQUEST);
   SNMP_PDU request(pduCommand, o.community.c_str(), 0, o.version, bulk ? o.nonRepeaters : 0,
                    bulk ? o.maxRepetitions : 0);
   for (auto &oid : oids)
      request.BindVariable(new SNMP_Variable(oid.data(), (uint32_t)oid.size()));
   auto response = session.Request(&request);
   if (!response)
      return EXIT_FAILURE_SNMP;
   return ReportResponse(response.get());
}

int CmdBulkGet(int argc, char **argv)
{
   return CmdGet("bulkget", SNMP_CMD_GET_BULK_REQUEST, argc, argv);
}

// Checks a value given on the command line and gives the text to store with
// SetValueFromString. Numbers are read in decimal, as snmpset reads them
// ("010" is ten), and handed on without leading zeros, because the library
// reads number texts with the C prefixes (a leading 0 for octal, 0x for hex).
static bool ValueText(uint32_t type, const char *value, std::string *text)
{
   uint64_t u;
   int32_t s;
   struct in_addr addr;
   switch (type)
   {
      case ASN_TYPE_INTEGER:
         if (!ParseSigned32(value, &s))
            return false;
         *text = std::to_string(s);
         return true;
      case ASN_TYPE_COUNTER32:
      case ASN_TYPE_GAUGE32:
      case ASN_TYPE_TIMETICKS:
      case ASN_TYPE_UINTEGER32:
      case ASN_TYPE_COUNTER64:
         if (!ParseUnsigned(value, type == ASN_TYPE_COUNTER64 ? UINT64_MAX : 0xFFFFFFFFu, &u))
            return false;
         *text = std::to_string(u);
         return true;
      case ASN_TYPE_IP_ADDRESS:
         if (inet_pton(AF_INET, value, &addr) != 1)
            return false;
         break;
      case ASN_TYPE_OBJECT_ID:
      {
         std::vector<uint32_t> oid;
         if (!ParseName(value, &oid))
            return false;
         *text = OidText(oid);  // a name of the tree, as numbers
         return true;
      }
      default:
         break;
   }
   *text = value;
   return true;
}

int CmdSet(int argc, char **argv)
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
      if (!ParseName(o.args[i].c_str(), &oid))
         return UsageError("invalid OID '" + o.args[i] + "'", "set");
      uint32_t type = SNMPResolveDataType(o.args[i + 1].c_str());
      if (type == ASN_TYPE_NULL)
         return UsageError("invalid type '" + o.args[i + 1] + "'", "set");
      std::string text;
      if (!ValueText(type, o.args[i + 2].c_str(), &text))
         return UsageError("invalid value '" + o.args[i + 2] + "' for type " + o.args[i + 1], "set");
      auto v = std::make_unique<SNMP_Variable>(oid.data(), (uint32_t)oid.size());
      v->SetValueFromString(type, text.c_str());
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
