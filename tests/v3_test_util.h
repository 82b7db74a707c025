// Bridges between SNMP_PDU and the PDU element that an SNMPv3 message
// carries, for the tests of the v3 message functions.
#ifndef ZBSNMP_V3_TEST_UTIL_H
#define ZBSNMP_V3_TEST_UTIL_H

#include <stdlib.h>

#include <memory>
#include <vector>

#include "internal.h"

// The PDU element (tag, length, content) of the PDU as the v2c encoder
// writes it; empty when it does not encode.
inline std::vector<uint8_t> PduElement(SNMP_PDU *pdu)
{
   uint8_t *buf = nullptr;
   uint32_t n = pdu->Encode(&buf);
   std::vector<uint8_t> out;
   if (n == 0)
      return out;
   BerCursor c = {buf, n}, msg, field;
   uint32_t type;
   BerGetElement(&c, &type, &msg);
   BerGetElement(&msg, &type, &field);  // version
   BerGetElement(&msg, &type, &field);  // community
   out.assign(msg.p, msg.p + msg.left); // the PDU element
   free(buf);
   return out;
}

// A PDU parsed from a PDU element, wrapped in a v2c message with an empty
// community; NULL when it does not parse.
inline std::unique_ptr<SNMP_PDU> ParsePduElement(const uint8_t *pdu, uint32_t length)
{
   std::vector<uint8_t> body = {0x02, 0x01, 0x01, 0x04, 0x00};
   body.insert(body.end(), pdu, pdu + length);
   std::vector<uint8_t> msg(BER_MAX_HEADER + body.size());
   uint32_t n = BerWriteElement(ASN_TYPE_SEQUENCE, body.data(), (uint32_t)body.size(), msg.data(),
                                (uint32_t)msg.size());
   auto out = std::make_unique<SNMP_PDU>();
   if (n == 0 || !out->Parse(msg.data(), n))
      return nullptr;
   return out;
}

#endif
