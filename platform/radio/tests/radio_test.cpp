// The simulated air: its text form, the timing of inquiries and discoveries, status changes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "vork/control.h"
#include "vork/radio.h"
#include "vork/radio_control.h"

using namespace vork::radio;

namespace {

const char* kAir = R"(# a meter and a printer
local 00:0B:0D:00:00:01 "My PDA"
inquiry complete 400
discovery complete 20
device 00:0A:3A:11:22:33 "Meter 7" class 1F0102 after 50 responses 3 every 40 rssi 250
service
attribute 0x0004 ( ( uuid16:0x0100 ) ( uuid16:0x0003 u8:3 ) )
attribute 0x0001 ( uuid16:0x1101 )
attribute 0x0100 text:"Serial \"Port\""
device 00:0A:3A:44:55:66 name Printer after 100
)";

Address address(std::initializer_list<uint8_t> bytes) {
  Address a;
  std::copy(bytes.begin(), bytes.end(), a.bytes);
  return a;
}

// Waits (host time) until the predicate holds or two seconds pass.
template <typename F> bool eventually(F f) {
  for (int i = 0; i < 400; ++i) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return f();
}

}  // namespace

TEST(RadioAir, ReadsDevicesRecordsAndSettings) {
  std::vector<std::string> problems;
  Air air = parseAir(kAir, &problems);
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_EQ(air.localName, "My PDA");
  EXPECT_EQ(air.inquiryMs, 400u);
  ASSERT_EQ(air.devices.size(), 2u);
  const Device& meter = air.devices[0];
  EXPECT_EQ(meter.name, "Meter 7");
  EXPECT_EQ(meter.deviceClass[0], 0x1F);
  EXPECT_EQ(meter.deviceClass[2], 0x02);
  EXPECT_EQ(meter.responses, 3u);
  EXPECT_TRUE(meter.linked);
  EXPECT_EQ(meter.rssi, 250);
  EXPECT_FALSE(air.devices[1].linked);
  EXPECT_EQ(air.devices[1].name, "Printer");
  ASSERT_EQ(meter.records.size(), 1u);
  const ServiceRecord& record = *meter.records[0];
  // Sorted by id whatever the order of the lines.
  ASSERT_EQ(record.attributes.size(), 3u);
  EXPECT_EQ(record.attributes[0].id, 1);
  EXPECT_EQ(record.find(0x100)->value.bytes, std::vector<uint8_t>({'S', 'e', 'r', 'i', 'a', 'l', ' ', '"', 'P',
                                                                    'o', 'r', 't', '"'}));
  const Element& protocols = record.find(4)->value;
  ASSERT_EQ(protocols.items.size(), 2u);
  EXPECT_EQ(protocols.items[1].items[0].number, 3u);
  EXPECT_EQ(protocols.items[1].items[1].type, ElementType::UInt);
  EXPECT_EQ(record.find(2), nullptr);
}

TEST(RadioAir, ReportsBadLinesAndKeepsTheRest) {
  struct Case {
    const char* line;
  } cases[] = {
      {"device 00:0A:3A:11:22 \"Short\""}, {"device 00:0A:3A:11:22:33 class 1F01"},
      {"attribute 1 u8:1"},  // no service yet
      {"inquiry maybe"},     {"frobnicate"},
      {"device 00:0A:3A:11:22:34 \"Open"}, {"status sideways"},
  };
  for (const Case& c : cases) {
    std::string text = std::string("device 00:0A:3A:00:00:01 \"Good\"\n") + c.line + "\n";
    std::vector<std::string> problems;
    Air air = parseAir(text, &problems);
    ASSERT_EQ(problems.size(), 1u) << c.line;
    EXPECT_EQ(problems[0].rfind("line 2: ", 0), 0u) << problems[0];
    EXPECT_EQ(air.devices.size(), 1u) << c.line;
  }
  std::vector<std::string> problems;
  Air air = parseAir("device 00:0A:3A:00:00:01\nservice\nattribute 9 u8:1\nattribute 7 ( u8:1\nattribute 9 u16:2\n"
                     "attribute 8 uuid128:00001101-0000-1000-8000-00805F9B34F\n", &problems);
  EXPECT_EQ(problems.size(), 3u);
  EXPECT_EQ(air.devices[0].records[0]->attributes.size(), 1u);
}

