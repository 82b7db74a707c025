// MIB trees for the name tests and benchmarks: built by hand from a table, or
// from Net-SNMP's tree of the shipped modules (tests/data/netsnmp-mib-tree-rfc.tsv).
#ifndef ZBSNMP_MIB_TREE_UTIL_H
#define ZBSNMP_MIB_TREE_UTIL_H

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "zbsnmp.h"

// One node of a hand-built tree. Empty texts are left unset.
struct MibNodeDef
{
   const char *oid;      // ".1.3.6.1.2.1.2.2.1.2"; missing nodes above it are made nameless
   const char *name;
   const char *module;
   int type;             // MIB_TYPE_...
   const char *hint;     // DISPLAY-HINT
   const char *enums;    // "up(1) down(2)"
   const char *index;    // "ifIndex", "vacmGroupName vacmAccessContextPrefix", "IMPLIED x"
   uint32_t fixedLength;
   const char *units;
   const char *tc;       // textual convention
};

// A tree of the given nodes under a nameless root.
SNMP_MIBObject *BuildMibTree(const MibNodeDef *defs, size_t count);
// The tree of a table in the form of netsnmp-mib-tree-rfc.tsv (oid, name, type,
// access, status, module); types, access and status in the library's vocabulary,
// the first name of an OID kept. NULL when the file cannot be read.
SNMP_MIBObject *BuildMibTreeFromTsv(const std::string &path);

// Helpers of the MIB file tests and benchmarks.
// Loads a tree file into *out when the load succeeds; the load's status code.
uint32_t LoadMibTree(const std::string &path, std::unique_ptr<SNMP_MIBObject> *out);
// The bytes of a MIB tree file: its header with the given version and flags,
// then the body.
std::vector<uint8_t> MibFileBytes(uint8_t version, uint8_t flags, const std::vector<uint8_t> &body);
// The nodes of a tree, the root included.
uint64_t CountMibNodes(SNMP_MIBObject *root);
// The size of this process's address space in bytes (0 where it cannot be read).
size_t AddressSpaceBytes();

#endif
