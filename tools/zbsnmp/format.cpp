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

// Octets as Net-SNMP's tools print them: "XX " each, sixteen to a line.
static std::string HexOctets(const uint8_t *p, uint32_t n)
{
   std::string s;
   char b[4];
   for (uint32_t i = 0; i < n; i++)
   {
      if (i > 0 && i % 16 == 0)
         s += '\n';
      snprintf(b, sizeof(b), "%02X ", p[i]);
      s += b;
   }
   return s;
}

// Big-endian number of n octets (n <= 8), sign-extended from the first when
// asked.
static uint64_t BigEndian(const uint8_t *p, uint32_t n, bool sign)
{
   uint64_t v = (sign && n > 0 && (p[0] & 0x80)) ? UINT64_MAX : 0;
   for (uint32_t i = 0; i < n; i++)
      v = (v << 8) | p[i];
   return v;
}

// An Opaque that wraps one value (the identifier 9F, the wrapped type, a
// one-octet length, exactly that many octets: the float, double and 64-bit
// types of the Net-SNMP and UCD MIBs, such as laLoadFloat) in the words of
// Net-SNMP's tools. False for anything else, which is shown as octets.
static bool WrappedOpaque(const uint8_t *p, uint32_t n, std::string *out)
{
   if (n < 3 || p[0] != 0x9F || p[2] != n - 3)
      return false;
   const uint8_t *c = p + 3;
   uint32_t len = n - 3;
   char buf[128];
   switch (p[1])
   {
      case 0x78:  // Float: IEEE 754 single precision
      case 0x79:  // Double
         if (len != (p[1] == 0x78 ? 4u : 8u))
            return false;
         if (len == 4)
         {
            uint32_t bits = (uint32_t)BigEndian(c, 4, false);
            float f;
            memcpy(&f, &bits, 4);
            snprintf(buf, sizeof(buf), "Opaque: Float: %f", (double)f);
         }
         else
         {
            uint64_t bits = BigEndian(c, 8, false);
            double d;
            memcpy(&d, &bits, 8);
            snprintf(buf, sizeof(buf), "Opaque: Float: %f", d);
         }
         break;
      case 0x76:  // Counter64
      case 0x7B:  // UInt64
         // Unsigned: up to eight octets, or nine with a leading zero octet.
         if (len > 9 || (len == 9 && c[0] != 0))
            return false;
         if (len == 9)
            c++, len--;
         snprintf(buf, sizeof(buf), "Opaque: %s: %llu", p[1] == 0x76 ? "Counter64" : "UInt64",
                  (unsigned long long)BigEndian(c, len, false));
         break;
      case 0x7A:  // Int64: signed; of nine octets the first is dropped
         if (len > 9)
            return false;
         if (len == 9)
            c++, len--;
         snprintf(buf, sizeof(buf), "Opaque: Int64: %lld", (long long)BigEndian(c, len, true));
         break;
      default:
         return false;
   }
   *out = buf;
   return true;
}

// Text as Net-SNMP's tools show it unquoted: printable or white space (in the
// C locale) throughout.
static bool PrintableText(const uint8_t *p, uint32_t n)
{
   for (uint32_t i = 0; i < n; i++)
      if ((p[i] < 0x20 || p[i] > 0x7E) && !(p[i] >= '\t' && p[i] <= '\r'))
         return false;
   return true;
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
         return v->GetValueAsString(buf, sizeof(buf));  // snmpget gives the bare number
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
         if (!oid)
            return "OID: (no memory)";
         // An empty OID value is shown as snmpget shows it.
         return std::string("OID: ") + (oid->Length() > 0 ? oid->GetValueAsText() : ".0");
      }
      case ASN_TYPE_IP_ADDRESS:
         if (len == 4)
            return std::string("IpAddress: ") + v->GetValueAsIPAddr(buf);
         break;
      case ASN_TYPE_OPAQUE:
      {
         std::string text;
         if (WrappedOpaque(value, len, &text))
            return text;
         return "OPAQUE: " + HexOctets(value, len);
      }
      case ASN_TYPE_NULL:
         return "NULL";
      case ASN_TYPE_NO_SUCH_OBJECT:
         return "No Such Object available on this agent at this OID";
      case ASN_TYPE_NO_SUCH_INSTANCE:
         return "No Such Instance currently exists at this OID";
      case ASN_TYPE_END_OF_MIB_VIEW:
         return "No more variables left in this MIB View (It is past the end of the MIB tree)";
      case ASN_TYPE_OCTET_STRING:
      {
         if (len == 0)
            return "\"\"";  // as the Net-SNMP tools show an empty string
         if (!PrintableText(value, len))
            return "Hex-STRING: " + HexOctets(value, len);
         std::string s = "STRING: \"";
         for (uint32_t i = 0; i < len; i++)
         {
            if (value[i] == '"' || value[i] == '\\')
               s += '\\';
            s += (char)value[i];
         }
         return s + "\"";
      }
      default:
         break;
   }
   // A type that snmpget does not print (it drops such a response).
   snprintf(buf, sizeof(buf), "Wrong Type (0x%02X): Hex-STRING: ", (unsigned)v->GetType());
   return buf + HexOctets(value, len);
}

void PrintBinding(SNMP_Variable *v)
{
   if (PrintNamedBinding(v))
      return;
   printf("%s = %s\n", v->GetName()->GetValueAsText(), FormatValue(v).c_str());
}
