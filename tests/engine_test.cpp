// SNMP_RequestEngine over loopback: scripted responders answer, stay silent,
// answer twice, late or from the wrong address; every request ends exactly
// once, with the documented status.
#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "internal.h"
#include "socket_util.h"

#ifdef _WIN32
#define poll WSAPoll
#else
#include <fcntl.h>
#include <poll.h>
#endif

static SocketsStartup s_startup;

// What a responder does with each request it receives.
enum class Reply
{
   Answer,        // one response from the agent's own address
   Silent,        // nothing (a dead device)
   Twice,         // the response two times
   OtherAddress,  // the response from another port
   OtherId,       // a response with another request id
   Garbage,       // a datagram that is no message
   Late,          // the response after 300 ms
};

// A loopback agent on a thread of its own: answers each GET by turning it
// into a response (tag A0 -> A2), as its script says.
class Responder
{
public:
   explicit Responder(std::function<Reply(uint32_t requestId, int count)> script, int family = AF_INET)
       : m_script(std::move(script)), m_family(family)
   {
      m_socket = Bind(&m_port);
      m_other = Bind(nullptr);
      m_thread = std::thread([this] { Loop(); });
   }
   ~Responder()
   {
      m_stop = true;
      m_thread.join();
      CloseSock(m_socket);
      CloseSock(m_other);
   }

   // The agent's address.
   socklen_t Address(struct sockaddr_storage *sa) const
   {
      memset(sa, 0, sizeof(*sa));
      if (m_family == AF_INET)
      {
         struct sockaddr_in *in = (struct sockaddr_in *)sa;
         in->sin_family = AF_INET;
         in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
         in->sin_port = htons(m_port);
         return sizeof(*in);
      }
      struct sockaddr_in6 *in6 = (struct sockaddr_in6 *)sa;
      in6->sin6_family = AF_INET6;
      in6->sin6_addr = in6addr_loopback;
      in6->sin6_port = htons(m_port);
      return sizeof(*in6);
   }
   bool Ok() const { return m_socket != SNMP_INVALID_SOCKET; }
   int Received() const { return m_received; }
   std::vector<uint32_t> Ids()
   {
      std::lock_guard<std::mutex> lock(m_lock);
      return m_ids;
   }
   std::vector<std::chrono::steady_clock::time_point> Times()
   {
      std::lock_guard<std::mutex> lock(m_lock);
      return m_times;
   }

private:
   SNMP_SOCKET Bind(uint16_t *port)
   {
      SNMP_SOCKET s = socket(m_family, SOCK_DGRAM, 0);
      struct sockaddr_storage sa;
      socklen_t len = Address(&sa);
      if (m_family == AF_INET)
         ((struct sockaddr_in *)&sa)->sin_port = 0;
      else
         ((struct sockaddr_in6 *)&sa)->sin6_port = 0;
      if (s == SNMP_INVALID_SOCKET || bind(s, (struct sockaddr *)&sa, len) != 0)
         return SNMP_INVALID_SOCKET;
      // Room for a whole window of requests at once, as a busy agent has.
      int size = 4 * 1024 * 1024;
      setsockopt(s, SOL_SOCKET, SO_RCVBUF, (const char *)&size, sizeof(size));
      getsockname(s, (struct sockaddr *)&sa, &len);
      if (port != nullptr)
         *port = ntohs(m_family == AF_INET ? ((struct sockaddr_in *)&sa)->sin_port
                                           : ((struct sockaddr_in6 *)&sa)->sin6_port);
      return s;
   }

