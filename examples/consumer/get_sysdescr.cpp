// GET sysDescr.0 from an agent: the smallest libzbsnmp application.
// usage: get_sysdescr HOST [PORT] [COMMUNITY]
#include <stdio.h>
#include <stdlib.h>

#include <zbsnmp.h>

int main(int argc, char **argv)
{
   if (argc < 2)
   {
      fprintf(stderr, "usage: %s HOST [PORT] [COMMUNITY]\n", argv[0]);
      return 2;
   }
   uint16_t port = (argc > 2) ? (uint16_t)atoi(argv[2]) : 161;
   const char *community = (argc > 3) ? argv[3] : "public";

   SNMP_UDPTransport transport;
   uint32_t rc = transport.CreateUDPTransport(argv[1], 0, port);
   if (rc != SNMP_RC_SUCCESS)
   {
      fprintf(stderr, "%s\n", SNMPGetErrorText(rc));
      return 1;
   }

   SNMP_PDU request(SNMP_CMD_GET_REQUEST, community, 1, SNMP_VERSION_2C);
   request.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.1.0"));  // sysDescr.0
   SNMP_PDU *response = nullptr;
   rc = transport.DoRequest(&request, &response, 1000, 3);
   if (rc != SNMP_RC_SUCCESS)
   {
      fprintf(stderr, "%s\n", SNMPGetErrorText(rc));
      return 1;
   }

   char value[1024];
   SNMP_Variable *var = response->GetVariable(0);
   if (response->GetErrorCode() == 0 && var != nullptr)
      printf("%s = %s\n", var->GetName()->GetValueAsText(), var->GetValueAsString(value, sizeof(value)));
   else
      fprintf(stderr, "agent error %u\n", response->GetErrorCode());
   rc = response->GetErrorCode() == 0 ? 0 : 1;
   delete response;
   return (int)rc;
}
