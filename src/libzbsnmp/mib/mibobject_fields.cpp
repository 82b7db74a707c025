/* SNMP_MIBObject's optional fields: defining module, textual convention,
   display hint, units, fixed length, named numbers and the INDEX of a row.
   They live in one record that a node allocates when the first is set, so
   that a tree without them costs one pointer per node. */
#include "mib_node.h"

#include <string.h>

static void FreeText(const char *text)
{
   free(const_cast<char *>(text));
}

void ZbMibExtraFree(ZbMibExtra *extra)
{
   if (extra == nullptr)
      return;
   FreeText(extra->module);
   FreeText(extra->textualConvention);
   FreeText(extra->displayHint);
   FreeText(extra->units);
   for (uint32_t i = 0; i < extra->enumCount; i++)
      FreeText(extra->enums[i].label);
   free(extra->enums);
   for (uint32_t i = 0; i < extra->indexCount; i++)
      FreeText(extra->indexNames[i]);
   free(extra->indexNames);
   free(extra);
}

/* A copy of text in a new malloc block in *out; 1, or 0 when it cannot be
   allocated. NULL copies as NULL. */
static int CopyText(const char **out, const char *text)
{
   *out = zb_strdup(text);
   return text == nullptr || *out != nullptr;
}

/* A heap record with copies of everything src holds; NULL when any part
   cannot be allocated. */
static ZbMibExtra *HeapCopy(const ZbMibExtra *src)
{
   ZbMibExtra *copy = (ZbMibExtra *)calloc(1, sizeof(ZbMibExtra));
   if (copy == nullptr)
      return nullptr;
   copy->fixedLength = src->fixedLength;
   copy->indexImplied = src->indexImplied;
   bool ok = CopyText(&copy->module, src->module) &&
             CopyText(&copy->textualConvention, src->textualConvention) &&
             CopyText(&copy->displayHint, src->displayHint) && CopyText(&copy->units, src->units);
   if (ok && src->enumCount > 0)
   {
      copy->enums = (ZbMibEnum *)malloc((size_t)src->enumCount * sizeof(ZbMibEnum));
      ok = copy->enums != nullptr;
      copy->enumCapacity = ok ? src->enumCount : 0;
      for (uint32_t i = 0; ok && i < src->enumCount; i++)
      {
         copy->enums[i].value = src->enums[i].value;
         ok = CopyText(&copy->enums[i].label, src->enums[i].label);
         if (ok)
            copy->enumCount++;
      }
   }
   if (ok && src->indexCount > 0)
   {
      copy->indexNames = (const char **)malloc((size_t)src->indexCount * sizeof(char *));
      ok = copy->indexNames != nullptr;
      copy->indexCapacity = ok ? src->indexCount : 0;
      for (uint32_t i = 0; ok && i < src->indexCount; i++)
      {
         ok = CopyText(&copy->indexNames[i], src->indexNames[i]);
         if (ok)
            copy->indexCount++;
      }
   }
   if (!ok)
   {
      ZbMibExtraFree(copy);
      return nullptr;
   }
   return copy;
}

ZbMibExtra *ZbMibAccess::Writable(SNMP_MIBObject *node)
{
   if (node->m_extra == nullptr)
   {
      node->m_extra = (ZbMibExtra *)calloc(1, sizeof(ZbMibExtra));
      node->m_storage &= ~(uint32_t)ZB_MIB_EXTRA_IN_ARENA;
   }
   else if (node->m_storage & ZB_MIB_EXTRA_IN_ARENA)
   {
      ZbMibExtra *copy = HeapCopy(node->m_extra);
      if (copy == nullptr)
         return nullptr;
      node->m_extra = copy;
      node->m_storage &= ~(uint32_t)(ZB_MIB_EXTRA_IN_ARENA | ZB_MIB_EXTRA_SHARED);
   }
   return node->m_extra;
}

/* Replaces a text field with a copy of text (made before the old one is
   released: text may be the field's own); NULL removes the field. */
static void SetText(SNMP_MIBObject *node, ZbMibExtra *current, const char *ZbMibExtra::*field,
                    const char *text)
{
   if (text == nullptr && (current == nullptr || current->*field == nullptr))
      return;
   char *copy = zb_strdup(text);
   if (text != nullptr && copy == nullptr)
      return;
   ZbMibExtra *extra = ZbMibAccess::Writable(node);
   if (extra == nullptr)
   {
      free(copy);
      return;
   }
   FreeText(extra->*field);
   extra->*field = copy;
}

const char *SNMP_MIBObject::Module() const
{
   return (m_extra != nullptr) ? m_extra->module : nullptr;
}

void SNMP_MIBObject::SetModule(const char *module)
{
   SetText(this, m_extra, &ZbMibExtra::module, module);
}

const char *SNMP_MIBObject::TextualConvention() const
{
   return (m_extra != nullptr) ? m_extra->textualConvention : nullptr;
}

