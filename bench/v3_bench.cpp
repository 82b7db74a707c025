// SNMPv3, libzbsnmp beside Net-SNMP's libnetsnmp in the same process, at
// authPriv with SHA-256 and AES-128: the codec (20 bindings; encode of a
// GET, decode of its Response: digest checked, scopedPDU decrypted, PDU
// parsed) and GET exchanges per second against snmpd (DoRequest against
// snmp_synch_response on the same user).
//   zbsnmp_v3_bench [--short]
#include <benchmark/benchmark.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "bench_util.h"
#include "security/v3_pdu.h"
#include "snmpd_agent.h"

static const uint8_t kEngine[] = {0x80, 0x00, 0x1f, 0x88, 0x80, 0x5a, 0x62, 0x65, 0x6e, 0x63, 0x68};
static const char kUser[] = "benchuser", kAuthPass[] = "authpass1234", kPrivPass[] = "privpass5678";

static std::string Name(int i)
{
   return ".1.3.6.1.2.1.2.2.1." + std::to_string(i % 2 ? 10 : 2) + "." + std::to_string(i / 2 + 1);
}

// ---- ours ----

static void MakeIdentity(SNMP_USMIdentity *id)
{
   id->SetUser(kUser);
   id->SetAuthPassword(SNMP_AUTH_SHA256, kAuthPass);
   id->SetPrivPassword(SNMP_PRIV_AES128, kPrivPass);
   id->SetSecurityLevel(SNMP_SEC_AUTH_PRIV);
   id->SetEngineId(kEngine, sizeof(kEngine));
   ZbUsmEngineAccept(&ZbUsmAccess::Data(id)->peer.engine, 1, 100, 0);
}

// As a transport sends it: the PDU element, then the v3 message around it.
static uint32_t OursEncode(SNMP_PDU *pdu, ZbUsmIdentityData *id, uint8_t **out)
{
   uint8_t *element = nullptr;
   uint32_t n = ZbPduAccess::EncodeElement(pdu, &element), length = 0;
   ZbV3EncodeRequest(id, nullptr, 4711, 65507, element, n, 0, out, &length);
   free(element);
   return length;
}

// As DoRequest takes it in: the checks and decryption, then the PDU.
static int OursDecode(const std::vector<uint8_t> &wire, ZbUsmIdentityData *id)
{
   ZbV3Received r;
   if (ZbV3Receive(id, nullptr, wire.data(), (uint32_t)wire.size(), 0, &r) != SNMP_RC_SUCCESS)
      return 0;
   SNMP_PDU *pdu = ZbV3MakePdu(r.message, r.scoped);
   ZbV3ReceivedFree(&r);
   bool made = (pdu != nullptr);
   delete pdu;
   return made;
}

// ---- Net-SNMP ----

static netsnmp_session *g_session;

// A Net-SNMP session of the user at authPriv with SHA-256 and AES-128, the
// passwords made into keys.
static bool SetUser(netsnmp_session *s, const char *user)
{
   snmp_sess_init(s);
   s->version = SNMP_VERSION_3;
   s->securityName = (char *)user;
   s->securityNameLen = strlen(user);
   s->securityLevel = SNMP_SEC_LEVEL_AUTHPRIV;
   s->securityAuthProto = usmHMAC192SHA256AuthProtocol;
   s->securityAuthProtoLen = OID_LENGTH(usmHMAC192SHA256AuthProtocol);
   s->securityAuthKeyLen = USM_AUTH_KU_LEN;
   s->securityPrivProto = usmAESPrivProtocol;
   s->securityPrivProtoLen = OID_LENGTH(usmAESPrivProtocol);
   s->securityPrivKeyLen = USM_PRIV_KU_LEN;
   return generate_Ku(s->securityAuthProto, s->securityAuthProtoLen, (const u_char *)kAuthPass,
                      strlen(kAuthPass), s->securityAuthKey,
                      &s->securityAuthKeyLen) == SNMPERR_SUCCESS &&
          generate_Ku(s->securityAuthProto, s->securityAuthProtoLen, (const u_char *)kPrivPass,
                      strlen(kPrivPass), s->securityPrivKey,
                      &s->securityPrivKeyLen) == SNMPERR_SUCCESS;
}

static bool NetSnmpOpen()
{
   setenv("MIBS", "", 1);
   netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
   netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
   init_snmp("zbsnmpv3bench");
   netsnmp_session s;
   if (!SetUser(&s, kUser))
      return false;
   s.peername = (char *)"127.0.0.1:9";  // never sent to
   s.securityEngineID = (u_char *)kEngine;
   s.securityEngineIDLen = sizeof(kEngine);
   s.contextEngineID = (u_char *)kEngine;
   s.contextEngineIDLen = sizeof(kEngine);
   s.engineBoots = 1;
   s.engineTime = 100;
   s.flags |= SNMP_FLAGS_DONT_PROBE;
   g_session = snmp_open(&s);
   return g_session != nullptr;
}

