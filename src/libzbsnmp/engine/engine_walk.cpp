/* Walks through the request engine: each agent's walk is a chain of
   requests, the next submitted from the completion of the one before, with
   the decisions SNMP_Walker makes. */
#include "engine/engine.h"
#include "transport/walk_step.h"

#include <string.h>

#include <memory>
#include <new>

namespace
{

/* One walk in progress: always exactly one request of it is pending, until
   its end. */
struct EngineWalk
{
   SNMP_RequestEngine *engine;
   struct sockaddr_storage agent;
   socklen_t agentLength;
   uint32_t version;
   char *community;
   SNMP_ObjectId root;
   SNMP_ObjectId last;
   uint32_t repetitions;
   bool getNext;
   uint32_t timeout;
   uint32_t attempts;
   uint32_t flags;
   SNMP_WalkBindingCallback onBinding;
   SNMP_WalkDoneCallback onDone;
   void *context;
   uint32_t bindings;
   SNMP_USMIdentity *identity;  /* for SNMPv3: the engine's at SubmitWalk */

   ~EngineWalk() { free(community); }
};

void StepDone(uint32_t status, SNMP_PDU *response, void *context);

/* Ends the walk: the record is freed before the caller's callback runs. */
void Finish(EngineWalk *walk, uint32_t status)
{
   SNMP_WalkDoneCallback onDone = walk->onDone;
   void *context = walk->context;
   uint32_t bindings = walk->bindings;
   delete walk;
   onDone(status, bindings, context);
}

/* Submits the request that continues the walk; SNMP_RC_SUCCESS, or the
   reason it could not be submitted (the walk is then not pending). */
uint32_t SubmitStep(EngineWalk *walk)
{
   SNMP_PDU *request = ZbWalkRequest(walk->version, walk->community, &walk->last,
                                     walk->repetitions, walk->getNext, 0);
   if (request == nullptr)
      return SNMP_RC_COMM_ERROR;
   /* Each step travels with the walk's identity, whatever the engine's is now. */
   SNMP_USMIdentity *current = walk->engine->GetSecurity();
   walk->engine->SetSecurity(walk->identity);
   uint32_t rc = walk->engine->Submit((const struct sockaddr *)&walk->agent, walk->agentLength,
                                      request, walk->timeout, walk->attempts, walk->flags, StepDone,
                                      walk);
   walk->engine->SetSecurity(current);
   return rc;
}

void StepDone(uint32_t status, SNMP_PDU *response, void *context)
{
   EngineWalk *walk = (EngineWalk *)context;
   std::unique_ptr<SNMP_PDU> owned(response);
   if (status != SNMP_RC_SUCCESS)
   {
      Finish(walk, status);
      return;
   }
   bool bulk = !walk->getNext && walk->version != SNMP_VERSION_1;
   switch (ZbWalkJudgeResponse(response, bulk, &walk->repetitions))
   {
      case ZB_WALK_ASK_FEWER:
         break; /* the same request again, with fewer repetitions */
      case ZB_WALK_COMPLETE:
         Finish(walk, SNMP_RC_SUCCESS);
         return;
      case ZB_WALK_AGENT_ERROR:
         Finish(walk, SNMP_RC_AGENT_ERROR);
         return;
      case ZB_WALK_BINDINGS:
         for (uint32_t i = 0; i < response->GetNumVariables(); i++)
         {
            SNMP_Variable *var = response->GetVariable(i);
            switch (ZbWalkJudgeBinding(var, &walk->root, &walk->last))
            {
               case ZB_WALK_END:
                  Finish(walk, SNMP_RC_SUCCESS);
                  return;
               case ZB_WALK_NOT_INCREASING:
                  Finish(walk, SNMP_RC_AGENT_ERROR);
                  return;
               case ZB_WALK_NO_MEMORY:
                  Finish(walk, SNMP_RC_COMM_ERROR);
                  return;
               case ZB_WALK_NEXT:
                  break;
            }
            walk->bindings++;
            if (!walk->onBinding(var, walk->context))
            {
               Finish(walk, SNMP_RC_SUCCESS);
               return;
            }
         }
         break;
   }
   uint32_t rc = SubmitStep(walk);
   if (rc != SNMP_RC_SUCCESS)
      Finish(walk, rc);
}

}  // namespace

uint32_t SNMP_RequestEngine::SubmitWalk(const struct sockaddr *agent, socklen_t agentLength,
                                        uint32_t version, const char *community,
                                        const uint32_t *root, uint32_t rootLength,
                                        uint32_t maxRepetitions, uint32_t timeout,
                                        uint32_t attempts, uint32_t flags,
                                        SNMP_WalkBindingCallback onBinding,
                                        SNMP_WalkDoneCallback onDone, void *context)
{
   ZbAgentAddress address;
   if (agent == nullptr || root == nullptr || rootLength == 0 || onBinding == nullptr ||
       onDone == nullptr || maxRepetitions > 0x7FFFFFFF ||
       !ZbAgentFromSockaddr(agent, agentLength, &address))
      return SNMP_RC_BAD_PARAMETERS;
   std::unique_ptr<EngineWalk> walk(new (std::nothrow) EngineWalk());
   if (!walk)
      return SNMP_RC_BAD_PARAMETERS;
   walk->engine = this;
   memset(&walk->agent, 0, sizeof(walk->agent));
   walk->agentLength = ZbAgentToSockaddr(&address, &walk->agent);
   walk->version = version;
   walk->community = zb_strdup(community != nullptr ? community : "public");
   walk->root.SetValue(root, rootLength);
   walk->last.SetValue(root, rootLength);
   if (walk->community == nullptr || walk->root.Length() != rootLength ||
       walk->last.Length() != rootLength)
      return SNMP_RC_BAD_PARAMETERS; /* no room for the copies */
   walk->repetitions = maxRepetitions;
   walk->getNext = (maxRepetitions == 0);
   walk->timeout = timeout;
   walk->attempts = attempts;
   walk->flags = flags;
   walk->onBinding = onBinding;
   walk->onDone = onDone;
   walk->context = context;
   walk->bindings = 0;
   walk->identity = GetSecurity();
   uint32_t rc = SubmitStep(walk.get());
   if (rc == SNMP_RC_SUCCESS)
      walk.release(); /* its requests own it now: StepDone ends it */
   return rc;
}
