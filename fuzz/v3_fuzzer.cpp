// libFuzzer entry for the v3 target.
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   return FuzzV3(data, size);
}
