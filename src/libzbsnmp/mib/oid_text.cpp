/* Object identifiers as names and back: the deepest named node, then the
   instance written from the row's INDEX, in the forms Net-SNMP's tools print
   and read. */
#include "mib/names.h"

#include <ctype.h>

#include <new>
#include <string>

static bool Printable(uint32_t c)
{
   return c >= 0x20 && c < 0x7F;
}

// ---- OID to text ----

static void PutHexOctets(ZbText *out, const uint32_t *octets, uint32_t count)
{
   for (uint32_t i = 0; i < count; i++)
      out->Printf(i == 0 ? "%02x" : ":%02x", (unsigned)octets[i]);
}

/* An InetAddress of the type that the previous index object gave, as
   "192.0.2.1", "fe:80:...:01" or either with "%zone"; 0 when the length does
   not fit the type (the address is then written as any string). */
static int PutInetAddress(ZbText *out, uint32_t addressType, const uint32_t *octets,
                          uint32_t count)
{
   /* InetAddressType: ipv4(1), ipv6(2), ipv4z(3), ipv6z(4) (RFC 4001). */
   uint32_t bytes = (addressType == 1 || addressType == 3) ? 4 : 16;
   bool zoned = (addressType == 3 || addressType == 4);
   if (addressType < 1 || addressType > 4 || count != bytes + (zoned ? 4 : 0))
      return 0;
   out->Put('"');
   if (bytes == 4)
      out->Printf("%u.%u.%u.%u", (unsigned)octets[0], (unsigned)octets[1], (unsigned)octets[2],
                  (unsigned)octets[3]);
   else
      PutHexOctets(out, octets, 16);
   if (zoned)
   {
      const uint32_t *z = octets + bytes;
      out->Printf("%%%u", (unsigned)((z[0] << 24) | (z[1] << 16) | (z[2] << 8) | z[3]));
   }
   out->Put('"');
   return 1;
}

/* The instance sub[0..left) of a column whose row has the given INDEX. */
static void PutInstance(ZbText *out, const ZbIndexItem *items, uint32_t count, const uint32_t *sub,
                        uint32_t left)
{
   uint32_t pos = 0;
   int64_t previous = -1;   /* the value of the previous index object when an integer */
   for (uint32_t i = 0; i < count && pos < left; i++)
   {
      const ZbIndexItem &item = items[i];
      int64_t value = -1;
      switch (item.kind)
      {
         case ZB_INDEX_INTEGER:
         {
            const char *label =
                item.object != nullptr ? item.object->FindEnumLabel((int32_t)sub[pos]) : nullptr;
            out->Put('.');
            if (label != nullptr)
               out->Put(label);
            else
               out->PutUInt(sub[pos]);
            value = sub[pos++];
            break;
         }
         case ZB_INDEX_IPADDRESS:
         {
            if (left - pos < 4 || sub[pos] > 255 || sub[pos + 1] > 255 || sub[pos + 2] > 255 ||
                sub[pos + 3] > 255)
               goto numbers;
            out->Printf(".%u.%u.%u.%u", (unsigned)sub[pos], (unsigned)sub[pos + 1],
                        (unsigned)sub[pos + 2], (unsigned)sub[pos + 3]);
            pos += 4;
            break;
         }
         case ZB_INDEX_STRING:
         case ZB_INDEX_FIXED:
         {
            bool bare = item.implied || item.kind == ZB_INDEX_FIXED;
            uint32_t start = bare ? pos : pos + 1;
            uint32_t n = item.implied ? left - pos
                         : item.kind == ZB_INDEX_FIXED ? item.fixedLength
                                                       : sub[pos];
            if (n > left - start)
               goto numbers;
            for (uint32_t k = 0; k < n; k++)
               if (sub[start + k] > 255)
                  goto numbers;
            out->Put('.');
            if (!(item.inetAddress && !bare && previous >= 0 &&
                  PutInetAddress(out, (uint32_t)previous, sub + start, n)))
            {
               char quote = bare ? '\'' : '"';
               out->Put(quote);
               for (uint32_t k = 0; k < n; k++)
                  out->Put(Printable(sub[start + k]) ? (char)sub[start + k] : '.');
               out->Put(quote);
            }
            pos = start + n;
            break;
         }
         case ZB_INDEX_OID:
         {
            uint32_t n = item.implied ? left - pos : 1 + sub[pos];
            if (n > left - pos)
               goto numbers;
            ZbFormatNumericOid(out, sub + pos, n);
            pos += n;
            break;
         }
         default:
            goto numbers;
      }
      previous = value;
   }
numbers:
   ZbFormatNumericOid(out, sub + pos, left - pos);
}

