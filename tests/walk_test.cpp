// SNMP_Walker over a scripted agent: GETBULK and GET-NEXT walks, their ends,
// and agents that misbehave (repeated or decreasing names, too many
// bindings, tooBig, error statuses, silence).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "internal.h"

namespace
{
typedef std::vector<uint32_t> Oid;

Oid ParseText(const char *text)
{
   uint32_t buf[128];
   uint32_t n = SNMPParseOID(text, buf, 128);
   return Oid(buf, buf + n);
}

std::string Text(const Oid &oid)
{
   std::string s;
   for (uint32_t v : oid)
      s += "." + std::to_string(v);
   return s;
}

// A binding whose value is an exception (endOfMibView): built from its BER form.
SNMP_Variable *ExceptionBinding(const Oid &name, uint8_t type)
{
   SNMP_Variable named(name.data(), (uint32_t)name.size());
   uint8_t buf[600];
   uint32_t n = named.Encode(buf, sizeof(buf));  // 30 LL 06 .. 05 00
   buf[n - 2] = type;
   SNMP_Variable *v = new SNMP_Variable();
   EXPECT_EQ(v->Parse(buf + 2, n - 2), 1);
   return v;
}

// An agent that answers GET-NEXT and GETBULK from a sorted table, with
// switches for the faults of real agents.
class FakeAgent : public SNMP_Transport
{
public:
   std::map<Oid, int32_t> table;
   // Faults
   uint32_t bulkAnswer = 0;       // answer every GETBULK with this many repetitions instead
   int repeatAt = -1;             // from this request on, answer the name asked for
   int backAt = -1;               // from this request on, answer a name before it
   uint32_t tooBigAbove = 0;      // tooBig for a GETBULK asking more repetitions than this
   uint32_t errorAt = 0xFFFFFFFF, errorStatus = 0;  // error-status in that request's answer
   int emptyAt = -1;              // that request's answer holds no binding
   bool silent = false;           // no answer at all
   // What was asked
   std::vector<std::unique_ptr<SNMP_PDU>> requests;
   std::vector<uint32_t> maxRepetitions;

   int Send(SNMP_PDU *pdu) override
   {
      // Keep a copy of what went out, through the wire form.
      uint8_t *buf = nullptr;
      uint32_t n = pdu->Encode(&buf);
      if (n == 0)
         return 0;
      auto copy = std::make_unique<SNMP_PDU>();
      EXPECT_EQ(copy->Parse(buf, n), 1);
      free(buf);
      maxRepetitions.push_back(copy->GetMaxRepetitions());
      requests.push_back(std::move(copy));
      return (int)n;
   }

