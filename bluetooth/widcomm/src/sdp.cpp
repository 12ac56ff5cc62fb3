#include "sdp.h"

#include <algorithm>
#include <cstring>

namespace btce {

namespace {
const Uuid128 kBase = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                       0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

// The low `count` bytes of a little-endian value, high byte first.
void bigEndian(const UINT8* value, int count, std::vector<uint8_t>& out) {
  for (int i = count - 1; i >= 0; --i) out.push_back(value[i]);
}
}  // namespace

Uuid128 requestedUuid(const uint8_t* bytes, size_t length) {
  Uuid128 uuid = kBase;
  if (bytes) std::memcpy(uuid.data(), bytes, std::min<size_t>(length, 16));
  return uuid;
}

int elementCount(const SDP_DISC_ATTTR_VAL& value) {
  return std::clamp(value.num_elem, 0, MAX_SEQ_ENTRIES);
}

bool elementUuid(const SDP_DISC_ATTTR_VAL& value, int index, Uuid128& uuid) {
  const auto& e = value.elem[index];
  const UINT8* v = e.val.array;
  uuid = kBase;
  switch (e.len) {
    case 2:
      uuid[2] = v[1];
      uuid[3] = v[0];
      return true;
    case 4:
      for (int i = 0; i < 4; ++i) uuid[i] = v[3 - i];
      return true;
    case 16:
      std::memcpy(uuid.data(), v, 16);
      return true;
    default:
      return false;
  }
}

bool recordHasUuids(CSdpDiscoveryRec& record, const std::vector<Uuid128>& wanted, SDP_DISC_ATTTR_VAL& scratch) {
  size_t left = wanted.size();
  if (left == 0) return true;
  std::vector<bool> matched(wanted.size(), false);
  for (unsigned id = 0; id <= 0xFFFE; ++id) {
    if (!record.FindAttribute(static_cast<UINT16>(id), &scratch)) continue;
    int count = elementCount(scratch);
    for (int i = 0; i < count; ++i) {
      Uuid128 uuid;
      if (scratch.elem[i].type != ATTR_TYPE_UUID || !elementUuid(scratch, i, uuid)) continue;
      for (size_t w = 0; w < wanted.size(); ++w) {
        if (matched[w] || wanted[w] != uuid) continue;
        matched[w] = true;
        if (--left == 0) return true;
      }
    }
  }
  return false;
}

bool encodeElement(const SDP_DISC_ATTTR_VAL& value, int index, bool protocolList, std::vector<uint8_t>& out) {
  const auto& e = value.elem[index];
  const UINT8* v = e.val.array;
  out.clear();
  if (e.type == ATTR_TYPE_UUID && protocolList) {
    out.push_back(0x1A);
    bigEndian(v, 4, out);
    return true;
  }
  switch (e.type) {
    case ATTR_TYPE_INT:
    case ATTR_TYPE_TWO_COMP: {
      uint8_t base = e.type == ATTR_TYPE_INT ? 0x08 : 0x10;
      int sizeIndex;
      switch (e.len) {
        case 1: sizeIndex = 0; break;
        case 2: sizeIndex = 1; break;
        case 4: sizeIndex = 2; break;
        case 8: sizeIndex = 3; break;
        case 16: sizeIndex = 4; break;
        default: return false;
      }
      out.push_back(static_cast<uint8_t>(base + sizeIndex));
      bigEndian(v, e.len, out);
      return true;
    }
    case ATTR_TYPE_UUID:
      if (e.len == 2 || e.len == 4) {
        out.push_back(e.len == 2 ? 0x19 : 0x1A);
        bigEndian(v, e.len, out);
        return true;
      }
      if (e.len == 16) {
        out.push_back(0x1C);
        out.insert(out.end(), v, v + 16);
        return true;
      }
      return false;
    case ATTR_TYPE_BOOL:
      out.push_back(0x28);
      out.push_back(v[0] ? 1 : 0);
      return true;
    case ATTR_TYPE_ARRAY: {
      size_t length = static_cast<size_t>(std::clamp(e.len, 0, MAX_ATTR_LEN_OLD));
      if (length < 256) {
        out.push_back(0x25);
        out.push_back(static_cast<uint8_t>(length));
      } else {
        out.push_back(0x26);
        out.push_back(static_cast<uint8_t>(length >> 8));
        out.push_back(static_cast<uint8_t>(length));
      }
      out.insert(out.end(), v, v + length);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace btce