   void Loop()
   {
      std::vector<std::pair<std::chrono::steady_clock::time_point, std::vector<uint8_t>>> late;
      struct sockaddr_storage lateTo;
      socklen_t lateToLen = 0;
      std::map<uint32_t, int> counts;
      while (!m_stop)
      {
         struct pollfd pfd = {m_socket, POLLIN, 0};
         if (poll(&pfd, 1, 10) > 0)
         {
            uint8_t buf[65536];
            struct sockaddr_storage from;
            socklen_t fromLen = sizeof(from);
            ssize_t n = recvfrom(m_socket, (char *)buf, sizeof(buf), 0, (struct sockaddr *)&from, &fromLen);
            if (n <= 0)
               continue;
            SNMP_PDU pdu;
            if (!pdu.Parse(buf, (uint32_t)n))
               continue;
            uint32_t id = pdu.GetRequestId();
            {
               std::lock_guard<std::mutex> lock(m_lock);
               m_ids.push_back(id);
               m_times.push_back(std::chrono::steady_clock::now());
            }
            m_received++;
            std::vector<uint8_t> answer(buf, buf + n);
            answer[PduTagOffset(answer)] = ASN_PDU_GET_RESPONSE;
            switch (m_script(id, ++counts[id]))
            {
               case Reply::Answer:
                  Send(m_socket, answer, from, fromLen);
                  break;
               case Reply::Silent:
                  break;
               case Reply::Twice:
                  Send(m_socket, answer, from, fromLen);
                  Send(m_socket, answer, from, fromLen);
                  break;
               case Reply::OtherAddress:
                  Send(m_other, answer, from, fromLen);
                  break;
               case Reply::OtherId:
               {
                  SNMP_PDU other(SNMP_CMD_RESPONSE, "public", id ^ 0x5555, SNMP_VERSION_2C);
                  uint8_t *out = nullptr;
                  uint32_t len = other.Encode(&out);
                  Send(m_socket, std::vector<uint8_t>(out, out + len), from, fromLen);
                  free(out);
                  break;
               }
               case Reply::Garbage:
                  Send(m_socket, std::vector<uint8_t>{0x30, 0x03, 0x02, 0x01, 0x00, 0x99}, from, fromLen);
                  break;
               case Reply::Late:
                  late.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(300), answer});
                  lateTo = from;
                  lateToLen = fromLen;
                  break;
            }
         }
         auto now = std::chrono::steady_clock::now();
         for (auto it = late.begin(); it != late.end();)
         {
            if (it->first <= now)
            {
               Send(m_socket, it->second, lateTo, lateToLen);
               it = late.erase(it);
            }
            else
               ++it;
         }
      }
   }

   static void Send(SNMP_SOCKET s, const std::vector<uint8_t> &data, const struct sockaddr_storage &to,
                    socklen_t toLen)
   {
      sendto(s, (const char *)data.data(), data.size(), 0, (const struct sockaddr *)&to, toLen);
   }

   // Offset of the PDU's tag in a v1/v2c message.
   static size_t PduTagOffset(const std::vector<uint8_t> &m)
   {
      BerCursor c = {m.data(), (uint32_t)m.size()}, msg, field;
      uint32_t type;
      BerGetElement(&c, &type, &msg);
      BerGetElement(&msg, &type, &field);  // version
      BerGetElement(&msg, &type, &field);  // community
      return (size_t)(msg.p - m.data());
   }

   std::function<Reply(uint32_t, int)> m_script;
   int m_family;
   SNMP_SOCKET m_socket = SNMP_INVALID_SOCKET;
   SNMP_SOCKET m_other = SNMP_INVALID_SOCKET;
   uint16_t m_port = 0;
   std::thread m_thread;
   std::atomic<bool> m_stop{false};
   std::atomic<int> m_received{0};
   std::mutex m_lock;
   std::vector<uint32_t> m_ids;
   std::vector<std::chrono::steady_clock::time_point> m_times;
};

// Records every completion; counts them per context.
struct Outcomes
{
   std::map<uint32_t, int> byStatus;
   std::map<void *, int> completions;
   int responses = 0;

   static void Callback(uint32_t status, SNMP_PDU *response, void *context)
   {
      Outcomes *o = s_current;
      o->byStatus[status]++;
      o->completions[context]++;
      if (response != nullptr)
      {
         o->responses++;
         EXPECT_EQ((uint32_t)SNMP_CMD_RESPONSE, response->GetCommand());
         EXPECT_EQ(1u, response->GetNumVariables());
         delete response;
      }
   }
   static Outcomes *s_current;
   Outcomes() { s_current = this; }
   // Every context in 1..n completed exactly once.
   bool EachOnce(uintptr_t n) const
   {
      if (completions.size() != n)
         return false;
      for (auto &c : completions)
         if (c.second != 1)
            return false;
      return true;
   }
};
Outcomes *Outcomes::s_current = nullptr;

static SNMP_PDU *Get()
{
   SNMP_PDU *pdu = new SNMP_PDU(SNMP_CMD_GET_REQUEST, "public", 0, SNMP_VERSION_2C);
   pdu->BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.5.0"));
   return pdu;
}

static uint32_t Submit(SNMP_RequestEngine *engine, const Responder &agent, uintptr_t context,
                       uint32_t timeout = 1000, uint32_t attempts = 1, uint32_t flags = 0,
                       uint64_t *handle = nullptr)
{
   struct sockaddr_storage sa;
   socklen_t len = agent.Address(&sa);
   return engine->Submit((struct sockaddr *)&sa, len, Get(), timeout, attempts, flags,
                         Outcomes::Callback, (void *)context, handle);
}

