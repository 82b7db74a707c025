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
   char buf[2048];
   const uint8_t *value = v->GetValue();
   uint32_t len = v->GetValueLength();
   switch (v->GetType())
   {
      case ASN_TYPE_INTEGER:
         return std::string("INTEGER: ") + v->GetValueAsString(buf, sizeof(buf));
      case ASN_TYPE_COUNTER32:
         return std::string("Counter32: ") + v->GetValueAsString(buf, sizeof(buf));
      case ASN_TYPE_GAUGE32:
         return std::string("Gauge32: ") + v->GetValueAsString(buf, sizeof(buf));
      case ASN_TYPE_UINTEGER32:
         return std::string("UInteger32: ") + v->GetValueAsString(buf, sizeof(buf));
      case ASN_TYPE_COUNTER64:
         return std::string("Counter64: ") + v->GetValueAsString(buf, sizeof(buf));
      case ASN_TYPE_TIMETICKS:
      {
         uint32_t t = v->GetValueAsUInt();
         uint32_t days = t / 8640000;
         char dayText[32] = "";
         if (days > 0)
            snprintf(dayText, sizeof(dayText), "%u day%s, ", days, days == 1 ? "" : "s");
         snprintf(buf, sizeof(buf), "Timeticks: (%u) %s%u:%02u:%02u.%02u", t, dayText,
                  (t / 360000) % 24, (t / 6000) % 60, (t / 100) % 60, t % 100);
         return buf;
      }
      case ASN_TYPE_OBJECT_ID:
      {
         std::unique_ptr<SNMP_ObjectId> oid(v->GetValueAsObjectId());
         return std::string("OID: ") + oid->GetValueAsText();
      }
      case ASN_TYPE_IP_ADDRESS:
         if (len == 4)
            return std::string("IpAddress: ") + v->GetValueAsIPAddr(buf);
         break;
      case ASN_TYPE_NULL:
         return "NULL";
      case ASN_TYPE_NO_SUCH_OBJECT:
         return "noSuchObject";
      case ASN_TYPE_NO_SUCH_INSTANCE:
         return "noSuchInstance";
      case ASN_TYPE_END_OF_MIB_VIEW:
         return "endOfMibView";
      case ASN_TYPE_OCTET_STRING:
      {
         bool printable = true;
         for (uint32_t i = 0; i < len; i++)
         {
            uint8_t c = value[i];
            if ((c < 0x20 || c > 0x7E) && c != '\n' && c != '\r' && c != '\t' &&
                !(c == 0 && i == len - 1))
               printable = false;
         }
         if (len == 0)
            return "\"\"";  // as the Net-SNMP tools show an empty string
         if (printable)
         {
            std::string s = "STRING: \"";
            for (uint32_t i = 0; i < len && value[i] != 0; i++)
            {
               if (value[i] == '"' || value[i] == '\\')
                  s += '\\';
               s += (char)value[i];
            }
            return s + "\"";
         }
         break;
      }
      default:
         break;
   }
   std::string s = (v->GetType() == ASN_TYPE_OCTET_STRING) ? "Hex-STRING:" : "";
   if (s.empty())
   {
      snprintf(buf, sizeof(buf), "Wrong Type (0x%02X): Hex-STRING:", (unsigned)v->GetType());
      s = buf;
   }
   // As Net-SNMP prints them: "XX " per octet, a new line after every 16
   // octets that more follow.
   s += ' ';
   for (uint32_t i = 0; i < len; i++)
   {
      snprintf(buf, sizeof(buf), "%02X ", value[i]);
      s += buf;
      if (i % 16 == 15 && i + 1 < len)
         s += '\n';
   }
   return s;
}

void PrintBinding(SNMP_Variable *v)
{
   printf("%s = %s\n", v->GetName()->GetValueAsText(), FormatValue(v).c_str());
}
