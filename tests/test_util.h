// Shared helpers for the tests: hex fixtures and temporary paths.
#ifndef ZBSNMP_TEST_UTIL_H
#define ZBSNMP_TEST_UTIL_H

#include <stdint.h>

#include <string>
#include <vector>

// Bytes of a hex string; blanks are ignored ("30 0C 06 08").
std::vector<uint8_t> Hex(const std::string &text);
std::string ToHex(const uint8_t *data, size_t length);
inline std::string ToHex(const std::vector<uint8_t> &v) { return ToHex(v.data(), v.size()); }
// A fresh, empty temporary directory (removed at process exit).
std::string TempDir();
std::vector<uint8_t> ReadFileBytes(const std::string &path);
void WriteFileBytes(const std::string &path, const std::vector<uint8_t> &bytes);
std::string ReadFileText(const std::string &path);
void WriteFileText(const std::string &path, const std::string &text);

// The messages captured from Net-SNMP (tests/data/netsnmp-wire.tsv).
struct WireMessage
{
   std::string name;
   std::vector<uint8_t> bytes;
   std::string description;
};
std::vector<WireMessage> LoadWireMessages();

#endif
