// Fuzz targets of libzbsnmp. Each checks a property and calls abort() when it
// does not hold; the libFuzzer mains and the regression replay test call them.
#ifndef ZBSNMP_FUZZ_TARGETS_H
#define ZBSNMP_FUZZ_TARGETS_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

// Aborts with the failed property (libFuzzer and the replay test report it).
#define CHECK(cond)                                                        \
   do                                                                      \
   {                                                                       \
      if (!(cond))                                                         \
      {                                                                    \
         fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, __FILE__, \
                 __LINE__);                                                \
         abort();                                                          \
      }                                                                    \
   } while (0)

// SNMP_PDU::Parse; what parses encodes and parses again to the same fields.
int FuzzPdu(const uint8_t *data, size_t size);
// SNMP_Variable::Parse; what parses encodes and parses again to the same binding.
int FuzzVariable(const uint8_t *data, size_t size);
// SNMPParseOID, SNMPIsCorrectOID and SNMP_ObjectId::Compare agree on any text.
int FuzzOid(const uint8_t *data, size_t size);
// SNMPLoadMIBTree on any body, plain or compressed; a tree that loads saves and
// loads again to the same tree.
int FuzzMib(const uint8_t *data, size_t size);
// SNMP_UDPTransport::Read over a sequence of datagrams: each is taken alone, as
// one whole message or none, and nothing is held between calls.
int FuzzTransport(const uint8_t *data, size_t size);
// SNMPv3 (first octet: identity and mode): a received message through the
// manager's checks stays inside its octets; or the rest as a PDU goes out
// protected and reads back the same.
int FuzzV3(const uint8_t *data, size_t size);

struct FuzzTarget
{
   const char *name;
   int (*run)(const uint8_t *, size_t);
};
extern const FuzzTarget kFuzzTargets[6];

#endif