static double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
   return std::chrono::duration<double>(b - a).count();
}

TEST(Engine, ManyRequestsEachCompleteOnceWithUnpredictableIds)
{
   Responder agent([](uint32_t, int) { return Reply::Answer; });
   ASSERT_TRUE(agent.Ok());
   Outcomes out;
   SNMP_RequestEngine engine;
   engine.SetWindow(100);
   const uintptr_t n = 3000;
   for (uintptr_t i = 1; i <= n; i++)
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, Submit(&engine, agent, i));
   EXPECT_EQ(n, engine.GetPendingCount());
   EXPECT_EQ(0u, engine.GetOutstandingCount());  // sent by Process, not by Submit
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(20000));
   EXPECT_TRUE(out.EachOnce(n));
   EXPECT_EQ((int)n, out.byStatus[SNMP_RC_SUCCESS]);
   EXPECT_EQ(0u, engine.GetPendingCount());
   EXPECT_EQ(0u, engine.GetDroppedCount());

   std::vector<uint32_t> ids = agent.Ids();
   ASSERT_EQ(n, ids.size());
   std::set<uint32_t> distinct(ids.begin(), ids.end());
   EXPECT_EQ(n, distinct.size());
   int successive = 0;
   for (size_t i = 1; i < ids.size(); i++)
   {
      EXPECT_NE(0u, ids[i]);
      EXPECT_LT(ids[i], 0x80000000u);
      successive += (ids[i] == ids[i - 1] + 1);
   }
   EXPECT_LT(successive, 3) << "request ids look like a counter";
}

// One case per way an answer can go wrong: what the request ends with, how
// many sends the agent saw, and how many datagrams the engine dropped.
TEST(Engine, AnswersThatAreNotTheAnswer)
{
   struct Case
   {
      const char *name;
      Reply reply;
      uint32_t attempts;
      uint32_t status;
      int sends;
      uint64_t dropped;
   };
   const Case cases[] = {
      {"answered", Reply::Answer, 2, SNMP_RC_SUCCESS, 1, 0},
      {"dead agent", Reply::Silent, 3, SNMP_RC_TIMEOUT, 3, 0},
      {"answered twice", Reply::Twice, 1, SNMP_RC_SUCCESS, 1, 1},
      {"from another address", Reply::OtherAddress, 2, SNMP_RC_TIMEOUT, 2, 2},
      {"another request id", Reply::OtherId, 1, SNMP_RC_TIMEOUT, 1, 1},
      {"not a message", Reply::Garbage, 1, SNMP_RC_TIMEOUT, 1, 1},
      {"after the time-out", Reply::Late, 1, SNMP_RC_TIMEOUT, 1, 1},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.name);
      Responder agent([&](uint32_t, int) { return c.reply; });
      Outcomes out;
      {
         SNMP_RequestEngine engine;
         ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, Submit(&engine, agent, 1, 150, c.attempts));
         ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(5000));
         // A late or repeated answer arrives after the request ended: keep
         // reading for a while so that it is seen (and dropped).
         auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
         while (std::chrono::steady_clock::now() < until)
         {
            SNMP_SOCKET s[2];
            uint32_t n = engine.GetSockets(s, 2);
            struct pollfd pfd = {s[0], POLLIN, 0};
            if (n > 0 && poll(&pfd, 1, 20) > 0)
               engine.Process(s[0]);
         }
         EXPECT_EQ(c.dropped, engine.GetDroppedCount());
      }
      EXPECT_TRUE(out.EachOnce(1));
      EXPECT_EQ(1, out.byStatus[c.status]);
      EXPECT_EQ(c.sends, agent.Received());
   }
}

// The responder stamps a request when its thread gets to it, which on a
// loaded machine can be a scheduler slice late. Under Wine every socket call
// is also a round trip to the wine server, so the stamps there jitter by
// tens of milliseconds: the gaps between them are bounded with that room.
#ifdef _WIN32
static const double kStampSlack = 0.030;
#else
static const double kStampSlack = 0.005;
#endif

