/*
 * libzbsnmp - manager side of SNMP v1, v2c and v3 (USM) over UDP (IPv4 and IPv6), and MIB
 * tree files.
 *
 * Ownership: objects are created with new and deleted by their owner; raw
 * buffers and strings live on the malloc heap and are released with free.
 * None of the classes can be copied or assigned.
 *
 * Errors and memory: no exception leaves the library. Every allocation made
 * inside it is checked (malloc, or new (std::nothrow)), and where the library
 * uses standard containers the exported call catches std::bad_alloc at its
 * boundary. An allocation failure fails the call the way bad input fails it,
 * with the result that each call documents:
 *  - Parse returns 0 (the caller deletes the object, as after any failed
 *    parse); Encode returns 0, with nothing allocated and the slot untouched;
 *  - a transport's Read drops the message;
 *  - calls that return a status code return their documented code
 *    (SNMPLoadMIBTree: SNMP_RC_BAD_FILE_DATA, with the partial tree freed);
 *  - GetValueAsObjectId returns NULL;
 *  - constructors and setters leave the value that bad input gives: an empty
 *    OID, name or string, 0.0 for an OID value set from text, no community
 *    (such a PDU does not encode); Extend leaves the OID as it was, and
 *    BindVariable deletes the variable that it cannot bind;
 *  - GetValueAsText gives the empty text when the text cannot be built.
 */
#ifndef ZBSNMP_H
#define ZBSNMP_H

#include <stddef.h>
#include <stdint.h>

#include <new>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
typedef SOCKET SNMP_SOCKET;
#define SNMP_INVALID_SOCKET INVALID_SOCKET
#else
#include <sys/socket.h>
typedef int SNMP_SOCKET;
#define SNMP_INVALID_SOCKET (-1)
#endif

#if defined(_WIN32)
#if defined(ZBSNMP_STATIC)
#define ZBSNMP_API
#elif defined(ZBSNMP_BUILDING_LIBRARY)
#define ZBSNMP_API __declspec(dllexport)
#else
#define ZBSNMP_API __declspec(dllimport)
#endif
#else
#define ZBSNMP_API __attribute__((visibility("default")))
#endif

#define ZBSNMP_VERSION_STRING "2.0.0"

/* Status codes */
#define SNMP_RC_SUCCESS          0
#define SNMP_RC_TIMEOUT          1
#define SNMP_RC_BAD_PARAMETERS   2
#define SNMP_RC_SOCKET_ERROR     3
#define SNMP_RC_COMM_ERROR       4
#define SNMP_RC_PARSE_ERROR      5
#define SNMP_RC_NO_SUCH_OBJECT   6
#define SNMP_RC_BAD_HOSTNAME     7
#define SNMP_RC_BAD_OID          8
#define SNMP_RC_AGENT_ERROR      9
#define SNMP_RC_BAD_DATA_TYPE    10
#define SNMP_RC_FILE_IO_ERROR    11
#define SNMP_RC_BAD_FILE_HEADER  12
#define SNMP_RC_BAD_FILE_DATA    13
/* Status codes of SNMPv3: the agent's Reports (usmStats counters of RFC
   3414), and what else can go wrong */
#define SNMP_RC_UNKNOWN_ENGINE_ID      14  /* usmStatsUnknownEngineIDs, after discovery */
#define SNMP_RC_NOT_IN_TIME_WINDOW     15  /* usmStatsNotInTimeWindows, after re-synchronising */
#define SNMP_RC_UNKNOWN_USER_NAME      16  /* usmStatsUnknownUserNames */
#define SNMP_RC_WRONG_DIGEST           17  /* usmStatsWrongDigests */
#define SNMP_RC_DECRYPTION_ERROR       18  /* usmStatsDecryptionErrors */
#define SNMP_RC_UNSUPPORTED_SEC_LEVEL  19  /* usmStatsUnsupportedSecLevels */
#define SNMP_RC_REPORT                 20  /* any other Report */
#define SNMP_RC_SECURITY_UNAVAILABLE   21  /* method not in this build */
#define SNMP_RC_CANCELLED              22  /* the request engine: Cancel, or the engine destroyed */
#define SNMP_RC_ENCRYPTED_UNANSWERED   23  /* SNMPv3: the agent answered discovery, never an encrypted request */

/* Type codes: the whole BER identifier octet of a value */
#define ASN_TYPE_INTEGER         0x02
#define ASN_TYPE_OCTET_STRING    0x04
#define ASN_TYPE_NULL            0x05
#define ASN_TYPE_OBJECT_ID       0x06
#define ASN_TYPE_SEQUENCE        0x30
#define ASN_TYPE_IP_ADDRESS      0x40
#define ASN_TYPE_COUNTER32       0x41
#define ASN_TYPE_GAUGE32         0x42
#define ASN_TYPE_TIMETICKS       0x43
#define ASN_TYPE_OPAQUE          0x44
#define ASN_TYPE_COUNTER64       0x46
#define ASN_TYPE_UINTEGER32      0x47

/* SNMPv2 exception values (type codes of a variable's value) */
#define ASN_TYPE_NO_SUCH_OBJECT   0x80
#define ASN_TYPE_NO_SUCH_INSTANCE 0x81
#define ASN_TYPE_END_OF_MIB_VIEW  0x82

/* PDU tags */
#define ASN_PDU_GET_REQUEST      0xA0
#define ASN_PDU_GET_NEXT_REQUEST 0xA1
#define ASN_PDU_GET_RESPONSE     0xA2
#define ASN_PDU_SET_REQUEST      0xA3
#define ASN_PDU_TRAP             0xA4
#define ASN_PDU_GET_BULK_REQUEST 0xA5
#define ASN_PDU_INFORM_REQUEST   0xA6
#define ASN_PDU_TRAP2            0xA7

/* Commands */
#define SNMP_CMD_GET_REQUEST      0
#define SNMP_CMD_GET_NEXT_REQUEST 1
#define SNMP_CMD_RESPONSE         2
#define SNMP_CMD_SET_REQUEST      3
#define SNMP_CMD_TRAP             4
#define SNMP_CMD_GET_BULK_REQUEST 5   /* SNMPv2c and later */
#define SNMP_CMD_INFORM_REQUEST   6   /* SNMPv2c and later; parsed like an SNMPv2 trap */
#define SNMP_CMD_INVALID          255

/* Versions */
#define SNMP_VERSION_1            0
#define SNMP_VERSION_2C           1

/* Generic trap types */
#define SNMP_TRAP_COLD_START          0
#define SNMP_TRAP_WARM_START          1
#define SNMP_TRAP_LINK_DOWN           2
#define SNMP_TRAP_LINK_UP             3
#define SNMP_TRAP_AUTH_FAILURE        4
#define SNMP_TRAP_EGP_NEIGHBOR_LOSS   5
#define SNMP_TRAP_ENTERPRISE_SPECIFIC 6

/* Results of SNMP_ObjectId::Compare */
#define OID_CMP_EQUAL      0
#define OID_CMP_DIFFERENT  1
#define OID_CMP_LONGER     2
#define OID_CMP_SHORTER    3
#define OID_CMP_ERROR      (-1)

/* MIB tree file save flags */
#define MIB_SAVE_COMPRESS        0x0001
#define MIB_SAVE_NO_DESCRIPTIONS 0x0002
/* Header flag of format version 2: the body holds the nodes' optional fields
   (module, textual convention, named numbers, INDEX, ...). SNMPSaveMIBTree
   sets it itself when the tree has any and clears it otherwise, whatever the
   flags passed; a tree without optional fields saves as format version 1. */
#define MIB_FILE_OPTIONAL_FIELDS 0x0004
/* Save option, not a header flag (the header keeps the low 16 bits): with
   MIB_SAVE_COMPRESS, a body over 64 KiB is deflated in 64 KiB pieces on
   helper threads, one per core up to four, each piece primed with the 32 KiB
   before it. The body is still one zlib stream at level 9, which every
   inflater reads, and the file the same however many threads ran, but its
   compressed bytes differ from one deflate of the whole body (which a save
   without this option writes), and it is about 0.25 % larger. The helpers
   take no signals and are joined before the save returns. */
