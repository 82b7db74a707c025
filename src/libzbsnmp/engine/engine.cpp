/* SNMP_RequestEngine: many outstanding requests over one socket per address
   family, matched by request id and agent address, with time-outs,
   retransmissions, a window of outstanding requests and a rate limit. */
#include "engine/engine.h"
#include "security/usm.h"
#include "security/v3_exchange.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <new>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <poll.h>
#endif

#define ENGINE_NO_TIMEOUT 0xFFFFFFFFu
/* A send the system refused for now (a full socket buffer) is tried again
   after this long. */
#define ENGINE_SEND_RETRY_US 1000
/* Datagrams read from one socket per Process call, so that time-outs and
   sends are not starved by a flood of answers. */
#define ENGINE_RECEIVE_LIMIT (16 * ZB_DATAGRAM_BATCH)
/* A backed-off time-out grows to at most this many milliseconds. */
#define ENGINE_MAX_TIMEOUT 3600000u

static inline uint64_t HandleOf(uint32_t slot, uint32_t generation)
{
   return ((uint64_t)generation << 32) | slot;
}

static inline bool TimerLater(const ZbTimer &a, const ZbTimer &b)
{
   return a.deadline > b.deadline;
}

static int FamilyIndex(uint8_t family)
{
   return (family == 4) ? 0 : 1;
}

/* ---- Slots ---- */

/* A free slot (its generation kept), or UINT32_MAX when no memory is left.
   May throw std::bad_alloc from the vector: callers are guarded. */
static uint32_t AllocSlot(ZbEngine *e)
{
   if (e->freeHead != UINT32_MAX)
   {
      uint32_t slot = e->freeHead;
      e->freeHead = e->requests[slot].nextFree;
      return slot;
   }
   if (e->requests.size() >= UINT32_MAX - 1)
      return UINT32_MAX;
   ZbRequest r;
   memset(&r, 0, sizeof(r));
   r.generation = 1;
   e->requests.push_back(r);
   return (uint32_t)(e->requests.size() - 1);
}

static void FreeSlot(ZbEngine *e, uint32_t slot)
{
   ZbRequest &r = e->requests[slot];
   if (r.v3 != nullptr)
   {
      delete r.v3->exchange; /* its message goes with it */
      delete r.v3;
      r.v3 = nullptr;
   }
   else
   {
      free(r.message);
   }
   r.message = nullptr;
   r.length = 0;
   r.state = ZB_REQUEST_FREE;
   r.callback = nullptr;
   r.context = nullptr;
   if (++r.generation == 0)
      r.generation = 1; /* handles are never 0 */
   r.nextFree = e->freeHead;
   e->freeHead = slot;
}

/* Ends a request: the engine's state is settled first, then the callback
   runs (it may submit or cancel). */
static void Complete(ZbEngine *e, uint32_t slot, uint32_t status, SNMP_PDU *response)
{
   ZbRequest &r = e->requests[slot];
   SNMP_RequestCallback callback = r.callback;
   void *context = r.context;
   if (r.v3 != nullptr)
      for (uint32_t i = 0; i < r.v3->msgIdCount; i++)
         e->ids.Erase(r.v3->msgIds[i]);
   else
      e->ids.Erase(r.requestId);
   if (r.state == ZB_REQUEST_OUTSTANDING)
      e->outstanding--;
   e->pending--;
   FreeSlot(e, slot);
   callback(status, response, context);
}

/* ---- Timers ---- */

static int PushTimer(ZbEngine *e, uint32_t slot)
{
   const ZbRequest &r = e->requests[slot];
   if (r.timeout == ENGINE_NO_TIMEOUT)
      return 1;
   try
   {
      e->timers.push_back(ZbTimer{r.deadline, slot, r.generation});
   }
   catch (const std::bad_alloc &)
   {
      return 0;
   }
   std::push_heap(e->timers.begin(), e->timers.end(), TimerLater);
   return 1;
}

static void StartAttempt(ZbEngine *e, uint32_t slot, uint64_t now)
{
   ZbRequest &r = e->requests[slot];
   r.deadline = (r.timeout == ENGINE_NO_TIMEOUT) ? UINT64_MAX : now + (uint64_t)r.timeout * 1000;
}