TEST(Engine, RetransmissionsKeepTheirTimeoutOrBackOff)
{
   for (uint32_t flags : {0u, (uint32_t)SNMP_ENGINE_BACKOFF})
   {
      SCOPED_TRACE(flags);
      Responder agent([](uint32_t, int) { return Reply::Silent; });
      Outcomes out;
      SNMP_RequestEngine engine;
      auto start = std::chrono::steady_clock::now();
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, Submit(&engine, agent, 1, 100, 3, flags));
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(5000));
      double total = Seconds(start, std::chrono::steady_clock::now());
      auto times = agent.Times();
      ASSERT_EQ(3u, times.size());
      std::vector<uint32_t> ids = agent.Ids();
      EXPECT_EQ(ids[0], ids[1]);  // a retransmission is the same request
      EXPECT_EQ(ids[0], ids[2]);
      double gap1 = Seconds(times[0], times[1]), gap2 = Seconds(times[1], times[2]);
      EXPECT_GE(gap1, 0.100 - kStampSlack);
      if (flags & SNMP_ENGINE_BACKOFF)
      {
         EXPECT_GE(gap2, 0.200 - kStampSlack);
         EXPECT_GE(total, 0.695);  // 100 + 200 + 400 ms
      }
      else
      {
         EXPECT_GE(gap2, 0.100 - kStampSlack);
         EXPECT_GE(total, 0.295);
      }
      EXPECT_EQ(1, out.byStatus[SNMP_RC_TIMEOUT]);
   }
}

TEST(Engine, WindowBoundsOutstandingAndRateSpreadsStarts)
{
   Responder agent([](uint32_t, int) { return Reply::Answer; });
   {
      Outcomes out;
      SNMP_RequestEngine engine;
      engine.SetWindow(7);
      uint32_t maxOutstanding = 0;
      for (uintptr_t i = 1; i <= 200; i++)
         ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, Submit(&engine, agent, i));
      while (engine.GetPendingCount() > 0)
      {
         SNMP_SOCKET s[2];
         engine.Process(SNMP_INVALID_SOCKET);
         maxOutstanding = std::max(maxOutstanding, engine.GetOutstandingCount());
         uint32_t n = engine.GetSockets(s, 2);
         struct pollfd pfd = {s[0], POLLIN, 0};
         if (n > 0 && poll(&pfd, 1, engine.GetTimeout()) > 0)
            engine.Process(s[0]);
      }
      EXPECT_EQ(7u, maxOutstanding);
      EXPECT_TRUE(out.EachOnce(200));
   }
   {
      Outcomes out;
      SNMP_RequestEngine engine;
      engine.SetRateLimit(200);
      for (uintptr_t i = 1; i <= 60; i++)
         ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, Submit(&engine, agent, i));
      auto start = std::chrono::steady_clock::now();
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(10000));
      // 60 starts at 200 per second take at least about 0.3 s.
      EXPECT_GE(Seconds(start, std::chrono::steady_clock::now()), 0.25);
      EXPECT_TRUE(out.EachOnce(60));
   }
}

// Callbacks may submit and cancel; the engine's state is settled before
// they run.
static SNMP_RequestEngine *s_engine;
static Responder *s_agent;
static std::vector<uint64_t> s_handles;
static int s_chained;

static void ChainCallback(uint32_t status, SNMP_PDU *response, void *context)
{
   delete response;
   uintptr_t depth = (uintptr_t)context;
   EXPECT_EQ((uint32_t)SNMP_RC_SUCCESS, status);
   s_chained++;
   if (depth < 50)
   {
      struct sockaddr_storage sa;
      socklen_t len = s_agent->Address(&sa);
      // Two new requests; the second is cancelled at once from here.
      EXPECT_EQ((uint32_t)SNMP_RC_SUCCESS,
                s_engine->Submit((struct sockaddr *)&sa, len, Get(), 1000, 1, 0, ChainCallback,
                                 (void *)(depth + 1)));
      uint64_t handle = 0;
      EXPECT_EQ((uint32_t)SNMP_RC_SUCCESS,
                s_engine->Submit((struct sockaddr *)&sa, len, Get(), 1000, 1, 0, Outcomes::Callback,
                                 (void *)(1000 + depth), &handle));
      EXPECT_EQ(1, s_engine->Cancel(handle));
      EXPECT_EQ(0, s_engine->Cancel(handle));  // already ended
   }
}

TEST(Engine, CallbacksSubmitAndCancel)
{
   Responder agent([](uint32_t, int) { return Reply::Answer; });
   Outcomes out;
   SNMP_RequestEngine engine;
   s_engine = &engine;
   s_agent = &agent;
   s_chained = 0;
   struct sockaddr_storage sa;
   socklen_t len = agent.Address(&sa);
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS,
             engine.Submit((struct sockaddr *)&sa, len, Get(), 1000, 1, 0, ChainCallback, (void *)1));
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(10000));
   EXPECT_EQ(50, s_chained);
   EXPECT_EQ(49, out.byStatus[SNMP_RC_CANCELLED]);
   EXPECT_TRUE(out.EachOnce(49));
}

