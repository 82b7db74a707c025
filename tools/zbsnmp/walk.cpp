// walk: a subtree of one agent, request by request.
#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "cli.h"

static int OidOrder(const uint32_t *a, uint32_t an, const uint32_t *b, uint32_t bn)
{
   for (uint32_t i = 0; i < an && i < bn; i++)
      if (a[i] != b[i])
         return a[i] < b[i] ? -1 : 1;
   return (an == bn) ? 0 : (an < bn ? -1 : 1);
}

int CmdWalk(int argc, char **argv)
{
   RequestOptions o;
   int rc = ParseRequestOptions("walk", argc, argv, &o);
   if (rc != EXIT_OK)
      return rc;
   if (o.args.size() > 1)
      return UsageError("walk takes one OID", "walk");
   std::vector<uint32_t> root = {1, 3, 6, 1, 2, 1};
   if (!o.args.empty() && !ParseName(o.args[0].c_str(), &root))
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

