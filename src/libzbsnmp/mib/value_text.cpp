/* Values as text, as Net-SNMP's tools print them by default: the value's
   type, then its text shaped by the MIB node (named numbers, display hint,
   units) where there is one. */
#include "mib/names.h"

#include <stdio.h>

#include <new>

namespace
{
/* Which text a node's type asks for, and which value type it takes. */
enum Printer
{
   BY_TYPE,   /* no node, or a node without syntax: the value's type decides */
   P_INTEGER,
   P_GAUGE,
   P_COUNTER,
   P_COUNTER64,
   P_TIMETICKS,
   P_UINTEGER,
   P_OCTETS,
   P_BITS,
   P_OID,
   P_IPADDRESS,
   P_NETADDRESS,
   P_OPAQUE,
};

struct PrinterInfo
{
   uint32_t asnType;
   const char *shouldBe;   /* Net-SNMP's words for the type it expected */
};

const PrinterInfo kPrinters[] = {
   {0, nullptr},
   {ASN_TYPE_INTEGER, "INTEGER"},
   {ASN_TYPE_GAUGE32, "Gauge32 or Unsigned32"},
   {ASN_TYPE_COUNTER32, "Counter32"},
   {ASN_TYPE_COUNTER64, "Counter64"},
   {ASN_TYPE_TIMETICKS, "Timeticks"},
   {ASN_TYPE_UINTEGER32, "UInteger32"},
   {ASN_TYPE_OCTET_STRING, "OCTET STRING"},
   {ASN_TYPE_OCTET_STRING, "BITS"},
   {ASN_TYPE_OBJECT_ID, "OBJECT IDENTIFIER"},
   {ASN_TYPE_IP_ADDRESS, "IpAddress"},
   {ASN_TYPE_IP_ADDRESS, "NetworkAddress"},
   {ASN_TYPE_OPAQUE, "Opaque"},
};
}  // namespace

static Printer PrinterOf(SNMP_MIBObject *node)
{
   if (node == nullptr)
      return BY_TYPE;
   switch (SNMPGetMIBBaseType(node->Type()))
   {
      case MIB_TYPE_INTEGER:
      case MIB_TYPE_INTEGER32: return P_INTEGER;
      case MIB_TYPE_UNSIGNED32:
      case MIB_TYPE_GAUGE32: return P_GAUGE;
      case MIB_TYPE_COUNTER32: return P_COUNTER;
      case MIB_TYPE_COUNTER64: return P_COUNTER64;
      case MIB_TYPE_TIMETICKS: return P_TIMETICKS;
      case MIB_TYPE_UINTEGER32: return P_UINTEGER;
      case MIB_TYPE_OCTET_STRING: return P_OCTETS;
      case MIB_TYPE_BITS: return P_BITS;
      case MIB_TYPE_OBJECT_ID: return P_OID;
      case MIB_TYPE_IP_ADDRESS: return P_IPADDRESS;
      case MIB_TYPE_NETWORK_ADDRESS: return P_NETADDRESS;
      case MIB_TYPE_OPAQUE: return P_OPAQUE;
      default: return BY_TYPE;
   }
}

/* The display hint of a node, or NULL. Only the tree's own hint counts: a
   type of the same name may mean another thing in another module (RFC 1213's
   PhysAddress and DisplayString have no hint). */
static const char *HintOf(SNMP_MIBObject *node)
{
   const char *hint = node->DisplayHint();
   return (hint != nullptr && *hint != 0) ? hint : nullptr;
}

static void PutUnits(ZbText *out, SNMP_MIBObject *node)
{
   const char *units = node != nullptr ? node->Units() : nullptr;
   if (units != nullptr && *units != 0)
   {
      out->Put(' ');
      out->Put(units);
   }
}

/* Octets as "%02X " each, a line break after every sixteen. */
static void PutHex(ZbText *out, const uint8_t *data, uint32_t length)
{
   static const char kDigits[] = "0123456789ABCDEF";
   for (uint32_t i = 0; i < length; i++)
   {
      char text[3] = {kDigits[data[i] >> 4], kDigits[data[i] & 15], ' '};
      out->Put(text, 3);
      if (i % 16 == 15 && i + 1 < length)
         out->Put('\n');
   }
}

