// The Widcomm SDK substitute: notifications on the stack's threads, discovery records and the
// attribute-value structure the library reads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "BtSdkCE.h"
#include "vork/radio_control.h"

namespace {

template <typename F> bool eventually(F f) {
  for (int i = 0; i < 400; ++i) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return f();
}

struct Recorder : CBtIf {
  ~Recorder() override { StopNotifications(); }
  std::atomic<int> responded{0}, completed{0}, discovered{0}, status{-1};
  std::atomic<bool> foreignThread{false};
  std::thread::id creator = std::this_thread::get_id();
  std::string lastName;  // written on the stack's thread before `responded` counts
  UINT8 lastClass[3] = {};
  void note() {
    if (std::this_thread::get_id() != creator) foreignThread = true;
  }
  void OnDeviceResponded(BD_ADDR, DEV_CLASS deviceClass, BD_NAME name, BOOL) override {
    note();
    lastName = reinterpret_cast<char*>(name);
    std::memcpy(lastClass, deviceClass, 3);
    ++responded;
  }
  void OnInquiryComplete(BOOL, short) override { note(); ++completed; }
  void OnDiscoveryComplete() override { note(); ++discovered; }
  void OnStackStatusChange(STACK_STATUS s) override { note(); status = s; }
};

BD_ADDR meter = {0x00, 0x0A, 0x3A, 0x11, 0x22, 0x33};

const char* kAir = R"(local 00:0B:0D:00:00:01 "PDA"
inquiry complete 100
discovery complete 10
device 00:0A:3A:11:22:33 "Meter" class 1F0102 after 10 rssi 250
service
attribute 4 ( ( uuid16:0x0100 ) ( uuid16:0x0003 u8:5 ) )
attribute 1 uuid128:00001101-0000-1000-8000-00805F9B34FB
attribute 2 i16:-2
attribute 3 ( u8:1 u8:2 u8:3 u8:4 u8:5 u8:6 u8:7 u8:8 u8:9 u8:10 u8:11 u8:12 u8:13 u8:14 u8:15 u8:16 u8:17 u8:18 u8:19 u8:20 u8:21 u8:22 )
attribute 0x100 text:"0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
service
attribute 1 uuid32:0x00001101
device 00:0A:3A:44:55:66 "Printer"
)";

}  // namespace

TEST(BtSdk, LocalDeviceAndNotificationsOnStackThreads) {
  VorkRadio_Configure(kAir);
  Recorder stack;
  ASSERT_TRUE(stack.GetLocalDeviceInfo());
  EXPECT_EQ(stack.m_BdAddr[5], 0x01);
  BD_NAME name;
  ASSERT_TRUE(stack.GetLocalDeviceName(&name));
  EXPECT_STREQ(reinterpret_cast<char*>(name), "PDA");
  WCHAR version[255];
  EXPECT_TRUE(stack.GetBTWCEVersionInfo(version, 255));

  ASSERT_TRUE(stack.StartInquiry());
  EXPECT_FALSE(stack.StartInquiry()) << "one inquiry at a time";
  ASSERT_TRUE(eventually([&] { return stack.completed == 1; }));
  EXPECT_EQ(stack.responded, 1);
  EXPECT_EQ(stack.lastName, "Meter");
  EXPECT_EQ(stack.lastClass[0], 0x1F);
  EXPECT_TRUE(stack.foreignThread);
  ASSERT_TRUE(stack.StartInquiry()) << "a completed inquiry can be followed by another";
  stack.StopInquiry();

  VorkRadio_StackStatus(DEVST_ERROR);
  EXPECT_EQ(stack.status, DEVST_ERROR);
}

TEST(BtSdk, DiscoveryRecordsAndAttributeValues) {
  VorkRadio_Configure(kAir);
  Recorder stack;
  ASSERT_TRUE(stack.StartDiscovery(meter, nullptr));
  ASSERT_TRUE(eventually([&] { return stack.discovered == 1; }));
  CSdpDiscoveryRec records[32];
  ASSERT_EQ(stack.ReadDiscoveryRecords(meter, 32, records), 2);
  EXPECT_EQ(stack.ReadDiscoveryRecords(meter, 1, records), 1);
  BD_ADDR other = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(stack.ReadDiscoveryRecords(other, 32, records), 0);

  SDP_DISC_ATTTR_VAL value;
  EXPECT_FALSE(records[0].FindAttribute(5, &value));
  ASSERT_TRUE(records[0].FindAttribute(4, &value));
  ASSERT_EQ(value.num_elem, 3);
  EXPECT_EQ(value.elem[0].type, ATTR_TYPE_UUID);
  EXPECT_EQ(value.elem[0].len, 2);
  EXPECT_EQ(value.elem[0].val.array[0], 0x00);  // little-endian 0x0100
  EXPECT_EQ(value.elem[0].val.array[1], 0x01);
  EXPECT_EQ(value.elem[1].val.u16, 0x0003);
  EXPECT_EQ(value.elem[2].type, ATTR_TYPE_INT);
  EXPECT_EQ(value.elem[2].val.u8, 5);

  ASSERT_TRUE(records[0].FindAttribute(1, &value));
  EXPECT_EQ(value.elem[0].len, 16);
  EXPECT_EQ(value.elem[0].val.array[2], 0x11);  // byte string, as written
  ASSERT_TRUE(records[0].FindAttribute(2, &value));
  EXPECT_EQ(value.elem[0].type, ATTR_TYPE_TWO_COMP);
  EXPECT_EQ(value.elem[0].val.u16, 0xFFFE);
  // More than the structure holds is cut, never overrun.
  ASSERT_TRUE(records[0].FindAttribute(3, &value));
  EXPECT_EQ(value.num_elem, MAX_SEQ_ENTRIES);
  ASSERT_TRUE(records[0].FindAttribute(0x100, &value));
  EXPECT_EQ(value.elem[0].type, ATTR_TYPE_ARRAY);
  EXPECT_EQ(value.elem[0].len, MAX_ATTR_LEN_OLD);

  ASSERT_TRUE(records[1].FindAttribute(1, &value));
  EXPECT_EQ(value.elem[0].len, 4);
  EXPECT_EQ(value.elem[0].val.u32, 0x1101u);
}

TEST(BtSdk, FailingDiscoveryAndConnectionStatistics) {
  VorkRadio_Configure(std::string(kAir).append("discovery fail\n").c_str());
  Recorder stack;
  EXPECT_FALSE(stack.StartDiscovery(meter, nullptr));
  tBT_CONN_STATS stats;
  ASSERT_TRUE(stack.GetConnectionStats(meter, &stats));
  EXPECT_EQ(stats.Rssi, 250);
  BD_ADDR printer = {0x00, 0x0A, 0x3A, 0x44, 0x55, 0x66};
  EXPECT_FALSE(stack.GetConnectionStats(printer, &stats)) << "no link";
}

TEST(BtSdk, DestroyingTheStackStopsItsActivities) {
  VorkRadio_Configure("inquiry never\ndiscovery never\ndevice 00:0A:3A:11:22:33 after 1 responses 100000 every 1\n");
  for (int i = 0; i < 5; ++i) {
    Recorder stack;
    ASSERT_TRUE(stack.StartInquiry());
    ASSERT_TRUE(stack.StartDiscovery(meter, nullptr));
    eventually([&] { return stack.responded > 0; });
  }
}
