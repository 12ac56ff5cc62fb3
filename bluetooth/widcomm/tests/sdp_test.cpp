// The UUID test and the SDP encoding of elements, over records of the simulated air.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "discovered_records.h"

using namespace btce;

namespace {

// Discovers the records of the meter in the given air.
struct Records : DiscoveredRecords {
  explicit Records(const char* air) : DiscoveredRecords(air) { EXPECT_TRUE(started); }
};

std::vector<uint8_t> encoded(const SDP_DISC_ATTTR_VAL& value, int index, bool protocols) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(encodeElement(value, index, protocols, out));
  return out;
}

}  // namespace

TEST(BtceUuidTest, MatchesTwoFourAndSixteenByteElements) {
  Records found(R"(discovery complete 1
device 00:0A:3A:11:22:33 "Meter"
service
attribute 1 ( uuid16:0x1101 )
attribute 0x200 uuid32:0x00011234
service
attribute 1 uuid128:00001101-0000-1000-8000-00805F9B34FB
attribute 0xFFFE uuid16:0xBEEF
service
attribute 1 ( u16:0x1101 text:"1101" )
)");
  ASSERT_EQ(found.count, 3);
  SDP_DISC_ATTTR_VAL scratch;
  const uint8_t serial128[16] = {0x00, 0x00, 0x11, 0x01, 0x00, 0x00, 0x10, 0x00,
                                 0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
  struct Case {
    int record;
    std::vector<Uuid128> wanted;
    bool match;
  } cases[] = {
      {0, {shortUuid(0x1101)}, true},
      {0, {requestedUuid(serial128, 16)}, true},
      {0, {shortUuid(0x1101), shortUuid(0x11234)}, true},  // a 4-byte element
      {0, {shortUuid(0x1101), shortUuid(0x1102)}, false},  // every UUID must occur
      {1, {shortUuid(0x1101), shortUuid(0xBEEF)}, true},   // 16-byte element; the last attribute id
      {2, {shortUuid(0x1101)}, false},                     // integers and texts are no UUIDs
      {2, {}, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(recordHasUuids(found.records[c.record], c.wanted, scratch), c.match) << "record " << c.record;
  // A 2-byte request lies over bytes 0 and 1 of the base and so matches no 16-bit UUID.
  const uint8_t two[2] = {0x11, 0x01};
  EXPECT_FALSE(recordHasUuids(found.records[0], {requestedUuid(two, 2)}, scratch));
}

TEST(BtceEncoding, EveryKindAndLength) {
  std::string longText(300, 'x');
  std::string air = "discovery complete 1\ndevice 00:0A:3A:11:22:33\nservice\n"
                    "attribute 1 ( u8:0xAB u16:0x1234 u32:0x12345678 i8:-2 i16:-2 i32:-2 u64:0x0102030405060708 )\n"
                    "attribute 2 ( uuid16:0x1101 uuid32:0x12345678 uuid128:00112233-4455-6677-8899-AABBCCDDEEFF )\n"
                    "attribute 3 ( text:\"COM\" bool:true )\n"
                    "attribute 4 ( ( uuid16:0x0100 ) ( uuid16:0x0003 u8:5 ) )\n"
                    "attribute 5 text:\"" + longText + "\"\n";
  Records found(air.c_str());
  ASSERT_EQ(found.count, 1);
  CSdpDiscoveryRec& record = found.records[0];
  SDP_DISC_ATTTR_VAL v;
  typedef std::vector<uint8_t> Bytes;

  ASSERT_TRUE(record.FindAttribute(1, &v));
  EXPECT_EQ(encoded(v, 0, false), Bytes({0x08, 0xAB}));
  EXPECT_EQ(encoded(v, 1, false), Bytes({0x09, 0x12, 0x34}));
  EXPECT_EQ(encoded(v, 2, false), Bytes({0x0A, 0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(encoded(v, 3, false), Bytes({0x10, 0xFE}));
  EXPECT_EQ(encoded(v, 4, false), Bytes({0x11, 0xFF, 0xFE}));
  EXPECT_EQ(encoded(v, 5, false), Bytes({0x12, 0xFF, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(encoded(v, 6, false), Bytes({0x0B, 1, 2, 3, 4, 5, 6, 7, 8}));

  ASSERT_TRUE(record.FindAttribute(2, &v));
  EXPECT_EQ(encoded(v, 0, false), Bytes({0x19, 0x11, 0x01}));
  EXPECT_EQ(encoded(v, 1, false), Bytes({0x1A, 0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(encoded(v, 2, false), Bytes({0x1C, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA,
                                         0xBB, 0xCC, 0xDD, 0xEE, 0xFF}));
  // In a protocol list every UUID becomes a 32-bit UUID of its first four value bytes.
  EXPECT_EQ(encoded(v, 0, true), Bytes({0x1A, 0x00, 0x00, 0x11, 0x01}));
  EXPECT_EQ(encoded(v, 2, true), Bytes({0x1A, 0x33, 0x22, 0x11, 0x00}));

  ASSERT_TRUE(record.FindAttribute(3, &v));
  EXPECT_EQ(encoded(v, 0, false), Bytes({0x25, 3, 'C', 'O', 'M'}));
  EXPECT_EQ(encoded(v, 1, false), Bytes({0x28, 1}));

  ASSERT_TRUE(record.FindAttribute(4, &v));
  EXPECT_EQ(encoded(v, 0, true), Bytes({0x1A, 0x00, 0x00, 0x01, 0x00}));
  EXPECT_EQ(encoded(v, 2, true), Bytes({0x08, 5}));

  // The stack hands over at most 256 bytes of a string; 256 takes the two-byte length.
  ASSERT_TRUE(record.FindAttribute(5, &v));
  Bytes text = encoded(v, 0, false);
  ASSERT_EQ(text.size(), 259u);
  EXPECT_EQ(Bytes(text.begin(), text.begin() + 3), Bytes({0x26, 0x01, 0x00}));

  EXPECT_EQ(paddedLength(3), 10u);
  EXPECT_EQ(paddedLength(10), 10u);
  EXPECT_EQ(paddedLength(11), 20u);
}

TEST(BtceEncoding, ValuesWithoutAnEncodingAndBrokenStructures) {
  SDP_DISC_ATTTR_VAL v = {};
  std::vector<uint8_t> out;
  struct Case {
    int type, len;
  } cases[] = {{ATTR_TYPE_INT, 3}, {ATTR_TYPE_TWO_COMP, 0}, {ATTR_TYPE_UUID, 8}, {7, 1}, {-1, 4}};
  for (const Case& c : cases) {
    v.elem[0].type = c.type;
    v.elem[0].len = c.len;
    EXPECT_FALSE(encodeElement(v, 0, false, out)) << c.type << "/" << c.len;
    EXPECT_TRUE(out.empty());
  }
  // Lengths and counts out of range are held to what the structure holds.
  v.elem[0].type = ATTR_TYPE_ARRAY;
  v.elem[0].len = 100000;
  ASSERT_TRUE(encodeElement(v, 0, false, out));
  EXPECT_EQ(out.size(), 3u + MAX_ATTR_LEN_OLD);
  v.elem[0].len = -5;
  ASSERT_TRUE(encodeElement(v, 0, false, out));
  EXPECT_EQ(out, std::vector<uint8_t>({0x25, 0}));
  v.num_elem = 1000;
  EXPECT_EQ(elementCount(v), MAX_SEQ_ENTRIES);
  v.num_elem = -1;
  EXPECT_EQ(elementCount(v), 0);
}