   int Read(SNMP_PDU **slot, uint32_t, struct sockaddr *, socklen_t *) override
   {
      if (silent)
         return 0;
      SNMP_PDU *req = requests.back().get();
      int index = (int)requests.size() - 1;
      SNMP_PDU *resp =
          new SNMP_PDU(SNMP_CMD_RESPONSE, req->GetCommunity(), req->GetRequestId(), req->GetVersion());
      *slot = resp;
      if ((uint32_t)index == errorAt)
      {
         resp = new SNMP_PDU(SNMP_CMD_RESPONSE, req->GetCommunity(), req->GetRequestId(),
                             req->GetVersion(), errorStatus, 1);
         delete *slot;
         *slot = resp;
         return 10;
      }
      if (index == emptyAt)
         return 10;
      bool bulk = req->GetCommand() == SNMP_CMD_GET_BULK_REQUEST;
      uint32_t repetitions = bulk ? req->GetMaxRepetitions() : 1;
      if (bulk && tooBigAbove != 0 && repetitions > tooBigAbove)
      {
         delete resp;
         *slot = new SNMP_PDU(SNMP_CMD_RESPONSE, req->GetCommunity(), req->GetRequestId(),
                              req->GetVersion(), 1 /* tooBig */, 0);
         return 10;
      }
      if (bulk && bulkAnswer != 0)
         repetitions = bulkAnswer;
      SNMP_ObjectId *asked = req->GetVariable(0)->GetName();
      Oid name(asked->GetValue(), asked->GetValue() + asked->Length());
      for (uint32_t r = 0; r < repetitions; r++)
      {
         Oid next;
         if (repeatAt >= 0 && index >= repeatAt)
            next = name;
         else if (backAt >= 0 && index >= backAt)
            next = table.begin()->first;
         else
         {
            auto it = table.upper_bound(name);
            if (it == table.end())
            {
               if (req->GetVersion() == SNMP_VERSION_1)
               {
                  delete resp;
                  *slot = new SNMP_PDU(SNMP_CMD_RESPONSE, req->GetCommunity(), req->GetRequestId(),
                                       req->GetVersion(), 2 /* noSuchName */, 1);
                  return 10;
               }
               resp->BindVariable(ExceptionBinding(name, ASN_TYPE_END_OF_MIB_VIEW));
               continue;  // RFC 3416 4.2.3: endOfMibView for every repetition left
            }
            next = it->first;
         }
         SNMP_Variable *v = new SNMP_Variable(next.data(), (uint32_t)next.size());
         v->SetValueFromString(ASN_TYPE_INTEGER, std::to_string(table.count(next) ? table[next] : 0).c_str());
         resp->BindVariable(v);
         name = next;
      }
      return 10;
   }

   void Fill(const char *prefix, int count, int first = 1)
   {
      for (int i = first; i < first + count; i++)
      {
         Oid oid = ParseText(prefix);
         oid.push_back((uint32_t)i);
         table[oid] = i;
      }
   }
};

struct WalkResult
{
   uint32_t rc;
   std::vector<std::string> names;
   std::string offending;  // the binding handed out with SNMP_RC_AGENT_ERROR
};

WalkResult Walk(SNMP_Walker *walker, const char *root)
{
   Oid r = ParseText(root);
   WalkResult out;
   out.rc = walker->Start(r.data(), (uint32_t)r.size());
   SNMP_Variable *v = nullptr;
   for (int guard = 0; out.rc == SNMP_RC_SUCCESS && guard < 10000; guard++)
   {
      out.rc = walker->Next(&v);
      if (out.rc != SNMP_RC_SUCCESS || v == nullptr)
         break;
      out.names.push_back(v->GetName()->GetValueAsText());
   }
   if (out.rc == SNMP_RC_AGENT_ERROR && v != nullptr)
      out.offending = v->GetName()->GetValueAsText();
   return out;
}

// An agent with a 25-row column inside a larger tree.
class WalkTest : public ::testing::Test
{
protected:
   void SetUp() override
   {
      agent.Fill(".1.3.6.1.2.1.1", 3);
      agent.Fill(".1.3.6.1.2.1.2.2.1.1", 25);
      agent.Fill(".1.3.6.1.2.1.2.2.1.2", 4);
   }
   std::vector<std::string> Column(int count = 25)
   {
      std::vector<std::string> names;
      for (int i = 1; i <= count; i++)
         names.push_back(".1.3.6.1.2.1.2.2.1.1." + std::to_string(i));
      return names;
   }
   FakeAgent agent;
};
}  // namespace

