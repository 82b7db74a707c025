/* Internals of SNMP_RequestEngine: request slots, the id table, timers,
   datagram sockets with batched sends and receives, and request ids. */
#ifndef ZBSNMP_ENGINE_H
#define ZBSNMP_ENGINE_H

#include "internal.h"

#include <deque>
#include <map>
#include <vector>

class ZbV3Exchange;
struct ZbUsmPeer;

/* An agent's address in 24 bytes (a sockaddr_storage is 128). */
struct ZbAgentAddress
{
   uint8_t family;    /* 4 or 6 */
   uint8_t reserved;
   uint16_t port;     /* network order */
   uint32_t scope;    /* IPv6 scope id */
   uint8_t addr[16];  /* IPv4 in the first 4 octets */
};

/* Fills address from a sockaddr; 0 for another family or a short length. */
int ZbAgentFromSockaddr(const struct sockaddr *sa, socklen_t length, ZbAgentAddress *address);
/* Writes the sockaddr of an address; returns its length. */
socklen_t ZbAgentToSockaddr(const ZbAgentAddress *address, struct sockaddr_storage *sa);
bool ZbAgentEqual(const ZbAgentAddress *a, const ZbAgentAddress *b);

enum ZbRequestState : uint8_t
{
   ZB_REQUEST_FREE = 0,
   ZB_REQUEST_QUEUED,       /* encoded, waiting for room in the window or the rate */
   ZB_REQUEST_OUTSTANDING,  /* sent, waiting for its answer or its deadline */
};

/* The SNMPv3 side of a request: the exchange that makes each message
   (discovery, the request, a re-synchronisation) and the msgIDs it has sent
   that the id table maps to the request. */
#define ZB_V3_MSGIDS 8
struct ZbEngineV3
{
   ZbV3Exchange *exchange;
   uint32_t msgIds[ZB_V3_MSGIDS];   /* oldest first */
   uint32_t msgIdCount;
};

/* One submitted request. */
struct ZbRequest
{
   ZbAgentAddress agent;
   uint8_t *message;            /* v1/v2c: the encoded request, resent as it is;
                                   v3: the exchange's current message (lent) */
   uint32_t length;
   uint32_t requestId;
   uint64_t deadline;           /* microseconds, monotonic: the current attempt's end */
   uint32_t timeout;            /* the current attempt's time-out, milliseconds */
   uint16_t attemptsLeft;       /* sends still to come after the current one */
   uint8_t flags;
   ZbRequestState state;
   uint32_t generation;         /* changes whenever the slot is freed */
   uint32_t nextFree;
   SNMP_RequestCallback callback;
   void *context;
   ZbEngineV3 *v3;              /* NULL for SNMPv1 and SNMPv2c */
};

/* Request ids of pending requests -> slot numbers: open addressing with
   linear probing and backward-shift deletion (0 is never an id). */
class ZbIdTable
{
public:
   ZbIdTable() = default;
   ~ZbIdTable();
   ZbIdTable(const ZbIdTable &) = delete;
   ZbIdTable &operator=(const ZbIdTable &) = delete;

   /* The slot of an id, or UINT32_MAX. */
   uint32_t Find(uint32_t id) const;
   /* Adds an id that is not in the table; 0 when no memory is left. */
   int Insert(uint32_t id, uint32_t slot);
   void Erase(uint32_t id);
   uint32_t Count() const { return m_count; }

private:
   int Grow();

   uint32_t *m_ids = nullptr;
   uint32_t *m_slots = nullptr;
   uint32_t m_capacity = 0;  /* a power of two, or 0 */
   uint32_t m_count = 0;
};

/* Unpredictable request ids from the system's random source, drawn in
   batches. */
class ZbIdSource
{
public:
   /* A value in 1 .. 2^31 - 1 (agents read request ids as signed). */
   uint32_t Next();

private:
   void Refill();
   uint32_t m_pool[256];
   uint32_t m_left = 0;
};

struct ZbTimer
{
   uint64_t deadline;
   uint32_t slot;
   uint32_t generation;
};

/* One datagram to send or received. */
struct ZbDatagram
{
   const uint8_t *data;
   uint32_t length;
   ZbAgentAddress agent;
   uint32_t slot;    /* sends: the request's slot */
};

/* A non-blocking unconnected UDP socket of one family. */
class ZbDatagramSocket
{
public:
   ZbDatagramSocket() = default;
   ~ZbDatagramSocket();
   ZbDatagramSocket(const ZbDatagramSocket &) = delete;
   ZbDatagramSocket &operator=(const ZbDatagramSocket &) = delete;

   /* Makes the socket (AF_INET or AF_INET6), bound to a port the system picks;
      1 on success. */
   int Open(int family);
   void Close();
   bool IsOpen() const { return m_socket != SNMP_INVALID_SOCKET; }
   SNMP_SOCKET Handle() const { return m_socket; }

   /* Sends datagrams from the first on; returns how many were sent. *error
      is 0, or the system's error for the datagram at the returned index
      (EAGAIN/ENOBUFS: try again later). */
   uint32_t Send(const ZbDatagram *datagrams, uint32_t count, int *error);
   /* Receives up to count datagrams into buffers of ZB_DATAGRAM_SIZE octets
      each (datagrams[i].data points into buffers); returns how many. *error
      is 0 when the socket simply has nothing more (or the batch is full),
      else the system's error. Datagrams larger than a buffer are dropped. */
   uint32_t Receive(uint8_t *buffers, ZbDatagram *datagrams, uint32_t count, int *error);

private:
   SNMP_SOCKET m_socket = SNMP_INVALID_SOCKET;
   int m_family = 0;
};

/* Room for the largest UDP payload (65507), and so for any SNMP message. */
#define ZB_DATAGRAM_SIZE 65536
/* Datagrams handled per batched system call. */
#define ZB_DATAGRAM_BATCH 32

/* Microseconds of a monotonic clock. */
uint64_t ZbMonotonicMicros();

/* The engine's state behind SNMP_RequestEngine. */
struct ZbEngine
{
   std::vector<ZbRequest> requests;   /* slots; the free ones linked through nextFree */
   uint32_t freeHead = UINT32_MAX;
   ZbIdTable ids;
   ZbIdSource idSource;
   std::vector<ZbTimer> timers;       /* a min-heap by deadline; stale entries skipped */
   std::deque<uint64_t> queue;        /* handles of queued requests, in submission order */
   uint32_t pending = 0;
   uint32_t outstanding = 0;
   uint32_t window = 1000;
   uint32_t rate = 0;                 /* new requests per second, 0 = no limit */
   double tokens = 0;
   uint64_t tokensAt = 0;
   uint64_t retryAt = 0;              /* a send was refused for now: retry then */
   uint64_t dropped = 0;
   bool destroying = false;
   ZbDatagramSocket sockets[2];       /* IPv4, IPv6 */
   SNMP_USMIdentity *security = nullptr;  /* for version-3 submissions (lent) */
   /* What each agent's engine is to each identity (engine ID, boots, time,
      keys localised for it): learnt once, used by every request. */
   std::map<std::pair<std::vector<uint8_t>, SNMP_USMIdentity *>, ZbUsmPeer *> peers;
   uint8_t *receiveBuffers = nullptr; /* ZB_DATAGRAM_BATCH buffers, made on first use */
};

#endif