void ZbFormatOid(ZbText *out, const ZbMibIndex *index, const uint32_t *oid, uint32_t length,
                 uint32_t flags)
{
   if (index == nullptr || (flags & SNMP_TEXT_NUMERIC_OIDS))
   {
      ZbFormatNumericOid(out, oid, length);
      return;
   }
   uint32_t n = 0, depth = 0, named = ZbMibIndex::kNone, namedDepth = 0;
   for (; depth < length; depth++)
   {
      uint32_t c = index->FindChild(n, oid[depth]);
      if (c == ZbMibIndex::kNone)
         break;
      n = c;
      const char *name = index->nodes[n].object->Name();
      if (name != nullptr && *name != 0)
      {
         named = n;
         namedDepth = depth + 1;
      }
   }
   if (named == ZbMibIndex::kNone)
   {
      ZbFormatNumericOid(out, oid, length);
      return;
   }
   SNMP_MIBObject *node = index->nodes[named].object;
   const char *module = node->Module();
   if (module != nullptr && *module != 0 && !(flags & SNMP_TEXT_NO_MODULE))
   {
      out->Put(module);
      out->Put("::");
   }
   out->Put(node->Name());
   uint32_t count;
   const ZbIndexItem *items = index->ColumnIndex(named, &count);
   if (named == n && items != nullptr)
      PutInstance(out, items, count, oid + namedDepth, length - namedDepth);
   else
      ZbFormatNumericOid(out, oid + namedDepth, length - namedDepth);
}

// ---- Text to OID ----

namespace
{
/* One dot-separated component of a name: a number, a "quoted" or 'quoted'
   string, or a word (a name, or a named number of an index). */
struct Token
{
   enum Kind
   {
      NUMBER,
      QUOTED,
      WORD
   } kind;
   const char *text;
   size_t length;
   char quote;
   uint32_t number;
};

class OidReader
{
public:
   OidReader(const ZbMibIndex *index, const char *text, uint32_t *buffer, uint32_t size)
       : m_index(index), m_p(text), m_out(buffer), m_size(size), m_count(0), m_ok(true)
   {
   }

   uint32_t Read();

private:
   bool More() const { return m_ok && *m_p != 0; }
   bool Next(Token *t);
   void Add(uint32_t v)
   {
      if (m_count >= m_size)
         m_ok = false;
      else
         m_out[m_count++] = v;
   }
   void AddNodeOid(uint32_t n);
   void AddString(const Token &t, bool withLength);
   uint32_t NamedChild(uint32_t n, const Token &t) const;
   void ReadPath(uint32_t n);
   void ReadInstance(const ZbIndexItem *items, uint32_t count);
   bool ReadNumbers(uint32_t n, uint32_t max);

   const ZbMibIndex *m_index;
   const char *m_p;
   uint32_t *m_out;
   uint32_t m_size;
   uint32_t m_count;
   bool m_ok;
};
}  // namespace

/* Reads the component at m_p and the dot after it; fails on an empty
   component, an unterminated quote, a number above 2^32 - 1 or a trailing
   dot. */
bool OidReader::Next(Token *t)
{
   if (!m_ok || *m_p == 0)
      return m_ok = false;
   const char *start = m_p;
   if (*m_p == '"' || *m_p == '\'')
   {
      const char *close = strchr(m_p + 1, *m_p);
      if (close == nullptr)
         return m_ok = false;
      *t = {Token::QUOTED, m_p + 1, (size_t)(close - m_p - 1), *m_p, 0};
      m_p = close + 1;
   }
   else
   {
      while (*m_p != 0 && *m_p != '.')
         m_p++;
      size_t n = (size_t)(m_p - start);
      if (n == 0)
         return m_ok = false;
      *t = {Token::WORD, start, n, 0, 0};
      /* Numbers as strtoul reads them with base 0: 0x hex, a leading 0 octal. */
      int base = 10;
      const char *d = start, *end = m_p;
      if (n > 2 && d[0] == '0' && (d[1] == 'x' || d[1] == 'X'))
      {
         base = 16;
         d += 2;
      }
      else if (n > 1 && d[0] == '0')
      {
         base = 8;
         d++;
      }
      uint64_t v = 0;
      bool digits = true;
      for (const char *q = d; q < end && digits; q++)
      {
         int c = isdigit((unsigned char)*q) ? *q - '0'
                 : isxdigit((unsigned char)*q) ? (tolower((unsigned char)*q) - 'a' + 10)
                                               : 99;
         digits = c < base;
         v = v * (uint64_t)base + (uint64_t)(digits ? c : 0);
         if (v > UINT32_MAX)
            return m_ok = false;
      }
      if (digits)
      {
         t->kind = Token::NUMBER;
         t->number = (uint32_t)v;
      }
      else if (isdigit((unsigned char)*start))
      {
         return m_ok = false;   /* 12x, 08 */
      }
   }
   if (*m_p == '.')
   {
      m_p++;
      if (*m_p == 0)
         return m_ok = false;
   }
   else if (*m_p != 0)
   {
      return m_ok = false;   /* "abc"x */
   }
   return true;
}

