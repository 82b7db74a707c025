#include "targets.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "internal.h"

const FuzzTarget kFuzzTargets[6] = {
   {"pdu", FuzzPdu}, {"variable", FuzzVariable}, {"oid", FuzzOid},
   {"mib", FuzzMib}, {"transport", FuzzTransport}, {"v3", FuzzV3},
};

static bool SameOid(SNMP_ObjectId *a, SNMP_ObjectId *b)
{
   if (a == nullptr || b == nullptr)
      return a == b;
   return a->Length() == b->Length() &&
          (a->Length() == 0 || memcmp(a->GetValue(), b->GetValue(), a->Length() * 4) == 0);
}

static void CheckSameVariable(SNMP_Variable *a, SNMP_Variable *b)
{
   CHECK(SameOid(a->GetName(), b->GetName()));
   CHECK(a->GetType() == b->GetType());
   // A NULL that arrived with content octets goes out empty.
   if (a->GetType() == ASN_TYPE_NULL)
      return;
   CHECK(a->GetValueLength() == b->GetValueLength());
   if (a->GetValueLength() > 0)
      CHECK(memcmp(a->GetValue(), b->GetValue(), a->GetValueLength()) == 0);
}

// Copies the input into an exact-size heap block so that reads past it are caught.
static std::vector<uint8_t> Exact(const uint8_t *data, size_t size)
{
   return std::vector<uint8_t>(data, data + size);
}

int FuzzPdu(const uint8_t *data, size_t size)
{
   if (size > 0xFFFFFFFF)
      return 0;
   std::vector<uint8_t> in = Exact(data, size);
   SNMP_PDU pdu;
   if (!pdu.Parse(in.data(), (uint32_t)in.size()))
      return 0;
   char buf[64];
   for (uint32_t i = 0; i < pdu.GetNumVariables(); i++)
   {
      SNMP_Variable *v = pdu.GetVariable(i);
      v->GetValueAsString(buf, sizeof(buf));
      v->GetValueAsIPAddr(buf);
      v->GetValueAsMACAddr(buf);
      delete v->GetValueAsObjectId();
      v->GetName()->GetValueAsText();
   }
   uint8_t *out = nullptr;
   uint32_t n = pdu.Encode(&out);
   bool bulk = pdu.GetCommand() == SNMP_CMD_GET_BULK_REQUEST;
   bool inform = pdu.GetCommand() == SNMP_CMD_INFORM_REQUEST;
   if (n == 0)
   {
      // Only what SNMPv1 lacks (GETBULK, InformRequest) and GETBULK fields
      // beyond 0..2147483647 stay unencoded.
      CHECK((bulk || inform) && (pdu.GetVersion() == SNMP_VERSION_1 ||
                                 (bulk && (pdu.GetNonRepeaters() > 0x7FFFFFFF ||
                                           pdu.GetMaxRepetitions() > 0x7FFFFFFF))));
      return 0;
   }
   if (inform)
   {
      // The acknowledgement: a Response with the inform's id and bindings, no error.
      uint8_t *ack = nullptr;
      uint32_t ackLength = ZbPduAccess::EncodeInformResponse(&pdu, &ack);
      CHECK(ackLength > 0);
      SNMP_PDU response;
      CHECK(response.Parse(ack, ackLength) == 1);
      free(ack);
      CHECK(response.GetCommand() == SNMP_CMD_RESPONSE);
      CHECK(response.GetRequestId() == pdu.GetRequestId());
      CHECK(response.GetErrorCode() == 0 && response.GetErrorIndex() == 0);
      CHECK(response.GetNumVariables() == pdu.GetNumVariables());
      for (uint32_t i = 0; i < pdu.GetNumVariables(); i++)
         CheckSameVariable(pdu.GetVariable(i), response.GetVariable(i));
   }
   SNMP_PDU again;
   int ok = again.Parse(out, n);
   free(out);
   // Informs carry their notification as SNMPv2 traps do.
   bool isTrap = pdu.GetCommand() == SNMP_CMD_TRAP || inform;
   // The PDU tag of the input, behind version and community (the message
   // parsed, so its elements read again).
   BerCursor c = {in.data(), (uint32_t)in.size()}, msg, field;
   uint32_t type, tag = 0;
   BerGetElement(&c, &type, &msg);
   BerGetElement(&msg, &type, &field);
   BerGetElement(&msg, &type, &field);
   BerGetElement(&msg, &tag, &field);
   // A trap whose PDU tag does not match its version goes out in the other
   // layout: only its encoding is required.
   bool tagMatches = !isTrap || inform ||
                     (tag == ASN_PDU_TRAP && pdu.GetVersion() == SNMP_VERSION_1) ||
                     (tag == ASN_PDU_TRAP2 && pdu.GetVersion() == SNMP_VERSION_2C);
   if (!tagMatches)
      return 0;
   CHECK(ok == 1);
   CHECK(again.GetVersion() == pdu.GetVersion());
   CHECK(again.GetCommand() == pdu.GetCommand());
   CHECK(strcmp(again.GetCommunity(), pdu.GetCommunity()) == 0);
   if (!(isTrap && pdu.GetVersion() == SNMP_VERSION_1))
   {
      CHECK(again.GetRequestId() == pdu.GetRequestId());
      CHECK(again.GetErrorCode() == pdu.GetErrorCode());
      CHECK(again.GetErrorIndex() == pdu.GetErrorIndex());
   }
   if (isTrap)
   {
      CHECK(again.GetTrapType() == pdu.GetTrapType());
      CHECK(again.GetSpecificTrapType() == pdu.GetSpecificTrapType());
      // An SNMPv1 trap that is not one of the six standard ones goes out with
      // enterprise.0.specific as its enterprise: it is not restored.
      bool standard = pdu.GetTrapType() >= 0 && pdu.GetTrapType() <= 5;
      if (pdu.GetVersion() != SNMP_VERSION_1 || standard)
         CHECK(SameOid(again.GetTrapId(), pdu.GetTrapId()));
   }
   CHECK(again.GetNumVariables() == pdu.GetNumVariables());
   for (uint32_t i = 0; i < pdu.GetNumVariables(); i++)
      CheckSameVariable(pdu.GetVariable(i), again.GetVariable(i));
   return 0;
}