void SNMP_MIBObject::SetTextualConvention(const char *name)
{
   SetText(this, m_extra, &ZbMibExtra::textualConvention, name);
}

const char *SNMP_MIBObject::DisplayHint() const
{
   return (m_extra != nullptr) ? m_extra->displayHint : nullptr;
}

void SNMP_MIBObject::SetDisplayHint(const char *hint)
{
   SetText(this, m_extra, &ZbMibExtra::displayHint, hint);
}

const char *SNMP_MIBObject::Units() const
{
   return (m_extra != nullptr) ? m_extra->units : nullptr;
}

void SNMP_MIBObject::SetUnits(const char *units)
{
   SetText(this, m_extra, &ZbMibExtra::units, units);
}

uint32_t SNMP_MIBObject::FixedLength() const
{
   return (m_extra != nullptr) ? m_extra->fixedLength : 0;
}

void SNMP_MIBObject::SetFixedLength(uint32_t length)
{
   if (length == (m_extra != nullptr ? m_extra->fixedLength : 0))
      return;
   ZbMibExtra *extra = ZbMibAccess::Writable(this);
   if (extra != nullptr)
      extra->fixedLength = length;
}

uint32_t SNMP_MIBObject::EnumCount() const
{
   return (m_extra != nullptr) ? m_extra->enumCount : 0;
}

int32_t SNMP_MIBObject::EnumValue(uint32_t index) const
{
   return (index < EnumCount()) ? m_extra->enums[index].value : 0;
}

const char *SNMP_MIBObject::EnumLabel(uint32_t index) const
{
   return (index < EnumCount()) ? m_extra->enums[index].label : nullptr;
}

const char *SNMP_MIBObject::FindEnumLabel(int32_t value) const
{
   for (uint32_t i = 0; i < EnumCount(); i++)
      if (m_extra->enums[i].value == value)
         return m_extra->enums[i].label;
   return nullptr;
}

int SNMP_MIBObject::FindEnumValue(const char *label, int32_t *value) const
{
   if (label == nullptr)
      return 0;
   for (uint32_t i = 0; i < EnumCount(); i++)
   {
      if (strcmp(m_extra->enums[i].label, label) == 0)
      {
         if (value != nullptr)
            *value = m_extra->enums[i].value;
         return 1;
      }
   }
   return 0;
}

/* Makes room for one more element of a heap record's array, which grows
   by doubling from a first capacity that most enumerations and indexes fit. */
#define MIB_ARRAY_FIRST_CAPACITY 8u

static int Grow(void **array, uint32_t count, uint32_t *capacity, size_t elementSize)
{
   if (count < *capacity)
      return 1;
   if (count >= 0x7FFFFFFF)
      return 0;
   uint32_t grown = (count < MIB_ARRAY_FIRST_CAPACITY) ? MIB_ARRAY_FIRST_CAPACITY : count * 2;
   void *block = realloc(*array, (size_t)grown * elementSize);
   if (block == nullptr)
      return 0;
   *array = block;
   *capacity = grown;
   return 1;
}

int SNMP_MIBObject::AddEnum(int32_t value, const char *label)
{
   if (label == nullptr)
      return 0;
   char *copy = zb_strdup(label);
   ZbMibExtra *extra = (copy != nullptr) ? ZbMibAccess::Writable(this) : nullptr;
   if (extra == nullptr ||
       !Grow((void **)&extra->enums, extra->enumCount, &extra->enumCapacity, sizeof(ZbMibEnum)))
   {
      free(copy);
      return 0;
   }
   extra->enums[extra->enumCount].value = value;
   extra->enums[extra->enumCount].label = copy;
   extra->enumCount++;
   return 1;
}

uint32_t SNMP_MIBObject::IndexCount() const
{
   return (m_extra != nullptr) ? m_extra->indexCount : 0;
}

const char *SNMP_MIBObject::IndexName(uint32_t index) const
{
   return (index < IndexCount()) ? m_extra->indexNames[index] : nullptr;
}

bool SNMP_MIBObject::IsIndexImplied() const
{
   return m_extra != nullptr && m_extra->indexImplied;
}

int SNMP_MIBObject::AddIndex(const char *name)
{
   if (name == nullptr)
      return 0;
   char *copy = zb_strdup(name);
   ZbMibExtra *extra = (copy != nullptr) ? ZbMibAccess::Writable(this) : nullptr;
   if (extra == nullptr ||
       !Grow((void **)&extra->indexNames, extra->indexCount, &extra->indexCapacity, sizeof(char *)))
   {
      free(copy);
      return 0;
   }
   extra->indexNames[extra->indexCount++] = copy;
   return 1;
}

void SNMP_MIBObject::SetIndexImplied(bool implied)
{
   if (implied == IsIndexImplied())
      return;
   ZbMibExtra *extra = ZbMibAccess::Writable(this);
   if (extra != nullptr)
      extra->indexImplied = implied;
}
