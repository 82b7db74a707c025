/* SNMP_Walker: a subtree of one agent, GETBULK or GET-NEXT request by
   request through DoRequest, handed out one binding at a time. */
#include "transport/walk_step.h"

#include <chrono>

#include <memory>
#include <new>

enum WalkState
{
   WALK_IDLE,
   WALK_RUNNING,
   WALK_DONE,
};

#define SNMP_ERR_TOO_BIG 1       /* RFC 3416 error-status tooBig */
#define SNMP_ERR_NO_SUCH_NAME 2  /* RFC 1157: past the end of an SNMPv1 view */

/* A request id unlike that of another walker made at about the same time:
   walkers on one transport, one after the other, must not take a late
   answer to the last one's request for their own. */
static uint32_t FirstRequestId(const void *self)
{
   uint64_t t = (uint64_t)std::chrono::steady_clock::now().time_since_epoch().count();
   uint64_t mix = (t ^ (uint64_t)(uintptr_t)self) * 0x9E3779B97F4A7C15ULL;
   return (uint32_t)(mix >> 33) & 0x7FFFFFFF;
}

SNMP_Walker::SNMP_Walker(SNMP_Transport *transport, uint32_t version, const char *community)
    : m_transport(transport), m_version(version),
      m_community(zb_strdup(community != nullptr ? community : "public")),
      m_maxRepetitions(WALK_DEFAULT_REPETITIONS), m_repetitions(WALK_DEFAULT_REPETITIONS),
      m_getNext(false), m_timeout(1000), m_attempts(3),
      m_requestId(FirstRequestId(this)), m_state(WALK_IDLE),
      m_result(SNMP_RC_SUCCESS), m_response(nullptr), m_index(0), m_errorStatus(0),
      m_errorIndex(0), m_requests(0)
{
}

SNMP_Walker::~SNMP_Walker()
{
   delete m_response;
   free(m_community);
}

uint32_t SNMP_Walker::SetMaxRepetitions(uint32_t maxRepetitions)
{
   /* RFC 3416: max-repetitions is an INTEGER (0..2147483647); 0 would ask
      for nothing and never advance. */
   if (maxRepetitions == 0 || maxRepetitions > 0x7FFFFFFFU)
      return SNMP_RC_BAD_PARAMETERS;
   m_maxRepetitions = m_repetitions = maxRepetitions;
   return SNMP_RC_SUCCESS;
}

uint32_t SNMP_Walker::Start(const uint32_t *root, uint32_t rootLength)
{
   delete m_response;
   m_response = nullptr;
   m_index = 0;
   m_errorStatus = m_errorIndex = 0;
   m_requests = 0;
   m_repetitions = m_maxRepetitions;
   m_state = WALK_IDLE;
   if (root == nullptr || rootLength == 0)
      return SNMP_RC_BAD_PARAMETERS;
   m_root.SetValue(root, rootLength);
   m_last.SetValue(root, rootLength);
   if (m_root.Length() != rootLength || m_last.Length() != rootLength)
      return SNMP_RC_BAD_PARAMETERS; /* no room for the copies */
   m_state = WALK_RUNNING;
   return SNMP_RC_SUCCESS;
}

uint32_t SNMP_Walker::Finish(uint32_t rc)
{
   m_state = WALK_DONE;
   m_result = rc;
   return rc;
}

/* Sends the next request from m_last and keeps its response in m_response,
   with its first binding next. SNMP_RC_SUCCESS with a response that holds
   bindings, or a walk that is complete or failed (Finish). */
uint32_t SNMP_Walker::Fetch()
{
   delete m_response;
   m_response = nullptr;
   m_index = 0;
   bool bulk = !m_getNext && m_version != SNMP_VERSION_1;
   for (;;)
   {
      std::unique_ptr<SNMP_PDU> request(
          ZbWalkRequest(m_version, m_community, &m_last, m_repetitions, m_getNext, m_requestId));
      m_requestId = (m_requestId + 1) & 0x7FFFFFFF;
      if (!request)
         return Finish(SNMP_RC_COMM_ERROR); /* the request could not be built */
      m_requests++;
      SNMP_PDU *response = nullptr;
      uint32_t rc = (m_transport != nullptr)
                        ? m_transport->DoRequest(request.get(), &response, m_timeout, m_attempts)
                        : SNMP_RC_BAD_PARAMETERS;
      if (rc != SNMP_RC_SUCCESS)
         return Finish(rc);
      switch (ZbWalkJudgeResponse(response, bulk, &m_repetitions))
      {
         case ZB_WALK_ASK_FEWER:
            delete response;
            continue;
         case ZB_WALK_COMPLETE:
            delete response;
            return Finish(SNMP_RC_SUCCESS);
         case ZB_WALK_AGENT_ERROR:
            m_errorStatus = response->GetErrorCode();
            m_errorIndex = response->GetErrorIndex();
            delete response;
            return Finish(SNMP_RC_AGENT_ERROR);
         case ZB_WALK_BINDINGS:
            break;
      }
      m_response = response;
      return SNMP_RC_SUCCESS;
   }
}