/* ---- SNMPv3 ---- */

/* An id that no pending request of the engine uses (request ids of v1/v2c
   requests and msgIDs of v3 ones share the table). */
static uint32_t FreshId(ZbEngine *e)
{
   uint32_t id;
   do
      id = e->idSource.Next();
   while (e->ids.Find(id) != UINT32_MAX);
   return id;
}

/* The next message of a v3 request (the first, a retransmission, or the
   step after a Report) with a fresh msgID that the id table maps to it;
   the exchange keeps the message until its next one. SNMP_RC_SUCCESS, or the
   status that ends the request. */
static uint32_t PrepareV3(ZbEngine *e, uint32_t slot)
{
   ZbRequest &r = e->requests[slot];
   ZbEngineV3 *v3 = r.v3;
   uint32_t msgId = FreshId(e);
   const uint8_t *message = nullptr;
   uint32_t length = 0;
   uint32_t rc = v3->exchange->Next(ZbMonotonicSeconds(), msgId, &message, &length);
   if (rc != SNMP_RC_SUCCESS)
      return rc;
   if (!e->ids.Insert(msgId, slot))
      return SNMP_RC_COMM_ERROR;
   /* The exchange takes answers to its last few messages: so does the table. */
   if (v3->msgIdCount == ZB_V3_MSGIDS)
   {
      e->ids.Erase(v3->msgIds[0]);
      memmove(v3->msgIds, v3->msgIds + 1, (ZB_V3_MSGIDS - 1) * sizeof(uint32_t));
      v3->msgIdCount--;
   }
   v3->msgIds[v3->msgIdCount++] = msgId;
   r.message = (uint8_t *)message;
   r.length = length;
   return SNMP_RC_SUCCESS;
}

/* The peer of an agent for an identity: what the agent's engine is (ID,
   boots, time, the keys localised for it), made on first use. An identity
   whose engine ID was set (the agent's, known in advance) lends it. */
static ZbUsmPeer *PeerOf(ZbEngine *e, const ZbAgentAddress *agent, SNMP_USMIdentity *identity)
{
   std::vector<uint8_t> key;
   try
   {
      key.assign((const uint8_t *)agent, (const uint8_t *)agent + sizeof(*agent));
   }
   catch (const std::bad_alloc &)
   {
      return nullptr;
   }
   auto found = e->peers.find({key, identity});
   if (found != e->peers.end())
      return found->second;
   ZbUsmPeer *peer = (ZbUsmPeer *)calloc(1, sizeof(ZbUsmPeer));
   if (peer == nullptr)
      return nullptr;
   ZbUsmIdentityData *data = ZbUsmAccess::Data(identity);
   if (data != nullptr && data->peer.engine.idLength > 0)
      *peer = data->peer;
   try
   {
      e->peers.emplace(std::make_pair(key, identity), peer);
   }
   catch (const std::bad_alloc &)
   {
      free(peer);
      return nullptr;
   }
   return peer;
}

/* ---- Sending ---- */

/* Sends the requests of the given slots, each through its family's socket.
   A fresh request that the system refuses for now (a full socket buffer)
   goes back to the front of the queue, in order; a retransmission refused so
   counts as sent and lost. A request whose datagram cannot be sent at all
   ends with SNMP_RC_COMM_ERROR, once everything else is sent. */