#define MIB_SAVE_PARALLEL_DEFLATE 0x00010000

/* The vocabulary of SNMP_MIBObject's type, access and status, as the MIB
   compiler fills them (-1 stays "not set"; a tree built by hand may use its
   own values). SNMPGetMIBTypeName and friends give the words of a MIB module
   ("OCTET STRING", "read-only", "current"), and SNMPResolveMIBType and friends
   read them back. */

/* Types: the kind of definition, for nodes that are not OBJECT-TYPEs... */
#define MIB_TYPE_OTHER                0   /* an OID registration without syntax */
#define MIB_TYPE_OBJECT_IDENTITY      1
#define MIB_TYPE_MODULE_IDENTITY      2
#define MIB_TYPE_OBJECT_GROUP         3
#define MIB_TYPE_NOTIFICATION_GROUP   4
#define MIB_TYPE_MODULE_COMPLIANCE    5
#define MIB_TYPE_AGENT_CAPABILITIES   6
#define MIB_TYPE_NOTIFICATION_TYPE    7
#define MIB_TYPE_TRAP_TYPE            8
#define MIB_TYPE_TABLE                9   /* SEQUENCE OF a row */
#define MIB_TYPE_ROW                  10  /* a table's conceptual row (has an INDEX) */
/* ...the SMI base type of an OBJECT-TYPE's syntax... */
#define MIB_TYPE_INTEGER              16  /* INTEGER, with or without enumeration */
#define MIB_TYPE_INTEGER32            17
#define MIB_TYPE_UNSIGNED32           18
#define MIB_TYPE_GAUGE32              19
#define MIB_TYPE_COUNTER32            20
#define MIB_TYPE_COUNTER64            21
#define MIB_TYPE_TIMETICKS            22
#define MIB_TYPE_OCTET_STRING         23
#define MIB_TYPE_OBJECT_ID            24
#define MIB_TYPE_IP_ADDRESS           25
#define MIB_TYPE_OPAQUE               26
#define MIB_TYPE_BITS                 27
#define MIB_TYPE_NETWORK_ADDRESS      28  /* SMIv1 */
#define MIB_TYPE_UINTEGER32           29  /* SMIv1 (RFC 1442) UInteger32 */
/* ...or one of the common textual conventions (the full name of any
   convention is in SNMP_MIBObject::TextualConvention) */
#define MIB_TYPE_DISPLAY_STRING       64  /* OCTET STRING */
#define MIB_TYPE_PHYS_ADDRESS         65  /* OCTET STRING */
#define MIB_TYPE_MAC_ADDRESS          66  /* OCTET STRING */
#define MIB_TYPE_TRUTH_VALUE          67  /* INTEGER */
#define MIB_TYPE_TEST_AND_INCR        68  /* INTEGER */
#define MIB_TYPE_AUTONOMOUS_TYPE      69  /* OBJECT IDENTIFIER */
#define MIB_TYPE_VARIABLE_POINTER     70  /* OBJECT IDENTIFIER */
#define MIB_TYPE_ROW_POINTER          71  /* OBJECT IDENTIFIER */
#define MIB_TYPE_ROW_STATUS           72  /* INTEGER */
#define MIB_TYPE_TIME_STAMP           73  /* TimeTicks */
#define MIB_TYPE_TIME_INTERVAL        74  /* INTEGER */
#define MIB_TYPE_DATE_AND_TIME        75  /* OCTET STRING */
#define MIB_TYPE_STORAGE_TYPE         76  /* INTEGER */
#define MIB_TYPE_TDOMAIN              77  /* OBJECT IDENTIFIER */
#define MIB_TYPE_TADDRESS             78  /* OCTET STRING */
#define MIB_TYPE_SNMP_ADMIN_STRING    79  /* OCTET STRING */
#define MIB_TYPE_INET_ADDRESS_TYPE    80  /* INTEGER */
#define MIB_TYPE_INET_ADDRESS         81  /* OCTET STRING */
#define MIB_TYPE_INTERFACE_INDEX      82  /* Integer32 */

/* Access */
#define MIB_ACCESS_NOT_ACCESSIBLE        0
#define MIB_ACCESS_ACCESSIBLE_FOR_NOTIFY 1
#define MIB_ACCESS_READ_ONLY             2
#define MIB_ACCESS_READ_WRITE            3
#define MIB_ACCESS_READ_CREATE           4
#define MIB_ACCESS_WRITE_ONLY            5   /* SMIv1 */

/* Status */
#define MIB_STATUS_CURRENT      0
#define MIB_STATUS_DEPRECATED   1
#define MIB_STATUS_OBSOLETE     2
#define MIB_STATUS_MANDATORY    3   /* SMIv1 */
#define MIB_STATUS_OPTIONAL     4   /* SMIv1 */

/* The word of a type, access or status code ("OCTET STRING", "read-only",
   "current"); NULL for a code outside the vocabulary. */
ZBSNMP_API const char *SNMPGetMIBTypeName(int type);
ZBSNMP_API const char *SNMPGetMIBAccessName(int access);
ZBSNMP_API const char *SNMPGetMIBStatusName(int status);
/* The code of a word (exact spelling, as above); -1 when unknown. */
ZBSNMP_API int SNMPResolveMIBType(const char *name);
ZBSNMP_API int SNMPResolveMIBAccess(const char *name);
ZBSNMP_API int SNMPResolveMIBStatus(const char *name);
/* The SMI base type under a type code: a textual convention gives the type
   of its syntax (MIB_TYPE_DISPLAY_STRING -> MIB_TYPE_OCTET_STRING), every
   other code itself. */
ZBSNMP_API int SNMPGetMIBBaseType(int type);
/* The BER type code (ASN_TYPE_...) of values of that type; ASN_TYPE_NULL for
   codes that have no values. */
ZBSNMP_API uint32_t SNMPGetMIBValueType(int type);

/* Standard trap identifiers 1.3.6.1.6.3.1.1.5.(generic + 1), indexed by
   the generic trap type, and their common prefix. */
extern ZBSNMP_API const uint32_t STANDARD_TRAP_OIDS[6][10];
extern ZBSNMP_API const uint32_t STANDARD_TRAP_PREFIX[9];

/* Status texts and type keywords */
ZBSNMP_API const char *SNMPGetErrorText(uint32_t errorCode);
ZBSNMP_API uint32_t SNMPResolveDataType(const char *typeName);

/* Object identifiers: dotted text with a leading dot, e.g. .1.3.6.1 */
ZBSNMP_API char *SNMPConvertOIDToText(uint32_t length, const uint32_t *value, char *buffer,
                                      uint32_t bufferSize);
ZBSNMP_API uint32_t SNMPParseOID(const char *text, uint32_t *buffer, uint32_t bufferSize);
ZBSNMP_API int SNMPIsCorrectOID(const char *text);

struct ZbOidAccess;
class ZFile;

/* Sub-identifiers an SNMP_ObjectId holds without a heap block of its own. */
#define SNMP_OID_INLINE_IDS 16
/* Value bytes an SNMP_Variable holds without a heap block of its own. */
#define SNMP_VALUE_INLINE_BYTES 40

class ZBSNMP_API SNMP_ObjectId
{
public:
   SNMP_ObjectId();
   SNMP_ObjectId(uint32_t length, const uint32_t *value);
   ~SNMP_ObjectId();
   SNMP_ObjectId(const SNMP_ObjectId &) = delete;
   SNMP_ObjectId &operator=(const SNMP_ObjectId &) = delete;

   uint32_t Length() const { return m_subIdCount; }
   const uint32_t *GetValue() const { return m_subIds; }
   /* The dotted text of the value; "(null)" for an object that never had one.
      The pointer stays valid until the value changes. */
   const char *GetValueAsText();

