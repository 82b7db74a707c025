// What the polling benchmark's clients share: their command line, the target
// file, and the JSON lines they print.
//
// Target file: one agent a line, "HOST[:PORT] [COMMUNITY]" (port 161 and
// community "public" by default); blank lines and lines starting with '#' are
// skipped. IPv6 hosts are written in brackets: "[::1]:161".
//
// Output, nothing else on standard output:
//   {"agent":"127.1.0.5:161","oid":".1.3.6.1.2.1.1.5.0","type":"STRING","value":"..."}
//   {"agent":"127.1.0.9:161","error":"timeout"}
// "agent" is always HOST:PORT. Types, as Net-SNMP's tools name them: INTEGER,
// STRING (printable octets, JSON-escaped), Hex-STRING (octets as "6C 6F"),
// OID (".1.3..."), IpAddress, Counter32, Gauge32, Timeticks (the number),
// Counter64, NULL, noSuchObject, noSuchInstance, endOfMibView (empty value).
// An agent that time-outs has the error "timeout".
#ifndef ZBSNMP_BENCH_POLL_JSON_H
#define ZBSNMP_BENCH_POLL_JSON_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

struct PollTarget
{
   std::string agent;  // HOST:PORT
   std::string community;
};

struct PollOptions
{
   const char *file = nullptr;
   uint32_t timeoutMs = 1000;
   uint32_t attempts = 2;
   bool walk = false;
   uint32_t repetitions = 10;
   std::vector<std::vector<uint32_t>> oids;
};

// Parses "-f TARGETS [-t MS] [-r ATTEMPTS] [--walk] [-Cr N] [-o json] OID...";
// false with *error set on bad input.
bool PollParseArgs(int argc, char **argv, PollOptions *o, std::string *error);
// Reads the target file; false with *error set when it cannot be read or a
// line is malformed.
bool PollReadTargets(const char *file, std::vector<PollTarget> *out, std::string *error);
// Numeric OID text ("1.3.6" or ".1.3.6") to sub-identifiers.
bool PollParseOid(const std::string &text, std::vector<uint32_t> *out);

// Octets as a type and value: STRING when every octet is printable ASCII,
// Hex-STRING otherwise.
void PollOctets(const uint8_t *p, size_t len, const char **type, std::string *value);
void PollHex(const uint8_t *p, size_t len, std::string *value);
// Appends one output line.
void PollJsonBinding(std::string *out, const std::string &agent, const std::string &oid,
                     const char *type, const std::string &value);
void PollJsonError(std::string *out, const std::string &agent, const char *error);

#endif