int FuzzVariable(const uint8_t *data, size_t size)
{
   if (size > 0xFFFFFFFF)
      return 0;
   std::vector<uint8_t> in = Exact(data, size);
   SNMP_Variable var;
   if (!var.Parse(in.data(), (uint32_t)in.size()))
      return 0;
   std::vector<uint8_t> out(size + 64 + var.GetValueLength() * 2 + var.GetName()->Length() * 6);
   uint32_t n = var.Encode(out.data(), (uint32_t)out.size());
   CHECK(n >= 2);
   CHECK(var.Encode(out.data(), n - 1) == 0);  // it needs every octet it reports
   // Skip the binding's SEQUENCE header.
   uint32_t hdr = (out[1] & 0x80) ? 2 + (out[1] & 0x7F) : 2;
   SNMP_Variable again;
   CHECK(again.Parse(out.data() + hdr, n - hdr) == 1);
   CheckSameVariable(&var, &again);
   return 0;
}

int FuzzOid(const uint8_t *data, size_t size)
{
   std::string text((const char *)data, size);
   text = text.c_str();  // up to the first NUL, as a C caller would pass it
   uint32_t ids[128];
   uint32_t n = SNMPParseOID(text.c_str(), ids, 128);
   CHECK(SNMPIsCorrectOID(text.c_str()) == (n != 0 ? 1 : 0));
   if (n == 0)
   {
      const uint32_t one[] = {1};
      SNMP_ObjectId oid(1, one);
      CHECK(oid.Compare(text.c_str()) == OID_CMP_ERROR);
      return 0;
   }
   SNMP_ObjectId oid(n, ids);
   CHECK(oid.Compare(text.c_str()) == OID_CMP_EQUAL);
   CHECK(oid.Compare(ids, n) == OID_CMP_EQUAL);
   // The text form parses back to the same value.
   uint32_t back[128];
   CHECK(SNMPParseOID(oid.GetValueAsText(), back, 128) == n);
   CHECK(memcmp(back, ids, n * 4) == 0);
   if (n > 1)
   {
      CHECK(oid.Compare(ids, n - 1) == OID_CMP_LONGER);
      SNMP_ObjectId shorter(n - 1, ids);
      CHECK(shorter.Compare(text.c_str()) == OID_CMP_SHORTER);
   }
   uint32_t changed[128];
   memcpy(changed, ids, n * 4);
   changed[n - 1] ^= 1;
   CHECK(oid.Compare(changed, n) == OID_CMP_DIFFERENT);
   return 0;
}