   int Compare(const char *text) const;
   int Compare(const uint32_t *value, uint32_t length) const;
   /* Total lexicographic order, sub-identifier by sub-identifier as unsigned
      numbers, a proper prefix first: -1, 0 or 1 as this OID sorts before,
      equal to or after the given one. An empty OID (or a NULL array) sorts
      before every other; the order never fails. This is the order in which
      an agent's GET-NEXT and GETBULK answers must increase. */
   int CompareOrder(const uint32_t *value, uint32_t length) const;
   int CompareOrder(const SNMP_ObjectId *other) const;
   void SetValue(const uint32_t *value, uint32_t length);
   void Extend(uint32_t subId);

private:
   friend struct ZbOidAccess;
   void ConvertToText();

   uint32_t m_subIdCount;
   uint32_t *m_subIds;   /* m_inline, a malloc block, or NULL when empty */
   char *m_text;         /* built on first use, dropped whenever the value changes */
   bool m_hasValue;      /* false only for a default-constructed, never-set object */
   uint32_t m_inline[SNMP_OID_INLINE_IDS];
};

class ZBSNMP_API SNMP_Variable
{
public:
   SNMP_Variable();
   SNMP_Variable(const char *name);
   SNMP_Variable(const uint32_t *name, uint32_t nameLen);
   ~SNMP_Variable();
   SNMP_Variable(const SNMP_Variable &) = delete;
   SNMP_Variable &operator=(const SNMP_Variable &) = delete;

   /* Parses the content octets of one variable-binding SEQUENCE. */
   int Parse(const uint8_t *data, uint32_t length);
   /* Writes the whole binding SEQUENCE; 0 when it does not fit. */
   uint32_t Encode(uint8_t *buffer, uint32_t bufferSize);

   SNMP_ObjectId *GetName() { return m_name; }
   uint32_t GetType() const { return m_type; }
   uint32_t GetValueLength() const { return m_valueLength; }
   const uint8_t *GetValue() const { return m_value; }

   uint32_t GetValueAsUInt();
   int32_t GetValueAsInt();
   char *GetValueAsString(char *buffer, uint32_t bufferSize);
   SNMP_ObjectId *GetValueAsObjectId();
   char *GetValueAsMACAddr(char *buffer);
   char *GetValueAsIPAddr(char *buffer);
   void SetValueFromString(uint32_t type, const char *value);

private:
   uint8_t *AllocValue(uint32_t size);
   void ReleaseValue();
   int SetRawValue(const void *data, uint32_t length);

   SNMP_ObjectId *m_name;   /* &m_nameStorage once the variable has a name */
   uint32_t m_type;
   uint32_t m_valueLength;
   uint8_t *m_value;        /* m_inlineValue, a malloc block, or NULL */
   SNMP_ObjectId m_nameStorage;
   alignas(8) uint8_t m_inlineValue[SNMP_VALUE_INLINE_BYTES];
};

/* One SNMP message.

   GETBULK (SNMP_CMD_GET_BULK_REQUEST): non-repeaters and max-repetitions
   travel in the places of error-status and error-index, and the accessors of
   either pair read and write the same two members. The message exists in
   SNMPv2c and later only: Encode returns 0 for a GETBULK of SNMPv1, and for
   non-repeaters or max-repetitions above 2147483647 (RFC 3416 bounds both to
   0..2147483647). A received GETBULK parses, whatever its version.

   InformRequest (SNMP_CMD_INFORM_REQUEST): parsed exactly like an SNMPv2
   trap, so GetTrapId, GetTrapType and GetSpecificTrapType are set the same
   way; an inform whose second binding is no trap identifier does not parse.
   The receiver answers it with SNMP_UDPTransport::AcknowledgeInform. Encode
   returns 0 for an inform of SNMPv1.

   SNMPv3 (SNMP_VERSION_3): a request of version 3 is sent by a transport
   that has an identity (SNMP_Transport::SetSecurity), which protects it;
   the community is not used, and Encode alone returns 0 for it. Version 3
   carries the PDUs of SNMPv2c (a trap goes as an SNMPv2 trap) and the
   Report (SNMP_CMD_REPORT). A PDU received in a v3 message has version 3,
   an empty community, and the message's facts through GetMessageId and
   the accessors behind it. */
class ZBSNMP_API SNMP_PDU
{
public:
   SNMP_PDU();
   SNMP_PDU(uint32_t command, const char *community, uint32_t requestId, uint32_t version);
   /* As above, with the two fields behind the request id: non-repeaters and
      max-repetitions for a GETBULK (error-status and error-index for the
      other commands). */
   SNMP_PDU(uint32_t command, const char *community, uint32_t requestId, uint32_t version,
            uint32_t nonRepeaters, uint32_t maxRepetitions);
   ~SNMP_PDU();
   SNMP_PDU(const SNMP_PDU &) = delete;
   SNMP_PDU &operator=(const SNMP_PDU &) = delete;

   int Parse(const uint8_t *data, uint32_t length);
   /* Encodes the message into a new malloc block stored in *buffer; returns its
      length, or 0 (slot untouched) when the PDU cannot be encoded. */
   uint32_t Encode(uint8_t **buffer);

   uint32_t GetVersion() const { return m_version; }
   uint32_t GetCommand() const { return m_command; }
   const char *GetCommunity() const { return m_community; }
   uint32_t GetRequestId() const { return m_requestId; }
   void SetRequestId(uint32_t id) { m_requestId = id; }
   uint32_t GetErrorCode() const { return m_errorCode; }
   uint32_t GetErrorIndex() const { return m_errorIndex; }
   /* GETBULK fields: the same members as error-status and error-index. */
   uint32_t GetNonRepeaters() const { return m_errorCode; }
   void SetNonRepeaters(uint32_t n) { m_errorCode = n; }
   uint32_t GetMaxRepetitions() const { return m_errorIndex; }
   void SetMaxRepetitions(uint32_t n) { m_errorIndex = n; }
   SNMP_ObjectId *GetTrapId() { return m_trapId; }
   int GetTrapType() const { return m_trapType; }
   int GetSpecificTrapType() const { return m_specificTrapType; }
   uint32_t GetNumVariables() const { return m_variableCount; }
   SNMP_Variable *GetVariable(uint32_t index)
   {
      return (index < m_variableCount) ? m_variables[index] : nullptr;
   }
   void BindVariable(SNMP_Variable *var);

   /* SNMPv3: what the message that carried a received PDU said (0, "" or
      length 0 for a PDU of version 1 or 2c, or one built to be sent). */
   uint32_t GetMessageId() const;      /* msgID */
   uint32_t GetSecurityLevel() const;  /* SNMP_SEC_..., the level the message came at */
   const char *GetUser() const;        /* the USM user name */
   /* The authoritative engine: the agent for responses and Reports, the
      sender for traps, the receiver (this listener) for informs. */
   const uint8_t *GetEngineId(uint32_t *length) const;
   const uint8_t *GetContextEngineId(uint32_t *length) const;
   const char *GetContextName() const;

private:
   friend struct ZbPduAccess;
   int ParseTagged(uint32_t tag, const uint8_t *content, uint32_t length, bool v3);
   uint32_t EncodeAs(uint8_t **buffer, uint32_t tag, uint32_t errorCode, uint32_t errorIndex,
                     bool elementOnly);
   int ParsePDU(const uint8_t *data, uint32_t length);
   int ParseTrapPDU(const uint8_t *data, uint32_t length);
   int ParseTrap2PDU(const uint8_t *data, uint32_t length);
   int ParseVarBinds(const uint8_t *data, uint32_t length);
   int ParseVariable(const uint8_t *data, uint32_t length);
   int Reserve(uint32_t capacity);

   uint32_t m_version;
   uint32_t m_command;
   char *m_community;
   uint32_t m_variableCount;
   uint32_t m_variableCapacity;
   SNMP_Variable **m_variables;
   SNMP_ObjectId *m_trapId;
   int32_t m_trapType;
   int32_t m_specificTrapType;
   uint32_t m_timeStamp;
   uint8_t m_agentAddress[4];
   uint32_t m_requestId;
   uint32_t m_errorCode;
   uint32_t m_errorIndex;
   /* Parsed variables live side by side in one block: m_slabUsed of its
      m_slabSize places, bound at m_slabFirst onwards; bound ones on their own. */
   SNMP_Variable *m_slab;
   uint32_t m_slabSize;
   uint32_t m_slabUsed;
   uint32_t m_slabFirst;
   struct ZbPduSecurity *m_security;   /* SNMPv3 facts of a received PDU, else NULL */
};

