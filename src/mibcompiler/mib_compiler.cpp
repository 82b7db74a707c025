/* The MIB compiler's use of libsmi: the modules are loaded by name from a
   private folder of links (one per module name and alias, to the files the
   index found), and the OID tree is read through libsmi's child-node calls,
   which hold up on damaged modules where the per-module node iterator does
   not. The only file that includes smi.h. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

/* smi.h names a parameter "class". */
#define class smi_class
#include <smi.h>
#undef class

#include "mib_compiler.h"

/* Nodes a compile may build: far above any real set of modules (the IETF,
   IANA and Net-SNMP modules make about 34,000), low enough to stop a runaway. */
#define MIB_COMPILE_MAX_NODES 4000000u
/* AUGMENTS chains followed to the row that has the INDEX. */
#define MIB_MAX_AUGMENTS 16
/* Unnamed records looked up in every module (real sets have a handful; a
   damaged one could have thousands, each a pass over all modules). */
#define MIB_MAX_NAME_LOOKUPS 1024

namespace
{

/* libsmi's error handler has no context argument: the compile in progress. */
struct CompileState
{
   MibCompileResult *result;
   std::string linkDir;                         /* the folder of links, with a final '/' */
   std::map<std::string, std::string> fileOf;   /* module name or alias -> input file */
   std::map<std::string, std::string> aliasOf;  /* alias -> module name */
   /* Names that more than one module defines -> those modules. */
   std::map<std::string, std::vector<std::string>> definers;
   /* Module -> its place in the order Net-SNMP reads the modules in. */
   std::map<std::string, size_t> readOrder;
};
CompileState *s_state = nullptr;

void CollectMessage(char *path, int line, int severity, char *msg, char *tag)
{
   (void)tag;
   if (s_state == nullptr || severity > MIB_COMPILE_ERROR_LEVEL)
      return;
   MibCompileMessage m;
   std::string p = (path != nullptr) ? path : "";
   if (p.compare(0, s_state->linkDir.size(), s_state->linkDir) == 0)
   {
      m.module = p.substr(s_state->linkDir.size());
      auto alias = s_state->aliasOf.find(m.module);
      if (alias != s_state->aliasOf.end())
         m.module = alias->second;
      auto file = s_state->fileOf.find(m.module);
      m.file = (file != s_state->fileOf.end()) ? file->second : p;
   }
   else
   {
      m.file = p;
   }
   m.line = line;
   m.severity = severity;
   m.text = (msg != nullptr) ? msg : "";
   s_state->result->messages.push_back(std::move(m));
}

/* A private folder of links named after modules; removed by its destructor. */
class LinkDir
{
public:
   ~LinkDir()
   {
      for (const std::string &link : m_links)
         unlink(link.c_str());
      if (!m_dir.empty())
         rmdir(m_dir.c_str());
   }
   /* In memory where the system has a tmpfs: a link costs a few microseconds
      there, and up to a millisecond on a journalled disk (500 of them are a
      good part of a compile). */
   int Create(std::string *error)
   {
      const char *tmp = getenv("TMPDIR");
      const char *candidates[] = {getenv("XDG_RUNTIME_DIR"), "/dev/shm",
                                  (tmp != nullptr && *tmp) ? tmp : nullptr, "/tmp"};
      std::string tried;
      for (const char *base : candidates)
      {
         if (base == nullptr || *base == 0)
            continue;
         std::string pattern = std::string(base) + "/zbsnmp-mibc-XXXXXX";
         std::vector<char> buffer(pattern.begin(), pattern.end());
         buffer.push_back(0);
         if (mkdtemp(buffer.data()) != nullptr)
         {
            m_dir = buffer.data();
            return 1;
         }
         tried += std::string(tried.empty() ? "" : ", ") + base + " (" + strerror(errno) + ")";
      }
      *error = "cannot create a temporary folder in " + tried;
      return 0;
   }
   int Link(const std::string &name, const std::string &target, std::string *error)
   {
      std::string absolute = target;
      if (absolute.empty() || absolute[0] != '/')
      {
         char cwd[4096];
         if (getcwd(cwd, sizeof(cwd)) == nullptr)
         {
            *error = std::string("cannot read the current folder: ") + strerror(errno);
            return 0;
         }
         absolute = std::string(cwd) + "/" + target;
      }
      std::string link = m_dir + "/" + name;
      if (symlink(absolute.c_str(), link.c_str()) != 0)
      {
         *error = "cannot link " + link + ": " + strerror(errno);
         return 0;
      }
      m_links.push_back(link);
      return 1;
   }
   /* A module file of the compiler's own, beside the links. */
   int Write(const std::string &name, const char *text, std::string *error)
   {
      std::string path = m_dir + "/" + name;
      FILE *f = fopen(path.c_str(), "wb");
      bool ok = f != nullptr && fputs(text, f) >= 0;
      if (f != nullptr && fclose(f) != 0)
         ok = false;
      if (f != nullptr)
         m_links.push_back(path);
      if (!ok)
         *error = "cannot write " + path + ": " + strerror(errno);
      return ok ? 1 : 0;
   }
   const std::string &Path() const { return m_dir; }

private:
   std::string m_dir;
   std::vector<std::string> m_links;
};

/* libsmi's state, ended with the compile. */
struct SmiSession
{
   SmiSession() { smiInit(nullptr); }
   ~SmiSession()
   {
      smiExit();
      s_state = nullptr;
   }
};

/* Module names as the tree shows them: an alias stands for its module. */
const char *ModuleName(SmiNode *node)
{
   SmiModule *m = smiGetNodeModule(node);
   if (m == nullptr || m->name == nullptr || *m->name == 0)
      return nullptr;
   auto alias = s_state->aliasOf.find(m->name);
   return (alias != s_state->aliasOf.end()) ? alias->second.c_str() : m->name;
}

bool IsSmiv1(SmiNode *node)
{
   SmiModule *m = smiGetNodeModule(node);
   return m != nullptr && m->language == SMI_LANGUAGE_SMIV1;
}

/* The SMI application types by the names their modules give them. */
int ApplicationType(const char *name)
{
   static const struct
   {
      const char *name;
      int code;
   } types[] = {
      {"Counter32", MIB_TYPE_COUNTER32},   {"Counter", MIB_TYPE_COUNTER32},
      {"Gauge32", MIB_TYPE_GAUGE32},       {"Gauge", MIB_TYPE_GAUGE32},
      {"TimeTicks", MIB_TYPE_TIMETICKS},   {"IpAddress", MIB_TYPE_IP_ADDRESS},
      {"Opaque", MIB_TYPE_OPAQUE},         {"Counter64", MIB_TYPE_COUNTER64},
      {"Unsigned32", MIB_TYPE_UNSIGNED32}, {"UInteger32", MIB_TYPE_UINTEGER32},
      {"NetworkAddress", MIB_TYPE_NETWORK_ADDRESS},
   };
   for (const auto &t : types)
      if (strcmp(t.name, name) == 0)
         return t.code;
   return -1;
}

/* The type code under libsmi's base types. */
int BaseTypeCode(SmiBasetype base, bool smiv1)
{
   switch (base)
   {
      case SMI_BASETYPE_INTEGER32:
         return smiv1 ? MIB_TYPE_INTEGER : MIB_TYPE_INTEGER32;   /* SMIv1 has no Integer32 */
      case SMI_BASETYPE_ENUM:
         return MIB_TYPE_INTEGER;
      case SMI_BASETYPE_OCTETSTRING:
         return MIB_TYPE_OCTET_STRING;
      case SMI_BASETYPE_OBJECTIDENTIFIER:
         return MIB_TYPE_OBJECT_ID;
      case SMI_BASETYPE_UNSIGNED32:
         return MIB_TYPE_UNSIGNED32;
      case SMI_BASETYPE_UNSIGNED64:
         return MIB_TYPE_COUNTER64;
      case SMI_BASETYPE_BITS:
         return MIB_TYPE_BITS;
      default:
         return MIB_TYPE_OTHER;
   }
}

/* The optional fields of an OBJECT-TYPE's syntax, from the chain of types
   from the node's own (nearest) to libsmi's base type; returns the type code. */
int FillSyntax(SmiNode *node, SNMP_MIBObject *object)
{
   int common = -1, application = -1;
   const char *convention = nullptr, *hint = node->format, *units = node->units;
   SmiType *numbered = nullptr, *sized = nullptr;
   SmiType *type = smiGetNodeType(node);
   SmiBasetype base = (type != nullptr) ? type->basetype : SMI_BASETYPE_UNKNOWN;
   /* A damaged module cannot make the chain longer than the types it has, but
      bound it all the same. */
   for (int depth = 0; type != nullptr && depth < 64; depth++, type = smiGetParentType(type))
   {
      bool named = type->name != nullptr && *type->name != 0;
      bool builtin = type->decl == SMI_DECL_UNKNOWN;   /* libsmi's Integer32, OctetString, ... */
      if (named && !builtin)
      {
         int code = ApplicationType(type->name);
         if (code >= 0)
         {
            if (application < 0)
               application = code;
         }
         else
         {
            if (convention == nullptr)
               convention = type->name;
            int tc = SNMPResolveMIBType(type->name);
            if (common < 0 && tc >= MIB_TYPE_DISPLAY_STRING)
               common = tc;
         }
      }
      if (hint == nullptr && type->format != nullptr && *type->format != 0)
         hint = type->format;
      if (units == nullptr && type->units != nullptr && *type->units != 0)
         units = type->units;
      if (numbered == nullptr && smiGetFirstNamedNumber(type) != nullptr)
         numbered = type;
      if (sized == nullptr && smiGetFirstRange(type) != nullptr)
         sized = type;
   }
   int code = (application >= 0) ? application : BaseTypeCode(base, IsSmiv1(node));
   /* A common convention names the type only where its values are of the
      convention's kind (another module may reuse the name for anything). */
   if (common >= 0 && SNMPGetMIBValueType(common) == SNMPGetMIBValueType(code))
      code = common;
   object->SetTextualConvention(convention);
   if (hint != nullptr && *hint != 0)
      object->SetDisplayHint(hint);
   if (units != nullptr && *units != 0)
      object->SetUnits(units);
   if (numbered != nullptr)
   {
      for (SmiNamedNumber *n = smiGetFirstNamedNumber(numbered); n != nullptr;
           n = smiGetNextNamedNumber(n))
      {
         if (n->name == nullptr)
            continue;
         int32_t value = (n->value.basetype == SMI_BASETYPE_UNSIGNED32)
                            ? (int32_t)n->value.value.unsigned32
                            : (int32_t)n->value.value.integer32;
         object->AddEnum(value, n->name);
      }
   }
   /* An OCTET STRING restricted to one size, e.g. SIZE (6). */
   if (sized != nullptr && base == SMI_BASETYPE_OCTETSTRING && application < 0)
   {
      SmiRange *r = smiGetFirstRange(sized);
      if (r != nullptr && smiGetNextRange(r) == nullptr &&
          r->minValue.value.unsigned32 == r->maxValue.value.unsigned32 &&
          r->minValue.value.unsigned32 > 0)
         object->SetFixedLength((uint32_t)r->minValue.value.unsigned32);
   }
   return code;
}

/* The INDEX of a row; an AUGMENTS row takes that of the row it augments. */
void FillIndex(SmiNode *row, SNMP_MIBObject *object)
{
   SmiNode *indexed = row;
   for (int i = 0; i < MIB_MAX_AUGMENTS && indexed != nullptr &&
                   indexed->indexkind == SMI_INDEX_AUGMENT;
        i++)
      indexed = smiGetRelatedNode(indexed);
   if (indexed == nullptr || indexed->indexkind == SMI_INDEX_AUGMENT)
      return;
   for (SmiElement *e = smiGetFirstElement(indexed); e != nullptr; e = smiGetNextElement(e))
   {
      SmiNode *column = smiGetElementNode(e);
      if (column != nullptr && column->name != nullptr)
         object->AddIndex(column->name);
   }
   if (object->IndexCount() > 0 && indexed->implied)
      object->SetIndexImplied(true);
}

int AccessCode(SmiNode *node)
{
   switch (node->access)
   {
      case SMI_ACCESS_NOT_ACCESSIBLE:
         return MIB_ACCESS_NOT_ACCESSIBLE;
      case SMI_ACCESS_NOTIFY:
         return MIB_ACCESS_ACCESSIBLE_FOR_NOTIFY;
      case SMI_ACCESS_READ_ONLY:
         return MIB_ACCESS_READ_ONLY;
      case SMI_ACCESS_READ_WRITE:
      {
         /* libsmi reports read-create columns as read-write and flags the row. */
         SmiNode *parent = (node->nodekind == SMI_NODEKIND_COLUMN) ? smiGetParentNode(node) : nullptr;
         return (parent != nullptr && parent->create) ? MIB_ACCESS_READ_CREATE : MIB_ACCESS_READ_WRITE;
      }
      default:
         return -1;
   }
}

int StatusCode(SmiStatus status)
{
   switch (status)
   {
      case SMI_STATUS_CURRENT:
         return MIB_STATUS_CURRENT;
      case SMI_STATUS_DEPRECATED:
         return MIB_STATUS_DEPRECATED;
      case SMI_STATUS_OBSOLETE:
         return MIB_STATUS_OBSOLETE;
      case SMI_STATUS_MANDATORY:
         return MIB_STATUS_MANDATORY;
      case SMI_STATUS_OPTIONAL:
         return MIB_STATUS_OPTIONAL;
      default:
         return -1;
   }
}

int MacroType(SmiDecl decl)
{
   switch (decl)
   {
      case SMI_DECL_MODULEIDENTITY:
         return MIB_TYPE_MODULE_IDENTITY;
      case SMI_DECL_OBJECTIDENTITY:
         return MIB_TYPE_OBJECT_IDENTITY;
      case SMI_DECL_OBJECTGROUP:
         return MIB_TYPE_OBJECT_GROUP;
      case SMI_DECL_NOTIFICATIONGROUP:
         return MIB_TYPE_NOTIFICATION_GROUP;
      case SMI_DECL_MODULECOMPLIANCE:
         return MIB_TYPE_MODULE_COMPLIANCE;
      case SMI_DECL_AGENTCAPABILITIES:
         return MIB_TYPE_AGENT_CAPABILITIES;
      case SMI_DECL_NOTIFICATIONTYPE:
         return MIB_TYPE_NOTIFICATION_TYPE;
      case SMI_DECL_TRAPTYPE:
         return MIB_TYPE_TRAP_TYPE;
      default:
         return MIB_TYPE_OTHER;
   }
}

/* Everything the node's record says, into object (name and OID aside). */
void FillNode(SmiNode *node, SNMP_MIBObject *object, bool descriptions)
{
   object->SetModule(ModuleName(node));
   const char *description = (descriptions && node->description != nullptr && *node->description)
                                ? node->description
                                : nullptr;
   int status = StatusCode(node->status);
   if (node->decl != SMI_DECL_OBJECTTYPE)
   {
      object->SetInfo(MacroType(node->decl), status, -1, description);
      return;
   }
   int type;
   if (node->nodekind == SMI_NODEKIND_TABLE)
   {
      type = MIB_TYPE_TABLE;
   }
   else if (node->nodekind == SMI_NODEKIND_ROW)
   {
      type = MIB_TYPE_ROW;
      FillIndex(node, object);
   }
   else
   {
      type = FillSyntax(node, object);
   }
   object->SetInfo(type, status, AccessCode(node), description);
}

std::string OidText(SmiNode *node)
{
   std::string text;
   for (unsigned int i = 0; i < node->oidlen; i++)
   {
      if (i > 0)
         text += '.';
      text += std::to_string(node->oid[i]);
   }
   return text;
}

/* The first record that libsmi keeps for an OID may be an unnamed one that a
   module made by referring to the OID before its defining module was read
   (adslMIB, atmMIB, ...): the module's own record has the name. */
SmiNode *NamedRecord(SmiNode *node)
{
   std::string oid = OidText(node);
   for (SmiModule *m = smiGetFirstModule(); m != nullptr; m = smiGetNextModule(m))
   {
      SmiNode *other = smiGetNode(m, oid.c_str());
      if (other != nullptr && other->name != nullptr && *other->name != 0 &&
          other->oidlen == node->oidlen && smiGetNodeModule(other) == m &&
          memcmp(other->oid, node->oid, node->oidlen * sizeof(SmiSubid)) == 0)
         return other;
   }
   return nullptr;
}

/* The order in which Net-SNMP reads the modules of its folders with
   MIBS=ALL: its list of modules grows file by file with each new module in
   front, and is read from the front, each module's imports before the
   module itself. Where several modules define the same name at the same
   OID, Net-SNMP names the node after the module it read first (RFC1213-MIB's
   tcpRtoAlgorithm rather than TCP-MIB's): so do we, so that names and values
   read as Net-SNMP's tools print them. */
void ComputeReadOrder(CompileState *state)
{
   auto canonical = [&](const std::string &name) {
      auto alias = state->aliasOf.find(name);
      return (alias != state->aliasOf.end()) ? alias->second : name;
   };
   /* Depth first with an explicit stack: a module is placed once all its
      imports are. */
   struct Frame
   {
      std::string module;
      std::vector<std::string> imports;
      size_t next;
   };
   std::vector<Frame> stack;
   auto enter = [&](const std::string &name) {
      std::string module = canonical(name);
      if (state->readOrder.count(module) != 0 || state->fileOf.count(module) == 0)
         return;
      for (const Frame &f : stack)
         if (f.module == module)
            return; /* an import loop: placed where it was entered */
      Frame f{module, {}, 0};
      SmiModule *m = smiGetModule(module.c_str());
      for (SmiImport *imp = (m != nullptr) ? smiGetFirstImport(m) : nullptr; imp != nullptr;
           imp = smiGetNextImport(imp))
         if (imp->module != nullptr &&
             (f.imports.empty() || f.imports.back() != imp->module))
            f.imports.push_back(imp->module);
      stack.push_back(std::move(f));
   };
   const auto &modules = state->result->modules;
   for (auto it = modules.rbegin(); it != modules.rend(); ++it)
   {
      enter(it->module);
      while (!stack.empty())
      {
         Frame &top = stack.back();
         if (top.next < top.imports.size())
         {
            enter(top.imports[top.next++]);
            continue;
         }
         size_t place = state->readOrder.size();
         state->readOrder.emplace(top.module, place);
         stack.pop_back();
      }
   }
   std::map<std::string, std::vector<std::string>> all;
   for (const MibModuleFile &m : modules)
      for (const std::string &name : m.definitions)
      {
         std::vector<std::string> &list = all[name];
         if (list.empty() || list.back() != m.module)
            list.push_back(m.module);
      }
   for (auto &entry : all)
      if (entry.second.size() > 1)
         state->definers.emplace(entry.first, std::move(entry.second));
}

/* The record of a named node that the module read first in Net-SNMP's order
   holds (see ComputeReadOrder); the node itself when no other module defines
   its name at its OID. */
SmiNode *FirstReadRecord(SmiNode *node)
{
   if (node->name == nullptr || s_state->definers.empty())
      return node;
   auto definers = s_state->definers.find(node->name);
   if (definers == s_state->definers.end())
      return node;
   auto placeOf = [](const char *module) {
      auto place = (module != nullptr) ? s_state->readOrder.find(module) : s_state->readOrder.end();
      return (place != s_state->readOrder.end()) ? place->second : SIZE_MAX;
   };
   SmiNode *best = node;
   size_t bestPlace = placeOf(ModuleName(node));
   for (const std::string &module : definers->second)
   {
      size_t place = placeOf(module.c_str());
      if (place >= bestPlace)
         continue;
      SmiModule *m = smiGetModule(module.c_str());
      SmiNode *other = (m != nullptr) ? smiGetNode(m, node->name) : nullptr;
      if (other != nullptr && smiGetNodeModule(other) == m && other->oidlen == node->oidlen &&
          memcmp(other->oid, node->oid, node->oidlen * sizeof(SmiSubid)) == 0)
      {
         best = other;
         bestPlace = place;
      }
   }
   return best;
}

/* Builds the tree under root from libsmi's OID tree, depth first with an
   explicit stack, children in sub-identifier order. */
void BuildTree(SNMP_MIBObject *root, bool descriptions, MibCompileResult *result)
{
   static const char *const rootNames[] = {"ccitt", "iso", "joint-iso-ccitt"};
   struct Pending
   {
      SmiNode *node;
      SNMP_MIBObject *object;
   };
   std::vector<Pending> stack;
   for (SmiSubid arc = 0; arc < 3; arc++)
   {
      SmiSubid oid[1] = {arc};
      SmiNode *top = smiGetNodeByOID(1, oid);
      if (top == nullptr || top->oidlen != 1 || top->oid[0] != arc)
         continue;
      SNMP_MIBObject *object = new SNMP_MIBObject(arc, rootNames[arc], MIB_TYPE_OTHER, -1, -1, nullptr);
      root->AddChild(object);
      result->nodes++;
      stack.push_back({top, object});
   }
   std::vector<SmiNode *> children;
   uint32_t lookups = 0;
   while (!stack.empty() && result->nodes < MIB_COMPILE_MAX_NODES)
   {
      Pending item = stack.back();
      stack.pop_back();
      children.clear();
      for (SmiNode *c = smiGetFirstChildNode(item.node);
           c != nullptr && children.size() < MIB_COMPILE_MAX_NODES; c = smiGetNextChildNode(c))
         if (c->oidlen == item.node->oidlen + 1)
            children.push_back(c);
      std::stable_sort(children.begin(), children.end(), [](SmiNode *a, SmiNode *b) {
         return a->oid[a->oidlen - 1] < b->oid[b->oidlen - 1];
      });
      std::vector<Pending> added;
      SmiSubid last = 0;
      for (size_t i = 0; i < children.size() && result->nodes < MIB_COMPILE_MAX_NODES; i++)
      {
         SmiNode *c = children[i];
         SmiSubid arc = c->oid[c->oidlen - 1];
         if (i > 0 && arc == last)
            continue;   /* one node per OID */
         last = arc;
         /* The child calls give each child the record of the parent's module
            where it has one; the OID's own first record is the one libsmi
            prefers (SNMPv2-MIB's snmpInPkts over RFC1213-MIB's, whatever
            module named the parent). */
         SmiNode *record = smiGetNodeByOID(c->oidlen, c->oid);
         if (record == nullptr || record->oidlen != c->oidlen)
            record = c;
         bool named = record->name != nullptr && *record->name != 0;
         if (!named && lookups < MIB_MAX_NAME_LOOKUPS)
         {
            lookups++;
            SmiNode *other = NamedRecord(record);
            if (other != nullptr)
            {
               record = other;
               named = true;
            }
         }
         if (named)
            record = FirstReadRecord(record);
         SNMP_MIBObject *object = new SNMP_MIBObject(arc, named ? record->name : nullptr);
         FillNode(record, object, descriptions);
         item.object->AddChild(object);
         result->nodes++;
         added.push_back({c, object});
      }
      /* Children first to last come off the stack in order. */
      for (auto it = added.rbegin(); it != added.rend(); ++it)
         stack.push_back(*it);
   }
}

/* RFC 1212's module defines only the SMIv1 OBJECT-TYPE macro, which SMIv1
   modules import; sets of modules rarely carry it, and without it every such
   import is an error. Supplied when the inputs do not define it. */
const char kRfc1212[] =
   "RFC-1212 DEFINITIONS ::= BEGIN\n"
   "IMPORTS ObjectName FROM RFC1155-SMI;\n"
   "OBJECT-TYPE MACRO ::=\n"
   "BEGIN\n"
   "    TYPE NOTATION ::= \"SYNTAX\" type(TYPE ObjectSyntax)\n"
   "                      \"ACCESS\" Access\n"
   "                      \"STATUS\" Status\n"
   "    VALUE NOTATION ::= value(VALUE ObjectName)\n"
   "    Access ::= \"read-only\" | \"read-write\" | \"write-only\" | \"not-accessible\"\n"
   "    Status ::= \"mandatory\" | \"optional\" | \"obsolete\" | \"deprecated\"\n"
   "END\n"
   "END\n";

} // namespace

