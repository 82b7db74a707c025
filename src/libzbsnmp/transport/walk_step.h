/* The decisions of a subtree walk, shared by SNMP_Walker (one agent,
   request by request through DoRequest) and the request engine (many agents
   at once): the next request, what a response means, what each binding
   means. */
#ifndef ZBSNMP_WALK_STEP_H
#define ZBSNMP_WALK_STEP_H

#include "internal.h"

#define WALK_DEFAULT_REPETITIONS 25

/* The request that continues a walk from last: GETBULK with that many
   repetitions (SNMPv2c and later, unless getNext), else GET-NEXT. NULL when
   it cannot be built (no memory). */
SNMP_PDU *ZbWalkRequest(uint32_t version, const char *community, const SNMP_ObjectId *last,
                        uint32_t repetitions, bool getNext, uint32_t requestId);

enum ZbWalkResponse
{
   ZB_WALK_BINDINGS,     /* hand out the response's bindings */
   ZB_WALK_ASK_FEWER,    /* tooBig to a GETBULK: *repetitions halved, ask again */
   ZB_WALK_COMPLETE,     /* noSuchName, or no bindings: the end of the view */
   ZB_WALK_AGENT_ERROR,  /* any other error-status */
};
/* What a response to ZbWalkRequest means; halves *repetitions for
   ZB_WALK_ASK_FEWER. */
ZbWalkResponse ZbWalkJudgeResponse(SNMP_PDU *response, bool bulk, uint32_t *repetitions);

enum ZbWalkBinding
{
   ZB_WALK_NEXT,            /* in the subtree and after last: last has become its name */
   ZB_WALK_END,             /* endOfMibView, or the first name outside the subtree */
   ZB_WALK_NOT_INCREASING,  /* the name does not follow last (RFC 3416 4.2.2) */
   ZB_WALK_NO_MEMORY,       /* last could not take the name */
};
/* What one binding of a response means, in order; moves last on. */
ZbWalkBinding ZbWalkJudgeBinding(SNMP_Variable *var, const SNMP_ObjectId *root, SNMP_ObjectId *last);

#endif
