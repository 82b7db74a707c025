/* SNMP_MIBObject: nodes of an in-memory MIB tree. */
#include "mib_node.h"

#include <stdio.h>
#include <string.h>

#include <new>
#include <utility>
#include <vector>

void SNMP_MIBObject::Initialize()
{
   m_parent = m_next = m_prev = m_firstChild = m_lastChild = nullptr;
   m_extra = nullptr;
   m_storage = 0;
}

/* A heap node is an ordinary block of its own, so that a leak checker sees
   the caller's pointer to it as the block's start (a tree kept until exit is
   still reachable, not possibly lost). An arena node has its arena in the
   word before it. The destructor runs before operator delete, and the
   destroyed object may no longer be read, so the destructor leaves here the
   node it finished if that node lives in an arena; the operator delete that
   follows releases the arena instead of freeing the node. Every destructor
   writes it, so nothing stale lingers from a node destroyed without delete. */
static thread_local SNMP_MIBObject *g_arenaNodeGoing = nullptr;

void *SNMP_MIBObject::operator new(size_t size)
{
   return ::operator new(size);
}

void *SNMP_MIBObject::operator new(size_t size, const std::nothrow_t &) noexcept
{
   return ::operator new(size, std::nothrow);
}

void SNMP_MIBObject::operator delete(void *node) noexcept
{
   if (node == nullptr)
      return;
   if (node == g_arenaNodeGoing)
   {
      g_arenaNodeGoing = nullptr;
      /* The word before the node lies in the arena, outside the object. */
      ZbMibArenaRelease((ZbMibArena *)((void **)node)[-1]);
   }
   else
   {
      ::operator delete(node);
   }
}

void SNMP_MIBObject::operator delete(void *node, const std::nothrow_t &) noexcept
{
   operator delete(node);
}

SNMP_MIBObject *ZbMibAccess::NewNode(ZbMibArena *arena)
{
   void **slot = (void **)ZbMibArenaObject(arena, sizeof(void *) + sizeof(SNMP_MIBObject));
   if (slot == nullptr)
      return nullptr;
   slot[0] = arena;
   SNMP_MIBObject *node = new (slot + 1) SNMP_MIBObject();
   node->m_storage = ZB_MIB_IN_ARENA;
   arena->users++;
   return node;
}

SNMP_MIBObject::SNMP_MIBObject()
{
   Initialize();
   m_oid = 0;
   m_name = m_description = nullptr;
   m_type = m_status = m_access = -1;
}

SNMP_MIBObject::SNMP_MIBObject(uint32_t oid, const char *name)
{
   Initialize();
   m_oid = oid;
   m_name = zb_strdup(name);
   m_description = nullptr;
   m_type = m_status = m_access = -1;
}

SNMP_MIBObject::SNMP_MIBObject(uint32_t oid, const char *name, int type, int status, int access,
                               const char *description)
{
   Initialize();
   m_oid = oid;
   m_name = zb_strdup(name);
   m_description = zb_strdup(description);
   m_type = type;
   m_status = status;
   m_access = access;
}

SNMP_MIBObject::~SNMP_MIBObject()
{
   /* Iterative: a node's children are spliced into the walk before it is
      deleted childless, so no depth of tree can overflow the stack. */
   SNMP_MIBObject *node = m_firstChild;
   while (node != nullptr)
   {
      SNMP_MIBObject *next;
      if (node->m_firstChild != nullptr)
      {
         node->m_lastChild->m_next = node->m_next;
         next = node->m_firstChild;
         node->m_firstChild = node->m_lastChild = nullptr;
      }
      else
      {
         next = node->m_next;
      }
      delete node;
      node = next;
   }
   /* What lives in an arena goes with the arena. */
   if (!(m_storage & ZB_MIB_NAME_IN_ARENA))
      free(m_name);
   if (!(m_storage & ZB_MIB_DESCRIPTION_IN_ARENA))
      free(m_description);
   if (!(m_storage & ZB_MIB_EXTRA_IN_ARENA))
      ZbMibExtraFree(m_extra);
   /* Last, after the children's deletes, which set it for themselves. */
   g_arenaNodeGoing = (m_storage & ZB_MIB_IN_ARENA) ? this : nullptr;
}

void SNMP_MIBObject::SetName(const char *name)
{
   char *copy = zb_strdup(name); /* before freeing: name may be our own text */
   if (!(m_storage & ZB_MIB_NAME_IN_ARENA))
      free(m_name);
   m_name = copy;
   m_storage &= ~(uint32_t)ZB_MIB_NAME_IN_ARENA;
}

void SNMP_MIBObject::SetInfo(int type, int status, int access, const char *description)
{
   char *copy = zb_strdup(description);
   if (!(m_storage & ZB_MIB_DESCRIPTION_IN_ARENA))
      free(m_description);
   m_description = copy;
   m_storage &= ~(uint32_t)ZB_MIB_DESCRIPTION_IN_ARENA;
   m_type = type;
   m_status = status;
   m_access = access;
}

void SNMP_MIBObject::AddChild(SNMP_MIBObject *child)
{
   if (m_lastChild == nullptr)
   {
      m_firstChild = m_lastChild = child;
   }
   else
   {
      m_lastChild->m_next = child;
      child->m_prev = m_lastChild;
      child->m_next = nullptr;
      m_lastChild = child;
   }
   child->m_parent = this;
}

SNMP_MIBObject *SNMP_MIBObject::FindChildByID(uint32_t oid)
{
   for (SNMP_MIBObject *c = m_firstChild; c != nullptr; c = c->m_next)
      if (c->m_oid == oid)
         return c;
   return nullptr;
}

void SNMP_MIBObject::Print(int indent)
{
   try
   {
      /* Depth first, parent before children; an explicit stack keeps deep trees
         off the call stack. */
      std::vector<std::pair<SNMP_MIBObject *, int>> stack;
      stack.emplace_back(this, indent);
      while (!stack.empty())
      {
         SNMP_MIBObject *node = stack.back().first;
         int level = stack.back().second;
         stack.pop_back();
         if (level == 0 && node->m_name == nullptr && node->m_oid == 0)
            printf("[root]\n");
         else
            printf("%*s%s(%u)\n", level, "", node->m_name != nullptr ? node->m_name : "(null)",
                   (unsigned)node->m_oid);
         for (SNMP_MIBObject *c = node->m_lastChild; c != nullptr; c = c->m_prev)
            stack.emplace_back(c, level + 2);
      }
   }
   catch (const std::bad_alloc &)
   {
      /* No memory for the walk: the printout ends where it stopped. */
   }
}
