// The stack interface over the simulated air. Inquiries and discoveries run on the air's
// activity threads and status changes arrive on its status thread; the notifications are
// called there, as the real stack calls them on its own threads.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "BtSdkCE.h"
#include "vork/radio.h"

namespace radio = vork::radio;

struct SdpRecordData {
  std::shared_ptr<const radio::ServiceRecord> record;
};

struct CBtIfState {
  std::mutex lock;
  radio::Activity* inquiry = nullptr;
  bool inquiryRunning = false;
  radio::Activity* discovery = nullptr;
  bool discoveryRunning = false;
  std::map<uint64_t, radio::Records> found;  // by address, from the last discovery of each
  int subscription = 0;
};

namespace {

uint64_t key(const UINT8* address) {
  uint64_t value = 0;
  for (int i = 0; i < 6; ++i) value = value << 8 | address[i];
  return value;
}

radio::Address toAddress(const UINT8* bytes) {
  radio::Address address;
  std::memcpy(address.bytes, bytes, 6);
  return address;
}

// Appends the element (sequences flattened) to the value; false when the value is full.
bool flatten(const radio::Element& element, SDP_DISC_ATTTR_VAL* value, bool startOfSeq) {
  if (element.type == radio::ElementType::Sequence) {
    bool first = true;
    for (const radio::Element& item : element.items) {
      if (!flatten(item, value, first)) return false;
      first = false;
    }
    return true;
  }
  if (value->num_elem >= MAX_SEQ_ENTRIES) return false;
  auto& out = value->elem[value->num_elem++];
  out.start_of_seq = startOfSeq;
  switch (element.type) {
    case radio::ElementType::UInt:
    case radio::ElementType::Int:
    case radio::ElementType::Bool:
    case radio::ElementType::Uuid:
      out.type = element.type == radio::ElementType::UInt  ? ATTR_TYPE_INT
                 : element.type == radio::ElementType::Int ? ATTR_TYPE_TWO_COMP
                 : element.type == radio::ElementType::Bool ? ATTR_TYPE_BOOL
                                                            : ATTR_TYPE_UUID;
      out.len = static_cast<int>(element.size);
      if (element.type == radio::ElementType::Uuid && element.size == 16) {
        std::memcpy(out.val.array, element.bytes.data(), 16);
      } else {
        for (unsigned i = 0; i < element.size && i < 8; ++i)
          out.val.array[i] = static_cast<UINT8>(element.number >> (8 * i));
      }
      break;
    case radio::ElementType::Text: {
      out.type = ATTR_TYPE_ARRAY;
      size_t length = std::min<size_t>(element.bytes.size(), MAX_ATTR_LEN_OLD);
      out.len = static_cast<int>(length);
      if (length) std::memcpy(out.val.array, element.bytes.data(), length);
      break;
    }
    case radio::ElementType::Sequence: break;
  }
  return true;
}

}  // namespace

// ---- Discovery records -----------------------------------------------------------------------

CSdpDiscoveryRec::CSdpDiscoveryRec() : m_data(nullptr) {}
CSdpDiscoveryRec::~CSdpDiscoveryRec() { delete m_data; }

BOOL CSdpDiscoveryRec::FindAttribute(UINT16 attributeId, SDP_DISC_ATTTR_VAL* value) {
  if (!m_data || !m_data->record || !value) return FALSE;
  const radio::Attribute* attribute = m_data->record->find(attributeId);
  if (!attribute) return FALSE;
  std::memset(value, 0, sizeof *value);
  flatten(attribute->value, value, false);
  return TRUE;
}

// ---- The stack interface ---------------------------------------------------------------------

CBtIf::CBtIf() : m_state(new CBtIfState) {
  std::memset(m_BdAddr, 0, sizeof m_BdAddr);
  radio::count("stacks");
  m_state->subscription = radio::subscribeStatus([this](int status) {
    OnStackStatusChange(static_cast<STACK_STATUS>(status));
  });
}

CBtIf::~CBtIf() {
  StopNotifications();
  delete m_state;
}

void CBtIf::StopNotifications() {
  radio::Activity* inquiry;
  radio::Activity* discovery;
  int subscription;
  {
    std::lock_guard<std::mutex> guard(m_state->lock);
    inquiry = m_state->inquiry;
    discovery = m_state->discovery;
    subscription = m_state->subscription;
    m_state->inquiry = m_state->discovery = nullptr;
    m_state->inquiryRunning = m_state->discoveryRunning = false;
    m_state->subscription = 0;
  }
  if (subscription) radio::unsubscribeStatus(subscription);
  radio::stop(inquiry);
  radio::stop(discovery);
}

void CBtIf::OnAudioConnected(UINT16) {}
void CBtIf::OnAudioDisconnect(UINT16) {}
void CBtIf::OnStackStatusChange(STACK_STATUS) {}
void CBtIf::OnInquiryComplete(BOOL, short) {}
void CBtIf::OnDeviceResponded(BD_ADDR, DEV_CLASS, BD_NAME, BOOL) {}
void CBtIf::OnDiscoveryComplete() {}

