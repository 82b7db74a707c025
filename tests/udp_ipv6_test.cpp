// The UDP transport beyond IPv4: ConnectUDPTransport's address texts and
// families, exchanges over ::1, and a listener's replies (SendTo,
// AcknowledgeInform) to IPv4 and IPv6 senders.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "internal.h"
#include "socket_util.h"
#include "test_util.h"

static SocketsStartup s_startup;

TEST(ConnectUDPTransport, RefusedTexts)
{
   uint16_t port;
   SNMP_SOCKET agent = BoundSocket(&port);
   const struct
   {
      const char *host;
      int family;
   } cases[] = {
      {nullptr, AF_UNSPEC},
      {"", AF_UNSPEC},
      {"fe80::1%lo", AF_UNSPEC},        // zones are refused, never resolved
      {"::1%1", AF_UNSPEC},
      {"[::1]", AF_UNSPEC},             // brackets belong to the caller's syntax
      {"[::1]:161", AF_UNSPEC},
      {"127.0.0.1:161", AF_UNSPEC},     // no port in the text
      {"::1::2", AF_UNSPEC},
      {"12345::", AF_UNSPEC},
      {"::g", AF_UNSPEC},
      {"host name", AF_UNSPEC},
      {"router\n", AF_UNSPEC},
      {"no-such-host.invalid", AF_UNSPEC},
      {"0.0.0.0", AF_UNSPEC},           // the unspecified and broadcast addresses
      {"::", AF_UNSPEC},
      {"255.255.255.255", AF_UNSPEC},
#ifndef _WIN32
      {"127.0.0.1", AF_INET6},          // the text is not of the family asked for
      {"::1", AF_INET},
#endif
      {"127.0.0.1", 12345},             // no such family
   };
   for (const auto &c : cases)
   {
      SCOPED_TRACE(c.host != nullptr ? c.host : "(null)");
      SNMP_UDPTransport t;
      EXPECT_EQ(t.ConnectUDPTransport(c.host, port, c.family), (uint32_t)SNMP_RC_BAD_HOSTNAME);
      EXPECT_EQ(t.GetSocket(), SNMP_INVALID_SOCKET);
   }
   // A refused text leaves a connected transport as it was.
   SNMP_UDPTransport t;
   ASSERT_EQ(t.ConnectUDPTransport("127.0.0.1", port), (uint32_t)SNMP_RC_SUCCESS);
   SNMP_SOCKET held = t.GetSocket();
   EXPECT_EQ(t.ConnectUDPTransport("fe80::1%lo", port), (uint32_t)SNMP_RC_BAD_HOSTNAME);
   EXPECT_EQ(t.GetSocket(), held);
   CloseSock(agent);
}

// A GET over the transport reaches the agent socket and its answer comes back.
static void ExpectExchange(SNMP_UDPTransport *client, SNMP_SOCKET agent, int family)
{
   SNMP_UDPTransport server(agent);
   SNMP_PDU req(SNMP_CMD_GET_REQUEST, "public", 77, SNMP_VERSION_2C);
   req.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.5.0"));
   ASSERT_GT(client->Send(&req), 0);
   SNMP_PDU *got = nullptr;
   struct sockaddr_storage from;
   socklen_t fromLen = sizeof(from);
   ASSERT_GT(server.Read(&got, 2000, (struct sockaddr *)&from, &fromLen), 0);
   std::unique_ptr<SNMP_PDU> request(got);
   ASSERT_NE(got, nullptr);
   EXPECT_EQ(got->GetRequestId(), 77u);
   EXPECT_EQ(from.ss_family, family);
   EXPECT_EQ(fromLen, family == AF_INET6 ? sizeof(struct sockaddr_in6) : sizeof(struct sockaddr_in));
   // The agent answers through SendTo on its unconnected socket.
   SNMP_PDU answer(SNMP_CMD_RESPONSE, "public", 77, SNMP_VERSION_2C);
   answer.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.5.0"));
   ASSERT_GT(server.SendTo(&answer, (struct sockaddr *)&from, fromLen), 0);
   SNMP_PDU *resp = nullptr;
   ASSERT_GT(client->Read(&resp, 2000, nullptr, nullptr), 0);
   ASSERT_NE(resp, nullptr);
   EXPECT_EQ(resp->GetRequestId(), 77u);
   delete resp;
   EXPECT_EQ(server.SendTo(&answer, nullptr, 0), -1);  // no address: nothing is sent
}

TEST(ConnectUDPTransport, Ipv4TextsAndNames)
{
   for (const char *host : {"127.0.0.1", "localhost"})
   {
      SCOPED_TRACE(host);
      uint16_t port;
      SNMP_SOCKET agent = BoundSocket(&port);
      SNMP_UDPTransport client;
      // localhost may resolve to ::1 first: ask for IPv4 where the agent listens.
      ASSERT_EQ(client.ConnectUDPTransport(host, port, AF_INET), (uint32_t)SNMP_RC_SUCCESS);
      ExpectExchange(&client, agent, AF_INET);
   }
}