static void SendSlots(ZbEngine *e, const std::vector<uint32_t> &slots, bool fresh, uint64_t now)
{
   std::vector<uint32_t> failed;
   for (int family = 0; family < 2; family++)
   {
      std::vector<ZbDatagram> list;
      for (uint32_t slot : slots)
      {
         const ZbRequest &r = e->requests[slot];
         if (FamilyIndex(r.agent.family) == family)
            list.push_back(ZbDatagram{r.message, r.length, r.agent, slot});
      }
      if (list.empty())
         continue;
      ZbDatagramSocket &socket = e->sockets[family];
      if (!socket.IsOpen())
         socket.Open(family == 0 ? AF_INET : AF_INET6);
      size_t pos = 0;
      while (pos < list.size())
      {
         uint32_t n = (uint32_t)std::min<size_t>(list.size() - pos, ZB_DATAGRAM_BATCH);
         int error = EBADF;
         uint32_t done = socket.IsOpen() ? socket.Send(&list[pos], n, &error) : 0;
         pos += done;
         if (done == n)
            continue;
         if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS)
         {
            if (!fresh)
               break;
            for (size_t k = list.size(); k > pos; k--)
            {
               ZbRequest &r = e->requests[list[k - 1].slot];
               r.state = ZB_REQUEST_QUEUED;
               e->outstanding--;
               e->queue.push_front(HandleOf(list[k - 1].slot, r.generation));
            }
            e->retryAt = now + ENGINE_SEND_RETRY_US;
            break;
         }
         failed.push_back(list[pos].slot);
         pos++;
      }
   }
   for (uint32_t slot : failed)
      if (e->requests[slot].state == ZB_REQUEST_OUTSTANDING)
         Complete(e, slot, SNMP_RC_COMM_ERROR, nullptr);
}

static void RefillTokens(ZbEngine *e, uint64_t now)
{
   if (e->rate == 0)
      return;
   double capacity = std::max(1.0, e->rate / 50.0); /* 20 ms worth of requests */
   if (now > e->tokensAt)
      e->tokens = std::min(capacity, e->tokens + (double)(now - e->tokensAt) * e->rate / 1e6);
   e->tokensAt = now;
}

/* Starts queued requests while the window and the rate allow. */
static void SendQueued(ZbEngine *e, uint64_t now)
{
   if (now < e->retryAt || e->queue.empty())
      return;
   RefillTokens(e, now);
   std::vector<uint32_t> slots;
   std::vector<uint32_t> noTimer;
   std::vector<uint32_t> failedV3;
   while (!e->queue.empty() && e->outstanding < e->window && (e->rate == 0 || e->tokens >= 1.0))
   {
      uint64_t handle = e->queue.front();
      e->queue.pop_front();
      uint32_t slot = (uint32_t)handle;
      ZbRequest &r = e->requests[slot];
      if (r.state != ZB_REQUEST_QUEUED || r.generation != (uint32_t)(handle >> 32))
         continue; /* cancelled while queued */
      r.state = ZB_REQUEST_OUTSTANDING;
      e->outstanding++;
      if (e->rate != 0)
         e->tokens -= 1.0;
      StartAttempt(e, slot, now);
      if (!PushTimer(e, slot))
         noTimer.push_back(slot);
      else if (r.v3 != nullptr && PrepareV3(e, slot) != SNMP_RC_SUCCESS)
         failedV3.push_back(slot);
      else
         slots.push_back(slot);
   }
   SendSlots(e, slots, true, now);
   for (uint32_t slot : failedV3)
      if (e->requests[slot].state == ZB_REQUEST_OUTSTANDING)
         Complete(e, slot, SNMP_RC_BAD_PARAMETERS, nullptr);
   /* Without a timer a request would never end: it fails now instead. */
   for (uint32_t slot : noTimer)
      if (e->requests[slot].state == ZB_REQUEST_OUTSTANDING)
         Complete(e, slot, SNMP_RC_COMM_ERROR, nullptr);
}

/* Retransmits the requests whose attempt ran out, and ends those out of
   attempts. */
static void ExpireTimers(ZbEngine *e, uint64_t now)
{
   std::vector<uint32_t> resend;
   std::vector<uint32_t> expired;
   while (!e->timers.empty() && e->timers.front().deadline <= now)
   {
      ZbTimer t = e->timers.front();
      std::pop_heap(e->timers.begin(), e->timers.end(), TimerLater);
      e->timers.pop_back();
      ZbRequest &r = e->requests[t.slot];
      if (r.generation != t.generation || r.state != ZB_REQUEST_OUTSTANDING ||
          r.deadline != t.deadline)
         continue; /* answered, cancelled or already retransmitted */
      if (r.attemptsLeft == 0)
      {
         expired.push_back(t.slot);
         continue;
      }
      r.attemptsLeft--;
      if ((r.flags & SNMP_ENGINE_BACKOFF) && r.timeout <= ENGINE_MAX_TIMEOUT / 2)
         r.timeout *= 2;
      StartAttempt(e, t.slot, now);
      /* A v3 attempt is a new message (a new msgID, the engine's time now). */
      if (!PushTimer(e, t.slot) || (r.v3 != nullptr && PrepareV3(e, t.slot) != SNMP_RC_SUCCESS))
         expired.push_back(t.slot);
      else
         resend.push_back(t.slot);
   }
   SendSlots(e, resend, false, now);
   for (uint32_t slot : expired)
   {
      const ZbRequest &r = e->requests[slot];
      if (r.state == ZB_REQUEST_OUTSTANDING)
         Complete(e, slot, (r.v3 != nullptr) ? r.v3->exchange->TimeoutResult() : SNMP_RC_TIMEOUT,
                  nullptr);
   }
}

