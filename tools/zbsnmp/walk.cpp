// walk: a subtree of one agent, with the library's walker (GETBULK in
// SNMPv2c, GET-NEXT in SNMPv1 or on request).
#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "cli.h"

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
   SNMP_Walker walker(session.Transport(), o.version, o.community.c_str());
   walker.SetTimeout(o.timeout, o.attempts);
   walker.SetRequestId(session.TakeRequestIds(0x1000000));
   if (o.maxRepetitionsGiven)
      walker.SetMaxRepetitions(o.maxRepetitions);
   walker.SetGetNext(o.getNext);
   uint32_t status = walker.Start(root.data(), (uint32_t)root.size());
   uint32_t count = 0;
   SNMP_Variable *v = nullptr;
   while (status == SNMP_RC_SUCCESS && (status = walker.Next(&v)) == SNMP_RC_SUCCESS && v != nullptr)
   {
      PrintBinding(v);
      count++;
   }
   if (status == SNMP_RC_AGENT_ERROR && v != nullptr)
   {
      fprintf(stderr, "zbsnmp: OID not increasing: %s\n", v->GetName()->GetValueAsText());
      return EXIT_FAILURE_SNMP;
   }
   if (status == SNMP_RC_AGENT_ERROR)
   {
      PrintAgentError(walker.GetErrorStatus(), walker.GetErrorIndex(), nullptr);
      return EXIT_FAILURE_SNMP;
   }
   if (status != SNMP_RC_SUCCESS)
   {
      fprintf(stderr, "zbsnmp: %s (%s)\n", SNMPGetErrorText(status), TargetText(o.target).c_str());
      return EXIT_FAILURE_SNMP;
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