class SNMP_USMIdentity;

class ZBSNMP_API SNMP_Transport
{
public:
   SNMP_Transport() : m_identity(nullptr) {}
   virtual ~SNMP_Transport();
   SNMP_Transport(const SNMP_Transport &) = delete;
   SNMP_Transport &operator=(const SNMP_Transport &) = delete;

   /* > 0: size of the message taken in (*pdu holds it, or NULL when it did
      not parse); 0: no message; < 0: the receive failed. */
   virtual int Read(SNMP_PDU **pdu, uint32_t timeout, struct sockaddr *sender,
                    socklen_t *senderLen);
   /* > 0: bytes sent; 0: the PDU does not encode; < 0: the send failed. */
   virtual int Send(SNMP_PDU *pdu);

   /* Sends the request up to numRetries times, and after each send waits up
      to timeout ms (0xFFFFFFFF: no limit) for the message that carries the
      request's id. Messages with another id (late answers) are deleted and
      the wait goes on for what remains of that attempt's time-out.

      A request of SNMP_VERSION_3 travels with the transport's identity
      (SetSecurity; SNMP_RC_BAD_PARAMETERS without one, or when it lacks the
      user or the keys of its level; SNMP_RC_SECURITY_UNAVAILABLE when this
      build has no cryptography), at its level, and is matched by its msgID
      and request id. When the identity knows no
      engine yet, the agent's engine ID, boots and time are discovered
      first (RFC 3414 4), and a notInTimeWindow Report re-synchronises and
      sends once more: both within the attempts and time-outs given. The
      agent's Reports end the exchange with their codes
      (SNMP_RC_UNKNOWN_USER_NAME, SNMP_RC_WRONG_DIGEST,
      SNMP_RC_UNSUPPORTED_SEC_LEVEL, SNMP_RC_DECRYPTION_ERROR,
      SNMP_RC_UNKNOWN_ENGINE_ID after one new discovery,
      SNMP_RC_NOT_IN_TIME_WINDOW after the one re-synchronisation,
      SNMP_RC_REPORT for any other). An agent that answered discovery but
      never an encrypted request (snmpd drops what it cannot decrypt: a
      wrong privacy password or method) gives SNMP_RC_ENCRYPTED_UNANSWERED
      instead of SNMP_RC_TIMEOUT. A level below what the user's access
      needs is the agent's to refuse: it answers with the error-status
      authorizationError (16), which is the caller's to read, as every
      error-status is. The response has version 3 and the message's facts
      (SNMP_PDU::GetSecurityLevel, ...). msgMaxSize announces 32768 octets. */
   uint32_t DoRequest(SNMP_PDU *request, SNMP_PDU **response, uint32_t timeout,
                      uint32_t numRetries);

   /* The SNMPv3 identity that requests of version 3 travel with: lent (NULL:
      none), it must outlive its use here. The engine it learns is that of
      this transport's agent: one identity per agent (a copy of the same
      user for each), or ForgetEngine before it serves another. Requests of
      versions 1 and 2c are not touched by it. */
   void SetSecurity(SNMP_USMIdentity *identity) { m_identity = identity; }
   SNMP_USMIdentity *GetSecurity() const { return m_identity; }

protected:
   /* One message as raw octets, for SNMPv3, where the transport's Read and
      Send of PDUs cannot see the security around them. SendMessage: as
      Send. ReadMessage: as Read, but *data lends the message's octets
      (valid until the next call on the transport) instead of a PDU. The
      base class's do nothing and return -1; a transport of one's own that
      carries SNMPv3 overrides both. */
   virtual int SendMessage(const uint8_t *data, uint32_t length);
   virtual int ReadMessage(const uint8_t **data, uint32_t timeout, struct sockaddr *sender,
                           socklen_t *senderLen);

private:
   uint32_t DoRequestV3(SNMP_PDU *request, SNMP_PDU **response, uint32_t timeout,
                        uint32_t numRetries);

   SNMP_USMIdentity *m_identity;
};

/* SNMP over UDP, IPv4 or IPv6.

   An agent: CreateUDPTransport (IPv4 only: a name, dotted-decimal text, or
   an address in network order) or ConnectUDPTransport (either family).

   A listener: bind a socket of your own (AF_INET, or AF_INET6 for IPv6 and,
   with IPV6_V6ONLY off, dual-stack), hand it to the constructor and call
   Read in a loop with room for the sender's address. A struct
   sockaddr_storage holds a sender of either family; a struct sockaddr_in
   keeps serving a listener on an AF_INET socket as before (on an AF_INET6
   socket it is too small, and the address would be cut). Answer informs
   with AcknowledgeInform, giving it the sender and size Read filled in. */
class ZBSNMP_API SNMP_UDPTransport : public SNMP_Transport
{
public:
   SNMP_UDPTransport();
   SNMP_UDPTransport(SNMP_SOCKET socket);
   virtual ~SNMP_UDPTransport();

   uint32_t CreateUDPTransport(const char *hostName, uint32_t ipAddr, uint16_t port);
   /* Connects to an agent given by host name or address text, IPv4 or IPv6
      ("192.0.2.7", "2001:db8::7", "router.example"; no brackets, no port),
      at port (host order). family: AF_UNSPEC for both families, or AF_INET
      or AF_INET6 for one. A name is resolved with getaddrinfo; its addresses
      are tried in the order the system gives, and the first whose socket
      connects is kept. SNMP_RC_BAD_HOSTNAME (no socket made, the one held
      kept) for a name that does not resolve, a text with an IPv6 zone
      ("fe80::1%eth0"), brackets, blanks or other characters that no host
      text holds, an unspecified or broadcast address, or another family;
      SNMP_RC_SOCKET_ERROR when no address connects. */
   uint32_t ConnectUDPTransport(const char *host, uint16_t port, int family = AF_UNSPEC);

   /* Takes one datagram, which holds one message (octets after it are
      ignored). A datagram that is no whole SEQUENCE is dropped (0, *pdu not
      written); one larger than GetBufferSize() is a failure (< 0). The
      sender, when both sender and senderLen are given, is that datagram's. */
   virtual int Read(SNMP_PDU **pdu, uint32_t timeout, struct sockaddr *sender,
                    socklen_t *senderLen) override;
   virtual int Send(SNMP_PDU *pdu) override;
   /* Sends the PDU as one datagram to the given address over this
      transport's socket (for a listener's unconnected socket). Results as
      Send; negative also for a NULL address or no socket. */
   int SendTo(SNMP_PDU *pdu, const struct sockaddr *to, socklen_t toLen);
   /* Answers an InformRequest that Read delivered with the Response RFC 3416
      prescribes: the inform's version, community, request id and bindings,
      error-status 0 and error-index 0, sent to the inform's sender (the
      address and size Read filled in) over this transport's socket. Results
      as Send: 0 (nothing sent) when the PDU is no inform; negative for a
      NULL sender, no socket, or a failed send. Each call answers: a retry
      of an inform (the same request id) is acknowledged again. */
   int AcknowledgeInform(SNMP_PDU *inform, const struct sockaddr *sender, socklen_t senderLen);

