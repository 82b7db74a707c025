/* The MIB compiler: SMIv1 and SMIv2 modules to a tree of SNMP_MIBObject
   nodes, built on libsmi. A static library of the zbsnmp tool; the shared
   library does not depend on it. Uses libzbsnmp's public API only. */
#ifndef ZBSNMP_MIB_COMPILER_H
#define ZBSNMP_MIB_COMPILER_H

#include <stddef.h>

#include <memory>
#include <string>
#include <vector>

#include "zbsnmp.h"

/* ---- The index of the input files by module name (no libsmi) ---- */

struct MibModuleFile
{
   std::string module;   /* the name after which DEFINITIONS ::= BEGIN follows */
   std::string path;     /* the file that holds it */
   /* The names the module's text defines (OBJECT-TYPE, OBJECT IDENTIFIER
      ::=, NOTIFICATION-TYPE and the other macros), as the text shows them. */
   std::vector<std::string> definitions;
};

/* The names defined in a module text, with the module each belongs to: for
   each module of the text in order, its name and what follows its
   DEFINITIONS up to the next module's. Comments and quoted strings are
   skipped. */
std::vector<std::pair<std::string, std::vector<std::string>>> MibDefinitionsIn(const char *text,
                                                                               size_t length);

/* The names of the modules defined in a module text, in order: every
   identifier that stands before DEFINITIONS, outside comments and quoted
   strings. */
std::vector<std::string> MibModuleNamesIn(const char *text, size_t length);

/* Indexes each input: a file, or a folder searched recursively (hidden
   entries skipped, files in name order). The first file to define a module
   wins; later ones are listed in *duplicates ("module: path"). Returns 0 and
   sets *error when an input cannot be read. */
int MibIndexInputs(const std::vector<std::string> &inputs, std::vector<MibModuleFile> *modules,
                   std::vector<std::string> *duplicates, std::string *error);

/* The module names that other modules import under another name, with the
   module each stands for (RFC-1213 -> RFC1213-MIB, ...), as Net-SNMP applies
   them. NULL-terminated pairs. */
extern const char *const MIB_MODULE_ALIASES[][2];

/* ---- Compiling ---- */

struct MibCompileOptions
{
   bool descriptions = true;   /* keep DESCRIPTION texts */
};

/* One message of the parser about a module. */
struct MibCompileMessage
{
   std::string module;   /* the module whose file it is about, "" when unknown */
   std::string file;     /* the input file */
   int line = 0;
   int severity = 0;     /* 0 internal, 1 major (definitions lost), 2 error,
                            3 minor error or warning */
   std::string text;
};

struct MibCompileResult
{
   std::unique_ptr<SNMP_MIBObject> tree;   /* nameless root, children ccitt, iso, joint-iso-ccitt */
   size_t nodes = 0;                       /* nodes under the root */
   std::vector<MibModuleFile> modules;     /* what the inputs hold */
   std::vector<std::string> duplicates;    /* modules defined by more than one file */
   std::vector<std::string> failed;        /* modules that did not load at all */
   std::vector<MibCompileMessage> messages;
   std::string error;                      /* why nothing was compiled */
};

/* The severity above which the parser's messages are not collected. Higher
   levels make libsmi run checks that cost tens of seconds on large sets. */
#define MIB_COMPILE_ERROR_LEVEL 3

/* Compiles every module the inputs hold into result->tree. Modules with
   errors keep what the parser could read of them. Returns 1 when a tree was
   built (possibly with messages), 0 with result->error when nothing could be
   compiled. Not reentrant: libsmi's state is global to the process. */
int MibCompile(const std::vector<std::string> &inputs, const MibCompileOptions &options,
               MibCompileResult *result);

#endif