static std::string TempPath(const char *what)
{
   const char *dir = getenv("TMPDIR");
   std::string d = (dir != nullptr && *dir) ? dir : "/tmp";
   return d + "/zbsnmp-fuzz-" + std::to_string((long)getpid()) + "-" + what;
}

static const char *Text(const char *s)
{
   return s != nullptr ? s : "";
}

static void CheckSameTree(SNMP_MIBObject *a, SNMP_MIBObject *b)
{
   std::vector<std::pair<SNMP_MIBObject *, SNMP_MIBObject *>> stack = {{a, b}};
   while (!stack.empty())
   {
      auto [x, y] = stack.back();
      stack.pop_back();
      CHECK(x->OID() == y->OID());
      // Texts are C strings; an empty one is written as length 0 and reads back as none.
      CHECK(strcmp(Text(x->Name()), Text(y->Name())) == 0);
      CHECK(strcmp(Text(x->Description()), Text(y->Description())) == 0);
      // Attributes travel as one byte: a field the file left out (-1) comes back as 255.
      CHECK((x->Type() & 0xFF) == (y->Type() & 0xFF));
      CHECK((x->Status() & 0xFF) == (y->Status() & 0xFF));
      CHECK((x->Access() & 0xFF) == (y->Access() & 0xFF));
      CHECK(strcmp(Text(x->Module()), Text(y->Module())) == 0);
      CHECK(strcmp(Text(x->TextualConvention()), Text(y->TextualConvention())) == 0);
      CHECK(strcmp(Text(x->DisplayHint()), Text(y->DisplayHint())) == 0);
      CHECK(strcmp(Text(x->Units()), Text(y->Units())) == 0);
      CHECK(x->FixedLength() == y->FixedLength());
      CHECK(x->EnumCount() == y->EnumCount());
      for (uint32_t i = 0; i < x->EnumCount(); i++)
         CHECK(x->EnumValue(i) == y->EnumValue(i) && strcmp(x->EnumLabel(i), y->EnumLabel(i)) == 0);
      CHECK(x->IndexCount() == y->IndexCount());
      for (uint32_t i = 0; i < x->IndexCount(); i++)
         CHECK(strcmp(x->IndexName(i), y->IndexName(i)) == 0);
      CHECK(x->IsIndexImplied() == y->IsIndexImplied());
      SNMP_MIBObject *cx = x->FirstChild(), *cy = y->FirstChild();
      for (; cx != nullptr && cy != nullptr; cx = cx->Next(), cy = cy->Next())
         stack.push_back({cx, cy});
      CHECK(cx == nullptr && cy == nullptr);
   }
}