static netsnmp_pdu *TheirsRequest()
{
   netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_GET);
   for (int i = 0; i < 20; i++)
   {
      oid name[MAX_OID_LEN];
      size_t length = MAX_OID_LEN;
      read_objid(Name(i).c_str(), name, &length);
      snmp_add_null_var(pdu, name, length);
   }
   // What snmp_send would fill in from the session before building.
   pdu->version = SNMP_VERSION_3;
   pdu->reqid = pdu->msgid = 4711;
   pdu->securityModel = SNMP_SEC_MODEL_USM;
   pdu->securityLevel = SNMP_SEC_LEVEL_AUTHPRIV;
   pdu->securityName = strdup(kUser);
   pdu->securityNameLen = strlen(kUser);
   pdu->securityEngineID = (u_char *)netsnmp_memdup(kEngine, sizeof(kEngine));
   pdu->securityEngineIDLen = sizeof(kEngine);
   pdu->contextEngineID = (u_char *)netsnmp_memdup(kEngine, sizeof(kEngine));
   pdu->contextEngineIDLen = sizeof(kEngine);
   pdu->contextName = strdup("");
   pdu->contextNameLen = 0;
   return pdu;
}

static int TheirsEncode(netsnmp_pdu *pdu)
{
   size_t len = 4096, offset = 0;
   u_char *buf = (u_char *)malloc(len);
   int rc = snmp_build(&buf, &len, &offset, g_session, pdu);
   free(buf);
   if (rc != 0 && getenv("ZBSNMP_BENCH_DEBUG"))
      fprintf(stderr, "snmp_build: %s\n", snmp_api_errstring(g_session->s_snmp_errno));
   return rc == 0;
}

static int TheirsDecode(const std::vector<uint8_t> &wire)
{
   std::vector<uint8_t> copy = wire;  // snmp_parse may write into its input
   netsnmp_pdu *pdu = (netsnmp_pdu *)calloc(1, sizeof(netsnmp_pdu));
   int rc = snmp_parse(nullptr, g_session, pdu, copy.data(), copy.size());
   snmp_free_pdu(pdu);
   return rc == 0;
}

// ---- GET exchanges against snmpd ----

static const char kAgentUser[] = "v3sha256_aes";  // tests/snmpd-v3.conf: SHA-256, AES-128

static netsnmp_session *TheirsSession(uint16_t port)
{
   netsnmp_session s;
   if (!SetUser(&s, kAgentUser))
      return nullptr;
   std::string peer = "udp:127.0.0.1:" + std::to_string(port);
   s.peername = (char *)peer.c_str();
   s.timeout = 1000000;
   s.retries = 2;
   return snmp_open(&s);  // discovers the engine
}

// Both sides keep their session across rounds: engine discovery and key
// localisation happen once, before the timing, for both.
static void Exchanges(bool quick)
{
   printf("\n## SNMPv3 GET exchanges against snmpd: authPriv SHA-256/AES-128 (user %s)\n\n",
          kAgentUser);
   printf("| measurement | libzbsnmp | Net-SNMP | ratio |\n|---|---|---|---|\n");
   SnmpdAgent agent;
   if (!agent.Start(false, std::string(ZBSNMP_SOURCE_DIR) + "/tests/snmpd-v3.conf"))
   {
      printf("| exchanges | skipped: snmpd did not start | | |\n");
      return;
   }
   SNMP_USMIdentity id(kAgentUser);
   id.SetAuthPassword(SNMP_AUTH_SHA256, kAuthPass);
   id.SetPrivPassword(SNMP_PRIV_AES128, kPrivPass);
   id.SetSecurityLevel(SNMP_SEC_AUTH_PRIV);
   SNMP_UDPTransport transport;
   transport.ConnectUDPTransport("127.0.0.1", agent.Port());
   transport.SetSecurity(&id);
   netsnmp_session *session = TheirsSession(agent.Port());
   static const uint32_t name[] = {1, 3, 6, 1, 2, 1, 1, 1, 0};
   static const oid theirName[] = {1, 3, 6, 1, 2, 1, 1, 1, 0};
   uint32_t requestId = 1;
   bool oursOk = true, theirsOk = session != nullptr;
   ExchangeSide ours = [&](uint32_t count, std::vector<double> *lat) {
      for (uint32_t i = 0; i < count && oursOk; i++)
      {
         auto t0 = std::chrono::steady_clock::now();
         SNMP_PDU req(SNMP_CMD_GET_REQUEST, nullptr, ++requestId, SNMP_VERSION_3);
         req.BindVariable(new SNMP_Variable(name, 9));
         SNMP_PDU *resp = nullptr;
         oursOk = transport.DoRequest(&req, &resp, 1000, 3) == SNMP_RC_SUCCESS;
         delete resp;
         if (oursOk)
            lat->push_back(Seconds(std::chrono::steady_clock::now() - t0));
      }
   };
   ExchangeSide theirs = [&](uint32_t count, std::vector<double> *lat) {
      for (uint32_t i = 0; i < count && theirsOk; i++)
      {
         auto t0 = std::chrono::steady_clock::now();
         netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_GET);
         snmp_add_null_var(pdu, theirName, 9);
         netsnmp_pdu *resp = nullptr;
         theirsOk = snmp_synch_response(session, pdu, &resp) == STAT_SUCCESS;
         if (resp)
            snmp_free_pdu(resp);
         if (theirsOk)
            lat->push_back(Seconds(std::chrono::steady_clock::now() - t0));
      }
   };
   std::vector<double> warm;
   ours(1, &warm);  // discovery
   if (!oursOk || !theirsOk)
   {
      printf("| exchanges | failed before the timing (ours %d, Net-SNMP %d) | | |\n", oursOk, theirsOk);
   }
   else
   {
      ExchangeRows(agent.Pid(), ours, theirs, quick ? 2000 : 20000, quick ? 2 : 10);
   }
   if (session)
      snmp_close(session);
   agent.Stop();
}

