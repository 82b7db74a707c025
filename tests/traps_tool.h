// The zbsnmp tool's trap listener run by the tests, on a thread of its own.
#ifndef ZBSNMP_TRAPS_TOOL_H
#define ZBSNMP_TRAPS_TOOL_H

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "peer_util.h"
#include "test_util.h"

// `zbsnmp traps ARGS` on a thread of its own: stdout in out, stderr in a file
// that Start watches for the line that says the socket is bound.
class TrapsTool
{
public:
   explicit TrapsTool(const std::string &args)
   {
      // ctest runs tests as processes side by side: the name carries the process's id.
      m_errors = testing::TempDir() + "/traps-" + std::to_string(getpid()) + "-" +
                 std::to_string(Count()++) + ".err";
      remove(m_errors.c_str());
      m_thread = std::thread([this, args] {
         // In a shell of its own: the peers' runner sends stderr to stdout behind it.
         result.out = RunPeerCommand("sh -c '" + std::string(ZBSNMP_TOOL) + " traps " + args +
                                         " 2>" + m_errors + "'",
                                     &result.status);
         result.out += ReadErrors();
      });
   }
   ~TrapsTool() { Join(); }
   // Waits (at most 5 s) until the listener is bound.
   bool WaitListening()
   {
      for (int i = 0; i < 100; i++)
      {
         if (ReadErrors().find("Listening") != std::string::npos)
            return true;
         std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      return false;
   }
   void Join()
   {
      if (m_thread.joinable())
         m_thread.join();
   }
   Result result;

private:
   std::string ReadErrors()
   {
      std::vector<uint8_t> bytes = ReadFileBytes(m_errors);
      return std::string(bytes.begin(), bytes.end());
   }
   static int &Count()
   {
      static int count = 0;
      return count;
   }
   std::string m_errors;
   std::thread m_thread;
};

#endif
