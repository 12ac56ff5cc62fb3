// Service discovery records as the handheld library reads them: the UUID test and the SDP
// encoding of single elements. No Java here, so it is tested and measured on its own.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "BtSdkCE.h"

namespace btce {

typedef std::array<uint8_t, 16> Uuid128;

// A requested UUID: the Bluetooth base UUID with the given bytes laid over it from byte 0
// (at most 16 are taken).
Uuid128 requestedUuid(const uint8_t* bytes, size_t length);

// The 16-byte form of a UUID element (2, 4 or 16 bytes); false for other lengths.
bool elementUuid(const SDP_DISC_ATTTR_VAL& value, int index, Uuid128& uuid);

// The number of elements of a value that can be read (0 to MAX_SEQ_ENTRIES).
int elementCount(const SDP_DISC_ATTTR_VAL& value);

// True when every requested UUID occurs as a UUID element in some attribute of the record.
// `scratch` is the work structure (large; the caller keeps one).
bool recordHasUuids(CSdpDiscoveryRec& record, const std::vector<Uuid128>& wanted, SDP_DISC_ATTTR_VAL& scratch);

// The SDP encoding of element `index`. In a protocol descriptor list every UUID is written as a
// 32-bit UUID made of its first four value bytes. False (nothing written) for an element that
// has no encoding.
bool encodeElement(const SDP_DISC_ATTTR_VAL& value, int index, bool protocolList, std::vector<uint8_t>& out);

// The length of the byte array an encoding of `length` bytes travels in: the next multiple of 10.
inline size_t paddedLength(size_t length) { return (length + 9) / 10 * 10; }

}  // namespace btce
