// Values and bindings as Net-SNMP's tools print them.
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>

#include "cli.h"


const char *ErrorStatusName(uint32_t code)
{
   static const char *const names[] = {
      "noError",        "tooBig",          "noSuchName",          "badValue",
      "readOnly",       "genErr",          "noAccess",            "wrongType",
      "wrongLength",    "wrongEncoding",   "wrongValue",          "noCreation",
      "inconsistentValue", "resourceUnavailable", "commitFailed", "undoFailed",
      "authorizationError", "notWritable",  "inconsistentName",
   };
   return code < sizeof(names) / sizeof(names[0]) ? names[code] : "unknownError";
}

std::string FormatValue(SNMP_Variable *v)
{
   // The library's formatter, Net-SNMP's default texts; without a node the
   // value's own type decides.
   char buf[2048];
   uint32_t n = SNMPFormatValue(v, nullptr, buf, sizeof(buf));
   if (n < sizeof(buf))
      return std::string(buf, n);
   std::string big(n + 1, '\0');
   SNMPFormatValue(v, nullptr, &big[0], n + 1);
   big.resize(n);
   return big;
}

void PrintBinding(SNMP_Variable *v)
{
   if (PrintNamedBinding(v))
      return;
   printf("%s = %s\n", v->GetName()->GetValueAsText(), FormatValue(v).c_str());
}