static bool IsPrintableOrSpace(uint8_t c)
{
   return (c >= 0x20 && c < 0x7F) || (c >= '\t' && c <= '\r');
}

/* An OCTET STRING without a hint: quoted text when every octet is printable
   or white space, else hex. */
static void PutPlainOctets(ZbText *out, const uint8_t *data, uint32_t length)
{
   if (length == 0)
   {
      out->Put("\"\"");
      return;
   }
   for (uint32_t i = 0; i < length; i++)
   {
      if (!IsPrintableOrSpace(data[i]))
      {
         out->Put("Hex-STRING: ");
         PutHex(out, data, length);
         return;
      }
   }
   out->Put("STRING: \"");
   for (uint32_t i = 0; i < length; i++)
   {
      if (data[i] == '"' || data[i] == '\\')
         out->Put('\\');
      out->Put((char)data[i]);
   }
   out->Put('"');
}

namespace
{
/* One part of an OCTET STRING display hint (RFC 2579 3.1): [*]width format
   [separator [terminator]]. */
struct HintSpec
{
   bool repeat;
   uint32_t width;
   char format;
   char separator;   /* 0: none */
   char terminator;  /* 0: none */
};
const int kMaxHintSpecs = 64;
}  // namespace

/* Parses a hint into specs; 0 when it is not a valid octet-string hint. */
static int ParseOctetHint(const char *hint, HintSpec *specs, int *count)
{
   int n = 0;
   const char *h = hint;
   while (*h != 0)
   {
      if (n == kMaxHintSpecs)
         return 0;
      HintSpec s = {false, 0, 0, 0, 0};
      if (*h == '*')
      {
         s.repeat = true;
         h++;
      }
      bool digits = false;
      while (*h >= '0' && *h <= '9')
      {
         s.width = s.width * 10 + (uint32_t)(*h++ - '0');
         digits = true;
         if (s.width > 65535)
            return 0;
      }
      if (!digits)
         s.width = 1;
      if (*h != 'd' && *h != 'x' && *h != 'o' && *h != 'a' && *h != 't')
         return 0;
      s.format = *h++;
      if (*h != 0 && !(*h >= '0' && *h <= '9') && *h != '*')
         s.separator = *h++;
      if (s.repeat && s.separator != 0 && *h != 0 && !(*h >= '0' && *h <= '9') && *h != '*')
         s.terminator = *h++;
      specs[n++] = s;
   }
   *count = n;
   return n > 0;
}

/* The octets under a parsed hint. The hint's last part repeats while octets
   remain; a separator follows a value only when more octets do. As Net-SNMP
   does, a numeric value short of its width is read as if zero octets
   followed, and a one-octet hex value without separator at the end of the
   hint is written with two digits ("1x" shows 0a0b). */
static void PutHintedOctets(ZbText *out, const uint8_t *data, uint32_t length,
                            const HintSpec *specs, int count)
{
   uint32_t pos = 0;
   for (int si = 0; pos < length; si = (si + 1 < count) ? si + 1 : si)
   {
      const HintSpec &s = specs[si];
      uint32_t times = s.repeat ? data[pos++] : 1;
      for (uint32_t k = 0; k < times && pos < length; k++)
      {
         if (s.format == 'a' || s.format == 't')
         {
            for (uint32_t j = 0; j < s.width && pos < length; j++, pos++)
               out->Put(data[pos] != 0 ? (char)data[pos] : '.');
         }
         else
         {
            uint64_t v = 0;
            for (uint32_t j = 0; j < s.width; j++)
               v = (v << 8) | (pos < length ? data[pos++] : 0);
            if (s.format == 'd')
               out->PutInt((int64_t)v);
            else if (s.format == 'o')
               out->Printf("%llo", (unsigned long long)v);
            else if (s.width == 1 && s.separator == 0 && si == count - 1)
               out->Printf("%02llx", (unsigned long long)v);
            else
               out->Printf("%llx", (unsigned long long)v);
         }
         if (pos < length)
         {
            if (s.terminator != 0 && k + 1 == times)
               out->Put(s.terminator);
            else if (s.separator != 0)
               out->Put(s.separator);
         }
      }
   }
}

