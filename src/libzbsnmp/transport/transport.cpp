/* SNMP_Transport: the request/response exchange over Read and Send. */
#include "internal.h"

#include <chrono>

SNMP_Transport::~SNMP_Transport() {}

int SNMP_Transport::Read(SNMP_PDU **, uint32_t, struct sockaddr *, socklen_t *)
{
   return -1;
}

int SNMP_Transport::Send(SNMP_PDU *)
{
   return -1;
}

/* Milliseconds since start on the monotonic clock, rounded up, so that the
   waits of one attempt never add up to more than its time-out. */
static uint32_t ElapsedMs(std::chrono::steady_clock::time_point start)
{
   auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                 std::chrono::steady_clock::now() - start)
                 .count();
   uint64_t ms = ((uint64_t)us + 999) / 1000;
   return (ms > 0xFFFFFFFEU) ? 0xFFFFFFFEU : (uint32_t)ms;
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
      auto start = std::chrono::steady_clock::now();
      uint32_t wait = timeout;
      for (;;)
      {
         int bytes = Read(response, wait, nullptr, nullptr);
         if (bytes == 0)
         {
            rc = SNMP_RC_TIMEOUT;
            break;
         }
         if (bytes < 0)
         {
            rc = SNMP_RC_COMM_ERROR;
            break;
         }
         if (*response == nullptr)
            return SNMP_RC_PARSE_ERROR;
         if ((*response)->GetRequestId() == request->GetRequestId())
            return SNMP_RC_SUCCESS;
         /* A late answer to an earlier request: drop it and wait on for the
            rest of this attempt's time-out. */
         delete *response;
         *response = nullptr;
         rc = SNMP_RC_TIMEOUT;
         if (timeout != 0xFFFFFFFFU)
         {
            uint32_t elapsed = ElapsedMs(start);
            if (elapsed >= timeout)
               break;
            wait = timeout - elapsed;
         }
      }
   }
   return rc;
}
