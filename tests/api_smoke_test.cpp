// The public API through the shared library's exports alone.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "zbsnmp.h"

TEST(ApiSmoke, ExportsAreUsable)
{
   EXPECT_STREQ(SNMPGetErrorText(SNMP_RC_TIMEOUT), "Request timed out");
   EXPECT_EQ(SNMPResolveDataType("counter64"), (uint32_t)ASN_TYPE_COUNTER64);
   uint32_t ids[16];
   EXPECT_EQ(SNMPParseOID(".1.3.6.1", ids, 16), 4u);
   EXPECT_EQ(SNMPIsCorrectOID("1.3"), 1);
   EXPECT_EQ(STANDARD_TRAP_OIDS[3][9], 4u);
   EXPECT_EQ(STANDARD_TRAP_PREFIX[8], 5u);

   SNMP_PDU pdu(SNMP_CMD_GET_REQUEST, "public", 1, SNMP_VERSION_2C);
   pdu.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.1.0"));
   uint8_t *buf = nullptr;
   uint32_t n = pdu.Encode(&buf);
   ASSERT_GT(n, 0u);
   SNMP_PDU back;
   EXPECT_EQ(back.Parse(buf, n), 1);
   free(buf);
   EXPECT_STREQ(back.GetVariable(0)->GetName()->GetValueAsText(), ".1.3.6.1.2.1.1.1.0");

   SNMP_UDPTransport transport;
   EXPECT_EQ(transport.CreateUDPTransport(nullptr, 0, 161), (uint32_t)SNMP_RC_BAD_HOSTNAME);
   EXPECT_EQ(transport.ConnectUDPTransport("fe80::1%lo", 161), (uint32_t)SNMP_RC_BAD_HOSTNAME);
   EXPECT_EQ(transport.AcknowledgeInform(&pdu, nullptr, 0), -1);
   EXPECT_EQ(transport.SendTo(&pdu, nullptr, 0), -1);

   SNMP_PDU bulk(SNMP_CMD_GET_BULK_REQUEST, "public", 2, SNMP_VERSION_2C, 0, 25);
   EXPECT_EQ(bulk.GetMaxRepetitions(), 25u);
   EXPECT_EQ(back.GetVariable(0)->GetName()->CompareOrder(pdu.GetVariable(0)->GetName()), 0);
   SNMP_Walker walker(&transport, SNMP_VERSION_2C, "public");
   EXPECT_EQ(walker.SetMaxRepetitions(0), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_EQ(walker.Start(ids, 4), (uint32_t)SNMP_RC_SUCCESS);

   SNMP_MIBObject root;
   root.AddChild(new SNMP_MIBObject(1, "iso"));
   EXPECT_STREQ(root.FindChildByID(1)->Name(), "iso");
}

TEST(ApiSmoke, SecurityIdentityIsUsable)
{
   EXPECT_STREQ(SNMPGetErrorText(SNMP_RC_WRONG_DIGEST), "Wrong digest (authentication failed)");
   SNMP_USMIdentity id("monitor");
   EXPECT_STREQ(id.GetUser(), "monitor");
   EXPECT_EQ(id.GetSecurityLevel(), (uint32_t)SNMP_SEC_NO_AUTH_NO_PRIV);
   uint32_t expected = SNMPIsSecurityAvailable() ? SNMP_RC_SUCCESS : SNMP_RC_SECURITY_UNAVAILABLE;
   EXPECT_EQ(id.SetAuthPassword(SNMP_AUTH_SHA256, "authpass1234"), expected);
   EXPECT_EQ(id.SetPrivPassword(SNMP_PRIV_AES128, "privpass5678"), expected);
   EXPECT_EQ(id.SetSecurityLevel(SNMP_SEC_AUTH_PRIV), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(id.SetContextName("bridge1"), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_STREQ(id.GetContextName(), "bridge1");
   uint32_t length = 99;
   id.GetEngineId(&length);
   EXPECT_EQ(length, 0u);
   const uint8_t engine[] = {0x80, 0x00, 0x1f, 0x88, 0x04, 'z', 'b'};
   EXPECT_EQ(id.SetEngineId(engine, sizeof(engine)), (uint32_t)SNMP_RC_SUCCESS);
   id.GetEngineId(&length);
   EXPECT_EQ(length, sizeof(engine));
   id.ForgetEngine();
   id.GetEngineId(&length);
   EXPECT_EQ(length, 0u);
}

TEST(ApiSmoke, SecurityWiringIsUsable)
{
   EXPECT_STREQ(SNMPGetErrorText(SNMP_RC_ENCRYPTED_UNANSWERED),
                "Encrypted request unanswered (wrong privacy password or method?)");
   SNMP_PDU pdu(SNMP_CMD_GET_REQUEST, nullptr, 1, SNMP_VERSION_3);
   EXPECT_EQ(pdu.GetSecurityLevel(), 0u);
   EXPECT_STREQ(pdu.GetUser(), "");
   EXPECT_STREQ(pdu.GetContextName(), "");
   uint32_t length = 9;
   EXPECT_EQ(pdu.GetEngineId(&length), nullptr);
   EXPECT_EQ(length, 0u);
   EXPECT_EQ(pdu.GetContextEngineId(&length), nullptr);
   EXPECT_EQ(pdu.GetMessageId(), 0u);

   SNMP_UDPTransport transport;
   SNMP_PDU *response = nullptr;
   EXPECT_EQ(transport.DoRequest(&pdu, &response, 100, 1), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   SNMP_USMIdentity id("monitor");
   transport.SetSecurity(&id);
   EXPECT_EQ(transport.GetSecurity(), &id);
   EXPECT_EQ(transport.AddUser(&id), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(transport.AddUser(&id), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   transport.RemoveUser(&id);
   const uint8_t engine[] = {0x80, 0x00, 0x00, 0x00, 0x04, 'z', 'b'};
   EXPECT_EQ(transport.SetLocalEngine(engine, sizeof(engine), 3), (uint32_t)SNMP_RC_SUCCESS);
   EXPECT_EQ(transport.SetLocalEngine(engine, 4, 3), (uint32_t)SNMP_RC_BAD_PARAMETERS);
   EXPECT_NE(transport.GetLocalEngineId(&length), nullptr);
   EXPECT_EQ(length, sizeof(engine));
   EXPECT_EQ(transport.GetLocalEngineBoots(), 3u);
   EXPECT_LT(transport.GetLocalEngineTime(), 5u);
   EXPECT_EQ(transport.GetSecurityStatus(), (uint32_t)SNMP_RC_SUCCESS);
}