static void PutOctets(ZbText *out, const uint8_t *data, uint32_t length, const char *hint)
{
   HintSpec specs[kMaxHintSpecs];
   int count = 0;
   if (hint == nullptr)
   {
      PutPlainOctets(out, data, length);
      return;
   }
   if (!ParseOctetHint(hint, specs, &count))
   {
      out->Put("(Bad hint ignored: ");
      out->Put(hint);
      out->Put(") ");
      PutPlainOctets(out, data, length);
      return;
   }
   out->Put("STRING: ");
   PutHintedOctets(out, data, length, specs, count);
}

/* An integer under an INTEGER display hint (RFC 2579 3.1): d[-n], x, o, b. */
static void PutHintedInteger(ZbText *out, int64_t v, const char *hint)
{
   switch (hint[0])
   {
      case 'x':
         out->Printf("%llx", (unsigned long long)v);
         return;
      case 'o':
         out->Printf("%llo", (unsigned long long)v);
         return;
      case 'b':
         for (int bit = 31; bit >= 0; bit--)
            out->Put(((uint64_t)v >> bit) & 1 ? '1' : '0');
         return;
      case 'd':
         if (hint[1] == '-' && hint[2] >= '1' && hint[2] <= '9')
         {
            uint32_t places = (uint32_t)atoi(hint + 2);
            if (places > 20)
               places = 20;
            char digits[24];
            uint64_t magnitude = v < 0 ? 0 - (uint64_t)v : (uint64_t)v;
            int n = snprintf(digits, sizeof(digits), "%0*llu", (int)places,
                             (unsigned long long)magnitude);
            if (v < 0)
               out->Put('-');
            /* Net-SNMP writes no zero before the point: .5, -.05 */
            out->Put(digits, (size_t)n - places);
            out->Put('.');
            out->Put(digits + n - places, places);
            return;
         }
         break;
      default:
         break;
   }
   out->PutInt(v);
}

static void PutTimeticks(ZbText *out, uint32_t t)
{
   out->Printf("Timeticks: (%u) ", (unsigned)t);
   uint32_t days = t / 8640000;
   if (days > 0)
      out->Printf("%u day%s, ", (unsigned)days, days == 1 ? "" : "s");
   out->Printf("%u:%02u:%02u.%02u", (unsigned)(t / 360000 % 24), (unsigned)(t / 6000 % 60),
               (unsigned)(t / 100 % 60), (unsigned)(t % 100));
}

static uint64_t GetBEUInt(const uint8_t *p, uint32_t n)
{
   uint64_t v = 0;
   for (uint32_t i = 0; i < n; i++)
      v = (v << 8) | p[i];
   return v;
}

/* An Opaque; the float, double and 64-bit integers that Net-SNMP wraps in
   one (identifier 9F 78 and the like, short length) are shown as their
   values, any other content as hex. */