TEST(Engine, DestructionCancelsWhatIsPending)
{
   Responder agent([](uint32_t, int) { return Reply::Silent; });
   Outcomes out;
   {
      SNMP_RequestEngine engine;
      engine.SetWindow(5);
      for (uintptr_t i = 1; i <= 20; i++)
         ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, Submit(&engine, agent, i, 0xFFFFFFFF));
      engine.Process();  // 5 sent, 15 queued
      EXPECT_EQ(5u, engine.GetOutstandingCount());
      EXPECT_EQ(-1, engine.GetTimeout());  // no time-out, nothing due
   }
   EXPECT_TRUE(out.EachOnce(20));
   EXPECT_EQ(20, out.byStatus[SNMP_RC_CANCELLED]);
}

TEST(Engine, BadSubmissionsNeverCallBack)
{
   Outcomes out;
   SNMP_RequestEngine engine;
   Responder agent([](uint32_t, int) { return Reply::Answer; });
   struct sockaddr_storage sa;
   socklen_t len = agent.Address(&sa);
   struct sockaddr_un_like
   {
      unsigned short family;
      char path[30];
   } local = {1, "x"};
   SNMP_PDU *invalid = new SNMP_PDU();  // no command, no community: does not encode
   struct Case
   {
      const char *name;
      const struct sockaddr *agent;
      socklen_t length;
      SNMP_PDU *request;
      uint32_t attempts;
      SNMP_RequestCallback callback;
   } cases[] = {
      {"no request", (struct sockaddr *)&sa, len, nullptr, 1, Outcomes::Callback},
      {"no agent", nullptr, len, Get(), 1, Outcomes::Callback},
      {"short address", (struct sockaddr *)&sa, 4, Get(), 1, Outcomes::Callback},
      {"other family", (struct sockaddr *)&local, sizeof(local), Get(), 1, Outcomes::Callback},
      {"no attempts", (struct sockaddr *)&sa, len, Get(), 0, Outcomes::Callback},
      {"no callback", (struct sockaddr *)&sa, len, Get(), 1, nullptr},
      {"does not encode", (struct sockaddr *)&sa, len, invalid, 1, Outcomes::Callback},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.name);
      // The request is taken (and deleted) in every case: the sanitizer and
      // valgrind builds see no leak.
      EXPECT_EQ((uint32_t)SNMP_RC_BAD_PARAMETERS,
                engine.Submit(c.agent, c.length, c.request, 100, c.attempts, 0, c.callback, nullptr));
   }
   EXPECT_EQ(0u, engine.GetPendingCount());
   EXPECT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(100));
   EXPECT_TRUE(out.completions.empty());
}

TEST(Engine, CallersOwnLoop)
{
   Responder agent([](uint32_t, int) { return Reply::Answer; });
   Outcomes out;
   SNMP_RequestEngine engine;
   EXPECT_EQ(-1, engine.GetTimeout());
   SNMP_SOCKET s[2];
   EXPECT_EQ(0u, engine.GetSockets(s, 2));
   for (uintptr_t i = 1; i <= 100; i++)
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, Submit(&engine, agent, i));
   EXPECT_EQ(0, engine.GetTimeout());  // queued requests are due now
   ASSERT_EQ(1u, engine.GetSockets(s, 2));
   int rounds = 0;
   while (engine.GetPendingCount() > 0 && rounds++ < 10000)
   {
      struct pollfd pfd = {s[0], POLLIN, 0};
      int ready = poll(&pfd, 1, engine.GetTimeout());
      engine.Process(ready > 0 ? s[0] : SNMP_INVALID_SOCKET);
   }
   EXPECT_TRUE(out.EachOnce(100));
   EXPECT_EQ(100, out.responses);
}

TEST(Engine, IPv6Agent)
{
   Responder agent([](uint32_t, int) { return Reply::Answer; }, AF_INET6);
   if (!agent.Ok())
      GTEST_SKIP() << "no IPv6 loopback on this machine";
   Outcomes out;
   SNMP_RequestEngine engine;
   for (uintptr_t i = 1; i <= 10; i++)
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, Submit(&engine, agent, i));
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(5000));
   EXPECT_TRUE(out.EachOnce(10));
   EXPECT_EQ(10, out.byStatus[SNMP_RC_SUCCESS]);
}