/* ---- Receiving ---- */

/* An SNMPv3 message: the exchange whose msgID it carries, from that
   request's agent, decides (the checks, the Reports of discovery and
   re-synchronisation, the response). */
static void HandleV3Datagram(ZbEngine *e, const ZbDatagram *d)
{
   ZbV3Message m;
   uint32_t slot = ZbV3ParseMessage(d->data, d->length, &m) ? e->ids.Find(m.msgId) : UINT32_MAX;
   if (slot == UINT32_MAX || e->requests[slot].state != ZB_REQUEST_OUTSTANDING ||
       e->requests[slot].v3 == nullptr || !ZbAgentEqual(&e->requests[slot].agent, &d->agent))
   {
      e->dropped++;
      return;
   }
   ZbV3Exchange *exchange = e->requests[slot].v3->exchange;
   switch (exchange->Receive(d->data, d->length, ZbMonotonicSeconds()))
   {
      case V3_STEP_IGNORED:
         e->dropped++;
         return;
      case V3_STEP_SEND_NEXT:
      {
         /* Discovery or re-synchronisation done: the request goes out now,
            within the same attempt. */
         uint32_t rc = PrepareV3(e, slot);
         if (rc != SNMP_RC_SUCCESS)
         {
            Complete(e, slot, rc, nullptr);
            return;
         }
         SendSlots(e, std::vector<uint32_t>{slot}, false, ZbMonotonicMicros());
         return;
      }
      case V3_STEP_DONE:
      {
         uint32_t result = exchange->Result();
         SNMP_PDU *response = (result == SNMP_RC_SUCCESS) ? exchange->TakeResponse() : nullptr;
         if (result == SNMP_RC_SUCCESS && response == nullptr)
            result = SNMP_RC_PARSE_ERROR;
         Complete(e, slot, result, response);
         return;
      }
   }
}

static void HandleDatagram(ZbEngine *e, const ZbDatagram *d)
{
   if (ZbV3IsMessage(d->data, d->length))
   {
      HandleV3Datagram(e, d);
      return;
   }
   SNMP_PDU *pdu = new (std::nothrow) SNMP_PDU();
   if (pdu == nullptr || !pdu->Parse(d->data, d->length))
   {
      delete pdu;
      e->dropped++;
      return;
   }
   uint32_t slot = e->ids.Find(pdu->GetRequestId());
   if (slot == UINT32_MAX || e->requests[slot].state != ZB_REQUEST_OUTSTANDING ||
       !ZbAgentEqual(&e->requests[slot].agent, &d->agent))
   {
      /* Unknown id, a request still queued, or the right id from another
         address: not this request's answer. */
      delete pdu;
      e->dropped++;
      return;
   }
   Complete(e, slot, SNMP_RC_SUCCESS, pdu);
}

/* Fails every request sent through a socket that broke; queued requests of
   that family go out through a new socket. */
static void FailFamily(ZbEngine *e, int family)
{
   e->sockets[family].Close();
   std::vector<uint64_t> broken;
   for (uint32_t slot = 0; slot < e->requests.size(); slot++)
   {
      const ZbRequest &r = e->requests[slot];
      if (r.state == ZB_REQUEST_OUTSTANDING && FamilyIndex(r.agent.family) == family)
         broken.push_back(HandleOf(slot, r.generation));
   }
   for (uint64_t handle : broken)
   {
      uint32_t slot = (uint32_t)handle;
      const ZbRequest &r = e->requests[slot];
      if (r.state == ZB_REQUEST_OUTSTANDING && r.generation == (uint32_t)(handle >> 32))
         Complete(e, slot, SNMP_RC_COMM_ERROR, nullptr);
   }
}