   /* ---- SNMPv3 notifications ----
      A listener takes v3 traps and informs for the users added here. A
      trap's sender is the authoritative engine: an identity with an engine
      ID (SNMP_USMIdentity::SetEngineId, the sender's snmpEngineID) takes
      that engine's traps, and learns its boots and time from them. An
      inform's receiver is: the listener has a local engine of its own,
      which answers discovery, and identities without an engine ID take the
      informs sent to it (their keys localised for the local engine). A
      message comes at the identity's level or above (the level is the
      least one accepted; what the keys cannot check is refused). Read
      delivers what passes the checks as a PDU of version 3 (see SNMP_PDU);
      it answers a reportable message that fails them with the Report of
      RFC 3414 (unknownEngineIDs, unknownUserNames, unsupportedSecLevels,
      wrongDigests, notInTimeWindows, decryptionErrors), sent from this
      socket to its sender, and drops it (0, as a datagram that is no
      message; GetSecurityStatus tells why). AcknowledgeInform answers a
      v3 inform at its level, with its msgID, from the local engine.
      Identities are lent: they must outlive their use here, and one
      identity serves one thread at a time. */
   /* Adds an identity (SNMP_RC_BAD_PARAMETERS for NULL, one added already,
      or no memory). The first one added that matches a message serves it. */
   uint32_t AddUser(SNMP_USMIdentity *identity);
   void RemoveUser(SNMP_USMIdentity *identity);
   /* The local engine: its snmpEngineID (5 to 32 octets, RFC 3411) and
      snmpEngineBoots (1 .. 2147483646), with snmpEngineTime from 0 now. A
      program that keeps one engine ID across restarts must count its boots
      up each time. Without this call the engine is made when first
      needed: enterprise number 0 (no one's) in the RFC 3411 format, format
      5 (octets) and 8 random octets, 80 00 00 00 05 xx xx xx xx xx xx xx xx,
      boots 1: a new engine for every transport. SNMP_RC_BAD_PARAMETERS for
      values out of range. */
   uint32_t SetLocalEngine(const uint8_t *engineId, uint32_t length, uint32_t boots);
   /* The local engine's ID (made now if there is none yet), boots and time. */
   const uint8_t *GetLocalEngineId(uint32_t *length);
   uint32_t GetLocalEngineBoots() const;
   uint32_t GetLocalEngineTime() const;
   /* How the last Read fared with SNMPv3: SNMP_RC_SUCCESS when it took no
      v3 message, delivered one, or answered discovery (a message with an
      empty engine ID, RFC 3414 4); SNMP_RC_PARSE_ERROR for one that does
      not parse (Read gave NULL); otherwise why the message was dropped
      (SNMP_RC_UNKNOWN_USER_NAME, SNMP_RC_UNKNOWN_ENGINE_ID, ...). */
   uint32_t GetSecurityStatus() const;

   /* Receive-buffer state, for diagnostics and tests: each Read takes one
      datagram alone, so between calls nothing is held (both are 0). */
   uint32_t GetBufferSize() const { return m_bufferSize; }
   uint32_t GetBytesHeld() const { return m_bytesHeld; }
   uint32_t GetStartOffset() const { return m_startOffset; }
   SNMP_SOCKET GetSocket() const { return m_socket; }

protected:
   virtual int SendMessage(const uint8_t *data, uint32_t length) override;
   virtual int ReadMessage(const uint8_t **data, uint32_t timeout, struct sockaddr *sender,
                           socklen_t *senderLen) override;

private:
   int RecvData(uint32_t timeout, struct sockaddr *sender, socklen_t *senderLen);
   uint32_t PreParsePDU();
   void ClearBuffer();
   int ReadV3(SNMP_PDU **pdu, uint32_t total, const struct sockaddr *sender,
              socklen_t senderLen);
   struct ZbV3Listener *Listener();

   SNMP_SOCKET m_socket;
   uint32_t m_bufferSize;
   uint32_t m_bytesHeld;
   uint32_t m_startOffset;
   uint8_t *m_buffer;
   struct ZbV3Listener *m_listener;   /* SNMPv3 users and local engine; NULL until needed */
};

/* A walk of the subtree under one OID of one agent: GETBULK requests
   (SNMPv2c and later, the default) or GET-NEXT requests (SNMPv1 always, or
   on request), sent with DoRequest over any transport, handed out one
   binding at a time:

      SNMP_Walker walk(&transport, SNMP_VERSION_2C, "public");
      uint32_t rc = walk.Start(root, rootLength);
      SNMP_Variable *var = nullptr;
      while (rc == SNMP_RC_SUCCESS && (rc = walk.Next(&var)) == SNMP_RC_SUCCESS && var != nullptr)
         use(var);   // lent: valid until the next Next, Start or the walker's end
      // rc == SNMP_RC_SUCCESS: the walk is complete; otherwise it failed.

   Requests carry the version and community given to the constructor; of
   SNMP_VERSION_3 they travel with the transport's identity
   (SNMP_Transport::SetSecurity) and GETBULK, and the community is not used. Each binding of a response is handed out in turn, however many
   the response holds (an agent may answer a GETBULK with more than were
   asked for). The walk is complete, and Next gives SNMP_RC_SUCCESS with
   NULL from then on, at the first binding outside the subtree, at an
   endOfMibView, at an error-status noSuchName (the end of an SNMPv1
   agent's view), or at a response without bindings. It fails, and Next
   gives that code from then on, when DoRequest fails (its code), when the
   agent answers with another error-status (SNMP_RC_AGENT_ERROR, see
   GetErrorStatus), or when a binding's name does not follow the one before
   it in OID order (SNMP_RC_AGENT_ERROR with that binding in *var, error
   status 0): an agent that repeats itself never makes the walk loop. An
   error-status tooBig to a GETBULK halves max-repetitions and asks again,
   down to 1. */
class ZBSNMP_API SNMP_Walker
{
public:
   /* The transport is used, not owned; it must outlive the walker. */
   SNMP_Walker(SNMP_Transport *transport, uint32_t version, const char *community);
   ~SNMP_Walker();
   SNMP_Walker(const SNMP_Walker &) = delete;
   SNMP_Walker &operator=(const SNMP_Walker &) = delete;

   /* Max-repetitions of each GETBULK, 1 to 2147483647 (default 25);
      SNMP_RC_BAD_PARAMETERS, and the setting kept, for 0 or more. */
   uint32_t SetMaxRepetitions(uint32_t maxRepetitions);
   uint32_t GetMaxRepetitions() const { return m_maxRepetitions; }
   /* GET-NEXT requests instead of GETBULK ones. */
   void SetGetNext(bool getNext) { m_getNext = getNext; }
   /* Time-out of each attempt in milliseconds and number of attempts, as in
      DoRequest (default 1000 and 3). */
   void SetTimeout(uint32_t timeout, uint32_t attempts)
   {
      m_timeout = timeout;
      m_attempts = attempts;
   }
   /* Request id of the next request; each request takes the next one. */
   void SetRequestId(uint32_t requestId) { m_requestId = requestId; }

   /* Begins a walk of the subtree under root (copied), dropping any walk in
      progress; SNMP_RC_BAD_PARAMETERS for an empty root. */
   uint32_t Start(const uint32_t *root, uint32_t rootLength);
   /* The next binding of the walk in *var (lent), or NULL once the walk is
      complete; see the class comment for the results.
      SNMP_RC_BAD_PARAMETERS for a NULL var or before Start. */
   uint32_t Next(SNMP_Variable **var);

   /* Error-status and error-index of the response that failed the walk
      with SNMP_RC_AGENT_ERROR; 0 otherwise. */
   uint32_t GetErrorStatus() const { return m_errorStatus; }
   uint32_t GetErrorIndex() const { return m_errorIndex; }
   /* Requests that this walk has sent through DoRequest. */
   uint32_t GetRequestCount() const { return m_requests; }

private:
   uint32_t Fetch();
   uint32_t Finish(uint32_t rc);

   SNMP_Transport *m_transport;
   uint32_t m_version;
   char *m_community;
   uint32_t m_maxRepetitions;
   uint32_t m_repetitions;   /* of the next GETBULK: lowered after tooBig */
   bool m_getNext;
   uint32_t m_timeout;
   uint32_t m_attempts;
   uint32_t m_requestId;
   int m_state;              /* idle, walking, done */
   uint32_t m_result;        /* of a walk that is done */
   SNMP_ObjectId m_root;
   SNMP_ObjectId m_last;     /* the name the next request starts from */
   SNMP_PDU *m_response;
   uint32_t m_index;         /* next binding of m_response */
   uint32_t m_errorStatus;
   uint32_t m_errorIndex;
   uint32_t m_requests;
};

