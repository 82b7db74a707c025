// The polling benchmark's Net-SNMP client: every agent of a target file at
// once through libnetsnmp's asynchronous API, the way its example for many
// hosts uses it (a session per agent, snmp_async_send, one select loop with
// snmp_read and snmp_timeout), with the large descriptor-set calls so that
// more than FD_SETSIZE sessions work.
//
// usage: netsnmp_poll -f TARGETS [-t TIMEOUT_MS] [-r ATTEMPTS] [-o json] OID...
//        netsnmp_poll -f TARGETS --walk [-Cr N] [-t TIMEOUT_MS] [-r ATTEMPTS] [-o json] OID
// Prints one JSON line per binding and one per failed agent (poll_json.h).
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/select.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/large_fd_set.h>

#include <string>
#include <vector>

#include "poll_json.h"

namespace {

struct Host
{
   PollTarget target;
   std::string peer;       // "udp:HOST:PORT" for snmp_open
   netsnmp_session *session = nullptr;
   std::vector<oid> next;  // walk: where the next GETBULK starts
};

PollOptions g_options;
std::vector<oid> g_root;  // walk: the subtree
std::vector<std::vector<oid>> g_oids;
int g_active = 0;
std::string g_out;

void Flush(bool force)
{
   if (force || g_out.size() > (1 << 20))
   {
      fwrite(g_out.data(), 1, g_out.size(), stdout);
      g_out.clear();
   }
}

std::string OidText(const oid *name, size_t len)
{
   std::string s;
   char buf[16];
   for (size_t i = 0; i < len; i++)
   {
      snprintf(buf, sizeof(buf), ".%lu", (unsigned long)name[i]);
      s += buf;
   }
   return s;
}

void EmitBinding(const Host *h, const netsnmp_variable_list *v)
{
   char buf[64];
   const char *type = nullptr;
   std::string value;
   switch (v->type)
   {
      case ASN_INTEGER:
         type = "INTEGER";
         snprintf(buf, sizeof(buf), "%ld", *v->val.integer);
         value = buf;
         break;
      case ASN_OCTET_STR:
         PollOctets(v->val.string, v->val_len, &type, &value);
         break;
      case ASN_OBJECT_ID:
         type = "OID";
         value = OidText(v->val.objid, v->val_len / sizeof(oid));
         break;
      case ASN_IPADDRESS:
         if (v->val_len == 4)
         {
            type = "IpAddress";
            snprintf(buf, sizeof(buf), "%u.%u.%u.%u", v->val.string[0], v->val.string[1],
                     v->val.string[2], v->val.string[3]);
            value = buf;
         }
         break;
      case ASN_COUNTER:
      case ASN_GAUGE:
      case ASN_TIMETICKS:
         type = v->type == ASN_COUNTER ? "Counter32" : v->type == ASN_GAUGE ? "Gauge32" : "Timeticks";
         snprintf(buf, sizeof(buf), "%lu", (unsigned long)(uint32_t)*v->val.integer);
         value = buf;
         break;
      case ASN_COUNTER64:
         type = "Counter64";
         snprintf(buf, sizeof(buf), "%llu",
                  ((unsigned long long)v->val.counter64->high << 32) | v->val.counter64->low);
         value = buf;
         break;
      case ASN_NULL:
         type = "NULL";
         break;
      case SNMP_NOSUCHOBJECT:
         type = "noSuchObject";
         break;
      case SNMP_NOSUCHINSTANCE:
         type = "noSuchInstance";
         break;
      case SNMP_ENDOFMIBVIEW:
         type = "endOfMibView";
         break;
      default:
         break;
   }
   if (type == nullptr)
   {
      snprintf(buf, sizeof(buf), "0x%02X", v->type);
      type = buf;
      PollHex(v->val.string, v->val_len, &value);
   }
   PollJsonBinding(&g_out, h->target.agent, OidText(v->name, v->name_length), type, value);
   Flush(false);
}

void Finish(Host *h, const char *error)
{
   if (error != nullptr)
      PollJsonError(&g_out, h->target.agent, error);
   g_active--;
}

int Response(int op, netsnmp_session *, int, netsnmp_pdu *pdu, void *magic);

bool SendBulk(Host *h)
{
   netsnmp_pdu *req = snmp_pdu_create(SNMP_MSG_GETBULK);
   req->non_repeaters = 0;
   req->max_repetitions = (long)g_options.repetitions;
   snmp_add_null_var(req, h->next.data(), h->next.size());
   if (snmp_async_send(h->session, req, Response, h) == 0)
   {
      snmp_free_pdu(req);
      return false;
   }
   return true;
}

bool InSubtree(const netsnmp_variable_list *v)
{
   return v->name_length > g_root.size() &&
          snmp_oid_ncompare(v->name, v->name_length, g_root.data(), g_root.size(), g_root.size()) == 0;
}

int Response(int op, netsnmp_session *, int, netsnmp_pdu *pdu, void *magic)
{
   Host *h = static_cast<Host *>(magic);
   if (op == NETSNMP_CALLBACK_OP_RESEND)
      return 1;  // a retransmission: the request is still on
   if (op == NETSNMP_CALLBACK_OP_TIMED_OUT)
   {
      Finish(h, "timeout");
      return 1;
   }
   if (op != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE)
   {
      Finish(h, "send failed");
      return 1;
   }
   if (pdu->errstat != SNMP_ERR_NOERROR)
   {
      Finish(h, snmp_errstring(pdu->errstat));
      return 1;
   }
   if (!g_options.walk)
   {
      for (netsnmp_variable_list *v = pdu->variables; v != nullptr; v = v->next_variable)
         EmitBinding(h, v);
      Finish(h, nullptr);
      return 1;
   }
   // The walk goes on from the last binding while the answer stays in the
   // subtree and the agent has more.
   netsnmp_variable_list *last = nullptr;
   const oid *prev = h->next.data();
   size_t prevLen = h->next.size();
   for (netsnmp_variable_list *v = pdu->variables; v != nullptr; v = v->next_variable)
   {
      if (v->type == SNMP_ENDOFMIBVIEW || v->type == SNMP_NOSUCHOBJECT ||
          v->type == SNMP_NOSUCHINSTANCE || !InSubtree(v))
      {
         Finish(h, nullptr);
         return 1;
      }
      if (snmp_oid_compare(v->name, v->name_length, prev, prevLen) <= 0)
      {
         Finish(h, "OID not increasing");
         return 1;
      }
      EmitBinding(h, v);
      last = v;
      prev = v->name;
      prevLen = v->name_length;
   }
   if (last == nullptr)
   {
      Finish(h, nullptr);
      return 1;
   }
   h->next.assign(last->name, last->name + last->name_length);
   if (!SendBulk(h))
      Finish(h, "send failed");
   return 1;
}

std::vector<oid> ToOid(const std::vector<uint32_t> &ids)
{
   return std::vector<oid>(ids.begin(), ids.end());
}

}  // namespace

