// libFuzzer entry for the variable target.
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   return FuzzVariable(data, size);
}
