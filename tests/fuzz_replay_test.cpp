// Replays the fuzzers' seed corpora and every input a fuzzer ever found
// (fuzz/regressions/) through the same property checks, without libFuzzer.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>

#include "../fuzz/targets.h"
#include "test_util.h"

TEST(FuzzReplay, CorporaAndRegressions)
{
   size_t inputs = 0;
   for (const FuzzTarget &t : kFuzzTargets)
   {
      for (const char *kind : {"corpus", "regressions"})
      {
         std::filesystem::path dir = std::filesystem::path(ZBSNMP_FUZZ_DIR) / kind / t.name;
         if (!std::filesystem::exists(dir))
            continue;
         for (const auto &entry : std::filesystem::directory_iterator(dir))
         {
            if (!entry.is_regular_file())
               continue;
            SCOPED_TRACE(entry.path().string());
            std::vector<uint8_t> bytes = ReadFileBytes(entry.path().string());
            // An exact-size heap copy, so that a read past the end is caught.
            uint8_t *copy = (uint8_t *)malloc(bytes.size() + 1);
            if (!bytes.empty())
               memcpy(copy, bytes.data(), bytes.size());
            t.run(copy, bytes.size());
            free(copy);
            inputs++;
         }
      }
   }
   EXPECT_GT(inputs, 20u);
}