BOOL CBtIf::GetBTWCEVersionInfo(WCHAR* version, int size) {
  static const char16_t text[] = u"BTW-CE 1.7.1 (simulated)";
  if (!version || size <= 0) return FALSE;
  int n = 0;
  for (; n < size - 1 && text[n]; ++n) version[n] = text[n];
  version[n] = 0;
  return TRUE;
}

BOOL CBtIf::GetLocalDeviceInfo() {
  auto air = radio::currentAir();
  std::memcpy(m_BdAddr, air->localAddress.bytes, 6);
  return TRUE;
}

BOOL CBtIf::GetLocalDeviceName(BD_NAME* name) {
  if (!name) return FALSE;
  auto air = radio::currentAir();
  size_t length = std::min<size_t>(air->localName.size(), BD_NAME_LEN - 1);
  std::memcpy(*name, air->localName.data(), length);
  (*name)[length] = 0;
  return TRUE;
}

BOOL CBtIf::StartInquiry() {
  radio::Activity* previous;
  {
    std::lock_guard<std::mutex> guard(m_state->lock);
    if (m_state->inquiryRunning) return FALSE;
    previous = m_state->inquiry;
    m_state->inquiry = nullptr;
  }
  radio::stop(previous);
  radio::InquiryCallbacks callbacks;
  callbacks.responded = [this](const radio::Device& device) {
    BD_ADDR address;
    DEV_CLASS deviceClass;
    BD_NAME name;
    std::memcpy(address, device.address.bytes, 6);
    std::memcpy(deviceClass, device.deviceClass, 3);
    size_t length = std::min<size_t>(device.name.size(), BD_NAME_LEN - 1);
    std::memcpy(name, device.name.data(), length);
    name[length] = 0;
    OnDeviceResponded(address, deviceClass, name, device.linked);
  };
  callbacks.completed = [this](bool success, int responses) {
    {
      std::lock_guard<std::mutex> guard(m_state->lock);
      m_state->inquiryRunning = false;
    }
    OnInquiryComplete(success, static_cast<short>(responses));
  };
  std::lock_guard<std::mutex> guard(m_state->lock);
  m_state->inquiryRunning = true;
  m_state->inquiry = radio::startInquiry(std::move(callbacks));
  if (!m_state->inquiry) m_state->inquiryRunning = false;
  return m_state->inquiry != nullptr;
}

void CBtIf::StopInquiry() {
  radio::Activity* inquiry;
  {
    std::lock_guard<std::mutex> guard(m_state->lock);
    inquiry = m_state->inquiry;
    m_state->inquiry = nullptr;
    m_state->inquiryRunning = false;
  }
  radio::stop(inquiry);
}

BOOL CBtIf::StartDiscovery(BD_ADDR address, GUID*) {
  if (!address) return FALSE;
  radio::Activity* previous;
  {
    std::lock_guard<std::mutex> guard(m_state->lock);
    if (m_state->discoveryRunning) return FALSE;
    previous = m_state->discovery;
    m_state->discovery = nullptr;
  }
  radio::stop(previous);
  uint64_t device = key(address);
  auto completed = [this, device](const radio::Records& records) {
    {
      std::lock_guard<std::mutex> guard(m_state->lock);
      m_state->found[device] = records;
      m_state->discoveryRunning = false;
    }
    OnDiscoveryComplete();
  };
  std::lock_guard<std::mutex> guard(m_state->lock);
  m_state->discoveryRunning = true;
  m_state->discovery = radio::startDiscovery(toAddress(address), completed);
  if (!m_state->discovery) m_state->discoveryRunning = false;
  return m_state->discovery != nullptr;
}

int CBtIf::ReadDiscoveryRecords(BD_ADDR address, int maxRecords, CSdpDiscoveryRec* records, GUID*) {
  if (!address || !records || maxRecords <= 0) return 0;
  std::lock_guard<std::mutex> guard(m_state->lock);
  auto found = m_state->found.find(key(address));
  if (found == m_state->found.end()) return 0;
  int n = 0;
  for (const auto& record : found->second) {
    if (n == maxRecords) break;
    delete records[n].m_data;
    records[n].m_data = new SdpRecordData{record};
    ++n;
  }
  return n;
}

BOOL CBtIf::GetConnectionStats(BD_ADDR address, tBT_CONN_STATS* stats) {
  if (!address || !stats) return FALSE;
  radio::count("stats");
  auto air = radio::currentAir();
  const radio::Device* device = air->find(toAddress(address));
  if (!device || !device->linked) return FALSE;
  std::memset(stats, 0, sizeof *stats);
  stats->bIsConnected = 1;
  stats->Rssi = device->rssi;
  return TRUE;
}