/* ---- Asynchronous request engine ----

   SNMP_RequestEngine sends requests to many agents at once over one
   unconnected UDP socket per address family and matches every answer to its
   request by request id and the agent's address; an answer from another
   address, with an unknown id, or a second answer to a request already
   completed is dropped. Each request keeps its own time-out and number of
   attempts and ends exactly once, in its completion callback.

   The engine never owns the program's loop: GetSockets tells which sockets
   to watch for readability, GetTimeout how long the caller may wait at most,
   and Process does the work that is due (answers, time-outs, retransmissions,
   queued sends). Run is a blocking loop built on those three calls for
   programs without a loop of their own.

   Flow control: at most SetWindow requests are outstanding (sent and not yet
   answered); more are queued, already encoded, in submission order. With a
   rate limit the engine starts at most that many new requests per second
   (retransmissions are not delayed by it).

   Threads: an engine, and every call on it, belongs to one thread at a time;
   it takes no locks. Callbacks run on that thread, from inside Process, Run,
   Cancel or the destructor, and may submit and cancel requests (the engine's
   state is complete before a callback runs); a callback must not destroy the
   engine. Distinct engines share nothing. */

/* Completion of one request. status is SNMP_RC_SUCCESS with the response
   (which now belongs to the callback: delete it), or a failure with response
   NULL: SNMP_RC_TIMEOUT (every attempt went unanswered), SNMP_RC_COMM_ERROR
   (the socket failed), SNMP_RC_CANCELLED (Cancel, or the engine was
   destroyed). */
typedef void (*SNMP_RequestCallback)(uint32_t status, SNMP_PDU *response, void *context);

/* A walk through the engine (SubmitWalk): each binding of the subtree in
   order, and the walk's end. */
typedef bool (*SNMP_WalkBindingCallback)(SNMP_Variable *var, void *context);
typedef void (*SNMP_WalkDoneCallback)(uint32_t status, uint32_t bindings, void *context);

/* Submit flags */
#define SNMP_ENGINE_BACKOFF 0x0001   /* each retransmission waits twice as long as the one before */

class ZBSNMP_API SNMP_RequestEngine
{
public:
   SNMP_RequestEngine();
   /* Completes every request still pending with SNMP_RC_CANCELLED, then
      closes the sockets. */
   ~SNMP_RequestEngine();
   SNMP_RequestEngine(const SNMP_RequestEngine &) = delete;
   SNMP_RequestEngine &operator=(const SNMP_RequestEngine &) = delete;

   /* Most requests outstanding at once (default 1000, at least 1). */
   void SetWindow(uint32_t maxOutstanding);
   /* Most new requests started per second; 0 (the default) is no limit. */
   void SetRateLimit(uint32_t requestsPerSecond);
   /* The SNMPv3 identity that requests of version 3 submitted from now on
      (Submit, SubmitWalk) travel with; lent: it must outlive them. The
      engine learns each agent's engine for each identity once (discovery,
      and time synchronisation within the request's attempts, as DoRequest
      does) and keeps the keys localised for it. NULL (the default): a
      version-3 request is refused (SNMP_RC_BAD_PARAMETERS). */
   void SetSecurity(SNMP_USMIdentity *identity);
   SNMP_USMIdentity *GetSecurity() const;

   /* Submits a request to the agent at the given address (IPv4 or IPv6).
      The engine takes the request PDU, assigns it an unpredictable request id
      that no pending request of this engine uses, encodes it and deletes it,
      also when the submission fails. A request of SNMPv3 goes with the
      identity of SetSecurity; its messages carry unpredictable msgIDs, and
      its callback may also see the SNMPv3 codes (SNMP_RC_UNKNOWN_USER_NAME,
      SNMP_RC_WRONG_DIGEST, ..., SNMP_RC_ENCRYPTED_UNANSWERED) as DoRequest
      gives them. timeout is per attempt in milliseconds
      (0xFFFFFFFF: none), attempts the number of sends (at least 1). On
      SNMP_RC_SUCCESS the callback will be called exactly once and *handle
      (when given) identifies the request for Cancel; on any other result
      (SNMP_RC_BAD_PARAMETERS, SNMP_RC_SOCKET_ERROR when no socket of the
      address's family can be made) the callback is never called. */
   uint32_t Submit(const struct sockaddr *agent, socklen_t agentLength, SNMP_PDU *request,
                   uint32_t timeout, uint32_t attempts, uint32_t flags,
                   SNMP_RequestCallback callback, void *context, uint64_t *handle = nullptr);
   /* Ends a pending request at once: its callback runs with SNMP_RC_CANCELLED
      before Cancel returns. 0 when the handle names no pending request. */
   int Cancel(uint64_t handle);

   /* Walks the subtree under root of the agent at the given address, as
      SNMP_Walker does but alongside every other request of the engine:
      GETBULK requests of maxRepetitions (SNMPv2c and later), or GET-NEXT
      requests when maxRepetitions is 0 or the version is SNMPv1, each sent
      with the time-out, attempts and flags given, the next one as soon as
      the answer to the one before has been handed out. onBinding gets each
      binding inside the subtree in order (lent for the call; return false to
      end the walk there); onDone ends the walk exactly once with the number
      of bindings handed out and SNMP_RC_SUCCESS (the subtree's end,
      endOfMibView, noSuchName, an answer without bindings, or onBinding
      said stop), the failed request's code (SNMP_RC_TIMEOUT, ...),
      SNMP_RC_AGENT_ERROR (an error-status, or a name that does not follow
      the one before: the walk never loops) or SNMP_RC_CANCELLED (the engine
      was destroyed). Its requests count in the window and the rate like any
      other. On a result other than SNMP_RC_SUCCESS nothing was submitted and
      no callback is called. */
   uint32_t SubmitWalk(const struct sockaddr *agent, socklen_t agentLength, uint32_t version,
                       const char *community, const uint32_t *root, uint32_t rootLength,
                       uint32_t maxRepetitions, uint32_t timeout, uint32_t attempts,
                       uint32_t flags, SNMP_WalkBindingCallback onBinding,
                       SNMP_WalkDoneCallback onDone, void *context);

   /* The sockets to watch for readability (at most 2); their number. Ask
      again after a Submit: a socket is made for each address family on first
      use. */
   uint32_t GetSockets(SNMP_SOCKET *sockets, uint32_t size) const;
   /* Milliseconds the caller may wait for readability before calling
      Process; 0 when work is due now, -1 when nothing is pending. */
   int32_t GetTimeout() const;
   /* Reads what the given socket holds (SNMP_INVALID_SOCKET: none is
      readable), completes the requests that are answered or out of attempts,
      retransmits those whose time-out ran out and sends queued requests. */
   void Process(SNMP_SOCKET readable = SNMP_INVALID_SOCKET);
   /* Waits and processes until no request is pending (SNMP_RC_SUCCESS) or
      the time-out in milliseconds has passed (SNMP_RC_TIMEOUT; 0xFFFFFFFF: no
      limit). */
   uint32_t Run(uint32_t timeout = 0xFFFFFFFF);

   /* Requests submitted and not yet completed; of those, sent and awaiting
      an answer. */
   uint32_t GetPendingCount() const;
   uint32_t GetOutstandingCount() const;
   /* Datagrams received and dropped: not a message, no pending request with
      that id, or from another address than the request's agent. */
   uint64_t GetDroppedCount() const;

private:
   struct ZbEngine *m_engine;
};

class ZBSNMP_API SNMP_MIBObject
{
public:
   SNMP_MIBObject();
   SNMP_MIBObject(uint32_t oid, const char *name);
   SNMP_MIBObject(uint32_t oid, const char *name, int type, int status, int access,
                  const char *description);
   ~SNMP_MIBObject();
   SNMP_MIBObject(const SNMP_MIBObject &) = delete;
   SNMP_MIBObject &operator=(const SNMP_MIBObject &) = delete;

   /* Nodes made with new live on the heap; the nodes of a loaded tree live in
      large blocks that the tree shares. delete releases a node of either
      kind, so trees may mix them. */
   static void *operator new(size_t size);
   static void *operator new(size_t size, const std::nothrow_t &) noexcept;
   static void *operator new(size_t, void *place) noexcept { return place; }
   static void operator delete(void *node) noexcept;
   static void operator delete(void *node, const std::nothrow_t &) noexcept;
   static void operator delete(void *, void *) noexcept {}