static void ReceiveFrom(ZbEngine *e, int family)
{
   if (e->receiveBuffers == nullptr)
   {
      e->receiveBuffers = (uint8_t *)malloc((size_t)ZB_DATAGRAM_BATCH * ZB_DATAGRAM_SIZE);
      if (e->receiveBuffers == nullptr)
         return;
   }
   ZbDatagram datagrams[ZB_DATAGRAM_BATCH];
   for (uint32_t total = 0; total < ENGINE_RECEIVE_LIMIT;)
   {
      if (!e->sockets[family].IsOpen())
         return;
      int error = 0;
      uint32_t n = e->sockets[family].Receive(e->receiveBuffers, datagrams, ZB_DATAGRAM_BATCH, &error);
      /* Callbacks may submit and cancel, but they never receive: the buffers
         stay as they are until the batch is handled. */
      for (uint32_t i = 0; i < n; i++)
         HandleDatagram(e, &datagrams[i]);
      if (error != 0 && error != EINTR)
      {
#ifndef _WIN32
         /* ICMP reports of unreachable agents (on systems that report them on
            unconnected sockets) are no failure of the socket. */
         if (error == ECONNREFUSED || error == EHOSTUNREACH || error == ENETUNREACH)
            continue;
#endif
         FailFamily(e, family);
         return;
      }
      if (n == 0)
         return;
      total += n;
   }
}

/* ---- The class ---- */

SNMP_RequestEngine::SNMP_RequestEngine() : m_engine(new (std::nothrow) ZbEngine())
{
}

SNMP_RequestEngine::~SNMP_RequestEngine()
{
   ZbEngine *e = m_engine;
   if (e == nullptr)
      return;
   e->destroying = true;
   for (uint32_t slot = 0; slot < e->requests.size(); slot++)
      if (e->requests[slot].state != ZB_REQUEST_FREE)
         Complete(e, slot, SNMP_RC_CANCELLED, nullptr);
   for (auto &peer : e->peers)
   {
      ZbCleanse(peer.second, sizeof(ZbUsmPeer)); /* localised keys */
      free(peer.second);
   }
   free(e->receiveBuffers);
   delete e;
}

void SNMP_RequestEngine::SetWindow(uint32_t maxOutstanding)
{
   if (m_engine != nullptr)
      m_engine->window = (maxOutstanding == 0) ? 1 : maxOutstanding;
}

void SNMP_RequestEngine::SetSecurity(SNMP_USMIdentity *identity)
{
   if (m_engine != nullptr)
      m_engine->security = identity;
}

SNMP_USMIdentity *SNMP_RequestEngine::GetSecurity() const
{
   return (m_engine != nullptr) ? m_engine->security : nullptr;
}

void SNMP_RequestEngine::SetRateLimit(uint32_t requestsPerSecond)
{
   if (m_engine == nullptr)
      return;
   m_engine->rate = requestsPerSecond;
   m_engine->tokens = 1.0;
   m_engine->tokensAt = ZbMonotonicMicros();
}