TEST(RadioInquiry, DeliversRepeatedResponsesAndCompletes) {
  VorkRadio_Configure(kAir);
  std::mutex lock;
  std::vector<std::string> names;
  std::atomic<int> completions{0}, counted{-1};
  std::thread::id caller = std::this_thread::get_id(), callbackThread;
  Activity* inquiry = startInquiry({[&](const Device& device) {
                                      std::lock_guard<std::mutex> guard(lock);
                                      names.push_back(device.name);
                                      callbackThread = std::this_thread::get_id();
                                    },
                                    [&](bool success, int responses) {
                                      EXPECT_TRUE(success);
                                      counted = responses;
                                      ++completions;
                                    }});
  ASSERT_NE(inquiry, nullptr);
  ASSERT_TRUE(eventually([&] { return completions == 1; }));
  stop(inquiry);
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(names, std::vector<std::string>({"Meter 7", "Meter 7", "Printer", "Meter 7"}));
  EXPECT_EQ(counted, 2);
  EXPECT_NE(callbackThread, caller);
}

TEST(RadioInquiry, FailingAndNeverEndingInquiries) {
  VorkRadio_Configure("inquiry fail\n");
  EXPECT_EQ(startInquiry({}), nullptr);

  VorkRadio_Configure("inquiry never\ndevice 00:0A:3A:00:00:01 after 10 responses 1000 every 1\n");
  std::atomic<int> responses{0}, completions{0};
  Activity* inquiry = startInquiry({[&](const Device&) { ++responses; }, [&](bool, int) { ++completions; }});
  ASSERT_TRUE(eventually([&] { return responses > 3; }));
  stop(inquiry);
  int after = responses;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(responses, after) << "no callback after stop";
  EXPECT_EQ(completions, 0);
}

TEST(RadioDiscovery, FindsTheRecordsOfTheDevice) {
  VorkRadio_Configure(kAir);
  std::atomic<int> found{-1};
  Activity* discovery = startDiscovery(address({0x00, 0x0A, 0x3A, 0x11, 0x22, 0x33}),
                                       [&](const Records& records) { found = static_cast<int>(records.size()); });
  ASSERT_TRUE(eventually([&] { return found == 1; }));
  stop(discovery);
  found = -1;
  discovery = startDiscovery(address({1, 2, 3, 4, 5, 6}), [&](const Records& r) { found = static_cast<int>(r.size()); });
  ASSERT_TRUE(eventually([&] { return found == 0; }));
  stop(discovery);
  VorkRadio_Configure("discovery fail\n");
  EXPECT_EQ(startDiscovery(address({1, 2, 3, 4, 5, 6}), [](const Records&) {}), nullptr);
}

TEST(RadioStatus, ChangesReachSubscribersOnTheStatusThread) {
  VorkRadio_Configure("");
  std::atomic<int> last{-1};
  std::atomic<bool> otherThread{false};
  auto caller = std::this_thread::get_id();
  int id = subscribeStatus([&](int status) {
    last = status;
    otherThread = std::this_thread::get_id() != caller;
  });
  VorkRadio_StackStatus(StatusDown);
  EXPECT_EQ(last, StatusDown);
  EXPECT_TRUE(otherThread);
  // A status line that differs from the current status is a change too.
  VorkRadio_Configure("status error\n");
  ASSERT_TRUE(eventually([&] { return last == StatusError; }));
  unsubscribeStatus(id);
  VorkRadio_StackStatus(StatusUp);
  EXPECT_EQ(last, StatusError);
}

TEST(RadioFile, TheAirFileIsReadAgainWhenItChanges) {
  char folder[] = "/tmp/radio-test-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  VorkControl_SetDeviceRoot(folder);
  VorkRadio_UseFile();
  EXPECT_TRUE(currentAir()->devices.empty());
  std::string dir = std::string(folder) + "/bluetooth";
  ASSERT_EQ(system(("mkdir -p " + dir).c_str()), 0);
  std::atomic<int> last{-1};
  int id = subscribeStatus([&](int status) { last = status; });
  {
    std::ofstream(dir + "/air.txt") << "device 00:0A:3A:00:00:01 \"One\"\n";
  }
  EXPECT_EQ(currentAir()->devices.size(), 1u);
  {
    std::ofstream(dir + "/air.txt") << "device 00:0A:3A:00:00:01 \"One\"\ndevice 00:0A:3A:00:00:02 \"Two\"\nstatus unloaded\n";
  }
  // The status thread watches the file while stacks listen.
  EXPECT_TRUE(eventually([&] { return last == StatusUnloaded; }));
  EXPECT_EQ(currentAir()->devices.size(), 2u);
  unsubscribeStatus(id);
  ASSERT_EQ(system(("rm -rf " + std::string(folder)).c_str()), 0);
  VorkRadio_Configure("");
}
