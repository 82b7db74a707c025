/* SNMP_MIBObject's optional fields: defining module, textual convention,
   display hint, units, fixed length, named numbers and the INDEX of a row.
   They live in one record that a node allocates when the first is set, so
   that a tree without them costs one pointer per node. */
#include "internal.h"

#include <stddef.h>
#include <string.h>

/* A node's module text lives in a block with a count of the nodes that use
   it: the nodes of a loaded tree share their parent's instead of a copy each. */
struct ZbSharedText
{
   uint32_t users;
   char text[1];
};

static ZbSharedText *SharedBlock(const char *text)
{
   return (ZbSharedText *)(void *)(const_cast<char *>(text) - offsetof(ZbSharedText, text));
}

/* A new block holding a copy of text; NULL when it cannot be allocated. */
static char *SharedTextNew(const char *text)
{
   size_t length = strlen(text);
   ZbSharedText *block = (ZbSharedText *)malloc(offsetof(ZbSharedText, text) + length + 1);
   if (block == nullptr)
      return nullptr;
   block->users = 1;
   memcpy(block->text, text, length + 1);
   return block->text;
}

static void SharedTextRelease(char *text)
{
   if (text != nullptr && --SharedBlock(text)->users == 0)
      free(SharedBlock(text));
}

void ZbMibExtraFree(ZbMibExtra *extra)
{
   if (extra == nullptr)
      return;
   SharedTextRelease(extra->module);
   free(extra->textualConvention);
   free(extra->displayHint);
   free(extra->units);
   for (uint32_t i = 0; i < extra->enumCount; i++)
      free(extra->enums[i].label);
   free(extra->enums);
   for (uint32_t i = 0; i < extra->indexCount; i++)
      free(extra->indexNames[i]);
   free(extra->indexNames);
   free(extra);
}

ZbMibExtra *ZbMibExtraGet(ZbMibExtra **slot)
{
   if (*slot == nullptr)
      *slot = (ZbMibExtra *)calloc(1, sizeof(ZbMibExtra));
   return *slot;
}

/* Replaces a text field with a copy of text (made before the old one is
   released: text may be the field's own); NULL removes the field. */
static void SetText(ZbMibExtra **slot, char *ZbMibExtra::*field, const char *text)
{
   if (text == nullptr && *slot == nullptr)
      return;
   ZbMibExtra *extra = ZbMibExtraGet(slot);
   if (extra == nullptr)
      return;
   char *copy = zb_strdup(text);
   free(extra->*field);
   extra->*field = copy;
}

const char *SNMP_MIBObject::Module() const
{
   return (m_extra != nullptr) ? m_extra->module : nullptr;
}

void SNMP_MIBObject::SetModule(const char *module)
{
   if (module == nullptr && m_extra == nullptr)
      return;
   ZbMibExtra *extra = ZbMibExtraGet(&m_extra);
   if (extra == nullptr)
      return;
   char *copy = (module != nullptr) ? SharedTextNew(module) : nullptr;   /* before the release */
   if (module != nullptr && copy == nullptr)
      return;
   SharedTextRelease(extra->module);
   extra->module = copy;
}

int ZbMibShareModule(ZbMibExtra **slot, const char *module)
{
   if (module == nullptr && *slot == nullptr)
      return 1;
   ZbMibExtra *extra = ZbMibExtraGet(slot);
   if (extra == nullptr)
      return 0;
   char *shared = nullptr;
   if (module != nullptr)
   {
      ZbSharedText *block = SharedBlock(module);
      if (block->users == UINT32_MAX)
      {
         shared = SharedTextNew(module);   /* a count that would overflow: a copy of its own */
         if (shared == nullptr)
            return 0;
      }
      else
      {
         block->users++;
         shared = block->text;
      }
   }
   SharedTextRelease(extra->module);
   extra->module = shared;
   return 1;
}

const char *SNMP_MIBObject::TextualConvention() const
{
   return (m_extra != nullptr) ? m_extra->textualConvention : nullptr;
}

void SNMP_MIBObject::SetTextualConvention(const char *name)
{
   SetText(&m_extra, &ZbMibExtra::textualConvention, name);
}

const char *SNMP_MIBObject::DisplayHint() const
{
   return (m_extra != nullptr) ? m_extra->displayHint : nullptr;
}

void SNMP_MIBObject::SetDisplayHint(const char *hint)
{
   SetText(&m_extra, &ZbMibExtra::displayHint, hint);
}

const char *SNMP_MIBObject::Units() const
{
   return (m_extra != nullptr) ? m_extra->units : nullptr;
}

void SNMP_MIBObject::SetUnits(const char *units)
{
   SetText(&m_extra, &ZbMibExtra::units, units);
}

uint32_t SNMP_MIBObject::FixedLength() const
{
   return (m_extra != nullptr) ? m_extra->fixedLength : 0;
}

void SNMP_MIBObject::SetFixedLength(uint32_t length)
{
   if (length == 0 && m_extra == nullptr)
      return;
   ZbMibExtra *extra = ZbMibExtraGet(&m_extra);
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

/* Makes room for one more element of an array that grows by doubling. */
/* First capacity: most enumerations and indexes fit, so a loaded tree does
   not reallocate its arrays element by element. */
#define MIB_ARRAY_FIRST_CAPACITY 8u

static int Grow(void **array, uint32_t count, size_t elementSize)
{
   if (count >= 0x7FFFFFFF)
      return 0;
   /* The capacity is 8, 16, 32, ...: room is left unless count is one of them. */
   if (count != 0 && (count < MIB_ARRAY_FIRST_CAPACITY || (count & (count - 1)) != 0))
      return 1;
   uint32_t capacity = (count == 0) ? MIB_ARRAY_FIRST_CAPACITY : count * 2;
   void *grown = realloc(*array, (size_t)capacity * elementSize);
   if (grown == nullptr)
      return 0;
   *array = grown;
   return 1;
}

int ZbMibAddEnumTaking(ZbMibExtra **slot, int32_t value, char *label)
{
   ZbMibExtra *extra = (label != nullptr) ? ZbMibExtraGet(slot) : nullptr;
   if (extra == nullptr || !Grow((void **)&extra->enums, extra->enumCount, sizeof(ZbMibEnum)))
   {
      free(label);
      return 0;
   }
   extra->enums[extra->enumCount].value = value;
   extra->enums[extra->enumCount].label = label;
   extra->enumCount++;
   return 1;
}

int SNMP_MIBObject::AddEnum(int32_t value, const char *label)
{
   if (label == nullptr)
      return 0;
   char *copy = zb_strdup(label);
   return (copy != nullptr) ? ZbMibAddEnumTaking(&m_extra, value, copy) : 0;
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

int ZbMibAddIndexTaking(ZbMibExtra **slot, char *name)
{
   ZbMibExtra *extra = (name != nullptr) ? ZbMibExtraGet(slot) : nullptr;
   if (extra == nullptr || !Grow((void **)&extra->indexNames, extra->indexCount, sizeof(char *)))
   {
      free(name);
      return 0;
   }
   extra->indexNames[extra->indexCount++] = name;
   return 1;
}

int SNMP_MIBObject::AddIndex(const char *name)
{
   if (name == nullptr)
      return 0;
   char *copy = zb_strdup(name);
   return (copy != nullptr) ? ZbMibAddIndexTaking(&m_extra, copy) : 0;
}

void SNMP_MIBObject::SetIndexImplied(bool implied)
{
   if (!implied && m_extra == nullptr)
      return;
   ZbMibExtra *extra = ZbMibExtraGet(&m_extra);
   if (extra != nullptr)
      extra->indexImplied = implied;
}
