/* SNMP_Transport: the request/response exchange over Read and Send, and
   over raw messages for SNMPv3. */
#include "internal.h"

#include <chrono>
#include <new>

#include "security/v3_exchange.h"

SNMP_Transport::~SNMP_Transport() {}

int SNMP_Transport::Read(SNMP_PDU **, uint32_t, struct sockaddr *, socklen_t *)
{
   return -1;
}

int SNMP_Transport::Send(SNMP_PDU *)
{
   return -1;
}

int SNMP_Transport::SendMessage(const uint8_t *, uint32_t)
{
   return -1;
}

int SNMP_Transport::ReadMessage(const uint8_t **, uint32_t, struct sockaddr *, socklen_t *)
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
   if (request->GetVersion() == SNMP_VERSION_3)
      return DoRequestV3(request, response, timeout, numRetries);
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

uint32_t SNMP_Transport::DoRequestV3(SNMP_PDU *request, SNMP_PDU **response, uint32_t timeout,
                                     uint32_t numRetries)
{
   ZbUsmIdentityData *identity = ZbUsmAccess::Data(m_identity);
   if (identity == nullptr)
      return SNMP_RC_BAD_PARAMETERS;
   *response = nullptr;
   uint8_t *element = nullptr;
   uint32_t elementLength = ZbPduAccess::EncodeElement(request, &element);
   if (elementLength == 0)
      return SNMP_RC_COMM_ERROR; /* as a v2c request that does not encode */
   ZbV3Exchange *exchange = new (std::nothrow)
       ZbV3Exchange(identity, nullptr, element, elementLength, V3_OUR_MAX_SIZE);
   free(element);
   if (exchange == nullptr)
      return SNMP_RC_COMM_ERROR;
   std::unique_ptr<ZbV3Exchange> owner(exchange);

   /* Each attempt sends what the exchange says and waits up to the time-out
      for its end; progress within it (discovery done, time learnt) sends at
      once, in the same attempt and its time. */
   uint32_t rc = SNMP_RC_TIMEOUT;
   for (uint32_t attempt = 0; attempt < numRetries; attempt++)
   {
      auto start = std::chrono::steady_clock::now();
      bool send = true;
      for (;;)
      {
         if (send)
         {
            const uint8_t *message;
            uint32_t length;
            uint32_t next = exchange->Next(ZbMonotonicSeconds(), &message, &length);
            if (next != SNMP_RC_SUCCESS)
               return next;
            if (SendMessage(message, length) <= 0)
               return SNMP_RC_COMM_ERROR;
            send = false;
         }
         uint32_t wait = timeout;
         if (timeout != 0xFFFFFFFFU)
         {
            uint32_t elapsed = ElapsedMs(start);
            if (elapsed >= timeout)
            {
               rc = exchange->TimeoutResult();
               break;
            }
            wait = timeout - elapsed;
         }
         const uint8_t *data = nullptr;
         int bytes = ReadMessage(&data, wait, nullptr, nullptr);
         if (bytes == 0)
         {
            rc = exchange->TimeoutResult();
            break;
         }
         if (bytes < 0)
         {
            rc = SNMP_RC_COMM_ERROR;
            break;
         }
         ZbV3Step step = exchange->Receive(data, (uint32_t)bytes, ZbMonotonicSeconds());
         if (step == V3_STEP_SEND_NEXT)
            send = true;
         else if (step == V3_STEP_DONE)
         {
            *response = exchange->TakeResponse();
            return exchange->Result();
         }
      }
   }
   return rc;
}