int MibCompile(const std::vector<std::string> &inputs, const MibCompileOptions &options,
               MibCompileResult *result)
{
   if (!MibIndexInputs(inputs, &result->modules, &result->duplicates, &result->error))
      return 0;
   if (result->modules.empty())
   {
      result->error = "no MIB module found in the input";
      return 0;
   }
   CompileState state;
   state.result = result;
   LinkDir links;
   if (!links.Create(&result->error))
      return 0;
   state.linkDir = links.Path() + "/";
   for (const MibModuleFile &m : result->modules)
   {
      state.fileOf[m.module] = m.path;
      if (!links.Link(m.module, m.path, &result->error))
         return 0;
   }
   if (state.fileOf.count("RFC-1212") == 0)
   {
      if (!links.Write("RFC-1212", kRfc1212, &result->error))
         return 0;
      state.fileOf["RFC-1212"] = "RFC-1212 (built in)";
   }
   for (size_t i = 0; MIB_MODULE_ALIASES[i][0] != nullptr; i++)
   {
      const char *alias = MIB_MODULE_ALIASES[i][0], *module = MIB_MODULE_ALIASES[i][1];
      auto target = state.fileOf.find(module);
      if (target == state.fileOf.end() || state.fileOf.count(alias) != 0)
         continue;
      state.fileOf[alias] = target->second;
      state.aliasOf[alias] = module;
      if (!links.Link(alias, state.linkDir + module, &result->error))
         return 0;
   }

   s_state = &state;
   SmiSession session;
   /* Only the links: neither the configured nor the environment's path. */
   smiSetPath(links.Path().c_str());
   smiSetErrorLevel(MIB_COMPILE_ERROR_LEVEL);
   smiSetErrorHandler(CollectMessage);
   int flags = smiGetFlags() | SMI_FLAG_ERRORS | SMI_FLAG_VIEWALL;
   if (!options.descriptions)
      flags |= SMI_FLAG_NODESCR;
   smiSetFlags(flags);
   for (const MibModuleFile &m : result->modules)
      if (smiLoadModule(m.module.c_str()) == nullptr)
         result->failed.push_back(m.module);

   ComputeReadOrder(&state);
   result->tree.reset(new SNMP_MIBObject());
   BuildTree(result->tree.get(), options.descriptions, result);
   return 1;
}