TEST(ConnectUDPTransport, Ipv6Loopback)
{
   REQUIRE_IPV6_LOOPBACK();
   for (int family : {AF_UNSPEC, AF_INET6})
   {
      for (const char *host : {"::1", "0:0:0:0:0:0:0:1"})
      {
         SCOPED_TRACE(std::string(host) + (family == AF_INET6 ? " AF_INET6" : " AF_UNSPEC"));
         uint16_t port;
         SNMP_SOCKET agent = BoundSocket6(&port);
         ASSERT_NE(agent, SNMP_INVALID_SOCKET);
         SNMP_UDPTransport client;
         ASSERT_EQ(client.ConnectUDPTransport(host, port, family), (uint32_t)SNMP_RC_SUCCESS);
         ExpectExchange(&client, agent, AF_INET6);
      }
   }
   // DoRequest over IPv6: a silent agent times out after every attempt.
   uint16_t port;
   SNMP_SOCKET silent = BoundSocket6(&port);
   SNMP_UDPTransport client;
   ASSERT_EQ(client.ConnectUDPTransport("::1", port), (uint32_t)SNMP_RC_SUCCESS);
   SNMP_PDU req(SNMP_CMD_GET_REQUEST, "public", 1, SNMP_VERSION_2C);
   SNMP_PDU *resp = nullptr;
   EXPECT_EQ(client.DoRequest(&req, &resp, 50, 2), (uint32_t)SNMP_RC_TIMEOUT);
   // Connecting again gives up the socket held before.
   ASSERT_EQ(client.ConnectUDPTransport("127.0.0.1", port), (uint32_t)SNMP_RC_SUCCESS);
   CloseSock(silent);
}

// ---- Informs acknowledged by a listener ----

static std::vector<uint8_t> Capture(const char *name)
{
   for (const WireMessage &m : LoadWireMessages())
      if (m.name == name)
         return m.bytes;
   return {};
}

// A listener on the given socket takes Net-SNMP's inform twice (the sender's
// retry carries the same request id) and acknowledges each one: the sender
// gets snmptrapd's own Response both times.
static void ExpectInformsAcknowledged(SNMP_SOCKET listenSocket, SNMP_SOCKET sender,
                                      const struct sockaddr *to, socklen_t toLen)
{
   std::vector<uint8_t> inform = Capture("v2c_inform.request");
   std::vector<uint8_t> expected = Capture("v2c_inform.response");
   ASSERT_FALSE(inform.empty());
   SNMP_UDPTransport listener(listenSocket);
   for (int round = 0; round < 2; round++)
   {
      SCOPED_TRACE(round);
      ASSERT_EQ(sendto(sender, (const char *)inform.data(), (int)inform.size(), 0, to, toLen),
                (int)inform.size());
      SNMP_PDU *pdu = nullptr;
      struct sockaddr_storage from;
      socklen_t fromLen = sizeof(from);
      ASSERT_EQ(listener.Read(&pdu, 2000, (struct sockaddr *)&from, &fromLen), (int)inform.size());
      std::unique_ptr<SNMP_PDU> got(pdu);
      ASSERT_NE(got, nullptr);
      EXPECT_EQ(got->GetCommand(), (uint32_t)SNMP_CMD_INFORM_REQUEST);
      EXPECT_EQ(got->GetTrapType(), SNMP_TRAP_ENTERPRISE_SPECIFIC);
      EXPECT_EQ(listener.AcknowledgeInform(got.get(), (struct sockaddr *)&from, fromLen),
                (int)expected.size());
      uint8_t reply[1024];
      int n = (int)recv(sender, (char *)reply, sizeof(reply), 0);
      ASSERT_EQ(n, (int)expected.size());
      EXPECT_EQ(ToHex(reply, n), ToHex(expected));
   }
   // Only informs are acknowledged; an acknowledgement needs an address.
   SNMP_PDU trap(SNMP_CMD_TRAP, "public", 1, SNMP_VERSION_2C);
   EXPECT_EQ(listener.AcknowledgeInform(&trap, to, toLen), 0);
   EXPECT_EQ(listener.AcknowledgeInform(nullptr, to, toLen), 0);
   SNMP_PDU parsed;
   ASSERT_EQ(parsed.Parse(inform.data(), (uint32_t)inform.size()), 1);
   EXPECT_EQ(listener.AcknowledgeInform(&parsed, nullptr, 0), -1);
   SNMP_UDPTransport unbound;
   EXPECT_EQ(unbound.AcknowledgeInform(&parsed, to, toLen), -1);
}

// A listener and a sender on the loopback address of one family.
static void ExpectInformsAcknowledgedOver(int family)
{
   uint16_t port, senderPort;
   bool ipv6 = (family == AF_INET6);
   SNMP_SOCKET listen = ipv6 ? BoundSocket6(&port) : BoundSocket(&port);
   SNMP_SOCKET sender = ipv6 ? BoundSocket6(&senderPort) : BoundSocket(&senderPort);
   struct sockaddr_storage to;
   memset(&to, 0, sizeof(to));
   socklen_t toLen;
   if (ipv6)
   {
      struct sockaddr_in6 *sa = (struct sockaddr_in6 *)&to;
      sa->sin6_family = AF_INET6;
      sa->sin6_addr.s6_addr[15] = 1;  // ::1
      sa->sin6_port = htons(port);
      toLen = sizeof(*sa);
   }
   else
   {
      struct sockaddr_in *sa = (struct sockaddr_in *)&to;
      sa->sin_family = AF_INET;
      sa->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      sa->sin_port = htons(port);
      toLen = sizeof(*sa);
   }
   ExpectInformsAcknowledged(listen, sender, (struct sockaddr *)&to, toLen);
   CloseSock(sender);
}

TEST(InformListener, AcknowledgesIpv4Sender)
{
   ExpectInformsAcknowledgedOver(AF_INET);
}

TEST(InformListener, AcknowledgesIpv6Sender)
{
   REQUIRE_IPV6_LOOPBACK();
   ExpectInformsAcknowledgedOver(AF_INET6);
}
