// The Widcomm BTW-CE SDK (BtSdkCE30) as this system uses it: the stack interface class CBtIf
// with its notifications, and the service discovery records. Written for the simulated device:
// the stack works over the simulated air and calls the notifications on its own threads.
#pragma once

#include "windows.h"

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef int32_t INT32;

#define BD_ADDR_LEN 6
typedef UINT8 BD_ADDR[BD_ADDR_LEN];
#define DEV_CLASS_LEN 3
typedef UINT8 DEV_CLASS[DEV_CLASS_LEN];
#define BD_NAME_LEN 248
typedef UINT8 BD_NAME[BD_NAME_LEN];

#ifndef GUID_DEFINED
#define GUID_DEFINED
struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
#endif

enum STACK_STATUS {
  DEVST_DOWN = 0,
  DEVST_UP = 1,
  DEVST_ERROR = 2,
  DEVST_UNLOADED = 3,
  DEVST_RELOADED = 4
};

// Statistics of an existing link.
struct tBT_CONN_STATS {
  UINT32 bIsConnected;
  INT32 Rssi;
  UINT32 BytesSent;
  UINT32 BytesRcvd;
  UINT32 Duration;
};

// ---- Service discovery records ---------------------------------------------------------------
#define MAX_SEQ_ENTRIES 20
#define MAX_ATTR_LEN_OLD 256

#define ATTR_TYPE_INT 0       // unsigned integer
#define ATTR_TYPE_TWO_COMP 1  // signed integer
#define ATTR_TYPE_UUID 2
#define ATTR_TYPE_BOOL 3
#define ATTR_TYPE_ARRAY 4     // text or byte string

// One attribute's value: its elements in order, sequences flattened (an element that opens a
// sequence has start_of_seq set). Integers and 2- or 4-byte UUIDs are held as little-endian
// numbers; 16-byte UUIDs and strings as byte strings. Values longer than the value field are cut.
struct SDP_DISC_ATTTR_VAL {
  int num_elem;
  struct {
    int type;
    int len;
    BOOL start_of_seq;
    union {
      UINT8 u8;
      UINT16 u16;
      UINT32 u32;
      BOOL b;
      UINT8 array[MAX_ATTR_LEN_OLD];
    } val;
  } elem[MAX_SEQ_ENTRIES];
};
static_assert(sizeof(SDP_DISC_ATTTR_VAL) == 5364, "attribute value structure layout");

struct SdpRecordData;

class CSdpDiscoveryRec {
 public:
  CSdpDiscoveryRec();
  ~CSdpDiscoveryRec();
  CSdpDiscoveryRec(const CSdpDiscoveryRec&) = delete;
  CSdpDiscoveryRec& operator=(const CSdpDiscoveryRec&) = delete;

  // Fills `value` and answers TRUE when the record holds the attribute.
  BOOL FindAttribute(UINT16 attributeId, SDP_DISC_ATTTR_VAL* value);

  SdpRecordData* m_data;  // the stack's copy of the record (none until read)
};

// ---- The stack interface ---------------------------------------------------------------------
struct CBtIfState;

class CBtIf {
 public:
  CBtIf();
  virtual ~CBtIf();
  CBtIf(const CBtIf&) = delete;
  CBtIf& operator=(const CBtIf&) = delete;

  // Notifications, called on the stack's threads.
  virtual void OnAudioConnected(UINT16 audioHandle);
  virtual void OnAudioDisconnect(UINT16 audioHandle);
  virtual void OnStackStatusChange(STACK_STATUS newStatus);
  virtual void OnInquiryComplete(BOOL success, short responses);
  virtual void OnDeviceResponded(BD_ADDR address, DEV_CLASS deviceClass, BD_NAME name, BOOL connected);
  virtual void OnDiscoveryComplete();

  // The stack's version text, in a buffer of `size` wide characters.
  BOOL GetBTWCEVersionInfo(WCHAR* version, int size);
  // Fills m_BdAddr with the local device address.
  BOOL GetLocalDeviceInfo();
  BOOL GetLocalDeviceName(BD_NAME* name);

  BOOL StartInquiry();
  void StopInquiry();
  // Starts a service discovery of the device (every service when `serviceGuid` is null).
  BOOL StartDiscovery(BD_ADDR address, GUID* serviceGuid);
  // Copies the records found by the last discovery of the device; answers how many.
  int ReadDiscoveryRecords(BD_ADDR address, int maxRecords, CSdpDiscoveryRec* records, GUID* filter = nullptr);

  BOOL GetConnectionStats(BD_ADDR address, tBT_CONN_STATS* stats);

  // Ends this object's inquiry and discovery and its status notifications; no notification runs
  // after it returns. A derived class calls it first in its destructor, while the object is
  // still whole (the base destructor calls it too, but only after the derived part is gone).
  void StopNotifications();

  BD_ADDR m_BdAddr;  // local device address, filled by GetLocalDeviceInfo

 private:
  CBtIfState* m_state;
};