static void PutOpaque(ZbText *out, const uint8_t *data, uint32_t length)
{
   if (length >= 3 && data[0] == ZB_OPAQUE_TAG1 && data[2] == length - 3)
   {
      const uint8_t *v = data + 3;
      uint32_t n = length - 3;
      switch (data[1])
      {
         case ZB_OPAQUE_FLOAT:
            if (n == 4)
            {
               uint32_t bits = (uint32_t)GetBEUInt(v, 4);
               float f;
               memcpy(&f, &bits, 4);
               out->Printf("Opaque: Float: %f", (double)f);
               return;
            }
            break;
         case ZB_OPAQUE_DOUBLE:
            if (n == 8)
            {
               uint64_t bits = GetBEUInt(v, 8);
               double d;
               memcpy(&d, &bits, 8);
               out->Printf("Opaque: Float: %f", d);
               return;
            }
            break;
         case ZB_OPAQUE_COUNTER64:
         case ZB_OPAQUE_UINT64:
            /* Unsigned: up to eight octets, or nine with a leading zero
               octet; an empty content reads as 0, as snmpget shows it. */
            if (n <= 8 || (n == 9 && v[0] == 0))
            {
               if (n == 9)
                  v++, n--;
               out->Put(data[1] == ZB_OPAQUE_COUNTER64 ? "Opaque: Counter64: " : "Opaque: UInt64: ");
               out->PutUInt(n > 0 ? GetBEUInt(v, n) : 0);
               return;
            }
            break;
         case ZB_OPAQUE_INT64:
            /* Signed; of nine octets the first is dropped. */
            if (n <= 9)
            {
               if (n == 9)
                  v++, n--;
               uint64_t u = (n > 0) ? GetBEUInt(v, n) : 0;
               if (n > 0 && n < 8 && (v[0] & 0x80))
                  u |= ~(uint64_t)0 << (8 * n);
               out->Put("Opaque: Int64: ");
               out->PutInt((int64_t)u);
               return;
            }
            break;
         default:
            break;
      }
   }
   out->Put("OPAQUE: ");
   PutHex(out, data, length);
}

static void PutOidValue(ZbText *out, SNMP_Variable *var, const ZbMibIndex *index, uint32_t flags)
{
   out->Put("OID: ");
   const uint32_t *ids = (const uint32_t *)var->GetValue();
   uint32_t count = var->GetValueLength() / 4;
   if (ids == nullptr)
      count = 0;
   if (count == 0)
      out->Put(".0"); /* an empty value, as snmpget shows it */
   else if (index != nullptr)
      ZbFormatOid(out, index, ids, count, flags);
   else
      ZbFormatNumericOid(out, ids, count);
}

static uint64_t Counter64Of(SNMP_Variable *var)
{
   uint64_t v = 0;
   if (var->GetValueLength() >= 8 && var->GetValue() != nullptr)
      memcpy(&v, var->GetValue(), 8);
   return v;
}

/* A value of a type that needs four octets but holds another number of them. */
static void PutBadLength(ZbText *out, SNMP_Variable *var, const char *type)
{
   out->Printf("Wrong Type (should be %s): Hex-STRING: ", type);
   PutHex(out, var->GetValue(), var->GetValueLength());
}

/* The value by its own type alone, as without a MIB. */
static void PutPlainValue(ZbText *out, SNMP_Variable *var, const ZbMibIndex *index, uint32_t flags)
{
   const uint8_t *data = var->GetValue();
   uint32_t length = var->GetValueLength();
   switch (var->GetType())
   {
      case ASN_TYPE_INTEGER:
         out->Put("INTEGER: ");
         out->PutInt(var->GetValueAsInt());
         return;
      case ASN_TYPE_GAUGE32:
         out->Put("Gauge32: ");
         out->PutUInt(var->GetValueAsUInt());
         return;
      case ASN_TYPE_COUNTER32:
         out->Put("Counter32: ");
         out->PutUInt(var->GetValueAsUInt());
         return;
      case ASN_TYPE_UINTEGER32:
         out->PutUInt(var->GetValueAsUInt());   /* Net-SNMP writes no type here */
         return;
      case ASN_TYPE_COUNTER64:
         out->Put("Counter64: ");
         out->PutUInt(Counter64Of(var));
         return;
      case ASN_TYPE_TIMETICKS:
         PutTimeticks(out, var->GetValueAsUInt());
         return;
      case ASN_TYPE_OCTET_STRING:
         PutPlainOctets(out, data, length);
         return;
      case ASN_TYPE_OBJECT_ID:
         PutOidValue(out, var, index, flags);
         return;
      case ASN_TYPE_IP_ADDRESS:
         if (length != 4)
            PutBadLength(out, var, "IpAddress");
         else
            out->Printf("IpAddress: %u.%u.%u.%u", data[0], data[1], data[2], data[3]);
         return;
      case ASN_TYPE_NULL:
         out->Put("NULL");
         return;
      case ASN_TYPE_OPAQUE:
         PutOpaque(out, data, length);
         return;
      default:
         out->Put("Variable has bad type");
         return;
   }
}

