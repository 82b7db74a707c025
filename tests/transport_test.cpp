// The request exchange over a scripted transport, and the UDP transport's
// receive buffer over loopback sockets.
#include <gtest/gtest.h>

#include <chrono>
#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
#endif
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "internal.h"
#include "socket_util.h"
#include "test_util.h"

// The out-of-memory test limits the address space, which AddressSanitizer
// cannot live with.
#if defined(__SANITIZE_ADDRESS__)
#define ZBSNMP_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZBSNMP_TEST_UNDER_ASAN 1
#endif
#endif
#ifndef ZBSNMP_TEST_UNDER_ASAN
#define ZBSNMP_TEST_UNDER_ASAN 0
#endif

static SocketsStartup s_startup;

namespace
{
// Each Read step: the result, the request id of the PDU it delivers (-1:
// none, -2: a NULL PDU that did not parse), and how long the step takes.
struct ReadStep
{
   int result;
   int64_t responseId;
   int delayMs = 0;
};

class ScriptedTransport : public SNMP_Transport
{
public:
   std::deque<int> sendResults;
   std::deque<ReadStep> reads;
   std::vector<uint32_t> timeouts;  // what each Read was given
   int sends = 0, readCalls = 0;

   int Send(SNMP_PDU *) override
   {
      sends++;
      if (sendResults.empty())
         return 10;
      int r = sendResults.front();
      sendResults.pop_front();
      return r;
   }
   int Read(SNMP_PDU **pdu, uint32_t timeout, struct sockaddr *sender, socklen_t *len) override
   {
      readCalls++;
      timeouts.push_back(timeout);
      EXPECT_EQ(sender, nullptr);
      EXPECT_EQ(len, nullptr);
      if (reads.empty())
         return 0;
      ReadStep s = reads.front();
      reads.pop_front();
      if (s.delayMs > 0)
         std::this_thread::sleep_for(std::chrono::milliseconds(s.delayMs));
      if (s.result > 0)
         *pdu = (s.responseId == -2) ? nullptr
                                     : new SNMP_PDU(SNMP_CMD_RESPONSE, "c", (uint32_t)s.responseId, 1);
      return s.result;
   }
};
}  // namespace