   SNMP_MIBObject *Parent() { return m_parent; }
   SNMP_MIBObject *Next() { return m_next; }
   SNMP_MIBObject *Prev() { return m_prev; }
   SNMP_MIBObject *FirstChild() { return m_firstChild; }
   SNMP_MIBObject *LastChild() { return m_lastChild; }
   uint32_t OID() const { return m_oid; }
   const char *Name() const { return m_name; }
   const char *Description() const { return m_description; }
   int Type() const { return m_type; }
   int Status() const { return m_status; }
   int Access() const { return m_access; }

   void SetParent(SNMP_MIBObject *parent) { m_parent = parent; }
   void SetName(const char *name);
   void SetInfo(int type, int status, int access, const char *description);
   void AddChild(SNMP_MIBObject *child);
   SNMP_MIBObject *FindChildByID(uint32_t oid);
   void Print(int indent);

   /* Optional fields, absent (NULL, 0, false) unless set: what a MIB compiler
      knows of a definition beyond name, type, status and access. Texts are
      copied; a NULL text removes the field. */
   /* The module that defines the node, e.g. "IF-MIB". */
   const char *Module() const;
   void SetModule(const char *module);
   /* The name of the textual convention of the syntax, e.g. "DisplayString". */
   const char *TextualConvention() const;
   void SetTextualConvention(const char *name);
   /* The DISPLAY-HINT of the syntax's textual convention, e.g. "1x:" or "255a". */
   const char *DisplayHint() const;
   void SetDisplayHint(const char *hint);
   /* The UNITS clause, e.g. "seconds". */
   const char *Units() const;
   void SetUnits(const char *units);
   /* The size of an OCTET STRING syntax restricted to one length (e.g.
      SIZE (6)); 0 when the length varies. */
   uint32_t FixedLength() const;
   void SetFixedLength(uint32_t length);

   /* Named numbers of an enumerated INTEGER or of BITS, in definition order. */
   uint32_t EnumCount() const;
   int32_t EnumValue(uint32_t index) const;   /* 0 beyond the count */
   const char *EnumLabel(uint32_t index) const;   /* NULL beyond the count */
   /* The label of a value, or NULL; the first one when values repeat. */
   const char *FindEnumLabel(int32_t value) const;
   /* 1 and the value when the label is one of the node's, else 0. */
   int FindEnumValue(const char *label, int32_t *value) const;
   /* Appends a named number; 0 when it could not be stored. */
   int AddEnum(int32_t value, const char *label);

   /* INDEX of a conceptual row: the names of the index objects in order (an
      AUGMENTS row carries the index of the row it augments), and whether the
      last one is IMPLIED. */
   uint32_t IndexCount() const;
   const char *IndexName(uint32_t index) const;   /* NULL beyond the count */
   bool IsIndexImplied() const;
   /* Appends an index object's name; 0 when it could not be stored. */
   int AddIndex(const char *name);
   void SetIndexImplied(bool implied);

   /* Writes this node's object record (0x01 ... 0x81) with its subtree. */
   void WriteToFile(ZFile *file, uint32_t flags);
   /* Reads fields and children after an object's 0x01 tag, up to its 0x81. */
   int ReadFromFile(ZFile *file);

private:
   friend struct ZbMibAccess;
   void Initialize();

   SNMP_MIBObject *m_parent;
   SNMP_MIBObject *m_next;
   SNMP_MIBObject *m_prev;
   SNMP_MIBObject *m_firstChild;
   SNMP_MIBObject *m_lastChild;
   uint32_t m_oid;
   char *m_name;
   char *m_description;
   int m_type;
   int m_status;
   int m_access;
   uint32_t m_storage;           /* where the node and its texts live (a loaded tree's blocks) */
   struct ZbMibExtra *m_extra;   /* the optional fields, NULL while none is set */
};

/* ---- Names and value texts on a loaded MIB tree ----
   Text results follow snprintf: the return value is the length of the whole
   text (without the terminating zero); the buffer receives as much of it as
   fits, always terminated when bufferSize > 0. A result >= bufferSize means
   the text was cut: call again with a buffer of result + 1 bytes. */

/* Output forms (flags of the text calls) */
#define SNMP_TEXT_NUMERIC_OIDS  0x0001  /* object identifiers as numbers (.1.3.6.1...), for
                                           names and OID values alike */
#define SNMP_TEXT_NO_MODULE     0x0002  /* names without their "MODULE::" (ifDescr.3) */

/* The text of a value as Net-SNMP's tools print it by default: "INTEGER: up(1)",
   "STRING: 2:fc:0:0:0:1", "Timeticks: (100) 0:00:01.00", "Hex-STRING: 00 1A ",
   "No Such Object available on this agent at this OID", ... With a node, its type,
   named numbers, display hint and units shape the text (a value of another type
   than the node's is shown as "Wrong Type (should be ...): " and its plain text);
   without one (NULL) the value's own type decides. OID values are shown as numbers;
   SNMP_MIBTranslator::FormatValue shows them as names. */
ZBSNMP_API uint32_t SNMPFormatValue(SNMP_Variable *var, SNMP_MIBObject *node, char *buffer,
                                    uint32_t bufferSize);

/* Translation between object identifiers and names over one MIB tree: an index by
   name and by sub-identifier is made once, so each translation costs a few lookups
   whatever the size of the tree.

   Names are read in the forms Net-SNMP's tools take:
     IF-MIB::ifDescr.3          a module and a name, then the instance
     ifDescr.3                  a name alone (see FindNodeByName for repeated names)
     .1.3.6.1.2.1.2.2.1.2.3     numbers, with or without the leading dot
     iso.3.6.1.2.1.1.1.0        .iso.org.dod.internet.mgmt.mib-2.system.sysDescr.0
                                a path of names and numbers from a root
   and an instance is written from the row's INDEX: numbers, named numbers of an
   enumerated index (ipv4), "text" for a string index (its length, then its octets),
   'text' for a fixed-length or IMPLIED string index (the octets alone); an IpAddress
   index is four numbers. Without an INDEX, "text" and 'text' are taken the same way.
   The texts made by OIDToText read back to the same OID, except where Net-SNMP's own
   forms do not (an InetAddress index shown as "192.0.2.1" or "fe:80:...").

   The translator borrows the tree unless it owns it (LoadTree, or SetTree with
   takeOwnership): the tree must then stay unchanged while the translator is used,
   and SetTree must be called again after any change. One translator may be used by
   several threads at once: translation only reads it. */
class ZBSNMP_API SNMP_MIBTranslator
{
public:
   SNMP_MIBTranslator();
   ~SNMP_MIBTranslator();
   SNMP_MIBTranslator(const SNMP_MIBTranslator &) = delete;
   SNMP_MIBTranslator &operator=(const SNMP_MIBTranslator &) = delete;

   /* Indexes the tree under root (NULL: no tree). With takeOwnership the translator
      deletes the tree when it is replaced or destroyed. SNMP_RC_SUCCESS, or
      SNMP_RC_BAD_PARAMETERS when the index cannot be allocated (the translator then
      has no tree; an owned tree is deleted). */
   uint32_t SetTree(SNMP_MIBObject *root, bool takeOwnership);
   /* Loads a MIB tree file (SNMPLoadMIBTree) and indexes it; the status code of the
      load, or SNMP_RC_BAD_PARAMETERS as for SetTree. On failure the previous tree
      stays. */
   uint32_t LoadTree(const char *fileName);
   SNMP_MIBObject *GetTree() const;

   /* The deepest node on the OID's path from the root, and in *matched the number
      of sub-identifiers it stands for; NULL (and 0) when not even the first
      sub-identifier is in the tree. */
   SNMP_MIBObject *FindNode(const uint32_t *oid, uint32_t length, uint32_t *matched) const;
   /* A node by "name" or "MODULE::name" (exact spelling); NULL when none. When
      several nodes bear the name (Net-SNMP's modules hold about 180 such names), the
      first in the order of their OIDs is taken; with a module, the first of that
      module. */
   SNMP_MIBObject *FindNodeByName(const char *name) const;
   /* The OID of a node of this tree into buffer: its count, or 0 when it does not
      fit. */
   uint32_t GetNodeOID(SNMP_MIBObject *node, uint32_t *buffer, uint32_t bufferSize) const;

