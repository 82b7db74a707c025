// Shared declarations of the zbsnmp tool's commands: options, sessions and
// value printing. Built on the library's public header alone.
#ifndef ZBSNMP_TOOL_CLI_H
#define ZBSNMP_TOOL_CLI_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "zbsnmp.h"

enum ExitCode
{
   EXIT_OK = 0,
   EXIT_FAILURE_SNMP = 1,
   EXIT_USAGE = 2,
};

// ---- main.cpp: usage and common options ----

// Prints the message and where to find help; returns EXIT_USAGE.
int UsageError(const std::string &message, const char *command = nullptr);
bool ParseUnsigned(const char *text, uint64_t max, uint64_t *out);
bool ParseSigned32(const char *text, int32_t *out);
// A numeric OID whose every component holds digits.
bool ParseOid(const char *text, std::vector<uint32_t> *out);
std::string OidText(const std::vector<uint32_t> &oid);

// An agent's address: HOST, HOST:PORT, IPV6, [IPV6], [IPV6]:PORT, each with an
// optional "udp:" (IPv4) or "udp6:" (IPv6) in front.
struct Target
{
   std::string host;
   uint16_t port = 161;
   int family = AF_UNSPEC;
};

bool ParseTarget(const char *text, Target *out, std::string *error);
// "host:port", with brackets around an IPv6 address.
std::string TargetText(const Target &target);
// An IPv6 address text (no zone, no brackets), for the messages of ParseTarget.
bool CheckIpv6Text(const std::string &host, const std::string &original, std::string *error);

// SNMPv3: the options of Net-SNMP's tools (-u -l -a -A -x -X -e -E -n).
struct SecurityOptions
{
   std::string user;
   uint32_t level = 0;                    // 0: the level the passwords given make
   uint32_t authMethod = SNMP_AUTH_NONE;  // none given: MD5, as Net-SNMP's tools
   std::string authPassword;
   uint32_t privMethod = SNMP_PRIV_NONE;  // none given: DES, as Net-SNMP's tools
   std::string privPassword;
   std::vector<uint8_t> engineId;         // -e: the agent's, known in advance
   std::vector<uint8_t> contextEngineId;  // -E
   std::string context;                   // -n
   bool given = false;                    // any of them was given
};

struct RequestOptions
{
   const char *command = nullptr;
   uint32_t version = SNMP_VERSION_2C;
   bool versionGiven = false;
   std::string community = "public";
   uint32_t timeout = 1000;
   uint32_t attempts = 3;
   std::string mibFile;        // -m FILE (else $ZBSNMP_MIBS)
   bool numericOids = false;   // -On
   uint32_t nonRepeaters = 0;      // bulkget: -Cn
   uint32_t maxRepetitions = 10;   // bulkget, and walk when given: -Cr
   bool maxRepetitionsGiven = false;
   bool getNext = false;           // walk: --getnext
   Target target;
   SecurityOptions security;
   std::vector<std::string> args;
};

int ParseRequestOptions(const char *command, int argc, char **argv, RequestOptions *o);
// What a command-line word is among the options: OPTION_WORD ("-x", "--x"),
// OPTIONS_END ("--": the next word is the first argument), or ARGUMENT (a
// host, an OID, a number such as "-5" or ".1.3").
enum OptionWord
{
   ARGUMENT,
   OPTION_WORD,
   OPTIONS_END,
};
OptionWord ClassifyWord(const std::string &word);

// ---- v3.cpp: SNMPv3 options and users ----

bool ParseSecurityLevel(const char *text, uint32_t *level);
bool ParseAuthMethod(const char *text, uint32_t *method);
bool ParsePrivMethod(const char *text, uint32_t *method);
// Hex, 0x optional, 5 to 32 octets.
bool ParseEngineId(const char *text, std::vector<uint8_t> *out);
std::string EngineIdText(const uint8_t *id, uint32_t length);
const char *SecurityLevelName(uint32_t level);
// One of -u -l -a -A -x -X -e -E -n into s: EXIT_OK, a usage error's
// code, or -1 when the option is none of them.
int ParseSecurityOption(const std::string &option, const char *value, SecurityOptions *s,
                        const char *command);
// The identity the options describe; false with the reason.
bool MakeIdentity(const SecurityOptions &s, SNMP_USMIdentity *id, std::string *error);
// The users of a 'traps' users file, one a line: USER ENGINEID [AUTH
// AUTHPASS [PRIV PRIVPASS]] ('-' as ENGINEID: informs to this listener).
int LoadUsersFile(const std::string &file, std::vector<std::unique_ptr<SNMP_USMIdentity>> *users);

// ---- format.cpp: values and bindings as Net-SNMP's tools print them ----

const char *ErrorStatusName(uint32_t code);
std::string FormatValue(SNMP_Variable *v);
void PrintBinding(SNMP_Variable *v);
// "zbsnmp: agent error: NAME (error index N)[ at OID]" on stderr.
void PrintAgentError(uint32_t status, uint32_t index, const char *name);

// ---- names.cpp: MIB names ----

// Loads the tree of file, or of $ZBSNMP_MIBS when file is empty (none when
// both are empty); numericOids (-On) keeps OIDs as numbers in the output.
int LoadMibTree(const std::string &file, bool numericOids);
// ParseOid, or a name of the loaded tree.
bool ParseName(const char *text, std::vector<uint32_t> *out);
// The OID as a name of the loaded tree, else its numbers.
std::string OidName(SNMP_ObjectId *oid);
// Prints the binding with names, values as Net-SNMP prints them; false
// (nothing printed) without a tree.
bool PrintNamedBinding(SNMP_Variable *v);
// A value as the tool prints it: with the tree's names and hints when one is loaded.
std::string BindingValue(SNMP_Variable *v);

// ---- request.cpp: one agent, request by request ----

class Session
{
public:
   int Open(const RequestOptions &o);
   // One exchange; on failure prints the reason and returns NULL.
   std::unique_ptr<SNMP_PDU> Request(SNMP_PDU *request);
   const RequestOptions &Options() const { return m_options; }
   SNMP_Transport *Transport() { return &m_transport; }
   // Request ids for a caller that numbers its own requests: the first of count.
   uint32_t TakeRequestIds(uint32_t count);

private:
   SNMP_USMIdentity m_identity;  // SNMPv3 (-v 3)
   SNMP_UDPTransport m_transport;
   RequestOptions m_options;
   uint32_t m_requestId = 0;
};

// Prints the bindings, or the agent's error; returns the exit code.
int ReportResponse(SNMP_PDU *response);

// ---- The commands ----

int CmdGet(const char *command, uint32_t pduCommand, int argc, char **argv);
int CmdBulkGet(int argc, char **argv);
int CmdSet(int argc, char **argv);
int CmdWalk(int argc, char **argv);
int CmdTraps(int argc, char **argv);
int CmdPoll(int argc, char **argv);
int CmdMib(int argc, char **argv);

#endif