TEST(DoRequest, BadParameters)
{
   ScriptedTransport t;
   SNMP_PDU req(SNMP_CMD_GET_REQUEST, "public", 5, 1);
   SNMP_PDU *marker = &req, *resp = marker;
   EXPECT_EQ(t.DoRequest(&req, &resp, 100, 0), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(t.DoRequest(nullptr, &resp, 100, 3), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(t.DoRequest(&req, nullptr, 100, 3), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(resp, marker);
   EXPECT_EQ(t.sends + t.readCalls, 0);
}

TEST(DoRequest, Outcomes)
{
   struct Case
   {
      const char *what;
      uint32_t attempts;
      std::deque<int> sends;
      std::deque<ReadStep> reads;
      uint32_t rc;
      int expectSends, expectReads;
      bool response;
   };
   const Case cases[] = {
      {"no answer", 3, {}, {}, SNMP_RC_TIMEOUT, 3, 3, false},
      {"answer first time", 3, {}, {{40, 5}}, SNMP_RC_SUCCESS, 1, 1, true},
      {"send fails in second attempt", 3, {10, -1}, {{0, 0}}, SNMP_RC_COMM_ERROR, 2, 1, false},
      {"send encodes nothing", 3, {0}, {}, SNMP_RC_COMM_ERROR, 1, 0, false},
      {"read fails then time-out", 2, {}, {{-1, 0}, {0, 0}}, SNMP_RC_TIMEOUT, 2, 2, false},
      {"time-out then read fails", 2, {}, {{0, 0}, {-1, 0}}, SNMP_RC_COMM_ERROR, 2, 2, false},
      {"parse error ends at once", 3, {}, {{40, -2}}, SNMP_RC_PARSE_ERROR, 1, 1, false},
      // A late answer (another id) is dropped and the same attempt waits on.
      {"wrong id then right id", 3, {}, {{40, 4}, {40, 5}}, SNMP_RC_SUCCESS, 1, 2, true},
      {"wrong id then right id, one attempt", 1, {}, {{40, 4}, {40, 5}}, SNMP_RC_SUCCESS, 1, 2,
       true},
      {"wrong id then nothing, one attempt", 1, {}, {{40, 4}}, SNMP_RC_TIMEOUT, 1, 2, false},
      {"wrong id, nothing, right id next attempt", 2, {}, {{40, 4}, {0, 0}, {40, 5}},
       SNMP_RC_SUCCESS, 2, 3, true},
      {"wrong id then read fails", 1, {}, {{40, 4}, {-1, 0}}, SNMP_RC_COMM_ERROR, 1, 2, false},
      {"wrong id then parse error", 3, {}, {{40, 4}, {40, -2}}, SNMP_RC_PARSE_ERROR, 1, 2, false},
      {"wrong ids until the time-out runs out", 1, {}, {{40, 4, 60}, {40, 4, 60}, {40, 5}},
       SNMP_RC_TIMEOUT, 1, 2, false},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      ScriptedTransport t;
      t.sendResults = c.sends;
      t.reads = c.reads;
      SNMP_PDU req(SNMP_CMD_GET_REQUEST, "public", 5, 1);
      SNMP_PDU *resp = &req;
      EXPECT_EQ(t.DoRequest(&req, &resp, 100, c.attempts), c.rc);
      EXPECT_EQ(t.sends, c.expectSends);
      EXPECT_EQ(t.readCalls, c.expectReads);
      if (c.response)
      {
         ASSERT_NE(resp, nullptr);
         EXPECT_EQ(resp->GetRequestId(), 5u);
         delete resp;
      }
      else
      {
         EXPECT_EQ(resp, nullptr);
      }
   }
}

// The first Read of an attempt gets the whole time-out, later ones what is
// left of it; without a limit every Read waits without one.
TEST(DoRequest, LateAnswersShortenTheWait)
{
   ScriptedTransport t;
   t.reads = {{40, 4, 50}, {40, 3}, {0, 0}, {40, 5}};
   SNMP_PDU req(SNMP_CMD_GET_REQUEST, "public", 5, 1);
   SNMP_PDU *resp = nullptr;
   ASSERT_EQ(t.DoRequest(&req, &resp, 1000, 2), (uint32_t)SNMP_RC_SUCCESS);
   delete resp;
   EXPECT_EQ(t.sends, 2);
   ASSERT_EQ(t.timeouts.size(), 4u);
   EXPECT_EQ(t.timeouts[0], 1000u);
   EXPECT_LE(t.timeouts[1], 950u);
   EXPECT_GT(t.timeouts[1], 0u);
   EXPECT_LE(t.timeouts[2], t.timeouts[1]);
   EXPECT_EQ(t.timeouts[3], 1000u);  // a new attempt, a new time-out

   ScriptedTransport forever;
   forever.reads = {{40, 4, 20}, {40, 3}, {40, 5}};
   ASSERT_EQ(forever.DoRequest(&req, &resp, 0xFFFFFFFF, 1), (uint32_t)SNMP_RC_SUCCESS);
   delete resp;
   EXPECT_EQ(forever.timeouts, std::vector<uint32_t>(3, 0xFFFFFFFFu));
}

TEST(DoRequest, PlainTransportIsACommError)
{
   SNMP_Transport t;
   SNMP_PDU req(SNMP_CMD_GET_REQUEST, "public", 5, 1);
   SNMP_PDU *resp = nullptr;
   EXPECT_EQ(t.DoRequest(&req, &resp, 10, 5), (uint32_t)SNMP_RC_COMM_ERROR);
   EXPECT_EQ(t.Read(&resp, 0, nullptr, nullptr), -1);
}

// ---- UDP transport over loopback ----

static const char kResponseHex[] =
    "30 1A 02 01 01 04 00 A2 13 02 01 01 02 01 00 02 01 00 30 08 30 06 06 01 2B 02 01 05";

class UdpTest : public ::testing::Test
{
protected:
   void SetUp() override
   {
      SNMP_SOCKET s = BoundSocket(&port);
      transport = std::make_unique<SNMP_UDPTransport>(s);
      sender = BoundSocket(&senderPort);
   }
   void TearDown() override { CloseSock(sender); }
   void Send(const std::vector<uint8_t> &d) { SendTo(sender, port, d.data(), d.size()); }

   uint16_t port = 0, senderPort = 0;
   std::unique_ptr<SNMP_UDPTransport> transport;
   SNMP_SOCKET sender;
};

TEST_F(UdpTest, NewTransportState)
{
   SNMP_UDPTransport t;
   EXPECT_EQ(t.GetSocket(), SNMP_INVALID_SOCKET);
   EXPECT_EQ(t.GetBufferSize(), 32768u);
   EXPECT_EQ(t.GetBytesHeld(), 0u);
   SNMP_PDU *pdu = nullptr;
   EXPECT_LT(t.Read(&pdu, 0, nullptr, nullptr), 0);  // no socket: a failure, not a hang
}

TEST_F(UdpTest, OneMessageWithSender)
{
   std::vector<uint8_t> msg = Hex(kResponseHex);
   Send(msg);
   SNMP_PDU *pdu = nullptr;
   struct sockaddr_in from;
   socklen_t fromLen = sizeof(from);
   ASSERT_EQ(transport->Read(&pdu, 2000, (struct sockaddr *)&from, &fromLen), (int)msg.size());
   ASSERT_NE(pdu, nullptr);
   EXPECT_EQ(pdu->GetVariable(0)->GetValueAsInt(), 5);
   delete pdu;
   EXPECT_EQ(fromLen, (socklen_t)sizeof(struct sockaddr_in));
   EXPECT_EQ(ntohs(from.sin_port), senderPort);
   EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
   EXPECT_EQ(transport->GetBytesHeld(), 0u);
   EXPECT_EQ(transport->GetStartOffset(), 0u);
}

// Every datagram is taken alone: nothing of one is joined with the next,
// octets after a whole message are dropped, and each delivered message
// reports its own sender. A step is one datagram from sender A or B, read
// after all of the case's datagrams were sent.
TEST_F(UdpTest, EachDatagramAlone)
{
   const std::string msg = kResponseHex;  // 28 octets
   struct Step
   {
      char from;
      std::string hex;
      int result;  // of the Read that takes this datagram
   };
   struct Case
   {
      const char *what;
      std::vector<Step> steps;
   };
   const Case cases[] = {
      {"message split over two datagrams",
       {{'A', "30 1A 02 01 01 04 00 A2 13 02", 0},
        {'A', "01 01 02 01 00 02 01 00 30 08 30 06 06 01 2B 02 01 05", 0}}},
      {"ten octets after the message", {{'A', msg + " 30 1A 02 01 01 04 00 A2 13 02", 28}}},
      {"one stray octet does not lose the next message",
       {{'A', msg + " 30", 28}, {'A', msg, 28}}},
      {"two messages in one datagram: the second is dropped", {{'A', msg + " " + msg, 28}}},
      {"a short header from A does not blind B",
       {{'A', "30 40 02 01", 0}, {'B', msg, 28}, {'B', msg, 28}}},
      {"senders alternate", {{'B', msg, 28}, {'A', msg + " 00", 28}, {'B', msg, 28}}},
      {"header announcing more than the datagram", {{'A', "30 1B" + msg.substr(5), 0}}},
   };
   uint16_t portB;
   SNMP_SOCKET senderB = BoundSocket(&portB);
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.what);
      for (const Step &step : c.steps)
      {
         std::vector<uint8_t> d = Hex(step.hex);
         SendTo(step.from == 'A' ? sender : senderB, port, d.data(), d.size());
      }
      for (const Step &step : c.steps)
      {
         SCOPED_TRACE(step.hex);
         SNMP_PDU *marker = (SNMP_PDU *)&port, *pdu = marker;
         struct sockaddr_in from;
         memset(&from, 0, sizeof(from));
         socklen_t fromLen = sizeof(from);
         int n = transport->Read(&pdu, 2000, (struct sockaddr *)&from, &fromLen);
         EXPECT_EQ(n, step.result);
         EXPECT_EQ(transport->GetBytesHeld(), 0u);
         EXPECT_EQ(transport->GetStartOffset(), 0u);
         if (step.result == 0)
         {
            EXPECT_EQ(pdu, marker);
            continue;
         }
         ASSERT_NE(pdu, marker);
         ASSERT_NE(pdu, nullptr);
         EXPECT_EQ(pdu->GetVariable(0)->GetValueAsInt(), 5);
         delete pdu;
         EXPECT_EQ(fromLen, (socklen_t)sizeof(struct sockaddr_in));
         EXPECT_EQ(ntohs(from.sin_port), step.from == 'A' ? senderPort : portB);
      }
      // Nothing was held over for a later call.
      SNMP_PDU *pdu = nullptr;
      EXPECT_EQ(transport->Read(&pdu, 0, nullptr, nullptr), 0);
      EXPECT_EQ(pdu, nullptr);
   }
   CloseSock(senderB);
}

// A message of a given size: a GET response whose one binding holds an
// OCTET STRING long enough to fill it.
static std::vector<uint8_t> MessageOfSize(size_t size)
{
   size_t valueLength = size - 40;
   for (int round = 0; round < 4; round++)
   {
      SNMP_PDU pdu(SNMP_CMD_RESPONSE, "public", 7, SNMP_VERSION_2C);
      SNMP_Variable *v = new SNMP_Variable(".1.3.6.1.2.1.1.1.0");
      v->SetValueFromString(ASN_TYPE_OCTET_STRING, std::string(valueLength, 'x').c_str());
      pdu.BindVariable(v);
      uint8_t *out = nullptr;
      size_t n = pdu.Encode(&out);
      std::vector<uint8_t> bytes(out, out + n);
      free(out);
      if (n == size)
         return bytes;
      valueLength += size - n;
   }
   return {};
}

// The largest datagram taken in is exactly the buffer's size; one octet more
// is a datagram too large, never taken for a shorter one.
TEST_F(UdpTest, DatagramOfExactlyTheBufferSize)
{
   std::vector<uint8_t> full = MessageOfSize(32768);
   ASSERT_EQ(full.size(), 32768u);
   Send(full);
   SNMP_PDU *pdu = nullptr;
   ASSERT_EQ(transport->Read(&pdu, 2000, nullptr, nullptr), 32768);
   ASSERT_NE(pdu, nullptr);
   EXPECT_GT(pdu->GetVariable(0)->GetValueLength(), 32700u);
   delete pdu;

   std::vector<uint8_t> over = full;
   over.push_back(0x00);  // a whole message, and one octet beyond the buffer
   Send(over);
   pdu = nullptr;
   EXPECT_LT(transport->Read(&pdu, 2000, nullptr, nullptr), 0);
   EXPECT_EQ(pdu, nullptr);
   EXPECT_EQ(transport->GetBytesHeld(), 0u);
}

TEST_F(UdpTest, GarbageAndNonSnmpSequences)
{
   SNMP_PDU *marker = (SNMP_PDU *)&port, *pdu = marker;
   Send(Hex("04 03 61 62 63"));  // not a SEQUENCE
   EXPECT_EQ(transport->Read(&pdu, 2000, nullptr, nullptr), 0);
   EXPECT_EQ(pdu, marker);
   EXPECT_EQ(transport->GetBytesHeld(), 0u);

   Send(Hex("30 03 02 01 05"));  // a SEQUENCE that is no SNMP message
   EXPECT_EQ(transport->Read(&pdu, 2000, nullptr, nullptr), 5);
   EXPECT_EQ(pdu, nullptr);

   Send({});  // empty datagram
   pdu = marker;
   EXPECT_EQ(transport->Read(&pdu, 2000, nullptr, nullptr), 0);
   EXPECT_EQ(pdu, marker);
}

TEST_F(UdpTest, OversizedDatagramFails)
{
   std::vector<uint8_t> big(40000, 0x30);
   Send(big);
   SNMP_PDU *pdu = nullptr;
   EXPECT_LT(transport->Read(&pdu, 2000, nullptr, nullptr), 0);
   EXPECT_EQ(pdu, nullptr);
   EXPECT_EQ(transport->GetBytesHeld(), 0u);
}

TEST_F(UdpTest, LyingHeaderDoesNotSwallowNextMessage)
{
   Send(Hex("30 84 00 01 00 00 02 01 01"));  // announces 65542 bytes
   std::vector<uint8_t> msg = Hex(kResponseHex);
   Send(msg);
   SNMP_PDU *pdu = nullptr;
   auto start = std::chrono::steady_clock::now();
   EXPECT_EQ(transport->Read(&pdu, 2000, nullptr, nullptr), 0);
   EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
   EXPECT_EQ(transport->GetBytesHeld(), 0u);
   ASSERT_EQ(transport->Read(&pdu, 2000, nullptr, nullptr), (int)msg.size());
   ASSERT_NE(pdu, nullptr);
   delete pdu;
}

TEST_F(UdpTest, TimeoutsAndPolling)
{
   SNMP_PDU *pdu = nullptr;
   EXPECT_EQ(transport->Read(&pdu, 0, nullptr, nullptr), 0);  // 0 only polls
   auto start = std::chrono::steady_clock::now();
   EXPECT_EQ(transport->Read(&pdu, 150, nullptr, nullptr), 0);
   auto waited = std::chrono::steady_clock::now() - start;
   EXPECT_GE(waited, std::chrono::milliseconds(100));
   EXPECT_LT(waited, std::chrono::seconds(5));
   // No limit: blocks in the receive until a datagram comes.
   std::vector<uint8_t> msg = Hex(kResponseHex);
   Send(msg);
   EXPECT_EQ(transport->Read(&pdu, 0xFFFFFFFF, nullptr, nullptr), (int)msg.size());
   delete pdu;
}

TEST_F(UdpTest, CreateAndExchange)
{
   SNMP_UDPTransport client;
   EXPECT_EQ(client.CreateUDPTransport(nullptr, 0, port), (uint32_t)SNMP_RC_BAD_HOSTNAME);
   EXPECT_EQ(client.CreateUDPTransport(nullptr, 0xFFFFFFFF, port), (uint32_t)SNMP_RC_BAD_HOSTNAME);
   EXPECT_EQ(client.CreateUDPTransport("255.255.255.255", 0, port), (uint32_t)SNMP_RC_BAD_HOSTNAME);
   EXPECT_EQ(client.CreateUDPTransport("no-such-host.invalid", 0, port),
             (uint32_t)SNMP_RC_BAD_HOSTNAME);
   EXPECT_EQ(client.GetSocket(), SNMP_INVALID_SOCKET);
   ASSERT_EQ(client.CreateUDPTransport(nullptr, htonl(INADDR_LOOPBACK), port),
             (uint32_t)SNMP_RC_SUCCESS);
   SNMP_UDPTransport byName;
   ASSERT_EQ(byName.CreateUDPTransport("127.0.0.1", 0xFFFFFFFF, port), (uint32_t)SNMP_RC_SUCCESS);

   SNMP_PDU req(SNMP_CMD_GET_REQUEST, "public", 42, SNMP_VERSION_2C);
   req.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.1.0"));
   int sent = client.Send(&req);
   ASSERT_GT(sent, 0);
   SNMP_PDU *got = nullptr;
   struct sockaddr_in from;
   socklen_t fromLen = sizeof(from);
   ASSERT_EQ(transport->Read(&got, 2000, (struct sockaddr *)&from, &fromLen), sent);
   ASSERT_NE(got, nullptr);
   EXPECT_EQ(got->GetRequestId(), 42u);
   EXPECT_EQ(got->GetCommand(), (uint32_t)SNMP_CMD_GET_REQUEST);
   delete got;

   SNMP_PDU invalid(SNMP_CMD_INVALID, "public", 1, 1);
   EXPECT_EQ(client.Send(&invalid), 0);
}

// An agent that answers each request first with a late answer to an earlier
// one (another id) and right after with the answer: the exchange takes the
// second within the same attempt, and the request is sent once.
TEST_F(UdpTest, LateAnswerDoesNotEndTheAttempt)
{
   for (uint32_t attempts : {1u, 3u})
   {
      SCOPED_TRACE(attempts);
      SNMP_UDPTransport client;
      ASSERT_EQ(client.CreateUDPTransport("127.0.0.1", 0, port), (uint32_t)SNMP_RC_SUCCESS);
      int requests = 0;
      std::thread agent([&] {
         SNMP_PDU *got = nullptr;
         struct sockaddr_in from;
         socklen_t fromLen = sizeof(from);
         if (transport->Read(&got, 2000, (struct sockaddr *)&from, &fromLen) <= 0 || got == nullptr)
            return;
         requests++;
         uint32_t id = got->GetRequestId();
         delete got;
         for (uint32_t answerId : {id - 1, id})
         {
            SNMP_PDU answer(SNMP_CMD_RESPONSE, "private", answerId, SNMP_VERSION_2C);
            uint8_t *bytes = nullptr;
            uint32_t n = answer.Encode(&bytes);
            sendto(transport->GetSocket(), (const char *)bytes, (int)n, 0,
                   (struct sockaddr *)&from, fromLen);
            free(bytes);
         }
         // A second send of the request would arrive here.
         while (transport->Read(&got, 300, nullptr, nullptr) > 0)
         {
            requests++;
            delete got;
         }
      });
      SNMP_PDU req(SNMP_CMD_SET_REQUEST, "private", 42, SNMP_VERSION_2C);
      SNMP_Variable *v = new SNMP_Variable(".1.3.6.1.2.1.1.6.0");
      v->SetValueFromString(ASN_TYPE_OCTET_STRING, "Rack 42");
      req.BindVariable(v);
      SNMP_PDU *resp = nullptr;
      EXPECT_EQ(client.DoRequest(&req, &resp, 2000, attempts), (uint32_t)SNMP_RC_SUCCESS);
      agent.join();
      ASSERT_NE(resp, nullptr);
      EXPECT_EQ(resp->GetRequestId(), 42u);
      delete resp;
      EXPECT_EQ(requests, 1);
   }
}

#if !defined(_WIN32) && !ZBSNMP_TEST_UNDER_ASAN
// Fills the heap under an address-space limit at the process's present size,
// so that every later allocation of pointer size or more fails.
static void ExhaustHeap()
{
   long pages = 0;
   FILE *f = fopen("/proc/self/statm", "r");
   if (f != nullptr)
   {
      if (fscanf(f, "%ld", &pages) != 1)
         pages = 0;
      fclose(f);
   }
   struct rlimit rl;
   rl.rlim_cur = rl.rlim_max = (rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE);
   setrlimit(RLIMIT_AS, &rl);
   static void *volatile s_head = nullptr;  // keeps the blocks reachable
   // Large blocks first, then every small size: the allocator keeps freed
   // small blocks in bins of their own size, which no other size draws on.
   for (size_t size = (size_t)1 << 20; size >= sizeof(void *);
        size = (size > 4096) ? size / 2 : size - sizeof(void *))
   {
      for (void *p; (p = malloc(size)) != nullptr;)
      {
         *(void **)p = s_head;
         s_head = p;
      }
   }
}

// The reads of OutOfMemory, in the child: a bit set for each that failed.
static int ReadsWithoutMemory(SNMP_UDPTransport *buffered, SNMP_SOCKET other)
{
   ExhaustHeap();
   int failed = 0;
   void *probe = malloc(sizeof(SNMP_PDU));
   if (probe != nullptr)
      failed |= 1;  // the heap is not full: the test would prove nothing
   SNMP_PDU *marker = (SNMP_PDU *)&failed;
   SNMP_PDU *pdu = marker;
   SNMP_UDPTransport unbuffered(other);
   if (unbuffered.Read(&pdu, 1000, nullptr, nullptr) >= 0 || pdu != marker)
      failed |= 2;
   SNMP_UDPTransport empty;
   if (empty.Read(&pdu, 0, nullptr, nullptr) >= 0 || pdu != marker)
      failed |= 4;
   if (buffered->Read(&pdu, 1000, nullptr, nullptr) != 0 || pdu != marker ||
       buffered->GetBytesHeld() != 0)
      failed |= 8;
   return failed;
}

// Out of memory, a transport without a receive buffer fails its reads, and a
// message for which no PDU can be made is dropped; nothing throws or crashes.
TEST_F(UdpTest, OutOfMemory)
{
   // Valgrind's own allocator cannot live under the limit.
   const char *preload = getenv("LD_PRELOAD");
   if (preload != nullptr && strstr(preload, "vgpreload") != nullptr)
      GTEST_SKIP() << "not under valgrind";
   uint16_t otherPort;
   SNMP_SOCKET other = BoundSocket(&otherPort);
   std::vector<uint8_t> msg = Hex(kResponseHex);
   Send(msg);
   SendTo(sender, otherPort, msg.data(), msg.size());
   EXPECT_EXIT(_exit(ReadsWithoutMemory(transport.get(), other)), ::testing::ExitedWithCode(0),
               "");
   CloseSock(other);
}
#endif

#ifndef _WIN32
TEST_F(UdpTest, PeerGoneAndClosedSocket)
{
   // A connected socket whose peer has no listener: the ICMP error arrives
   // as ECONNREFUSED on the next receive, a failure rather than a time-out.
   uint16_t deadPort;
   SNMP_SOCKET dead = BoundSocket(&deadPort);
   CloseSock(dead);
   SNMP_UDPTransport client;
   ASSERT_EQ(client.CreateUDPTransport("127.0.0.1", 0, deadPort), (uint32_t)SNMP_RC_SUCCESS);
   SNMP_PDU req(SNMP_CMD_GET_REQUEST, "public", 1, 1);
   SNMP_PDU *resp = nullptr;
   EXPECT_EQ(client.DoRequest(&req, &resp, 500, 2), (uint32_t)SNMP_RC_COMM_ERROR);
   EXPECT_EQ(resp, nullptr);

   // The transport closes a socket handed to it.
   uint16_t p;
   SNMP_SOCKET s = BoundSocket(&p);
   {
      SNMP_UDPTransport owner(s);
   }
   EXPECT_LT(write(s, "x", 1), 0);
   EXPECT_EQ(errno, EBADF);
}

// A send on a socket that is gone fails at once, and the request is intact.
TEST_F(UdpTest, SendOnClosedSocket)
{
   SNMP_UDPTransport client;
   ASSERT_EQ(client.CreateUDPTransport("127.0.0.1", 0, port), (uint32_t)SNMP_RC_SUCCESS);
   SNMP_PDU req(SNMP_CMD_GET_REQUEST, "public", 9, SNMP_VERSION_2C);
   req.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.1.0"));
   uint8_t *before = nullptr;
   uint32_t n = req.Encode(&before);
   // Close the descriptor under the transport, and put a read-only file there
   // so that the number stays taken and sending on it fails.
   int fd = client.GetSocket();
   close(fd);
   int placeholder = open("/dev/null", O_RDONLY);
   ASSERT_EQ(placeholder, fd);
   EXPECT_LT(client.Send(&req), 0);
   SNMP_PDU *resp = &req;
   EXPECT_EQ(client.DoRequest(&req, &resp, 100, 3), (uint32_t)SNMP_RC_COMM_ERROR);
   EXPECT_EQ(resp, nullptr);
   SNMP_PDU *got = &req;
   EXPECT_LT(client.Read(&got, 50, nullptr, nullptr), 0);
   EXPECT_EQ(got, &req);
   EXPECT_EQ(client.GetBytesHeld(), 0u);
   uint8_t *after = nullptr;
   ASSERT_EQ(req.Encode(&after), n);
   EXPECT_EQ(memcmp(before, after, n), 0);
   free(before);
   free(after);
}
#endif