int main(int argc, char **argv)
{
   std::string error;
   std::vector<PollTarget> targets;
   if (!PollParseArgs(argc, argv, &g_options, &error) || !PollReadTargets(g_options.file, &targets, &error))
   {
      fprintf(stderr, "netsnmp_poll: %s\n", error.c_str());
      return 2;
   }
   for (const std::vector<uint32_t> &ids : g_options.oids)
      g_oids.push_back(ToOid(ids));
   if (g_options.walk)
      g_root = g_oids[0];

   // A descriptor per session.
   struct rlimit rl;
   if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max)
   {
      rl.rlim_cur = rl.rlim_max;
      setrlimit(RLIMIT_NOFILE, &rl);
   }

   netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
   netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
   netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
   init_snmp("netsnmp_poll");

   std::vector<Host> hosts(targets.size());
   for (size_t i = 0; i < targets.size(); i++)
   {
      Host &h = hosts[i];
      h.target = targets[i];
      h.peer = (h.target.agent[0] == '[' ? "udp6:" : "udp:") + h.target.agent;
      netsnmp_session s;
      snmp_sess_init(&s);
      s.version = SNMP_VERSION_2c;
      s.peername = &h.peer[0];
      s.community = (u_char *)&h.target.community[0];
      s.community_len = h.target.community.size();
      s.timeout = (long)g_options.timeoutMs * 1000;
      s.retries = (int)g_options.attempts - 1;
      g_active++;
      h.session = snmp_open(&s);
      if (h.session == nullptr)
      {
         Finish(&h, "open failed");
         continue;
      }
      if (g_options.walk)
      {
         h.next = g_root;
         if (!SendBulk(&h))
            Finish(&h, "send failed");
         continue;
      }
      netsnmp_pdu *req = snmp_pdu_create(SNMP_MSG_GET);
      for (const std::vector<oid> &o : g_oids)
         snmp_add_null_var(req, o.data(), o.size());
      if (snmp_async_send(h.session, req, Response, &h) == 0)
      {
         snmp_free_pdu(req);
         Finish(&h, "send failed");
      }
   }

   netsnmp_large_fd_set fdset;
   netsnmp_large_fd_set_init(&fdset, (int)targets.size() + 64);
   while (g_active > 0)
   {
      int fds = 0, block = 1;
      struct timeval timeout;
      NETSNMP_LARGE_FD_ZERO(&fdset);
      snmp_select_info2(&fds, &fdset, &timeout, &block);
      int n = netsnmp_large_fd_set_select(fds, &fdset, nullptr, nullptr, block ? nullptr : &timeout);
      if (n > 0)
         snmp_read2(&fdset);
      else if (n == 0)
         snmp_timeout();
      else if (errno != EINTR)
      {
         perror("netsnmp_poll: select");
         return 1;
      }
   }
   netsnmp_large_fd_set_cleanup(&fdset);
   snmp_close_sessions();
   Flush(true);
   return 0;
}
