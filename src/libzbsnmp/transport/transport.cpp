/* SNMP_Transport: the request/response exchange over Read and Send. */
#include "internal.h"

SNMP_Transport::~SNMP_Transport() {}

int SNMP_Transport::Read(SNMP_PDU **, uint32_t, struct sockaddr *, socklen_t *)
{
   return -1;
}

int SNMP_Transport::Send(SNMP_PDU *)
{
   return -1;
}

uint32_t SNMP_Transport::DoRequest(SNMP_PDU *request, SNMP_PDU **response, uint32_t timeout,
                                   uint32_t numRetries)
{
   if (request == nullptr || response == nullptr || numRetries == 0)
      return SNMP_RC_BAD_PARAMETERS;
   *response = nullptr;
   uint32_t rc = SNMP_RC_TIMEOUT;
   for (uint32_t attempt = 0; attempt < numRetries; attempt++)
   {
      if (Send(request) <= 0)
         return SNMP_RC_COMM_ERROR;
      int bytes = Read(response, timeout, nullptr, nullptr);
      if (bytes == 0)
      {
         rc = SNMP_RC_TIMEOUT;
      }
      else if (bytes < 0)
      {
         rc = SNMP_RC_COMM_ERROR;
      }
      else if (*response == nullptr)
      {
         return SNMP_RC_PARSE_ERROR;
      }
      else if ((*response)->GetRequestId() == request->GetRequestId())
      {
         return SNMP_RC_SUCCESS;
      }
      else
      {
         /* A late answer to an earlier request uses up this attempt. */
         delete *response;
         *response = nullptr;
         rc = SNMP_RC_TIMEOUT;
      }
   }
   return rc;
}