#ifndef _WIN32
// The socket breaks mid-run (here: a file that is no socket takes its
// descriptor): outstanding requests fail with SNMP_RC_COMM_ERROR, and the
// engine goes on with a new socket.
TEST(Engine, SocketErrorMidRun)
{
   Responder dead([](uint32_t, int) { return Reply::Silent; });
   Responder alive([](uint32_t, int) { return Reply::Answer; });
   Outcomes out;
   SNMP_RequestEngine engine;
   for (uintptr_t i = 1; i <= 5; i++)
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, Submit(&engine, dead, i, 5000));
   engine.Process();
   ASSERT_EQ(5u, engine.GetOutstandingCount());
   SNMP_SOCKET s[2];
   ASSERT_EQ(1u, engine.GetSockets(s, 2));
   int devnull = open("/dev/null", O_RDONLY);
   ASSERT_GE(devnull, 0);
   ASSERT_EQ(s[0], dup2(devnull, s[0]));
   close(devnull);
   engine.Process(s[0]);
   EXPECT_EQ(5, out.byStatus[SNMP_RC_COMM_ERROR]);
   EXPECT_EQ(0u, engine.GetPendingCount());
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, Submit(&engine, alive, 6));
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(5000));
   EXPECT_EQ(1, out.byStatus[SNMP_RC_SUCCESS]);
   EXPECT_TRUE(out.EachOnce(6));
}
#endif

// A burst of 100,000 submissions: queued encoded, sent as the window
// allows, every one completed once.
// ZBSNMP_ENGINE_BURST makes the burst smaller where every instruction is
// costly (the valgrind run).
TEST(Engine, HundredThousandSubmissions)
{
   Responder agent([](uint32_t, int) { return Reply::Answer; });
   Outcomes out;
   SNMP_RequestEngine engine;
   engine.SetWindow(500);
   const char *burst = getenv("ZBSNMP_ENGINE_BURST");
   const uintptr_t n = (burst != nullptr) ? strtoul(burst, nullptr, 10) : 100000;
   for (uintptr_t i = 1; i <= n; i++)
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, Submit(&engine, agent, i, 5000, 3));
   EXPECT_EQ(n, engine.GetPendingCount());
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(120000));
   EXPECT_TRUE(out.EachOnce(n));
   EXPECT_EQ((int)n, out.byStatus[SNMP_RC_SUCCESS]);
}

// ---- Walks through the engine ----

// A loopback agent that answers GET-NEXT and GETBULK from a table of OIDs
// (INTEGER values): the names after the one asked for, endOfMibView past the
// last. With repeatAt, the answer holding that OID gives it twice (an agent
// that does not increase).
class TableAgent
{
public:
   TableAgent(std::vector<std::vector<uint32_t>> table, size_t repeatAt = SIZE_MAX)
       : m_table(std::move(table)), m_repeatAt(repeatAt)
   {
      m_socket = BoundSocket(&m_port);
      m_thread = std::thread([this] { Loop(); });
   }
   ~TableAgent()
   {
      m_stop = true;
      m_thread.join();
      CloseSock(m_socket);
   }
   socklen_t Address(struct sockaddr_storage *sa) const
   {
      memset(sa, 0, sizeof(*sa));
      struct sockaddr_in *in = (struct sockaddr_in *)sa;
      in->sin_family = AF_INET;
      in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      in->sin_port = htons(m_port);
      return sizeof(*in);
   }
   int Requests() const { return m_requests; }
   std::vector<uint32_t> Repetitions()
   {
      std::lock_guard<std::mutex> lock(m_lock);
      return m_repetitions;
   }

private:
   void Loop()
   {
      while (!m_stop)
      {
         struct pollfd pfd = {m_socket, POLLIN, 0};
         if (poll(&pfd, 1, 10) <= 0)
            continue;
         uint8_t buf[65536];
         struct sockaddr_storage from;
         socklen_t fromLen = sizeof(from);
         ssize_t n = recvfrom(m_socket, (char *)buf, sizeof(buf), 0, (struct sockaddr *)&from, &fromLen);
         SNMP_PDU request;
         if (n <= 0 || !request.Parse(buf, (uint32_t)n) || request.GetNumVariables() != 1)
            continue;
         m_requests++;
         bool bulk = request.GetCommand() == SNMP_CMD_GET_BULK_REQUEST;
         uint32_t count = bulk ? request.GetMaxRepetitions() : 1;
         {
            std::lock_guard<std::mutex> lock(m_lock);
            m_repetitions.push_back(bulk ? count : 0);
         }
         SNMP_PDU response(SNMP_CMD_RESPONSE, request.GetCommunity(), request.GetRequestId(),
                           request.GetVersion());
         SNMP_ObjectId *from_ = request.GetVariable(0)->GetName();
         size_t i = 0;
         while (i < m_table.size() &&
                from_->CompareOrder(m_table[i].data(), (uint32_t)m_table[i].size()) >= 0)
            i++;
         for (uint32_t k = 0; k < count; k++, i++)
         {
            if (i >= m_table.size())
            {
               SNMP_Variable *end = new SNMP_Variable(from_->GetValue(), from_->Length());
               end->SetValueFromString(ASN_TYPE_END_OF_MIB_VIEW, "");
               response.BindVariable(end);
               break;
            }
            for (int copy = 0; copy < (i == m_repeatAt ? 2 : 1); copy++)
            {
               SNMP_Variable *v = new SNMP_Variable(m_table[i].data(), (uint32_t)m_table[i].size());
               v->SetValueFromString(ASN_TYPE_INTEGER, std::to_string(i).c_str());
               response.BindVariable(v);
            }
         }
         uint8_t *out = nullptr;
         uint32_t len = response.Encode(&out);
         sendto(m_socket, (const char *)out, len, 0, (struct sockaddr *)&from, fromLen);
         free(out);
      }
   }