int main(int argc, char **argv)
{
   bool quick = argc > 1 && !strcmp(argv[1], "--short");
   if (!SNMPIsSecurityAvailable())
   {
      printf("built without libcrypto: no SNMPv3 benchmark\n");
      return 0;
   }
   if (!NetSnmpOpen())
   {
      fprintf(stderr, "Net-SNMP v3 session did not open\n");
      return 1;
   }
   SNMP_USMIdentity sender, receiver;
   MakeIdentity(&sender);
   MakeIdentity(&receiver);

   SNMP_PDU request(SNMP_CMD_GET_REQUEST, nullptr, 4711, SNMP_VERSION_3);
   SNMP_PDU response(SNMP_CMD_RESPONSE, nullptr, 4711, SNMP_VERSION_3);
   for (int i = 0; i < 20; i++)
   {
      request.BindVariable(new SNMP_Variable(Name(i).c_str()));
      SNMP_Variable *v = new SNMP_Variable(Name(i).c_str());
      if (i % 2)
         v->SetValueFromString(ASN_TYPE_COUNTER32, std::to_string(1234567 * (i + 1)).c_str());
      else
         v->SetValueFromString(ASN_TYPE_OCTET_STRING,
                               ("GigabitEthernet0/" + std::to_string(i)).c_str());
      response.BindVariable(v);
   }
   uint8_t *out = nullptr;
   uint32_t n = OursEncode(&response, ZbUsmAccess::Data(&sender), &out);
   std::vector<uint8_t> wire(out, out + n);
   free(out);
   netsnmp_pdu *theirs = TheirsRequest();
   int checks[3] = {OursDecode(wire, ZbUsmAccess::Data(&receiver)), TheirsDecode(wire),
                    TheirsEncode(theirs)};
   if (!checks[0] || !checks[1] || !checks[2])
   {
      fprintf(stderr,
              "a codec step failed before the benchmark (ours decode %d, Net-SNMP decode %d, "
              "encode %d)\n",
              checks[0], checks[1], checks[2]);
      return 1;
   }

   ZbUsmIdentityData *s = ZbUsmAccess::Data(&sender), *r = ZbUsmAccess::Data(&receiver);
   benchmark::RegisterBenchmark("v3 encode/ours", [&](benchmark::State &st) {
      for (auto _ : st)
      {
         uint8_t *o = nullptr;
         benchmark::DoNotOptimize(OursEncode(&request, s, &o));
         free(o);
      }
   });
   benchmark::RegisterBenchmark("v3 encode/netsnmp", [&](benchmark::State &st) {
      for (auto _ : st)
         benchmark::DoNotOptimize(TheirsEncode(theirs));
   });
   benchmark::RegisterBenchmark("v3 decode/ours", [&](benchmark::State &st) {
      for (auto _ : st)
         benchmark::DoNotOptimize(OursDecode(wire, r));
   });
   benchmark::RegisterBenchmark("v3 decode/netsnmp", [&](benchmark::State &st) {
      for (auto _ : st)
         benchmark::DoNotOptimize(TheirsDecode(wire));
   });
   Collector collector;
   RunBenchmarks(argv[0], quick, &collector);

   printf("\n## SNMPv3 codec: authPriv SHA-256/AES-128, 20 bindings (%u-octet Response)\n\n",
          (unsigned)wire.size());
   printf("| operation | libzbsnmp ns | Net-SNMP ns | ratio |\n|---|---|---|---|\n");
   double sumOurs = 0, sumTheirs = 0;
   for (const char *op : {"encode", "decode"})
   {
      double a = collector.nsPerOp[std::string("v3 ") + op + "/ours"];
      double b = collector.nsPerOp[std::string("v3 ") + op + "/netsnmp"];
      sumOurs += a;
      sumTheirs += b;
      printf("| %s | %.0f | %.0f | %.2fx |\n", op, a, b, a > 0 ? b / a : 0.0);
   }
   printf("| encode + decode | %.0f | %.0f | %.2fx |\n", sumOurs, sumTheirs,
          sumOurs > 0 ? sumTheirs / sumOurs : 0.0);
   snmp_free_pdu(theirs);
   snmp_close(g_session);
   Exchanges(quick);
   return 0;
}