uint32_t SNMP_Walker::Next(SNMP_Variable **var)
{
   if (var == nullptr || m_state == WALK_IDLE)
      return SNMP_RC_BAD_PARAMETERS;
   *var = nullptr;
   if (m_state == WALK_DONE)
      return m_result;
   if (m_response == nullptr || m_index >= m_response->GetNumVariables())
   {
      uint32_t rc = Fetch();
      if (m_state == WALK_DONE)
         return rc;
   }
   SNMP_Variable *v = m_response->GetVariable(m_index++);
   switch (ZbWalkJudgeBinding(v, &m_root, &m_last))
   {
      case ZB_WALK_END:
         return Finish(SNMP_RC_SUCCESS);
      case ZB_WALK_NOT_INCREASING:
         *var = v;
         return Finish(SNMP_RC_AGENT_ERROR);
      case ZB_WALK_NO_MEMORY:
         return Finish(SNMP_RC_COMM_ERROR);
      case ZB_WALK_NEXT:
         break;
   }
   *var = v;
   return SNMP_RC_SUCCESS;
}

/* ---- The decisions, shared with the request engine ---- */

SNMP_PDU *ZbWalkRequest(uint32_t version, const char *community, const SNMP_ObjectId *last,
                        uint32_t repetitions, bool getNext, uint32_t requestId)
{
   bool bulk = !getNext && version != SNMP_VERSION_1;
   uint32_t command = bulk ? SNMP_CMD_GET_BULK_REQUEST : SNMP_CMD_GET_NEXT_REQUEST;
   std::unique_ptr<SNMP_PDU> request(new (std::nothrow) SNMP_PDU(
       command, community, requestId, version, 0, bulk ? repetitions : 0));
   if (!request || request->GetCommunity() == nullptr)
      return nullptr;
   SNMP_Variable *start = new (std::nothrow) SNMP_Variable(last->GetValue(), last->Length());
   if (start == nullptr)
      return nullptr;
   request->BindVariable(start);
   if (request->GetNumVariables() != 1 || start->GetName()->Length() != last->Length())
      return nullptr; /* the binding could not be stored */
   return request.release();
}

ZbWalkResponse ZbWalkJudgeResponse(SNMP_PDU *response, bool bulk, uint32_t *repetitions)
{
   uint32_t status = response->GetErrorCode();
   if (status == SNMP_ERR_TOO_BIG && bulk && *repetitions > 1)
   {
      /* The answer would not fit in the agent's message size: ask for fewer. */
      *repetitions /= 2;
      return ZB_WALK_ASK_FEWER;
   }
   if (status == SNMP_ERR_NO_SUCH_NAME || (status == 0 && response->GetNumVariables() == 0))
      return ZB_WALK_COMPLETE;
   return (status != 0) ? ZB_WALK_AGENT_ERROR : ZB_WALK_BINDINGS;
}

ZbWalkBinding ZbWalkJudgeBinding(SNMP_Variable *var, const SNMP_ObjectId *root, SNMP_ObjectId *last)
{
   SNMP_ObjectId *name = var->GetName();
   if (var->GetType() == ASN_TYPE_END_OF_MIB_VIEW || name == nullptr ||
       name->Compare(root->GetValue(), root->Length()) != OID_CMP_LONGER)
      return ZB_WALK_END;
   /* RFC 3416 4.2.2: each name must follow the one asked from. An agent that
      goes back or repeats itself would make the walk loop. */
   if (name->CompareOrder(last) <= 0)
      return ZB_WALK_NOT_INCREASING;
   last->SetValue(name->GetValue(), name->Length());
   return (last->Length() == name->Length()) ? ZB_WALK_NEXT : ZB_WALK_NO_MEMORY;
}