   std::vector<std::vector<uint32_t>> m_table;
   size_t m_repeatAt;
   SNMP_SOCKET m_socket = SNMP_INVALID_SOCKET;
   uint16_t m_port = 0;
   std::thread m_thread;
   std::atomic<bool> m_stop{false};
   std::atomic<int> m_requests{0};
   std::mutex m_lock;
   std::vector<uint32_t> m_repetitions;
};

struct WalkResult
{
   std::vector<std::string> names;
   uint32_t status = 0xFFFF;
   uint32_t bindings = 0;
   int done = 0;
   size_t stopAfter = SIZE_MAX;
};

static bool CollectBinding(SNMP_Variable *var, void *context)
{
   WalkResult *r = (WalkResult *)context;
   r->names.push_back(var->GetName()->GetValueAsText());
   return r->names.size() < r->stopAfter;
}

static void WalkFinished(uint32_t status, uint32_t bindings, void *context)
{
   WalkResult *r = (WalkResult *)context;
   r->status = status;
   r->bindings = bindings;
   r->done++;
}

// A table of 1.3.6.1.2.1.2.2.1.C.R (columns 1-3, rows 1-40) and a scalar
// after it, outside the walked subtree.
static std::vector<std::vector<uint32_t>> IfTable()
{
   std::vector<std::vector<uint32_t>> t;
   for (uint32_t c = 1; c <= 3; c++)
      for (uint32_t r = 1; r <= 40; r++)
         t.push_back({1, 3, 6, 1, 2, 1, 2, 2, 1, c, r});
   t.push_back({1, 3, 6, 1, 2, 1, 4, 1, 0});
   return t;
}

TEST(EngineWalk, BulkAndGetNextWalkTheSubtreeOnce)
{
   static const uint32_t root[] = {1, 3, 6, 1, 2, 1, 2, 2};
   struct Case
   {
      const char *name;
      uint32_t version, repetitions;
      int requests;
   } cases[] = {
      {"GETBULK of 25", SNMP_VERSION_2C, 25, 5},   // 120 rows: 25+25+25+25+20 and the end
      {"GET-NEXT", SNMP_VERSION_2C, 0, 121},
      {"SNMPv1 always GET-NEXT", SNMP_VERSION_1, 25, 121},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.name);
      TableAgent agent(IfTable());
      SNMP_RequestEngine engine;
      struct sockaddr_storage sa;
      socklen_t len = agent.Address(&sa);
      WalkResult r;
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS,
                engine.SubmitWalk((struct sockaddr *)&sa, len, c.version, "public", root, 8,
                                  c.repetitions, 1000, 2, 0, CollectBinding, WalkFinished, &r));
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(20000));
      EXPECT_EQ(1, r.done);
      EXPECT_EQ((uint32_t)SNMP_RC_SUCCESS, r.status);
      ASSERT_EQ(120u, r.names.size());
      EXPECT_EQ(120u, r.bindings);
      EXPECT_EQ(".1.3.6.1.2.1.2.2.1.1.1", r.names.front());
      EXPECT_EQ(".1.3.6.1.2.1.2.2.1.3.40", r.names.back());
      EXPECT_EQ(c.requests, agent.Requests());
   }
}