void OidReader::AddNodeOid(uint32_t n)
{
   uint32_t ids[MIB_MAX_DEPTH];
   uint32_t depth = 0;
   SNMP_MIBObject *p = m_index->nodes[n].object;
   for (; p != m_index->root && depth < MIB_MAX_DEPTH; p = p->Parent())
      ids[depth++] = p->OID();
   if (p != m_index->root)
      m_ok = false;   /* deeper than any OID we take */
   while (depth > 0)
      Add(ids[--depth]);
}

void OidReader::AddString(const Token &t, bool withLength)
{
   if (withLength)
      Add((uint32_t)t.length);
   for (size_t i = 0; i < t.length; i++)
      Add((uint8_t)t.text[i]);
}

/* The child of node n that bears the token's name, or kNone. */
uint32_t OidReader::NamedChild(uint32_t n, const Token &t) const
{
   SNMP_MIBObject *parent = m_index->nodes[n].object;
   for (uint32_t c = m_index->FirstOfName(std::string_view(t.text, t.length)); c != ZbMibIndex::kNone;
        c = m_index->nodes[c].nextSameName)
      if (m_index->nodes[c].object->Parent() == parent)
         return c;
   return ZbMibIndex::kNone;
}

/* Up to n numbers of at most max each (fewer when the text ends). */
bool OidReader::ReadNumbers(uint32_t n, uint32_t max)
{
   Token t;
   for (uint32_t i = 0; i < n && More(); i++)
   {
      if (!Next(&t) || t.kind != Token::NUMBER || t.number > max)
         return m_ok = false;
      Add(t.number);
   }
   return m_ok;
}

/* The instance after a column: one value per INDEX object, in the form its
   type takes (as far as the text goes), then numbers. */
void OidReader::ReadInstance(const ZbIndexItem *items, uint32_t count)
{
   Token t;
   for (uint32_t i = 0; i < count && More(); i++)
   {
      const ZbIndexItem &item = items[i];
      if (item.kind == ZB_INDEX_IPADDRESS)
      {
         ReadNumbers(4, 255);
         continue;
      }
      if (!Next(&t))
         return;
      bool bare = item.implied || item.kind == ZB_INDEX_FIXED;
      switch (item.kind)
      {
         case ZB_INDEX_INTEGER:
            if (t.kind == Token::NUMBER)
            {
               Add(t.number);
            }
            else
            {
               std::string label(t.text, t.length);
               int32_t v;
               if (t.kind != Token::WORD || item.object == nullptr ||
                   !item.object->FindEnumValue(label.c_str(), &v) || v < 0)
                  m_ok = false;
               else
                  Add((uint32_t)v);
            }
            break;
         case ZB_INDEX_STRING:
         case ZB_INDEX_FIXED:
            if (t.kind == Token::QUOTED)
            {
               /* "text" carries its length, 'text' does not: each where the
                  row's INDEX says so. */
               if ((t.quote == '\'') != bare ||
                   (item.kind == ZB_INDEX_FIXED && t.length != item.fixedLength))
                  m_ok = false;
               else
                  AddString(t, !bare);
            }
            else if (t.kind == Token::NUMBER)
            {
               if (item.implied)
               {
                  if (t.number > 255)
                     m_ok = false;
                  Add(t.number);
                  ReadNumbers(UINT32_MAX, 255);
               }
               else if (item.kind == ZB_INDEX_FIXED)
               {
                  if (t.number > 255)
                     m_ok = false;
                  Add(t.number);
                  ReadNumbers(item.fixedLength - 1, 255);
               }
               else
               {
                  Add(t.number);   /* the length, then the octets */
                  ReadNumbers(t.number, 255);
               }
            }
            else
            {
               m_ok = false;
            }
            break;
         case ZB_INDEX_OID:
            if (t.kind == Token::NUMBER)
            {
               Add(t.number);
               ReadNumbers(item.implied ? UINT32_MAX : t.number, UINT32_MAX);
            }
            else if (t.kind == Token::QUOTED)
            {
               AddString(t, t.quote == '"');
            }
            else
            {
               m_ok = false;
            }
            break;
         default:
            /* An index object the tree does not hold: numbers and strings. */
            if (t.kind == Token::NUMBER)
               Add(t.number);
            else if (t.kind == Token::QUOTED)
               AddString(t, t.quote == '"');
            else
               m_ok = false;
            break;
      }
   }
   ReadNumbers(UINT32_MAX, UINT32_MAX);
}