int FuzzMib(const uint8_t *data, size_t size)
{
   // First byte: flags of the header (with the optional-fields flag, a
   // version-2 file); the rest: the body.
   if (size < 1)
      return 0;
   uint8_t flags = data[0] & (MIB_SAVE_COMPRESS | MIB_SAVE_NO_DESCRIPTIONS | MIB_FILE_OPTIONAL_FIELDS);
   uint8_t version = (flags & MIB_FILE_OPTIONAL_FIELDS) ? 2 : 1;
   std::vector<uint8_t> file = {'Z', 'B', 'M', 'I', 'B', ' ', 16, version, 0, flags, 0, 0, 0, 0, 0, 0};
   file.insert(file.end(), data + 1, data + size);
   std::string path = TempPath("in"), saved = TempPath("out");
   FILE *f = fopen(path.c_str(), "wb");
   if (f == nullptr)
      return 0;
   fwrite(file.data(), 1, file.size(), f);
   fclose(f);
   SNMP_MIBObject *root = nullptr;
   uint32_t rc = SNMPLoadMIBTree(path.c_str(), &root);
   remove(path.c_str());
   CHECK(rc == SNMP_RC_SUCCESS || rc == SNMP_RC_BAD_FILE_DATA);
   if (rc != SNMP_RC_SUCCESS)
   {
      CHECK(root == nullptr);
      return 0;
   }
   CHECK(SNMPSaveMIBTree(saved.c_str(), root, flags & MIB_SAVE_COMPRESS) == SNMP_RC_SUCCESS);
   SNMP_MIBObject *again = nullptr;
   CHECK(SNMPLoadMIBTree(saved.c_str(), &again) == SNMP_RC_SUCCESS);
   remove(saved.c_str());
   CheckSameTree(root, again);
   delete root;
   delete again;
   return 0;
}

// What Read must give for one datagram taken alone: its size or a failure
// when it exceeds the buffer, else the size of the whole SEQUENCE element it
// begins with, or 0 when it begins with none. Octets after the element do
// not count.
static int ExpectedRead(const uint8_t *datagram, size_t size, uint32_t bufferSize)
{
   if (size > bufferSize)
      return -1;
   BerCursor c = {datagram, (uint32_t)size}, message;
   uint32_t type;
   if (!BerGetElement(&c, &type, &message) || type != ASN_TYPE_SEQUENCE)
      return 0;
   return (int)(size - c.left);
}

int FuzzTransport(const uint8_t *data, size_t size)
{
#ifdef _WIN32
   (void)data;
   (void)size;
   return 0;
#else
   // Datagrams: a two-byte big-endian length, then that many bytes (cut at the end).
   int fds[2];
   if (socketpair(AF_UNIX, SOCK_DGRAM, 0, fds) != 0)
      return 0;
   int sndbuf = 1 << 20;
   setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof(sndbuf));
   SNMP_UDPTransport transport(fds[0]);
   struct Sent
   {
      const uint8_t *bytes;
      size_t size;
   };
   std::vector<Sent> sent;
   std::vector<uint8_t> big;
   size_t pos = 0;
   while (pos + 2 <= size && sent.size() < 64)
   {
      size_t len = ((size_t)data[pos] << 8) | data[pos + 1];
      pos += 2;
      if (len > size - pos)
         len = size - pos;
      Sent d = {data + pos, len};
      // Lengths of 0xFxxx stand for an oversized datagram of filler.
      if ((data[pos - 2] & 0xF0) == 0xF0)
      {
         big.assign(33000 + len, 0x30);
         d = {big.data(), big.size()};
         len = 0;
      }
      if (send(fds[1], d.bytes, d.size, MSG_DONTWAIT) < 0)
         break;
      if (d.bytes == big.data())
         d.bytes = nullptr;  // filler: never parsed
      sent.push_back(d);
      pos += len;
   }
   // Each datagram is taken alone, in order; then nothing is left.
   for (size_t i = 0; i <= sent.size(); i++)
   {
      SNMP_PDU *marker = (SNMP_PDU *)&transport;  // untouched unless a message came
      SNMP_PDU *pdu = marker;
      int n = transport.Read(&pdu, 0, nullptr, nullptr);
      CHECK(transport.GetBytesHeld() == 0 && transport.GetStartOffset() == 0);
      int expected = 0;
      if (i < sent.size())
         expected = sent[i].bytes == nullptr
                        ? -1
                        : ExpectedRead(sent[i].bytes, sent[i].size, transport.GetBufferSize());
      CHECK(n == expected || (expected < 0 && n < 0));
      if (n <= 0)
      {
         CHECK(pdu == marker);
         continue;
      }
      // The message parses in the transport exactly as it does alone.
      SNMP_PDU alone;
      CHECK((pdu != nullptr) == (alone.Parse(sent[i].bytes, (uint32_t)n) != 0));
      delete pdu;
   }
   close(fds[1]);
   return 0;
#endif
}
