/* SNMP_PDU inside SNMPv3 messages: the PDU of a received message, with the
   facts of the message around it. Internal; not installed. */
#ifndef ZBSNMP_SECURITY_V3_PDU_H
#define ZBSNMP_SECURITY_V3_PDU_H

#include "security/v3_message.h"

/* A new PDU (the caller deletes it) parsed from the PDU element of a
   received message's scopedPDU, of version 3, with the message's msgID,
   level, user and authoritative engine and the scopedPDU's context. NULL
   when the element does not parse (ZbPduAccess::ParseElement) or no memory
   is left. */
SNMP_PDU *ZbV3MakePdu(const ZbV3Message &message, const ZbV3Scoped &scoped);

/* The request-id of a PDU element in the request layout into *requestId:
   1, or 0 when the element has none that reads. */
int ZbV3RequestIdOf(const uint8_t *pdu, uint32_t length, uint32_t *requestId);

#endif