TEST(EngineWalk, EndsAsTheWalkerDoes)
{
   static const uint32_t root[] = {1, 3, 6, 1, 2, 1, 2, 2};
   {
      // An agent that repeats a name: the walk fails, it never loops.
      TableAgent agent(IfTable(), 30);
      SNMP_RequestEngine engine;
      struct sockaddr_storage sa;
      socklen_t len = agent.Address(&sa);
      WalkResult r;
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS,
                engine.SubmitWalk((struct sockaddr *)&sa, len, SNMP_VERSION_2C, "public", root, 8, 10,
                                  1000, 1, 0, CollectBinding, WalkFinished, &r));
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(10000));
      EXPECT_EQ(1, r.done);
      EXPECT_EQ((uint32_t)SNMP_RC_AGENT_ERROR, r.status);
      EXPECT_EQ(31u, r.names.size());
   }
   {
      // The binding callback stops it.
      TableAgent agent(IfTable());
      SNMP_RequestEngine engine;
      struct sockaddr_storage sa;
      socklen_t len = agent.Address(&sa);
      WalkResult r;
      r.stopAfter = 7;
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS,
                engine.SubmitWalk((struct sockaddr *)&sa, len, SNMP_VERSION_2C, "public", root, 8, 5,
                                  1000, 1, 0, CollectBinding, WalkFinished, &r));
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(10000));
      EXPECT_EQ((uint32_t)SNMP_RC_SUCCESS, r.status);
      EXPECT_EQ(7u, r.names.size());
      EXPECT_EQ(2, agent.Requests());
   }
   {
      // A dead agent: the walk ends with the time-out; bad arguments submit nothing.
      Responder dead([](uint32_t, int) { return Reply::Silent; });
      SNMP_RequestEngine engine;
      struct sockaddr_storage sa;
      socklen_t len = dead.Address(&sa);
      WalkResult r;
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS,
                engine.SubmitWalk((struct sockaddr *)&sa, len, SNMP_VERSION_2C, "public", root, 8, 5,
                                  100, 2, 0, CollectBinding, WalkFinished, &r));
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(5000));
      EXPECT_EQ((uint32_t)SNMP_RC_TIMEOUT, r.status);
      EXPECT_EQ(2, dead.Received());
      WalkResult none;
      EXPECT_EQ((uint32_t)SNMP_RC_BAD_PARAMETERS,
                engine.SubmitWalk((struct sockaddr *)&sa, len, SNMP_VERSION_2C, "public", root, 0, 5,
                                  100, 2, 0, CollectBinding, WalkFinished, &none));
      EXPECT_EQ((uint32_t)SNMP_RC_BAD_PARAMETERS,
                engine.SubmitWalk((struct sockaddr *)&sa, len, SNMP_VERSION_2C, "public", root, 8,
                                  0x80000000u, 100, 2, 0, CollectBinding, WalkFinished, &none));
      EXPECT_EQ(0, none.done);
   }
   {
      // Walks still running when the engine goes end with SNMP_RC_CANCELLED.
      Responder dead([](uint32_t, int) { return Reply::Silent; });
      WalkResult r;
      {
         SNMP_RequestEngine engine;
         struct sockaddr_storage sa;
         socklen_t len = dead.Address(&sa);
         ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS,
                   engine.SubmitWalk((struct sockaddr *)&sa, len, SNMP_VERSION_2C, "public", root, 8,
                                     5, 5000, 2, 0, CollectBinding, WalkFinished, &r));
         engine.Process();
      }
      EXPECT_EQ(1, r.done);
      EXPECT_EQ((uint32_t)SNMP_RC_CANCELLED, r.status);
   }
}

// Many agents' walks at once over the one socket, each advancing on its
// own answers.
TEST(EngineWalk, ManyAgentsAtOnce)
{
   static const uint32_t root[] = {1, 3, 6, 1, 2, 1, 2, 2};
   std::vector<std::unique_ptr<TableAgent>> agents;
   for (int i = 0; i < 20; i++)
      agents.emplace_back(new TableAgent(IfTable()));
   SNMP_RequestEngine engine;
   std::vector<WalkResult> results(agents.size());
   for (size_t i = 0; i < agents.size(); i++)
   {
      struct sockaddr_storage sa;
      socklen_t len = agents[i]->Address(&sa);
      ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS,
                engine.SubmitWalk((struct sockaddr *)&sa, len, SNMP_VERSION_2C, "public", root, 8, 7,
                                  2000, 2, 0, CollectBinding, WalkFinished, &results[i]));
   }
   ASSERT_EQ((uint32_t)SNMP_RC_SUCCESS, engine.Run(30000));
   for (const WalkResult &r : results)
   {
      EXPECT_EQ(1, r.done);
      EXPECT_EQ((uint32_t)SNMP_RC_SUCCESS, r.status);
      EXPECT_EQ(120u, r.names.size());
   }
}