void ZbFormatValue(ZbText *out, SNMP_Variable *var, SNMP_MIBObject *node, const ZbMibIndex *index,
                   uint32_t flags)
{
   uint32_t type = var->GetType();
   switch (type)
   {
      case ASN_TYPE_NO_SUCH_OBJECT:
         out->Put("No Such Object available on this agent at this OID");
         return;
      case ASN_TYPE_NO_SUCH_INSTANCE:
         out->Put("No Such Instance currently exists at this OID");
         return;
      case ASN_TYPE_END_OF_MIB_VIEW:
         out->Put("No more variables left in this MIB View (It is past the end of the MIB tree)");
         return;
      default:
         break;
   }
   Printer printer = PrinterOf(node);
   if (printer == BY_TYPE)
   {
      PutPlainValue(out, var, index, flags);
      return;
   }
   if (type != kPrinters[printer].asnType)
   {
      out->Printf("Wrong Type (should be %s): ", kPrinters[printer].shouldBe);
      PutPlainValue(out, var, index, flags);
      return;
   }
   const uint8_t *data = var->GetValue();
   uint32_t length = var->GetValueLength();
   const char *hint = HintOf(node);
   switch (printer)
   {
      case P_INTEGER:
      case P_UINTEGER:
      {
         int64_t v = printer == P_INTEGER ? (int64_t)var->GetValueAsInt()
                                          : (int64_t)var->GetValueAsUInt();
         const char *label = node->FindEnumLabel((int32_t)v);
         if (printer == P_INTEGER)
            out->Put("INTEGER: ");
         if (label != nullptr)
         {
            out->Put(label);
            out->Printf("(%lld)", (long long)v);
         }
         else if (hint != nullptr)
            PutHintedInteger(out, v, hint);
         else
            out->PutInt(v);
         break;
      }
      case P_GAUGE:
         if (hint == nullptr)
         {
            PutPlainValue(out, var, index, flags);
            break;
         }
         out->Put("Gauge32: ");
         PutHintedInteger(out, var->GetValueAsUInt(), hint);
         break;
      case P_OCTETS:
         PutOctets(out, data, length, hint);
         break;
      case P_BITS:
         out->Put("BITS: ");
         PutHex(out, data, length);
         for (uint32_t i = 0; i < length; i++)
         {
            for (int bit = 0; bit < 8; bit++)
            {
               if (!(data[i] & (0x80 >> bit)))
                  continue;
               uint32_t n = i * 8 + (uint32_t)bit;
               const char *label = node->FindEnumLabel((int32_t)n);
               if (label != nullptr)
               {
                  out->Put(label);
                  out->Printf("(%u) ", (unsigned)n);
               }
               else
               {
                  out->Printf("%u ", (unsigned)n);
               }
            }
         }
         break;
      case P_NETADDRESS:
         if (length != 4)
            PutBadLength(out, var, kPrinters[printer].shouldBe);
         else
            out->Printf("Network Address: %02X:%02X:%02X:%02X", data[0], data[1], data[2], data[3]);
         return;
      case P_IPADDRESS:
      case P_OPAQUE:
         PutPlainValue(out, var, index, flags);
         return;
      default:
         /* Counters, time ticks and OIDs: their type's own text, and units. */
         PutPlainValue(out, var, index, flags);
         break;
   }
   PutUnits(out, node);
}

uint32_t SNMPFormatValue(SNMP_Variable *var, SNMP_MIBObject *node, char *buffer, uint32_t bufferSize)
{
   ZbText out(buffer, buffer != nullptr ? bufferSize : 0);
   if (var != nullptr)
      ZbFormatValue(&out, var, node, nullptr, SNMP_TEXT_NUMERIC_OIDS);
   return out.len;
}