   /* OID to text: "IF-MIB::ifDescr.3", "SNMP-VIEW-BASED-ACM-MIB::vacmAccessStatus.
      "group"."".3.noAuthNoPriv"; the deepest named node, then the rest of the OID
      formatted from the row's INDEX (numbers where the tree says nothing). Without
      a named node, or with SNMP_TEXT_NUMERIC_OIDS, the dotted numbers. */
   uint32_t OIDToText(const uint32_t *oid, uint32_t length, char *buffer, uint32_t bufferSize,
                      uint32_t flags) const;
   /* Text to OID (the forms above): the number of sub-identifiers written to buffer,
      or 0 when the text names nothing in the tree, is malformed, or does not fit. */
   uint32_t TextToOID(const char *text, uint32_t *buffer, uint32_t bufferSize) const;

   /* SNMPFormatValue with the node that the variable's name leads to (FindNode),
      and OID values shown as names (as OIDToText with the same flags). */
   uint32_t FormatValue(SNMP_Variable *var, char *buffer, uint32_t bufferSize,
                        uint32_t flags) const;

private:
   struct ZbMibIndex *m_index;   /* NULL without a tree */
};

/* Saves the tree. An existing file is replaced through a temporary file
   beside it (atomic: a failed save leaves it as it was) that keeps its owner
   and mode; a new file gets 0666 less the umask. A symbolic link is written
   through to the file it names. Where no such temporary file can be made (a
   folder the user cannot write) and for a file with several hard links, a
   device or a pipe, the file is written in place. SNMP_RC_FILE_IO_ERROR when
   the file cannot be written (a read-only file included) or any write fails;
   SNMP_RC_BAD_PARAMETERS for a tree that a load would refuse (see below). */
ZBSNMP_API uint32_t SNMPSaveMIBTree(const char *fileName, SNMP_MIBObject *root, uint32_t flags);
/* Loads a tree; it belongs to the caller. A load builds at most 1,048,576
   nodes (the root included), 1024 levels deep, from at most 512 MiB of body
   (counted after decompression); a file past these bounds, a damaged file,
   and a load that runs out of memory end in SNMP_RC_BAD_FILE_DATA with
   nothing left allocated. On failure *root is NULL, or untouched when the
   body does not begin with a tree record. */
ZBSNMP_API uint32_t SNMPLoadMIBTree(const char *fileName, SNMP_MIBObject **root);
ZBSNMP_API uint32_t SNMPGetMIBTreeTimestamp(const char *fileName, uint32_t *timestamp);

/* ==== SNMPv3 with the User-based Security Model (RFC 3412, 3414, 3826, 7860) ==== */

#define SNMP_VERSION_3            3
#define ASN_PDU_REPORT            0xA8
#define SNMP_CMD_REPORT           7

/* Security levels (the values of RFC 3411's SnmpSecurityLevel) */
#define SNMP_SEC_NO_AUTH_NO_PRIV  1
#define SNMP_SEC_AUTH_NO_PRIV     2
#define SNMP_SEC_AUTH_PRIV        3

/* Authentication methods: HMAC with the digest cut to 12 octets (MD5,
   SHA-1), 16 (SHA-224), 24 (SHA-256), 32 (SHA-384) or 48 (SHA-512) */
#define SNMP_AUTH_NONE            0
#define SNMP_AUTH_MD5             1
#define SNMP_AUTH_SHA1            2
#define SNMP_AUTH_SHA224          3
#define SNMP_AUTH_SHA256          4
#define SNMP_AUTH_SHA384          5
#define SNMP_AUTH_SHA512          6

/* Privacy methods. AES-192 and AES-256 need more key than MD5 and SHA-1
   give: SNMP_PRIV_AES192/256 extend it as Net-SNMP's "-x AES-192/AES-256"
   do, SNMP_PRIV_AES192_C/256_C as many Cisco devices do (Net-SNMP's
   "AES-192-C/AES-256-C"). */
#define SNMP_PRIV_NONE            0
#define SNMP_PRIV_DES             1
#define SNMP_PRIV_AES128          2
#define SNMP_PRIV_AES192          3
#define SNMP_PRIV_AES256          4
#define SNMP_PRIV_AES192_C        5
#define SNMP_PRIV_AES256_C        6

/* Forms of a key given instead of a password */
#define SNMP_KEY_MASTER           0  /* Ku: the password's key, localised for each engine */
#define SNMP_KEY_LOCALIZED        1  /* Kul: already localised for the engine it is used with */


/* 1 when the library was built with cryptography (SNMPv3 authentication and
   privacy); without it only noAuthNoPriv identities can be used. */
ZBSNMP_API int SNMPIsSecurityAvailable(void);

struct ZbUsmIdentityData;
struct ZbUsmAccess;

/* One SNMPv3 identity: user, security level, methods and keys, context, and
   the authoritative engine learnt for it (ID, boots, time). Passwords are
   turned into keys by the setters (a megabyte of hashing, once) and never
   kept; keys localised for an engine are cached. Every key is wiped when the
   identity is destroyed. Setters return SNMP_RC_SUCCESS,
   SNMP_RC_BAD_PARAMETERS (bad method, empty or too long text) or
   SNMP_RC_SECURITY_UNAVAILABLE (the method is not in this build). One
   identity serves one thread at a time. */
class ZBSNMP_API SNMP_USMIdentity
{
public:
   SNMP_USMIdentity();
   /* A user at noAuthNoPriv until keys and a level are set. */
   explicit SNMP_USMIdentity(const char *userName);
   ~SNMP_USMIdentity();
   SNMP_USMIdentity(const SNMP_USMIdentity &) = delete;
   SNMP_USMIdentity &operator=(const SNMP_USMIdentity &) = delete;

   /* 1 to 32 octets. */
   uint32_t SetUser(const char *userName);
   /* SNMP_SEC_NO_AUTH_NO_PRIV, SNMP_SEC_AUTH_NO_PRIV or SNMP_SEC_AUTH_PRIV;
      the keys the level needs must be set before a message is sent. */
   uint32_t SetSecurityLevel(uint32_t level);
   /* A password of 1 to 1024 octets (agents commonly insist on 8 or more). */
   uint32_t SetAuthPassword(uint32_t authMethod, const char *password);
   /* A key of the method's hash size, in form SNMP_KEY_MASTER or SNMP_KEY_LOCALIZED. */
   uint32_t SetAuthKey(uint32_t authMethod, const uint8_t *key, uint32_t length, uint32_t form);
   /* The privacy password is turned into a key with the authentication
      method's hash: set the authentication method first. */
   uint32_t SetPrivPassword(uint32_t privMethod, const char *password);
   /* Master form: the authentication hash's size; localised form: the
      cipher's key length (DES: 16 octets, key and pre-IV). */
   uint32_t SetPrivKey(uint32_t privMethod, const uint8_t *key, uint32_t length, uint32_t form);
   /* 0 to 32 octets; empty by default. */
   uint32_t SetContextName(const char *contextName);
   /* 0 to 32 octets; empty (the default) means the authoritative engine's ID. */
   uint32_t SetContextEngineId(const uint8_t *engineId, uint32_t length);
   /* The agent's engine ID when known in advance (1 to 32 octets): no
      discovery. Boots and time are still learnt. */
   uint32_t SetEngineId(const uint8_t *engineId, uint32_t length);
   /* Forgets the learnt engine: the next exchange discovers it again. */
   void ForgetEngine();

   const char *GetUser() const;
   uint32_t GetSecurityLevel() const;
   uint32_t GetAuthMethod() const;
   uint32_t GetPrivMethod() const;
   const char *GetContextName() const;
   /* The learnt or given engine ID (length 0 while unknown). */
   const uint8_t *GetEngineId(uint32_t *length) const;
   uint32_t GetEngineBoots() const;
   /* The engine's time now, as estimated from what was learnt. */
   uint32_t GetEngineTime() const;

private:
   friend struct ZbUsmAccess;
   ZbUsmIdentityData *m_data;  /* NULL only when its allocation failed: every call then fails */
};

#endif /* ZBSNMP_H */
