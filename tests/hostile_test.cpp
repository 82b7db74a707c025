// Untrusted input: truncations and deterministic mutations of real messages
// never crash or read outside the given bytes (run under the sanitizers).
#include <gtest/gtest.h>
#include <string.h>

#include <fstream>
#include <random>
#include <string>

#include "internal.h"
#include "test_util.h"

static std::vector<std::vector<uint8_t>> WireMessages()
{
   std::vector<std::vector<uint8_t>> out;
   for (const WireMessage &m : LoadWireMessages())
      out.push_back(m.bytes);
   return out;
}

// Parses an exact-size heap copy, so that any read past the end is caught.
static int ParseCopy(const uint8_t *data, size_t length)
{
   uint8_t *copy = (uint8_t *)malloc(length ? length : 1);
   if (length)
      memcpy(copy, data, length);
   SNMP_PDU *pdu = new SNMP_PDU();
   int ok = pdu->Parse(copy, (uint32_t)length);
   if (ok)
   {
      // Whatever parsed can be read and encoded again.
      char buf[64];
      for (uint32_t i = 0; i < pdu->GetNumVariables(); i++)
      {
         pdu->GetVariable(i)->GetValueAsString(buf, sizeof(buf));
         pdu->GetVariable(i)->GetValueAsIPAddr(buf);
         pdu->GetVariable(i)->GetValueAsMACAddr(buf);
         pdu->GetVariable(i)->GetName()->GetValueAsText();
      }
      uint8_t *out = nullptr;
      if (pdu->Encode(&out) > 0)
         free(out);
   }
   delete pdu;
   free(copy);
   return ok;
}

TEST(Hostile, EveryTruncationFails)
{
   for (const auto &msg : WireMessages())
   {
      for (size_t len = 0; len < msg.size(); len++)
      {
         SCOPED_TRACE(len);
         EXPECT_EQ(ParseCopy(msg.data(), len), 0);
      }
   }
}

TEST(Hostile, MutationsNeverCrash)
{
   std::mt19937 rng(20261210);
   auto messages = WireMessages();
   int parsed = 0;
   for (int round = 0; round < 200; round++)
   {
      for (const auto &msg : messages)
      {
         std::vector<uint8_t> m = msg;
         int edits = 1 + (int)(rng() % 4);
         for (int e = 0; e < edits; e++)
         {
            size_t pos = rng() % m.size();
            switch (rng() % 4)
            {
               case 0: m[pos] = (uint8_t)rng(); break;
               case 1: m[pos] ^= (uint8_t)(1u << (rng() % 8)); break;
               case 2: m.erase(m.begin() + (long)pos); break;
               default: m.insert(m.begin() + (long)pos, (uint8_t)rng()); break;
            }
            if (m.empty())
               m.push_back(0x30);
         }
         parsed += ParseCopy(m.data(), m.size());
      }
   }
   EXPECT_GT(parsed, 0);  // some mutations still parse and are re-encoded
}

TEST(Hostile, LyingLengths)
{
   const char *cases[] = {
      "30 84 FF FF FF FF 02 01 01",
      "30 0B 02 01 01 04 84 7F FF FF FF 41 41",
      "30 0E 02 01 01 04 00 A2 84 FF FF FF F0 02 01",
      "30 13 02 01 01 04 00 A2 0C 02 01 01 02 01 00 02 01 00 30 84 00 00 10 00",
      "30 82",
      "30 81",
   };
   for (const char *hex : cases)
   {
      SCOPED_TRACE(hex);
      std::vector<uint8_t> m = Hex(hex);
      EXPECT_EQ(ParseCopy(m.data(), m.size()), 0);
   }
}
