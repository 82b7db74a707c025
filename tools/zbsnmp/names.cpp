// MIB names in the tool: the tree of -m FILE or $ZBSNMP_MIBS, names read as
// OIDs, and bindings printed as Net-SNMP's tools print them.
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "cli.h"

static SNMP_MIBTranslator *g_names = nullptr;   // NULL: no tree, numbers only
static uint32_t g_textFlags = 0;

int LoadMibTree(const std::string &file, bool numericOids)
{
   std::string path = file;
   if (path.empty())
   {
      const char *env = getenv("ZBSNMP_MIBS");
      path = env != nullptr ? env : "";
   }
   g_textFlags = numericOids ? SNMP_TEXT_NUMERIC_OIDS : 0;
   if (path.empty())
      return EXIT_OK;
   auto names = std::make_unique<SNMP_MIBTranslator>();
   uint32_t rc = names->LoadTree(path.c_str());
   if (rc != SNMP_RC_SUCCESS)
   {
      fprintf(stderr, "zbsnmp: %s: %s\n", path.c_str(), SNMPGetErrorText(rc));
      return EXIT_FAILURE_SNMP;
   }
   delete g_names;
   g_names = names.release();
   return EXIT_OK;
}

bool ParseName(const char *text, std::vector<uint32_t> *out)
{
   if (ParseOid(text, out))
      return true;
   if (g_names == nullptr || text == nullptr)
      return false;
   uint32_t ids[128];
   uint32_t n = g_names->TextToOID(text, ids, 128);
   if (n == 0)
      return false;
   out->assign(ids, ids + n);
   return true;
}

std::string OidName(SNMP_ObjectId *oid)
{
   if (g_names == nullptr)
      return oid->GetValueAsText();
   std::string text(256, '\0');
   uint32_t n = g_names->OIDToText(oid->GetValue(), oid->Length(), &text[0], (uint32_t)text.size(),
                                   g_textFlags);
   if (n >= text.size())
   {
      text.assign((size_t)n + 1, '\0');
      g_names->OIDToText(oid->GetValue(), oid->Length(), &text[0], n + 1, g_textFlags);
   }
   text.resize(n);
   return text;
}

std::string BindingValue(SNMP_Variable *v)
{
   if (g_names == nullptr)
      return FormatValue(v);
   std::string value(512, '\0');
   uint32_t n = g_names->FormatValue(v, &value[0], (uint32_t)value.size(), g_textFlags);
   if (n >= value.size())
   {
      value.assign((size_t)n + 1, '\0');
      g_names->FormatValue(v, &value[0], n + 1, g_textFlags);
   }
   value.resize(n);
   return value;
}

bool PrintNamedBinding(SNMP_Variable *v)
{
   if (g_names == nullptr)
      return false;
   printf("%s = %s\n", OidName(v->GetName()).c_str(), BindingValue(v).c_str());
   return true;
}

