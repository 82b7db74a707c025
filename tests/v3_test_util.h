// Bridges between SNMP_PDU and the PDU element that an SNMPv3 message
// carries, for the tests of the v3 message functions.
#ifndef ZBSNMP_V3_TEST_UTIL_H
#define ZBSNMP_V3_TEST_UTIL_H

#include <stdlib.h>

#include <memory>
#include <vector>

#include "internal.h"
#include "security/v3_message.h"

// The PDU element (tag, length, content) of a PDU of version 2c or 3;
// empty when it does not encode.
inline std::vector<uint8_t> PduElement(SNMP_PDU *pdu)
{
   uint8_t *buf = nullptr;
   uint32_t n = ZbPduAccess::EncodeElement(pdu, &buf);
   std::vector<uint8_t> out(buf, buf + n);
   free(buf);
   return out;
}

// A PDU parsed from a PDU element; NULL when it does not parse.
inline std::unique_ptr<SNMP_PDU> ParsePduElement(const uint8_t *pdu, uint32_t length)
{
   auto out = std::make_unique<SNMP_PDU>();
   if (!ZbPduAccess::ParseElement(out.get(), pdu, length))
      return nullptr;
   return out;
}

// The message of the fields o holds, around the PDU element, with the
// context engine ID given; empty when it does not encode.
inline std::vector<uint8_t> EncodeV3(ZbV3Outgoing o, const std::vector<uint8_t> &pdu,
                                     const std::vector<uint8_t> &contextEngineId)
{
   o.contextEngineId = contextEngineId.data();
   o.contextEngineIdLength = (uint32_t)contextEngineId.size();
   o.pdu = pdu.data();
   o.pduLength = (uint32_t)pdu.size();
   uint8_t *out = nullptr;
   uint32_t n = ZbV3Encode(&o, &out);
   std::vector<uint8_t> v(out, out + n);
   free(out);
   return v;
}

#endif