uint32_t SNMP_RequestEngine::Submit(const struct sockaddr *agent, socklen_t agentLength,
                                    SNMP_PDU *request, uint32_t timeout, uint32_t attempts,
                                    uint32_t flags, SNMP_RequestCallback callback, void *context,
                                    uint64_t *handle)
{
   std::unique_ptr<SNMP_PDU> owned(request);
   ZbEngine *e = m_engine;
   if (e == nullptr || e->destroying)
      return SNMP_RC_CANCELLED;
   ZbAgentAddress address;
   if (request == nullptr || callback == nullptr || attempts == 0 ||
       !ZbAgentFromSockaddr(agent, agentLength, &address))
      return SNMP_RC_BAD_PARAMETERS;
   int family = FamilyIndex(address.family);
   if (!e->sockets[family].IsOpen() && !e->sockets[family].Open(family == 0 ? AF_INET : AF_INET6))
      return SNMP_RC_SOCKET_ERROR;

   uint32_t id = FreshId(e);
   request->SetRequestId(id);
   uint8_t *message = nullptr;
   uint32_t length = 0;
   ZbEngineV3 *v3 = nullptr;
   if (request->GetVersion() == SNMP_VERSION_3)
   {
      /* SNMPv3: the exchange makes each message, the msgIDs match the
         answers; the request id only has to come back in the response. */
      ZbUsmPeer *peer = (e->security != nullptr) ? PeerOf(e, &address, e->security) : nullptr;
      if (peer == nullptr)
         return SNMP_RC_BAD_PARAMETERS;
      uint8_t *element = nullptr;
      uint32_t elementLength = ZbPduAccess::EncodeElement(request, &element);
      owned.reset();
      if (elementLength == 0)
         return SNMP_RC_BAD_PARAMETERS;
      v3 = new (std::nothrow) ZbEngineV3();
      ZbV3Exchange *exchange =
          (v3 != nullptr) ? new (std::nothrow) ZbV3Exchange(ZbUsmAccess::Data(e->security), peer,
                                                            element, elementLength, V3_OUR_MAX_SIZE)
                          : nullptr;
      free(element);
      if (exchange == nullptr)
      {
         delete v3;
         return SNMP_RC_BAD_PARAMETERS;
      }
      v3->exchange = exchange;
      v3->msgIdCount = 0;
   }
   else
   {
      length = request->Encode(&message);
      owned.reset();
      if (length == 0)
         return SNMP_RC_BAD_PARAMETERS;
      /* The encoder sizes its block from an upper bound: keep only the message. */
      uint8_t *exact = (uint8_t *)realloc(message, length);
      if (exact != nullptr)
         message = exact;
   }

   uint32_t slot = UINT32_MAX;
   bool queued = false;
   try
   {
      slot = AllocSlot(e);
      if (slot != UINT32_MAX)
      {
         e->queue.push_back(HandleOf(slot, e->requests[slot].generation));
         queued = true;
      }
   }
   catch (const std::bad_alloc &)
   {
   }
   if (queued && v3 == nullptr && !e->ids.Insert(id, slot))
   {
      e->queue.pop_back();
      queued = false;
   }
   if (!queued)
   {
      /* No memory for the bookkeeping: nothing was submitted. */
      if (slot != UINT32_MAX)
         FreeSlot(e, slot);
      free(message);
      if (v3 != nullptr)
      {
         delete v3->exchange;
         delete v3;
      }
      return SNMP_RC_BAD_PARAMETERS;
   }
   ZbRequest &r = e->requests[slot];
   r.agent = address;
   r.message = message;
   r.length = length;
   r.requestId = id;
   r.timeout = timeout;
   r.attemptsLeft = (uint16_t)std::min<uint32_t>(attempts - 1, 0xFFFF);
   r.flags = (uint8_t)flags;
   r.state = ZB_REQUEST_QUEUED;
   r.callback = callback;
   r.context = context;
   r.v3 = v3;
   e->pending++;
   if (handle != nullptr)
      *handle = HandleOf(slot, r.generation);
   return SNMP_RC_SUCCESS;
}

int SNMP_RequestEngine::Cancel(uint64_t handle)
{
   ZbEngine *e = m_engine;
   uint32_t slot = (uint32_t)handle;
   if (e == nullptr || slot >= e->requests.size())
      return 0;
   const ZbRequest &r = e->requests[slot];
   if (r.state == ZB_REQUEST_FREE || r.generation != (uint32_t)(handle >> 32))
      return 0;
   Complete(e, slot, SNMP_RC_CANCELLED, nullptr);
   return 1;
}

uint32_t SNMP_RequestEngine::GetSockets(SNMP_SOCKET *sockets, uint32_t size) const
{
   uint32_t n = 0;
   if (m_engine == nullptr || sockets == nullptr)
      return 0;
   for (int family = 0; family < 2 && n < size; family++)
      if (m_engine->sockets[family].IsOpen())
         sockets[n++] = m_engine->sockets[family].Handle();
   return n;
}

