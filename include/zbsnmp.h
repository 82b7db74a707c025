/*
 * libzbsnmp - manager side of SNMP v1/v2c over IPv4 UDP, and MIB tree files.
 *
 * Ownership: objects are created with new and deleted by their owner; raw
 * buffers and strings live on the malloc heap and are released with free.
 * None of the classes can be copied or assigned.
 */
#ifndef ZBSNMP_H
#define ZBSNMP_H

#include <stdint.h>

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

#define ZBSNMP_VERSION_STRING "1.0.0"

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
#define ASN_PDU_TRAP2            0xA7

/* Commands */
#define SNMP_CMD_GET_REQUEST      0
#define SNMP_CMD_GET_NEXT_REQUEST 1
#define SNMP_CMD_RESPONSE         2
#define SNMP_CMD_SET_REQUEST      3
#define SNMP_CMD_TRAP             4
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
   void SetRawValue(const void *data, uint32_t length);

   SNMP_ObjectId *m_name;   /* &m_nameStorage once the variable has a name */
   uint32_t m_type;
   uint32_t m_valueLength;
   uint8_t *m_value;        /* m_inlineValue, a malloc block, or NULL */
   SNMP_ObjectId m_nameStorage;
   alignas(8) uint8_t m_inlineValue[SNMP_VALUE_INLINE_BYTES];
};

class ZBSNMP_API SNMP_PDU
{
public:
   SNMP_PDU();
   SNMP_PDU(uint32_t command, const char *community, uint32_t requestId, uint32_t version);
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
   SNMP_ObjectId *GetTrapId() { return m_trapId; }
   int GetTrapType() const { return m_trapType; }
   int GetSpecificTrapType() const { return m_specificTrapType; }
   uint32_t GetNumVariables() const { return m_variableCount; }
   SNMP_Variable *GetVariable(uint32_t index)
   {
      return (index < m_variableCount) ? m_variables[index] : nullptr;
   }
   void BindVariable(SNMP_Variable *var);

private:
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
   /* Parsed variables live side by side in one block; bound ones on their own. */
   SNMP_Variable *m_slab;
   uint32_t m_slabSize;
   uint32_t m_slabUsed;
};

class ZBSNMP_API SNMP_Transport
{
public:
   SNMP_Transport() {}
   virtual ~SNMP_Transport();
   SNMP_Transport(const SNMP_Transport &) = delete;
   SNMP_Transport &operator=(const SNMP_Transport &) = delete;

   /* > 0: size of the message taken in (*pdu holds it, or NULL when it did
      not parse); 0: no message; < 0: the receive failed. */
   virtual int Read(SNMP_PDU **pdu, uint32_t timeout, struct sockaddr *sender,
                    socklen_t *senderLen);
   /* > 0: bytes sent; 0: the PDU does not encode; < 0: the send failed. */
   virtual int Send(SNMP_PDU *pdu);

   uint32_t DoRequest(SNMP_PDU *request, SNMP_PDU **response, uint32_t timeout,
                      uint32_t numRetries);
};

class ZBSNMP_API SNMP_UDPTransport : public SNMP_Transport
{
public:
   SNMP_UDPTransport();
   SNMP_UDPTransport(SNMP_SOCKET socket);
   virtual ~SNMP_UDPTransport();

   uint32_t CreateUDPTransport(const char *hostName, uint32_t ipAddr, uint16_t port);

   virtual int Read(SNMP_PDU **pdu, uint32_t timeout, struct sockaddr *sender,
                    socklen_t *senderLen) override;
   virtual int Send(SNMP_PDU *pdu) override;

   /* Receive-buffer state, for diagnostics and tests. */
   uint32_t GetBufferSize() const { return m_bufferSize; }
   uint32_t GetBytesHeld() const { return m_bytesHeld; }
   uint32_t GetStartOffset() const { return m_startOffset; }
   SNMP_SOCKET GetSocket() const { return m_socket; }

private:
   int RecvData(uint32_t timeout, struct sockaddr *sender, socklen_t *senderLen);
   uint32_t PreParsePDU();
   void ClearBuffer();

   SNMP_SOCKET m_socket;
   uint32_t m_bufferSize;
   uint32_t m_bytesHeld;
   uint32_t m_startOffset;
   uint8_t *m_buffer;
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
   struct ZbMibExtra *m_extra;   /* the optional fields, NULL while none is set */
};

ZBSNMP_API uint32_t SNMPSaveMIBTree(const char *fileName, SNMP_MIBObject *root, uint32_t flags);
ZBSNMP_API uint32_t SNMPLoadMIBTree(const char *fileName, SNMP_MIBObject **root);
ZBSNMP_API uint32_t SNMPGetMIBTreeTimestamp(const char *fileName, uint32_t *timestamp);

#endif /* ZBSNMP_H */