/* The rest of the text from node n (kNone: outside the tree): numbers and
   names of children walk down; a column hands over to its INDEX. */
void OidReader::ReadPath(uint32_t n)
{
   Token t;
   while (More())
   {
      uint32_t count = 0;
      const ZbIndexItem *items = n != ZbMibIndex::kNone ? m_index->ColumnIndex(n, &count) : nullptr;
      if (items != nullptr)
      {
         ReadInstance(items, count);
         return;
      }
      if (!Next(&t))
         return;
      if (t.kind == Token::NUMBER)
      {
         Add(t.number);
         n = (n != ZbMibIndex::kNone) ? m_index->FindChild(n, t.number) : ZbMibIndex::kNone;
      }
      else if (t.kind == Token::QUOTED)
      {
         AddString(t, t.quote == '"');
         n = ZbMibIndex::kNone;
      }
      else
      {
         uint32_t c = (n != ZbMibIndex::kNone) ? NamedChild(n, t) : ZbMibIndex::kNone;
         if (c == ZbMibIndex::kNone)
         {
            m_ok = false;
            return;
         }
         Add(m_index->nodes[c].object->OID());
         n = c;
      }
   }
}

uint32_t OidReader::Read()
{
   if (m_p == nullptr || *m_p == 0)
      return 0;
   /* MODULE::name: the module ends before the first dot or quote. */
   const char *colons = strstr(m_p, "::");
   size_t plain = strcspn(m_p, ".\"'");
   if (colons != nullptr && (size_t)(colons - m_p) < plain)
   {
      std::string_view module(m_p, (size_t)(colons - m_p));
      m_p = colons + 2;
      Token t;
      if (module.empty() || !Next(&t) || t.kind != Token::WORD)
         return 0;
      uint32_t n = m_index->FindName(module, std::string_view(t.text, t.length));
      if (n == ZbMibIndex::kNone)
         return 0;
      AddNodeOid(n);
      ReadPath(n);
   }
   else if (*m_p == '.')
   {
      m_p++;
      ReadPath(0);
   }
   else
   {
      /* A number or a root's name starts a path from the root; any other
         name is looked up wherever it is. */
      const char *start = m_p;
      Token t;
      if (!Next(&t))
         return 0;
      uint32_t n = ZbMibIndex::kNone;
      if (t.kind == Token::WORD)
         n = NamedChild(0, t);
      if (t.kind == Token::NUMBER || n != ZbMibIndex::kNone)
      {
         m_p = start;
         ReadPath(0);
      }
      else if (t.kind == Token::WORD)
      {
         n = m_index->FindName({}, std::string_view(t.text, t.length));
         if (n == ZbMibIndex::kNone)
            return 0;
         AddNodeOid(n);
         ReadPath(n);
      }
      else
      {
         return 0;
      }
   }
   return (m_ok && m_count > 0) ? m_count : 0;
}

uint32_t SNMP_MIBTranslator::TextToOID(const char *text, uint32_t *buffer, uint32_t bufferSize) const
{
   if (text == nullptr || buffer == nullptr)
      return 0;
   if (m_index == nullptr)
   {
      /* Numbers need no tree. */
      return SNMPParseOID(text, buffer, bufferSize);
   }
   try
   {
      OidReader reader(m_index, text, buffer, bufferSize);
      return reader.Read();
   }
   catch (const std::bad_alloc &)
   {
      return 0;
   }
}
