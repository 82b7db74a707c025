// The request exchange over a scripted transport, and the UDP transport's
// receive buffer over loopback sockets.
#include <gtest/gtest.h>

#include <chrono>
#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#endif
#include <deque>
#include <memory>
#include <string>

#include "internal.h"
#include "socket_util.h"
#include "test_util.h"

static SocketsStartup s_startup;

namespace
{
// Each Read step: the result, and the request id of the PDU it delivers
// (-1: none, -2: a NULL PDU that did not parse).
struct ReadStep
{
   int result;
   int64_t responseId;
};

class ScriptedTransport : public SNMP_Transport
{
public:
   std::deque<int> sendResults;
   std::deque<ReadStep> reads;
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
   int Read(SNMP_PDU **pdu, uint32_t, struct sockaddr *sender, socklen_t *len) override
   {
      readCalls++;
      EXPECT_EQ(sender, nullptr);
      EXPECT_EQ(len, nullptr);
      if (reads.empty())
         return 0;
      ReadStep s = reads.front();
      reads.pop_front();
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
      {"wrong id then right id", 3, {}, {{40, 4}, {40, 5}}, SNMP_RC_SUCCESS, 2, 2, true},
      {"wrong id, one attempt", 1, {}, {{40, 4}}, SNMP_RC_TIMEOUT, 1, 1, false},
      {"parse error ends at once", 3, {}, {{40, -2}}, SNMP_RC_PARSE_ERROR, 1, 1, false},
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

TEST_F(UdpTest, SplitMessageIsJoined)
{
   std::vector<uint8_t> msg = Hex(kResponseHex);
   Send(std::vector<uint8_t>(msg.begin(), msg.begin() + 10));
   Send(std::vector<uint8_t>(msg.begin() + 10, msg.end()));
   SNMP_PDU *pdu = nullptr;
   ASSERT_EQ(transport->Read(&pdu, 2000, nullptr, nullptr), (int)msg.size());
   ASSERT_NE(pdu, nullptr);
   delete pdu;
}

TEST_F(UdpTest, TrailingBytesStayForNextRead)
{
   std::vector<uint8_t> msg = Hex(kResponseHex);
   std::vector<uint8_t> two = msg;
   two.insert(two.end(), msg.begin(), msg.begin() + 10);
   Send(two);
   SNMP_PDU *pdu = nullptr;
   ASSERT_EQ(transport->Read(&pdu, 2000, nullptr, nullptr), (int)msg.size());
   delete pdu;
   EXPECT_EQ(transport->GetBytesHeld(), 10u);
   EXPECT_EQ(transport->GetStartOffset(), (uint32_t)msg.size());
   Send(std::vector<uint8_t>(msg.begin() + 10, msg.end()));
   pdu = nullptr;
   ASSERT_EQ(transport->Read(&pdu, 2000, nullptr, nullptr), (int)msg.size());
   ASSERT_NE(pdu, nullptr);
   delete pdu;
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

   // A stale answer first, then the right one: DoRequest takes the second.
   SNMP_PDU stale(SNMP_CMD_RESPONSE, "public", 41, SNMP_VERSION_2C);
   SNMP_PDU right(SNMP_CMD_RESPONSE, "public", 42, SNMP_VERSION_2C);
   uint8_t *b1 = nullptr, *b2 = nullptr;
   uint32_t n1 = stale.Encode(&b1), n2 = right.Encode(&b2);
   // From the agent's own socket: the client's socket is connected to it.
   sendto(transport->GetSocket(), (const char *)b1, (int)n1, 0, (struct sockaddr *)&from, fromLen);
   sendto(transport->GetSocket(), (const char *)b2, (int)n2, 0, (struct sockaddr *)&from, fromLen);
   free(b1);
   free(b2);
   SNMP_PDU *resp = nullptr;
   EXPECT_EQ(client.DoRequest(&req, &resp, 2000, 3), (uint32_t)SNMP_RC_SUCCESS);
   ASSERT_NE(resp, nullptr);
   EXPECT_EQ(resp->GetRequestId(), 42u);
   delete resp;

   SNMP_PDU invalid(SNMP_CMD_INVALID, "public", 1, 1);
   EXPECT_EQ(client.Send(&invalid), 0);
}

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
