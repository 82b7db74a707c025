// libFuzzer entry for the transport target.
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   return FuzzTransport(data, size);
}