TEST_F(WalkTest, BulkAndGetNextWalkTheSameSubtree)
{
   struct Case
   {
      uint32_t version;
      bool getNext;
      uint32_t maxRepetitions;
      uint32_t command, requests;
   };
   const Case cases[] = {
      // 25 rows and the first row after them: 3 GETBULKs of 10, or 26 GET-NEXTs.
      {SNMP_VERSION_2C, false, 10, SNMP_CMD_GET_BULK_REQUEST, 3},
      {SNMP_VERSION_2C, false, 25, SNMP_CMD_GET_BULK_REQUEST, 2},
      {SNMP_VERSION_2C, false, 1, SNMP_CMD_GET_BULK_REQUEST, 26},
      {SNMP_VERSION_2C, true, 10, SNMP_CMD_GET_NEXT_REQUEST, 26},
      // SNMPv1 has no GETBULK: GET-NEXT whatever the setting.
      {SNMP_VERSION_1, false, 10, SNMP_CMD_GET_NEXT_REQUEST, 26},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(std::to_string(c.version) + (c.getNext ? " getnext " : " bulk ") +
                   std::to_string(c.maxRepetitions));
      agent.requests.clear();
      agent.maxRepetitions.clear();
      SNMP_Walker walker(&agent, c.version, "secret");
      ASSERT_EQ(walker.SetMaxRepetitions(c.maxRepetitions), (uint32_t)SNMP_RC_SUCCESS);
      walker.SetGetNext(c.getNext);
      walker.SetRequestId(500);
      WalkResult r = Walk(&walker, ".1.3.6.1.2.1.2.2.1.1");
      EXPECT_EQ(r.rc, (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(r.names, Column());
      EXPECT_EQ(walker.GetRequestCount(), c.requests);
      ASSERT_EQ(agent.requests.size(), c.requests);
      for (size_t i = 0; i < agent.requests.size(); i++)
      {
         SNMP_PDU *req = agent.requests[i].get();
         EXPECT_EQ(req->GetCommand(), c.command);
         EXPECT_EQ(req->GetVersion(), c.version);
         EXPECT_STREQ(req->GetCommunity(), "secret");
         EXPECT_EQ(req->GetRequestId(), 500 + i);
         EXPECT_EQ(req->GetNonRepeaters(), 0u);
         EXPECT_EQ(req->GetMaxRepetitions(),
                   c.command == SNMP_CMD_GET_BULK_REQUEST ? c.maxRepetitions : 0u);
         ASSERT_EQ(req->GetNumVariables(), 1u);
      }
      // Each request starts from the last name handed out.
      EXPECT_STREQ(agent.requests[0]->GetVariable(0)->GetName()->GetValueAsText(),
                   ".1.3.6.1.2.1.2.2.1.1");
      if (c.requests > 1)
         EXPECT_EQ(agent.requests[1]->GetVariable(0)->GetName()->GetValueAsText(),
                   r.names[c.requests == 26 ? 0 : c.maxRepetitions - 1]);
      // The walk is over: it stays over.
      SNMP_Variable *v = (SNMP_Variable *)&walker;
      EXPECT_EQ(walker.Next(&v), (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(v, nullptr);
      EXPECT_EQ(walker.GetRequestCount(), c.requests);
   }
}

TEST_F(WalkTest, EndsAtEndOfMibViewAndNoSuchName)
{
   for (uint32_t version : {SNMP_VERSION_2C, SNMP_VERSION_1})
   {
      SCOPED_TRACE(version);
      SNMP_Walker walker(&agent, version, "public");
      WalkResult r = Walk(&walker, ".1");
      EXPECT_EQ(r.rc, (uint32_t)SNMP_RC_SUCCESS);
      EXPECT_EQ(r.names.size(), 32u);  // the whole table, nothing after endOfMibView
      EXPECT_EQ(r.names.back(), ".1.3.6.1.2.1.2.2.1.2.4");
   }
   // A subtree with nothing in it ends at once.
   SNMP_Walker walker(&agent, SNMP_VERSION_2C, "public");
   WalkResult r = Walk(&walker, ".1.3.6.1.2.1.2.2.1.1.25");
   EXPECT_EQ(r.rc, (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_TRUE(r.names.empty());
   EXPECT_EQ(walker.GetRequestCount(), 1u);
}

TEST_F(WalkTest, MoreBindingsThanAskedAreAllHandedOut)
{
   agent.bulkAnswer = 12;  // asked for 5, the agent sends 12 each time
   SNMP_Walker walker(&agent, SNMP_VERSION_2C, "public");
   walker.SetMaxRepetitions(5);
   WalkResult r = Walk(&walker, ".1.3.6.1.2.1.2.2.1.1");
   EXPECT_EQ(r.rc, (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(r.names, Column());
   EXPECT_EQ(walker.GetRequestCount(), 3u);
}

TEST_F(WalkTest, NameThatDoesNotIncreaseFailsTheWalkWithoutLooping)
{
   struct Case
   {
      bool repeat;
      bool getNext;
      size_t handedOut;
      const char *offending;
   };
   const Case cases[] = {
      // From the second request on, the agent answers with the name asked for...
      {true, false, 10, ".1.3.6.1.2.1.2.2.1.1.10"},
      {true, true, 1, ".1.3.6.1.2.1.2.2.1.1.1"},
      // ... or with a name before it (inside the subtree: the column's first row).
      {false, true, 1, ".1.3.6.1.2.1.2.2.1.1.1"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(std::string(c.repeat ? "repeat" : "back") + (c.getNext ? " getnext" : " bulk"));
      FakeAgent bad;
      bad.Fill(".1.3.6.1.2.1.2.2.1.1", 25);
      (c.repeat ? bad.repeatAt : bad.backAt) = 1;
      SNMP_Walker walker(&bad, SNMP_VERSION_2C, "public");
      walker.SetMaxRepetitions(10);
      walker.SetGetNext(c.getNext);
      WalkResult r = Walk(&walker, ".1.3.6.1.2.1.2.2.1.1");
      EXPECT_EQ(r.rc, (uint32_t)SNMP_RC_AGENT_ERROR);
      EXPECT_EQ(r.names.size(), c.handedOut);
      EXPECT_EQ(r.offending, c.offending);
      EXPECT_EQ(walker.GetErrorStatus(), 0u);
      EXPECT_EQ(walker.GetRequestCount(), 2u);
      SNMP_Variable *v = nullptr;
      EXPECT_EQ(walker.Next(&v), (uint32_t)SNMP_RC_AGENT_ERROR);
      EXPECT_EQ(v, nullptr);
      EXPECT_EQ(walker.GetRequestCount(), 2u);
   }
}

TEST_F(WalkTest, TooBigHalvesMaxRepetitions)
{
   agent.tooBigAbove = 3;
   SNMP_Walker walker(&agent, SNMP_VERSION_2C, "public");
   walker.SetMaxRepetitions(10);
   WalkResult r = Walk(&walker, ".1.3.6.1.2.1.2.2.1.1");
   EXPECT_EQ(r.rc, (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(r.names, Column());
   // 10 and 5 are too big, 2 is taken and kept for the rest of the walk.
   ASSERT_GE(agent.maxRepetitions.size(), 3u);
   EXPECT_EQ(agent.maxRepetitions[0], 10u);
   EXPECT_EQ(agent.maxRepetitions[1], 5u);
   for (size_t i = 2; i < agent.maxRepetitions.size(); i++)
      EXPECT_EQ(agent.maxRepetitions[i], 2u);
   EXPECT_EQ(walker.GetMaxRepetitions(), 10u);  // the setting stays for the next walk

   // An agent that finds even one repetition too big fails the walk.
   agent.tooBigAbove = 0;
   agent.errorAt = 0;
   agent.errorStatus = 1;
   agent.requests.clear();
   walker.SetMaxRepetitions(1);
   r = Walk(&walker, ".1.3.6.1.2.1.2.2.1.1");
   EXPECT_EQ(r.rc, (uint32_t)SNMP_RC_AGENT_ERROR);
   EXPECT_EQ(walker.GetErrorStatus(), 1u);
   EXPECT_EQ(agent.requests.size(), 1u);
}

TEST_F(WalkTest, ErrorsSilenceAndEmptyAnswers)
{
   agent.errorAt = 1;
   agent.errorStatus = 5;  // genErr in the second answer
   SNMP_Walker walker(&agent, SNMP_VERSION_2C, "public");
   walker.SetMaxRepetitions(10);
   WalkResult r = Walk(&walker, ".1.3.6.1.2.1.2.2.1.1");
   EXPECT_EQ(r.rc, (uint32_t)SNMP_RC_AGENT_ERROR);
   EXPECT_EQ(r.names.size(), 10u);  // the first answer's bindings came through
   EXPECT_EQ(walker.GetErrorStatus(), 5u);
   EXPECT_EQ(walker.GetErrorIndex(), 1u);
   EXPECT_TRUE(r.offending.empty());

   // Start drops the failed walk and begins again.
   agent.errorAt = 0xFFFFFFFF;
   agent.emptyAt = (int)agent.requests.size() + 1;
   r = Walk(&walker, ".1.3.6.1.2.1.2.2.1.1");
   EXPECT_EQ(r.rc, (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(r.names.size(), 10u);  // an answer without bindings ends the walk
   EXPECT_EQ(walker.GetErrorStatus(), 0u);

   agent.silent = true;
   agent.requests.clear();
   walker.SetTimeout(1, 2);
   r = Walk(&walker, ".1.3.6.1.2.1.2.2.1.1");
   EXPECT_EQ(r.rc, (uint32_t)SNMP_RC_TIMEOUT);
   EXPECT_TRUE(r.names.empty());
   EXPECT_EQ(agent.requests.size(), 2u);  // both attempts
   SNMP_Variable *v = nullptr;
   EXPECT_EQ(walker.Next(&v), (uint32_t)SNMP_RC_TIMEOUT);
   EXPECT_EQ(agent.requests.size(), 2u);  // a failed walk sends nothing more
}

TEST(Walker, BadParameters)
{
   SNMP_Transport none;  // Send and Read fail
   SNMP_Walker walker(&none, SNMP_VERSION_2C, "public");
   SNMP_Variable *v = nullptr;
   EXPECT_EQ(walker.Next(&v), (uint32_t)SNMP_RC_BAD_PARAMETERS);  // before Start
   const uint32_t root[] = {1, 3, 6};
   EXPECT_EQ(walker.Start(root, 0), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(walker.Start(nullptr, 3), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(walker.Next(&v), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   // max-repetitions: 1 to 2147483647; a refused value keeps the setting.
   EXPECT_EQ(walker.GetMaxRepetitions(), 25u);
   EXPECT_EQ(walker.SetMaxRepetitions(0), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(walker.SetMaxRepetitions(0x80000000u), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(walker.GetMaxRepetitions(), 25u);
   EXPECT_EQ(walker.SetMaxRepetitions(0x7FFFFFFF), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(walker.GetMaxRepetitions(), 0x7FFFFFFFu);
   ASSERT_EQ(walker.Start(root, 3), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(walker.Next(nullptr), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   // A transport that cannot send fails the walk as DoRequest does.
   EXPECT_EQ(walker.Next(&v), (uint32_t)SNMP_RC_COMM_ERROR);
   SNMP_Walker orphan(nullptr, SNMP_VERSION_2C, nullptr);
   ASSERT_EQ(orphan.Start(root, 3), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(orphan.Next(&v), (uint32_t)SNMP_RC_BAD_PARAMETERS);
}

// A late answer to one walk's request must never pass for an answer of the
// next walk on the same transport: request ids are not reused.
TEST_F(WalkTest, SuccessiveWalksUseFreshRequestIds)
{
   std::vector<uint32_t> ids;
   for (int i = 0; i < 3; i++)
   {
      SNMP_Walker walker(&agent, SNMP_VERSION_2C, "public");  // made in the same instant
      Walk(&walker, ".1.3.6.1.2.1.1");
      Walk(&walker, ".1.3.6.1.2.1.1");  // the same walker again: ids go on
   }
   for (auto &r : agent.requests)
   {
      EXPECT_LE(r->GetRequestId(), 0x7FFFFFFFu);  // positive INTEGERs on the wire
      ids.push_back(r->GetRequestId());
   }
   std::sort(ids.begin(), ids.end());
   EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
   EXPECT_EQ(ids.size(), 6u);
}
