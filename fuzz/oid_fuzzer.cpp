// libFuzzer entry for the oid target.
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   return FuzzOid(data, size);
}