int32_t SNMP_RequestEngine::GetTimeout() const
{
   const ZbEngine *e = m_engine;
   if (e == nullptr || e->pending == 0)
      return -1;
   uint64_t now = ZbMonotonicMicros();
   uint64_t wait = UINT64_MAX;
   if (!e->queue.empty() && e->outstanding < e->window)
   {
      if (now < e->retryAt)
         wait = e->retryAt - now;
      else if (e->rate != 0)
      {
         double capacity = std::max(1.0, e->rate / 50.0);
         double tokens = std::min(capacity, e->tokens + (double)(now - e->tokensAt) * e->rate / 1e6);
         wait = (tokens >= 1.0) ? 0 : (uint64_t)((1.0 - tokens) * 1e6 / e->rate) + 1;
      }
      else
         wait = 0;
   }
   if (!e->timers.empty())
   {
      uint64_t deadline = e->timers.front().deadline;
      wait = std::min<uint64_t>(wait, deadline > now ? deadline - now : 0);
   }
   if (wait == UINT64_MAX)
      return -1; /* only requests without a time-out, waiting for answers */
   uint64_t ms = (wait + 999) / 1000;
   return (ms > 0x7FFFFFFF) ? 0x7FFFFFFF : (int32_t)ms;
}

void SNMP_RequestEngine::Process(SNMP_SOCKET readable)
{
   ZbEngine *e = m_engine;
   if (e == nullptr)
      return;
   try
   {
      for (int family = 0; family < 2; family++)
         if (readable != SNMP_INVALID_SOCKET && e->sockets[family].IsOpen() &&
             e->sockets[family].Handle() == readable)
            ReceiveFrom(e, family);
      uint64_t now = ZbMonotonicMicros();
      ExpireTimers(e, now);
      SendQueued(e, now);
   }
   catch (const std::bad_alloc &)
   {
      /* The work lists could not grow: what was not done is done by the
         next call. */
   }
}

uint32_t SNMP_RequestEngine::Run(uint32_t timeout)
{
   ZbEngine *e = m_engine;
   if (e == nullptr)
      return SNMP_RC_BAD_PARAMETERS;
   uint64_t start = ZbMonotonicMicros();
   for (;;)
   {
      if (e->pending == 0)
         return SNMP_RC_SUCCESS;
      int32_t wait = GetTimeout();
      if (timeout != ENGINE_NO_TIMEOUT)
      {
         uint64_t elapsed = (ZbMonotonicMicros() - start) / 1000;
         if (elapsed >= timeout)
            return SNMP_RC_TIMEOUT;
         uint64_t left = timeout - elapsed;
         if (wait < 0 || (uint64_t)wait > left)
            wait = (int32_t)std::min<uint64_t>(left, 0x7FFFFFFF);
      }
      SNMP_SOCKET sockets[2];
      uint32_t n = GetSockets(sockets, 2);
#ifdef _WIN32
      WSAPOLLFD fds[2];
      for (uint32_t i = 0; i < n; i++)
      {
         fds[i].fd = sockets[i];
         fds[i].events = POLLRDNORM;
         fds[i].revents = 0;
      }
      int ready = (n > 0) ? WSAPoll(fds, n, wait) : (Sleep(wait < 0 ? 0 : (DWORD)wait), 0);
#else
      struct pollfd fds[2];
      for (uint32_t i = 0; i < n; i++)
      {
         fds[i].fd = sockets[i];
         fds[i].events = POLLIN;
         fds[i].revents = 0;
      }
      int ready = poll(fds, n, wait);
#endif
      bool processed = false;
      for (uint32_t i = 0; ready > 0 && i < n; i++)
      {
         if (fds[i].revents != 0)
         {
            Process(sockets[i]);
            processed = true;
         }
      }
      if (!processed)
         Process(SNMP_INVALID_SOCKET);
   }
}

uint32_t SNMP_RequestEngine::GetPendingCount() const
{
   return (m_engine != nullptr) ? m_engine->pending : 0;
}

uint32_t SNMP_RequestEngine::GetOutstandingCount() const
{
   return (m_engine != nullptr) ? m_engine->outstanding : 0;
}

uint64_t SNMP_RequestEngine::GetDroppedCount() const
{
   return (m_engine != nullptr) ? m_engine->dropped : 0;
}
